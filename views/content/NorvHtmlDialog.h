// CNorvHtmlDialog: a modal dialog showing one page (an htmlViewInfo). It
// waits until the page has loaded, applies the assignments, takes the given
// client size (or, with neither width nor height, the page's own size) and
// centres itself. The page reaches the dialog through
// window.external.PostMessage(message, wParam, lParam), which arrives as a
// CNorvHtmlMessageEvent (override event() in a subclass to act on it).
#pragma once
#include <QDialog>

#include "NorvHtmlWnd.h"
#include "norv/NorvItemTypes.h"
#include "norv/norvtypes.h"

class NORV_API CNorvHtmlDialog : public QDialog {
  Q_OBJECT

 public:
  CNorvHtmlDialog(const NorvString& title, const htmlViewInfo* info, QWidget* parent = nullptr,
                  int width = 0, int height = 0);
  ~CNorvHtmlDialog() override;

  // Initialises (OnInitDialog) and runs the dialog; -1 when the page window
  // could not be made.
  int DoModal();
  // Title, page, assignments, size. FALSE when the dialog cannot open.
  virtual BOOL OnInitDialog();

  CNorvHtmlWnd* HtmlWindow() const { return m_wnd; }

 protected:
  void resizeEvent(QResizeEvent* event) override;

 private:
  NorvString m_title;
  const htmlViewInfo* m_info;
  int m_width, m_height;
  CNorvHtmlWnd* m_wnd = nullptr;
};
