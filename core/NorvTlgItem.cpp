// The item base class: default operations, flags and the object flag table,
// creation by class name, navigation paths, new explorer windows, the
// traced-call wrappers and the static services that reach the views.
#include "norv/NorvTlgItem.h"

#include <QCollator>
#include <QLocale>
#include <QString>
#include <algorithm>
#include <atomic>
#include <memory>

#include "norv/NorvCommandLineInfo.h"
#include "norv/NorvHostCommands.h"
#include "norv/NorvResourceStack.h"
#include "norv/NorvTreePath.h"
#include "norv/NorvViewServices.h"
#include "norv/Trace.h"
#include "platform/library.h"
#include "platform/process.h"
#include "platform/text.h"

NORV_IMPLEMENT_SERIAL(CNorvTreeListItem, CNorvObject, 1)

namespace {

// Bit of the reserved word: ID_NORV_ITEMCMD_TREEITEM_DESELECTED was sent by
// NotifyDeselected.
constexpr DWORD kDeselectionSent = 1;

struct ItemModelState {
  std::recursive_mutex lock;
  NorvObjectFlagTable table;
  std::atomic<DWORD> invalidatedViews{0};
  NorvString navigationTarget;
  NorvString locale;
  std::vector<CNorvTreeListItem*> activeItems;
};

// Never destroyed: items that outlive static destruction (plugins unloaded
// late, the document's root) still find it.
ItemModelState& State() {
  static ItemModelState* state = new ItemModelState;
  return *state;
}

// An address the way the trace prints it: upper-case hexadecimal digits,
// padded to the width of a pointer.
NorvString PointerText(const void* p) {
  // Every item's initial id is made here, so no printf machinery.
  static const wchar_t kDigits[] = L"0123456789ABCDEF";
  std::uintptr_t v = reinterpret_cast<std::uintptr_t>(p);
  NorvString text(sizeof(void*) * 2, L'0');
  for (std::size_t i = text.size(); i-- > 0; v >>= 4) text[i] = kDigits[v & 0xF];
  return text;
}

NorvString Widen(const char* text) { return text != nullptr ? plat::FromUtf8(text) : NorvString(); }

// Every value is quoted for the receiving program's command-line rules, so
// that it arrives as one argument, unchanged.
std::string QuoteArgument(const NorvString& text) { return plat::QuoteArgument(plat::ToUtf8(text), true); }

NorvString TreeText(CNorvTreeListItem* item, UINT mask) {
  NorvResourceStack resources(item->GetResourceInstanceHandle());
  treeListViewInfo info;
  treeListViewInfo* p = &info;
  item->GetTreeViewInfo(p, mask);
  return p != nullptr ? p->strText : NorvString();
}

BOOL ListText(CNorvTreeListItem* item, int column, NorvString& text) {
  NorvResourceStack resources(item->GetResourceInstanceHandle());
  treeListViewInfo info;
  treeListViewInfo* p = &info;
  if (!item->GetListViewInfo(p, NORV_TLVI_TEXT, column)) return FALSE;
  text = p != nullptr ? p->strText : NorvString();
  return TRUE;
}

QCollator MakeCollator() {
  // The user's collation order. The "C" locale would sort by code points
  // ('B' before 'a'), which is never what a list of names should do: it
  // gets the common linguistic order instead.
  QLocale locale;
  if (locale.language() == QLocale::C) locale = QLocale(QLocale::English);
  return QCollator(locale);
}

int Collate(const NorvString& a, const NorvString& b) {
  // One collator per thread: QCollator is not safe to share between threads.
  thread_local QCollator collator = MakeCollator();
  const int r = collator.compare(QString::fromStdWString(a), QString::fromStdWString(b));
  return r < 0 ? -1 : (r > 0 ? 1 : 0);
}

NorvObjectFlagEntry& EntryLocked(const NorvString& className, const NorvString& id) {
  return State().table[className][id];
}

}  // namespace

// ===========================================================================
// Construction and destruction
// ===========================================================================

CNorvTreeListItem::CNorvTreeListItem() {
  m_strId = L"@" + PointerText(this);
  m_children.SetOwner(this);
}

CNorvTreeListItem::~CNorvTreeListItem() {
  INorvViewServices* services = NorvGetViewServices();
  const bool selected = services->GetSelectedTreeItem() == this;
  // The plugin's part of the object is gone by now, so DESELECTED could only
  // reach the base class: it was due from NotifyDeselected before the delete.
  if (selected && (m_dwReserved & kDeselectionSent) == 0 && gNorvBaseTraceLevel >= 2)
    NorvBaseTrace(__FILE__, __LINE__, 2, 0,
                  plat::FormatW(L"The selected item @ 0x%s is destroyed without "
                                L"NotifyDeselected() first",
                                PointerText(this).c_str()));
  if (selected || m_hTreeItem != nullptr) services->ItemDestroyed(this);
  // An item may be destroyed by the very call the framework makes into it:
  // the stack must not keep a dangling pointer.
  for (CNorvTreeListItem*& active : State().activeItems)
    if (active == this) active = nullptr;
  m_children.ClearList();
}

BOOL CNorvTreeListItem::NotifyDeselected() {
  if (m_dwReserved & kDeselectionSent) return FALSE;
  m_dwReserved |= kDeselectionSent;
  CNorvTLItemList empty;
  if (NorvIsUserInterfaceThread()) {
    CNorvItemCallScope scope(this);
    NORV_ITEM_COMMAND(this, &empty, ID_NORV_ITEMCMD_TREEITEM_DESELECTED, 0, nullptr);
  } else {
    // The resource and active-item stacks belong to the user-interface
    // thread; a worker that destroys the selection calls in without them.
    NORV_ITEM_COMMAND(this, &empty, ID_NORV_ITEMCMD_TREEITEM_DESELECTED, 0, nullptr);
  }
  return TRUE;
}

BOOL CNorvTreeListItem::NotifyDeselectedIfWithin(CNorvTreeListItem* item) {
  if (item == nullptr) return FALSE;
  return NotifyDeselectedIfDoomed({item});
}

BOOL CNorvTreeListItem::NotifyDeselectedIfDoomed(const std::vector<CNorvTreeListItem*>& doomed) {
  if (doomed.empty()) return FALSE;
  CNorvTreeListItem* selected = NorvGetViewServices()->GetSelectedTreeItem();
  // Up from the selection: it goes with a doomed item unless a STATIC item
  // (which no child list destroys) comes first.
  for (CNorvTreeListItem* s = selected; s != nullptr; s = s->m_pParent) {
    if (std::find(doomed.begin(), doomed.end(), s) != doomed.end())
      return selected->NotifyDeselected();
    if (s->IsStatic()) break;
  }
  return FALSE;
}

// ===========================================================================
// Virtual operations: the base behaviour
// ===========================================================================

NorvString CNorvTreeListItem::Id() const { return m_strId; }
BOOL CNorvTreeListItem::Initialize(CNorvTreeListItem*, const NorvString&) { return FALSE; }
BOOL CNorvTreeListItem::Refresh() {
  ClrFlags(NORV_ITEM_INVALID);
  return TRUE;
}
BOOL CNorvTreeListItem::GetDefaultFilter(CNorvFilterList*&) { return FALSE; }
CNorvMenu* CNorvTreeListItem::AppMenuInfo(CNorvMenu*) { return nullptr; }
CNorvMenu* CNorvTreeListItem::CtrlMenuInfo(CNorvMenu*, CtrlType) { return nullptr; }
CNorvMenu* CNorvTreeListItem::TreeMenuInfo(CNorvMenu*) { return nullptr; }
CNorvMenu* CNorvTreeListItem::ListMenuInfo(CNorvMenu*, int) { return nullptr; }
CNorvMenu* CNorvTreeListItem::DropMenuInfo(CNorvMenu*, const NorvString&, DWORD) {
  return nullptr;
}
BOOL CNorvTreeListItem::InitMenuInfo(UINT, int&, int&, int) { return FALSE; }
void CNorvTreeListItem::GetHtmlViewInfo(htmlViewInfo*&, DWORD) {}
void CNorvTreeListItem::GetTreeViewInfo(treeListViewInfo*&, UINT) {}
BOOL CNorvTreeListItem::GetListViewInfo(treeListViewInfo*&, UINT, int) { return FALSE; }
int CNorvTreeListItem::ListColumns(NorvStringList*&, NorvUIntArray*&, NorvUIntArray*&,
                                   NorvUIntArray*&) {
  return -1;
}
BOOL CNorvTreeListItem::HasTreeItems() { return TRUE; }
GetItemsResult CNorvTreeListItem::GetItems(BOOL) { return GETITEMS_OK; }
CmdResult CNorvTreeListItem::Command(CNorvTLItemList*, UINT, DWORD, void*) {
  return CMD_NOT_HANDLED;
}
BOOL CNorvTreeListItem::OnHTMLNavigate(const NorvString&, const NorvString&, const NorvString&,
                                       const std::vector<BYTE>&) {
  return FALSE;
}
CmdResult CNorvTreeListItem::Drop(const NorvString&, CNorvTLItemList*, CNorvTLItemList*, DWORD,
                                  UINT) {
  return CMD_NOT_HANDLED;
}
CmdResult CNorvTreeListItem::DropFiles(const NorvStringList&) { return CMD_NOT_HANDLED; }
NorvString CNorvTreeListItem::GetClipboardFormat() { return GetClassName(); }
CanDragFlag CNorvTreeListItem::CanDrag() { return DRAG_NONE; }
CanDropFlag CNorvTreeListItem::CanDrop(const QMimeData*, DWORD&, NorvString&, DWORD) {
  return DROP_NONE;
}
BOOL CNorvTreeListItem::CanDropFiles() { return FALSE; }
UINT CNorvTreeListItem::GetContextHelpId() { return 30000; }
UINT CNorvTreeListItem::GetIcon() { return 0; }
BOOL CNorvTreeListItem::CanEdit() { return FALSE; }
BOOL CNorvTreeListItem::EndEdit(const NorvString&) { return FALSE; }
void CNorvTreeListItem::ItemSelected(CNorvTLItemList*) {}

int CNorvTreeListItem::Compare(CNorvTreeListItem* other, int column, BOOL ascending) {
  if (other == nullptr) return 0;
  NorvString mine;
  NorvString theirs;
  if (column == 0) {
    mine = TreeText(this, NORV_TLVI_TEXT);
    theirs = TreeText(other, NORV_TLVI_TEXT);
  } else if (!ListText(this, column, mine) || !ListText(other, column, theirs)) {
    return 0;
  }
  const int r = Collate(mine, theirs);
  return ascending ? r : -r;
}

BOOL CNorvTreeListItem::SortTreeItems() { return FALSE; }
BOOL CNorvTreeListItem::HasViewMode(int mode) { return mode >= 0 && mode < 4; }
void CNorvTreeListItem::SetViewMode(int mode) { m_nViewMode = mode; }
int CNorvTreeListItem::GetViewMode() { return m_nViewMode; }
DWORD CNorvTreeListItem::GetViewModeExtendedStyle(int) { return 0; }
CNorvView* CNorvTreeListItem::GetCustomView() { return nullptr; }
void CNorvTreeListItem::GetFrameMargins(QRect&, int&) {}
int CNorvTreeListItem::GetImageListOffset() { return 0; }
NorvString CNorvTreeListItem::GetPluginName() { return {}; }
HMODULE CNorvTreeListItem::GetResourceInstanceHandle() { return nullptr; }
const wchar_t* CNorvTreeListItem::GetMessageHelpFile() { return L""; }
const wchar_t* CNorvTreeListItem::GetHelpFile() { return L""; }
NorvString CNorvTreeListItem::GetPluginCaption() { return {}; }

// ===========================================================================
// Flags
// ===========================================================================

void CNorvTreeListItem::SetStatic(BOOL isStatic) {
  if (isStatic)
    m_flags |= NORV_ITEM_STATIC;
  else
    m_flags &= ~NORV_ITEM_STATIC;
}

DWORD CNorvTreeListItem::ClrFlags(DWORD flags) {
  m_flags &= ~flags;
  return m_flags;
}

void CNorvTreeListItem::TraceNewFlags(DWORD flags) const {
  static const struct {
    DWORD flag;
    const wchar_t* format;
  } kLines[] = {
      {NORV_ITEM_DELETED, L"%s->SetDeleted()"},     {NORV_ITEM_REMOVED, L"%s->SetRemoved()"},
      {NORV_ITEM_INVALID, L"%s->SetInvalid()"},     {NORV_ITEM_LISTINVALID, L"%s->SetListInvalid()"},
      {NORV_ITEM_LISTUPDATED, L"%s->SetListUpdated()"}, {NORV_ITEM_REDRAW, L"%s->SetRedraw()"},
      {NORV_ITEM_STATIC, L"%s->SetStatic()"},       {NORV_ITEM_ACCESSERROR, L"%s->SetAccessError()"},
  };
  const DWORD fresh = flags & ~m_flags;
  if (fresh == 0) return;
  const NorvString who = NorvGetItemTraceInfo(this);
  for (const auto& line : kLines)
    if (fresh & line.flag)
      NorvBaseTrace(__FILE__, __LINE__, 3, 0, plat::FormatW(line.format, who.c_str()));
}

DWORD CNorvTreeListItem::SetFlags(DWORD flags, BOOL local) {
  std::lock_guard<std::recursive_mutex> guard(State().lock);
  if (local) {
    if (flags & NORV_ITEM_LISTINVALID) {
      if (IsStatic())
        ClearBranchTreeHandles();
      else
        m_children.ClearList();
    }
  } else {
    if (flags & NORV_ITEM_REMOVED) {
      // The item itself stays; the other instances under this parent go.
      flags &= ~NORV_ITEM_REMOVED;
      if (m_pParent != nullptr) {
        NorvObjectFlagEntry& entry = EntryLocked(GetClassName(), Id());
        entry.flags |= NORV_ITEM_REMOVED;
        entry.removedFrom[m_pParent->GetClassName()].insert(m_pParent->Id());
        if (gNorvBaseTraceLevel >= 3)
          NorvBaseTrace(__FILE__, __LINE__, 3, 0,
                        plat::FormatW(L"%s->Removed", NorvGetItemTraceInfo(this).c_str()));
      }
    }
    if (flags != 0) EntryLocked(GetClassName(), Id()).flags |= flags;
  }
  if (gNorvBaseTraceLevel >= 3) TraceNewFlags(flags);
  m_flags |= flags;
  return m_flags;
}

void CNorvTreeListItem::ClearBranchTreeHandles() {
  for (CNorvTreeListItem* child : m_children) {
    if (child == nullptr) continue;
    child->SetTreeHandle(nullptr);
    child->ClearBranchTreeHandles();
  }
}

// ===========================================================================
// Identity, paths and queries
// ===========================================================================

NorvString CNorvTreeListItem::GetClassName() const { return GetRuntimeClass()->GetClassName(); }

NorvString CNorvTreeListItem::GetObjectAddress() const { return GetClassName() + L"://" + Id(); }

BOOL CNorvTreeListItem::IsSameObject(const CNorvTreeListItem* other) const {
  if (other == nullptr) return FALSE;
  if (other == this) return TRUE;
  return GetClassName() == other->GetClassName() && Id() == other->Id() ? TRUE : FALSE;
}

BOOL CNorvTreeListItem::ClassPathFlag(const NorvString& path, DWORD flags) {
  flags &= ~NORV_ITEM_REMOVED;
  if (flags == 0) return FALSE;
  return NorvGetViewServices()->RefreshClassPath(path, this, flags);
}

BOOL CNorvTreeListItem::ClassPathInvalidateList(const NorvString& path, BOOL invalid) {
  return ClassPathFlag(path, invalid ? NORV_ITEM_INVALID | NORV_ITEM_LISTINVALID
                                     : NORV_ITEM_LISTINVALID);
}

NorvString CNorvTreeListItem::GetItemPath() {
  NorvString path;
  for (CNorvTreeListItem* item = this; item != nullptr && item->m_pParent != nullptr;
       item = item->m_pParent) {
    const NorvString text = EscapeTreePathElement(TreeText(item, NORV_TLVI_TEXT | NORV_TLVI_IMAGE));
    path = path.empty() ? text : text + L"/" + path;
  }
  return L"/" + path;
}

void CNorvTreeListItem::NavigateTo(const NorvString& path) {
  NorvString target = path;
  if (!path.empty() && path[0] != L'/') {
    for (CNorvTreeListItem* item = this; item != nullptr && item->m_pParent != nullptr;
         item = item->m_pParent)
      target =
          EscapeTreePathElement(TreeText(item, NORV_TLVI_TEXT | NORV_TLVI_IMAGE)) + L"/" + target;
    target = L"/" + target;
  }
  SetNavigationTarget(target);
}

BOOL CNorvTreeListItem::CanCopy() {
  NorvResourceStack resources(GetResourceInstanceHandle());
  for (UINT command : {ID_NORV_CMD_CUT, ID_NORV_CMD_COPY}) {
    int enabled = 0;
    int checked = 0;
    if (InitMenuInfo(command, enabled, checked, 0) && enabled) return TRUE;
  }
  return FALSE;
}

BOOL CNorvTreeListItem::HasFeature(UINT featureId) {
  NorvResourceStack resources(GetResourceInstanceHandle());
  int enabled = 0;
  int checked = 0;
  if (!InitMenuInfo(featureId, enabled, checked, 0))
    return featureId != NORV_FEATURE_OFF_BY_DEFAULT ? TRUE : FALSE;
  return enabled;
}

BOOL CNorvTreeListItem::GetListSorting(int& column, int& ascending) {
  if (GetViewMode() != NORV_VIEWMODE_REPORT) return FALSE;
  return NorvGetViewServices()->GetListSorting(column, ascending);
}

BOOL CNorvTreeListItem::ModifyImageList(ImageListType type, int index, const QIcon& icon) {
  return NorvGetViewServices()->ModifyImageList(type, index + GetImageListOffset(), icon);
}

BOOL CNorvTreeListItem::SetAddressBarInfo(const NorvString& text, int image, int selectedImage,
                                          int indent, const NorvString& path) {
  return NorvGetViewServices()->SetAddressBarInfo(text, image + GetImageListOffset(),
                                                  selectedImage, indent, path);
}

BOOL CNorvTreeListItem::SetTimer(UINT milliseconds) {
  NorvGetViewServices()->SetItemTimer(milliseconds);
  return TRUE;
}

// ===========================================================================
// Creation by class name
// ===========================================================================

CNorvTreeListItem* CNorvTreeListItem::CreateObject(CNorvTreeListItem* parent,
                                                   const NorvString& className,
                                                   const NorvString& id) {
  const CNorvRuntimeClass* pClass = nullptr;
  {
    std::lock_guard<std::recursive_mutex> guard(NorvFrameworkLock());
    pClass = CNorvRuntimeClass::FromName(className);
  }
  if (pClass == nullptr) return nullptr;
  // Only item classes: another registered class of that name must not be
  // treated as an item.
  if (!pClass->IsDerivedFrom(NORV_RUNTIME_CLASS(CNorvTreeListItem))) return nullptr;
  std::unique_ptr<CNorvTreeListItem> item(static_cast<CNorvTreeListItem*>(pClass->CreateObject()));
  if (!item) return nullptr;
  BOOL ok = FALSE;
  {
    CNorvItemCallScope scope(item.get());
    ok = item->Initialize(parent, id);
  }
  if (!ok) return nullptr;
  return item.release();
}

// ===========================================================================
// A new explorer window
// ===========================================================================

BOOL CNorvTreeListItem::ExploreFrom(const NorvString& className, const NorvString& id) {
  return ExploreFrom(className, id, NorvString());
}

BOOL CNorvTreeListItem::ExploreFrom(const NorvString& className, const NorvString& id,
                                    const NorvString& param) {
  const std::string program = plat::ModuleFileName(nullptr);
  // No length limit: the program may live in a folder deeper than the
  // 260 characters an old path buffer held.
  if (program.empty()) return FALSE;

  // Every argument is quoted the way the explorer's command line expects
  // (its parser removes the quotes again); each value arrives whole.
  std::vector<std::string> argv;
  argv.push_back(program);
  argv.push_back(QuoteArgument(L"class:" + className));
  argv.push_back(QuoteArgument(L"id:" + id));
  argv.push_back(QuoteArgument(L"locale:" + GetLocale()));
  argv.push_back(QuoteArgument(L"param:" + param));

  if (const CNorvCommandLineInfo* info = CNorvCommandLineInfo::GetCurrent()) {
    if (info->m_bRegistryKeyGiven)
      argv.push_back(QuoteArgument(L"registrykey:" + info->m_RegistryKey));
    if (info->m_bTraceEnabledGiven)
      argv.push_back(QuoteArgument(
          plat::FormatW(L"%s%d", L"traceEnabled:", static_cast<int>(info->m_TraceEnabled))));
    if (info->m_bTraceLevelGiven)
      argv.push_back(QuoteArgument(plat::FormatW(L"%s%d", L"traceLevel:", info->m_TraceLevel)));
    if (info->m_bTraceFileSizeGiven)
      argv.push_back(QuoteArgument(
          plat::FormatW(L"%s%d", L"traceFileSize:", static_cast<int>(info->m_TraceFileSize))));
    if (info->m_bTraceKeepFilesGiven)
      argv.push_back(
          QuoteArgument(plat::FormatW(L"%s%d", L"traceKeepFiles:", info->m_TraceKeepFiles)));
    if (info->m_bTraceLocationGiven)
      argv.push_back(QuoteArgument(L"traceLocation:" + info->m_TraceLocation));
    // One argument per entry: what the receiving program would have split
    // a space-joined list into.
    for (const NorvString& plugin : info->m_Plugins)
      argv.push_back(QuoteArgument(L"plugin:" + plugin));
    for (const NorvString& entry : info->m_LoadPlugins)
      argv.push_back(QuoteArgument(L"loadplugin:" + entry));
  }
  argv.push_back("\"-notips\"");
  argv.push_back("\"-nosplash\"");

  plat::ProcessOptions options;
  options.detached = true;
  options.searchPath = false;
  plat::ProcessInfo process;
  const LONG rc = plat::StartProcess(argv, options, &process);
  if (rc != plat::ERROR_SUCCESS) {
    if (gNorvBaseTraceLevel >= 1)
      NorvBaseTrace(__FILE__, __LINE__, 1, 0,
                    plat::FormatW(L"ExploreFrom: cannot start %s (error %d)",
                                  plat::FromUtf8(program).c_str(), static_cast<int>(rc)));
    return FALSE;
  }
  return TRUE;
}

// ===========================================================================
// The object flag table and the other shared state
// ===========================================================================

void CNorvTreeListItem::ClassObjectFlag(const NorvString& className, const NorvString& id,
                                        DWORD flags, const NorvString& parentClass,
                                        const NorvString& parentId) {
  if (flags == 0) return;
  std::lock_guard<std::recursive_mutex> guard(State().lock);
  NorvObjectFlagEntry& entry = EntryLocked(className, id);
  entry.flags |= flags;
  if ((flags & NORV_ITEM_REMOVED) && !parentClass.empty() && !parentId.empty())
    entry.removedFrom[parentClass].insert(parentId);
}

void CNorvTreeListItem::ClassObjectInvalidateList(const NorvString& className,
                                                  const NorvString& id, BOOL invalid) {
  ClassObjectFlag(className, id,
                  invalid ? NORV_ITEM_INVALID | NORV_ITEM_LISTINVALID : NORV_ITEM_LISTINVALID,
                  NorvString(), NorvString());
}

void CNorvTreeListItem::InvalidateView(DWORD mask) {
  std::lock_guard<std::recursive_mutex> guard(State().lock);
  State().invalidatedViews.fetch_or(mask);
}

DWORD CNorvTreeListItem::GetInvalidatedViews() { return State().invalidatedViews.load(); }

void CNorvTreeListItem::ClearInvalidatedViews() {
  std::lock_guard<std::recursive_mutex> guard(State().lock);
  State().invalidatedViews.store(0);
}

std::recursive_mutex& CNorvTreeListItem::GetItemModelLock() { return State().lock; }

NorvObjectFlagTable& CNorvTreeListItem::GetObjectFlagTable() { return State().table; }

NorvObjectFlagTable CNorvTreeListItem::TakeObjectFlagTable() {
  std::lock_guard<std::recursive_mutex> guard(State().lock);
  NorvObjectFlagTable taken;
  taken.swap(State().table);
  return taken;
}

NorvString CNorvTreeListItem::GetNavigationTarget() {
  std::lock_guard<std::recursive_mutex> guard(State().lock);
  return State().navigationTarget;
}

void CNorvTreeListItem::SetNavigationTarget(const NorvString& path) {
  std::lock_guard<std::recursive_mutex> guard(State().lock);
  State().navigationTarget = path;
}

NorvString CNorvTreeListItem::TakeNavigationTarget() {
  std::lock_guard<std::recursive_mutex> guard(State().lock);
  NorvString target;
  target.swap(State().navigationTarget);
  return target;
}

NorvString CNorvTreeListItem::GetLocale() {
  std::lock_guard<std::recursive_mutex> guard(State().lock);
  return State().locale;
}

void CNorvTreeListItem::SetLocale(const NorvString& locale) {
  std::lock_guard<std::recursive_mutex> guard(State().lock);
  State().locale = locale;
}

NorvString CNorvTreeListItem::GetCommandLineParameter() {
  const CNorvCommandLineInfo* info = CNorvCommandLineInfo::GetCurrent();
  return info != nullptr && info->m_bParamGiven ? info->m_Param : NorvString();
}

// ===========================================================================
// Services of the views
// ===========================================================================

void CNorvTreeListItem::InvokeRefresh() { NorvGetViewServices()->InvokeRefresh(); }

NorvString CNorvTreeListItem::GetAddressBarInfo() {
  int image = -1;
  int selectedImage = -1;
  return GetAddressBarInfo(image, selectedImage);
}

NorvString CNorvTreeListItem::GetAddressBarInfo(int& image, int& selectedImage) {
  NorvString text;
  NorvGetViewServices()->GetAddressBarInfo(text, image, selectedImage);
  return text;
}

BOOL CNorvTreeListItem::SetStatusBarText(const NorvString& text) {
  return NorvGetViewServices()->SetStatusBarText(text);
}

BOOL CNorvTreeListItem::SetOutputView(QWidget* view, OutputViewHeaderPosition position,
                                      const NorvString& caption, int flags) {
  return NorvGetViewServices()->SetOutputView(view, position, caption, flags);
}

void CNorvTreeListItem::DetachOutputView(QWidget* view) {
  NorvGetViewServices()->DetachOutputView(view);
}

BOOL CNorvTreeListItem::ShowOutputView(BOOL show) {
  return NorvGetViewServices()->ShowOutputView(show);
}

BOOL CNorvTreeListItem::IsOutputViewVisible(QWidget* view) {
  return NorvGetViewServices()->IsOutputViewVisible(view);
}

QWidget* CNorvTreeListItem::GetOutputViewParent() {
  return NorvGetViewServices()->GetOutputViewParent();
}

QObject* CNorvTreeListItem::GetViewDocument(int which) {
  if (which < 0 || which > 3) return nullptr;
  return NorvGetViewServices()->GetViewDocument(which);
}

BOOL CNorvTreeListItem::ShowHelp(UINT /*command*/, DWORD data, const wchar_t* helpFile) {
  INorvViewServices* services = NorvGetViewServices();
  NorvString file;
  if (helpFile != nullptr) {
    file = helpFile;
  } else if (CNorvTreeListItem* selected = services->GetSelectedTreeItem()) {
    NorvResourceStack resources(selected->GetResourceInstanceHandle());
    const wchar_t* itemFile = selected->GetHelpFile();
    file = itemFile != nullptr ? itemFile : L"";
  }
  return services->ShowHelp(data, NORV_HELP_CONTEXT, file);
}

BOOL CNorvTreeListItem::SelectListViewItems(CNorvTLItemList* list) {
  if (list == nullptr) return FALSE;
  return NorvGetViewServices()->SelectListViewItems(list);
}

// ===========================================================================
// The active-item stack
// ===========================================================================

void CNorvTreeListItem::PushActiveItem(CNorvTreeListItem* item) {
  State().activeItems.push_back(item);
}

void CNorvTreeListItem::PopActiveItem() {
  if (!State().activeItems.empty()) State().activeItems.pop_back();
}

CNorvTreeListItem* CNorvTreeListItem::GetActiveItem() {
  const auto& stack = State().activeItems;
  return stack.empty() ? nullptr : stack.back();
}

int CNorvTreeListItem::GetActiveItemDepth() {
  return static_cast<int>(State().activeItems.size());
}

CNorvItemCallScope::CNorvItemCallScope(CNorvTreeListItem* item) {
  NorvResourceStack::Push(item != nullptr ? item->GetResourceInstanceHandle() : nullptr);
  CNorvTreeListItem::PushActiveItem(item);
}

CNorvItemCallScope::~CNorvItemCallScope() {
  CNorvTreeListItem::PopActiveItem();
  NorvResourceStack::Pop();
}

// ===========================================================================
// Traced calls
// ===========================================================================

CmdResult Trace_Command(const char* file, int line, const char* function,
                        CNorvTreeListItem* item, CNorvTLItemList* list, UINT commandId,
                        DWORD param, void* pParam) {
  const NorvString fn = Widen(function);
  const NorvString who = NorvGetItemTraceInfo(item, fn.c_str());
  NorvBaseTrace(file, line, 3, 4,
                plat::FormatW(L"%s->Command(CNorvTLItemList* 0x%s {cnt = %d}, %s, %d, 0x%s)",
                              who.c_str(), PointerText(list).c_str(),
                              list != nullptr ? list->GetCount() : 0,
                              Trace::GetCmdName(commandId).c_str(), static_cast<int>(param),
                              PointerText(pParam).c_str()));
  const CmdResult result = item != nullptr ? item->Command(list, commandId, param, pParam)
                                           : CMD_NOT_HANDLED;
  NorvBaseTrace(file, line, 3, -4,
                plat::FormatW(L"%s->Command(...) = %d", who.c_str(), static_cast<int>(result)));
  return result;
}

CmdResult Trace_Drop(const char* file, int line, const char* function, CNorvTreeListItem* item,
                     const NorvString& format, CNorvTLItemList* items, CNorvTLItemList* targets,
                     DWORD dropEffect, UINT commandId) {
  const NorvString fn = Widen(function);
  const NorvString who = NorvGetItemTraceInfo(item, fn.c_str());
  NorvBaseTrace(
      file, line, 3, 4,
      plat::FormatW(L"%s->Drop(CString & {\"%s\"}, CNorvTLItemList* 0x%s {cnt = %d}, "
                    L"CNorvTLItemList* 0x%s {cnt = %d}, %08x, %s)",
                    who.c_str(), format.c_str(), PointerText(items).c_str(),
                    items != nullptr ? items->GetCount() : 0, PointerText(targets).c_str(),
                    targets != nullptr ? targets->GetCount() : 0, dropEffect,
                    Trace::GetCmdName(commandId).c_str()));
  const CmdResult result = item != nullptr
                               ? item->Drop(format, items, targets, dropEffect, commandId)
                               : CMD_NOT_HANDLED;
  NorvBaseTrace(file, line, 3, -4,
                plat::FormatW(L"%s->Drop(...) = %d", who.c_str(), static_cast<int>(result)));
  return result;
}

GetItemsResult Trace_GetItems(const char* file, int line, const char* function,
                              CNorvTreeListItem* item, BOOL treeOnly) {
  const NorvString fn = Widen(function);
  const NorvString who = NorvGetItemTraceInfo(item, fn.c_str());
  NorvBaseTrace(file, line, 3, 4,
                plat::FormatW(L"%s->GetItems(bTreeOnly = %s)", who.c_str(),
                              treeOnly ? L"TRUE" : L"FALSE"));
  const GetItemsResult result = item != nullptr ? item->GetItems(treeOnly) : GETITEMS_FAILED;
  NorvBaseTrace(file, line, 3, -4,
                plat::FormatW(L"%s->GetItems(...) = %d", who.c_str(), static_cast<int>(result)));
  return result;
}

BOOL Trace_Refresh(const char* file, int line, const char* function, CNorvTreeListItem* item) {
  const NorvString fn = Widen(function);
  const NorvString who = NorvGetItemTraceInfo(item, fn.c_str());
  NorvBaseTrace(file, line, 3, 4, plat::FormatW(L"%s->Refresh()", who.c_str()));
  const BOOL result = item != nullptr ? item->Refresh() : FALSE;
  NorvBaseTrace(file, line, 3, -4,
                plat::FormatW(L"%s->Refresh() = %s", who.c_str(), result ? L"TRUE" : L"FALSE"));
  return result;
}

CNorvTreeListItem* Trace_CreateObject(const char* file, int line, const char* function,
                                      CNorvTreeListItem* parent, const NorvString& className,
                                      const NorvString& id) {
  const NorvString fn = Widen(function);
  const NorvString who = NorvGetItemTraceInfo(parent, fn.c_str());
  NorvBaseTrace(file, line, 3, 4,
                plat::FormatW(L"CNorvTreeListItem::CreateObject(%s, %s, \"%s\")", who.c_str(),
                              className.c_str(), id.c_str()));
  CNorvTreeListItem* item = CNorvTreeListItem::CreateObject(parent, className, id);
  NorvBaseTrace(file, line, 3, -4,
                plat::FormatW(L"CNorvTreeListItem::CreateObject(%s, %s, \"%s\") = %s", who.c_str(),
                              className.c_str(), id.c_str(), NorvGetItemTraceInfo(item).c_str()));
  return item;
}
