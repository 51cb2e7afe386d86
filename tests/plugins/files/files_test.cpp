// The Files plugin through the framework: registered by its installer
// script (norvreg) into a scratch registry, loaded by CPluginHandler, and used through
// the item operations the views call, on scratch folders.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <stdlib.h>
#include <sys/stat.h>
#include <unistd.h>

#include <QApplication>
#include <QClipboard>
#include <QGuiApplication>
#include <QTimer>
#include <QMimeData>
#include <algorithm>
#include <filesystem>
#include <fstream>
#include <memory>
#include <string>
#include <vector>

#include "NorvPropertySheet.h"
#include "NorvTreeCtrl.h"
#include "norv/NorvClipboard.h"
#include "norv/NorvMenu.h"
#include "norv/NorvMessageBox.h"
#include "norv/NorvRegistryKey.h"
#include "norv/NorvTlgItem.h"
#include "norv/PluginHandler.h"
#include "platform/text.h"

namespace fs = std::filesystem;

namespace {

std::vector<NorvString>& Messages() {
  static std::vector<NorvString> messages;
  return messages;
}

NorvString W(const std::string& s) { return plat::FromUtf8(s); }

struct ItemDeleter {
  void operator()(CNorvTreeListItem* item) const { delete item; }
};
using Item = std::unique_ptr<CNorvTreeListItem, ItemDeleter>;

// Registry and plugin, once for the whole program: a plugin stays loaded
// while its items exist.
class FilesPluginEnvironment : public ::testing::Environment {
 public:
  void SetUp() override {
    char pattern[] = "/tmp/norv-files-reg-XXXXXX";
    ASSERT_NE(mkdtemp(pattern), nullptr);
    registryDir_ = pattern;
    setenv("NORV_REGISTRY_DIR", pattern, 1);
    CNorvPrivateRegistryKey::SetRegistryKey(L"Velmora\\NORV2.1");
    const std::string command = std::string("'") + FILES_REGISTER + "' >/dev/null";
    ASSERT_EQ(std::system(command.c_str()), 0) << command;
  }
  void TearDown() override {
    CPluginHandler::UnloadPlugins();
    std::error_code ignored;
    fs::remove_all(registryDir_, ignored);
  }

 private:
  std::string registryDir_;
};

class FilesTest : public ::testing::Test {
 protected:
  static void SetUpTestSuite() {
    if (CPluginHandler::GetPluginCount() == 0) {
      ASSERT_TRUE(CPluginHandler::LoadAllPlugins(L"enu", {}, {}));
    }
  }
  void SetUp() override {
    ASSERT_EQ(CPluginHandler::GetPluginCount(), 1);
    char pattern[] = "/tmp/norv-files-XXXXXX";
    ASSERT_NE(mkdtemp(pattern), nullptr);
    root_ = pattern;
    Messages().clear();
    QGuiApplication::clipboard()->clear();
    CNorvTreeListItem::TakeObjectFlagTable();
  }
  void TearDown() override {
    QGuiApplication::clipboard()->clear();
    CNorvTreeListItem::TakeObjectFlagTable();
    std::error_code ignored;
    fs::remove_all(root_, ignored);
  }

  std::string Path(const std::string& relative) const { return root_ + "/" + relative; }

  void MakeFile(const std::string& relative, std::size_t size, std::time_t mtime = 0) {
    const std::string path = Path(relative);
    fs::create_directories(fs::path(path).parent_path());
    std::ofstream(path, std::ios::binary) << std::string(size, 'x');
    if (mtime != 0) {
      const timespec times[2] = {{mtime, 0}, {mtime, 0}};
      ASSERT_EQ(utimensat(AT_FDCWD, path.c_str(), times, 0), 0);
    }
  }

  static std::string Content(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), {});
  }

  Item Folder(const std::string& path) {
    return Item(CNorvTreeListItem::CreateObject(nullptr, L"CFilesFolder", W(path)));
  }

  // A child of `folder` by name (after GetItems), or null.
  static CNorvTreeListItem* Child(CNorvTreeListItem* folder, const std::string& name) {
    for (CNorvTreeListItem* item : folder->GetItemList())
      if (Name(item) == W(name)) return item;
    return nullptr;
  }

  static NorvString Cell(CNorvTreeListItem* item, int column) {
    treeListViewInfo info;
    treeListViewInfo* p = &info;
    EXPECT_TRUE(item->GetListViewInfo(p, NORV_TLVI_TEXT, column));
    return info.strText;
  }
  static NorvString Name(CNorvTreeListItem* item) { return Cell(item, 0); }

  static std::vector<NorvString> Names(const CNorvTLItemList& list) {
    std::vector<NorvString> names;
    for (CNorvTreeListItem* item : list) names.push_back(Name(item));
    return names;
  }

  static std::vector<NorvString> SortedBy(CNorvTreeListItem* folder, int column, BOOL ascending) {
    std::vector<CNorvTreeListItem*> items(folder->GetItemList().begin(),
                                          folder->GetItemList().end());
    std::sort(items.begin(), items.end(), [&](CNorvTreeListItem* a, CNorvTreeListItem* b) {
      return a->Compare(b, column, ascending) < 0;
    });
    std::vector<NorvString> names;
    for (CNorvTreeListItem* item : items) names.push_back(Name(item));
    return names;
  }

  std::string root_;
};

TEST_F(FilesTest, RegisteredAndLoadedWithItsResources) {
  EXPECT_EQ(CPluginHandler::GetPluginName(0), L"Files");
  EXPECT_EQ(CPluginHandler::FindClassPluginId(L"CFilesFolder"), 0);
  EXPECT_EQ(CPluginHandler::FindClassPluginId(L"CFilesFile"), 0);
  // The default root is the home folder.
  wchar_t rootClass[NORV_PLUGIN_TEXT_CHARS], rootId[NORV_PLUGIN_TEXT_CHARS];
  ASSERT_TRUE(CPluginHandler::pluginList[0].entry.Initialize(rootClass, rootId,
                                                             NORV_PLUGIN_TEXT_CHARS));
  EXPECT_STREQ(rootClass, L"CFilesFolder");
  EXPECT_EQ(fs::path(plat::ToUtf8(rootId)), fs::path(getenv("HOME")).lexically_normal());
  wchar_t caption[NORV_PLUGIN_TEXT_CHARS];
  CPluginHandler::pluginList[0].entry.GetPluginCaption(caption, NORV_PLUGIN_TEXT_CHARS);
  EXPECT_STREQ(caption, L"Files");
  QList<QImage> images;
  ASSERT_TRUE(CPluginHandler::pluginList[0].entry.GetImageList(IMAGELIST_LARGE, &images));
  ASSERT_EQ(images.size(), 3);
  EXPECT_EQ(images[0].width(), 32);

  Item folder = Folder(root_);
  ASSERT_NE(folder, nullptr);
  NorvStringList* titles = nullptr;
  NorvUIntArray *widths = nullptr, *ids = nullptr, *formats = nullptr;
  EXPECT_EQ(folder->ListColumns(titles, widths, ids, formats), 0);
  EXPECT_EQ(*titles, (NorvStringList{L"Name", L"Size", L"Type", L"Modified"}));
  EXPECT_EQ(*ids, (NorvUIntArray{0, 1, 2, 3}));
  // A relative path is no object.
  EXPECT_EQ(Folder("relative/path"), nullptr);
}

TEST_F(FilesTest, ListsFoldersAndFilesWithTheirColumns) {
  MakeFile("b.txt", 1536, 1700000000);
  MakeFile("a-dir/inner", 1);
  MakeFile("README", 10);
  MakeFile(".hidden", 1);
  Item folder = Folder(root_);
  ASSERT_EQ(folder->GetItems(FALSE), 0);
  EXPECT_EQ(Names(folder->GetItemList()), (std::vector<NorvString>{L"a-dir", L"b.txt", L"README"}));
  CNorvTreeListItem* file = Child(folder.get(), "b.txt");
  ASSERT_NE(file, nullptr);
  EXPECT_EQ(file->Id(), W(Path("b.txt")));
  EXPECT_EQ(file->GetParent(), folder.get());
  EXPECT_EQ(Cell(file, 1).substr(0, 4), L"1.5 ");  // 1536 bytes in units of 1024
  EXPECT_EQ(Cell(file, 2), L"TXT file");
  EXPECT_EQ(Cell(Child(folder.get(), "README"), 2), L"File");
  EXPECT_EQ(Cell(Child(folder.get(), "a-dir"), 2), L"Folder");
  EXPECT_EQ(Cell(Child(folder.get(), "a-dir"), 1), L"");
  EXPECT_EQ(Cell(file, 3).substr(0, 4), L"2023");
  treeListViewInfo info;
  treeListViewInfo* p = &info;
  EXPECT_FALSE(file->GetListViewInfo(p, NORV_TLVI_TEXT, 4));
  // Files are rows only; folders also tree nodes. The tree asks for
  // folders alone.
  EXPECT_EQ(file->GetItemListMask(), NORV_ITEMLIST_LIST);
  EXPECT_EQ(Child(folder.get(), "a-dir")->GetItemListMask(), NORV_ITEMLIST_TREE | NORV_ITEMLIST_LIST);
  ASSERT_EQ(folder->GetItems(TRUE), 0);
  EXPECT_EQ(Names(folder->GetItemList()), std::vector<NorvString>{L"a-dir"});
}

TEST_F(FilesTest, CompareSortsSizesAsNumbersAndDatesAsTimes) {
  // Text order of sizes and dates would differ from their real order.
  MakeFile("big", 10000, 1000000000);
  MakeFile("small", 9, 1600000000);
  MakeFile("middle", 900, 1300000000);
  MakeFile("dir/x", 1, 0);
  Item folder = Folder(root_);
  ASSERT_EQ(folder->GetItems(FALSE), 0);
  using V = std::vector<NorvString>;
  EXPECT_EQ(SortedBy(folder.get(), 1, TRUE), (V{L"dir", L"small", L"middle", L"big"}));
  EXPECT_EQ(SortedBy(folder.get(), 1, FALSE), (V{L"dir", L"big", L"middle", L"small"}));
  EXPECT_EQ(SortedBy(folder.get(), 3, TRUE), (V{L"dir", L"big", L"middle", L"small"}));
  EXPECT_EQ(SortedBy(folder.get(), 3, FALSE), (V{L"dir", L"small", L"middle", L"big"}));
  EXPECT_EQ(SortedBy(folder.get(), 0, TRUE), (V{L"dir", L"big", L"middle", L"small"}));
}

TEST_F(FilesTest, RenameKeepsExistingFilesAndRefusesBadNames) {
  MakeFile("one.txt", 1);
  MakeFile("two.txt", 2);
  Item folder = Folder(root_);
  ASSERT_EQ(folder->GetItems(FALSE), 0);
  CNorvTreeListItem* one = Child(folder.get(), "one.txt");
  ASSERT_TRUE(one->CanEdit());
  EXPECT_FALSE(folder->CanEdit());  // the plugin's root
  // Onto an existing name: refused, nothing replaced.
  EXPECT_FALSE(one->EndEdit(L"two.txt"));
  EXPECT_EQ(Content(Path("two.txt")), "xx");
  EXPECT_TRUE(fs::exists(Path("one.txt")));
  EXPECT_FALSE(one->EndEdit(L"a/b"));
  EXPECT_FALSE(one->EndEdit(L".."));
  EXPECT_FALSE(one->EndEdit(L""));
  EXPECT_EQ(Messages().size(), 4u);
  ASSERT_TRUE(one->EndEdit(L"eins \u00fc.txt"));
  EXPECT_TRUE(fs::exists(Path("eins \u00fc.txt")));
  EXPECT_FALSE(fs::exists(Path("one.txt")));
  EXPECT_EQ(one->Id(), W(Path("eins \u00fc.txt")));
  EXPECT_TRUE(one->EndEdit(L"eins \u00fc.txt"));  // unchanged
  // The folder's list is read again.
  EXPECT_FALSE(folder->IsListValid());
}

TEST_F(FilesTest, DeleteAndNewFolder) {
  MakeFile("gone.txt", 1);
  MakeFile("tree/deep/file", 1);
  MakeFile("stays", 1);
  Item folder = Folder(root_);
  ASSERT_EQ(folder->GetItems(FALSE), 0);
  CNorvTLItemList selection;
  selection.AddTail(Child(folder.get(), "gone.txt"));
  selection.AddTail(Child(folder.get(), "tree"));
  EXPECT_EQ(folder->Command(&selection, 35009, 0, nullptr), CMD_HANDLED);
  EXPECT_FALSE(fs::exists(Path("gone.txt")));
  EXPECT_FALSE(fs::exists(Path("tree")));
  EXPECT_TRUE(fs::exists(Path("stays")));
  for (CNorvTreeListItem* item : selection) EXPECT_TRUE(item->IsDeleted());
  selection.RemoveAll();
  // The root is never deleted from here.
  int enabled = -1, checked = -1;
  ASSERT_TRUE(folder->InitMenuInfo(35009, enabled, checked, 0));
  EXPECT_EQ(enabled, 0);
  EXPECT_EQ(folder->Command(nullptr, 35009, 0, nullptr), CMD_NOT_HANDLED);
  EXPECT_TRUE(fs::exists(root_));

  EXPECT_EQ(folder->Command(nullptr, 35024, 0, nullptr), CMD_HANDLED);
  EXPECT_EQ(folder->Command(nullptr, 35024, 0, nullptr), CMD_HANDLED);
  EXPECT_TRUE(fs::is_directory(Path("New folder")));
  EXPECT_TRUE(fs::is_directory(Path("New folder (2)")));
  ASSERT_EQ(folder->GetItems(FALSE), 0);
  EXPECT_EQ(Names(folder->GetItemList()),
            (std::vector<NorvString>{L"New folder", L"New folder (2)", L"stays"}));
}

TEST_F(FilesTest, CopyAndPasteThroughTheClipboard) {
  MakeFile("src/a.txt", 3);
  MakeFile("src/sub/b.bin", 5);
  fs::create_directories(Path("dst"));
  Item src = Folder(Path("src"));
  Item dst = Folder(Path("dst"));
  ASSERT_EQ(src->GetItems(FALSE), 0);
  CNorvTLItemList selection;
  selection.AddTail(Child(src.get(), "a.txt"));
  selection.AddTail(Child(src.get(), "sub"));
  // As the list view does it: the items, the shown folder as parent, the
  // target's format.
  ASSERT_TRUE(CopyItemsToClipboard(&selection, nullptr, {}, CNorvClipBoardItem::copy,
                                   src->GetClassName(), src->Id(), FALSE,
                                   src->GetClipboardFormat()));
  selection.RemoveAll();
  int enabled = 0, checked = 0;
  ASSERT_TRUE(dst->InitMenuInfo(35025, enabled, checked, 0));
  EXPECT_EQ(enabled, 1);
  EXPECT_EQ(dst->Command(nullptr, 35025, 0, nullptr), CMD_HANDLED);
  EXPECT_EQ(Content(Path("dst/a.txt")), "xxx");
  EXPECT_EQ(Content(Path("dst/sub/b.bin")), "xxxxx");
  EXPECT_TRUE(fs::exists(Path("src/a.txt")));
  EXPECT_EQ(CNorvClipBoardItem::parentId, W(Path("src")));
  // A copy stays on the clipboard; pasting again never overwrites.
  EXPECT_EQ(dst->Command(nullptr, 35025, 0, nullptr), CMD_HANDLED);
  EXPECT_TRUE(fs::exists(Path("dst/a (2).txt")));
  EXPECT_TRUE(fs::exists(Path("dst/sub (2)/b.bin")));
  EXPECT_TRUE(Messages().empty());
  EXPECT_FALSE(dst->IsListValid());
}

TEST_F(FilesTest, CutAndPasteMovesOnceAndNeverIntoItself) {
  MakeFile("src/moved.txt", 4);
  MakeFile("src/inner/x", 1);
  fs::create_directories(Path("dst"));
  Item src = Folder(Path("src"));
  Item dst = Folder(Path("dst"));
  ASSERT_EQ(src->GetItems(FALSE), 0);
  CNorvTLItemList selection;
  selection.AddTail(Child(src.get(), "moved.txt"));
  ASSERT_TRUE(CopyItemsToClipboard(&selection, nullptr, {}, CNorvClipBoardItem::cut,
                                   src->GetClassName(), src->Id(), FALSE,
                                   src->GetClipboardFormat()));
  selection.RemoveAll();
  EXPECT_EQ(dst->Command(nullptr, 35025, 0, nullptr), CMD_MOVED);
  EXPECT_EQ(Content(Path("dst/moved.txt")), "xxxx");
  EXPECT_FALSE(fs::exists(Path("src/moved.txt")));
  EXPECT_FALSE(CheckItemsOnClipboard(CNorvClipBoardItem::cut, L"NorvFiles"));
  EXPECT_EQ(dst->Command(nullptr, 35025, 0, nullptr), CMD_NOT_HANDLED);

  // A folder pasted into itself is refused.
  CNorvTreeListItem* inner = Child(src.get(), "inner");
  selection.AddTail(inner);
  ASSERT_TRUE(CopyItemsToClipboard(&selection, nullptr, {}, CNorvClipBoardItem::copy,
                                   src->GetClassName(), src->Id(), FALSE, L"NorvFiles"));
  selection.RemoveAll();
  ASSERT_EQ(inner->GetItems(FALSE), 0);
  EXPECT_EQ(inner->Command(nullptr, 35025, 0, nullptr), CMD_HANDLED);
  EXPECT_EQ(Messages().size(), 1u);
  EXPECT_FALSE(fs::exists(Path("src/inner/inner")));
}

TEST_F(FilesTest, DropsOfItemsAndFiles) {
  MakeFile("src/f.txt", 2);
  MakeFile("outside.txt", 6);
  fs::create_directories(Path("dst"));
  Item src = Folder(Path("src"));
  Item dst = Folder(Path("dst"));
  ASSERT_EQ(src->GetItems(FALSE), 0);
  CNorvTLItemList selection;
  selection.AddTail(Child(src.get(), "f.txt"));
  QMimeData* data = nullptr;
  ASSERT_TRUE(CopyItemsToClipboard(&selection, nullptr, {}, CNorvClipBoardItem::dragdrop,
                                   src->GetClassName(), src->Id(), TRUE, L"NorvFiles", nullptr,
                                   &data));
  selection.RemoveAll();
  std::unique_ptr<QMimeData> owner(data);
  DWORD effect = 0;
  NorvString format;
  EXPECT_NE(dst->CanDrop(data, effect, format, 0x0004), DROP_NONE);
  EXPECT_EQ(format, L"NorvFiles");
  EXPECT_EQ(effect, 2u);  // Shift: move
  CNorvTLItemList* dropped = nullptr;
  ASSERT_TRUE(GetItemsFromClipboard(dropped, CNorvClipBoardItem::dragdrop, data, format));
  CNorvTLItemList targets;
  EXPECT_EQ(dst->Drop(format, dropped, &targets, 0x0004, ID_NORV_ITEMCMD_DEFAULTDROP), CMD_MOVED);
  dropped->ClearList();
  delete dropped;
  EXPECT_TRUE(fs::exists(Path("dst/f.txt")));
  EXPECT_FALSE(fs::exists(Path("src/f.txt")));

  ASSERT_TRUE(dst->CanDropFiles());
  EXPECT_EQ(dst->DropFiles({W(Path("outside.txt"))}), CMD_HANDLED);
  EXPECT_EQ(Content(Path("dst/outside.txt")), "xxxxxx");
  EXPECT_TRUE(fs::exists(Path("outside.txt")));
}

TEST_F(FilesTest, UnreadableFolderBecomesAccessError) {
  MakeFile("not-a-folder", 3);
  MakeFile("vanishing/x", 1);
  // A file where a folder is expected (fails for root as well).
  Item fake = Folder(Path("not-a-folder"));
  ASSERT_NE(fake, nullptr);
  EXPECT_NE(fake->GetItems(FALSE), 0);
  EXPECT_TRUE(fake->GetFlags() & NORV_ITEM_ACCESSERROR);
  // A folder removed between listing and reading.
  Item folder = Folder(root_);
  ASSERT_EQ(folder->GetItems(FALSE), 0);
  CNorvTreeListItem* vanishing = Child(folder.get(), "vanishing");
  ASSERT_NE(vanishing, nullptr);
  fs::remove_all(Path("vanishing"));
  EXPECT_NE(vanishing->GetItems(FALSE), 0);
  EXPECT_TRUE(vanishing->GetFlags() & NORV_ITEM_ACCESSERROR);
  EXPECT_TRUE(vanishing->GetItemList().IsEmpty());
  EXPECT_FALSE(vanishing->Refresh());
  // Readable again: the error goes.
  MakeFile("vanishing/y", 1);
  ASSERT_EQ(vanishing->GetItems(FALSE), 0);
  EXPECT_FALSE(vanishing->GetFlags() & NORV_ITEM_ACCESSERROR);
  EXPECT_EQ(Names(vanishing->GetItemList()), std::vector<NorvString>{L"y"});
}

TEST_F(FilesTest, MenusOfFoldersAndFiles) {
  MakeFile("f.txt", 1);
  Item folder = Folder(root_);
  ASSERT_EQ(folder->GetItems(FALSE), 0);
  CNorvMenu treeMenu;
  ASSERT_EQ(folder->TreeMenuInfo(&treeMenu), &treeMenu);
  EXPECT_TRUE(treeMenu.FindCommand(35024).menu != nullptr);   // new folder
  EXPECT_TRUE(treeMenu.FindCommand(35000).menu != nullptr);   // refresh
  EXPECT_TRUE(treeMenu.FindCommand(35009).menu == nullptr);   // no delete for the root
  CNorvMenu rowMenu;
  CNorvTreeListItem* file = Child(folder.get(), "f.txt");
  ASSERT_EQ(file->ListMenuInfo(&rowMenu, 1), &rowMenu);
  EXPECT_EQ(rowMenu.GetItemText(0), L"&Open");
  EXPECT_TRUE(rowMenu.FindCommand(35009).menu != nullptr);
  EXPECT_TRUE(rowMenu.FindCommand(41001).menu != nullptr);  // copy path
  EXPECT_EQ(file->Command(nullptr, 41001, 0, nullptr), CMD_NOT_HANDLED);
  EXPECT_EQ(QGuiApplication::clipboard()->text().toStdWString(), W(Path("f.txt")));
  EXPECT_TRUE(file->CanCopy());
  EXPECT_EQ(folder->Command(nullptr, 35000, 0, nullptr), CMD_HANDLED);
  EXPECT_FALSE(folder->IsListValid());
}


// The entry of an options tree under the group titled `group`.
QStandardItem* OptionEntry(CNorvTreeOptionsCtrl* tree, const QString& group, const QString& text) {
  QStandardItem* top = tree->Model()->invisibleRootItem();
  for (int g = 0; g < top->rowCount(); ++g) {
    if (top->child(g)->text() != group) continue;
    for (int e = 0; e < top->child(g)->rowCount(); ++e)
      if (top->child(g)->child(e)->text() == text) return top->child(g)->child(e);
  }
  return nullptr;
}

TEST_F(FilesTest, PropertiesSheetAppliesItsOptionsTreeOnOk) {
  MakeFile("run.sh", 3);
  fs::create_directories(Path("sub"));
  ASSERT_EQ(chmod(Path("run.sh").c_str(), 0644), 0);
  Item folder = Folder(root_);
  ASSERT_EQ(folder->GetItems(FALSE), 0);
  CNorvTreeListItem* file = Child(folder.get(), "run.sh");
  ASSERT_NE(file, nullptr);

  // The user makes the file executable, lets other users not read it and
  // closes with OK: group members may still read (and run) it.
  QStringList seen;
  QTimer::singleShot(0, [&] {
    auto* sheet = dynamic_cast<CNorvPropertySheet*>(QApplication::activeModalWidget());
    if (sheet == nullptr) return;
    seen << sheet->windowTitle();
    sheet->SetActivePage(1);
    auto* tree = sheet->findChild<CNorvTreeOptionsCtrl*>(QStringLiteral("permissions"));
    QStandardItem* exec = tree != nullptr ? OptionEntry(tree, "Attributes", "Executable") : nullptr;
    QStandardItem* none = tree != nullptr ? OptionEntry(tree, "Other users may", "not read it")
                                          : nullptr;
    if (exec != nullptr && none != nullptr) {
      seen << "entries";
      tree->ActivateEntry(exec);
      tree->ActivateEntry(none);
    }
    sheet->accept();
  });
  EXPECT_EQ(file->Command(nullptr, 35010, 0, nullptr), CMD_HANDLED);
  EXPECT_EQ(seen, (QStringList{"Properties of run.sh", "entries"}));
  struct stat st;
  ASSERT_EQ(stat(Path("run.sh").c_str(), &st), 0);
  EXPECT_EQ(st.st_mode & 0777, 0750u);

  // A folder's sheet shows its sub-folders; Cancel changes nothing.
  seen.clear();
  ASSERT_EQ(stat(root_.c_str(), &st), 0);
  const mode_t before = st.st_mode;
  QTimer::singleShot(0, [&] {
    auto* sheet = dynamic_cast<CNorvPropertySheet*>(QApplication::activeModalWidget());
    if (sheet == nullptr) return;
    auto* contents = sheet->findChild<CNorvTreeCtrl*>(QStringLiteral("contents"));
    if (contents != nullptr)
      for (auto& node : contents->Model()->Top()->children) seen << node->text;
    sheet->SetActivePage(1);
    auto* tree = sheet->findChild<CNorvTreeOptionsCtrl*>(QStringLiteral("permissions"));
    if (tree != nullptr) tree->ActivateEntry(OptionEntry(tree, "Attributes", "Read-only"));
    sheet->reject();
  });
  EXPECT_EQ(folder->Command(nullptr, 35010, 0, nullptr), CMD_NOT_HANDLED);
  EXPECT_EQ(seen, (QStringList{"sub"}));
  ASSERT_EQ(stat(root_.c_str(), &st), 0);
  EXPECT_EQ(st.st_mode, before);
}

}  // namespace

int main(int argc, char** argv) {
  setenv("QT_QPA_PLATFORM", "offscreen", 1);
  QApplication app(argc, argv);
  ::testing::InitGoogleTest(&argc, argv);
  NorvSetMessageBoxHook([](const NorvString& text, const NorvString&, UINT) {
    Messages().push_back(text);
    return IDOK;
  });
  ::testing::AddGlobalTestEnvironment(new FilesPluginEnvironment);
  return RUN_ALL_TESTS();
}
