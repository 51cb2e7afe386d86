// The page behind every HTML window of the framework, the `res:` scheme
// that serves pages out of resource modules, and the document object that
// items get.
//
// CNorvHtmlPage (a QWebEnginePage):
//  - defines `window.external` in the top-level document of every page
//    (a script injected at document creation, main world) from its
//    CNorvHtmlExternal; each method call passes its name and arguments as
//    JSON through prompt() with a private marker, which javaScriptPrompt
//    answers synchronously. Calls from a frame whose origin differs from the
//    page's are refused.
//  - offers every navigation to its owner (OnBeforeNavigate) except the one
//    the owner started itself (MarkOwnNavigation, then load()).
//  - reports the loaded top-level document to its owner.
#pragma once
#include <QPointer>
#include <QWebEnginePage>
#include <QWebEngineUrlSchemeHandler>
#include <memory>

#include "NorvHtmlSchemes.h"
#include "norv/NorvHtmlDocument.h"
#include "norv/NorvItemTypes.h"
#include "norv/norvtypes.h"

class CNorvHtmlExternal;
class QWebEngineHttpRequest;
class QWebEngineProfile;

// The profile every framework page uses: off the record, with the `res:`
// handler installed.
NORV_API QWebEngineProfile* NorvHtmlProfile();

// The keys of a browser window: Alt+Left and Alt+Right go back and
// forward, F1 asks for help (commands to the main window through the HTML
// host), unless a shortcut of the window around takes them first.
NORV_API void NorvInstallHtmlKeys(QWidget* view);

// The request that Navigate loads: `postData` non-empty makes it a POST,
// `headers` are "Name: value" lines.
NORV_API QWebEngineHttpRequest NorvHtmlRequest(const NorvString& url,
                                               const std::vector<BYTE>& postData,
                                               const NorvString& headers);

// What a page asks of the window that shows it.
class NORV_API INorvHtmlPageOwner {
 public:
  virtual ~INorvHtmlPageOwner();
  // A navigation not started by the window: TRUE cancels it.
  virtual BOOL OnPageNavigate(const NorvString& url, const NorvString& targetFrame,
                              const NorvString& headers, const std::vector<BYTE>& postData) = 0;
  // The top-level document has loaded (ok FALSE: it failed to load).
  virtual void OnPageLoaded(const QUrl& url, bool ok) = 0;
};

class NORV_API CNorvHtmlPage : public QWebEnginePage {
  Q_OBJECT

 public:
  CNorvHtmlPage(INorvHtmlPageOwner* owner, QObject* parent);
  ~CNorvHtmlPage() override;

  // The object pages reach as `window.external` (null: none). Takes effect
  // for documents created from now on.
  void SetExternal(std::unique_ptr<CNorvHtmlExternal> external);
  CNorvHtmlExternal* External() const { return m_external.get(); }

  // The next main-frame navigation that the window starts itself is not
  // offered to the owner.
  void MarkOwnNavigation() { m_ownNavigation = true; }

  // Runs `script` in the page's main world and waits for its value (at most
  // `timeoutMs`; the event loop runs meanwhile). FALSE when the script threw,
  // the page went away or the time ran out. Not from inside a call that the
  // engine makes (a page method, a navigation request): the engine answers
  // no script until that call returns.
  bool RunScriptSync(const QString& script, QVariant* result, int timeoutMs = 10000);

  // Applies assignments ("name=value", "name.attribute=value") to the
  // elements found by name or id in the current document (asynchronously,
  // in order with later scripts).
  void ApplyAssignments(const NorvStringList& assignments);
  // Blanks the page: writes an empty text into the document and closes it.
  void EraseDocument();

  // The item's view of this page.
  INorvHtmlDocument* Document();

 protected:
  bool acceptNavigationRequest(const QUrl& url, NavigationType type, bool isMainFrame) override;
  bool javaScriptPrompt(const QUrl& securityOrigin, const QString& msg, const QString& defaultValue,
                        QString* result) override;
  void javaScriptConsoleMessage(JavaScriptConsoleMessageLevel level, const QString& message,
                                int lineNumber, const QString& sourceID) override;
  // A link or script that opens a new window: its address is offered to the
  // owner with the target "_blank" and, unless cancelled, shown here.
  QWebEnginePage* createWindow(WebWindowType type) override;

 public:
  // The address a new-window request was about to open.
  void OfferNewWindow(const QUrl& url);

 private:
  void InstallScript();

  INorvHtmlPageOwner* m_owner;
  std::unique_ptr<CNorvHtmlExternal> m_external;
  std::unique_ptr<INorvHtmlDocument> m_document;
  bool m_ownNavigation = false;
  int m_loadGeneration = 0;
};

// Splits assignments into (name, attribute, value) triples: at the first
// "=", and at a "." only when the first "." comes before that "="; entries
// without "=" are skipped. The script that applies them is built from this.
struct NorvHtmlAssignment {
  NorvString name;
  NorvString attribute;  // empty: the inner HTML
  NorvString value;
};
NORV_API std::vector<NorvHtmlAssignment> NorvParseAssignments(const NorvStringList& assignments);

// Serves res://<module file name>/<resource name> from the resource modules
// the process has loaded (the host's and the plugins'); see
// docs/html-views.md. A missing module or resource gets a plain "not found"
// page.
class NORV_API CNorvResSchemeHandler : public QWebEngineUrlSchemeHandler {
  Q_OBJECT

 public:
  using QWebEngineUrlSchemeHandler::QWebEngineUrlSchemeHandler;
  void requestStarted(QWebEngineUrlRequestJob* job) override;
};
