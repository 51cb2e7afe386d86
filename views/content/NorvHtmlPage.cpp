#include "NorvHtmlPage.h"

#include <QBuffer>
#include <QChildEvent>
#include <QKeyEvent>
#include <QWidget>
#include <QCoreApplication>
#include <QEventLoop>
#include <QFileInfo>
#include <QJsonArray>
#include <QJsonDocument>
#include <QTimer>
#include <QWebEngineHttpRequest>
#include <QWebEngineProfile>
#include <QWebEngineScript>
#include <QWebEngineScriptCollection>
#include <QWebEngineUrlRequestJob>
#include <QWebEngineUrlScheme>
#include <memory>
#include <mutex>

#include "NorvHtmlExternal.h"
#include "NorvHtmlHost.h"
#include "norv/NorvHostCommands.h"
#include "norv/NorvPluginBase.h"
#include "norv/PluginHandler.h"
#include "norv/Trace.h"
#include "platform/library.h"
#include "platform/resources.h"

namespace {

const char kScheme[] = "res";
const char kExternalScriptName[] = "norv-external";

QString JsonText(const QJsonArray& array) {
  return QString::fromUtf8(QJsonDocument(array).toJson(QJsonDocument::Compact));
}

// The script that finds an element by name or id among all elements of the
// document (the first in document order).
const char kFindElement[] =
    "function (key) {"
    "  var all = document.getElementsByTagName('*');"
    "  for (var i = 0; i < all.length; ++i)"
    "    if (all[i].id === key || all[i].getAttribute('name') === key) return all[i];"
    "  return null;"
    "}";

// The document as items see it: scripts and elements of the page, answered
// synchronously.
class CNorvHtmlDocument : public INorvHtmlDocument {
 public:
  explicit CNorvHtmlDocument(CNorvHtmlPage* page) : m_page(page) {}

  NorvString GetUrl() override { return m_page->url().toString().toStdWString(); }

  BOOL RunScript(const NorvString& script, NorvString* result) override {
    // Global code, as if the page ran it; the value comes back as text.
    QString wrapped =
        QStringLiteral(
            "(function () { try { var v = (0, eval)(%1);"
            " var s = typeof v === 'string' ? v : v === undefined ? '' : JSON.stringify(v);"
            " return {ok: true, v: s === undefined ? String(v) : s};"
            " } catch (e) { return {ok: false}; } })()")
            .arg(JsonText(QJsonArray{QString::fromStdWString(script)}).mid(1).chopped(1));
    QVariant answer;
    if (!m_page->RunScriptSync(wrapped, &answer)) return FALSE;
    QVariantMap map = answer.toMap();
    if (!map.value(QStringLiteral("ok")).toBool()) return FALSE;
    if (result != nullptr) *result = map.value(QStringLiteral("v")).toString().toStdWString();
    return TRUE;
  }

  BOOL GetElement(const NorvString& nameOrId, const NorvString& attribute,
                  NorvString& value) override {
    QString script =
        QStringLiteral(
            "(function (a) { var e = (%1)(a[0]); if (!e) return null;"
            " if (!a[1]) return e.innerHTML;"
            " return e.hasAttribute(a[1]) ? e.getAttribute(a[1]) : null; })(%2)")
            .arg(QLatin1String(kFindElement),
                 JsonText(QJsonArray{QString::fromStdWString(nameOrId),
                                     QString::fromStdWString(attribute)}));
    QVariant answer;
    if (!m_page->RunScriptSync(script, &answer) || answer.isNull() || !answer.isValid())
      return FALSE;
    value = answer.toString().toStdWString();
    return TRUE;
  }

  BOOL SetElement(const NorvString& nameOrId, const NorvString& attribute,
                  const NorvString& value) override {
    QString script =
        QStringLiteral(
            "(function (a) { var e = (%1)(a[0]); if (!e) return false;"
            " if (a[1]) e.setAttribute(a[1], a[2]); else e.innerHTML = a[2];"
            " return true; })(%2)")
            .arg(QLatin1String(kFindElement),
                 JsonText(QJsonArray{QString::fromStdWString(nameOrId),
                                     QString::fromStdWString(attribute),
                                     QString::fromStdWString(value)}));
    QVariant answer;
    return m_page->RunScriptSync(script, &answer) && answer.toBool() ? TRUE : FALSE;
  }

 private:
  CNorvHtmlPage* m_page;
};

bool SameOrigin(const QUrl& a, const QUrl& b) {
  return a.scheme().compare(b.scheme(), Qt::CaseInsensitive) == 0 &&
         a.host().compare(b.host(), Qt::CaseInsensitive) == 0 && a.port() == b.port();
}

}  // namespace

// ---------------------------------------------------------------------------

void NorvRegisterHtmlSchemes() {
  static bool registered = false;
  if (registered) return;
  registered = true;
  QWebEngineUrlScheme scheme(kScheme);
  // res://<module>/<name>: the module is the host part, so that pages may
  // link their images and style sheets by relative names.
  scheme.setSyntax(QWebEngineUrlScheme::Syntax::Host);
  scheme.setFlags(QWebEngineUrlScheme::SecureScheme | QWebEngineUrlScheme::LocalScheme);
  QWebEngineUrlScheme::registerScheme(scheme);
}

QWebEngineProfile* NorvHtmlProfile() {
  static QPointer<QWebEngineProfile> profile;
  if (profile.isNull()) {
    profile = new QWebEngineProfile(QCoreApplication::instance());
    profile->installUrlSchemeHandler(kScheme, new CNorvResSchemeHandler(profile));
  }
  return profile;
}

INorvHtmlPageOwner::~INorvHtmlPageOwner() = default;

CNorvHtmlPage::CNorvHtmlPage(INorvHtmlPageOwner* owner, QObject* parent)
    : QWebEnginePage(NorvHtmlProfile(), parent), m_owner(owner) {
  m_document = std::make_unique<CNorvHtmlDocument>(this);
  // The owner's handlers run scripts and wait for their answers
  // (RunScriptSync), which the engine gives only once its own call has
  // returned; a posted event may still be delivered inside that call, a
  // timer's is not.
  connect(this, &QWebEnginePage::loadStarted, this, [this] { ++m_loadGeneration; });
  connect(this, &QWebEnginePage::loadFinished, this, [this](bool ok) {
    const int generation = m_loadGeneration;
    QTimer::singleShot(1, this, [this, ok, generation] {
      if (generation == m_loadGeneration && m_owner != nullptr) m_owner->OnPageLoaded(url(), ok);
    });
  });
}

CNorvHtmlPage::~CNorvHtmlPage() = default;

void CNorvHtmlPage::SetExternal(std::unique_ptr<CNorvHtmlExternal> external) {
  m_external = std::move(external);
  InstallScript();
}

void CNorvHtmlPage::InstallScript() {
  QWebEngineScriptCollection& collection = scripts();
  for (const QWebEngineScript& old : collection.find(QLatin1String(kExternalScriptName)))
    collection.remove(old);
  if (!m_external) return;
  QWebEngineScript script;
  script.setName(QLatin1String(kExternalScriptName));
  script.setSourceCode(m_external->Script());
  script.setInjectionPoint(QWebEngineScript::DocumentCreation);
  script.setWorldId(QWebEngineScript::MainWorld);
  script.setRunsOnSubFrames(false);
  collection.insert(script);
}

bool CNorvHtmlPage::RunScriptSync(const QString& script, QVariant* result, int timeoutMs) {
  struct State {
    bool done = false;
    QVariant value;
    QEventLoop loop;
  };
  auto state = std::make_shared<State>();
  std::weak_ptr<State> weak = state;
  runJavaScript(script, QWebEngineScript::MainWorld, [weak](const QVariant& value) {
    if (auto s = weak.lock()) {
      s->done = true;
      s->value = value;
      s->loop.quit();
    }
  });
  if (!state->done) {
    QPointer<CNorvHtmlPage> self(this);
    QTimer timer;
    timer.setSingleShot(true);
    QObject::connect(&timer, &QTimer::timeout, &state->loop, &QEventLoop::quit);
    QObject::connect(this, &QObject::destroyed, &state->loop, &QEventLoop::quit);
    timer.start(timeoutMs);
    state->loop.exec();
    if (self.isNull()) return false;
  }
  if (!state->done) {
    NORV_BASE_TRACE(2, 0, L"CNorvHtmlPage: the page did not answer a script in time");
    return false;
  }
  if (result != nullptr) *result = state->value;
  return true;
}

std::vector<NorvHtmlAssignment> NorvParseAssignments(const NorvStringList& assignments) {
  std::vector<NorvHtmlAssignment> out;
  for (const NorvString& entry : assignments) {
    std::size_t equals = entry.find(L'=');
    if (equals == NorvString::npos) continue;
    NorvHtmlAssignment a;
    NorvString left = entry.substr(0, equals);
    std::size_t dot = entry.find(L'.');
    if (dot != NorvString::npos && dot < equals) {
      a.name = left.substr(0, dot);
      a.attribute = left.substr(dot + 1);
    } else {
      a.name = left;
    }
    a.value = entry.substr(equals + 1);
    out.push_back(std::move(a));
  }
  return out;
}

void CNorvHtmlPage::ApplyAssignments(const NorvStringList& assignments) {
  QJsonArray list;
  for (const NorvHtmlAssignment& a : NorvParseAssignments(assignments))
    list.append(QJsonArray{QString::fromStdWString(a.name), QString::fromStdWString(a.attribute),
                           QString::fromStdWString(a.value)});
  if (list.isEmpty()) return;
  runJavaScript(QStringLiteral("(function (list) { var find = %1;"
                               " list.forEach(function (a) { var e = find(a[0]); if (!e) return;"
                               " if (a[1]) e.setAttribute(a[1], a[2]); else e.innerHTML = a[2];"
                               " }); })(%2)")
                    .arg(QLatin1String(kFindElement), JsonText(list)),
                QWebEngineScript::MainWorld);
}

void CNorvHtmlPage::EraseDocument() {
  runJavaScript(QStringLiteral("document.open(); document.write(''); document.close();"),
                QWebEngineScript::MainWorld);
}

INorvHtmlDocument* CNorvHtmlPage::Document() { return m_document.get(); }

bool CNorvHtmlPage::acceptNavigationRequest(const QUrl& url, NavigationType type,
                                            bool isMainFrame) {
  if (isMainFrame && m_ownNavigation && type == NavigationTypeTyped) {
    m_ownNavigation = false;
    return true;
  }
  // A server's redirect continues a navigation already allowed; a frame's
  // empty document is no navigation.
  if (type == NavigationTypeRedirect || type == NavigationTypeReload) return true;
  if (!isMainFrame && url.scheme() == QLatin1String("about")) return true;
  if (m_owner == nullptr) return true;
  BOOL cancel = m_owner->OnPageNavigate(url.toString().toStdWString(),
                                        isMainFrame ? NorvString() : NorvString(L"_frame"),
                                        NorvString(), std::vector<BYTE>());
  return !cancel;
}

namespace {

// Stands in for the new window a page asks for: it takes the address of its
// first navigation, hands it to the page that asked, and goes.
class CNorvHtmlWindowCatcher : public QWebEnginePage {
 public:
  CNorvHtmlWindowCatcher(CNorvHtmlPage* opener)
      : QWebEnginePage(opener->profile(), opener), m_opener(opener) {}

 protected:
  bool acceptNavigationRequest(const QUrl& url, NavigationType, bool isMainFrame) override {
    if (!m_done && isMainFrame) {
      m_done = true;
      QPointer<CNorvHtmlPage> opener(m_opener);
      // Outside the engine's call, as every owner call is.
      QTimer::singleShot(1, opener, [opener, url] {
        if (opener) opener->OfferNewWindow(url);
      });
      deleteLater();
    }
    return false;
  }

 private:
  CNorvHtmlPage* m_opener;
  bool m_done = false;
};

}  // namespace

QWebEnginePage* CNorvHtmlPage::createWindow(WebWindowType) {
  return new CNorvHtmlWindowCatcher(this);
}

void CNorvHtmlPage::OfferNewWindow(const QUrl& url) {
  if (m_owner != nullptr &&
      m_owner->OnPageNavigate(url.toString().toStdWString(), L"_blank", NorvString(),
                              std::vector<BYTE>()))
    return;
  MarkOwnNavigation();  // offered already
  load(url);
}

bool CNorvHtmlPage::javaScriptPrompt(const QUrl& securityOrigin, const QString& msg,
                                     const QString& defaultValue, QString* result) {
  if (msg != CNorvHtmlExternal::PromptMarker())
    return QWebEnginePage::javaScriptPrompt(securityOrigin, msg, defaultValue, result);
  // Only the page's own origin may call the host: a frame of another origin
  // that found the marker gets nothing.
  if (!m_external || !SameOrigin(securityOrigin, url())) {
    NORV_BASE_TRACE(2, 0, L"CNorvHtmlPage: refused a host call from " +
                              securityOrigin.toString().toStdWString());
    return false;
  }
  *result = m_external->Dispatch(defaultValue);
  return true;
}

void CNorvHtmlPage::javaScriptConsoleMessage(JavaScriptConsoleMessageLevel level,
                                             const QString& message, int lineNumber,
                                             const QString& sourceID) {
  NORV_BASE_TRACE(level == ErrorMessageLevel ? 2 : 4, 0,
                  NorvFormatString(L"HTML page %s:%d: %s", sourceID.toStdWString().c_str(),
                                   lineNumber, message.toStdWString().c_str()));
}

// ---------------------------------------------------------------------------
// res://<module file name>/<resource name>

namespace {

// norvrc numbers a resource given by name (HTML "name" "file") by this
// hash of the name with ASCII letters in upper case: FNV-1a over its UTF-8 bytes, the top bit
// set so that it cannot meet a numbered resource below 2^31.
quint32 ResourceNameId(const QString& name) {
  quint32 h = 2166136261u;
  for (char c : name.toUtf8()) {
    unsigned char b = static_cast<unsigned char>(c);
    if (b >= 'a' && b <= 'z') b = static_cast<unsigned char>(b - 'a' + 'A');
    h ^= b;
    h *= 16777619u;
  }
  return h | 0x80000000u;
}

// The loaded resource module whose file is named `name` (no folder; not
// case-sensitive, as the host part of the address is lower case).
HMODULE FindModule(const QString& name) {
  std::vector<HMODULE> modules = {plat::HostResourceModule(), plat::CurrentResourceModule()};
  // The plugin table changes only on this (the user-interface) thread.
  for (const NorvPluginRecord& record : CPluginHandler::pluginList)
    modules.push_back(record.resourceModule);
  for (HMODULE m : modules) {
    if (m == nullptr) continue;
    QString file = QFileInfo(QString::fromStdString(plat::ModuleFileName(m))).fileName();
    if (file.compare(name, Qt::CaseInsensitive) == 0) return m;
  }
  return nullptr;
}

QByteArray MimeType(const QString& name, const QByteArray& data) {
  QString suffix = QFileInfo(name).suffix().toLower();
  if (suffix == QLatin1String("css")) return "text/css";
  if (suffix == QLatin1String("js")) return "text/javascript";
  if (suffix == QLatin1String("png") || data.startsWith("\x89PNG")) return "image/png";
  if (suffix == QLatin1String("gif")) return "image/gif";
  if (suffix == QLatin1String("jpg") || suffix == QLatin1String("jpeg")) return "image/jpeg";
  if (suffix == QLatin1String("svg")) return "image/svg+xml";
  if (suffix == QLatin1String("txt")) return "text/plain";
  return "text/html";
}

void Reply(QWebEngineUrlRequestJob* job, const QByteArray& mime, const QByteArray& data) {
  auto* buffer = new QBuffer(job);
  buffer->setData(data);
  buffer->open(QIODevice::ReadOnly);
  job->reply(mime, buffer);
}

}  // namespace

void CNorvResSchemeHandler::requestStarted(QWebEngineUrlRequestJob* job) {
  const QUrl url = job->requestUrl();
  const QString module = url.host();
  QStringList parts = url.path().split(QLatin1Char('/'), Qt::SkipEmptyParts);
  HMODULE handle = module.isEmpty() ? nullptr : FindModule(module);

  const BYTE* data = nullptr;
  std::size_t size = 0;
  QString name;
  if (handle != nullptr && (parts.size() == 1 || parts.size() == 2)) {
    // res://module/name, or res://module/type/name with a numbered type.
    name = parts.last();
    std::vector<plat::ResourceType> types = {plat::ResourceType::Html, plat::ResourceType::Image};
    bool typeOk = true;
    if (parts.size() == 2) {
      uint type = parts.first().toUInt(&typeOk);
      types = {static_cast<plat::ResourceType>(type)};
    }
    QString number = name.startsWith(QLatin1Char('#')) ? name.mid(1) : name;
    bool numeric = false;
    uint id = number.toUInt(&numeric);
    if (!numeric) id = ResourceNameId(name);
    for (plat::ResourceType type : types) {
      if (!typeOk) break;
      // The lookup falls back to other modules: take only the named one's.
      if (plat::FindResource(handle, type, id, &data, &size) &&
          plat::ModuleFromAddress(data) == handle)
        break;
      data = nullptr;
    }
  }
  if (data == nullptr) {
    NORV_BASE_TRACE(2, 0, L"res: not found: " + url.toString().toStdWString());
    QString text = url.toString().toHtmlEscaped();
    Reply(job, "text/html",
          QStringLiteral("<!DOCTYPE html><html><head><meta charset=\"utf-8\"><title>Not found"
                         "</title></head><body><p>Not found: %1</p></body></html>")
              .arg(text)
              .toUtf8());
    return;
  }
  QByteArray bytes(reinterpret_cast<const char*>(data), static_cast<qsizetype>(size));
  Reply(job, MimeType(name, bytes), bytes);
}

QWebEngineHttpRequest NorvHtmlRequest(const NorvString& url, const std::vector<BYTE>& postData,
                                      const NorvString& headers) {
  QWebEngineHttpRequest request(QUrl::fromUserInput(QString::fromStdWString(url)));
  if (!postData.empty()) {
    request.setMethod(QWebEngineHttpRequest::Post);
    request.setPostData(QByteArray(reinterpret_cast<const char*>(postData.data()),
                                   static_cast<qsizetype>(postData.size())));
  }
  for (const QString& line : QString::fromStdWString(headers).split(QLatin1Char('\n'))) {
    qsizetype colon = line.indexOf(QLatin1Char(':'));
    if (colon <= 0) continue;
    request.setHeader(line.left(colon).trimmed().toUtf8(), line.mid(colon + 1).trimmed().toUtf8());
  }
  return request;
}

// ---------------------------------------------------------------------------
// Keys

namespace {

class CNorvHtmlKeyFilter : public QObject {
 public:
  using QObject::QObject;

 protected:
  bool eventFilter(QObject* watched, QEvent* event) override {
    if (event->type() == QEvent::ChildAdded) {
      // The web engine puts its render widget in as a child, later.
      QObject* child = static_cast<QChildEvent*>(event)->child();
      if (child->isWidgetType()) child->installEventFilter(this);
      return false;
    }
    if (event->type() != QEvent::KeyPress || watched == parent()) return false;
    auto* key = static_cast<QKeyEvent*>(event);
    const Qt::KeyboardModifiers mods =
        key->modifiers() & (Qt::ShiftModifier | Qt::ControlModifier | Qt::AltModifier);
    UINT command = 0;
    if (mods == Qt::AltModifier && key->key() == Qt::Key_Left) command = ID_NORV_CMD_BACK_FIRST;
    if (mods == Qt::AltModifier && key->key() == Qt::Key_Right)
      command = ID_NORV_CMD_FORWARD_FIRST;
    if (mods == Qt::NoModifier && key->key() == Qt::Key_F1) command = NORV_HTML_HELP_COMMAND;
    if (command == 0) return false;
    NorvGetHtmlHost()->PostMainCommand(command);
    return true;
  }
};

}  // namespace

void NorvInstallHtmlKeys(QWidget* view) {
  auto* filter = new CNorvHtmlKeyFilter(view);
  view->installEventFilter(filter);
  for (QObject* child : view->children())
    if (child->isWidgetType()) child->installEventFilter(filter);
}
