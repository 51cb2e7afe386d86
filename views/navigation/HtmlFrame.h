// CHtmlFrame: an HTML pane of the main frame (the banner, the page around
// the content view and the tutorial), a light browser window whose pages
// reach the frame through the panes' `window.external`. It remembers the
// address it last navigated to and the assignments of the last page info;
// a new address is navigated to and the assignments are applied once the
// document has loaded, the same address only gets the assignments again.
// When a page has loaded, the selected item hears it with the pane's
// command (banner, frame; none for the tutorial) and gets the document.
#pragma once
#include "NorvHtmlWnd.h"
#include "norv/NorvItemTypes.h"
#include "norv/norvtypes.h"

class NORV_API CHtmlFrame : public CNorvHtmlWnd {
  Q_OBJECT

 public:
  // `completeCommand`: the item command sent when a page has loaded (0:
  // none).
  explicit CHtmlFrame(UINT completeCommand, QWidget* parent = nullptr);

  // Takes the page info: TRUE when it navigated, FALSE when it applied the
  // assignments to the page already shown (or the address was empty).
  BOOL ShowPage(const htmlViewInfo& info, DWORD navigateFlags);
  NorvString GetLastAddress() const { return GetLastUrl(); }
  int GetNavigationCount() const { return m_navigations; }

 protected:
  void OnDocumentComplete(const NorvString& url) override;

 private:
  UINT m_completeCommand = 0;
  int m_navigations = 0;
};
