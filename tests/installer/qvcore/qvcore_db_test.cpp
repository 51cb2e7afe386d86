// Tree databases: open modes, trees and nodes, the walk, entry content and
// whole files in and out.
#include <cstring>
#include <vector>

#include "qv/qvcore.h"
#include "scratch.h"

namespace {

class QvDatabase : public ScratchTest {
 protected:
  int CreateDatabase(const std::string& name) {
    std::strncpy(path_, Path(name).c_str(), sizeof path_ - 1);
    return qvDBFileOpen(path_, QV_DB_NEW);
  }
  char path_[QV_MAX_PATH] = {};
};

TEST_F(QvDatabase, ModesCreateReadAndUpdate) {
  int db = CreateDatabase("a.cdb");
  ASSERT_GT(db, 0);
  int tree = qvDBCreateTree(db, 0, "Settings");
  ASSERT_GT(tree, 0);
  EXPECT_EQ(qvDBSetFileTypeAndVersion(db, 0x5A454C00, 3), 0);
  EXPECT_EQ(qvDBFileClose(db), 0);
  EXPECT_EQ(qvDBFileClose(db), -1);  // a handle is closed once

  int ro = qvDBFileOpen(path_, QV_DB_READ);
  ASSERT_GT(ro, 0);
  EXPECT_EQ(qvDBFindChildIDByName(ro, 0, "settings", 0), tree);  // names ignore case
  EXPECT_EQ(qvDBCreateNode(ro, 0, "More", QV_TYPE_FILE), -1);    // read only
  EXPECT_EQ(qvDBWrite(ro, tree, "x", 1), -1);
  std::uint32_t type = 0, version = 0;
  EXPECT_EQ(qvDBGetFileTypeAndVersion(ro, &type, &version), 0);
  EXPECT_EQ(type, 0x5A454C00u);
  EXPECT_EQ(version, 3u);
  EXPECT_EQ(qvDBFileClose(ro), 0);

  int rw = qvDBFileOpen(path_, QV_DB_UPDATE);
  ASSERT_GT(rw, 0);
  EXPECT_GT(qvDBCreateNode(rw, tree, "More", QV_TYPE_FILE), 0);
  EXPECT_EQ(qvDBFileClose(rw), 0);
  ro = qvDBFileOpen(path_, QV_DB_READ);
  EXPECT_GT(qvDBFindChildIDByName(ro, tree, "More", 0), 0);
  qvDBFileClose(ro);

  // A new database replaces the file.
  db = qvDBFileOpen(path_, QV_DB_NEW);
  ASSERT_GT(db, 0);
  EXPECT_EQ(qvDBFindChildIDByName(db, 0, "Settings", 0), 0);
  qvDBFileClose(db);
}

TEST_F(QvDatabase, OpenRefusesMissingAndForeignFiles) {
  char missing[QV_MAX_PATH];
  std::snprintf(missing, sizeof missing, "%s", Path("none.cdb").c_str());
  EXPECT_EQ(qvDBFileOpen(missing, QV_DB_READ), -1);
  EXPECT_EQ(qvDBFileOpen(missing, QV_DB_UPDATE), -1);
  char text[QV_MAX_PATH];
  std::snprintf(text, sizeof text, "%s", Path("text.cdb").c_str());
  WriteFile(text, "not a database at all");
  EXPECT_EQ(qvDBFileOpen(text, QV_DB_READ), -1);
  EXPECT_EQ(ReadFile(text), "not a database at all");
  EXPECT_EQ(qvDBFileOpen(text, 7), -1);
}

TEST_F(QvDatabase, NewWithEmptyPathMakesTemporaryFile) {
  setenv("TMPDIR", dir_.c_str(), 1);
  char path[QV_MAX_PATH] = "";
  int db = qvDBFileOpen(path, QV_DB_NEW);
  unsetenv("TMPDIR");
  ASSERT_GT(db, 0);
  EXPECT_EQ(std::string(path).rfind(dir_ + "/", 0), 0u) << path;
  EXPECT_EQ(qvDBFileClose(db), 0);
  EXPECT_TRUE(std::filesystem::exists(path));
}

TEST_F(QvDatabase, TreesNodesAndWalk) {
  int db = CreateDatabase("walk.cdb");
  int root1 = qvDBCreateTree(db, 0, "Client");
  int root2 = qvDBCreateTree(db, 0, "Users");
  int a = qvDBCreateNode(db, root1, "a.txt", QV_TYPE_FILE);
  int b = qvDBCreateNode(db, root1, "b.txt", QV_TYPE_FILE);
  int sub = qvDBCreateTree(db, root1, "sub");
  ASSERT_GT(a, 0);
  EXPECT_EQ(qvDBCreateNode(db, 9999, "x", QV_TYPE_FILE), -1);  // no such parent
  EXPECT_EQ(qvDBCreateNodeIfNotExist(db, root1, "a.txt", QV_TYPE_FILE), a);
  int c = qvDBCreateNodeIfNotExist(db, root2, "c.txt", QV_TYPE_FILE);
  EXPECT_GT(c, 0);

  std::vector<int> top;
  for (int id = qvDBGetFirstID(db, 0); id > 0; id = qvDBGetNextID(db, 0, id)) top.push_back(id);
  EXPECT_EQ(top, (std::vector<int>{root1, root2}));
  std::vector<std::string> names;
  for (int id = qvDBGetFirstID(db, root1); id > 0; id = qvDBGetNextID(db, root1, id)) {
    char name[QV_MAX_PATH];
    ASSERT_GT(qvDBReadName(db, id, name, sizeof name), 0);
    names.push_back(name);
  }
  EXPECT_EQ(names, (std::vector<std::string>{"a.txt", "b.txt", "sub"}));
  EXPECT_EQ(qvDBGetFirstID(db, sub), 0);
  EXPECT_EQ(qvDBGetFirstID(12345, 0), -1);

  EXPECT_EQ(qvDBGetType(db, a), QV_TYPE_FILE);
  EXPECT_EQ(qvDBIsTree(db, sub), 1);
  EXPECT_EQ(qvDBIsTree(db, b), 0);
  EXPECT_EQ(qvDBIsTree(db, 9999), -1);

  // Name with a length; a buffer too small for a name fails.
  EXPECT_EQ(qvDBFindChildIDByName(db, root1, "b.txt-and-more", 5), b);
  EXPECT_EQ(qvDBFindChildIDByName(db, root1, "zzz", 0), 0);
  char tiny[3];
  EXPECT_EQ(qvDBReadName(db, a, tiny, sizeof tiny), -1);

  // Deleting a tree takes its children with it.
  int deep = qvDBCreateNode(db, sub, "deep", QV_TYPE_FILE);
  EXPECT_EQ(qvDBDelete(db, root1), 0);
  EXPECT_EQ(qvDBGetType(db, deep), -1);
  EXPECT_EQ(qvDBGetType(db, a), -1);
  EXPECT_EQ(qvDBGetFirstID(db, 0), root2);
  EXPECT_EQ(qvDBDelete(db, root1), -1);
  qvDBFileClose(db);
}

// A package database has a root tree with an empty name, and both client
// groups may add a file of the same name and date: siblings share a name, the
// walk shows both, and a lookup by name finds the oldest.
TEST_F(QvDatabase, EmptyNamesAndSiblingsOfTheSameName) {
  int db = CreateDatabase("same.cdb");
  int root = qvDBCreateTree(db, 0, "");
  ASSERT_GT(root, 0);
  EXPECT_EQ(qvDBFindChildIDByName(db, 0, "", 0), root);
  int first = qvDBCreateNode(db, root, "setup.exe\\12345", QV_TYPE_FILE);
  int second = qvDBCreateNode(db, root, "SETUP.EXE\\12345", QV_TYPE_FILE);
  ASSERT_GT(first, 0);
  ASSERT_GT(second, first);
  EXPECT_EQ(qvDBWrite(db, first, "one", 3), 3);
  EXPECT_EQ(qvDBWrite(db, second, "two", 3), 3);
  EXPECT_EQ(qvDBFindChildIDByName(db, root, "setup.exe\\12345", 0), first);
  EXPECT_EQ(qvDBCreateNodeIfNotExist(db, root, "Setup.exe\\12345", QV_TYPE_FILE), first);
  EXPECT_EQ(qvDBFileClose(db), 0);

  char path[QV_MAX_PATH];
  std::snprintf(path, sizeof path, "%s", Path("same.cdb").c_str());
  int ro = qvDBFileOpen(path, QV_DB_READ);
  ASSERT_GT(ro, 0);
  std::vector<std::string> contents;
  for (int id = qvDBGetFirstID(ro, root); id > 0; id = qvDBGetNextID(ro, root, id)) {
    char buffer[8] = {};
    qvDBRead(ro, id, buffer, sizeof buffer - 1);
    contents.push_back(buffer);
  }
  EXPECT_EQ(contents, (std::vector<std::string>{"one", "two"}));
  qvDBFileClose(ro);
}

TEST_F(QvDatabase, ContentThroughCursor) {
  int db = CreateDatabase("content.cdb");
  int id = qvDBCreateNode(db, 0, "zel.ini", QV_TYPE_FILE);
  EXPECT_EQ(qvDBWrite(db, id, "hello ", 6), 6);
  EXPECT_EQ(qvDBWriteUTF8(db, id, "wörld"), 6);
  EXPECT_EQ(qvDBGetSize(db, id), 12);
  EXPECT_EQ(qvDBClose(db, id), 0);

  char buffer[64] = {};
  EXPECT_EQ(qvDBRead(db, id, buffer, 5), 5);
  EXPECT_EQ(std::string(buffer, 5), "hello");
  EXPECT_EQ(qvDBTruncate(db, id), 0);  // cut at the cursor
  EXPECT_EQ(qvDBRead(db, id, buffer, sizeof buffer), 0);
  EXPECT_EQ(qvDBClose(db, id), 0);
  EXPECT_EQ(qvDBRead(db, id, buffer, sizeof buffer), 5);
  EXPECT_EQ(qvDBClose(db, id), 0);
  EXPECT_EQ(qvDBClose(db, 4242), -1);

  // Content written but never closed is kept when the file is closed.
  EXPECT_EQ(qvDBWrite(db, id, "HELLO!", 6), 6);
  EXPECT_EQ(qvDBFileClose(db), 0);
  int ro = qvDBFileOpen(path_, QV_DB_READ);
  std::memset(buffer, 0, sizeof buffer);
  EXPECT_EQ(qvDBRead(ro, id, buffer, sizeof buffer), 6);
  EXPECT_STREQ(buffer, "HELLO!");
  qvDBFileClose(ro);
}

TEST_F(QvDatabase, FileToEntryAndBack) {
  std::string content;
  for (int i = 0; i < 200000; ++i) content += static_cast<char>(i * 7 + i / 13);
  WriteFile(Path("in.bin"), content);
  WriteFile(Path("empty.bin"), "");

  int db = CreateDatabase("files.cdb");
  int id = qvDBCreateNode(db, 0, "in.bin", QV_TYPE_FILE);
  int empty = qvDBCreateNode(db, 0, "empty.bin", QV_TYPE_FILE);
  EXPECT_EQ(qvDBWriteFileToID(db, id, Path("in.bin").c_str()), 200000);
  EXPECT_EQ(qvDBWriteFileToID(db, empty, Path("empty.bin").c_str()), 0);
  EXPECT_EQ(qvDBWriteFileToID(db, id, Path("missing.bin").c_str()), -1);
  EXPECT_EQ(qvDBWriteFileToID(db, 777, Path("in.bin").c_str()), -1);
  EXPECT_EQ(qvDBFileClose(db), 0);

  int ro = qvDBFileOpen(path_, QV_DB_READ);
  EXPECT_EQ(qvDBWriteIDToFile(ro, id, Path("out.bin").c_str()), 200000);
  EXPECT_EQ(ReadFile(Path("out.bin")), content);
  EXPECT_EQ(qvDBWriteIDToFile(ro, empty, Path("out-empty.bin").c_str()), 0);
  EXPECT_TRUE(std::filesystem::exists(Path("out-empty.bin")));
  EXPECT_EQ(qvDBWriteIDToFile(ro, 777, Path("never.bin").c_str()), -1);
  EXPECT_FALSE(std::filesystem::exists(Path("never.bin")));
  qvDBFileClose(ro);
}

}  // namespace
