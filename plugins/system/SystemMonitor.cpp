#include "SystemMonitor.h"

#include <pthread.h>
#include <unistd.h>

#include <string>
#include <vector>

#include "SystemStrings.h"
#include "norv/NorvItemCommands.h"
#include "norv/NorvTlgItem.h"
#include "norv/Trace.h"

namespace sysplugin {

namespace {

constexpr std::chrono::milliseconds kLockRetry{5};

struct PendingFlag {
  const wchar_t* className;
  NorvString id;
  DWORD flags;
  const wchar_t* parentClass;  // for REMOVED
  const wchar_t* parentId;
};

}  // namespace

SystemMonitor& SystemMonitor::Instance() {
  // Lives as long as the plugin library: its destructor runs when the
  // library is unloaded, which stops a worker that DeInitialize did not.
  static SystemMonitor monitor;
  return monitor;
}

SystemMonitor::~SystemMonitor() { Stop(); }

void SystemMonitor::Start(std::chrono::milliseconds interval) {
  std::lock_guard<std::mutex> control(m_controlMutex);
  if (m_thread.joinable()) return;
  Publish(std::make_shared<const SystemSnapshot>(ReadSystem()));
  m_stop = false;
  m_wake = false;
  m_cycles.store(0);
  m_running.store(true);
  m_thread = std::thread([this, interval] { Run(interval); });
}

void SystemMonitor::Stop() {
  std::thread worker;
  {
    std::lock_guard<std::mutex> control(m_controlMutex);
    if (!m_thread.joinable()) return;
    m_stop = true;
    worker = std::move(m_thread);
  }
  m_wakeUp.notify_all();
  worker.join();
  m_running.store(false);
  // Without a worker the items read afresh; a stale reading would only
  // mislead them.
  std::lock_guard<std::mutex> lock(m_snapshotMutex);
  m_latest.reset();
}

void SystemMonitor::Wake() {
  {
    std::lock_guard<std::mutex> control(m_controlMutex);
    m_wake = true;
  }
  m_wakeUp.notify_all();
}

bool SystemMonitor::WaitForNextCycle(std::chrono::milliseconds interval) {
  std::unique_lock<std::mutex> control(m_controlMutex);
  m_wakeUp.wait_for(control, interval, [this] { return m_stop || m_wake; });
  m_wake = false;
  return m_stop;
}

void SystemMonitor::Publish(std::shared_ptr<const SystemSnapshot> snapshot) {
  std::lock_guard<std::mutex> lock(m_snapshotMutex);
  m_latest = std::move(snapshot);
}

std::shared_ptr<const SystemSnapshot> SystemMonitor::Latest() {
  {
    std::lock_guard<std::mutex> lock(m_snapshotMutex);
    if (m_latest) return m_latest;
  }
  return std::make_shared<const SystemSnapshot>(ReadSystem());
}

bool SystemMonitor::FindProcess(int pid, ProcessInfo* out) {
  std::shared_ptr<const SystemSnapshot> latest;
  {
    std::lock_guard<std::mutex> lock(m_snapshotMutex);
    latest = m_latest;
  }
  if (latest) {
    const auto it = latest->processes.find(pid);
    if (it == latest->processes.end()) return false;
    *out = it->second;
    return true;
  }
  // No worker: ask the kernel about this one process only.
  std::string text;
  ProcessInfo info;
  const long page = sysconf(_SC_PAGESIZE);
  if (!ReadSmallFile("/proc/" + std::to_string(pid) + "/stat", 64 * 1024, &text) ||
      !ParseStat(text, page >= 1024 ? static_cast<std::uint64_t>(page) / 1024 : 4, &info) ||
      info.pid != pid)
    return false;
  *out = std::move(info);
  return true;
}

bool SystemMonitor::FindMount(int id, MountInfo* out) {
  const std::shared_ptr<const SystemSnapshot> latest = Latest();
  const auto it = latest->mounts.find(id);
  if (it == latest->mounts.end()) return false;
  *out = it->second;
  return true;
}

void SystemMonitor::AddLiveProcess(int pid) {
  std::lock_guard<std::mutex> lock(m_liveMutex);
  ++m_liveProcesses[pid];
}

void SystemMonitor::RemoveLiveProcess(int pid) {
  std::lock_guard<std::mutex> lock(m_liveMutex);
  const auto it = m_liveProcesses.find(pid);
  if (it != m_liveProcesses.end() && --it->second <= 0) m_liveProcesses.erase(it);
}

void SystemMonitor::AddLiveMount(int id) {
  std::lock_guard<std::mutex> lock(m_liveMutex);
  ++m_liveMounts[id];
}

void SystemMonitor::RemoveLiveMount(int id) {
  std::lock_guard<std::mutex> lock(m_liveMutex);
  const auto it = m_liveMounts.find(id);
  if (it != m_liveMounts.end() && --it->second <= 0) m_liveMounts.erase(it);
}

void SystemMonitor::AddLiveFolder(FolderKind kind) {
  std::lock_guard<std::mutex> lock(m_liveMutex);
  ++(kind == FolderKind::Processes ? m_processFolders : m_mountFolders);
}

void SystemMonitor::RemoveLiveFolder(FolderKind kind) {
  std::lock_guard<std::mutex> lock(m_liveMutex);
  int& count = kind == FolderKind::Processes ? m_processFolders : m_mountFolders;
  if (count > 0) --count;
}

void SystemMonitor::Run(std::chrono::milliseconds interval) {
  pthread_setname_np(pthread_self(), "norv-system");
  while (!WaitForNextCycle(interval)) {
    std::shared_ptr<const SystemSnapshot> before;
    {
      std::lock_guard<std::mutex> lock(m_snapshotMutex);
      before = m_latest;
    }
    auto after = std::make_shared<const SystemSnapshot>(ReadSystem());
    // A source that could not be read this time says nothing about what
    // ended: keep the previous reading rather than report everything gone.
    if (before && ((before->processesOk && !after->processesOk) ||
                   (before->mountsOk && !after->mountsOk))) {
      ++m_cycles;
      continue;
    }
    const SystemChanges changes =
        before ? Compare(*before, *after) : SystemChanges();
    Publish(after);
    ++m_cycles;
    if (before && !changes.Empty() && !FlagChanges(changes, *before, *after)) break;
  }
}

bool SystemMonitor::FlagChanges(const SystemChanges& changes, const SystemSnapshot& before,
                                const SystemSnapshot& after) {
  const int pluginId = m_pluginId.load();
  if (gNorvPluginTraceLevel >= 4) {
    NORV_PLUGIN_TRACE(pluginId, nullptr, 4,
                      NorvFormatString(L"System monitor: processes +%d -%d ~%d, mounts +%d -%d ~%d",
                                       static_cast<int>(changes.addedProcesses.size()),
                                       static_cast<int>(changes.removedProcesses.size()),
                                       static_cast<int>(changes.changedProcesses.size()),
                                       static_cast<int>(changes.addedMounts.size()),
                                       static_cast<int>(changes.removedMounts.size()),
                                       static_cast<int>(changes.changedMounts.size())));
  }

  // Only objects that have instances are flagged: nobody else would take
  // the entries out of the table again.
  std::vector<PendingFlag> pending;
  {
    std::lock_guard<std::mutex> lock(m_liveMutex);
    for (int pid : changes.removedProcesses) {
      if (m_liveProcesses.count(pid) != 0)
        pending.push_back({SYS_CLASS_PROCESS, std::to_wstring(pid),
                           NORV_ITEM_DELETED | NORV_ITEM_REMOVED, SYS_CLASS_PROCESS_FOLDER,
                           SYS_ID_PROCESSES});
    }
    for (int pid : changes.changedProcesses) {
      if (m_liveProcesses.count(pid) != 0)
        pending.push_back({SYS_CLASS_PROCESS, std::to_wstring(pid), NORV_ITEM_INVALID, L"", L""});
    }
    for (int id : changes.removedMounts) {
      if (m_liveMounts.count(id) != 0)
        pending.push_back({SYS_CLASS_MOUNT, std::to_wstring(id),
                           NORV_ITEM_DELETED | NORV_ITEM_REMOVED, SYS_CLASS_MOUNT_FOLDER,
                           SYS_ID_MOUNTS});
    }
    for (int id : changes.changedMounts) {
      if (m_liveMounts.count(id) != 0)
        pending.push_back({SYS_CLASS_MOUNT, std::to_wstring(id), NORV_ITEM_INVALID, L"", L""});
    }
    if (m_processFolders > 0) {
      DWORD flags = 0;
      if (!changes.addedProcesses.empty()) flags |= NORV_ITEM_LISTINVALID;
      if (before.processes.size() != after.processes.size()) flags |= NORV_ITEM_INVALID;
      if (flags != 0) pending.push_back({SYS_CLASS_PROCESS_FOLDER, SYS_ID_PROCESSES, flags, L"", L""});
    }
    if (m_mountFolders > 0) {
      DWORD flags = 0;
      if (!changes.addedMounts.empty()) flags |= NORV_ITEM_LISTINVALID;
      if (before.mounts.size() != after.mounts.size()) flags |= NORV_ITEM_INVALID;
      if (flags != 0) pending.push_back({SYS_CLASS_MOUNT_FOLDER, SYS_ID_MOUNTS, flags, L"", L""});
    }
  }
  if (pending.empty()) return true;

  // The user-interface thread may hold the lock for a while (a refresh
  // destroys children under it); wait for it, but never past a stop.
  std::unique_lock<std::recursive_mutex> lock(CNorvTreeListItem::GetItemModelLock(),
                                               std::defer_lock);
  while (!lock.try_lock()) {
    std::unique_lock<std::mutex> control(m_controlMutex);
    if (m_wakeUp.wait_for(control, kLockRetry, [this] { return m_stop; })) return false;
  }
  for (const PendingFlag& p : pending)
    CNorvTreeListItem::ClassObjectFlag(p.className, p.id, p.flags, p.parentClass, p.parentId);
  lock.unlock();
  CNorvTreeListItem::InvokeRefresh();
  return true;
}

}  // namespace sysplugin
