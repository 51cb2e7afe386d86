#include "NorvHtmlExternal.h"

#include <QApplication>
#include <QCoreApplication>
#include <QDialog>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QPalette>
#include <QWidget>
#include <cmath>

#include "NorvHtmlHost.h"
#include "NorvHtmlWnd.h"
#include "norv/NorvDoc.h"
#include "norv/NorvHostCommands.h"
#include "norv/NorvResourceStack.h"
#include "norv/NorvTlgItem.h"
#include "norv/Trace.h"

namespace {

// The host's window commands that page methods post.
constexpr UINT kCmdRefresh = 35000;
constexpr UINT kCmdRefreshRate = 35001;
constexpr UINT kCmdDelete = 35009;
constexpr UINT kCmdProperties = 35010;
constexpr UINT kCmdUp = 35016;
constexpr UINT kCmdNew = 35024;
constexpr UINT kCmdPaste = 35025;
constexpr UINT kCmdCut = 35026;
constexpr UINT kCmdCopy = 35027;
constexpr UINT kCmdLargeIcons = 35028;
constexpr UINT kCmdSmallIcons = 35029;
constexpr UINT kCmdList = 35030;
constexpr UINT kCmdDetails = 35031;
constexpr UINT kCmdGraphical = 35032;
constexpr UINT kCmdExplorerBar = 35131;

// Methods 1 to 22, common to the content view and the frame panes.
#define NORV_HTML_COMMON_METHODS                                                              \
  {"ItemCommand", "l", 'l'}, {"ItemCommandEx", "ll", 'l'}, {"ItemCommandParam", "lv", 'l'},   \
      {"ItemCommandParamEx", "llv", 'l'}, {"ShowHelp", "l", 0}, {"ShowSmallIconView", "l", 0}, \
      {"ShowLargeIconView", "l", 0}, {"ShowListView", "l", 0}, {"ShowDetailsView", "l", 0},   \
      {"ShowGraphicalView", "l", 0}, {"ToggleExplorerBar", "l", 0},                           \
      {"ShowExplorerBar", "l", 0}, {"Refresh", "l", 0}, {"FolderUp", "l", 0},                  \
      {"New", "l", 0}, {"Delete", "l", 0}, {"Copy", "l", 0}, {"Paste", "l", 0},               \
      {"Cut", "l", 0}, {"Properties", "l", 0}, {"SetRefreshRate", "l", 0},                    \
      {"NavigateTo", "s", 0}

enum Common {
  kItemCommand,
  kItemCommandEx,
  kItemCommandParam,
  kItemCommandParamEx,
  kShowHelp,
  kShowSmallIconView,
  kShowLargeIconView,
  kShowListView,
  kShowDetailsView,
  kShowGraphicalView,
  kToggleExplorerBar,
  kShowExplorerBar,
  kRefresh,
  kFolderUp,
  kNew,
  kDelete,
  kCopy,
  kPaste,
  kCut,
  kProperties,
  kSetRefreshRate,
  kNavigateTo,
  kCommonCount
};

// The window command a method without result posts: {command, to the tree
// view (else the main window)}; command 0 for the others.
std::pair<UINT, bool> PostedCommand(int index) {
  switch (index) {
    case kShowSmallIconView: return {kCmdSmallIcons, false};
    case kShowLargeIconView: return {kCmdLargeIcons, false};
    case kShowListView: return {kCmdList, false};
    case kShowDetailsView: return {kCmdDetails, false};
    case kShowGraphicalView: return {kCmdGraphical, false};
    case kToggleExplorerBar: return {kCmdExplorerBar, false};
    case kRefresh: return {kCmdRefresh, false};
    case kFolderUp: return {kCmdUp, false};
    case kNew: return {kCmdNew, true};
    case kDelete: return {kCmdDelete, true};
    case kCopy: return {kCmdCopy, true};
    case kPaste: return {kCmdPaste, true};
    case kCut: return {kCmdCut, true};
    case kProperties: return {kCmdProperties, true};
    case kSetRefreshRate: return {kCmdRefreshRate, true};
    default: return {0, false};
  }
}

// ShowHelp for `item` (null: none): help id -1 asks the item.
void ShowItemHelp(qint32 helpId, CNorvTreeListItem* item) {
  DWORD id = static_cast<DWORD>(helpId);
  NorvString file;
  if (item != nullptr) {
    NorvResourceStack resources(item->GetResourceInstanceHandle());
    if (helpId == -1) id = item->GetContextHelpId();
    const wchar_t* helpFile = item->GetHelpFile();
    if (helpFile != nullptr) file = helpFile;
  } else if (helpId == -1) {
    return;
  }
  if (id == static_cast<DWORD>(-1)) return;
  NorvGetHtmlHost()->ShowHelp(id, NORV_HELP_CONTEXT, file);
}

// Methods 1-22 for the content view (tree routing) or a pane (list routing
// where the list view is shown). Returns the result.
QVariant InvokeCommon(int index, const QVariantList& a, bool pane) {
  INorvHtmlHost* host = NorvGetHtmlHost();
  auto toList = [&] { return pane && host->IsListViewShown(); };
  auto send = [&](int target, qint32 command, DWORD param, void* pParam) -> qint32 {
    UINT cmd = static_cast<UINT>(command);
    if (!pane) {
      if (target != 0 && target != 1) return 0;
      return host->TreeItemCommand(cmd, param, pParam);
    }
    switch (target) {
      case 0: return toList() ? host->ListItemCommand(cmd, param, pParam)
                              : host->TreeItemCommand(cmd, param, pParam);
      case 1: return host->TreeItemCommand(cmd, param, pParam);
      case 2:
        if (host->IsListViewShown() && host->ListHasCommandTarget())
          return host->ListItemCommand(cmd, param, pParam);
        return 0;
      default: return 0;
    }
  };
  switch (index) {
    case kItemCommand: return send(0, a[0].toInt(), 0, nullptr);
    case kItemCommandEx: return send(a[0].toInt(), a[1].toInt(), 0, nullptr);
    case kItemCommandParam: {
      QVariant value = a[1];
      return send(0, a[0].toInt(), static_cast<DWORD>(-1), &value);
    }
    case kItemCommandParamEx: {
      QVariant value = a[2];
      return send(a[0].toInt(), a[1].toInt(), static_cast<DWORD>(-1), &value);
    }
    case kShowHelp: {
      CNorvTreeListItem* item = nullptr;
      if (pane && host->IsListViewShown()) item = host->GetFirstSelectedListItem();
      if (item == nullptr) item = host->GetSelectedTreeItem();
      ShowItemHelp(a[0].toInt(), item);
      return {};
    }
    case kShowExplorerBar:
      if ((host->IsExplorerBarVisible() != FALSE) != (a[0].toInt() != 0))
        host->PostMainCommand(kCmdExplorerBar);
      return {};
    case kNavigateTo:
      host->PostNavigation(a[0].toString().toStdWString());
      return {};
    default: {
      auto [command, toTree] = PostedCommand(index);
      if (command == 0) return {};
      if (toTree)
        host->PostTreeCommand(command);
      else
        host->PostMainCommand(command);
      return {};
    }
  }
}

// Checks and converts one argument; FALSE with a message when it does not
// fit its type.
bool Convert(const QJsonValue& value, char type, QVariant* out) {
  switch (type) {
    case 'l': {
      double d;
      if (value.isBool()) {
        d = value.toBool() ? 1 : 0;
      } else if (value.isDouble()) {
        d = value.toDouble();
      } else {
        return false;
      }
      if (!std::isfinite(d) || d != std::floor(d) || d < -2147483648.0 || d > 4294967295.0)
        return false;
      *out = static_cast<qint32>(static_cast<quint32>(static_cast<qint64>(d)));
      return true;
    }
    case 's':
      if (!value.isString()) return false;
      *out = value.toString();
      return true;
    default:
      *out = value.toVariant();
      return true;
  }
}

QString Answer(const char* key, const QJsonValue& value) {
  QJsonObject o;
  o.insert(QLatin1String(key), value);
  return QString::fromUtf8(QJsonDocument(o).toJson(QJsonDocument::Compact));
}

QJsonValue ResultValue(const QVariant& v, char type) {
  switch (type) {
    case 'l': return static_cast<qint64>(v.toInt());
    case 's': return v.toString();
    case 'b': return v.toBool();
    default: return QJsonValue::Undefined;
  }
}

QString JsString(const QString& text) {
  return QString::fromUtf8(QJsonDocument(QJsonArray{text}).toJson(QJsonDocument::Compact))
      .mid(1)
      .chopped(1);
}

}  // namespace

CNorvHtmlExternal::~CNorvHtmlExternal() = default;

QString CNorvHtmlExternal::PromptMarker() { return QStringLiteral("\x01norv-external\x01"); }

QString CNorvHtmlExternal::Dispatch(const QString& request) {
  QJsonParseError error{};
  QJsonDocument doc = QJsonDocument::fromJson(request.toUtf8(), &error);
  if (error.error != QJsonParseError::NoError || !doc.isObject())
    return Answer("e", QStringLiteral("window.external: malformed call"));
  QJsonObject call = doc.object();
  QString name = call.value(QLatin1String("m")).toString();
  QJsonArray args = call.value(QLatin1String("a")).toArray();
  const std::vector<Method>& methods = Methods();
  for (std::size_t i = 0; i < methods.size(); ++i) {
    const Method& m = methods[i];
    if (name.compare(QLatin1String(m.name), Qt::CaseInsensitive) != 0) continue;
    const int wanted = static_cast<int>(qstrlen(m.arguments));
    if (args.size() != wanted)
      return Answer("e", QStringLiteral("%1: expected %2 argument(s), got %3")
                             .arg(QLatin1String(m.name))
                             .arg(wanted)
                             .arg(args.size()));
    QVariantList converted;
    for (int k = 0; k < wanted; ++k) {
      QVariant v;
      if (!Convert(args.at(k), m.arguments[k], &v))
        return Answer("e", QStringLiteral("%1: argument %2 must be %3")
                               .arg(QLatin1String(m.name))
                               .arg(k + 1)
                               .arg(m.arguments[k] == 's' ? QStringLiteral("a string")
                                                          : QStringLiteral("an integer")));
      converted.append(v);
    }
    NORV_BASE_TRACE(4, 0, NorvFormatString(L"window.external.%S", m.name));
    QVariant result = Invoke(static_cast<int>(i), converted);
    return Answer("r", ResultValue(result, m.result));
  }
  return Answer("e", QStringLiteral("window.external has no method %1").arg(name));
}

QString CNorvHtmlExternal::Script() const {
  QString table;
  for (const Method& m : Methods()) {
    if (!table.isEmpty()) table += QLatin1Char(',');
    table += QStringLiteral("[\"%1\",\"%2\"]").arg(QLatin1String(m.name), QLatin1String(m.arguments));
  }
  // The page's own prompt may be replaced by its scripts later: keep the
  // original. Arguments are checked here already, so that a wrong call
  // throws a TypeError without a round trip; the host checks them again.
  // Method names are found without regard to case, as automation does.
  return QStringLiteral(R"JS((function () {
  'use strict';
  var ask = window.prompt.bind(window);
  var marker = %1;
  var table = [%2];
  function check(name, sig, args) {
    if (args.length !== sig.length)
      throw new TypeError(name + ': expected ' + sig.length + ' argument(s), got ' + args.length);
    var out = [];
    for (var i = 0; i < sig.length; ++i) {
      var a = args[i];
      if (sig[i] === 'l') {
        if (typeof a === 'boolean') a = a ? 1 : 0;
        if (typeof a !== 'number' || !Number.isInteger(a) || a < -2147483648 || a > 4294967295)
          throw new TypeError(name + ': argument ' + (i + 1) + ' must be an integer');
      } else if (sig[i] === 's') {
        if (typeof a !== 'string')
          throw new TypeError(name + ': argument ' + (i + 1) + ' must be a string');
      } else if (a === undefined) {
        a = null;
      }
      out.push(a);
    }
    return out;
  }
  function call(name, sig, args) {
    var text;
    try {
      text = JSON.stringify({m: name, a: check(name, sig, args)});
    } catch (e) {
      if (e instanceof TypeError && e.message.indexOf(name + ':') === 0) throw e;
      throw new TypeError(name + ': an argument cannot be passed to the host');
    }
    var answer = ask(marker, text);
    if (typeof answer !== 'string') throw new Error(name + ': the host refused the call');
    var reply = JSON.parse(answer);
    if (Object.prototype.hasOwnProperty.call(reply, 'e')) throw new TypeError(reply.e);
    return reply.r;
  }
  var methods = {}, byName = {};
  table.forEach(function (m) {
    var f = function () { return call(m[0], m[1], Array.prototype.slice.call(arguments)); };
    methods[m[0]] = f;
    byName[m[0].toLowerCase()] = f;
  });
  var external = new Proxy(Object.freeze(methods), {
    get: function (target, key) {
      if (typeof key !== 'string') return undefined;
      return byName[key.toLowerCase()];
    },
    has: function (target, key) { return typeof key === 'string' && key.toLowerCase() in byName; }
  });
  try {
    Object.defineProperty(window, 'external',
                          {value: external, writable: false, configurable: false, enumerable: true});
  } catch (e) {
    window.external = external;
  }
})();)JS")
      .arg(JsString(PromptMarker()), table);
}

// ---------------------------------------------------------------------------

const std::vector<CNorvHtmlExternal::Method>& CNorvHtmlViewExternal::Methods() const {
  static const std::vector<Method> kMethods = {
      NORV_HTML_COMMON_METHODS,     {"GetHeaderProperty", "l", 'l'}, {"FontFamily", "l", 's'},
      {"FontSize", "l", 's'},       {"FontStyle", "l", 's'},         {"FontWeight", "l", 's'},
      {"Font", "l", 's'}};
  return kMethods;
}

QVariant CNorvHtmlViewExternal::Invoke(int index, const QVariantList& arguments) {
  if (index < kCommonCount) return InvokeCommon(index, arguments, false);
  if (index == kCommonCount) return NorvHtmlHeaderProperty(arguments[0].toInt());
  return NorvHtmlFontValue(index - kCommonCount - 1);
}

const std::vector<CNorvHtmlExternal::Method>& CNorvHtmlPaneExternal::Methods() const {
  static const std::vector<Method> kMethods = [] {
    std::vector<Method> m = {NORV_HTML_COMMON_METHODS, {"EndDialog", "l", 0},
                             {"FontFamily", "l", 's'}, {"FontSize", "l", 's'},
                             {"FontStyle", "l", 's'},  {"FontWeight", "l", 's'},
                             {"Font", "l", 's'},       {"GetHeaderProperty", "l", 'l'}};
    // The pane's command routing hands no results back.
    m[kItemCommandEx].result = 0;
    m[kItemCommandParamEx].result = 0;
    return m;
  }();
  return kMethods;
}

QVariant CNorvHtmlPaneExternal::Invoke(int index, const QVariantList& arguments) {
  if (index < kCommonCount) return InvokeCommon(index, arguments, true);
  if (index == kCommonCount) {  // EndDialog
    auto* dialog = m_pane ? qobject_cast<QDialog*>(m_pane->parentWidget()) : nullptr;
    if (dialog != nullptr) dialog->done(arguments[0].toInt());
    return {};
  }
  if (index == kCommonCount + 6) return NorvHtmlHeaderProperty(arguments[0].toInt());
  return NorvHtmlFontValue(index - kCommonCount - 1);
}

const std::vector<CNorvHtmlExternal::Method>& CNorvHtmlWndExternal::Methods() const {
  static const std::vector<Method> kMethods = {{"PostMessage", "lll", 'b'}};
  return kMethods;
}

QVariant CNorvHtmlWndExternal::Invoke(int, const QVariantList& a) {
  QWidget* parent = m_window ? m_window->parentWidget() : nullptr;
  if (parent == nullptr) return false;
  QCoreApplication::postEvent(parent,
                              new CNorvHtmlMessageEvent(a[0].toInt(), a[1].toInt(), a[2].toInt()));
  return true;
}

// ---------------------------------------------------------------------------

QString NorvHtmlFontValue(int which) {
  CNorvDoc* doc = CNorvDoc::GetDoc();
  if (doc == nullptr) return {};
  NorvString face, size, style, weight;
  if (!doc->GetExplorerFont(face, size, style, weight)) return {};
  switch (which) {
    case 0: return QString::fromStdWString(face);
    case 1: return QString::fromStdWString(size);
    case 2: return QString::fromStdWString(style);
    case 3: return QString::fromStdWString(weight);
    default:
      return QString::fromStdWString(
          NorvFormatString(L"%s %s %s '%s'", style.c_str(), weight.c_str(), size.c_str(),
                           face.c_str()));
  }
}

qint32 NorvHtmlHeaderProperty(int which) {
  if (which == 0) return NorvGetHtmlHost()->GetListHeaderHeight();
  static const QPalette::ColorRole kRoles[] = {QPalette::Button, QPalette::Light, QPalette::Dark,
                                               QPalette::Midlight, QPalette::Shadow,
                                               QPalette::ButtonText};
  if (which < 1 || which > 6) return -1;
  QPalette palette = qobject_cast<QApplication*>(QCoreApplication::instance()) != nullptr
                         ? QApplication::palette()
                         : QPalette();
  QColor c = palette.color(QPalette::Active, kRoles[which - 1]);
  return static_cast<qint32>((c.red() << 16) | (c.green() << 8) | c.blue());
}
