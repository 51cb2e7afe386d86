// CNorvTreeListItem: the base class of every object the explorer shows.
//
// An object is addressed by "class://id": the name its class is registered
// under (NORV_IMPLEMENT_SERIAL) and the text its Id operation returns. Two
// instances with the same address are the same object shown in two places;
// flags set on one reach the others through the object flag table, which
// the tree view applies and empties.
//
// A plugin item class:
//
//   class CMyItem : public CNorvTreeListItem {
//     NORV_DECLARE_SERIAL(CMyItem)
//    public:
//     BOOL Initialize(CNorvTreeListItem* parent, const NorvString& id) override;
//     ...
//   };
//   NORV_IMPLEMENT_SERIAL(CMyItem, CNorvTreeListItem, 1)
//
// Threads: SetFlags, ClassObjectFlag, ClassObjectInvalidateList,
// InvalidateView, ClearInvalidatedViews, NavigateTo, SetNavigationTarget
// and InvokeRefresh may be called from any thread; everything else belongs
// to the user-interface thread.
#pragma once
#include <map>
#include <mutex>
#include <set>
#include <string>
#include <vector>

#include "norv/NorvArchive.h"
#include "norv/NorvItemCommands.h"
#include "norv/NorvItemTypes.h"
#include "norv/NorvRuntimeClass.h"
#include "norv/NorvTLItemList.h"
#include "norv/Trace.h"
#include "norv/norvtypes.h"

class CNorvFilterList;
class CNorvMenu;
class CNorvView;
class QIcon;
class QMimeData;
class QObject;
class QRect;
class QWidget;

// The tree control's handle of the node that shows an item (null: not in
// the tree). Its meaning belongs to the tree view.
using NorvTreeHandle = void*;

// One pending entry of the object flag table.
struct NORV_API NorvObjectFlagEntry {
  DWORD flags = 0;  // accumulated item flags
  // Parents the object was removed from: parent class -> parent ids.
  std::map<NorvString, std::set<NorvString>> removedFrom;
};
// class name -> id -> pending entry.
using NorvObjectFlagTable = std::map<NorvString, std::map<NorvString, NorvObjectFlagEntry>>;

class NORV_API CNorvTreeListItem : public CNorvObject {
  NORV_DECLARE_SERIAL(CNorvTreeListItem)

 public:
  CNorvTreeListItem();
  ~CNorvTreeListItem() override;
  CNorvTreeListItem(const CNorvTreeListItem&) = delete;
  CNorvTreeListItem& operator=(const CNorvTreeListItem&) = delete;

  // ===== Virtual operations, in slot order ================================
  // 1 The object's id within its class (the id field by default).
  virtual NorvString Id() const;
  // 2 Sets the item up under `parent`; FALSE destroys it again. The base
  //   returns FALSE: every creatable class overrides it.
  virtual BOOL Initialize(CNorvTreeListItem* parent, const NorvString& id);
  // 3 Brings the item's own data up to date; clears INVALID.
  virtual BOOL Refresh();
  // 4 The column filters the item proposes for its list.
  virtual BOOL GetDefaultFilter(CNorvFilterList*& filter);
  // 5-9 Menus for the application menu, a control, the tree, the list and a
  //   drop. Return the menu to show, or null for none.
  virtual CNorvMenu* AppMenuInfo(CNorvMenu* menu);
  virtual CNorvMenu* CtrlMenuInfo(CNorvMenu* menu, CtrlType ctrlType);
  virtual CNorvMenu* TreeMenuInfo(CNorvMenu* menu);
  virtual CNorvMenu* ListMenuInfo(CNorvMenu* menu, int selectedCount);
  virtual CNorvMenu* DropMenuInfo(CNorvMenu* menu, const NorvString& format, DWORD keyState);
  // 10 Enable/check state of a menu command; FALSE = not the item's.
  virtual BOOL InitMenuInfo(UINT commandId, int& enabled, int& checked, int selectedCount);
  // 11 The item's HTML page.
  virtual void GetHtmlViewInfo(htmlViewInfo*& info, DWORD flags);
  // 12 What the tree shows; mask NORV_TLVI_*. The item fills *info or
  //   points `info` at a record of its own.
  virtual void GetTreeViewInfo(treeListViewInfo*& info, UINT mask);
  // 13 What list column `column` shows; FALSE for a column it does not have.
  virtual BOOL GetListViewInfo(treeListViewInfo*& info, UINT mask, int column);
  // 14 The list's columns: titles, widths, ids and formats (the item points
  //   the arguments at its own arrays). Returns the default sort column id,
  //   or -1.
  virtual int ListColumns(NorvStringList*& titles, NorvUIntArray*& widths, NorvUIntArray*& ids,
                          NorvUIntArray*& formats);
  // 15 Whether the tree shows an expand button.
  virtual BOOL HasTreeItems();
  // 16 Fills the child list (only tree children when `treeOnly`).
  virtual GetItemsResult GetItems(BOOL treeOnly);
  // 17 An item command or a menu command (see NorvItemCommands.h).
  virtual CmdResult Command(CNorvTLItemList* list, UINT commandId, DWORD param, void* pParam);
  // 18 A link followed in the item's HTML page; TRUE cancels it.
  virtual BOOL OnHTMLNavigate(const NorvString& url, const NorvString& targetFrame,
                              const NorvString& headers, const std::vector<BYTE>& postData);
  // 19 Items dropped on this item (`items` in clipboard format `format`,
  //   `targets` the rows dropped on).
  virtual CmdResult Drop(const NorvString& format, CNorvTLItemList* items,
                         CNorvTLItemList* targets, DWORD dropEffect, UINT commandId);
  // 20 Files dropped on this item.
  virtual CmdResult DropFiles(const NorvStringList& files);
  // 21 The item clipboard format (the registered class name by default).
  virtual NorvString GetClipboardFormat();
  // 22-24 Drag and drop.
  virtual CanDragFlag CanDrag();
  virtual CanDropFlag CanDrop(const QMimeData* data, DWORD& effect, NorvString& format,
                              DWORD keyState);
  virtual BOOL CanDropFiles();
  // 25-26 Help id and icon resource id (0 = none).
  virtual UINT GetContextHelpId();
  virtual UINT GetIcon();
  // 27-28 In-place editing of the text.
  virtual BOOL CanEdit();
  virtual BOOL EndEdit(const NorvString& newText);
  // 29 The list selection changed (`list` holds the selected items).
  virtual void ItemSelected(CNorvTLItemList* list);
  // 30 Sort order against `other` for `column` (0 = the tree text).
  virtual int Compare(CNorvTreeListItem* other, int column, BOOL ascending);
  // 31 Whether the tree sorts this item's children.
  virtual BOOL SortTreeItems();
  // 32-35 View modes (0-3 list styles; see NORV_VIEWMODE_*).
  virtual BOOL HasViewMode(int mode);
  virtual void SetViewMode(int mode);
  virtual int GetViewMode();
  virtual DWORD GetViewModeExtendedStyle(int mode);
  // 36 A content view of the item's own (view mode 5).
  virtual CNorvView* GetCustomView();
  // 37 Margins of the HTML frame around the content view.
  virtual void GetFrameMargins(QRect& margins, int& flag);
  // 38-43 Plugin-level information.
  virtual int GetImageListOffset();
  virtual NorvString GetPluginName();
  virtual HMODULE GetResourceInstanceHandle();
  virtual const wchar_t* GetMessageHelpFile();
  virtual const wchar_t* GetHelpFile();
  virtual NorvString GetPluginCaption();

  // ===== Flags =============================================================
  BOOL IsStatic() const { return (m_flags & NORV_ITEM_STATIC) != 0; }
  void SetStatic(BOOL isStatic);
  BOOL IsRemoved() const { return (m_flags & NORV_ITEM_REMOVED) != 0; }
  BOOL IsDeleted() const { return (m_flags & NORV_ITEM_DELETED) != 0; }
  BOOL IsValid() const { return (m_flags & NORV_ITEM_INVALID) == 0; }
  void SetValid() { ClrFlags(NORV_ITEM_INVALID); }
  BOOL IsListValid() const { return (m_flags & NORV_ITEM_LISTINVALID) == 0; }
  void SetListValid() { ClrFlags(NORV_ITEM_LISTINVALID); }
  BOOL IsRedrawSet() const { return (m_flags & NORV_ITEM_REDRAW) != 0; }
  DWORD GetFlags() const { return m_flags; }
  // Sets flags on this item and, unless `local`, records them in the
  // object flag table for every other instance of the object. A local
  // LISTINVALID empties the child list (a STATIC item keeps its children
  // and only forgets their tree nodes). Returns the new flags.
  DWORD SetFlags(DWORD flags, BOOL local);
  // Clears flags on this item only.
  DWORD ClrFlags(DWORD flags);
  DWORD SetRemoved() { return SetFlags(NORV_ITEM_REMOVED, FALSE); }
  DWORD SetDeleted() { return SetFlags(NORV_ITEM_DELETED, FALSE); }
  DWORD SetInvalid() { return SetFlags(NORV_ITEM_INVALID, FALSE); }
  DWORD SetListInvalid() { return SetFlags(NORV_ITEM_LISTINVALID, FALSE); }
  DWORD SetRedraw() { return SetFlags(NORV_ITEM_REDRAW, FALSE); }
  DWORD SetListUpdated() { return SetFlags(NORV_ITEM_LISTUPDATED, FALSE); }

  // ===== Links to the views ===============================================
  // Sets the tree handle of every child, recursively, to null.
  void ClearBranchTreeHandles();
  CNorvTreeListItem* GetParent() const { return m_pParent; }
  void SetParent(CNorvTreeListItem* parent) { m_pParent = parent; }
  NorvTreeHandle GetTreeHandle() const { return m_hTreeItem; }
  void SetTreeHandle(NorvTreeHandle handle) { m_hTreeItem = handle; }
  int GetListHandle() const { return m_nListIndex; }
  void SetListHandle(int index) { m_nListIndex = index; }
  DWORD GetItemListMask() const { return m_dwItemListMask; }
  void SetItemListMask(DWORD mask) { m_dwItemListMask = mask; }
  CNorvTLItemList& GetItemList() { return m_children; }
  const CNorvTLItemList& GetItemList() const { return m_children; }

  // The registered class name, widened; "class://id".
  NorvString GetClassName() const;
  NorvString GetObjectAddress() const;
  // Same class name and same id.
  BOOL IsSameObject(const CNorvTreeListItem* other) const;

  // Applies flags along a class path from this item's tree node (REMOVED
  // is not applied this way).
  BOOL ClassPathFlag(const NorvString& path, DWORD flags);
  BOOL ClassPathInvalidateList(const NorvString& path, BOOL invalid);
  // Makes `path` (absolute, or relative to this item) the navigation target.
  void NavigateTo(const NorvString& path);
  // The tree path of this item: "/" and the texts below the root joined by
  // "/", a "/" inside a text doubled.
  NorvString GetItemPath();
  // TRUE when InitMenuInfo enables cut or copy.
  BOOL CanCopy();
  // Whether the item has a feature (asked through InitMenuInfo).
  BOOL HasFeature(UINT featureId);
  // The list view's sort column and order while this item is shown in
  // report mode.
  BOOL GetListSorting(int& column, int& ascending);
  // Replaces image index + GetImageListOffset of a shared image list.
  BOOL ModifyImageList(ImageListType type, int index, const QIcon& icon);
  BOOL SetAddressBarInfo(const NorvString& text, int image, int selectedImage, int indent,
                         const NorvString& path);
  // Starts the tree view's item timer (ID_NORV_ITEMCMD_TIMER).
  BOOL SetTimer(UINT milliseconds);

  // ===== Destruction of the selected item ==================================
  // Sends this item ID_NORV_ITEMCMD_TREEITEM_DESELECTED (an empty list, 0,
  // null) while it is still whole, so that the plugin's own Command hears
  // it; from the destructor only the base class's would. Whoever destroys
  // the tree's selection calls it first: the tree before it deletes the
  // selected item, the core wherever it destroys items itself (ClearList,
  // a local LISTINVALID, the document's root). Sent once per item: TRUE
  // when sent now, FALSE when it was sent before.
  BOOL NotifyDeselected();
  // When the tree's selection is `item`, or lies below it in the branch
  // that goes when `item` is destroyed (no STATIC item in between),
  // NotifyDeselected on the selection. TRUE when it was sent now.
  static BOOL NotifyDeselectedIfWithin(CNorvTreeListItem* item);

  // ===== Static services ===================================================
  // Creates an item by registered class name and initialises it; null for
  // an unknown class, a failed construction or a FALSE Initialize.
  static CNorvTreeListItem* CreateObject(CNorvTreeListItem* parent, const NorvString& className,
                                         const NorvString& id);
  // Starts a new explorer process rooted at class://id.
  static BOOL ExploreFrom(const NorvString& className, const NorvString& id);
  static BOOL ExploreFrom(const NorvString& className, const NorvString& id,
                          const NorvString& param);
  // Records flags for the object class://id (see SetFlags).
  static void ClassObjectFlag(const NorvString& className, const NorvString& id, DWORD flags,
                              const NorvString& parentClass, const NorvString& parentId);
  static void ClassObjectInvalidateList(const NorvString& className, const NorvString& id,
                                        BOOL invalid);
  static void InvalidateView(DWORD mask);
  static DWORD GetInvalidatedViews();
  static void ClearInvalidatedViews();
  static void InvokeRefresh();
  static NorvString GetAddressBarInfo();
  static NorvString GetAddressBarInfo(int& image, int& selectedImage);
  static NorvString GetLocale();
  static void SetLocale(const NorvString& locale);
  static NorvString GetCommandLineParameter();
  static BOOL SetStatusBarText(const NorvString& text);
  static BOOL SetOutputView(QWidget* view, OutputViewHeaderPosition position,
                            const NorvString& caption, int flags);
  static void DetachOutputView(QWidget* view);
  static BOOL ShowOutputView(BOOL show);
  static BOOL IsOutputViewVisible(QWidget* view);
  static QWidget* GetOutputViewParent();
  // 0 banner, 1 frame, 2 the content view when it is the HTML view, 3
  // graphical; null otherwise.
  static QObject* GetViewDocument(int which);
  // Help command 15 with `data` on `helpFile`, or on the selected tree
  // item's help file when it is null. `command` is not used.
  static BOOL ShowHelp(UINT command, DWORD data, const wchar_t* helpFile);
  static BOOL SelectListViewItems(CNorvTLItemList* list);

  // The item model lock and what it guards. The tree view holds the lock
  // while it applies the table (TakeObjectFlagTable or, for a walk in
  // place, GetObjectFlagTable with the lock held).
  static std::recursive_mutex& GetItemModelLock();
  static NorvObjectFlagTable& GetObjectFlagTable();
  static NorvObjectFlagTable TakeObjectFlagTable();
  static NorvString GetNavigationTarget();
  static void SetNavigationTarget(const NorvString& path);
  static NorvString TakeNavigationTarget();

  // The active-item stack (user-interface thread only): the items the
  // framework is calling into; help looks at the top.
  static void PushActiveItem(CNorvTreeListItem* item);
  static void PopActiveItem();
  static CNorvTreeListItem* GetActiveItem();
  static int GetActiveItemDepth();

 protected:
  // The id field; plugins set the real id in Initialize.
  NorvString m_strId;

 private:
  friend class CNorvTLItemList;
  // NotifyDeselected on the tree's selection when it goes with any of
  // `doomed` (items about to be destroyed).
  static BOOL NotifyDeselectedIfDoomed(const std::vector<CNorvTreeListItem*>& doomed);
  void RecordRemovedLocked();
  void TraceNewFlags(DWORD flags) const;

  DWORD m_dwReserved = 0;
  CNorvTLItemList m_children;
  NorvTreeHandle m_hTreeItem = nullptr;
  int m_nListIndex = -1;
  int m_nViewMode = NORV_VIEWMODE_REPORT;
  DWORD m_dwItemListMask = NORV_ITEMLIST_TREE | NORV_ITEMLIST_LIST;
  DWORD m_flags = NORV_ITEM_LISTINVALID;
  CNorvTreeListItem* m_pParent = nullptr;
};

// Pushes an item on the active-item stack and its resource module on the
// resource stack for a scope: the bracket around every call into plugin
// code.
class NORV_API CNorvItemCallScope {
 public:
  explicit CNorvItemCallScope(CNorvTreeListItem* item);
  ~CNorvItemCallScope();
  CNorvItemCallScope(const CNorvItemCallScope&) = delete;
  CNorvItemCallScope& operator=(const CNorvItemCallScope&) = delete;
};

// ===== Traced calls =========================================================
// At base trace level 3 or more the framework calls these instead of the
// operations; each writes a line before and after the call. `file`, `line`
// and `function` name the caller.
NORV_API CmdResult Trace_Command(const char* file, int line, const char* function,
                                 CNorvTreeListItem* item, CNorvTLItemList* list, UINT commandId,
                                 DWORD param, void* pParam);
NORV_API CmdResult Trace_Drop(const char* file, int line, const char* function,
                              CNorvTreeListItem* item, const NorvString& format,
                              CNorvTLItemList* items, CNorvTLItemList* targets, DWORD dropEffect,
                              UINT commandId);
NORV_API GetItemsResult Trace_GetItems(const char* file, int line, const char* function,
                                       CNorvTreeListItem* item, BOOL treeOnly);
NORV_API BOOL Trace_Refresh(const char* file, int line, const char* function,
                            CNorvTreeListItem* item);
NORV_API CNorvTreeListItem* Trace_CreateObject(const char* file, int line, const char* function,
                                               CNorvTreeListItem* parent,
                                               const NorvString& className, const NorvString& id);

// Call through the wrapper at trace level 3 or more, directly below.
#define NORV_ITEM_COMMAND(item, list, cmd, param, pParam)                                  \
  (gNorvBaseTraceLevel >= 3                                                                \
       ? Trace_Command(__FILE__, __LINE__, __func__, (item), (list), (cmd), (param), (pParam)) \
       : (item)->Command((list), (cmd), (param), (pParam)))
#define NORV_ITEM_GETITEMS(item, treeOnly)                                          \
  (gNorvBaseTraceLevel >= 3 ? Trace_GetItems(__FILE__, __LINE__, __func__, (item), (treeOnly)) \
                            : (item)->GetItems(treeOnly))
#define NORV_ITEM_REFRESH(item)                                                      \
  (gNorvBaseTraceLevel >= 3 ? Trace_Refresh(__FILE__, __LINE__, __func__, (item))   \
                            : (item)->Refresh())
#define NORV_ITEM_CREATEOBJECT(parent, className, id)                                        \
  (gNorvBaseTraceLevel >= 3                                                                  \
       ? Trace_CreateObject(__FILE__, __LINE__, __func__, (parent), (className), (id))       \
       : CNorvTreeListItem::CreateObject((parent), (className), (id)))
