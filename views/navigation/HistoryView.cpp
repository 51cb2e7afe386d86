#include "HistoryView.h"

#include <QKeyEvent>
#include <QMouseEvent>

#include "TreeView.h"
#include "norv/NorvMessageBox.h"
#include "norv/Trace.h"
#include "platform/resources.h"

namespace {
constexpr int kPathRole = Qt::UserRole + 1;
constexpr int kViewRole = Qt::UserRole + 2;
}  // namespace

HistoryView::HistoryView(QWidget* parent) : QTreeWidget(parent) {
  setHeaderHidden(true);
  setRootIsDecorated(false);
  setUniformRowHeights(true);
  setSelectionMode(QAbstractItemView::SingleSelection);
  setEditTriggers(QAbstractItemView::NoEditTriggers);
  setFrameShape(QFrame::NoFrame);
  connect(this, &QTreeWidget::currentItemChanged, this, &HistoryView::OnCurrentChanged);
}

QString HistoryView::EntryText(const NorvString& path, int viewMode) {
  return QString::fromStdWString(NorvFormatString(
      L"%s [%s]", path.c_str(), plat::LoadString(7071 + static_cast<UINT>(viewMode)).c_str()));
}

void HistoryView::SelectQuietly(QTreeWidgetItem* entry) {
  m_quiet = true;
  setCurrentItem(entry);
  if (entry != nullptr) scrollToItem(entry);
  m_quiet = false;
  emit HistoryChanged();
}

void HistoryView::AddEntry(const NorvString& path, int image, int selectedImage, int viewMode) {
  setUpdatesEnabled(false);
  // A new visit discards everything after the current entry.
  const int current = CurrentIndex();
  if (current >= 0) {
    m_quiet = true;
    while (topLevelItemCount() > current + 1) delete takeTopLevelItem(current + 1);
    m_quiet = false;
  }
  if (topLevelItemCount() > kMaxEntries) {
    m_quiet = true;
    delete takeTopLevelItem(0);
    m_quiet = false;
  }
  auto* entry = new QTreeWidgetItem(this);
  entry->setText(0, EntryText(path, viewMode));
  entry->setData(0, kPathRole, QString::fromStdWString(path));
  entry->setData(0, kViewRole, viewMode);
  if (m_images) {
    QIcon icon = m_images(image);
    if (selectedImage >= 0 && selectedImage != image)
      for (const QSize& size : m_images(selectedImage).availableSizes())
        icon.addPixmap(m_images(selectedImage).pixmap(size), QIcon::Selected);
    entry->setIcon(0, icon);
  }
  SelectQuietly(entry);
  setUpdatesEnabled(true);
}

void HistoryView::UpdateCurrentViewMode(int viewMode) {
  QTreeWidgetItem* entry = currentItem();
  if (entry == nullptr) return;
  entry->setData(0, kViewRole, viewMode);
  entry->setText(0, EntryText(entry->data(0, kPathRole).toString().toStdWString(), viewMode));
}

BOOL HistoryView::GoToEntry(QTreeWidgetItem* entry) {
  if (entry == nullptr || m_tree == nullptr) return FALSE;
  const NorvString path = entry->data(0, kPathRole).toString().toStdWString();
  const int view = entry->data(0, kViewRole).toInt();
  switch (m_tree->NavigateTo(path, nullptr, TreeView::NavigationHistory, view)) {
    case TreeView::NavigationOk:
      return TRUE;
    case TreeView::NavigationNotFound:
      NorvAppMessageBox(NorvFormatString(plat::LoadString(7079).c_str(), path.c_str()),
                        MB_OK | MB_ICONEXCLAMATION);
      return FALSE;
    default:
      return FALSE;
  }
}

int HistoryView::CurrentIndex() const {
  QTreeWidgetItem* entry = currentItem();
  return entry != nullptr ? indexOfTopLevelItem(entry) : -1;
}

NorvString HistoryView::EntryPath(int index) const {
  QTreeWidgetItem* entry = topLevelItem(index);
  return entry != nullptr ? entry->data(0, kPathRole).toString().toStdWString() : NorvString();
}

BOOL HistoryView::GoBack(int steps) {
  const int current = CurrentIndex();
  if (current <= 0 || steps <= 0) return FALSE;
  QTreeWidgetItem* target = topLevelItem(std::max(0, current - steps));
  if (!GoToEntry(target)) return FALSE;
  SelectQuietly(target);
  return TRUE;
}

BOOL HistoryView::GoForward(int steps) {
  const int current = CurrentIndex();
  if (current < 0 || current + 1 >= topLevelItemCount() || steps <= 0) return FALSE;
  QTreeWidgetItem* target = topLevelItem(std::min(topLevelItemCount() - 1, current + steps));
  if (!GoToEntry(target)) return FALSE;
  SelectQuietly(target);
  return TRUE;
}

BOOL HistoryView::CanGoBack() const { return CurrentIndex() > 0 ? TRUE : FALSE; }

BOOL HistoryView::CanGoForward() const {
  const int current = CurrentIndex();
  return current >= 0 && current + 1 < topLevelItemCount() ? TRUE : FALSE;
}

BOOL HistoryView::GetBackList(int maximum, NorvStringList& paths) const {
  const int current = CurrentIndex();
  if (current < 0) return FALSE;
  for (int i = current - 1; i >= 0 && static_cast<int>(paths.size()) < maximum; --i)
    paths.push_back(EntryPath(i));
  return TRUE;
}

BOOL HistoryView::GetForwardList(int maximum, NorvStringList& paths) const {
  const int current = CurrentIndex();
  if (current < 0) return FALSE;
  for (int i = current + 1; i < topLevelItemCount() && static_cast<int>(paths.size()) < maximum;
       ++i)
    paths.push_back(EntryPath(i));
  return TRUE;
}

void HistoryView::mousePressEvent(QMouseEvent* event) {
  m_userChange = true;
  QTreeWidget::mousePressEvent(event);
  m_userChange = false;
}

void HistoryView::keyPressEvent(QKeyEvent* event) {
  m_userChange = true;
  QTreeWidget::keyPressEvent(event);
  m_userChange = false;
}

void HistoryView::OnCurrentChanged(QTreeWidgetItem* current, QTreeWidgetItem* previous) {
  if (m_quiet || !m_userChange || current == nullptr) return;
  // A change by the user goes to the entry first; failing that the old
  // entry stays selected.
  if (!GoToEntry(current)) {
    QMetaObject::invokeMethod(
        this,
        [this, previous] {
          if (indexOfTopLevelItem(previous) >= 0) SelectQuietly(previous);
        },
        Qt::QueuedConnection);
    return;
  }
  emit HistoryChanged();
}
