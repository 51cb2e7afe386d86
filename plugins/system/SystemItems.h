// The System plugin's objects: the root "System" with two STATIC folders,
// "Processes" and "Mounts", whose children are the running processes and
// the mounted file systems (shown in the list only).
//
//   CSystemRoot://system
//     CSystemProcessFolder://processes   children CSystemProcess://<pid>
//     CSystemMountFolder://mounts        children CSystemMount://<mount id>
//
// The root creates its two folders once and owns them (they are STATIC, so
// a refresh of the root's list never destroys them). The folders' children
// are ordinary items owned by the folder's child list. Values come from the
// monitor's latest reading (SystemMonitor.h), whose worker flags changes.
#pragma once
#include "ProcReader.h"
#include "SystemMonitor.h"
#include "norv/NorvPluginSdk.h"
#include "norv/NorvTlgItem.h"

// What the framework handed the plugin (SystemPlugin.cpp).
extern NorvPluginGlobals gSystemPlugin;

// Plugin-level answers shared by every System item. Not creatable.
class CSystemItem : public CNorvTreeListItem {
  NORV_DECLARE_DYNAMIC(CSystemItem)

 public:
  int GetImageListOffset() override;
  NorvString GetPluginName() override;
  HMODULE GetResourceInstanceHandle() override;
  const wchar_t* GetHelpFile() override;
  const wchar_t* GetMessageHelpFile() override;
  NorvString GetPluginCaption() override;

  // Every System object has the plugin's banner and tutorial pages.
  void GetHtmlViewInfo(htmlViewInfo*& info, DWORD flags) override;

  // A string of the plugin's resources.
  static NorvString Text(UINT id);
  // res://<the resource module's file name>/<page>.
  static NorvString PageUrl(const wchar_t* page);
};

class CSystemProcessFolder;
class CSystemMountFolder;

class CSystemRoot : public CSystemItem {
  NORV_DECLARE_SERIAL(CSystemRoot)

 public:
  ~CSystemRoot() override;

  // Only the id "system" (or none) names this object.
  BOOL Initialize(CNorvTreeListItem* parent, const NorvString& id) override;
  void GetTreeViewInfo(treeListViewInfo*& info, UINT mask) override;
  BOOL GetListViewInfo(treeListViewInfo*& info, UINT mask, int column) override;
  int ListColumns(NorvStringList*& titles, NorvUIntArray*& widths, NorvUIntArray*& ids,
                  NorvUIntArray*& formats) override;
  GetItemsResult GetItems(BOOL treeOnly) override;
  // The graphical view: the overview page, with the numbers of the latest
  // reading assigned; banner and tutorial as every System object.
  void GetHtmlViewInfo(htmlViewInfo*& info, DWORD flags) override;
  BOOL HasViewMode(int mode) override;
  // ID_SYSTEM_CMD_COUNT_PROCESSES from the overview page; the loaded page
  // (ID_NORV_ITEMCMD_DOCUMENT_COMPLETE_GRAPHICAL) gets the mount count.
  CmdResult Command(CNorvTLItemList* list, UINT commandId, DWORD param, void* pParam) override;

  CSystemProcessFolder* GetProcessFolder() const { return m_pProcesses; }
  CSystemMountFolder* GetMountFolder() const { return m_pMounts; }

 private:
  CSystemProcessFolder* m_pProcesses = nullptr;
  CSystemMountFolder* m_pMounts = nullptr;
};

// Common part of the two folders.
class CSystemFolder : public CSystemItem {
  NORV_DECLARE_DYNAMIC(CSystemFolder)

 public:
  ~CSystemFolder() override;

  BOOL Initialize(CNorvTreeListItem* parent, const NorvString& id) override;
  // Re-counts from the latest reading and asks the worker for a new one.
  BOOL Refresh() override;
  BOOL HasTreeItems() override;
  void GetTreeViewInfo(treeListViewInfo*& info, UINT mask) override;
  // Columns of the root's list: name and what the folder holds.
  BOOL GetListViewInfo(treeListViewInfo*& info, UINT mask, int column) override;
  // Rebuilds the children from the latest reading when the list is stale.
  GetItemsResult GetItems(BOOL treeOnly) override;

 protected:
  virtual sysplugin::FolderKind Kind() const = 0;
  virtual const wchar_t* FixedId() const = 0;
  virtual UINT NameString() const = 0;
  virtual UINT CountString() const = 0;
  // Appends one child per entry of `snapshot`; FALSE when the source could
  // not be read.
  virtual BOOL FillList(const sysplugin::SystemSnapshot& snapshot) = 0;
  void Count(const sysplugin::SystemSnapshot& snapshot);

 private:
  bool m_registered = false;
  sysplugin::FolderKind m_registeredKind = sysplugin::FolderKind::Processes;
  size_t m_count = 0;
  bool m_countOk = false;
};

class CSystemProcessFolder : public CSystemFolder {
  NORV_DECLARE_SERIAL(CSystemProcessFolder)

 public:
  int ListColumns(NorvStringList*& titles, NorvUIntArray*& widths, NorvUIntArray*& ids,
                  NorvUIntArray*& formats) override;

 protected:
  sysplugin::FolderKind Kind() const override { return sysplugin::FolderKind::Processes; }
  const wchar_t* FixedId() const override;
  UINT NameString() const override;
  UINT CountString() const override;
  BOOL FillList(const sysplugin::SystemSnapshot& snapshot) override;
};

class CSystemMountFolder : public CSystemFolder {
  NORV_DECLARE_SERIAL(CSystemMountFolder)

 public:
  int ListColumns(NorvStringList*& titles, NorvUIntArray*& widths, NorvUIntArray*& ids,
                  NorvUIntArray*& formats) override;

 protected:
  sysplugin::FolderKind Kind() const override { return sysplugin::FolderKind::Mounts; }
  const wchar_t* FixedId() const override;
  UINT NameString() const override;
  UINT CountString() const override;
  BOOL FillList(const sysplugin::SystemSnapshot& snapshot) override;
};

// One process; the id is its pid.
class CSystemProcess : public CSystemItem {
  NORV_DECLARE_SERIAL(CSystemProcess)

 public:
  ~CSystemProcess() override;

  // Values read already (the folder has them); Initialize then need not
  // read them again.
  void SetInfo(const sysplugin::ProcessInfo& info) { m_info = info; }
  const sysplugin::ProcessInfo& GetInfo() const { return m_info; }

  // FALSE for an id that is not a pid or a process that does not exist.
  BOOL Initialize(CNorvTreeListItem* parent, const NorvString& id) override;
  // Takes the values of the latest reading; a process that has ended keeps
  // its last values until its removal is applied.
  BOOL Refresh() override;
  BOOL HasTreeItems() override;
  void GetTreeViewInfo(treeListViewInfo*& info, UINT mask) override;
  BOOL GetListViewInfo(treeListViewInfo*& info, UINT mask, int column) override;
  // Numbers (pid, threads, memory) sort by value, the rest as text; equal
  // rows by pid.
  int Compare(CNorvTreeListItem* other, int column, BOOL ascending) override;

  NorvString ColumnText(int column) const;

 private:
  sysplugin::ProcessInfo m_info;
  bool m_registered = false;
};

// One mounted file system; the id is the kernel's mount id.
class CSystemMount : public CSystemItem {
  NORV_DECLARE_SERIAL(CSystemMount)

 public:
  ~CSystemMount() override;

  void SetInfo(const sysplugin::MountInfo& info) { m_info = info; }
  const sysplugin::MountInfo& GetInfo() const { return m_info; }

  BOOL Initialize(CNorvTreeListItem* parent, const NorvString& id) override;
  BOOL Refresh() override;
  BOOL HasTreeItems() override;
  void GetTreeViewInfo(treeListViewInfo*& info, UINT mask) override;
  BOOL GetListViewInfo(treeListViewInfo*& info, UINT mask, int column) override;
  // As text; equal rows by mount id.
  int Compare(CNorvTreeListItem* other, int column, BOOL ascending) override;

  NorvString ColumnText(int column) const;

 private:
  sysplugin::MountInfo m_info;
  bool m_registered = false;
};
