// norvexplore-cli run as a program: what it prints, and how it fails.
#include <gtest/gtest.h>
#include <stdlib.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdio>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>


namespace {

struct CliRun {
  int status = -1;  // exit status, -1 when it did not exit normally
  std::string output;  // standard output and error together
};

CliRun RunCli(const std::string& arguments) {
  CliRun run;
  const std::string command = std::string("'") + CLI_FILE + "' " + arguments + " 2>&1";
  FILE* pipe = popen(command.c_str(), "r");
  if (pipe == nullptr) return run;
  char buffer[4096];
  std::size_t n = 0;
  while ((n = fread(buffer, 1, sizeof buffer, pipe)) > 0) run.output.append(buffer, n);
  const int status = pclose(pipe);
  run.status = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
  return run;
}

bool Has(const CliRun& run, const std::string& text) {
  return run.output.find(text) != std::string::npos;
}

class CliTest : public ::testing::Test {
 protected:
  void SetUp() override {
    char pattern[] = "/tmp/norv-cli-XXXXXX";
    ASSERT_NE(mkdtemp(pattern), nullptr);
    folder_ = pattern;
    setenv("NORV_REGISTRY_DIR", folder_.c_str(), 1);
    setenv("QT_QPA_PLATFORM", "offscreen", 1);
  }
  void TearDown() override {
    std::error_code ignored;
    std::filesystem::remove_all(folder_, ignored);
  }
  static void Register() {
    const std::string command = std::string("'") + SYSTEM_REGISTER + "' >/dev/null";
    ASSERT_EQ(std::system(command.c_str()), 0) << command;
  }
  std::string folder_;
};

TEST_F(CliTest, PrintsTheTreeWithAddresses) {
  Register();
  const CliRun run = RunCli("--depth 2");
  EXPECT_EQ(run.status, 0) << run.output;
  EXPECT_TRUE(Has(run, "System  [CSystemRoot://system]\n")) << run.output;
  EXPECT_TRUE(Has(run, "\n  Processes  [CSystemProcessFolder://processes]\n")) << run.output;
  EXPECT_TRUE(Has(run, "\n  Mounts  [CSystemMountFolder://mounts]\n")) << run.output;

  const CliRun shallow = RunCli("--depth=0");
  EXPECT_EQ(shallow.status, 0);
  EXPECT_FALSE(Has(shallow, "Processes")) << shallow.output;
}

TEST_F(CliTest, PrintsListsAsTables) {
  Register();
  // Paths match without regard to case, as in the explorer.
  const CliRun run = RunCli("--depth 0 --list /processes --list /Mounts");
  EXPECT_EQ(run.status, 0) << run.output;
  EXPECT_TRUE(Has(run, "/processes  [CSystemProcessFolder://processes]: ")) << run.output;
  EXPECT_TRUE(Has(run, "PID  Name")) << run.output;
  EXPECT_TRUE(Has(run, "Threads")) << run.output;
  EXPECT_TRUE(Has(run, " KB\n")) << run.output;
  EXPECT_TRUE(Has(run, "Device")) << run.output;
  EXPECT_TRUE(Has(run, "Mount point")) << run.output;

  // The relative forms of a tree path; above the top there is nothing.
  const CliRun relative = RunCli("--depth 0 --list ./processes/../Mounts --list /..");
  EXPECT_EQ(relative.status, 1) << relative.output;
  EXPECT_TRUE(Has(relative, "./processes/../Mounts  [CSystemMountFolder://mounts]: "))
      << relative.output;
  EXPECT_TRUE(Has(relative, "no object at tree path \"/..\"")) << relative.output;

  const CliRun german = RunCli("--depth 0 --list /Prozesse locale:deu");
  EXPECT_EQ(german.status, 0) << german.output;
  EXPECT_TRUE(Has(german, "Speicher")) << german.output;
}

TEST_F(CliTest, WatchesForChanges) {
  Register();
  const CliRun run = RunCli("--depth 0 --list /Processes --watch 1");
  EXPECT_EQ(run.status, 0) << run.output;
  EXPECT_TRUE(Has(run, "Watching for 1 s")) << run.output;
  EXPECT_TRUE(Has(run, "refresh request")) << run.output;
}

TEST_F(CliTest, FailsClearlyOnBadInput) {
  Register();
  CliRun run = RunCli("--bogus");
  EXPECT_EQ(run.status, 2);
  EXPECT_TRUE(Has(run, "unknown option \"--bogus\"")) << run.output;
  EXPECT_TRUE(Has(run, "--help")) << run.output;

  run = RunCli("bogus:1");
  EXPECT_EQ(run.status, 2);
  EXPECT_TRUE(Has(run, "bogus")) << run.output;

  run = RunCli("--depth many");
  EXPECT_EQ(run.status, 2);
  EXPECT_TRUE(Has(run, "--depth")) << run.output;

  run = RunCli("--list");
  EXPECT_EQ(run.status, 2);

  run = RunCli("--list /Nowhere");
  EXPECT_EQ(run.status, 1);
  EXPECT_TRUE(Has(run, "no object at tree path \"/Nowhere\"")) << run.output;
}

TEST_F(CliTest, FailsWithoutPlugins) {
  const CliRun run = RunCli("");
  EXPECT_EQ(run.status, 1);
  EXPECT_TRUE(Has(run, "No plugin could be loaded")) << run.output;
}

TEST_F(CliTest, Help) {
  const CliRun run = RunCli("--help");
  EXPECT_EQ(run.status, 0);
  EXPECT_TRUE(Has(run, "Usage: norvexplore-cli")) << run.output;
  EXPECT_TRUE(Has(run, "--list PATH")) << run.output;
}

TEST_F(CliTest, WritesTheTraceWhereItIsTold) {
  Register();
  const std::string traceFolder = folder_ + "/trace/";
  std::filesystem::create_directories(traceFolder);
  const CliRun run = RunCli("--depth 1 traceEnabled:1 traceLevel:4 traceKeepFiles:1 traceLocation:" +
                         traceFolder);
  EXPECT_EQ(run.status, 0) << run.output;
  bool log = false;
  std::string info;
  for (const auto& entry : std::filesystem::directory_iterator(traceFolder)) {
    const std::string name = entry.path().filename().string();
    log = log || (name.rfind("NORV2.1_", 0) == 0 && name.size() > 8 &&
                  name.substr(name.size() - 8) == "_log.txt");
    if (name.size() > 9 && name.substr(name.size() - 9) == "_info.txt") {
      std::ifstream file(entry.path());
      info.assign(std::istreambuf_iterator<char>(file), std::istreambuf_iterator<char>());
    }
  }
  EXPECT_TRUE(log) << "no trace log in " << traceFolder;
  // The information file: the system, then the modules before and after the
  // plugins (the System plugin's library among the latter).
  EXPECT_NE(info.find("Windows Version Information:"), std::string::npos) << info;
  const std::size_t start = info.find("Modules loaded at start-up:");
  const std::size_t plugins = info.find("Modules loaded with the plugins:");
  ASSERT_NE(start, std::string::npos) << info;
  ASSERT_NE(plugins, std::string::npos) << info;
  EXPECT_NE(info.find("libnorvsystem.so", plugins), std::string::npos) << info;
}

}  // namespace
