#include "NorvComboBox.h"

#include <QAbstractItemView>
#include <QCursor>
#include <QFontMetrics>
#include <QLineEdit>
#include <QMouseEvent>
#include <QStyle>
#include <algorithm>

#include "MainFrm.h"
#include "NorvQtMenu.h"
#include "TreeView.h"
#include "norv/NorvMenu.h"
#include "norv/NorvTLItemList.h"
#include "norv/NorvTlgItem.h"
#include "norv/Trace.h"

namespace {

QString Q(const NorvString& s) { return QString::fromStdWString(s); }
NorvString W(const QString& s) { return s.toStdWString(); }

QVariant ItemData(CNorvTreeListItem* item) {
  return QVariant::fromValue(reinterpret_cast<quintptr>(item));
}

QIcon FrameImage(int index) {
  if (index < 0 || CMainFrame::theFrame == nullptr) return {};
  return CMainFrame::theFrame->GetImage(index);
}

}  // namespace

// ===========================================================================
// CNorvComboBox
// ===========================================================================

CNorvComboBox::CNorvComboBox(QWidget* parent) : QComboBox(parent) {}
CNorvComboBox::~CNorvComboBox() = default;

void CNorvComboBox::InitControl() { m_initialized = TRUE; }

void CNorvComboBox::ReadItem(CNorvTreeListItem* item, NorvString& text, int& image,
                             int& selectedImage) {
  treeListViewInfo info;
  treeListViewInfo* p = &info;
  int offset = 0;
  {
    CNorvItemCallScope scope(item);
    item->GetTreeViewInfo(p, NORV_TLVI_TEXT | NORV_TLVI_IMAGE);
    offset = item->GetImageListOffset();
  }
  if (p == nullptr) p = &info;
  text = p->strText;
  image = p->nImage >= 0 ? p->nImage + offset : -1;
  selectedImage = p->nSelectedImage >= 0 ? p->nSelectedImage + offset : -1;
}

int CNorvComboBox::AddEntry(int index, const NorvString& text, CNorvTreeListItem* item, int image,
                            int selectedImage, BOOL select) {
  if (count() >= maxCount()) return -1;
  if (index < 0 || index > count()) index = count();
  const int before = count();
  insertItem(index, FrameImage(image), Q(text), ItemData(item));
  if (count() == before) return -1;
  setItemData(index, image, ImageRole);
  setItemData(index, selectedImage, SelectedImageRole);
  if (select) setCurrentIndex(index);
  return index;
}

int CNorvComboBox::AddList(CNorvTLItemList* list, const NorvString& selectedId) {
  int selection = -1;
  if (list != nullptr) {
    POSITION pos = list->GetHeadPosition();
    while (pos != nullptr) {
      CNorvTreeListItem* item = list->GetNext(pos);
      if (item == nullptr) continue;
      NorvString text;
      int image = -1, selectedImage = -1;
      ReadItem(item, text, image, selectedImage);
      // Plain entries show the text only.
      const int index = AddEntry(-1, text, item, -1, -1, FALSE);
      if (index < 0) continue;  // skipped
      if (selection < 0 && item->Id() == selectedId) selection = index;
    }
  }
  if (selection >= 0) setCurrentIndex(selection);
  return selection >= 0 ? selection : currentIndex();
}

int CNorvComboBox::AddItem(CNorvTreeListItem* item, BOOL select) {
  if (item == nullptr) return -1;
  NorvString text;
  int image = -1, selectedImage = -1;
  ReadItem(item, text, image, selectedImage);
  if (!ShowsImages()) image = selectedImage = -1;
  return AddEntry(-1, text, item, image, selectedImage, select);
}

int CNorvComboBox::AddString(const NorvString& text, CNorvTreeListItem* item, BOOL select) {
  return AddEntry(-1, text, item, -1, -1, select);
}

int CNorvComboBox::InsertString(int index, const NorvString& text, CNorvTreeListItem* item,
                                BOOL select) {
  return AddEntry(index, text, item, -1, -1, select);
}

BOOL CNorvComboBox::SetEdit(const NorvString& text) {
  if (!isEditable() || lineEdit() == nullptr) return FALSE;
  setEditText(Q(text));
  return TRUE;
}

CNorvTreeListItem* CNorvComboBox::GetItem(int index) const {
  if (index < 0 || index >= count()) return nullptr;
  return reinterpret_cast<CNorvTreeListItem*>(itemData(index, ItemRole).value<quintptr>());
}

CNorvTreeListItem* CNorvComboBox::GetSelectedItem() const { return GetItem(currentIndex()); }

CNorvTreeListItem* CNorvComboBox::GetSelectedItem(NorvString& text) const {
  const int index = currentIndex();
  if (index < 0) {
    text = isEditable() ? W(currentText()) : NorvString();
    return nullptr;
  }
  text = W(itemText(index));
  return GetItem(index);
}

namespace {
template <typename Match>
int SearchEntries(const QComboBox& box, int start, Match match) {
  const int n = box.count();
  if (n == 0) return -1;
  const int first = start < 0 || start >= n ? 0 : start + 1;
  for (int k = 0; k < n; ++k) {
    const int i = (first + k) % n;
    if (match(box.itemText(i))) return i;
  }
  return -1;
}
}  // namespace

int CNorvComboBox::FindString(const NorvString& text, int start) const {
  const QString wanted = Q(text);
  return SearchEntries(*this, start, [&](const QString& entry) {
    return entry.startsWith(wanted, Qt::CaseInsensitive);
  });
}

int CNorvComboBox::FindStringExact(const NorvString& text, int start) const {
  const QString wanted = Q(text);
  return SearchEntries(*this, start, [&](const QString& entry) {
    return entry.compare(wanted, Qt::CaseInsensitive) == 0;
  });
}

CNorvTreeListItem* CNorvComboBox::FindItem(const NorvString& text, int start) const {
  return GetItem(FindString(text, start));
}

CNorvTreeListItem* CNorvComboBox::FindItemExact(const NorvString& text, int start) const {
  return GetItem(FindStringExact(text, start));
}

CNorvTreeListItem* CNorvComboBox::SelectItem(const NorvString& text, int start) {
  const int index = FindStringExact(text, start);
  if (index < 0) return nullptr;
  setCurrentIndex(index);
  return GetItem(index);
}

void CNorvComboBox::AutoSizeListBox() {
  const QFontMetrics metrics(view()->font());
  int widest = 0;
  for (int i = 0; i < count(); ++i)
    widest = std::max(widest, metrics.horizontalAdvance(itemText(i)));
  if (!itemIcon(0).isNull() || iconSize().width() > 0)
    widest += iconSize().width() + metrics.averageCharWidth();
  const int width = widest + metrics.averageCharWidth() +
                    style()->pixelMetric(QStyle::PM_ScrollBarExtent, nullptr, this);
  view()->setMinimumWidth(std::max(width, this->width()));
}

void CNorvComboBox::showPopup() {
  if (m_autoSize) AutoSizeListBox();
  QComboBox::showPopup();
}

// ===========================================================================
// CNorvComboBoxEx
// ===========================================================================

CNorvComboBoxEx::CNorvComboBoxEx(QWidget* parent) : CNorvComboBox(parent) {}
CNorvComboBoxEx::~CNorvComboBoxEx() = default;

void CNorvComboBoxEx::InitControl() {
  if (m_initialized) return;
  m_initialized = TRUE;
  // The frame's small images are 16 pixels high: entries and the field at
  // least one pixel more.
  constexpr int kImage = 16;
  setIconSize(QSize(kImage, kImage));
  if (minimumHeight() < kImage + 1) setMinimumHeight(std::max(sizeHint().height(), kImage + 1));
  WatchEdit();
}

void CNorvComboBoxEx::WatchEdit() {
  QLineEdit* edit = lineEdit();
  if (edit == nullptr || edit == m_watchedEdit) return;
  edit->installEventFilter(this);
  m_watchedEdit = edit;
}

int CNorvComboBoxEx::AddListEntries(CNorvTLItemList* list, const NorvString& selectedId,
                                    bool sorted) {
  CNorvTreeListItem* selected = nullptr;
  if (list != nullptr) {
    POSITION pos = list->GetHeadPosition();
    while (pos != nullptr) {
      CNorvTreeListItem* item = list->GetNext(pos);
      if (item == nullptr) continue;
      NorvString text;
      int image = -1, selectedImage = -1;
      ReadItem(item, text, image, selectedImage);
      int at = -1;
      if (sorted && image >= 0) {
        const QString q = Q(text);
        at = count();
        for (int i = 0; i < count(); ++i) {
          if (itemText(i).compare(q, Qt::CaseInsensitive) >= 0) {
            at = i;
            break;
          }
        }
      }
      const int index = AddEntry(at, text, item, image, selectedImage, FALSE);
      if (index < 0) continue;
      if (selected == nullptr && item->Id() == selectedId) selected = item;
    }
  }
  if (selected != nullptr) {
    for (int i = 0; i < count(); ++i) {
      if (GetItem(i) == selected) {
        setCurrentIndex(i);
        return i;
      }
    }
  }
  return currentIndex();
}

int CNorvComboBoxEx::AddList(CNorvTLItemList* list, const NorvString& selectedId) {
  return AddListEntries(list, selectedId, false);
}

int CNorvComboBoxEx::AddListSorted(CNorvTLItemList* list, const NorvString& selectedId) {
  return AddListEntries(list, selectedId, true);
}

UINT CNorvComboBoxEx::TrackMenu(const CNorvMenu& menu, const QPoint& globalPos) {
  return NorvTrackPopupMenu(menu, globalPos, this);
}

UINT CNorvComboBoxEx::ShowContextMenu(const QPoint& globalPos) {
  CNorvTreeListItem* item = GetSelectedItem();
  if (item == nullptr) return 0;
  CNorvMenu menu;
  CNorvMenu* shown = nullptr;
  {
    CNorvItemCallScope scope(item);
    shown = item->CtrlMenuInfo(&menu, CTRL_COMBOBOX);
  }
  if (shown == nullptr || shown->IsEmpty()) return 0;
  TreeView::InitiateItemPopupMenu(item, shown, 1);
  const UINT command = TrackMenu(*shown, globalPos);
  if (command == 0) return 0;
  CNorvTLItemList list;
  list.AddTail(item);
  {
    CNorvItemCallScope scope(item);
    if (gNorvBaseTraceLevel >= 3)
      Trace_Command("NorvDll/NorvComboBoxEx", __LINE__, __func__, item, &list, command, 0, nullptr);
    else
      item->Command(&list, command, 0, nullptr);
  }
  return command;
}

void CNorvComboBoxEx::mouseReleaseEvent(QMouseEvent* event) {
  if (event->button() == Qt::RightButton) ShowContextMenu(event->globalPosition().toPoint());
  CNorvComboBox::mouseReleaseEvent(event);
}

bool CNorvComboBoxEx::eventFilter(QObject* watched, QEvent* event) {
  if (watched == m_watchedEdit && event->type() == QEvent::MouseButtonRelease) {
    auto* mouse = static_cast<QMouseEvent*>(event);
    if (mouse->button() == Qt::RightButton) {
      ShowContextMenu(mouse->globalPosition().toPoint());
      return true;  // no edit menu on top of the item's
    }
  }
  return CNorvComboBox::eventFilter(watched, event);
}
