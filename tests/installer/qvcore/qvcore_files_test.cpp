// Start-up counting, the application path from the registry, path and text
// operations, files, and the entry table.
#include <sys/stat.h>

#include <cstring>
#include <set>

#include "platform/registry.h"
#include "qv/qvcore.h"
#include "scratch.h"

namespace {

class QvCore : public ScratchTest {};

void SetString(plat::HKEY root, const char* key, const char* name, const std::string& value) {
  plat::HKEY k = nullptr;
  ASSERT_EQ(plat::RegCreateKeyExA(root, key, 0, nullptr, 0, plat::KEY_ALL_ACCESS, nullptr, &k, nullptr),
            plat::ERROR_SUCCESS);
  ASSERT_EQ(plat::RegSetValueExA(k, name, 0, plat::REG_SZ,
                                 reinterpret_cast<const plat::BYTE*>(value.c_str()),
                                 static_cast<plat::DWORD>(value.size() + 1)),
            plat::ERROR_SUCCESS);
  plat::RegCloseKey(k);
}

TEST_F(QvCore, StartupCountsAndAppPathFollowsTheMode) {
  SetString(plat::HKEY_LOCAL_MACHINE, "Software\\Velmora\\Orbserver\\CurrentVersion", "InstallDir",
            "/opt/server/");
  SetString(plat::HKEY_CURRENT_USER, "Software\\Velmora\\Orbclient\\CurrentVersion", "InstallDir",
            "/home/user/client");
  SetString(plat::HKEY_LOCAL_MACHINE, "Software\\Velmora\\Orbclient\\CurrentVersion", "InstallDir",
            "/opt/client");
  EXPECT_EQ(qvShutDown(), -1);  // nothing started

  char path[QV_MAX_PATH];
  EXPECT_EQ(qvStartup(1), 0);
  EXPECT_EQ(qvStartup(0), 0);  // a later start only counts
  EXPECT_EQ(qvGetAppPath(path, sizeof path), 11);
  EXPECT_STREQ(path, "/opt/server");  // without the trailing separator
  EXPECT_EQ(qvGetDataPath(path, sizeof path), 11);  // no DataDir: the application path
  EXPECT_EQ(qvShutDown(), 1);
  EXPECT_EQ(qvShutDown(), 0);

  EXPECT_EQ(qvStartup(0), 0);
  qvGetAppPath(path, sizeof path);
  EXPECT_STREQ(path, "/home/user/client");  // the user's value first
  SetString(plat::HKEY_CURRENT_USER, "Software\\Velmora\\Orbclient\\CurrentVersion", "DataDir", "/data");
  qvGetDataPath(path, sizeof path);
  EXPECT_STREQ(path, "/data");
  char small[4];
  EXPECT_EQ(qvGetAppPath(small, sizeof small), -1);
  EXPECT_EQ(qvShutDown(), 0);
}

TEST_F(QvCore, PathAndTextOperations) {
  char buffer[QV_MAX_PATH] = "/tmp/x";
  EXPECT_EQ(qvAddPathSeparator(buffer, sizeof buffer), 7);
  EXPECT_STREQ(buffer, "/tmp/x/");
  EXPECT_EQ(qvAddPathSeparator(buffer, sizeof buffer), 7);
  char full[4] = "abc";
  EXPECT_EQ(qvAddPathSeparator(full, sizeof full), -1);

  EXPECT_EQ(qvGetFileName("/a/b/setup.zel", buffer, sizeof buffer), 9);
  EXPECT_STREQ(buffer, "setup.zel");
  qvGetFileName("C:\\Program Files\\qvcore32.dll", buffer, sizeof buffer);
  EXPECT_STREQ(buffer, "qvcore32.dll");
  qvGetFileName("plain", buffer, sizeof buffer);
  EXPECT_STREQ(buffer, "plain");

  EXPECT_EQ(qvULongToHexString(0xBEEF, buffer), 8);
  EXPECT_STREQ(buffer, "0000BEEF");

  const char* longPath = "/home/someone/Documents/Projects/backup/client/settings/user.ini";
  int n = qvDirectoryNameTrim(longPath, buffer, 30);
  EXPECT_LE(n, 30);
  EXPECT_STREQ(buffer, "/home/.../settings/user.ini");
  qvDirectoryNameTrim("/short", buffer, 30);
  EXPECT_STREQ(buffer, "/short");
  qvDirectoryNameTrim("/a/averyveryverylongfilename.txt", buffer, 12);
  EXPECT_EQ(std::strlen(buffer), 12u);

  std::uint32_t dos = (44u << 25) | (3u << 21) | (9u << 16) | (14u << 11) | (30u << 5) | 10u;
  EXPECT_EQ(qvDateTimeToString(dos, buffer, sizeof buffer), 19);
  EXPECT_STREQ(buffer, "2024-03-09 14:30:20");
  EXPECT_EQ(qvDateTimeToString(dos, buffer, 10), -1);
  EXPECT_GE(qvGetCurrentDosDateTime() >> 25, 44u);
}

TEST_F(QvCore, FileOperations) {
  WriteFile(Path("a.txt"), "content");
  EXPECT_NE(qvFileCheckExist(Path("a.txt").c_str()), 0);
  EXPECT_EQ(qvFileCheckExist(Path("b.txt").c_str()), 0);
  EXPECT_EQ(qvFileCheckExist(dir_.c_str()), 0);  // a folder is not a file
  EXPECT_EQ(qvFileGetSize(Path("a.txt").c_str()), 7u);
  EXPECT_EQ(qvFileGetSize(Path("b.txt").c_str()), 0u);

  EXPECT_EQ(qvFileCopy(Path("a.txt").c_str(), Path("b.txt").c_str(), 1), 0);
  EXPECT_EQ(ReadFile(Path("b.txt")), "content");
  EXPECT_EQ(qvFileCopy(Path("a.txt").c_str(), Path("b.txt").c_str(), 1), -1);
  WriteFile(Path("a.txt"), "new");
  EXPECT_EQ(qvFileCopy(Path("a.txt").c_str(), Path("b.txt").c_str(), 0), 0);
  EXPECT_EQ(ReadFile(Path("b.txt")), "new");
  // Onto itself: refused, the file keeps its content.
  EXPECT_EQ(qvFileCopy(Path("a.txt").c_str(), Path("a.txt").c_str(), 0), -1);
  EXPECT_EQ(ReadFile(Path("a.txt")), "new");
  EXPECT_EQ(qvFileCopy(Path("none").c_str(), Path("c.txt").c_str(), 0), -1);
  // A link planted at either end is not followed, whether or not the target may be replaced.
  WriteFile(Path("victim"), "precious");
  std::filesystem::create_symlink(Path("victim"), Path("link"));
  EXPECT_EQ(qvFileCopy(Path("a.txt").c_str(), Path("link").c_str(), 0), -1);
  EXPECT_EQ(qvFileCopy(Path("a.txt").c_str(), Path("link").c_str(), 1), -1);
  EXPECT_EQ(ReadFile(Path("victim")), "precious");
  EXPECT_EQ(qvFileCopy(Path("link").c_str(), Path("d.txt").c_str(), 0), -1);

  // Programs stay programs: the copy takes the source's permission bits, also
  // when it replaces a file of another mode.
  WriteFile(Path("prog"), "#!/bin/sh\n");
  chmod(Path("prog").c_str(), 0750);
  EXPECT_EQ(qvFileCopy(Path("prog").c_str(), Path("b.txt").c_str(), 0), 0);
  EXPECT_EQ(qvFileCopy(Path("prog").c_str(), Path("d").c_str(), 1), 0);
  struct stat st {};
  ASSERT_EQ(stat(Path("b.txt").c_str(), &st), 0);
  EXPECT_EQ(st.st_mode & 0777, 0750u);
  ASSERT_EQ(stat(Path("d").c_str(), &st), 0);
  EXPECT_EQ(st.st_mode & 0777, 0750u);

  std::uint32_t dos = (40u << 25) | (6u << 21) | (15u << 16) | (8u << 11) | (5u << 5) | 2u;
  EXPECT_EQ(qvFileSetDateTime(Path("a.txt").c_str(), dos), 0);
  int find = qvFileFindFirst(Path("a.*").c_str());
  ASSERT_GT(find, 0);
  EXPECT_EQ(qvFileFindGetDosDateTime(find), dos);
  EXPECT_EQ(qvFileFindClose(find), 0);
  EXPECT_EQ(qvFileFindClose(find), -1);
  EXPECT_EQ(qvFileFindFirst(Path("nothing*").c_str()), -1);

  EXPECT_EQ(qvFileDelete(Path("a.txt").c_str()), 0);
  EXPECT_EQ(qvFileDelete(Path("a.txt").c_str()), -1);

  EXPECT_EQ(qvDirectoryCreateIfNotExist(Path("x/y/z").c_str()), 0);
  EXPECT_EQ(qvDirectoryCreateIfNotExist(Path("x/y/z/").c_str()), 0);
  EXPECT_TRUE(std::filesystem::is_directory(Path("x/y/z")));
  EXPECT_NE(qvDirectoryCreateIfNotExist(Path("b.txt/sub").c_str()), 0);
  EXPECT_NE(qvDirectoryCreate(Path("w").c_str()), 0);
  EXPECT_EQ(qvDirectoryCreate(Path("w").c_str()), 0);

  char temp[QV_MAX_PATH];
  ASSERT_EQ(qvGetTempFileName(dir_.c_str(), "zel", temp), 0);
  EXPECT_EQ(std::string(temp).rfind(dir_ + "/zel", 0), 0u);
  EXPECT_TRUE(std::filesystem::exists(temp));
}

TEST(QvEntryTable, HasEveryEntryAndReservedSlotsFailCleanly) {
  int count = 0;
  const QvEntry* table = qvGetEntryTable(&count);
  ASSERT_EQ(count, QV_ENTRY_COUNT);
  std::set<std::string> names;
  for (int i = 0; i < count; ++i) {
    ASSERT_NE(table[i].name, nullptr);
    ASSERT_NE(table[i].address, nullptr);
    names.insert(table[i].name);
  }
  EXPECT_EQ(names.size(), static_cast<std::size_t>(QV_ENTRY_COUNT));  // no duplicates
  EXPECT_TRUE(names.count("qvDBWriteIDToFile"));
  EXPECT_EQ(reinterpret_cast<void (*)(void)>(&qvDBWriteIDToFile),
            [&] {
              for (int i = 0; i < count; ++i)
                if (std::strcmp(table[i].name, "qvDBWriteIDToFile") == 0) return table[i].address;
              return static_cast<void (*)(void)>(nullptr);
            }());
  EXPECT_STREQ(table[245].name, "qvReserved245");
  EXPECT_EQ(reinterpret_cast<int (*)(void)>(table[245].address)(), -1);
}

}  // namespace
