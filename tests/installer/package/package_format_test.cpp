// The member writer and the walker agree on every byte; the walker ends
// cleanly wherever the chain does not hold together.
#include <cstring>

#include "package_reader.h"
#include "package_test_util.h"
#include "package_writer.h"

namespace {

using pkgtest::Member;
using pkgtest::RawMember;

struct Walked {
  zel::MemberInfo info;
  std::string content;
  int result;
};

std::vector<Walked> Walk(const std::string& package) {
  zel::PackageInput input = zel::PackageInputFromMemory(package.data(), package.size());
  zel::PackageWalker walker(input);
  std::vector<Walked> out;
  zel::MemberInfo m;
  while (walker.Next(&m)) {
    std::string content;
    int result = zel::DecodeMember(
        input, m,
        [](const unsigned char* data, std::size_t size, void* p) {
          static_cast<std::string*>(p)->append(reinterpret_cast<const char*>(data), size);
          return true;
        },
        &content, nullptr);
    out.push_back({m, content, result});
  }
  return out;
}

zel::PackageEntry Entry(const std::string& source, const char* name) {
  zel::PackageEntry e{};
  std::snprintf(e.source, sizeof e.source, "%s", source.c_str());
  e.name = name;
  return e;
}

class PackageFormat : public ScratchTest {};

TEST_F(PackageFormat, WrittenMembersWalkBackInReverseOrder) {
  const std::string stub = "\x7f" "ELF stub image bytes";
  std::string big;
  for (unsigned i = 0; i < 100000; ++i) big += static_cast<char>((i * i) >> 3);
  WriteFile(Path("client.exe"), stub);
  WriteFile(Path("a.bin"), big);
  WriteFile(Path("empty.txt"), "");
  WriteFile(Path("qvcore32.dll"), "library");

  zel::PackageEntry entries[] = {Entry(Path("a.bin"), "OrbCSetup.exe"), Entry(Path("missing"), "gone.dll"),
                                 Entry(Path("empty.txt"), "install.cdb"), Entry(Path("qvcore32.dll"), nullptr),
                                 Entry(Path("a.bin"), "../escape")};
  EXPECT_EQ(zel::WritePackageMembers(Path("client.exe").c_str(), 5, entries, 4096), 3);

  std::string package = ReadFile(Path("client.exe"));
  EXPECT_EQ(package.compare(0, stub.size(), stub), 0);  // the stub image is untouched
  // The file ends with the trailer of the last name ("qvcore32.dll": 12 + 16).
  EXPECT_EQ(package.substr(package.size() - 4), std::string("\x1C\0\0\0", 4));

  auto members = Walk(package);
  ASSERT_EQ(members.size(), 3u);
  EXPECT_STREQ(members[0].info.name, "qvcore32.dll");  // own file name when none is given
  EXPECT_EQ(members[0].info.sequence, 3u);
  EXPECT_EQ(members[0].content, "library");
  EXPECT_STREQ(members[1].info.name, "install.cdb");
  EXPECT_EQ(members[1].info.sequence, 2u);  // the missing source did not take a number
  EXPECT_EQ(members[1].info.crc, 0u);       // empty content
  EXPECT_EQ(members[1].content, "");
  EXPECT_STREQ(members[2].info.name, "OrbCSetup.exe");
  EXPECT_EQ(members[2].info.sequence, 1u);
  EXPECT_EQ(members[2].content, big);
  EXPECT_EQ(members[2].info.dataOffset, stub.size());
  for (const auto& m : members) EXPECT_EQ(m.result, zel::EXTRACT_OK) << m.info.name;

  // Every compressed stream is binary with a 4096-byte dictionary.
  EXPECT_EQ(package[stub.size()], 0);
  EXPECT_EQ(package[stub.size() + 1], 6);

  // Appending again continues after the present content.
  zel::PackageEntry more[] = {Entry(Path("qvcore32.dll"), "again.dll")};
  EXPECT_EQ(zel::WritePackageMembers(Path("client.exe").c_str(), 1, more, 4096), 1);
  EXPECT_EQ(ReadFile(Path("client.exe")).compare(0, package.size(), package), 0);
}

TEST_F(PackageFormat, StoredCrcIsTheStandardCrc32) {
  WriteFile(Path("check.txt"), "123456789");
  WriteFile(Path("pkg"), "S");
  zel::PackageEntry entries[] = {Entry(Path("check.txt"), nullptr)};
  ASSERT_EQ(zel::WritePackageMembers(Path("pkg").c_str(), 1, entries, 4096), 1);
  auto members = Walk(ReadFile(Path("pkg")));
  ASSERT_EQ(members.size(), 1u);
  EXPECT_EQ(members[0].info.crc, 0xCBF43926u);
  EXPECT_EQ(pkgtest::Crc("123456789"), 0xCBF43926u);
}

TEST_F(PackageFormat, OutputThatCannotBeOpenedWritesNothing) {
  WriteFile(Path("a"), "x");
  zel::PackageEntry entries[] = {Entry(Path("a"), "a")};
  EXPECT_EQ(zel::WritePackageMembers(Path("no/folder/client.exe").c_str(), 1, entries, 4096), 0);
  EXPECT_EQ(zel::WritePackageMembers(dir_.c_str(), 1, entries, 4096), 0);  // a folder
}

TEST_F(PackageFormat, BareStubHasNoMembers) {
  EXPECT_TRUE(Walk(std::string("stub image\0\0\0\0", 14)).empty());
  EXPECT_TRUE(Walk("").empty());
  EXPECT_TRUE(Walk("abc").empty());
}

TEST_F(PackageFormat, BrokenChainsEndTheWalkQuietly) {
  const std::string stub = "STUBSTUBSTUB";
  std::string one = Member("first", 1, "one.txt");
  std::string two = Member("second", 2, "two.txt");

  // Trailer disagreeing with the header: nothing is read.
  std::string bad = stub + one + two;
  bad[bad.size() - 4] = 0x30;
  EXPECT_TRUE(Walk(bad).empty());

  // A trailer pointing before the start of the file.
  std::string far = stub + one;
  far.replace(far.size() - 4, 4, std::string("\xF0\xFF\xFF\x7F", 4));
  EXPECT_TRUE(Walk(far).empty());

  // A compressed length reaching before the start of the file.
  std::string longData = stub + RawMember("xx", 0, 1, "n.txt");
  longData.replace(longData.size() - 4 - 5 - 16 + 4, 4, std::string("\xFF\xFF\x00\x00", 4));
  EXPECT_TRUE(Walk(longData).empty());

  // A name longer than any member name may be.
  std::string longName(300, 'n');
  EXPECT_TRUE(Walk(stub + RawMember("", 0, 1, longName)).empty());

  // Sequence numbers that claim more members than there are: the walk ends
  // where the chain does.
  auto walked = Walk(stub + Member("only", 5, "five.txt"));
  ASSERT_EQ(walked.size(), 1u);
  EXPECT_STREQ(walked[0].info.name, "five.txt");

  // Member 2 is broken: member 3 is still read, then the walk ends.
  std::string chain = stub + one + RawMember("junk", 1, 2, "bad") + Member("third", 3, "three.txt");
  std::string brokenTwo = chain;
  brokenTwo[stub.size() + one.size() + 4 + 16 + 3 + 0] = 0x7F;  // member 2's trailer
  walked = Walk(brokenTwo);
  ASSERT_EQ(walked.size(), 1u);
  EXPECT_STREQ(walked[0].info.name, "three.txt");
}

TEST_F(PackageFormat, CorruptContentFailsItsCrc) {
  std::string member = Member(std::string(5000, 'a') + "tail", 1, "install.cdb");
  std::string package = "STUB" + member;
  std::string wrongCrc = package;
  wrongCrc[package.size() - 4 - 11 - 16] ^= 1;  // the stored CRC
  auto walked = Walk(wrongCrc);
  ASSERT_EQ(walked.size(), 1u);
  EXPECT_EQ(walked[0].result, zel::EXTRACT_BAD_CRC);
  EXPECT_STREQ(zel::ExtractResultText(walked[0].result), "Bad CRC");

  // A compressed stream cut short.
  std::string data = pkgtest::Compress(std::string(5000, 'a') + "tail");
  walked = Walk("STUB" + RawMember(data.substr(0, data.size() / 2), pkgtest::Crc(std::string(5000, 'a') + "tail"),
                                   1, "install.cdb"));
  ASSERT_EQ(walked.size(), 1u);
  EXPECT_EQ(walked[0].result, zel::EXTRACT_BAD_CRC);
}

TEST(PackageNames, OnlyBareFileNamesAreAccepted) {
  for (const char* good : {"OrbCSetup.exe", "install.cdb", "a", "...", "name with space", "ünïcode.txt"})
    EXPECT_TRUE(zel::IsBareFileName(good, std::strlen(good))) << good;
  for (const char* bad : {"", ".", "..", "../x", "a/b", "/abs", "C:\\x", "tab\there", "nl\n", "\x7f"})
    EXPECT_FALSE(zel::IsBareFileName(bad, std::strlen(bad))) << bad;
  EXPECT_FALSE(zel::IsBareFileName("a\0b", 3));
  std::string tooLong(260, 'x');
  EXPECT_FALSE(zel::IsBareFileName(tooLong.c_str(), tooLong.size()));
  EXPECT_TRUE(zel::IsBareFileName(tooLong.c_str(), 259));
  EXPECT_TRUE(zel::SameNameNoCase("OrbCSetup.exe", "ORBCSETUP.EXE"));
  EXPECT_FALSE(zel::SameNameNoCase("OrbCSetup.exe", "OrbCSetup.ex"));
}

}  // namespace
