#include "NorvListModel.h"

#include <QPainter>
#include <QPixmap>
#include <algorithm>

#include "norv/NorvTLItemList.h"
#include "norv/NorvTlgItem.h"

namespace {

QColor ColorOf(DWORD value) {
  if (value == NORV_DEFAULT_COLOR) return {};
  return QColor(static_cast<int>(value & 0xFF), static_cast<int>((value >> 8) & 0xFF),
                static_cast<int>((value >> 16) & 0xFF));
}

// UTF-32 (wchar_t here) to UTF-16 and back; code points above the basic
// plane become surrogate pairs, invalid values the replacement character.
void AppendUtf16(std::u16string& out, const NorvString& text) {
  for (wchar_t wc : text) {
    auto c = static_cast<uint32_t>(wc);
    if (c < 0x10000) {
      out.push_back(static_cast<char16_t>(c));
    } else if (c <= 0x10FFFF) {
      c -= 0x10000;
      out.push_back(static_cast<char16_t>(0xD800 + (c >> 10)));
      out.push_back(static_cast<char16_t>(0xDC00 + (c & 0x3FF)));
    } else {
      out.push_back(u'\xFFFD');
    }
  }
}

NorvString FromUtf16(const char16_t* p, size_t n) {
  NorvString out;
  out.reserve(n);
  for (size_t i = 0; i < n; ++i) {
    uint32_t c = p[i];
    if (c >= 0xD800 && c < 0xDC00 && i + 1 < n && p[i + 1] >= 0xDC00 && p[i + 1] < 0xE000) {
      c = 0x10000 + ((c - 0xD800) << 10) + (p[i + 1] - 0xDC00);
      ++i;
    }
    out.push_back(static_cast<wchar_t>(c));
  }
  return out;
}

}  // namespace

CNorvListModel::CNorvListModel(QObject* parent) : QAbstractTableModel(parent) {}
CNorvListModel::~CNorvListModel() = default;

void CNorvListModel::SetColumns(const NorvStringList& names, const std::vector<int>& formats,
                                const std::vector<int>& visible) {
  beginResetModel();
  m_names = names;
  m_formats = formats;
  m_visible.clear();
  for (int n : visible)
    if (n >= 0 && n < ColumnCount()) m_visible.push_back(n);
  m_headerFlags.assign(m_visible.size(), 0);
  ReleaseRows();
  endResetModel();
}

int CNorvListModel::VisibleColumn(int v) const {
  return v >= 0 && v < VisibleCount() ? m_visible[static_cast<size_t>(v)] : -1;
}

int CNorvListModel::VisiblePosition(int n) const {
  for (size_t v = 0; v < m_visible.size(); ++v)
    if (m_visible[v] == n) return static_cast<int>(v);
  return -1;
}

DWORD CNorvListModel::HeaderFlags(int v) const {
  return v >= 0 && v < VisibleCount() ? m_headerFlags[static_cast<size_t>(v)] : 0;
}

void CNorvListModel::SetHeaderFlags(int v, DWORD flags) {
  if (v < 0 || v >= VisibleCount() || m_headerFlags[static_cast<size_t>(v)] == flags) return;
  m_headerFlags[static_cast<size_t>(v)] = flags;
  emit headerDataChanged(Qt::Horizontal, v, v);
}

void CNorvListModel::BeginFill(int hint) {
  if (hint > 0) {
    m_rows.reserve(m_rows.size() + static_cast<size_t>(hint));
    m_cells.reserve(m_cells.size() + static_cast<size_t>(hint) * m_names.size());
  }
  // Filling an empty list is one reset; adding to rows that are shown
  // announces each row.
  if (m_rows.empty() && !m_filling) {
    m_filling = true;
    beginResetModel();
  }
}

uint32_t CNorvListModel::StoreText(const NorvString& text) {
  const auto start = static_cast<uint32_t>(m_text.size());
  AppendUtf16(m_text, text);
  return start;
}

void CNorvListModel::AppendRow(CNorvTreeListItem* item, int image,
                               const std::vector<NorvString>& cells) {
  Row row{item, image, static_cast<uint32_t>(m_cells.size())};
  for (size_t n = 0; n < m_names.size(); ++n) {
    if (n < cells.size()) {
      const uint32_t start = StoreText(cells[n]);
      m_cells.push_back({start, static_cast<uint32_t>(m_text.size()) - start});
    } else {
      m_cells.push_back({0, 0});
    }
  }
  if (!m_filling) {
    beginInsertRows(QModelIndex(), RowCount(), RowCount());
    m_rows.push_back(row);
    endInsertRows();
  } else {
    m_rows.push_back(row);
  }
}

void CNorvListModel::EndFill() {
  if (!m_filling) return;
  m_filling = false;
  endResetModel();
}

void CNorvListModel::Clear() {
  const bool announce = !m_filling;
  if (announce) beginResetModel();
  ReleaseRows();
  if (announce) endResetModel();
}

void CNorvListModel::SetCheckable(bool checkable) {
  if (m_checkable == checkable) return;
  beginResetModel();
  m_checkable = checkable;
  if (!checkable) m_checked.clear();
  endResetModel();
}

void CNorvListModel::SetChecked(int row, bool checked) {
  CNorvTreeListItem* item = Item(row);
  if (item == nullptr || !m_checkable || IsChecked(item) == checked) return;
  if (checked)
    m_checked.insert(item);
  else
    m_checked.erase(item);
  emit dataChanged(index(row, 0), index(row, 0), {Qt::CheckStateRole});
}

void CNorvListModel::ReleaseRows() {
  m_checked.clear();
  // A list of a million rows gives its memory back when it goes.
  std::vector<Row>().swap(m_rows);
  std::vector<Cell>().swap(m_cells);
  std::u16string().swap(m_text);
  m_garbageCells = 0;
}

CNorvTreeListItem* CNorvListModel::Item(int row) const {
  return row >= 0 && row < RowCount() ? m_rows[static_cast<size_t>(row)].item : nullptr;
}

int CNorvListModel::Image(int row) const {
  return row >= 0 && row < RowCount() ? m_rows[static_cast<size_t>(row)].image : -1;
}

int CNorvListModel::FindRow(const CNorvTreeListItem* item, bool trustHandle) const {
  if (item == nullptr) return -1;
  if (trustHandle) {
    const int handle = item->GetListHandle();
    if (handle >= 0 && handle < RowCount() && m_rows[static_cast<size_t>(handle)].item == item)
      return handle;
  }
  for (size_t r = 0; r < m_rows.size(); ++r)
    if (m_rows[r].item == item) return static_cast<int>(r);
  return -1;
}

NorvString CNorvListModel::CellText(int row, int n) const {
  if (row < 0 || row >= RowCount() || n < 0 || n >= ColumnCount()) return {};
  const Cell& cell = m_cells[m_rows[static_cast<size_t>(row)].firstCell + static_cast<size_t>(n)];
  return FromUtf16(m_text.data() + cell.start, cell.length);
}

QString CNorvListModel::CellQString(int row, int n) const {
  if (row < 0 || row >= RowCount() || n < 0 || n >= ColumnCount()) return {};
  const Cell& cell = m_cells[m_rows[static_cast<size_t>(row)].firstCell + static_cast<size_t>(n)];
  return QString(reinterpret_cast<const QChar*>(m_text.data() + cell.start),
                 static_cast<qsizetype>(cell.length));
}

void CNorvListModel::SetRow(int row, int image, const std::vector<NorvString>& cells,
                            const std::vector<bool>& keep) {
  if (row < 0 || row >= RowCount()) return;
  Row& r = m_rows[static_cast<size_t>(row)];
  r.image = image;
  for (size_t n = 0; n < m_names.size() && n < cells.size(); ++n) {
    if (n < keep.size() && keep[n]) continue;
    const uint32_t start = StoreText(cells[n]);
    m_cells[r.firstCell + n] = {start, static_cast<uint32_t>(m_text.size()) - start};
  }
  emit dataChanged(index(row, 0), index(row, std::max(0, VisibleCount() - 1)));
  CompactIfWasteful();
}

void CNorvListModel::RemoveRow(int row) {
  if (row < 0 || row >= RowCount()) return;
  beginRemoveRows(QModelIndex(), row, row);
  m_checked.erase(m_rows[static_cast<size_t>(row)].item);
  m_rows.erase(m_rows.begin() + row);
  m_garbageCells += m_names.size();
  endRemoveRows();
  CompactIfWasteful();
}

int CNorvListModel::RemoveRowsNotIn(const std::vector<const CNorvTreeListItem*>& keepSorted) {
  int removed = 0;
  for (int row = RowCount() - 1; row >= 0; --row) {
    const CNorvTreeListItem* item = m_rows[static_cast<size_t>(row)].item;
    if (std::binary_search(keepSorted.begin(), keepSorted.end(), item)) continue;
    // Remove the run of rows that go, in one step.
    int first = row;
    while (first > 0 && !std::binary_search(keepSorted.begin(), keepSorted.end(),
                                            static_cast<const CNorvTreeListItem*>(
                                                m_rows[static_cast<size_t>(first - 1)].item)))
      --first;
    beginRemoveRows(QModelIndex(), first, row);
    for (int gone = first; gone <= row; ++gone)
      m_checked.erase(m_rows[static_cast<size_t>(gone)].item);
    m_rows.erase(m_rows.begin() + first, m_rows.begin() + row + 1);
    m_garbageCells += m_names.size() * static_cast<size_t>(row - first + 1);
    endRemoveRows();
    removed += row - first + 1;
    row = first;
  }
  CompactIfWasteful();
  return removed;
}

void CNorvListModel::UpdateListHandles() {
  for (size_t r = 0; r < m_rows.size(); ++r)
    if (m_rows[r].item != nullptr) m_rows[r].item->SetListHandle(static_cast<int>(r));
}

void CNorvListModel::CompactIfWasteful() {
  // Rows that went and texts that were replaced leave their cells behind;
  // rebuild the buffers once they hold more waste than use.
  const size_t used = m_rows.size() * m_names.size();
  if (m_cells.size() < 1024 || m_cells.size() <= 2 * used) return;
  std::vector<Cell> cells;
  cells.reserve(used);
  std::u16string text;
  for (Row& row : m_rows) {
    const auto first = static_cast<uint32_t>(cells.size());
    for (size_t n = 0; n < m_names.size(); ++n) {
      const Cell& cell = m_cells[row.firstCell + n];
      const auto start = static_cast<uint32_t>(text.size());
      text.append(m_text, cell.start, cell.length);
      cells.push_back({start, cell.length});
    }
    row.firstCell = first;
  }
  m_cells.swap(cells);
  m_text.swap(text);
  m_garbageCells = 0;
}

void CNorvListModel::SortRows(
    const std::function<bool(CNorvTreeListItem*, CNorvTreeListItem*)>& less) {
  const size_t count = m_rows.size();
  if (count < 2) return;
  // Bottom-up merge sort of row numbers. Each merge step takes every
  // element of both runs exactly once, whatever `less` answers, so a
  // comparison that is not a strict weak order gives some order of the
  // same rows but can never read outside them.
  std::vector<uint32_t> order(count);
  for (size_t i = 0; i < count; ++i) order[i] = static_cast<uint32_t>(i);
  std::vector<uint32_t> buffer(count);
  for (size_t width = 1; width < count; width *= 2) {
    for (size_t lo = 0; lo < count; lo += 2 * width) {
      const size_t mid = std::min(lo + width, count);
      const size_t hi = std::min(lo + 2 * width, count);
      size_t a = lo, b = mid, out = lo;
      if (mid < hi && !less(m_rows[order[mid]].item, m_rows[order[mid - 1]].item)) {
        // Already in order: nothing to merge.
        std::copy(order.begin() + static_cast<long>(lo), order.begin() + static_cast<long>(hi),
                  buffer.begin() + static_cast<long>(lo));
        continue;
      }
      while (a < mid && b < hi) {
        if (less(m_rows[order[b]].item, m_rows[order[a]].item))
          buffer[out++] = order[b++];
        else
          buffer[out++] = order[a++];
      }
      while (a < mid) buffer[out++] = order[a++];
      while (b < hi) buffer[out++] = order[b++];
    }
    order.swap(buffer);
  }
  emit layoutAboutToBeChanged({}, QAbstractItemModel::VerticalSortHint);
  std::vector<Row> rows(count);
  std::vector<int> newRowOf(count);
  for (size_t i = 0; i < count; ++i) {
    rows[i] = m_rows[order[i]];
    newRowOf[order[i]] = static_cast<int>(i);
  }
  m_rows.swap(rows);
  const QModelIndexList from = persistentIndexList();
  QModelIndexList to;
  to.reserve(from.size());
  for (const QModelIndex& index : from) {
    const int row = index.row();
    to.append(row >= 0 && static_cast<size_t>(row) < count
                  ? createIndex(newRowOf[static_cast<size_t>(row)], index.column())
                  : QModelIndex());
  }
  changePersistentIndexList(from, to);
  emit layoutChanged({}, QAbstractItemModel::VerticalSortHint);
}

void CNorvListModel::SetIconProvider(std::function<QIcon(int)> provider) {
  m_icons = std::move(provider);
}

void CNorvListModel::SetEditHandler(std::function<bool(int, const NorvString&)> handler) {
  m_edit = std::move(handler);
}

size_t CNorvListModel::MemoryUse() const {
  return m_rows.capacity() * sizeof(Row) + m_cells.capacity() * sizeof(Cell) +
         m_text.capacity() * sizeof(char16_t);
}

int CNorvListModel::rowCount(const QModelIndex& parent) const {
  return parent.isValid() ? 0 : RowCount();
}

int CNorvListModel::columnCount(const QModelIndex& parent) const {
  return parent.isValid() ? 0 : VisibleCount();
}

QVariant CNorvListModel::data(const QModelIndex& index, int role) const {
  if (!index.isValid() || index.row() >= RowCount()) return {};
  const int n = VisibleColumn(index.column());
  switch (role) {
    case Qt::DisplayRole:
    case Qt::EditRole:
    case Qt::ToolTipRole:
      if (role == Qt::ToolTipRole && index.column() != 0) return {};
      return CellQString(index.row(), n);
    case Qt::DecorationRole:
      if (index.column() != 0 || !m_icons) return {};
      return m_icons(Image(index.row()));
    case Qt::TextAlignmentRole: {
      const int format = n >= 0 && static_cast<size_t>(n) < m_formats.size()
                             ? m_formats[static_cast<size_t>(n)]
                             : 0;
      const Qt::Alignment horizontal = format == 1   ? Qt::AlignRight
                                       : format == 2 ? Qt::AlignHCenter
                                                     : Qt::AlignLeft;
      return QVariant::fromValue(horizontal | Qt::AlignVCenter);
    }
    case Qt::CheckStateRole:
      if (!m_checkable || index.column() != 0) return {};
      return IsChecked(Item(index.row())) ? Qt::Checked : Qt::Unchecked;
    case ItemRole:
      return QVariant::fromValue(static_cast<void*>(Item(index.row())));
    case ImageRole:
      return Image(index.row());
    default:
      return {};
  }
}

bool CNorvListModel::setData(const QModelIndex& index, const QVariant& value, int role) {
  if (role == Qt::CheckStateRole && index.isValid() && index.column() == 0 && m_checkable) {
    SetChecked(index.row(), value.toInt() == Qt::Checked);
    return true;
  }
  if (role != Qt::EditRole || !index.isValid() || index.column() != 0 || !m_edit) return false;
  const NorvString text = value.toString().toStdWString();
  if (!m_edit(index.row(), text)) return false;
  const int n = VisibleColumn(0);
  std::vector<NorvString> cells(m_names.size());
  std::vector<bool> keep(m_names.size(), true);
  if (n >= 0) {
    cells[static_cast<size_t>(n)] = text;
    keep[static_cast<size_t>(n)] = false;
  }
  SetRow(index.row(), Image(index.row()), cells, keep);
  return true;
}

QVariant CNorvListModel::headerData(int section, Qt::Orientation orientation, int role) const {
  if (orientation != Qt::Horizontal) return {};
  const int n = VisibleColumn(section);
  if (n < 0) return {};
  if (role == Qt::DisplayRole) return QString::fromStdWString(m_names[static_cast<size_t>(n)]);
  if (role == Qt::TextAlignmentRole) {
    const int format =
        static_cast<size_t>(n) < m_formats.size() ? m_formats[static_cast<size_t>(n)] : 0;
    return QVariant::fromValue((format == 1   ? Qt::AlignRight
                                : format == 2 ? Qt::AlignHCenter
                                              : Qt::AlignLeft) |
                               Qt::AlignVCenter);
  }
  if (role == Qt::DecorationRole && (HeaderFlags(section) & 4) != 0) {
    // A column filter applies: a small funnel.
    static const QIcon funnel = [] {
      QPixmap pixmap(10, 10);
      pixmap.fill(Qt::transparent);
      QPainter painter(&pixmap);
      painter.setRenderHint(QPainter::Antialiasing);
      painter.setBrush(QColor(60, 60, 60));
      painter.setPen(Qt::NoPen);
      const QPointF points[] = {{0, 1}, {10, 1}, {6, 5}, {6, 10}, {4, 9}, {4, 5}};
      painter.drawPolygon(points, 6);
      return QIcon(pixmap);
    }();
    return funnel;
  }
  return {};
}

Qt::ItemFlags CNorvListModel::flags(const QModelIndex& index) const {
  if (!index.isValid()) return Qt::ItemIsDropEnabled;
  Qt::ItemFlags flags = Qt::ItemIsEnabled | Qt::ItemIsSelectable | Qt::ItemIsDragEnabled |
                        Qt::ItemIsDropEnabled | Qt::ItemNeverHasChildren;
  if (m_editable && index.column() == 0) flags |= Qt::ItemIsEditable;
  if (m_checkable && index.column() == 0) flags |= Qt::ItemIsUserCheckable;
  return flags;
}

QStringList CNorvListModel::mimeTypes() const { return {}; }

QItemSelection CNorvListModel::RowSelection(const CNorvTLItemList* items, int* first) const {
  QItemSelection selection;
  *first = -1;
  if (items == nullptr) return selection;
  for (CNorvTreeListItem* item : *items) {
    const int row = FindRow(item);
    if (row < 0) continue;
    selection.select(index(row, 0), index(row, std::max(0, VisibleCount() - 1)));
    if (*first < 0) *first = row;
  }
  return selection;
}

// ===========================================================================
// CNorvListDelegate
// ===========================================================================

CNorvListDelegate::CNorvListDelegate(const CNorvListModel* model, const NorvUIntArray* columnIds,
                                     QObject* parent)
    : QStyledItemDelegate(parent), m_model(model), m_columnIds(columnIds) {}

const QFont* CNorvListDelegate::EmphasisFont(bool bold, bool italic, const QFont* normal,
                                             const QFont* boldFont, const QFont* italicFont,
                                             const QFont* boldItalicFont) {
  if (bold && italic) return boldItalicFont;
  if (bold) return boldFont;
  if (italic) return italicFont;
  return normal;
}

bool CNorvListDelegate::PrepareCell(QStyleOptionViewItem*, const QModelIndex&,
                                    CNorvTreeListItem*) const {
  return true;
}

void CNorvListDelegate::initStyleOption(QStyleOptionViewItem* option,
                                        const QModelIndex& index) const {
  QStyledItemDelegate::initStyleOption(option, index);
  CNorvTreeListItem* item = m_model->Item(index.row());
  if (!PrepareCell(option, index, item) || item == nullptr) return;
  const int n = m_model->VisibleColumn(index.column());
  const UINT id = n >= 0 && static_cast<size_t>(n) < m_columnIds->size()
                      ? (*m_columnIds)[static_cast<size_t>(n)]
                      : 0;
  treeListViewInfo info;
  treeListViewInfo* p = &info;
  {
    CNorvItemCallScope scope(item);
    item->GetListViewInfo(p, NORV_TLVI_COLORS, static_cast<int>(id));
  }
  if (p == nullptr) p = &info;
  if (const QColor text = ColorOf(p->crText); text.isValid())
    option->palette.setColor(QPalette::Text, text);
  if (const QColor background = ColorOf(p->crBackground); background.isValid())
    option->backgroundBrush = background;
  if (const QFont* font = CellFont(p->bBold != FALSE, p->bItalic != FALSE)) option->font = *font;
}
