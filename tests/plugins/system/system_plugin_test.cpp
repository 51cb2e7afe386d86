// The System plugin as the explorer runs it: registered by importing
// bin/system-register.sh (norvreg) into a scratch registry, loaded by CPluginHandler, set up
// by CNorvDoc, used through the item operations the tree and list call,
// and watched from its worker thread through the object flag table. Also
// the two demo plugins together under the framework root.
#include <dirent.h>
#include <gtest/gtest.h>
#include <signal.h>
#include <spawn.h>
#include <stdlib.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <filesystem>
#include <fstream>
#include <memory>
#include <mutex>
#include <set>
#include <string>
#include <thread>
#include <vector>

#include "norv/NorvDoc.h"
#include "norv/NorvItemCommands.h"
#include "norv/NorvRegistryKey.h"
#include "norv/NorvTlgItem.h"
#include "norv/NorvViewServices.h"
#include "norv/PluginHandler.h"
#include "platform/text.h"
#include "system_test.h"

extern char** environ;

namespace {

using Clock = std::chrono::steady_clock;
// Generous: the worker reads every 1.5 s; a loaded machine may be slow.
constexpr auto kPatience = std::chrono::seconds(60);

// Stands in for the main frame: counts the refresh requests of plugin
// threads. Static so that it outlives any worker that still holds it.
class CountingServices : public INorvViewServices {
 public:
  void InvokeRefresh() override { ++refreshes; }
  std::atomic<int> refreshes{0};
};
CountingServices gServices;

NorvString ListText(CNorvTreeListItem* item, int column) {
  treeListViewInfo info;
  treeListViewInfo* p = &info;
  CNorvItemCallScope scope(item);
  if (!item->GetListViewInfo(p, NORV_TLVI_TEXT, column) || p == nullptr) return L"<none>";
  return p->strText;
}

NorvString TreeText(CNorvTreeListItem* item) {
  treeListViewInfo info;
  treeListViewInfo* p = &info;
  CNorvItemCallScope scope(item);
  item->GetTreeViewInfo(p, NORV_TLVI_TEXT);
  return p->strText;
}

GetItemsResult Fetch(CNorvTreeListItem* item, BOOL treeOnly) {
  CNorvItemCallScope scope(item);
  return item->GetItems(treeOnly);
}

std::vector<CNorvTreeListItem*> Children(CNorvTreeListItem* item) {
  return {item->GetItemList().begin(), item->GetItemList().end()};
}

// Takes the pending object flags as the tree view does before it applies
// them.
NorvObjectFlagTable TakeTable() {
  std::lock_guard<std::recursive_mutex> lock(CNorvTreeListItem::GetItemModelLock());
  return CNorvTreeListItem::TakeObjectFlagTable();
}

DWORD PendingFlags(const NorvObjectFlagTable& table, const NorvString& className,
                   const NorvString& id, const NorvObjectFlagEntry** entry = nullptr) {
  const auto c = table.find(className);
  if (c == table.end()) return 0;
  const auto o = c->second.find(id);
  if (o == c->second.end()) return 0;
  if (entry != nullptr) *entry = &o->second;
  return o->second.flags;
}

bool WorkerThreadRunning() {
  DIR* tasks = opendir("/proc/self/task");
  if (tasks == nullptr) return false;
  bool found = false;
  while (const dirent* task = readdir(tasks)) {
    if (task->d_name[0] == '.') continue;
    std::ifstream comm(std::string("/proc/self/task/") + task->d_name + "/comm");
    std::string name;
    std::getline(comm, name);
    found = found || name == "norv-system";
  }
  closedir(tasks);
  return found;
}

// The worker names itself once it runs, which may be a moment after the
// plugin started it.
bool WorkerThreadSeen() {
  for (const auto until = Clock::now() + kPatience; Clock::now() < until;) {
    if (WorkerThreadRunning()) return true;
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
  }
  return false;
}

// A child process that lives until the test ends it.
class Child {
 public:
  Child() {
    char program[] = "sleep";
    char seconds[] = "120";
    char* argv[] = {program, seconds, nullptr};
    if (posix_spawnp(&pid_, "sleep", nullptr, nullptr, argv, environ) != 0) pid_ = -1;
  }
  ~Child() { End(); }
  pid_t pid() const { return pid_; }
  void End() {
    if (pid_ <= 0) return;
    kill(pid_, SIGKILL);
    int status = 0;
    waitpid(pid_, &status, 0);
    pid_ = -1;
  }

 private:
  pid_t pid_ = -1;
};

class SystemPluginTest : public ::testing::Test {
 protected:
  void SetUp() override {
    char pattern[] = "/tmp/norv-systemplugin-XXXXXX";
    ASSERT_NE(mkdtemp(pattern), nullptr);
    registryDir_ = pattern;
    setenv("NORV_REGISTRY_DIR", pattern, 1);
    CNorvPrivateRegistryKey::SetRegistryKey(L"Velmora\\NORV2.1");
    system_test::Messages().clear();
    gServices.refreshes = 0;
    NorvSetViewServices(&gServices);
    TakeTable();
  }
  void TearDown() override {
    doc_.reset();
    CPluginHandler::UnloadPlugins();
    NorvSetViewServices(nullptr);
    TakeTable();
    std::error_code ignored;
    std::filesystem::remove_all(registryDir_, ignored);
  }

  // Runs a plugin's installer script (norvreg against the scratch registry).
  static void Register(const char* script) {
    const std::string command = std::string("'") + script + "' >/dev/null";
    ASSERT_EQ(std::system(command.c_str()), 0) << command;
  }

  // The host's sequence: plugins, document, root.
  void Start(const std::vector<NorvString>& filter = {}) {
    ASSERT_TRUE(CPluginHandler::LoadAllPlugins(L"enu", filter, {}));
    doc_ = std::make_unique<CNorvDoc>();
    CNorvCommandLineInfo info;
    info.m_bQuiet = TRUE;
    ASSERT_TRUE(doc_->SetupViews(info));
    ASSERT_NE(CNorvDoc::GetRoot(), nullptr);
  }

  // The System root's folder of that class (the root must be System's).
  CNorvTreeListItem* Folder(const NorvString& className, const NorvString& id) {
    CNorvTreeListItem* root = CNorvDoc::GetRoot();
    EXPECT_EQ(Fetch(root, TRUE), GETITEMS_OK);
    return root->GetItemList().FindObject(className, id);
  }

  std::unique_ptr<CNorvDoc> doc_;
  std::string registryDir_;
};

TEST_F(SystemPluginTest, LoadsFromItsRegistrationAndShowsTwoStaticFolders) {
  Register(SYSTEM_REGISTER);
  Start();
  ASSERT_EQ(CPluginHandler::GetPluginCount(), 1);
  EXPECT_EQ(CPluginHandler::pluginList[0].name, L"System");
  EXPECT_NE(CPluginHandler::pluginList[0].resourceModule, nullptr);
  EXPECT_TRUE(system_test::Messages().empty());

  // With one plugin its own root is the explorer's root.
  CNorvTreeListItem* root = CNorvDoc::GetRoot();
  EXPECT_EQ(root->GetObjectAddress(), L"CSystemRoot://system");
  EXPECT_EQ(TreeText(root), L"System");
  EXPECT_EQ(root->GetPluginCaption(), L"System");
  ASSERT_EQ(Fetch(root, TRUE), GETITEMS_OK);
  const std::vector<CNorvTreeListItem*> folders = Children(root);
  ASSERT_EQ(folders.size(), 2u);
  EXPECT_EQ(folders[0]->GetObjectAddress(), L"CSystemProcessFolder://processes");
  EXPECT_EQ(folders[1]->GetObjectAddress(), L"CSystemMountFolder://mounts");
  EXPECT_EQ(TreeText(folders[0]), L"Processes");
  EXPECT_EQ(TreeText(folders[1]), L"Mounts");
  for (CNorvTreeListItem* folder : folders) {
    EXPECT_TRUE(folder->IsStatic());
    EXPECT_EQ(folder->GetParent(), root);
    EXPECT_FALSE(folder->HasTreeItems());
    EXPECT_EQ(CPluginHandler::FindItemPluginId(folder), 0);
  }
  // The root's list: name and a count that comes from the reading.
  EXPECT_EQ(ListText(folders[0], 1), L"Processes");
  EXPECT_NE(ListText(folders[0], 2).find(L" processes"), NorvString::npos);

  // A refresh of the root's list forgets only the tree nodes of STATIC
  // children: the same folders come back.
  root->SetFlags(NORV_ITEM_LISTINVALID, TRUE);
  EXPECT_EQ(root->GetItemList().GetCount(), 0);
  ASSERT_EQ(Fetch(root, TRUE), GETITEMS_OK);
  EXPECT_EQ(Children(root), folders);

  // The timed refresh of the folders has a default period, written once.
  CNorvPrivateRegistryKey rates(plat::HKEY_CURRENT_USER, L"RefreshRates");
  UINT seconds = 0;
  ASSERT_TRUE(rates.GetUIntValue(L"CSystemProcessFolder", seconds));
  EXPECT_EQ(seconds, 5u);
  ASSERT_TRUE(rates.GetUIntValue(L"CSystemMountFolder", seconds));
  EXPECT_EQ(seconds, 30u);
}

TEST_F(SystemPluginTest, KeepsTheUsersRefreshRate) {
  Register(SYSTEM_REGISTER);
  {
    CNorvPrivateRegistryKey rates(plat::HKEY_CURRENT_USER, L"RefreshRates",
                                  plat::KEY_READ | plat::KEY_WRITE);
    ASSERT_TRUE(rates.SetUIntValue(L"CSystemProcessFolder", 0));  // "no automatic refresh"
  }
  Start();
  CNorvPrivateRegistryKey rates(plat::HKEY_CURRENT_USER, L"RefreshRates");
  UINT seconds = 99;
  ASSERT_TRUE(rates.GetUIntValue(L"CSystemProcessFolder", seconds));
  EXPECT_EQ(seconds, 0u);
}

TEST_F(SystemPluginTest, ListsThisProcessAndTheRootMount) {
  Register(SYSTEM_REGISTER);
  Start();
  CNorvTreeListItem* processes = Folder(L"CSystemProcessFolder", L"processes");
  ASSERT_NE(processes, nullptr);
  NorvStringList* titles = nullptr;
  NorvUIntArray* widths = nullptr;
  NorvUIntArray* ids = nullptr;
  NorvUIntArray* formats = nullptr;
  EXPECT_EQ(processes->ListColumns(titles, widths, ids, formats), 1);
  ASSERT_NE(titles, nullptr);
  EXPECT_EQ(*titles, (NorvStringList{L"PID", L"Name", L"State", L"Threads", L"Memory"}));
  EXPECT_EQ(*ids, (NorvUIntArray{1, 2, 3, 4, 5}));

  ASSERT_EQ(Fetch(processes, FALSE), GETITEMS_OK);
  const NorvString me = std::to_wstring(getpid());
  CNorvTreeListItem* self = processes->GetItemList().FindObject(L"CSystemProcess", me);
  ASSERT_NE(self, nullptr) << "this test's own process is not listed";
  EXPECT_EQ(self->GetParent(), processes);
  EXPECT_EQ(self->GetItemListMask(), NORV_ITEMLIST_LIST) << "processes are list rows only";
  EXPECT_FALSE(self->IsStatic());
  EXPECT_EQ(ListText(self, 1), me);
  // The kernel's command name, as it reports it for this process.
  std::string comm;
  std::getline(std::ifstream("/proc/self/comm"), comm);
  EXPECT_EQ(ListText(self, 2), plat::FromUtf8(comm));
  EXPECT_EQ(ListText(self, 0), plat::FromUtf8(comm));
  EXPECT_GE(std::stoi(ListText(self, 4)), 1);
  const NorvString memory = ListText(self, 5);
  EXPECT_GT(std::stoll(memory), 0);
  EXPECT_EQ(memory.substr(memory.size() - 3), L" KB");
  EXPECT_EQ(ListText(self, 6), L"<none>");

  CNorvTreeListItem* mounts = Folder(L"CSystemMountFolder", L"mounts");
  ASSERT_NE(mounts, nullptr);
  ASSERT_EQ(Fetch(mounts, FALSE), GETITEMS_OK);
  int roots = 0;
  for (CNorvTreeListItem* mount : Children(mounts)) {
    EXPECT_EQ(mount->GetClassName(), L"CSystemMount");
    if (ListText(mount, 2) == L"/") {
      ++roots;
      EXPECT_FALSE(ListText(mount, 3).empty());  // type
      EXPECT_FALSE(ListText(mount, 4).empty());  // options
    }
  }
  EXPECT_GE(roots, 1);

  // A process created by name is the same object as the listed one.
  CNorvTreeListItem* byName = CNorvTreeListItem::CreateObject(processes, L"CSystemProcess", me);
  ASSERT_NE(byName, nullptr);
  EXPECT_TRUE(byName->IsSameObject(self));
  delete byName;
  // Ids that name no process, or not in their one spelling, name nothing.
  for (const wchar_t* id : {L"", L"0", L"-1", L"abc", L"0012", L"99999999999"}) {
    CNorvTreeListItem* none = CNorvTreeListItem::CreateObject(processes, L"CSystemProcess", id);
    EXPECT_EQ(none, nullptr) << "id " << plat::ToUtf8(id);
    delete none;
  }
}

TEST_F(SystemPluginTest, NumbersSortByValue) {
  Register(SYSTEM_REGISTER);
  Start();
  CNorvTreeListItem* processes = Folder(L"CSystemProcessFolder", L"processes");
  ASSERT_NE(processes, nullptr);
  ASSERT_EQ(Fetch(processes, FALSE), GETITEMS_OK);
  std::vector<CNorvTreeListItem*> rows = Children(processes);
  ASSERT_GE(rows.size(), 2u);
  for (int column : {1, 4, 5}) {
    for (BOOL ascending : {TRUE, FALSE}) {
      std::sort(rows.begin(), rows.end(), [&](CNorvTreeListItem* a, CNorvTreeListItem* b) {
        return a->Compare(b, column, ascending) < 0;
      });
      for (std::size_t i = 1; i < rows.size(); ++i) {
        const long long previous = std::stoll(ListText(rows[i - 1], column));
        const long long current = std::stoll(ListText(rows[i], column));
        if (ascending)
          EXPECT_LE(previous, current) << "column " << column;
        else
          EXPECT_GE(previous, current) << "column " << column;
      }
    }
  }
  // Every pid is a different row: no two compare equal on the pid.
  for (std::size_t i = 1; i < rows.size(); ++i)
    EXPECT_NE(rows[i - 1]->Compare(rows[i], 1, TRUE), 0);
}

TEST_F(SystemPluginTest, TheWorkerReportsAProcessThatStartsAndEnds) {
  Register(SYSTEM_REGISTER);
  Start();
  ASSERT_TRUE(WorkerThreadSeen());
  CNorvTreeListItem* processes = Folder(L"CSystemProcessFolder", L"processes");
  ASSERT_NE(processes, nullptr);
  ASSERT_EQ(Fetch(processes, FALSE), GETITEMS_OK);
  TakeTable();

  Child child;
  ASSERT_GT(child.pid(), 0);
  const NorvString id = std::to_wstring(child.pid());
  ASSERT_EQ(processes->GetItemList().FindObject(L"CSystemProcess", id), nullptr);

  // Apply what the worker reports, as the tree view would, until the new
  // process is in the list.
  bool listed = false;
  for (const auto until = Clock::now() + kPatience; !listed && Clock::now() < until;) {
    std::this_thread::sleep_for(std::chrono::milliseconds(100));
    std::lock_guard<std::recursive_mutex> lock(CNorvTreeListItem::GetItemModelLock());
    const NorvObjectFlagTable table = CNorvTreeListItem::TakeObjectFlagTable();
    if ((PendingFlags(table, L"CSystemProcessFolder", L"processes") & NORV_ITEM_LISTINVALID) == 0)
      continue;
    processes->SetFlags(NORV_ITEM_LISTINVALID, TRUE);
    ASSERT_EQ(Fetch(processes, FALSE), GETITEMS_OK);
    listed = processes->GetItemList().FindObject(L"CSystemProcess", id) != nullptr;
  }
  ASSERT_TRUE(listed) << "the new process never appeared";
  EXPECT_GT(gServices.refreshes.load(), 0) << "the worker never asked for a refresh";
  CNorvTreeListItem* item = processes->GetItemList().FindObject(L"CSystemProcess", id);
  EXPECT_EQ(ListText(item, 2), L"sleep");

  // The process ends: its object is reported deleted and removed from the
  // folder.
  child.End();
  bool removed = false;
  for (const auto until = Clock::now() + kPatience; !removed && Clock::now() < until;) {
    std::this_thread::sleep_for(std::chrono::milliseconds(100));
    const NorvObjectFlagTable table = TakeTable();
    const NorvObjectFlagEntry* entry = nullptr;
    const DWORD flags = PendingFlags(table, L"CSystemProcess", id, &entry);
    if ((flags & NORV_ITEM_DELETED) == 0) continue;
    EXPECT_NE(flags & NORV_ITEM_REMOVED, 0u);
    ASSERT_EQ(entry->removedFrom.count(L"CSystemProcessFolder"), 1u);
    EXPECT_EQ(entry->removedFrom.at(L"CSystemProcessFolder").count(L"processes"), 1u);
    removed = true;
  }
  EXPECT_TRUE(removed) << "the end of the process was never reported";
  // Until the removal is applied the item keeps its last values.
  EXPECT_TRUE(item->Refresh());
  EXPECT_EQ(ListText(item, 2), L"sleep");
}

TEST_F(SystemPluginTest, UnloadStopsTheWorkerEvenWhileItWaitsForTheLock) {
  Register(SYSTEM_REGISTER);
  Start();
  CNorvTreeListItem* processes = Folder(L"CSystemProcessFolder", L"processes");
  ASSERT_NE(processes, nullptr);
  ASSERT_EQ(Fetch(processes, FALSE), GETITEMS_OK);
  ASSERT_TRUE(WorkerThreadSeen());
  {
    // Hold the item model lock across readings that have something to
    // report (a new process), so that the worker is left waiting for it,
    // and unload the plugin meanwhile: the worker must give up and end.
    std::lock_guard<std::recursive_mutex> lock(CNorvTreeListItem::GetItemModelLock());
    Child child;
    std::this_thread::sleep_for(std::chrono::milliseconds(3500));
    doc_.reset();
  }
  EXPECT_EQ(CPluginHandler::GetPluginCount(), 0);
  EXPECT_FALSE(WorkerThreadRunning());
}

TEST_F(SystemPluginTest, WithOnlySystemRegisteredTheRootIsItsOwn) {
  Register(SYSTEM_REGISTER);
  Start();
  EXPECT_EQ(CNorvDoc::GetRoot()->GetClassName(), L"CSystemRoot");
  EXPECT_EQ(doc_->GetRootClass(), L"CSystemRoot");
  EXPECT_EQ(doc_->GetRootId(), L"system");
}

TEST_F(SystemPluginTest, BothDemoPluginsMeetUnderTheFrameworkRoot) {
#ifndef FILES_REGISTER
  GTEST_SKIP() << "the Files plugin is not part of this build";
#else
  Register(SYSTEM_REGISTER);
  Register(FILES_REGISTER);
  Start();
  ASSERT_EQ(CPluginHandler::GetPluginCount(), 2);
  std::set<NorvString> names;
  for (const auto& plugin : CPluginHandler::pluginList) names.insert(plugin.name);
  EXPECT_EQ(names, (std::set<NorvString>{L"Files", L"System"}));

  CNorvTreeListItem* root = CNorvDoc::GetRoot();
  EXPECT_EQ(root->GetClassName(), L"CNorvRoot");
  ASSERT_EQ(Fetch(root, TRUE), GETITEMS_OK);
  const std::vector<CNorvTreeListItem*> children = Children(root);
  ASSERT_EQ(children.size(), 2u);
  std::set<NorvString> classes;
  for (std::size_t i = 0; i < children.size(); ++i) {
    // In load order: child i is plugin i's default root.
    EXPECT_EQ(children[i]->GetClassName(), CPluginHandler::pluginList[i].defaultRootClass);
    EXPECT_EQ(children[i]->Id(), CPluginHandler::pluginList[i].defaultRootId);
    EXPECT_EQ(children[i]->GetParent(), root);
    EXPECT_EQ(CPluginHandler::FindItemPluginId(children[i]), static_cast<int>(i));
    classes.insert(children[i]->GetClassName());
  }
  EXPECT_EQ(classes, (std::set<NorvString>{L"CFilesFolder", L"CSystemRoot"}));
  // Listed under the framework root, System answers its columns.
  CNorvTreeListItem* system = root->GetItemList().FindObject(L"CSystemRoot", L"system");
  ASSERT_NE(system, nullptr);
  EXPECT_EQ(ListText(system, 7026), L"System");
  EXPECT_NE(ListText(system, 7027), L"<none>");
#endif
}

TEST_F(SystemPluginTest, APluginFilterLeavesTheRootToSystem) {
  Register(SYSTEM_REGISTER);
#ifdef FILES_REGISTER
  Register(FILES_REGISTER);
#endif
  Start({L"System"});
  EXPECT_EQ(CPluginHandler::GetPluginCount(), 1);
  EXPECT_EQ(CNorvDoc::GetRoot()->GetObjectAddress(), L"CSystemRoot://system");
}

TEST_F(SystemPluginTest, GermanTextsComeFromTheGermanResources) {
  Register(SYSTEM_REGISTER);
  ASSERT_TRUE(CPluginHandler::LoadAllPlugins(L"deu", {}, {}));
  doc_ = std::make_unique<CNorvDoc>();
  CNorvCommandLineInfo info;
  info.m_bQuiet = TRUE;
  ASSERT_TRUE(doc_->SetupViews(info));
  CNorvTreeListItem* processes = Folder(L"CSystemProcessFolder", L"processes");
  ASSERT_NE(processes, nullptr);
  EXPECT_EQ(TreeText(processes), L"Prozesse");
  NorvStringList* titles = nullptr;
  NorvUIntArray* widths = nullptr;
  NorvUIntArray* ids = nullptr;
  NorvUIntArray* formats = nullptr;
  processes->ListColumns(titles, widths, ids, formats);
  ASSERT_NE(titles, nullptr);
  EXPECT_EQ((*titles)[4], L"Speicher");
}

}  // namespace
