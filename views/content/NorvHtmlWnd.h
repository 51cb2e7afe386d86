// CNorvHtmlWnd: the light browser window that other windows embed (the HTML
// dialog, the main frame's banner, frame and tutorial panes). Pages in it
// reach its external object as `window.external`: by default its own one
// method "PostMessage"; the frame's panes set the panes' interface
// (SetExternal(std::make_unique<CNorvHtmlPaneExternal>(this))).
//
// Embedding windows override the two notifications: OnBeforeNavigate (a
// navigation the window did not start; TRUE cancels it) and
// OnDocumentComplete (the top-level document has loaded; the default applies
// the assignments of the last SetPage).
#pragma once
#include <QEvent>
#include <QWebEngineView>
#include <memory>

#include "NorvHtmlPage.h"
#include "norv/NorvItemTypes.h"
#include "norv/norvtypes.h"

class CNorvHtmlExternal;

// What "PostMessage" posts to the window's parent.
class NORV_API CNorvHtmlMessageEvent : public QEvent {
 public:
  CNorvHtmlMessageEvent(qint32 message, qint32 wParam, qint32 lParam);
  static QEvent::Type EventType();
  qint32 Message() const { return m_message; }
  qint32 WParam() const { return m_wParam; }
  qint32 LParam() const { return m_lParam; }

 private:
  qint32 m_message, m_wParam, m_lParam;
};

class NORV_API CNorvHtmlWnd : public QWebEngineView, public INorvHtmlPageOwner {
  Q_OBJECT

 public:
  // Control id of the window when it stands in a dialog.
  static constexpr int kControlId = 12;

  explicit CNorvHtmlWnd(QWidget* parent = nullptr);
  ~CNorvHtmlWnd() override;

  // Takes the place of `control` (a placeholder widget of a dialog): the
  // same parent, geometry and object name; the control is deleted. FALSE
  // when `control` is null or has no parent.
  BOOL CreateInPlaceOf(QWidget* control);

  // Shows `url`. The navigation is the window's own (not offered to
  // OnBeforeNavigate). `postData` non-empty makes it a POST; `headers` are
  // "Name: value" lines. `flags` and `targetFrame` are kept for callers of
  // the original signature; frames are not addressed separately.
  BOOL Navigate(const NorvString& url, DWORD flags = 0, const NorvString& targetFrame = {},
                const std::vector<BYTE>& postData = {}, const NorvString& headers = {});
  // Shows an item's page: an empty url changes nothing (FALSE). Otherwise the
  // assignments replace the stored ones; a url other than the last one
  // navigated to is shown (`flags` as for Navigate) and the assignments are
  // applied once it has loaded; the same url gets them at once.
  BOOL SetPage(const htmlViewInfo& info, DWORD flags = 0);
  NorvString GetLastUrl() const { return m_lastUrl; }
  const NorvStringList& GetAssignments() const { return m_assignments; }

  // The document shown (valid while the window lives) and its size
  // (the body's scroll width and height; empty when there is no page).
  INorvHtmlDocument* GetDocument();
  QSize GetDocumentSize();
  CNorvHtmlPage* Page() const { return m_page; }
  void SetExternal(std::unique_ptr<CNorvHtmlExternal> external);

  // Whether the last top-level document has loaded.
  bool IsDocumentComplete() const { return m_complete; }

 signals:
  // After OnDocumentComplete.
  void documentComplete(const QUrl& url);
  // After every load, also one that failed or was cancelled.
  void loadEnded(const QUrl& url);

 protected:
  virtual BOOL OnBeforeNavigate(const NorvString& url, const NorvString& targetFrame,
                                const NorvString& headers, const std::vector<BYTE>& postData);
  virtual void OnDocumentComplete(const NorvString& url);

  BOOL OnPageNavigate(const NorvString& url, const NorvString& targetFrame,
                      const NorvString& headers, const std::vector<BYTE>& postData) override;
  void OnPageLoaded(const QUrl& url, bool ok) override;
  void contextMenuEvent(QContextMenuEvent* event) override;

 private:
  CNorvHtmlPage* m_page;
  NorvString m_lastUrl;
  NorvStringList m_assignments;
  bool m_complete = false;
};
