// The proc readers on made-up input: awkward command names, short and
// damaged lines, processes that vanish between listing and reading, mount
// paths with escapes, and the comparison of two readings.
#include <gtest/gtest.h>
#include <stdlib.h>
#include <sys/stat.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <string>

#include "ProcReader.h"

using namespace sysplugin;

namespace {

// A stat line as the kernel writes it, with the fields the reader uses set.
std::string StatLine(int pid, const std::string& comm, char state, long threads,
                     unsigned long long start, long long rssPages) {
  return std::to_string(pid) + " (" + comm + ") " + state +
         " 1 1 1 0 -1 4194304 100 0 0 0 5 3 0 0 20 0 " + std::to_string(threads) + " 0 " +
         std::to_string(start) + " 8503296 " + std::to_string(rssPages) +
         " 18446744073709551615 1 1 0 0 0 0 0 0 0 0 0 0 17 1 0 0 0 0 0\n";
}

class TempFolder {
 public:
  TempFolder() {
    char pattern[] = "/tmp/norv-procreader-XXXXXX";
    path_ = mkdtemp(pattern) != nullptr ? pattern : "";
  }
  ~TempFolder() {
    std::error_code ignored;
    std::filesystem::remove_all(path_, ignored);
  }
  const std::string& path() const { return path_; }
  void Write(const std::string& relative, const std::string& content) const {
    const std::filesystem::path file = std::filesystem::path(path_) / relative;
    std::filesystem::create_directories(file.parent_path());
    std::ofstream(file, std::ios::binary) << content;
  }

 private:
  std::string path_;
};

}  // namespace

TEST(ProcStat, ReadsTheFieldsAfterTheCommandName) {
  ProcessInfo info;
  ASSERT_TRUE(ParseStat(StatLine(1234, "bash", 'S', 3, 45678, 1321), 4, &info));
  EXPECT_EQ(info.pid, 1234);
  EXPECT_EQ(info.name, "bash");
  EXPECT_EQ(info.state, 'S');
  EXPECT_EQ(info.threads, 3);
  EXPECT_EQ(info.startTime, 45678u);
  EXPECT_EQ(info.rssKb, 1321u * 4);
}

TEST(ProcStat, CommandNamesMayHoldSpacesAndParentheses) {
  // A program can name itself anything, including ") R 1 2" to fool a
  // reader that splits at the first ")".
  ProcessInfo info;
  ASSERT_TRUE(ParseStat(StatLine(77, "evil) R 1 2 (x", 'Z', 1, 9, 0), 4, &info));
  EXPECT_EQ(info.name, "evil) R 1 2 (x");
  EXPECT_EQ(info.state, 'Z');
  EXPECT_EQ(info.startTime, 9u);
  ASSERT_TRUE(ParseStat(StatLine(78, "", 'R', 1, 9, 0), 4, &info));
  EXPECT_EQ(info.name, "");
}

TEST(ProcStat, RejectsDamagedLines) {
  ProcessInfo info;
  info.pid = 5;
  const std::string good = StatLine(1234, "bash", 'S', 3, 45678, 1321);
  EXPECT_FALSE(ParseStat("", 4, &info));
  EXPECT_FALSE(ParseStat("1234 (bash", 4, &info));
  EXPECT_FALSE(ParseStat("1234 bash) S 1", 4, &info));
  EXPECT_FALSE(ParseStat(good.substr(0, good.size() / 2), 4, &info));  // cut short
  EXPECT_FALSE(ParseStat("x12 (bash) S" + good.substr(good.find(") S") + 3), 4, &info));
  EXPECT_FALSE(ParseStat("0 (bash) S" + good.substr(good.find(") S") + 3), 4, &info));
  EXPECT_FALSE(ParseStat(StatLine(1, "a", 'S', 1, 1, 1).replace(6, 1, "SS"), 4, &info));
  std::string badThreads = good;
  badThreads.replace(badThreads.find(" 3 0 45678"), 2, " z");
  EXPECT_FALSE(ParseStat(badThreads, 4, &info));
  EXPECT_EQ(info.pid, 5) << "a failed parse leaves the output alone";
  // A negative page count (never seen, but it is a signed field) is none.
  ASSERT_TRUE(ParseStat(StatLine(9, "k", 'I', 1, 1, -3), 4, &info));
  EXPECT_EQ(info.rssKb, 0u);
}

TEST(ProcMounts, ReadsOneLineWithOptionalFieldsAndEscapes) {
  MountInfo info;
  ASSERT_TRUE(ParseMountInfoLine(
      "36 35 98:0 /mnt1 /mnt/my\\040disk rw,noatime master:1 shared:2 - ext3 /dev/root "
      "rw,errors=continue",
      &info));
  EXPECT_EQ(info.id, 36);
  EXPECT_EQ(info.mountPoint, "/mnt/my disk");
  EXPECT_EQ(info.type, "ext3");
  EXPECT_EQ(info.device, "/dev/root");
  // Per-mount options first, then the super-block ones not already named.
  EXPECT_EQ(info.options, "rw,noatime,errors=continue");

  ASSERT_TRUE(ParseMountInfoLine("22 1 0:5 / /dev rw - devtmpfs devtmpfs", &info));
  EXPECT_EQ(info.options, "rw");
}

TEST(ProcMounts, RejectsDamagedLines) {
  MountInfo info;
  EXPECT_FALSE(ParseMountInfoLine("", &info));
  EXPECT_FALSE(ParseMountInfoLine("36 35 98:0 / /mnt rw ext3 /dev/root rw", &info));  // no "-"
  EXPECT_FALSE(ParseMountInfoLine("36 35 98:0 / /mnt rw - ext3", &info));  // no source
  EXPECT_FALSE(ParseMountInfoLine("x 35 98:0 / /mnt rw - ext3 /dev/root rw", &info));
  EXPECT_FALSE(ParseMountInfoLine("36 35 98:0 /", &info));
}

TEST(ProcMounts, DecodesOnlyWellFormedEscapes) {
  EXPECT_EQ(DecodeMountEscapes("a\\040b\\011c\\012d\\134e"), "a b\tc\nd\\e");
  EXPECT_EQ(DecodeMountEscapes("\\9zz"), "\\9zz");
  EXPECT_EQ(DecodeMountEscapes("end\\04"), "end\\04");
  EXPECT_EQ(DecodeMountEscapes("\\"), "\\");
  EXPECT_EQ(DecodeMountEscapes("\\400"), "\\400");  // more than a byte
}

TEST(ProcReaders, LeaveOutWhatCannotBeRead) {
  TempFolder proc;
  ASSERT_FALSE(proc.path().empty());
  proc.Write("123/stat", StatLine(123, "good", 'S', 2, 10, 5));
  proc.Write("124/status", "Name: gone before its stat was read\n");  // no stat
  proc.Write("125/stat", "garbage\n");
  proc.Write("126/stat", StatLine(999, "liar", 'S', 1, 10, 5));  // not its own pid
  proc.Write("abc/stat", StatLine(127, "not a pid folder", 'S', 1, 10, 5));
  proc.Write("self/stat", StatLine(123, "good", 'S', 2, 10, 5));
  proc.Write("128/stat", std::string(100 * 1024, 'x'));  // far too long
  mkdir((proc.path() + "/129/stat").c_str(), 0755);    // not a file

  bool ok = false;
  const ProcessMap processes = ReadProcesses(proc.path(), &ok);
  EXPECT_TRUE(ok);
  ASSERT_EQ(processes.size(), 1u);
  EXPECT_EQ(processes.at(123).name, "good");

  const ProcessMap none = ReadProcesses(proc.path() + "/missing", &ok);
  EXPECT_FALSE(ok);
  EXPECT_TRUE(none.empty());

  proc.Write("mountinfo",
             "22 1 0:5 / /dev rw - devtmpfs devtmpfs rw\n"
             "broken line\n"
             "\n"
             "23 22 0:6 / /dev/pts rw - devpts devpts rw,mode=600");  // no final newline
  const MountMap mounts = ReadMounts(proc.path() + "/mountinfo", &ok);
  EXPECT_TRUE(ok);
  ASSERT_EQ(mounts.size(), 2u);
  EXPECT_EQ(mounts.at(23).options, "rw,mode=600");
  EXPECT_TRUE(ReadMounts(proc.path() + "/nomountinfo", &ok).empty());
  EXPECT_FALSE(ok);
}

TEST(ProcReaders, TheRealSystemHoldsThisProcessAndTheRootMount) {
  const SystemSnapshot snapshot = ReadSystem();
  ASSERT_TRUE(snapshot.processesOk);
  ASSERT_TRUE(snapshot.mountsOk);
  ASSERT_EQ(snapshot.processes.count(getpid()), 1u);
  EXPECT_GE(snapshot.processes.at(getpid()).threads, 1);
  EXPECT_GT(snapshot.processes.at(getpid()).rssKb, 0u);
  bool root = false;
  for (const auto& [id, mount] : snapshot.mounts) root = root || mount.mountPoint == "/";
  EXPECT_TRUE(root);
}

TEST(ProcChanges, TellAddedRemovedChangedAndReusedPids) {
  SystemSnapshot before, after;
  auto process = [](int pid, unsigned long long start, long threads) {
    ProcessInfo p;
    p.pid = pid;
    p.name = "p" + std::to_string(pid);
    p.state = 'S';
    p.threads = threads;
    p.startTime = start;
    return p;
  };
  before.processes = {{1, process(1, 1, 1)}, {2, process(2, 2, 1)}, {3, process(3, 3, 1)},
                      {5, process(5, 5, 1)}};
  after.processes = {{1, process(1, 1, 1)}, {3, process(3, 3, 4)}, {4, process(4, 4, 1)},
                     {5, process(5, 50, 1)}};  // 5 ended and its pid was given out again
  MountInfo a{10, "dev", "/a", "ext4", "rw"};
  MountInfo b{11, "tmpfs", "/b", "tmpfs", "rw"};
  MountInfo bRemounted{11, "tmpfs", "/b", "tmpfs", "ro"};
  MountInfo c{12, "proc", "/proc", "proc", "rw"};
  before.mounts = {{10, a}, {11, b}};
  after.mounts = {{11, bRemounted}, {12, c}};

  const SystemChanges changes = Compare(before, after);
  EXPECT_EQ(changes.removedProcesses, (std::vector<int>{2, 5}));
  EXPECT_EQ(changes.addedProcesses, (std::vector<int>{4, 5}));
  EXPECT_EQ(changes.changedProcesses, (std::vector<int>{3}));
  EXPECT_EQ(changes.removedMounts, (std::vector<int>{10}));
  EXPECT_EQ(changes.addedMounts, (std::vector<int>{12}));
  EXPECT_EQ(changes.changedMounts, (std::vector<int>{11}));
  EXPECT_FALSE(changes.Empty());
  EXPECT_TRUE(Compare(after, after).Empty());
}
