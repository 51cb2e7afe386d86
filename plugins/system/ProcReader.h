// Reading processes and mounts from the proc file system, and telling two
// readings apart. Plain C++ without the framework, so that the worker
// thread can use it freely and the tests can feed it made-up trees.
//
// Every reader is forgiving: a process that ends between the directory
// listing and the read of its files, a file that cannot be read, or a line
// that does not parse is left out; nothing here throws on bad input.
#pragma once
#include <cstdint>
#include <map>
#include <string>
#include <string_view>
#include <vector>

namespace sysplugin {

struct ProcessInfo {
  int pid = 0;
  std::string name;             // the kernel's command name (at most 15 bytes)
  char state = '?';             // R, S, D, Z, T, t, X, I, ...
  long threads = 0;
  std::uint64_t rssKb = 0;      // resident set size in KiB
  std::uint64_t startTime = 0;  // clock ticks after boot; tells a reused pid apart

  // Same process with the same values.
  bool operator==(const ProcessInfo&) const = default;
};

struct MountInfo {
  int id = 0;              // the kernel's mount id, unique while mounted
  std::string device;      // mount source
  std::string mountPoint;  // escapes ("\040" etc.) decoded
  std::string type;        // file-system type (with subtype, "fuse.sshfs")
  std::string options;     // per-mount options, then the super-block ones not already named

  bool operator==(const MountInfo&) const = default;
};

// pid -> process; mount id -> mount.
using ProcessMap = std::map<int, ProcessInfo>;
using MountMap = std::map<int, MountInfo>;

// One reading of the system. `processesOk` / `mountsOk` are false when the
// source itself could not be read (as opposed to being read and empty).
struct SystemSnapshot {
  ProcessMap processes;
  MountMap mounts;
  bool processesOk = false;
  bool mountsOk = false;
};

// Parses the contents of /proc/<pid>/stat. The command name is enclosed in
// parentheses and may itself hold spaces and ")", so the fields after it
// are found from the last ")". `pageSizeKb` converts the RSS page count.
bool ParseStat(std::string_view text, std::uint64_t pageSizeKb, ProcessInfo* out);

// Parses one line of /proc/<pid>/mountinfo.
bool ParseMountInfoLine(std::string_view line, MountInfo* out);

// Decodes the octal escapes ("\040" for a space, "\134" for a backslash)
// that the kernel writes into mount paths; anything else stays as it is.
std::string DecodeMountEscapes(std::string_view text);

// Reads every process below `procRoot` (normally "/proc").
ProcessMap ReadProcesses(const std::string& procRoot, bool* ok);
// Reads the mount table from a mountinfo file (normally
// "/proc/self/mountinfo").
MountMap ReadMounts(const std::string& mountInfoPath, bool* ok);
// Both, from the real proc file system.
SystemSnapshot ReadSystem();

// A whole file of at most `limit` bytes; false when it cannot be opened or
// read, or is longer.
bool ReadSmallFile(const std::string& path, std::size_t limit, std::string* out);

// What differs between two readings. A pid whose start time changed belongs
// to a new process: it is counted as removed and added.
struct SystemChanges {
  std::vector<int> removedProcesses;
  std::vector<int> addedProcesses;
  std::vector<int> changedProcesses;
  std::vector<int> removedMounts;
  std::vector<int> addedMounts;
  std::vector<int> changedMounts;

  bool Empty() const {
    return removedProcesses.empty() && addedProcesses.empty() && changedProcesses.empty() &&
           removedMounts.empty() && addedMounts.empty() && changedMounts.empty();
  }
};

SystemChanges Compare(const SystemSnapshot& before, const SystemSnapshot& after);

}  // namespace sysplugin
