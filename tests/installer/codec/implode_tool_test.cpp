// The implode tool: round trips in both modes through files, exit codes and
// messages on bad streams and options.
#include <gtest/gtest.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>

namespace fs = std::filesystem;

namespace {

class ImplodeTool : public ::testing::Test {
 protected:
  void SetUp() override {
    dir_ = fs::temp_directory_path() / ("implode_tool_" + std::to_string(::getpid()));
    fs::create_directories(dir_);
  }
  void TearDown() override { fs::remove_all(dir_); }

  std::string Path(const char* name) const { return (dir_ / name).string(); }

  static void Put(const std::string& path, const std::string& data) {
    std::ofstream(path, std::ios::binary) << data;
  }
  static std::string Get(const std::string& path) {
    std::ifstream f(path, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(f), {});
  }
  // Runs the tool with arguments; returns its exit code, stderr in *err.
  int Run(const std::string& args, std::string* err = nullptr) const {
    const std::string errFile = Path("stderr.txt");
    const int status = std::system((std::string(IMPLODE_TOOL) + " " + args + " 2>" + errFile).c_str());
    if (err) *err = Get(errFile);
    return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
  }

  fs::path dir_;
};

}  // namespace

TEST_F(ImplodeTool, RoundTripThroughFilesAndPipes) {
  std::string data;
  for (int i = 0; i < 3000; ++i) data += "line " + std::to_string(i % 97) + " of the package\n";
  Put(Path("in.txt"), data);
  std::string err;
  EXPECT_EQ(Run("-s 2048 " + Path("in.txt") + " " + Path("in.imp"), &err), 0);
  EXPECT_TRUE(err.empty()) << err;  // quiet without -v
  const std::string packed = Get(Path("in.imp"));
  ASSERT_GE(packed.size(), 4u);
  EXPECT_EQ(packed[1], 5);
  EXPECT_EQ(Run("-d < " + Path("in.imp") + " > " + Path("out.txt")), 0);
  EXPECT_EQ(Get(Path("out.txt")), data);
  EXPECT_EQ(Run("-v " + Path("in.txt") + " -", &err), 0);
  EXPECT_NE(err.find("bytes in"), std::string::npos);
}

TEST_F(ImplodeTool, AsciiModeWritesTypeOneAndDecodesFromTheHeader) {
  std::string data;
  for (int i = 0; i < 2000; ++i) data += "Member " + std::to_string(i * 7919 % 1000) + " extracted.\n";
  Put(Path("text"), data);
  std::string err;
  ASSERT_EQ(Run("-a -s 1024 -v " + Path("text") + " " + Path("text.imp"), &err), 0) << err;
  EXPECT_NE(err.find("ASCII"), std::string::npos) << err;
  const std::string ascii = Get(Path("text.imp"));
  ASSERT_GE(ascii.size(), 4u);
  EXPECT_EQ(ascii[0], 1);
  EXPECT_EQ(ascii[1], 4);
  // The last of -a and -b counts.
  ASSERT_EQ(Run("-a -b " + Path("text") + " " + Path("text.bin")), 0);
  EXPECT_EQ(Get(Path("text.bin"))[0], 0);
  ASSERT_EQ(Run("-b -a " + Path("text") + " " + Path("text.a2")), 0);
  EXPECT_EQ(Get(Path("text.a2"))[0], 1);
  // Decompression reads the type from the stream; -a or -b do not change it.
  EXPECT_EQ(Run("-d " + Path("text.imp") + " " + Path("back1")), 0);
  EXPECT_EQ(Get(Path("back1")), data);
  EXPECT_EQ(Run("-d -b " + Path("text.imp") + " " + Path("back2")), 0);
  EXPECT_EQ(Get(Path("back2")), data);
  EXPECT_EQ(Run("-d -a " + Path("text.bin") + " " + Path("back3")), 0);
  EXPECT_EQ(Get(Path("back3")), data);
}

TEST_F(ImplodeTool, BadStreamsFailWithTheReason) {
  std::string err;
  Put(Path("dict.imp"), std::string("\x00\x07zzzzzz", 8));
  EXPECT_NE(Run("-d " + Path("dict.imp") + " " + Path("o1"), &err), 0);
  EXPECT_NE(err.find("dictionary"), std::string::npos) << err;
  EXPECT_FALSE(fs::exists(Path("o1")));

  Put(Path("short.imp"), std::string("\x00\x06\x82", 3));
  EXPECT_NE(Run("-d " + Path("short.imp") + " " + Path("o2"), &err), 0);
  EXPECT_NE(err.find("too short"), std::string::npos) << err;

  std::string data(20000, 'x');
  for (std::size_t i = 0; i < data.size(); i += 7) data[i] = char('a' + i % 13);
  Put(Path("data"), data);
  ASSERT_EQ(Run(Path("data") + " " + Path("data.imp")), 0);
  const std::string packed = Get(Path("data.imp"));
  Put(Path("cut.imp"), packed.substr(0, packed.size() / 2));
  EXPECT_NE(Run("-d " + Path("cut.imp") + " " + Path("o3"), &err), 0);
  EXPECT_NE(err.find("truncated"), std::string::npos) << err;
  // What came before the damage is kept.
  const std::string partial = Get(Path("o3"));
  EXPECT_GT(partial.size(), 0u);
  EXPECT_EQ(partial, data.substr(0, partial.size()));
}

TEST_F(ImplodeTool, RejectsBadOptions) {
  std::string err;
  EXPECT_NE(Run("-s 999 /dev/null", &err), 0);
  EXPECT_NE(err.find("1024, 2048 or 4096"), std::string::npos) << err;
  Put(Path("type.imp"), std::string("\x02\x06zzzzzz", 8));
  EXPECT_NE(Run("-d " + Path("type.imp") + " " + Path("o"), &err), 0);
  EXPECT_NE(err.find("compression type"), std::string::npos) << err;
  EXPECT_NE(Run("-q", &err), 0);
  EXPECT_EQ(Run("-h"), 0);
}
