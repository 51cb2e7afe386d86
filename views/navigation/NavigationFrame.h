// What the tree view asks of the window around it (the main frame): the
// main menu, the history and bookmark panes, the address bar, the view
// selector, the HTML panes, the shared images and the status bar. Every
// method has a do-nothing default, so the tree works on its own (tests).
#pragma once
#include <QIcon>
#include <QRect>
#include <utility>
#include <vector>

#include "norv/NorvItemTypes.h"
#include "norv/norvtypes.h"

class CNorvTreeListItem;

class NORV_API INorvNavigationFrame {
 public:
  virtual ~INorvNavigationFrame();

  // Selection processing.
  virtual void ResetMenuManager() {}
  // Rebuilds the main menu: the host's menu, the plugins' help and About
  // entries and the item's own menu.
  virtual void RebuildMainMenu(CNorvTreeListItem* /*item*/) {}
  virtual void AddHistoryEntry(const NorvString& /*path*/, int /*image*/, int /*selectedImage*/,
                               int /*viewMode*/) {}
  virtual void UpdateHistoryViewMode(int /*viewMode*/) {}
  virtual void SelectMatchingBookmark(const NorvString& /*path*/) {}
  virtual void GoBack(int /*steps*/) {}
  virtual void GoForward(int /*steps*/) {}

  // Showing the selection.
  // (text, command) per view mode the item accepts; `current` is marked.
  virtual void SetViewSelector(const std::vector<std::pair<NorvString, UINT>>& /*entries*/,
                               int /*current*/) {}
  virtual void SetViewMargins(const QRect& /*margins*/, int /*flag*/) {}
  virtual void ShowFilterWarning(BOOL /*show*/) {}
  virtual void SetBanner(const htmlViewInfo& /*info*/) {}
  virtual void SetFrame(const htmlViewInfo& /*info*/) {}
  virtual void SetTutorial(const htmlViewInfo& /*info*/) {}
  virtual void SetAddressBar(const NorvString& /*path*/, int /*image*/) {}
  virtual void HideOutputView() {}
  virtual void ShowStatusText(const NorvString& /*text*/) {}

  // State.
  virtual BOOL IsMainWindowMinimized() { return FALSE; }
  // The number of the framework's modal dialogs now open.
  virtual int GetModalDialogCount() { return 0; }
  // Image `index` of the shared small image list.
  virtual QIcon GetImage(int /*index*/) { return {}; }
  // The host application's explorer-empty request (the last object went).
  virtual void RequestExplorerEmpty() {}
};

// The instance used when no frame is installed.
NORV_API INorvNavigationFrame* NorvNoNavigationFrame();

// Where each plugin's images start in the shared image lists (set by the
// frame when it builds them; 0 for an unknown plugin).
NORV_API int NorvGetPluginImageOffset(int pluginId);
NORV_API void NorvSetPluginImageOffset(int pluginId, int offset);
