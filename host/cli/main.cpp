// norvexplore-cli: the explorer host without windows. It starts the
// framework as the explorer does (command line, settings key, trace,
// plugins, document, root) and prints what the explorer would show: the
// object tree to a given depth and the list of chosen objects. With
// --watch it then waits and prints the changes that plugins report from
// their own threads, doing headless what the tree view does when it
// applies them.
#include <stdlib.h>

#include <QGuiApplication>
#include <QString>
#include <algorithm>
#include <chrono>
#include <condition_variable>
#include <cstdio>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "norv/NorvColumns.h"
#include "norv/NorvCommandLine.h"
#include "norv/NorvCommandLineInfo.h"
#include "norv/NorvDoc.h"
#include "norv/NorvHostResources.h"
#include "norv/NorvItemCommands.h"
#include "norv/NorvMessageBox.h"
#include "norv/NorvRegistryKey.h"
#include "norv/NorvTlgItem.h"
#include "norv/NorvTreePath.h"
#include "norv/NorvViewServices.h"
#include "norv/PluginHandler.h"
#include "norv/Trace.h"
#include "platform/resources.h"
#include "platform/sysinfo.h"
#include "platform/text.h"

namespace {

const char kProgram[] = "norvexplore-cli";

const char kUsage[] =
    "Usage: norvexplore-cli [--depth N] [--list PATH]... [--watch SECONDS] [OPTION...]\n"
    "\n"
    "Starts the explorer framework without windows, loads the registered\n"
    "plugins and prints the object tree, each object with its tree text and\n"
    "its address class://id.\n"
    "\n"
    "  --depth N        print the tree down to depth N below the root (default 2)\n"
    "  --list PATH      print the list of the object at tree path PATH as a table\n"
    "                   (\"/\" is the root, \"/System/Processes\" a folder below it;\n"
    "                   a \"/\" inside a name is written \"//\"; \"..\" goes up,\n"
    "                   \".../NAME\" up to the nearest NAME); may be repeated\n"
    "  --watch SECONDS  then wait that long and print every change that the\n"
    "                   plugins report for the objects printed so far\n"
    "  --help           show this help\n"
    "\n"
    "Explorer options (as the explorer takes them):\n"
    "  registrykey:KEY  settings key (default \"Velmora\\NORV2.1\")\n"
    "  locale:LOCALE    language of the plugins (default \"enu\")\n"
    "  plugin:NAME      load only this registered plugin (repeatable)\n"
    "  loadplugin:NAME;PLUGINDLL;RESOURCEDLL;HELPFILE;MESSAGEHELPFILE\n"
    "                   load this plugin instead of the registered ones (repeatable)\n"
    "  class:CLASS id:ID  start from this object instead of the default root\n"
    "  param:TEXT       parameter for the root's plugin\n"
    "  traceEnabled:N traceLevel:N traceLocation:FOLDER traceFileSize:N traceKeepFiles:N\n"
    "  -quiet -nosplash -notips\n"
    "\n"
    "Exit status: 0 on success, 1 when the plugins or the root cannot be set up\n"
    "or a list path names no object, 2 for a malformed command line.\n";

struct CliOptions {
  int depth = 2;
  std::vector<std::string> lists;
  int watchSeconds = 0;
  bool help = false;
};

std::string U8(const NorvString& text) { return plat::ToUtf8(text); }

int UsageError(const std::string& message) {
  std::fprintf(stderr, "%s: %s\nTry \"%s --help\" for more information.\n", kProgram,
               message.c_str(), kProgram);
  return 2;
}

bool ParseCount(const std::string& text, int maximum, int* out) {
  if (text.empty() || text.size() > 6) return false;
  int value = 0;
  for (char c : text) {
    if (c < '0' || c > '9') return false;
    value = value * 10 + (c - '0');
  }
  if (value > maximum) return false;
  *out = value;
  return true;
}

// Takes this program's own options out of the arguments; the rest goes to
// the explorer's parser. Returns 0, or the exit status of a usage error.
int ParseOwnOptions(int argc, char** argv, CliOptions* options, std::vector<NorvString>* rest) {
  for (int i = 1; i < argc; ++i) {
    const std::string arg = argv[i];
    auto value = [&](const std::string& name, std::string* out) -> int {
      if (arg == name) {
        if (i + 1 >= argc) return UsageError("option " + name + " needs a value");
        *out = argv[++i];
        return 0;
      }
      *out = arg.substr(name.size() + 1);  // "--name=value"
      return 0;
    };
    auto is = [&](const std::string& name) {
      return arg == name || arg.rfind(name + "=", 0) == 0;
    };
    std::string text;
    if (arg == "--help" || arg == "-h" || arg == "-?") {
      options->help = true;
    } else if (is("--depth")) {
      if (int rc = value("--depth", &text)) return rc;
      if (!ParseCount(text, 1000, &options->depth))
        return UsageError("--depth needs a number from 0 to 1000, not \"" + text + "\"");
    } else if (is("--list")) {
      if (int rc = value("--list", &text)) return rc;
      options->lists.push_back(text);
    } else if (is("--watch")) {
      if (int rc = value("--watch", &text)) return rc;
      if (!ParseCount(text, 3600, &options->watchSeconds))
        return UsageError("--watch needs a number of seconds from 0 to 3600, not \"" + text + "\"");
    } else if (arg.rfind("--", 0) == 0) {
      return UsageError("unknown option \"" + arg + "\"");
    } else {
      rest->push_back(plat::FromUtf8(arg));
    }
  }
  return 0;
}

// ----- what the tree and the list would show --------------------------------

NorvString TreeText(CNorvTreeListItem* item) {
  treeListViewInfo info;
  treeListViewInfo* p = &info;
  CNorvItemCallScope scope(item);
  item->GetTreeViewInfo(p, NORV_TLVI_TEXT);
  return p != nullptr ? p->strText : NorvString();
}

GetItemsResult FetchChildren(CNorvTreeListItem* item, BOOL treeOnly) {
  CNorvItemCallScope scope(item);
  return NORV_ITEM_GETITEMS(item, treeOnly);
}

void PrintTree(CNorvTreeListItem* item, int depth, int maxDepth) {
  std::printf("%*s%s  [%s]\n", depth * 2, "", U8(TreeText(item)).c_str(),
              U8(item->GetObjectAddress()).c_str());
  if (depth >= maxDepth) return;
  BOOL hasChildren = FALSE;
  {
    CNorvItemCallScope scope(item);
    hasChildren = item->HasTreeItems();
  }
  if (!hasChildren) return;
  if (FetchChildren(item, TRUE) != GETITEMS_OK) {
    std::printf("%*s(the children could not be read)\n", (depth + 1) * 2, "");
    return;
  }
  for (CNorvTreeListItem* child : item->GetItemList()) {
    if (child != nullptr && (child->GetItemListMask() & NORV_ITEMLIST_TREE) != 0)
      PrintTree(child, depth + 1, maxDepth);
  }
}

// The tree node at `path`, matching texts as the tree does (elements
// without regard to case, ".../" exactly). The console host has no
// selection: the root stands for it, so "./x" and "x" start there too.
// Null when there is no such node.
CNorvTreeListItem* ResolvePath(CNorvTreeListItem* root, const NorvString& path) {
  // The nodes from the root down to the current one.
  std::vector<CNorvTreeListItem*> chain{root};
  auto findChild = [](CNorvTreeListItem* item, const NorvString& text) -> CNorvTreeListItem* {
    if (FetchChildren(item, TRUE) != GETITEMS_OK) return nullptr;
    const QString wanted = QString::fromStdWString(text);
    for (CNorvTreeListItem* child : item->GetItemList()) {
      if (child == nullptr || (child->GetItemListMask() & NORV_ITEMLIST_TREE) == 0) continue;
      if (QString::fromStdWString(TreeText(child)).compare(wanted, Qt::CaseInsensitive) == 0)
        return child;
    }
    return nullptr;
  };
  for (const NorvTreePathStep& step : ParseTreePath(path)) {
    switch (step.kind) {
      case NorvTreePathStep::kRoot:
      case NorvTreePathStep::kSelection:
        chain.resize(1);
        break;
      case NorvTreePathStep::kParent:
        if (chain.size() < 2) return nullptr;
        chain.pop_back();
        break;
      case NorvTreePathStep::kNearestAncestor: {
        bool found = false;
        while (chain.size() >= 2 && !found) {
          chain.pop_back();
          found = TreeText(chain.back()) == step.text;
        }
        if (found) break;
        // No ancestor of that name up to the top: the text names a node
        // below the top.
        CNorvTreeListItem* child = findChild(chain.back(), step.text);
        if (child == nullptr) return nullptr;
        chain.push_back(child);
        break;
      }
      case NorvTreePathStep::kChild: {
        CNorvTreeListItem* child = findChild(chain.back(), step.text);
        if (child == nullptr) return nullptr;
        chain.push_back(child);
        break;
      }
    }
  }
  return chain.back();
}

std::size_t Width(const NorvString& text) { return text.size(); }

std::string Cell(const NorvString& text, std::size_t width, int format) {
  const std::size_t pad = width > Width(text) ? width - Width(text) : 0;
  std::size_t left = 0;
  if (format == NORV_COLUMN_RIGHT) left = pad;
  if (format == NORV_COLUMN_CENTER) left = pad / 2;
  return std::string(left, ' ') + U8(text) + std::string(pad - left, ' ');
}

bool PrintList(CNorvTreeListItem* item, const std::string& path) {
  NorvStringList* titles = nullptr;
  NorvUIntArray* widths = nullptr;
  NorvUIntArray* ids = nullptr;
  NorvUIntArray* formats = nullptr;
  int sortId = -1;
  {
    CNorvItemCallScope scope(item);
    sortId = item->ListColumns(titles, widths, ids, formats);
  }
  if (FetchChildren(item, FALSE) != GETITEMS_OK) {
    std::printf("%s  [%s]: the list could not be read\n", path.c_str(),
                U8(item->GetObjectAddress()).c_str());
    return false;
  }

  // The visible columns (hidden ones are left out, as the list starts).
  const NorvColumnSet set = NorvDecodeColumns(titles, widths, ids, formats, sortId);
  std::vector<NorvColumn> columns;
  for (const NorvColumn& c : set.columns)
    if (!c.hidden) columns.push_back(c);
  if (columns.empty()) {
    NorvColumn name;
    name.title = L"Name";
    columns.push_back(name);
  }

  std::vector<CNorvTreeListItem*> rows;
  for (CNorvTreeListItem* child : item->GetItemList()) {
    if (child != nullptr && (child->GetItemListMask() & NORV_ITEMLIST_LIST) != 0)
      rows.push_back(child);
  }
  // The list's first sorting: the default sort column, else the first.
  std::size_t sortColumn = 0;
  if (set.defaultSortId != -1) {
    for (std::size_t i = 0; i < columns.size(); ++i) {
      if (columns[i].id == static_cast<UINT>(set.defaultSortId)) sortColumn = i;
    }
  }
  const NorvColumn& by = columns[sortColumn];
  std::stable_sort(rows.begin(), rows.end(), [&](CNorvTreeListItem* a, CNorvTreeListItem* b) {
    CNorvItemCallScope scope(a);
    return a->Compare(b, static_cast<int>(by.id), by.ascendingFirst) < 0;
  });

  std::vector<std::vector<NorvString>> cells;
  std::vector<std::size_t> widthsOut(columns.size());
  for (std::size_t c = 0; c < columns.size(); ++c) widthsOut[c] = Width(columns[c].title);
  for (CNorvTreeListItem* row : rows) {
    std::vector<NorvString> line;
    CNorvItemCallScope scope(row);
    for (std::size_t c = 0; c < columns.size(); ++c) {
      treeListViewInfo info;
      treeListViewInfo* p = &info;
      NorvString text;
      if (row->GetListViewInfo(p, NORV_TLVI_TEXT, static_cast<int>(columns[c].id)) && p != nullptr)
        text = p->strText;
      // One row, one line.
      std::replace(text.begin(), text.end(), L'\n', L' ');
      widthsOut[c] = std::max(widthsOut[c], Width(text));
      line.push_back(std::move(text));
    }
    cells.push_back(std::move(line));
  }

  std::printf("%s  [%s]: %zu %s\n", path.c_str(), U8(item->GetObjectAddress()).c_str(),
              rows.size(), rows.size() == 1 ? "row" : "rows");
  std::string header, rule;
  for (std::size_t c = 0; c < columns.size(); ++c) {
    if (c > 0) {
      header += "  ";
      rule += "  ";
    }
    header += Cell(columns[c].title, widthsOut[c], columns[c].format);
    rule += std::string(widthsOut[c], '-');
  }
  while (!header.empty() && header.back() == ' ') header.pop_back();
  std::printf("%s\n%s\n", header.c_str(), rule.c_str());
  for (const auto& line : cells) {
    std::string out;
    for (std::size_t c = 0; c < columns.size(); ++c) {
      if (c > 0) out += "  ";
      out += Cell(line[c], widthsOut[c], columns[c].format);
    }
    while (!out.empty() && out.back() == ' ') out.pop_back();
    std::printf("%s\n", out.c_str());
  }
  return true;
}

// ----- changes reported from other threads ----------------------------------

// Stands in for the main frame: a plugin's InvokeRefresh wakes the waiting
// main thread.
class WatchServices : public INorvViewServices {
 public:
  void InvokeRefresh() override {
    {
      std::lock_guard<std::mutex> lock(m_mutex);
      ++m_requests;
    }
    m_cv.notify_all();
  }
  // Waits until a refresh was requested or the time is up; the number of
  // requests seen so far.
  int Wait(std::chrono::steady_clock::time_point until, int seen) {
    std::unique_lock<std::mutex> lock(m_mutex);
    m_cv.wait_until(lock, until, [&] { return m_requests != seen; });
    return m_requests;
  }

 private:
  std::mutex m_mutex;
  std::condition_variable m_cv;
  int m_requests = 0;
};

std::string FlagNames(DWORD flags) {
  std::string names;
  for (DWORD bit = 1; bit != 0 && bit <= flags; bit <<= 1) {
    if ((flags & bit) == 0) continue;
    const wchar_t* name = NorvItemFlagName(bit);
    if (!names.empty()) names += ' ';
    names += name != nullptr ? U8(name) : std::to_string(bit);
  }
  return names;
}

void Watch(int seconds) {
  // Static: a plugin thread may still be inside InvokeRefresh when the
  // services are uninstalled; the object outlives every plugin thread.
  static WatchServices services;
  NorvSetViewServices(&services);
  std::printf("Watching for %d s: changes that plugins report\n", seconds);
  std::fflush(stdout);
  const auto until = std::chrono::steady_clock::now() + std::chrono::seconds(seconds);
  int seen = 0;
  int changes = 0;
  while (std::chrono::steady_clock::now() < until) {
    const int requests = services.Wait(until, seen);
    if (requests == seen) break;
    seen = requests;
    // What the tree view does first when it applies pending changes: take
    // the table under the item model lock.
    NorvObjectFlagTable table;
    {
      std::lock_guard<std::recursive_mutex> lock(CNorvTreeListItem::GetItemModelLock());
      table = CNorvTreeListItem::TakeObjectFlagTable();
    }
    for (const auto& [className, objects] : table) {
      for (const auto& [id, entry] : objects) {
        std::string line = "  " + U8(className) + "://" + U8(id) + "  " + FlagNames(entry.flags);
        for (const auto& [parentClass, parentIds] : entry.removedFrom) {
          for (const auto& parentId : parentIds)
            line += "  (from " + U8(parentClass) + "://" + U8(parentId) + ")";
        }
        std::printf("%s\n", line.c_str());
        ++changes;
      }
    }
    std::fflush(stdout);
  }
  NorvSetViewServices(nullptr);
  std::printf("%d refresh %s, %d flagged %s\n", seen, seen == 1 ? "request" : "requests",
              changes, changes == 1 ? "object" : "objects");
}

// ----- start-up ----------------------------------------------------------------


}  // namespace

int main(int argc, char** argv) {
  CliOptions options;
  std::vector<NorvString> explorerArgs;
  if (int rc = ParseOwnOptions(argc, argv, &options, &explorerArgs)) return rc;
  if (options.help) {
    std::fputs(kUsage, stdout);
    return 0;
  }
  CNorvCommandLineInfo info;
  NorvString error;
  if (!CNorvCommandLineParser::Parse(explorerArgs, info, &error)) return UsageError(U8(error));

  // Fonts and images need a GUI application; without a display it runs on
  // the offscreen platform.
  if (getenv("QT_QPA_PLATFORM") == nullptr && getenv("DISPLAY") == nullptr &&
      getenv("WAYLAND_DISPLAY") == nullptr)
    setenv("QT_QPA_PLATFORM", "offscreen", 1);
  // Qt sees only the program name: the explorer's options are not Qt's.
  int qtArgc = 1;
  char* qtArgv[] = {argv[0], nullptr};
  QGuiApplication app(qtArgc, qtArgv);

  NorvSetMessageBoxHook([](const NorvString& text, const NorvString& caption, UINT) {
    std::fprintf(stderr, "%s: %s: %s\n", kProgram, U8(caption).c_str(), U8(text).c_str());
    return IDOK;
  });

  CNorvCommandLineInfo::SetCurrent(&info);
  CNorvPrivateRegistryKey::SetRegistryKey(info.m_bRegistryKeyGiven ? info.m_RegistryKey
                                                                   : NorvString(L"Velmora\\NORV2.1"));
  const NorvString locale = info.m_bLocaleGiven && !info.m_Locale.empty() ? info.m_Locale
                                                                          : NorvString(L"enu");
  NorvLoadHostResources(locale);
  // The information file as a window host writes it: the system, the
  // modules at start, then the ones the plugins brought.
  if (Trace::Start(&info)) {
    Trace::DumpWindowsVersion();
    Trace::DumpLoadedModules(L"Modules loaded at start-up");
  }

  int rc = 0;
  if (!CPluginHandler::LoadAllPlugins(locale, info.m_Plugins, info.m_LoadPlugins)) {
    rc = 1;
  } else {
    Trace::DumpLoadedModules(L"Modules loaded with the plugins");
    auto doc = std::make_unique<CNorvDoc>();
    if (!doc->SetupViews(info) || CNorvDoc::GetRoot() == nullptr) {
      rc = 1;
    } else {
      PrintTree(CNorvDoc::GetRoot(), 0, options.depth);
      for (const std::string& path : options.lists) {
        std::printf("\n");
        CNorvTreeListItem* item = ResolvePath(CNorvDoc::GetRoot(), plat::FromUtf8(path));
        if (item == nullptr) {
          std::fprintf(stderr, "%s: no object at tree path \"%s\"\n", kProgram, path.c_str());
          rc = 1;
          continue;
        }
        if (!PrintList(item, path)) rc = 1;
      }
      std::fflush(stdout);
      if (options.watchSeconds > 0) {
        std::printf("\n");
        Watch(options.watchSeconds);
      }
    }
    // Destroys the root and unloads the plugins.
    doc.reset();
  }
  CPluginHandler::UnloadPlugins();
  Trace::Stop();
  CNorvCommandLineInfo::SetCurrent(nullptr);
  return rc;
}
