#include "ColumnDialogs.h"

#include <QApplication>
#include <QComboBox>
#include <QCursor>
#include <QDialogButtonBox>
#include <QEvent>
#include <QFocusEvent>
#include <QGridLayout>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QPainter>
#include <QPushButton>
#include <QTextOption>
#include <QToolButton>
#include <QVBoxLayout>
#include <algorithm>
#include <cstdlib>

#include "NorvQtMenu.h"
#include "filter/NorvFilterText.h"
#include "norv/NorvHostStrings.h"
#include "norv/NorvMenu.h"
#include "norv/NorvMessageBox.h"
#include "norv/Trace.h"
#include "platform/resources.h"
#include "platform/text.h"

namespace {

QString Q(const NorvString& s) { return QString::fromStdWString(s); }
NorvString W(const QString& s) { return s.toStdWString(); }

constexpr int kColumnRole = Qt::UserRole;  // a settings line's column number
constexpr UINT kColumnMenuFirst = 39101;   // column menu: 39101 + column number

// Draws a line as a check list line with its tabs expanded at the list's
// stops: grey text when disabled, highlight colours when selected.
class TabLineDelegate : public QStyledItemDelegate {
 public:
  explicit TabLineDelegate(CTabCheckListBox* list) : QStyledItemDelegate(list), m_list(list) {}

  void paint(QPainter* painter, const QStyleOptionViewItem& option,
             const QModelIndex& index) const override {
    QStyleOptionViewItem opt = option;
    initStyleOption(&opt, index);
    const QString text = opt.text;
    opt.text.clear();
    const QWidget* widget = opt.widget;
    QStyle* style = widget != nullptr ? widget->style() : QApplication::style();
    style->drawControl(QStyle::CE_ItemViewItem, &opt, painter, widget);
    opt.text = text;
    const QRect rect = style->subElementRect(QStyle::SE_ItemViewItemText, &opt, widget);

    QTextOption textOption(Qt::AlignLeft | Qt::AlignVCenter);
    textOption.setWrapMode(QTextOption::NoWrap);
    QList<qreal> stops;
    for (int stop : m_list->TabStopsInPixels()) stops.append(stop);
    if (!stops.isEmpty()) textOption.setTabArray(stops);
    painter->save();
    painter->setFont(opt.font);
    if (!(opt.state & QStyle::State_Enabled))
      painter->setPen(QColor(128, 128, 128));
    else if (opt.state & QStyle::State_Selected)
      painter->setPen(opt.palette.color(QPalette::HighlightedText));
    else
      painter->setPen(opt.palette.color(QPalette::Text));
    painter->drawText(QRectF(rect), text, textOption);
    painter->restore();
  }

 private:
  CTabCheckListBox* m_list;
};

// Splits a filter line at its first two tabs.
bool SplitFilterLine(const QString& line, QString& column, QString& mode, QString& pattern) {
  const int first = line.indexOf(QLatin1Char('\t'));
  if (first < 0) return false;
  const int second = line.indexOf(QLatin1Char('\t'), first + 1);
  if (second < 0) return false;
  column = line.left(first);
  mode = line.mid(first + 1, second - first - 1);
  pattern = line.mid(second + 1);
  return true;
}

// The filter dialog's texts, built in where a host has none.
NorvString Text(UINT id, const wchar_t* fallback) {
  NorvString text = plat::LoadString(id);
  return text.empty() ? NorvString(fallback) : text;
}

}  // namespace

// ===========================================================================
// CTabCheckListBox
// ===========================================================================

CTabCheckListBox::CTabCheckListBox(QWidget* parent) : QListWidget(parent) {
  setItemDelegate(new TabLineDelegate(this));
  setUniformItemSizes(true);
}

BOOL CTabCheckListBox::SetTabStops(int count, const int* stops) {
  if (count < 0 || (count > 0 && stops == nullptr)) return FALSE;
  int average = fontMetrics().averageCharWidth();
  if (average <= 0) {
    int vertical = 0;
    CNorvDialog::GetFontUnits(font(), average, vertical);
  }
  std::vector<int> pixels;
  for (int i = 0; i < count; ++i) {
    if (i > 0 && stops[i] <= stops[i - 1]) return FALSE;
    pixels.push_back(stops[i] * average / 4);
  }
  m_stops = std::move(pixels);
  viewport()->update();
  return TRUE;
}

int CTabCheckListBox::AddLine(const NorvString& text, BOOL checked) {
  auto* line = new QListWidgetItem(Q(text), this);
  line->setFlags(line->flags() | Qt::ItemIsUserCheckable);
  line->setCheckState(checked ? Qt::Checked : Qt::Unchecked);
  return row(line);
}

NorvString CTabCheckListBox::GetLineText(int index) const {
  const QListWidgetItem* line = item(index);
  return line != nullptr ? W(line->text()) : NorvString();
}

BOOL CTabCheckListBox::GetCheck(int index) const {
  const QListWidgetItem* line = item(index);
  return line != nullptr && line->checkState() == Qt::Checked ? TRUE : FALSE;
}

void CTabCheckListBox::SetCheck(int index, BOOL checked) {
  if (QListWidgetItem* line = item(index))
    line->setCheckState(checked ? Qt::Checked : Qt::Unchecked);
}

// ===========================================================================
// CColumnFilter
// ===========================================================================

CColumnFilter::CColumnFilter(const NorvStringList& names, const NorvUIntArray& ids,
                             NorvString& filterText, QWidget* parent)
    : CNorvDialog(IDD, parent), m_names(names), m_ids(ids), m_filterText(filterText) {
  // Only columns with both a name and an id.
  const size_t n = std::min(m_names.size(), m_ids.size());
  m_names.resize(n);
  m_ids.resize(n);
  Build();
}

CColumnFilter::~CColumnFilter() = default;

NorvString CColumnFilter::ModeText(UINT mode) {
  switch (mode) {
    case 0:
      return Text(IDS_NORV_FILTER_MATCHES, L"Matches pattern");
    case 1:
      return Text(IDS_NORV_FILTER_DOES_NOT_MATCH, L"Does not match pattern");
    case 2:
      return Text(IDS_NORV_FILTER_REGEX, L"Contains regular expression");
    default:
      return NorvString();
  }
}

void CColumnFilter::Build() {
  setWindowTitle(tr("Column Filter"));
  auto* layout = new QGridLayout(this);

  m_list = new CTabCheckListBox(this);
  m_list->setObjectName(QStringLiteral("605"));
  m_list->setSelectionMode(QAbstractItemView::SingleSelection);
  layout->addWidget(m_list, 0, 0, 1, 4);

  m_edit = new QPushButton(tr("&Edit"), this);
  m_edit->setObjectName(QStringLiteral("610"));
  m_clear = new QPushButton(tr("C&lear"), this);
  m_clear->setObjectName(QStringLiteral("611"));
  auto* listButtons = new QVBoxLayout;
  listButtons->addWidget(m_edit);
  listButtons->addWidget(m_clear);
  listButtons->addStretch();
  layout->addLayout(listButtons, 0, 4);

  auto* columnLabel = new QLabel(tr("&Column:"), this);
  layout->addWidget(columnLabel, 1, 0);
  m_column = new QLineEdit(this);
  columnLabel->setBuddy(m_column);
  m_column->setObjectName(QStringLiteral("607"));
  m_columnButton = new QToolButton(this);
  m_columnButton->setObjectName(QStringLiteral("606"));
  m_columnButton->setArrowType(Qt::DownArrow);
  auto* columnRow = new QHBoxLayout;
  columnRow->setSpacing(0);
  columnRow->addWidget(m_column);
  columnRow->addWidget(m_columnButton);
  layout->addLayout(columnRow, 2, 0);

  auto* modeLabel = new QLabel(tr("&Mode:"), this);
  layout->addWidget(modeLabel, 1, 1);
  m_mode = new QComboBox(this);
  modeLabel->setBuddy(m_mode);
  m_mode->setObjectName(QStringLiteral("614"));
  layout->addWidget(m_mode, 2, 1);

  auto* patternLabel = new QLabel(tr("&Pattern:"), this);
  layout->addWidget(patternLabel, 1, 2);
  m_pattern = new QLineEdit(this);
  patternLabel->setBuddy(m_pattern);
  m_pattern->setObjectName(QStringLiteral("608"));
  m_expression = new QToolButton(this);
  m_expression->setObjectName(QStringLiteral("618"));
  m_expression->setText(QStringLiteral(">"));
  auto* patternRow = new QHBoxLayout;
  patternRow->setSpacing(0);
  patternRow->addWidget(m_pattern);
  patternRow->addWidget(m_expression);
  layout->addLayout(patternRow, 2, 2, 1, 2);

  m_add = new QPushButton(tr("&Add"), this);
  m_add->setObjectName(QStringLiteral("609"));
  layout->addWidget(m_add, 2, 4);

  m_ok = new QPushButton(tr("OK"), this);
  m_cancel = new QPushButton(tr("Cancel"), this);
  auto* buttons = new QDialogButtonBox(this);
  buttons->addButton(m_ok, QDialogButtonBox::AcceptRole);
  buttons->addButton(m_cancel, QDialogButtonBox::RejectRole);
  layout->addWidget(buttons, 3, 0, 1, 5);
  layout->setColumnStretch(0, 2);
  layout->setColumnStretch(1, 2);
  layout->setColumnStretch(2, 3);
  for (QPushButton* b : {m_edit, m_clear, m_add, m_cancel}) b->setAutoDefault(false);
  m_ok->setDefault(true);

  connect(m_ok, &QPushButton::clicked, this, &CColumnFilter::accept);
  connect(m_cancel, &QPushButton::clicked, this, &CNorvDialog::reject);
  connect(m_add, &QPushButton::clicked, this, &CColumnFilter::OnAdd);
  connect(m_edit, &QPushButton::clicked, this, &CColumnFilter::OnEdit);
  connect(m_clear, &QPushButton::clicked, this, &CColumnFilter::OnClear);
  connect(m_columnButton, &QToolButton::clicked, this, &CColumnFilter::ShowColumnMenu);
  connect(m_expression, &QToolButton::clicked, this, &CColumnFilter::ShowExpressionMenu);
  connect(m_column, &QLineEdit::textChanged, this, [this] { UpdateColumnState(); });
  connect(m_mode, &QComboBox::currentIndexChanged, this, [this] { UpdateModeState(); });
  connect(m_pattern, &QLineEdit::textChanged, this, [this] { UpdatePatternState(); });
  connect(m_list, &QListWidget::itemSelectionChanged, this, [this] { UpdateListButtons(); });
  connect(m_list, &QListWidget::itemDoubleClicked, this, [this] { OnEdit(); });
  m_mode->installEventFilter(this);
}

BOOL CColumnFilter::OnInitDialog() {
  CNorvDialog::OnInitDialog();
  const int stops[] = {60, 120};
  m_list->SetTabStops(2, stops);
  m_mode->clear();
  for (UINT mode = 0; mode <= 2; ++mode) m_mode->addItem(Q(ModeText(mode)));
  m_mode->setCurrentIndex(-1);

  std::string error;
  const std::vector<NorvFilterRecord> records = NorvParseFilterRecords(m_filterText, &error);
  if (!error.empty())
    NORV_BASE_TRACE(2, 0, L"CColumnFilter: filter text breaks off: " + plat::FromUtf8(error));
  for (const NorvFilterRecord& record : records) {
    const auto at = std::find(m_ids.begin(), m_ids.end(), record.columnId);
    if (record.mode > 2 || at == m_ids.end()) {
      NORV_BASE_TRACE(3, 0,
                      NorvFormatString(L"CColumnFilter: filter on column %u, mode %u dropped",
                                       record.columnId, record.mode));
      continue;
    }
    const NorvString& name = m_names[static_cast<size_t>(at - m_ids.begin())];
    m_list->AddLine(name + L"\t" + ModeText(record.mode) + L"\t" + record.pattern,
                    record.enabledToken == L"1" ? TRUE : FALSE);
  }
  UpdateColumnState();
  UpdatePatternState();
  UpdateListButtons();
  m_expression->setEnabled(false);
  m_column->setFocus();
  return TRUE;
}

int CColumnFilter::FindColumn(const NorvString& name) const {
  const auto at = std::find(m_names.begin(), m_names.end(), name);
  return at == m_names.end() ? -1 : static_cast<int>(at - m_names.begin());
}

void CColumnFilter::UpdateColumnState() {
  if (m_column->text().isEmpty()) {
    m_mode->setCurrentIndex(-1);
    m_mode->setEnabled(false);
    m_pattern->setEnabled(false);
    m_expression->setEnabled(false);
  } else {
    m_mode->setEnabled(true);
  }
}

void CColumnFilter::UpdateModeState() {
  const int mode = m_mode->currentIndex();
  m_pattern->setEnabled(mode >= 0);
  m_expression->setEnabled(mode == 2);
}

void CColumnFilter::UpdatePatternState() {
  const bool pending = !m_pattern->text().isEmpty();
  m_add->setEnabled(pending);
  m_add->setDefault(pending);
  m_ok->setDefault(!pending);
}

void CColumnFilter::UpdateListButtons() {
  m_edit->setEnabled(!m_list->selectedItems().isEmpty());
  m_clear->setEnabled(m_list->count() > 0);
}

bool CColumnFilter::eventFilter(QObject* watched, QEvent* event) {
  if (watched == m_mode && event->type() == QEvent::FocusIn) OnModeFocus();
  return CNorvDialog::eventFilter(watched, event);
}

BOOL CColumnFilter::OnModeFocus() {
  if (m_checkingColumn) return FALSE;
  if (FindColumn(W(m_column->text())) >= 0) {
    if (m_mode->currentIndex() < 0) m_mode->setCurrentIndex(0);
    m_pattern->setEnabled(true);
    return TRUE;
  }
  // Not one of the columns: back to the column field.
  m_checkingColumn = true;
  m_column->selectAll();
  m_column->setFocus();
  NorvAppMessageBox(Text(IDS_NORV_FILTER_NO_SUCH_COLUMN, L"There is no column of that name."),
                    MB_OK | MB_ICONEXCLAMATION);
  m_checkingColumn = false;
  return FALSE;
}

void CColumnFilter::OnColumnChosen(int column) {
  if (column < 0 || column >= static_cast<int>(m_names.size())) return;
  m_column->setText(Q(m_names[static_cast<size_t>(column)]));
  m_pattern->clear();
  m_mode->setFocus();
  if (!m_mode->hasFocus()) OnModeFocus();  // no focus events without an active window
}

void CColumnFilter::ShowColumnMenu() {
  CNorvMenu menu;
  for (size_t i = 0; i < m_names.size(); ++i)
    menu.AppendItem(kColumnMenuFirst + static_cast<UINT>(i), m_names[i]);
  const QPoint at = m_columnButton->mapToGlobal(QPoint(0, m_columnButton->height()));
  const UINT command = NorvTrackPopupMenu(menu, at, this);
  if (command >= kColumnMenuFirst) OnColumnChosen(static_cast<int>(command - kColumnMenuFirst));
}

void CColumnFilter::OnAdd() {
  const QString pattern = m_pattern->text();
  if (pattern.isEmpty()) return;
  if (FindColumn(W(m_column->text())) < 0) {
    OnModeFocus();  // reports the unknown column
    return;
  }
  if (m_mode->currentIndex() < 0) m_mode->setCurrentIndex(0);
  const int line = m_list->AddLine(
      W(m_column->text() + QLatin1Char('\t') + m_mode->currentText() + QLatin1Char('\t') + pattern),
      TRUE);
  m_list->scrollToItem(m_list->item(line));
  m_column->clear();
  m_pattern->clear();
  m_column->setFocus();
  m_expression->setEnabled(false);
  UpdateListButtons();
}

void CColumnFilter::OnEdit() {
  QListWidgetItem* selected = m_list->currentItem();
  const QList<QListWidgetItem*> items = m_list->selectedItems();
  if (!items.isEmpty()) selected = items.front();
  if (selected == nullptr) return;
  QString column, mode, pattern;
  const bool split = SplitFilterLine(selected->text(), column, mode, pattern);
  delete m_list->takeItem(m_list->row(selected));
  if (split) {
    m_column->setText(column);
    m_mode->setCurrentIndex(m_mode->findText(mode, Qt::MatchExactly));
    m_pattern->setText(pattern);
  }
  m_pattern->setFocus();
  UpdateListButtons();
}

void CColumnFilter::OnClear() {
  m_list->clear();
  m_column->setFocus();
  m_edit->setEnabled(false);
  m_clear->setEnabled(false);
}

void CColumnFilter::InsertExpression(const NorvString& entryText) {
  const QString text = Q(entryText);
  const int space = text.indexOf(QLatin1Char(' '));
  m_pattern->insert(space < 0 ? text : text.left(space));  // undoable, replaces the selection
  m_pattern->setFocus();
}

void CColumnFilter::ShowExpressionMenu() {
  CNorvMenu resource;
  const CNorvMenu* popup = nullptr;
  if (NorvLoadMenuResource(IDR_EXPRESSION_MENU, resource)) popup = resource.GetSubMenu(0);
  if (popup == nullptr) {
    NORV_BASE_TRACE(2, 0, L"CColumnFilter: menu resource 209 is missing");
    return;
  }
  const UINT command = NorvTrackPopupMenu(*popup, QCursor::pos(), this);
  if (command == 0) return;
  for (int i = 0; i < popup->GetItemCount(); ++i) {
    if (popup->GetItemId(i) == command) {
      InsertExpression(popup->GetItemText(i));
      break;
    }
  }
}

void CColumnFilter::accept() {
  if (!m_pattern->text().isEmpty()) {
    const int answer =
        NorvAppMessageBox(Text(IDS_NORV_FILTER_NOT_ADDED, L"Add the pending filter?"),
                          MB_YESNOCANCEL | MB_ICONQUESTION);
    if (answer == IDCANCEL) return;
    if (answer == IDYES) {
      const int before = m_list->count();
      OnAdd();
      if (m_list->count() == before) return;  // it could not be added: stay
    }
  }
  std::vector<NorvFilterRecord> records;
  for (int i = 0; i < m_list->count(); ++i) {
    QString column, mode, pattern;
    if (!SplitFilterLine(m_list->item(i)->text(), column, mode, pattern)) continue;
    int modeNumber = -1;
    for (UINT m = 0; m <= 2; ++m)
      if (Q(ModeText(m)) == mode) modeNumber = static_cast<int>(m);
    const int columnNumber = FindColumn(W(column));
    if (modeNumber < 0 || columnNumber < 0) continue;
    NorvFilterRecord record;
    record.columnId = m_ids[static_cast<size_t>(columnNumber)];
    record.mode = static_cast<UINT>(modeNumber);
    record.pattern = W(pattern);
    record.enabled = m_list->GetCheck(i) ? true : false;
    records.push_back(std::move(record));
  }
  m_filterText = NorvFormatFilterText(records);
  done(IDOK);
}

// ===========================================================================
// CColumnSettings
// ===========================================================================

CColumnSettings::CColumnSettings(const NorvStringList& names, NorvUIntArray& widths,
                                 NorvUIntArray& order, QWidget* parent)
    : CNorvDialog(IDD, parent), m_names(names), m_widths(widths), m_order(order) {
  Build();
}

CColumnSettings::~CColumnSettings() = default;

void CColumnSettings::Build() {
  setWindowTitle(tr("Column Settings"));
  auto* layout = new QHBoxLayout(this);
  m_list = new CTabCheckListBox(this);
  m_list->setObjectName(QStringLiteral("619"));
  m_list->setSelectionMode(QAbstractItemView::ExtendedSelection);
  layout->addWidget(m_list, 1);

  auto* buttons = new QVBoxLayout;
  m_show = new QPushButton(tr("&Show"), this);
  m_show->setObjectName(QStringLiteral("654"));
  m_hide = new QPushButton(tr("&Hide"), this);
  m_hide->setObjectName(QStringLiteral("655"));
  m_up = new QPushButton(tr("Move &Up"), this);
  m_up->setObjectName(QStringLiteral("652"));
  m_down = new QPushButton(tr("Move &Down"), this);
  m_down->setObjectName(QStringLiteral("653"));
  auto* ok = new QPushButton(tr("OK"), this);
  auto* cancel = new QPushButton(tr("Cancel"), this);
  for (QPushButton* b : {m_show, m_hide, m_up, m_down, cancel}) b->setAutoDefault(false);
  ok->setDefault(true);
  for (QPushButton* b : {ok, cancel}) buttons->addWidget(b);
  buttons->addSpacing(12);
  for (QPushButton* b : {m_show, m_hide, m_up, m_down}) buttons->addWidget(b);
  buttons->addStretch();
  layout->addLayout(buttons);

  connect(ok, &QPushButton::clicked, this, &CColumnSettings::accept);
  connect(cancel, &QPushButton::clicked, this, &CNorvDialog::reject);
  connect(m_show, &QPushButton::clicked, this, &CColumnSettings::OnShow);
  connect(m_hide, &QPushButton::clicked, this, &CColumnSettings::OnHide);
  connect(m_up, &QPushButton::clicked, this, &CColumnSettings::OnMoveUp);
  connect(m_down, &QPushButton::clicked, this, &CColumnSettings::OnMoveDown);
  connect(m_list, &QListWidget::itemSelectionChanged, this, [this] { UpdateButtons(); });
  connect(m_list, &QListWidget::itemChanged, this, [this] { UpdateButtons(); });
}

BOOL CColumnSettings::OnInitDialog() {
  CNorvDialog::OnInitDialog();
  const size_t n = std::min(m_names.size(), m_widths.size());
  auto visible = [&](size_t c) { return static_cast<int>(m_widths[c]) >= 0; };
  std::vector<size_t> shown;  // visible columns in column order
  for (size_t c = 0; c < n; ++c)
    if (visible(c)) shown.push_back(c);

  std::vector<bool> listed(n, false);
  auto addLine = [&](size_t column, bool checked) {
    const int line = m_list->AddLine(m_names[column], checked ? TRUE : FALSE);
    m_list->item(line)->setData(kColumnRole, static_cast<int>(column));
    listed[column] = true;
  };
  // Visible columns in display order ...
  for (UINT position : m_order) {
    if (position >= shown.size() || listed[shown[position]]) {
      NORV_BASE_TRACE(2, 0,
                      NorvFormatString(L"CColumnSettings: order entry %u does not fit", position));
      continue;
    }
    addLine(shown[position], true);
  }
  // ... any the order does not name, then the hidden ones.
  for (size_t c : shown)
    if (!listed[c]) addLine(c, true);
  for (size_t c = 0; c < n; ++c)
    if (!visible(c)) addLine(c, false);

  if (m_list->count() > 0) {
    m_list->setCurrentRow(0);
    m_list->item(0)->setSelected(true);
  }
  m_list->setFocus();
  UpdateButtons();
  return TRUE;
}

int CColumnSettings::LineColumn(int line) const {
  const QListWidgetItem* item = m_list->item(line);
  return item != nullptr ? item->data(kColumnRole).toInt() : -1;
}

void CColumnSettings::UpdateButtons() {
  bool checkedSelected = false, uncheckedSelected = false, up = false, down = false;
  bool unselectedAbove = false;
  const int n = m_list->count();
  for (int i = 0; i < n; ++i) {
    const QListWidgetItem* line = m_list->item(i);
    if (line->isSelected()) {
      (line->checkState() == Qt::Checked ? checkedSelected : uncheckedSelected) = true;
      if (unselectedAbove) up = true;
    } else {
      unselectedAbove = true;
    }
  }
  bool unselectedBelow = false;
  for (int i = n - 1; i >= 0; --i) {
    if (m_list->item(i)->isSelected()) {
      if (unselectedBelow) down = true;
    } else {
      unselectedBelow = true;
    }
  }
  m_hide->setEnabled(checkedSelected);
  m_show->setEnabled(uncheckedSelected);
  m_up->setEnabled(up);
  m_down->setEnabled(down);
}

void CColumnSettings::SetSelectedChecks(BOOL checked) {
  for (int i = 0; i < m_list->count(); ++i)
    if (m_list->item(i)->isSelected()) m_list->SetCheck(i, checked);
  UpdateButtons();
}

void CColumnSettings::OnShow() { SetSelectedChecks(TRUE); }
void CColumnSettings::OnHide() { SetSelectedChecks(FALSE); }

void CColumnSettings::SwapLines(int upper) {
  QListWidgetItem* a = m_list->item(upper);
  QListWidgetItem* b = m_list->item(upper + 1);
  if (a == nullptr || b == nullptr) return;
  const QSignalBlocker blocker(m_list);
  const QString text = a->text();
  const Qt::CheckState check = a->checkState();
  const QVariant column = a->data(kColumnRole);
  const bool selected = a->isSelected();
  a->setText(b->text());
  a->setCheckState(b->checkState());
  a->setData(kColumnRole, b->data(kColumnRole));
  a->setSelected(b->isSelected());
  b->setText(text);
  b->setCheckState(check);
  b->setData(kColumnRole, column);
  b->setSelected(selected);
}

void CColumnSettings::OnMoveUp() {
  for (int i = 1; i < m_list->count(); ++i)
    if (m_list->item(i)->isSelected() && !m_list->item(i - 1)->isSelected()) SwapLines(i - 1);
  m_list->viewport()->update();
  UpdateButtons();
}

void CColumnSettings::OnMoveDown() {
  for (int i = m_list->count() - 2; i >= 0; --i)
    if (m_list->item(i)->isSelected() && !m_list->item(i + 1)->isSelected()) SwapLines(i);
  m_list->viewport()->update();
  UpdateButtons();
}

void CColumnSettings::accept() {
  const size_t n = std::min(m_names.size(), m_widths.size());
  std::vector<bool> checked(n, false);
  for (int i = 0; i < m_list->count(); ++i) {
    const int column = LineColumn(i);
    if (column < 0 || static_cast<size_t>(column) >= n) continue;
    checked[static_cast<size_t>(column)] = m_list->GetCheck(i) != FALSE;
    // The width's magnitude (the most negative width has none of its own).
    const long long stored = static_cast<int>(m_widths[static_cast<size_t>(column)]);
    const int magnitude =
        static_cast<int>(std::min<long long>(stored < 0 ? -stored : stored, 0x7FFFFFFF));
    m_widths[static_cast<size_t>(column)] =
        static_cast<UINT>(checked[static_cast<size_t>(column)] ? magnitude : -magnitude);
  }
  // Each shown line's position among the visible columns.
  NorvUIntArray order;
  for (int i = 0; i < m_list->count(); ++i) {
    const int column = LineColumn(i);
    if (column < 0 || static_cast<size_t>(column) >= n || !checked[static_cast<size_t>(column)])
      continue;
    UINT before = 0;
    for (int c = 0; c < column; ++c)
      if (checked[static_cast<size_t>(c)]) ++before;
    order.push_back(before);
  }
  m_order = std::move(order);
  done(IDOK);
}
