#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/file.h>
#include <sys/mman.h>
#include <unistd.h>

#include <algorithm>
#include <cctype>
#include <cstdio>
#include <optional>
#include <sstream>
#include <thread>

#include "foundation_test_support.h"
#include "norv/NorvCommandLineInfo.h"
#include "norv/NorvMessageBox.h"
#include "norv/NorvRegistryKey.h"
#include "norv/NorvTlgItem.h"
#include "norv/Trace.h"
#include "platform/registry.h"
#include "platform/resources.h"
#include "platform/text.h"
#include "platform/version_info.h"

// An item as a plugin would define one.
class CTraceDiskItem : public CNorvTreeListItem {
  NORV_DECLARE_SERIAL(CTraceDiskItem)
 public:
  BOOL Initialize(CNorvTreeListItem* parent, const NorvString& id) override {
    SetParent(parent);
    m_strId = id;
    return TRUE;
  }
};
NORV_IMPLEMENT_SERIAL(CTraceDiskItem, CNorvTreeListItem, 1)

namespace {

namespace fs = std::filesystem;
using norvtest::ScratchDir;

std::string ReadAll(const fs::path& path) {
  std::ifstream in(path, std::ios::binary);
  std::stringstream text;
  text << in.rdbuf();
  return text.str();
}

std::vector<std::string> Lines(const std::string& text) {
  std::vector<std::string> lines;
  std::istringstream in(text);
  for (std::string line; std::getline(in, line);) lines.push_back(line);
  return lines;
}

std::vector<std::string> FilesIn(const fs::path& dir) {
  std::vector<std::string> names;
  for (const auto& entry : fs::directory_iterator(dir)) names.push_back(entry.path().filename());
  std::sort(names.begin(), names.end());
  return names;
}

// True when `text` has the shape of `shape`, where 'd' stands for a digit.
bool Shaped(const std::string& text, const std::string& shape) {
  if (text.size() != shape.size()) return false;
  for (size_t i = 0; i < shape.size(); ++i)
    if (shape[i] == 'd' ? !std::isdigit(static_cast<unsigned char>(text[i])) : text[i] != shape[i])
      return false;
  return true;
}

// Splits a log line "[tag], YYYY-mm-dd HH:MM:SS, rest" into tag and rest.
bool ParseLine(const std::string& line, std::string* tag, std::string* rest) {
  size_t close = line.find("], ");
  if (line.empty() || line[0] != '[' || close == std::string::npos) return false;
  size_t time = close + 3;
  if (line.size() < time + 21 || !Shaped(line.substr(time, 21), "dddd-dd-dd dd:dd:dd, "))
    return false;
  *tag = line.substr(1, close - 1);
  *rest = line.substr(time + 21);
  return true;
}

// "tag|rest" of a log line, or "malformed: <line>".
std::string Parts(const std::string& line) {
  std::string tag, rest;
  return ParseLine(line, &tag, &rest) ? tag + "|" + rest : "malformed: " + line;
}

std::string Hex(const void* address) {
  char text[40];
  std::snprintf(text, sizeof text, "0x%016llX",
                static_cast<unsigned long long>(reinterpret_cast<uintptr_t>(address)));
  return text;
}

class TraceTest : public ::testing::Test {
 protected:
  void SetUp() override {
    CNorvPrivateRegistryKey::SetRegistryKey(L"Velmora\\NORV2.1");
    previousHook_ = NorvSetMessageBoxHook(
        [this](const NorvString& text, const NorvString&, UINT) {
          messages_.push_back(text);
          return IDOK;
        });
    Trace::Indent(-100000);
    Trace::SetPluginNameResolver(nullptr);
  }
  void TearDown() override {
    Trace::Stop();
    Trace::Indent(-100000);
    NorvSetMessageBoxHook(previousHook_);
  }

  // Writes the user's trace settings.
  void Settings(std::optional<UINT> enabled, std::optional<fs::path> location,
                std::optional<UINT> level = 4, std::optional<UINT> fileSize = {},
                std::optional<UINT> keepFiles = {}) {
    CNorvPrivateRegistryKey key(plat::HKEY_CURRENT_USER, L"Trace", plat::KEY_ALL_ACCESS);
    ASSERT_TRUE(key.IsOpen());
    if (enabled) key.SetUIntValue(L"Enabled", *enabled);
    if (location) key.SetStringValue(L"Location", location->wstring());
    if (level) key.SetUIntValue(L"Level", *level);
    if (fileSize) key.SetUIntValue(L"FileSize", *fileSize);
    if (keepFiles) key.SetUIntValue(L"KeepFiles", *keepFiles);
  }

  fs::path Base() const { return fs::path(Trace::GetTraceFileName()); }
  fs::path LogFile() const { return Base().string() + "_log.txt"; }
  fs::path OldFile() const { return Base().string() + "_log.old"; }
  fs::path InfoFile() const { return Base().string() + "_info.txt"; }

  norvtest::FreshRegistry registry_;
  norvtest::ScratchDir folder_;
  std::vector<NorvString> messages_;
  NorvMessageBoxHook previousHook_;
};

TEST_F(TraceTest, StartCreatesNamedFilesAndStopDeletesThemUnlessKept) {
  Settings(1, folder_.path(), 4, {}, 0);
  ASSERT_TRUE(Trace::Start(nullptr));
  EXPECT_TRUE(messages_.empty());
  EXPECT_EQ(gNorvBaseTraceLevel, 4);
  EXPECT_EQ(gNorvPluginTraceLevel, 4);
  // The location gains its separator; the base name carries start time and
  // process id.
  EXPECT_EQ(Trace::GetTraceLocation(), folder_.path().wstring() + L"/");
  std::string base = Base().filename();
  EXPECT_TRUE(Shaped(base, "NORV2.1_dddddddd_dddddd_" + std::string(std::to_string(getpid()).size(), 'd')) &&
              base.ends_with("_" + std::to_string(getpid())))
      << base;
  EXPECT_EQ(Base().parent_path(), folder_.path());
  EXPECT_TRUE(fs::exists(LogFile()));
  EXPECT_TRUE(fs::exists(InfoFile()));

  NorvBaseTrace("core/Trace.cpp", 10, 1, 0, L"a line");
  Trace::Stop();
  EXPECT_TRUE(FilesIn(folder_.path()).empty());
  EXPECT_EQ(gNorvBaseTraceLevel, -1);
  EXPECT_EQ(gNorvPluginTraceLevel, -1);
}

TEST_F(TraceTest, KeptFilesHoldTheLinesAfterStop) {
  Settings(1, folder_.path(), 4, {}, 1);
  ASSERT_TRUE(Trace::Start(nullptr));
  fs::path log = LogFile();
  NorvBaseTrace("/home/build/core/NorvDoc.cpp", 42, 3, 0, L"Setting up views");
  Trace::Stop();
  NorvBaseTrace("x.cpp", 1, 1, 0, L"after stop");  // switched off for good
  gNorvBaseTraceLevel = 4;                          // even if the host turns it on again
  Trace::WriteLog("x.cpp", 1, L"after stop");
  EXPECT_EQ(FilesIn(folder_.path()).size(), 2u);
  std::vector<std::string> lines = Lines(ReadAll(log));
  ASSERT_EQ(lines.size(), 1u);
  EXPECT_EQ(Parts(lines[0]), "Core|NorvDoc.cpp(42), Setting up views");
}

TEST_F(TraceTest, DebuggerOnlyTracingNeedsNoLocation) {
  Settings(2, {}, 4);
  testing::internal::CaptureStderr();
  EXPECT_TRUE(Trace::Start(nullptr));
  NorvBaseTrace("a/b.cpp", 7, 2, 0, L"to the debugger");
  std::string err = testing::internal::GetCapturedStderr();
  EXPECT_TRUE(messages_.empty());
  EXPECT_TRUE(FilesIn(folder_.path()).empty());
  EXPECT_NE(err.find("NORV2.1 Log: [Core], "), std::string::npos) << err;
  EXPECT_NE(err.find("b.cpp(7), to the debugger"), std::string::npos) << err;
  EXPECT_EQ(gNorvBaseTraceLevel, 4);
}

TEST_F(TraceTest, FilesWithoutLocationAreRefusedWithMessage7105) {
  Settings(1, {}, 4);
  EXPECT_FALSE(Trace::Start(nullptr));
  ASSERT_EQ(messages_.size(), 1u);
  EXPECT_FALSE(messages_[0].empty());
  EXPECT_EQ(Trace::GetTraceEnabled(), 0u);
  EXPECT_EQ(gNorvBaseTraceLevel, -1);
  EXPECT_EQ(gNorvPluginTraceLevel, -1);

  // With the debugger output asked for as well, that part stays on.
  messages_.clear();
  Settings(3, {}, 4);
  EXPECT_TRUE(Trace::Start(nullptr));
  EXPECT_EQ(messages_.size(), 1u);
  EXPECT_EQ(Trace::GetTraceEnabled(), Trace::kDebugger);
}

TEST_F(TraceTest, UncreatableFileGivesMessage7106WithItsPath) {
  // A folder below a plain file can never be created, whoever runs the test.
  std::ofstream(folder_.path() / "plain") << "x";
  fs::path location = folder_.path() / "plain" / "traces";
  Settings(1, location, 4);
  EXPECT_FALSE(Trace::Start(nullptr));
  ASSERT_EQ(messages_.size(), 1u);
  std::wstring info = Trace::GetTraceFileName() + L"_info.txt";
  EXPECT_NE(messages_[0].find(info), std::wstring::npos) << plat::ToUtf8(messages_[0]);
  EXPECT_EQ(Trace::GetTraceEnabled(), 0u);
  EXPECT_EQ(gNorvBaseTraceLevel, -1);
  EXPECT_EQ(FilesIn(folder_.path()), std::vector<std::string>{"plain"});
}

TEST_F(TraceTest, Message7106ComesFromTheHostsTextsWhenLoaded) {
  fs::path module = fs::path(plat::ModuleFileName(nullptr)).parent_path() / "libnorvhost_enu.so";
  if (!fs::exists(module)) GTEST_SKIP() << "no host resource module at " << module;
  HMODULE texts = plat::LoadResourceModule(module.string());
  ASSERT_NE(texts, nullptr) << plat::LibraryError();
  plat::SetCurrentResourceModule(texts);
  std::ofstream(folder_.path() / "plain") << "x";
  Settings(1, folder_.path() / "plain", 4);
  EXPECT_FALSE(Trace::Start(nullptr));
  plat::SetCurrentResourceModule(nullptr);
  ASSERT_EQ(messages_.size(), 1u);
  EXPECT_EQ(messages_[0], L"The trace file " + Trace::GetTraceFileName() +
                              L"_info.txt could not be created. No trace files are written.");
}

TEST_F(TraceTest, CommandLineOverridesTheStoredSettings) {
  ScratchDir other;
  Settings(0, folder_.path(), 1, 5000, 0);
  CNorvCommandLineInfo cmd;
  cmd.m_bTraceEnabledGiven = TRUE;
  cmd.m_TraceEnabled = 1;
  cmd.m_bTraceLevelGiven = TRUE;
  cmd.m_TraceLevel = 3;
  cmd.m_bTraceLocationGiven = TRUE;
  cmd.m_TraceLocation = other.path().wstring() + L"/";
  cmd.m_bTraceFileSizeGiven = TRUE;
  cmd.m_TraceFileSize = 123456;
  cmd.m_bTraceKeepFilesGiven = TRUE;
  cmd.m_TraceKeepFiles = 1;
  ASSERT_TRUE(Trace::Start(&cmd));
  EXPECT_EQ(gNorvBaseTraceLevel, 3);
  EXPECT_EQ(gNorvPluginTraceLevel, 3);
  EXPECT_EQ(Trace::GetTraceLocation(), other.path().wstring() + L"/");  // not doubled
  EXPECT_EQ(Trace::GetTraceFileSize(), 123456u);
  EXPECT_EQ(Trace::GetTraceKeepFiles(), 1);
  EXPECT_EQ(FilesIn(other.path()).size(), 2u);
  EXPECT_TRUE(FilesIn(folder_.path()).empty());

  // Without the command line the stored values (and defaults) apply.
  Trace::Stop();
  CNorvPrivateRegistryKey(plat::HKEY_CURRENT_USER, L"Trace", plat::KEY_ALL_ACCESS)
      .SetUIntValue(L"Enabled", 0);
  EXPECT_FALSE(Trace::Start(nullptr));
  EXPECT_EQ(Trace::GetTraceFileSize(), 5000u);
  EXPECT_EQ(gNorvBaseTraceLevel, -1);
}

TEST_F(TraceTest, DefaultsApplyWithoutStoredSettings) {
  gNorvBaseTraceLevel = 2;  // set by the host before start; no "Level" stored
  gNorvPluginTraceLevel = 2;
  CNorvCommandLineInfo cmd;
  cmd.m_bTraceEnabledGiven = TRUE;
  cmd.m_TraceEnabled = 2;
  ASSERT_TRUE(Trace::Start(&cmd));
  EXPECT_EQ(Trace::GetTraceFileSize(), 1048576u);
  EXPECT_EQ(Trace::GetTraceKeepFiles(), 0);
  EXPECT_EQ(Trace::GetTraceLocation(), L"");
  EXPECT_EQ(gNorvBaseTraceLevel, 2);
}

// Every framework line here is 40 bytes plus its text: "[Core], " (8), the
// time (19), ", " (2), "x.cpp" (5), "(1)" (3), ", " (2) and the line end.
void HundredByteLine(int n) {
  std::wstring text = L"line " + std::to_wstring(n);
  text.resize(60, L'.');
  Trace::WriteLog("x.cpp", 1, text);
}

TEST_F(TraceTest, RotationHappensOnlyWhenALinePassesTheSizeAndKeepsThatLine) {
  Settings(1, folder_.path(), 4, 300, 1);
  ASSERT_TRUE(Trace::Start(nullptr));
  for (int n = 1; n <= 3; ++n) HundredByteLine(n);
  // Exactly at the size: nothing rotated yet.
  EXPECT_EQ(fs::file_size(LogFile()), 300u);
  EXPECT_FALSE(fs::exists(OldFile()));
  // One byte past it: the line is written, then the log moves to "_log.old".
  Trace::WriteLog("x.cpp", 1, L"!");
  EXPECT_EQ(fs::file_size(LogFile()), 0u);
  std::vector<std::string> old = Lines(ReadAll(OldFile()));
  ASSERT_EQ(old.size(), 4u);
  EXPECT_NE(old[3].find("x.cpp(1), !"), std::string::npos);

  // A second rotation replaces the one old generation.
  for (int n = 4; n <= 7; ++n) HundredByteLine(n);
  old = Lines(ReadAll(OldFile()));
  ASSERT_EQ(old.size(), 4u);
  EXPECT_NE(old[0].find("line 4"), std::string::npos);
  EXPECT_EQ(fs::file_size(LogFile()), 0u);
  EXPECT_EQ(gNorvBaseTraceLevel, 4);
  EXPECT_EQ(FilesIn(folder_.path()).size(), 3u);
}

TEST_F(TraceTest, KeepFilesZeroRemovesEveryFileOfTheRunIncludingTheOldLog) {
  Settings(1, folder_.path(), 4, 150, 0);
  ASSERT_TRUE(Trace::Start(nullptr));
  for (int n = 1; n <= 5; ++n) HundredByteLine(n);
  Trace::DumpWindowsVersion();
  ASSERT_EQ(FilesIn(folder_.path()).size(), 3u);
  Trace::Stop();
  EXPECT_TRUE(FilesIn(folder_.path()).empty());
}

TEST_F(TraceTest, TraceFilesAreLockedAgainstOtherWriters) {
  Settings(1, folder_.path(), 4);
  ASSERT_TRUE(Trace::Start(nullptr));
  for (const fs::path& path : {LogFile(), InfoFile()}) {
    int fd = ::open(path.c_str(), O_WRONLY);
    ASSERT_GE(fd, 0);
    EXPECT_NE(::flock(fd, LOCK_EX | LOCK_NB), 0) << path;
    ::close(fd);
  }
}

TEST_F(TraceTest, IndentGrowsShrinksAndNeverGoesBelowEmpty) {
  Trace::Indent(4);
  EXPECT_EQ(Trace::GetIndent(), L"    ");
  Trace::Indent(-10);
  EXPECT_EQ(Trace::GetIndent(), L"");
  Trace::Indent(3);
  Trace::Indent(-1);
  EXPECT_EQ(Trace::GetIndent(), L"  ");
  Trace::Indent(0);
  EXPECT_EQ(Trace::GetIndent(), L"  ");
}

TEST_F(TraceTest, BaseTraceFiltersByLevelAndIndentsAroundItsLine) {
  Settings(1, folder_.path(), 3, {}, 1);
  ASSERT_TRUE(Trace::Start(nullptr));
  NorvBaseTrace("f.cpp", 1, 3, 2, L"call");       // line, then indent
  NorvBaseTrace("f.cpp", 2, 4, 0, L"detail");     // above the level: dropped
  NorvBaseTrace("f.cpp", 3, 4, 2, L"dropped");    // nor does its indent apply
  NorvBaseTrace("f.cpp", 4, 3, 0, L"inside");
  NorvBaseTrace("f.cpp", 5, 3, -2, L"result");    // outdent, then line
  std::vector<std::string> lines = Lines(ReadAll(LogFile()));
  ASSERT_EQ(lines.size(), 3u);
  EXPECT_NE(lines[0].find("f.cpp(1), call"), std::string::npos);
  EXPECT_NE(lines[1].find("f.cpp(4),   inside"), std::string::npos) << lines[1];
  EXPECT_NE(lines[2].find("f.cpp(5), result"), std::string::npos) << lines[2];
  EXPECT_EQ(Trace::GetIndent(), L"");
}

TEST_F(TraceTest, PluginLinesCarryThePluginNameAndFollowThePluginLevel) {
  Settings(1, folder_.path(), 3, {}, 1);
  ASSERT_TRUE(Trace::Start(nullptr));
  gNorvBaseTraceLevel = -1;  // framework lines off, plugin lines on
  NorvPluginTrace(3, nullptr, "src\\plugin\\Disks.cpp", 12, 2, L"unnamed");
  Trace::SetPluginNameResolver([](int id) { return id == 1 ? NorvString(L"Disks") : NorvString(); });
  NorvPluginTrace(1, nullptr, "Disks.cpp", 13, 3, L"named");
  NorvPluginTrace(1, nullptr, "Disks.cpp", 14, 4, L"too detailed");
  NorvBaseTrace("core.cpp", 1, 1, 0, L"framework");
  std::vector<std::string> lines = Lines(ReadAll(LogFile()));
  ASSERT_EQ(lines.size(), 2u);
  EXPECT_EQ(Parts(lines[0]), "Plugin 3|Disks.cpp(12), unnamed");
  EXPECT_EQ(Parts(lines[1]), "Disks|Disks.cpp(13), named");
}

TEST_F(TraceTest, PluginLinesAboutAnItemNameItsAddress) {
  Settings(1, folder_.path(), 4, {}, 1);
  ASSERT_TRUE(Trace::Start(nullptr));
  CTraceDiskItem item;
  ASSERT_TRUE(item.Initialize(nullptr, L"C:"));
  Trace::Indent(2);
  NorvPluginTrace(0, &item, "DiskItem.cpp", 44, 1, L"Refresh");
  Trace::Indent(-2);
  std::string address = Hex(&item);
  std::vector<std::string> lines = Lines(ReadAll(LogFile()));
  ASSERT_EQ(lines.size(), 1u);
  EXPECT_EQ(lines[0].substr(0, 12), "[Plugin 0], ");
  EXPECT_EQ(lines[0].substr(33), "DiskItem.cpp(44),   [CTraceDiskItem://C:] @ " + address +
                                     ": Refresh")
      << lines[0];
  EXPECT_EQ(NorvGetItemTraceInfo(&item, L"Target"),
            L"Target: [CTraceDiskItem://C:] @ " + plat::FromUtf8(address));
}

TEST_F(TraceTest, FileNamesLoseTheirFolderOfEitherKind) {
  EXPECT_EQ(Trace::StripFileName("Trace.cpp"), L"Trace.cpp");
  EXPECT_EQ(Trace::StripFileName("/work/main/core/Trace.cpp"), L"Trace.cpp");
  EXPECT_EQ(Trace::StripFileName(L"C:\\src\\norv\\core\\Trace.cpp"), L"Trace.cpp");
  EXPECT_EQ(Trace::StripFileName(L"src\\mixed/dir\\a.cpp"), L"a.cpp");
  EXPECT_EQ(Trace::StripFileName(L"folder/"), L"");
  EXPECT_EQ(Trace::StripFileName(L""), L"");
}

TEST_F(TraceTest, CommandNamesAndNumbers) {
  EXPECT_EQ(Trace::GetCmdName(40007), L"40007 (0x9C47)");
  EXPECT_EQ(Trace::GetCmdName(40003), L"ID_NORV_ITEMCMD_DBLCLK");
  EXPECT_EQ(Trace::GetCmdName(40023), L"ID_NORV_ITEMCMD_GET_MESSAGE_STRING");
  EXPECT_EQ(Trace::GetCmdName(35009), L"35009 (0x88C1)");
  EXPECT_EQ(Trace::GetCmdName(0), L"0 (0x0)");
}

TEST_F(TraceTest, ItemTraceTextWithAndWithoutPrefix) {
  EXPECT_EQ(NorvGetItemTraceInfo(nullptr), L"<NULL>");
  EXPECT_EQ(NorvGetItemTraceInfo(nullptr, L"Drop target"), L"Drop target: <NULL>");
  int object = 0;
  NorvString text = NorvFormatItemTraceInfo(&object, L"CDiskItem", L"C:", L"Source");
  EXPECT_EQ(plat::ToUtf8(text), "Source: [CDiskItem://C:] @ " + Hex(&object));
  EXPECT_EQ(NorvFormatItemTraceInfo(nullptr, L"C", L"", nullptr), L"[C://] @ 0x0000000000000000");
}

TEST_F(TraceTest, FormatStringFollowsTheWideConvention) {
  EXPECT_EQ(NorvFormatString(L"%s=%d (%S)", L"Größe", 42, "narrow"), L"Größe=42 (narrow)");
  EXPECT_EQ(NorvFormatString(L"%%"), L"%");
  // A missing string resource gives empty text, not garbage.
  EXPECT_EQ(NorvFormatString(64999u, 1), L"");
}

TEST_F(TraceTest, InformationFileHoldsVersionAndNewModulesOnlyOnce) {
  // The product type comes from the machine's registry.
  {
    CNorvRegistryKey key(plat::HKEY_LOCAL_MACHINE,
                         L"System\\CurrentControlSet\\Control\\ProductOptions", plat::KEY_WRITE);
    ASSERT_TRUE(key.IsOpen());
    ASSERT_TRUE(key.SetStringValue(L"ProductType", L"ServerNT"));
  }
  // A module with a version record, mapped into the process as a library
  // would be.
  plat::VersionRecord record;
  record.fileVersion[0] = 3, record.fileVersion[1] = 4, record.fileVersion[2] = 5,
  record.fileVersion[3] = 6;
  record.productVersion[0] = 2, record.productVersion[1] = 1;
  record.strings = {{L"ProductName", L"Sample"}};
  fs::path module = folder_.path() / "libsample.so";
  norvtest::WriteFile(module, norvtest::ElfWithRecord(plat::BuildVersionBlock(record)));
  int fd = ::open(module.c_str(), O_RDONLY);
  ASSERT_GE(fd, 0);
  void* mapped = ::mmap(nullptr, 4096, PROT_READ, MAP_PRIVATE, fd, 0);
  ::close(fd);
  ASSERT_NE(mapped, MAP_FAILED);

  ScratchDir traces;
  Settings(3, traces.path(), 4, {}, 1);
  ASSERT_TRUE(Trace::Start(nullptr));
  testing::internal::CaptureStderr();
  Trace::DumpWindowsVersion();
  Trace::DumpLoadedModules(L"Modules at start");
  Trace::DumpLoadedModules(L"Modules after loading plugins");
  std::string err = testing::internal::GetCapturedStderr();
  ::munmap(mapped, 4096);

  std::string info = ReadAll(InfoFile());
  EXPECT_EQ(info.rfind("Windows Version Information:\n\nPlatform:    Windows NT Server\n"
                       "Version:     ",
                       0),
            0u)
      << info;
  unsigned major = 0, minor = 0, build = 0;
  int servicePackAt = -1;
  EXPECT_EQ(std::sscanf(info.c_str() + info.find("Version:     "),
                        "Version:     %u.%u.%u\nServicepack: %n", &major, &minor, &build,
                        &servicePackAt),
            3)
      << info;
  EXPECT_GT(servicePackAt, 0);
  EXPECT_LE(build, 0xFFFFu);
  char base[32];
  std::snprintf(base, sizeof base, "0x%08llX", static_cast<unsigned long long>(
                                                   reinterpret_cast<uintptr_t>(mapped)));
  std::string row = "libsample.so " + std::string(base) + "   3.4.5.6             2.1.0.0             " +
                    module.string() + "\r\n";
  EXPECT_NE(info.find("Modules at start:\n\n"
                      "Module       Base Address File Version        Product Version     Path\n"
                      "------------ ------------ ------------------- ---------------     ----\n"),
            std::string::npos)
      << info;
  size_t first = info.find(row);
  EXPECT_NE(first, std::string::npos) << info;
  EXPECT_EQ(info.find(row, first + 1), std::string::npos) << "listed twice";
  // Every debugger copy is marked as information.
  EXPECT_NE(err.find("NORV2.1 Info: Windows Version Information:"), std::string::npos) << err;
}

TEST_F(TraceTest, LinesFromManyThreadsNeverMix) {
  constexpr int kThreads = 8;
  constexpr int kLines = 1500;
  for (UINT fileSize : {100000000u, 20000u}) {
    ScratchDir traces;
    Settings(1, traces.path(), 4, fileSize, 1);
    ASSERT_TRUE(Trace::Start(nullptr));
    std::vector<std::thread> threads;
    for (int t = 0; t < kThreads; ++t)
      threads.emplace_back([t] {
        for (int n = 0; n < kLines; ++n) {
          NorvBaseTrace("worker.cpp", t, 1, 0,
                        NorvFormatString(L"thread %d line %d %s", t, n,
                                         std::wstring(static_cast<size_t>(n % 50), L'x').c_str()));
          NorvPluginTrace(t, nullptr, "plugin.cpp", n, 1, L"p" + std::to_wstring(n));
        }
      });
    for (auto& thread : threads) thread.join();
    std::string text = ReadAll(LogFile());
    if (fileSize < 100000000u) text = ReadAll(OldFile()) + text;
    std::vector<std::string> lines = Lines(text);
    if (fileSize == 100000000u) {
      EXPECT_EQ(lines.size(), 2u * kThreads * kLines);
    }
    for (const std::string& line : lines) {
      std::string tag, rest;
      int file = -1, thread = -2, n = -1, at = -1, plugin = -1, pluginLine = -2;
      bool whole = ParseLine(line, &tag, &rest);
      if (whole && tag == "Core") {
        // "worker.cpp(<t>), thread <t> line <n> " and n % 50 x's.
        whole = std::sscanf(rest.c_str(), "worker.cpp(%d), thread %d line %d %n", &file, &thread,
                            &n, &at) == 3 &&
                at > 0 && file == thread &&
                rest.substr(static_cast<size_t>(at)) == std::string(static_cast<size_t>(n % 50), 'x');
      } else if (whole) {
        whole = std::sscanf(tag.c_str(), "Plugin %d", &plugin) == 1 &&
                std::sscanf(rest.c_str(), "plugin.cpp(%d), p%d%n", &pluginLine, &n, &at) == 2 &&
                pluginLine == n && static_cast<size_t>(at) == rest.size();
      }
      if (!whole) {
        ADD_FAILURE() << "mixed line: " << line;
        break;
      }
    }
    Trace::Stop();
  }
}

}  // namespace
