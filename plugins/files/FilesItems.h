// The file system as explorer objects: folders (in the tree and the list)
// and files (in the list). An object's id is its absolute path, so a folder
// shown in the tree and in the list is one object.
#pragma once
#include <string>

#include "FileOps.h"
#include "norv/NorvPluginSdk.h"
#include "norv/NorvTlgItem.h"

// What the framework handed the plugin (FilesPlugin.cpp).
extern NorvPluginGlobals gFilesPlugin;

// Common part of files and folders. Not creatable by itself.
class CFilesEntry : public CNorvTreeListItem {
  NORV_DECLARE_DYNAMIC(CFilesEntry)

 public:
  // The path (= the id) and its UTF-8 form for the system calls.
  const NorvString& GetPath() const { return m_strId; }
  std::string GetPathUtf8() const;
  // Sets the id; an invalid (relative) path gives FALSE.
  BOOL SetPath(const NorvString& path);
  // What stat reported when the item was made or last refreshed.
  const files::EntryInfo& GetInfo();
  void SetInfo(const files::EntryInfo& info) {
    m_info = info;
    m_infoRead = true;
  }
  virtual BOOL IsFolder() const = 0;
  // The folder that holds this entry on disk.
  std::string GetFolderUtf8() const;
  // TRUE for the item that is the plugin's root (its parent is not ours).
  BOOL IsPluginRoot() const;

  BOOL Initialize(CNorvTreeListItem* parent, const NorvString& id) override;
  BOOL Refresh() override;
  CNorvMenu* TreeMenuInfo(CNorvMenu* menu) override;
  CNorvMenu* ListMenuInfo(CNorvMenu* menu, int selectedCount) override;
  BOOL InitMenuInfo(UINT commandId, int& enabled, int& checked, int selectedCount) override;
  void GetTreeViewInfo(treeListViewInfo*& info, UINT mask) override;
  BOOL GetListViewInfo(treeListViewInfo*& info, UINT mask, int column) override;
  CmdResult Command(CNorvTLItemList* list, UINT commandId, DWORD param, void* pParam) override;
  NorvString GetClipboardFormat() override;
  CanDragFlag CanDrag() override;
  BOOL CanEdit() override;
  BOOL EndEdit(const NorvString& newText) override;
  int Compare(CNorvTreeListItem* other, int column, BOOL ascending) override;
  int GetImageListOffset() override;
  NorvString GetPluginName() override;
  HMODULE GetResourceInstanceHandle() override;
  const wchar_t* GetHelpFile() override;
  const wchar_t* GetMessageHelpFile() override;
  NorvString GetPluginCaption() override;
  // Writes (reads) the path.
  void Serialize(CNorvArchive& ar) override;

  // The list's columns, shared by every folder.
  static int Columns(NorvStringList*& titles, NorvUIntArray*& widths, NorvUIntArray*& ids,
                     NorvUIntArray*& formats);
  // Texts of a cell.
  NorvString ColumnText(int column);

 protected:
  // The items a command works on: the list when it has items, else this.
  CNorvTLItemList Targets(CNorvTLItemList* list);
  CmdResult DeleteItems(CNorvTLItemList* list);
  void CopyPaths(CNorvTLItemList* list);
  // Marks the folder holding this entry (and, when shown, its item) for a
  // new read of its children.
  void InvalidateParentList();

  files::EntryInfo m_info;
  bool m_infoRead = false;
};

class CFilesFolder : public CFilesEntry {
  NORV_DECLARE_SERIAL(CFilesFolder)

 public:
  CFilesFolder();
  BOOL IsFolder() const override { return TRUE; }
  BOOL HasTreeItems() override { return TRUE; }
  BOOL SortTreeItems() override { return TRUE; }
  GetItemsResult GetItems(BOOL treeOnly) override;
  int ListColumns(NorvStringList*& titles, NorvUIntArray*& widths, NorvUIntArray*& ids,
                  NorvUIntArray*& formats) override;
  CmdResult Command(CNorvTLItemList* list, UINT commandId, DWORD param, void* pParam) override;
  CmdResult Drop(const NorvString& format, CNorvTLItemList* items, CNorvTLItemList* targets,
                 DWORD keyState, UINT commandId) override;
  CmdResult DropFiles(const NorvStringList& files) override;
  CanDropFlag CanDrop(const QMimeData* data, DWORD& effect, NorvString& format,
                      DWORD keyState) override;
  BOOL CanDropFiles() override { return TRUE; }
  CNorvMenu* DropMenuInfo(CNorvMenu* menu, const NorvString& format, DWORD keyState) override;

  // Creates "New folder" (or the first free variant) here; the new path
  // goes to `created`. FALSE (with a message) when it cannot be made.
  BOOL NewFolder(NorvString* created);
  // Pastes what the clipboard (or a drop) holds: copies or moves the
  // entries' paths into this folder. Returns the command result (2 after a
  // move, so that the former parent is read again).
  CmdResult PasteFromClipboard();
  // Copies (move FALSE) or moves entries into this folder under free names.
  // Returns how many succeeded; `results` gets 1 or 0 per entry.
  int CopyInto(const std::vector<std::string>& sources, bool move, std::vector<int>* results);
};

class CFilesFile : public CFilesEntry {
  NORV_DECLARE_SERIAL(CFilesFile)

 public:
  CFilesFile();
  BOOL IsFolder() const override { return FALSE; }
  BOOL HasTreeItems() override { return FALSE; }
  CmdResult Command(CNorvTLItemList* list, UINT commandId, DWORD param, void* pParam) override;
};

// Converts between the framework's wide text and file system bytes.
std::string FilesToUtf8(const NorvString& text);
NorvString FilesFromUtf8(const std::string& text);
