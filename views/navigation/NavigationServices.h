// The item model's window services (INorvViewServices) for the navigation
// panes: the tree's selection, item timer, class paths and destroyed items
// go to the tree view; everything else goes to the main frame's services
// when one is attached. One instance per process that is never destroyed:
// a plugin thread may still be inside InvokeRefresh while the windows go.
#pragma once
#include <atomic>
#include <mutex>

#include "norv/NorvViewServices.h"

class TreeView;

class NORV_API CNorvNavigationServices : public INorvViewServices {
 public:
  static CNorvNavigationServices& Instance();

  // Installs the services (NorvSetViewServices) for `tree` and, when not
  // null, the frame's own services. Detach uninstalls them; call it before
  // the tree or the frame is destroyed.
  void Attach(TreeView* tree, INorvViewServices* frame);
  void Detach();
  TreeView* Tree() const { return m_tree; }

  void InvokeRefresh() override;
  BOOL SetStatusBarText(const NorvString& text) override;
  BOOL ModifyImageList(ImageListType type, int index, const QIcon& icon) override;
  BOOL GetAddressBarInfo(NorvString& text, int& image, int& selectedImage) override;
  BOOL SetAddressBarInfo(const NorvString& text, int image, int selectedImage, int indent,
                         const NorvString& path) override;
  BOOL SetOutputView(QWidget* view, OutputViewHeaderPosition position, const NorvString& caption,
                     int flags) override;
  void DetachOutputView(QWidget* view) override;
  BOOL ShowOutputView(BOOL show) override;
  BOOL IsOutputViewVisible(QWidget* view) override;
  QWidget* GetOutputViewParent() override;
  QObject* GetViewDocument(int which) override;
  BOOL ShowHelp(DWORD data, UINT command, const NorvString& helpFile) override;
  BOOL SetItemTimer(UINT milliseconds) override;
  BOOL RefreshClassPath(const NorvString& path, CNorvTreeListItem* start, DWORD flags) override;
  CNorvTreeListItem* GetSelectedTreeItem() override;
  void ItemDestroyed(CNorvTreeListItem* item) override;
  void ChildrenRemoving(CNorvTreeListItem* parent) override;
  void ChildrenRemoved(CNorvTreeListItem* parent) override;
  BOOL SelectListViewItems(CNorvTLItemList* list) override;
  BOOL GetListSorting(int& column, int& ascending) override;

 private:
  CNorvNavigationServices() = default;
  std::mutex m_mutex;  // guards the pointers against InvokeRefresh from other threads
  std::atomic<TreeView*> m_tree{nullptr};
  INorvViewServices* m_frame = nullptr;
  std::atomic<bool> m_refreshPosted{false};
};
