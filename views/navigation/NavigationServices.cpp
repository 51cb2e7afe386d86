#include "NavigationServices.h"

#include <QCoreApplication>
#include <QThread>
#include <map>

#include "NorvListView.h"
#include "TreeView.h"

namespace {
std::map<int, int>& ImageOffsets() {
  static std::map<int, int> offsets;
  return offsets;
}
}  // namespace

int NorvGetPluginImageOffset(int pluginId) {
  auto it = ImageOffsets().find(pluginId);
  return it != ImageOffsets().end() ? it->second : 0;
}

void NorvSetPluginImageOffset(int pluginId, int offset) { ImageOffsets()[pluginId] = offset; }

CNorvNavigationServices& CNorvNavigationServices::Instance() {
  static CNorvNavigationServices* instance = new CNorvNavigationServices;
  return *instance;
}

void CNorvNavigationServices::Attach(TreeView* tree, INorvViewServices* frame) {
  {
    std::lock_guard<std::mutex> lock(m_mutex);
    m_tree = tree;
    m_frame = frame;
    m_refreshPosted = false;
  }
  NorvSetViewServices(this);
}

void CNorvNavigationServices::Detach() {
  NorvSetViewServices(nullptr);
  std::lock_guard<std::mutex> lock(m_mutex);
  m_tree = nullptr;
  m_frame = nullptr;
}

void CNorvNavigationServices::InvokeRefresh() {
  std::lock_guard<std::mutex> lock(m_mutex);
  if (m_frame != nullptr) {
    m_frame->InvokeRefresh();
    return;
  }
  TreeView* tree = m_tree;
  if (tree == nullptr || m_refreshPosted.exchange(true)) return;
  // Without a frame the refresh runs when the tree's thread is next idle;
  // requests before then are answered by that one run.
  QMetaObject::invokeMethod(
      tree,
      [this, tree] {
        m_refreshPosted = false;
        tree->AutoRefresh(nullptr, FALSE);
      },
      Qt::QueuedConnection);
}

BOOL CNorvNavigationServices::SetStatusBarText(const NorvString& text) {
  return m_frame != nullptr ? m_frame->SetStatusBarText(text) : FALSE;
}
BOOL CNorvNavigationServices::ModifyImageList(ImageListType type, int index, const QIcon& icon) {
  return m_frame != nullptr ? m_frame->ModifyImageList(type, index, icon) : FALSE;
}
BOOL CNorvNavigationServices::GetAddressBarInfo(NorvString& text, int& image, int& selectedImage) {
  return m_frame != nullptr ? m_frame->GetAddressBarInfo(text, image, selectedImage) : FALSE;
}
BOOL CNorvNavigationServices::SetAddressBarInfo(const NorvString& text, int image,
                                                int selectedImage, int indent,
                                                const NorvString& path) {
  return m_frame != nullptr ? m_frame->SetAddressBarInfo(text, image, selectedImage, indent, path)
                            : FALSE;
}
BOOL CNorvNavigationServices::SetOutputView(QWidget* view, OutputViewHeaderPosition position,
                                            const NorvString& caption, int flags) {
  return m_frame != nullptr ? m_frame->SetOutputView(view, position, caption, flags) : FALSE;
}
void CNorvNavigationServices::DetachOutputView(QWidget* view) {
  if (m_frame != nullptr) m_frame->DetachOutputView(view);
}
BOOL CNorvNavigationServices::ShowOutputView(BOOL show) {
  return m_frame != nullptr ? m_frame->ShowOutputView(show) : FALSE;
}
BOOL CNorvNavigationServices::IsOutputViewVisible(QWidget* view) {
  return m_frame != nullptr ? m_frame->IsOutputViewVisible(view) : FALSE;
}
QWidget* CNorvNavigationServices::GetOutputViewParent() {
  return m_frame != nullptr ? m_frame->GetOutputViewParent() : nullptr;
}
QObject* CNorvNavigationServices::GetViewDocument(int which) {
  return m_frame != nullptr ? m_frame->GetViewDocument(which) : nullptr;
}
BOOL CNorvNavigationServices::ShowHelp(DWORD data, UINT command, const NorvString& helpFile) {
  return m_frame != nullptr ? m_frame->ShowHelp(data, command, helpFile) : FALSE;
}
BOOL CNorvNavigationServices::SetItemTimer(UINT milliseconds) {
  TreeView* tree = m_tree;
  return tree != nullptr ? tree->SetItemTimer(milliseconds) : FALSE;
}
BOOL CNorvNavigationServices::RefreshClassPath(const NorvString& path, CNorvTreeListItem* start,
                                               DWORD flags) {
  TreeView* tree = m_tree;
  if (tree == nullptr) return FALSE;
  return tree->RefreshClassPath(path, CNorvTreeModel::NodeOf(start), flags);
}
CNorvTreeListItem* CNorvNavigationServices::GetSelectedTreeItem() {
  TreeView* tree = m_tree;
  return tree != nullptr ? tree->GetSelectedItemAnyThread() : nullptr;
}
void CNorvNavigationServices::ItemDestroyed(CNorvTreeListItem* item) {
  if (TreeView* tree = m_tree) tree->ItemDestroyed(item);
}
void CNorvNavigationServices::ChildrenRemoving(CNorvTreeListItem* parent) {
  if (TreeView* tree = m_tree) tree->ChildrenRemoving(parent);
  if (CNorvListView* list = CNorvListView::Instance()) list->ChildrenRemoving(parent);
}
void CNorvNavigationServices::ChildrenRemoved(CNorvTreeListItem* parent) {
  if (TreeView* tree = m_tree) tree->ChildrenRemoved(parent);
  if (CNorvListView* list = CNorvListView::Instance()) list->ChildrenRemoved(parent);
}
BOOL CNorvNavigationServices::SelectListViewItems(CNorvTLItemList* list) {
  return m_frame != nullptr ? m_frame->SelectListViewItems(list) : FALSE;
}
BOOL CNorvNavigationServices::GetListSorting(int& column, int& ascending) {
  return m_frame != nullptr ? m_frame->GetListSorting(column, ascending) : FALSE;
}
