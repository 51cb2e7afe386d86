// The System plugin's worker: reads the proc file system every poll
// interval, keeps the latest reading for the items, and tells the explorer
// what changed.
//
// The worker never touches an item. It compares each reading with the one
// before and, for the objects that currently have instances (the items
// report themselves here), records flags in the framework's object flag
// table under the item model lock: DELETED and REMOVED for a process or
// mount that is gone, INVALID for one whose values changed, LISTINVALID on
// the folder when new ones appeared (and INVALID when its count changed).
// Then it asks the main frame to refresh; the tree view applies the table
// on the user-interface thread.
#pragma once
#include <atomic>
#include <chrono>
#include <condition_variable>
#include <map>
#include <memory>
#include <mutex>
#include <thread>

#include "ProcReader.h"

namespace sysplugin {

// Which of the two folders.
enum class FolderKind { Processes, Mounts };

class SystemMonitor {
 public:
  static constexpr std::chrono::milliseconds kPollInterval{1500};

  static SystemMonitor& Instance();
  ~SystemMonitor();
  SystemMonitor(const SystemMonitor&) = delete;
  SystemMonitor& operator=(const SystemMonitor&) = delete;

  // Takes a first reading at once (so the first listing does not wait for
  // the worker) and starts the worker; a second Start does nothing.
  void Start(std::chrono::milliseconds interval = kPollInterval);
  // Stops the worker and waits for it. Safe to call when not running.
  void Stop();
  bool IsRunning() const { return m_running.load(); }
  // Readings taken since Start (for the trace and the tests' patience).
  std::uint64_t Cycles() const { return m_cycles.load(); }
  // Asks the worker for a reading now rather than at the end of its wait.
  void Wake();

  // The latest reading. Without a running worker, a fresh one.
  std::shared_ptr<const SystemSnapshot> Latest();
  // One process or mount from the latest reading (fresh without a worker);
  // false when it is not there.
  bool FindProcess(int pid, ProcessInfo* out);
  bool FindMount(int id, MountInfo* out);

  // Items report their instances so that only objects that are shown get
  // flags (the table is emptied only by a tree view).
  void AddLiveProcess(int pid);
  void RemoveLiveProcess(int pid);
  void AddLiveMount(int id);
  void RemoveLiveMount(int id);
  void AddLiveFolder(FolderKind kind);
  void RemoveLiveFolder(FolderKind kind);

  // The plugin id for trace lines written from the worker.
  void SetPluginId(int id) { m_pluginId.store(id); }

 private:
  SystemMonitor() = default;
  void Run(std::chrono::milliseconds interval);
  // Waits up to `interval` (or until woken); true when the worker must end.
  bool WaitForNextCycle(std::chrono::milliseconds interval);
  void Publish(std::shared_ptr<const SystemSnapshot> snapshot);
  // Records the flags for `changes` and asks for a refresh. False when the
  // worker was stopped while it waited for the item model lock.
  bool FlagChanges(const SystemChanges& changes, const SystemSnapshot& before,
                   const SystemSnapshot& after);

  std::mutex m_controlMutex;  // guards m_stop, m_wake, m_thread
  std::condition_variable m_wakeUp;
  bool m_stop = false;
  bool m_wake = false;
  std::thread m_thread;
  std::atomic<bool> m_running{false};
  std::atomic<std::uint64_t> m_cycles{0};
  std::atomic<int> m_pluginId{-1};

  std::mutex m_snapshotMutex;
  std::shared_ptr<const SystemSnapshot> m_latest;

  std::mutex m_liveMutex;
  std::map<int, int> m_liveProcesses;  // pid -> instances
  std::map<int, int> m_liveMounts;     // mount id -> instances
  int m_processFolders = 0;
  int m_mountFolders = 0;
};

}  // namespace sysplugin
