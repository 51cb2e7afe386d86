#include "SystemItems.h"

#include <cstring>

#include "SystemStrings.h"
#include "norv/NorvHtmlDocument.h"
#include "norv/NorvItemCommands.h"
#include "platform/library.h"
#include "platform/resources.h"
#include "platform/text.h"

using sysplugin::SystemMonitor;

namespace {

// A canonical decimal id ("17", not "017" or "+17"): one object, one
// address.
bool ParseId(const NorvString& id, int minimum, int* out) {
  if (id.empty() || id.size() > 9) return false;
  if (id.size() > 1 && id[0] == L'0') return false;
  int value = 0;
  for (wchar_t c : id) {
    if (c < L'0' || c > L'9') return false;
    value = value * 10 + static_cast<int>(c - L'0');
  }
  if (value < minimum) return false;
  *out = value;
  return true;
}

template <typename T>
int Order(T a, T b) {
  return a < b ? -1 : (b < a ? 1 : 0);
}

void SetImages(treeListViewInfo* info, UINT mask, int image) {
  if ((mask & NORV_TLVI_IMAGE) == 0) return;
  info->nImage = image;
  info->nSelectedImage = image;
}

}  // namespace

// ===== CSystemItem ===========================================================

NORV_IMPLEMENT_DYNAMIC(CSystemItem, CNorvTreeListItem)

int CSystemItem::GetImageListOffset() { return gSystemPlugin.imageListOffset; }
NorvString CSystemItem::GetPluginName() { return gSystemPlugin.name; }
HMODULE CSystemItem::GetResourceInstanceHandle() { return gSystemPlugin.resourceModule; }
const wchar_t* CSystemItem::GetHelpFile() { return gSystemPlugin.helpFile.c_str(); }
const wchar_t* CSystemItem::GetMessageHelpFile() { return gSystemPlugin.messageHelpFile.c_str(); }
NorvString CSystemItem::GetPluginCaption() { return Text(IDS_SYSTEM_CAPTION); }

NorvString CSystemItem::Text(UINT id) { return plat::LoadString(id, gSystemPlugin.resourceModule); }

NorvString CSystemItem::PageUrl(const wchar_t* page) {
  if (gSystemPlugin.resourceModule == nullptr) return {};
  std::string file = plat::ModuleFileName(gSystemPlugin.resourceModule);
  std::size_t slash = file.rfind('/');
  if (slash != std::string::npos) file.erase(0, slash + 1);
  if (file.empty()) return {};
  return L"res://" + plat::FromUtf8(file) + L"/" + page;
}

void CSystemItem::GetHtmlViewInfo(htmlViewInfo*& info, DWORD flags) {
  if (info == nullptr) return;
  if (flags == 0) {  // banner
    info->url = PageUrl(SYS_PAGE_BANNER);
    info->assignments = {L"title=" + Text(IDS_SYSTEM_ROOT),
                         L"description=" + Text(IDS_SYSTEM_ROOT_DESC)};
  } else if (flags == 3) {  // tutorial; the links climb to this plugin's root
    info->url = PageUrl(SYS_PAGE_TUTORIAL);
    info->assignments = {L"processes=" + Text(IDS_SYSTEM_PROCESSES),
                         L"processes.data-path=.../" + Text(IDS_SYSTEM_ROOT) + L"/" +
                             Text(IDS_SYSTEM_PROCESSES),
                         L"mounts=" + Text(IDS_SYSTEM_MOUNTS),
                         L"mounts.data-path=.../" + Text(IDS_SYSTEM_ROOT) + L"/" +
                             Text(IDS_SYSTEM_MOUNTS)};
  }
}

// ===== CSystemRoot ===========================================================

NORV_IMPLEMENT_SERIAL(CSystemRoot, CSystemItem, 1)

CSystemRoot::~CSystemRoot() {
  // The folders are STATIC: this item made them and destroys them, after
  // taking them out of its child list so the base class does not touch
  // them again.
  GetItemList().RemoveAll();
  delete m_pProcesses;
  delete m_pMounts;
}

BOOL CSystemRoot::Initialize(CNorvTreeListItem* parent, const NorvString& id) {
  if (!id.empty() && id != SYS_ID_ROOT) return FALSE;
  SetParent(parent);
  m_strId = SYS_ID_ROOT;
  if (m_pProcesses == nullptr) {
    m_pProcesses = new CSystemProcessFolder;
    m_pProcesses->SetStatic(TRUE);
    m_pProcesses->Initialize(this, SYS_ID_PROCESSES);
  }
  if (m_pMounts == nullptr) {
    m_pMounts = new CSystemMountFolder;
    m_pMounts->SetStatic(TRUE);
    m_pMounts->Initialize(this, SYS_ID_MOUNTS);
  }
  return TRUE;
}

void CSystemRoot::GetTreeViewInfo(treeListViewInfo*& info, UINT mask) {
  if (info == nullptr) return;
  if (mask & NORV_TLVI_TEXT) info->strText = Text(IDS_SYSTEM_ROOT);
  SetImages(info, mask, SYS_IMAGE_SYSTEM);
}

BOOL CSystemRoot::GetListViewInfo(treeListViewInfo*& info, UINT mask, int column) {
  if (info == nullptr) return FALSE;
  // Listed among the framework root's children, the root answers that
  // list's columns.
  switch (column) {
    case 0:
    case NORV_ROOT_COL_NAME:
      if (mask & NORV_TLVI_TEXT) info->strText = Text(IDS_SYSTEM_ROOT);
      break;
    case NORV_ROOT_COL_DESCRIPTION:
      if (mask & NORV_TLVI_TEXT) info->strText = Text(IDS_SYSTEM_ROOT_DESC);
      break;
    default:
      return FALSE;
  }
  SetImages(info, mask, SYS_IMAGE_SYSTEM);
  return TRUE;
}

int CSystemRoot::ListColumns(NorvStringList*& titles, NorvUIntArray*& widths, NorvUIntArray*& ids,
                             NorvUIntArray*& formats) {
  // The arrays must outlive the call; the titles are loaded each time so a
  // change of resources shows.
  static NorvStringList sTitles;
  static NorvUIntArray sWidths{160, 260};
  static NorvUIntArray sIds{SYS_COL_NAME, SYS_COL_DESCRIPTION};
  static NorvUIntArray sFormats{0, 0};
  sTitles = {Text(IDS_SYSTEM_COL_NAME), Text(IDS_SYSTEM_COL_DESCRIPTION)};
  titles = &sTitles;
  widths = &sWidths;
  ids = &sIds;
  formats = &sFormats;
  return -1;
}

GetItemsResult CSystemRoot::GetItems(BOOL /*treeOnly*/) {
  if (!IsListValid()) {
    // Only unlinks the STATIC folders (and anything else destroys).
    GetItemList().ClearList();
    for (CNorvTreeListItem* folder : {static_cast<CNorvTreeListItem*>(m_pProcesses),
                                      static_cast<CNorvTreeListItem*>(m_pMounts)}) {
      if (folder == nullptr) continue;
      folder->SetParent(this);
      GetItemList().AddTail(folder);
    }
    SetListValid();
  }
  return GETITEMS_OK;
}

void CSystemRoot::GetHtmlViewInfo(htmlViewInfo*& info, DWORD flags) {
  if (info == nullptr) return;
  if (flags != 2) {
    CSystemItem::GetHtmlViewInfo(info, flags);
    return;
  }
  info->url = PageUrl(SYS_PAGE_OVERVIEW);
  info->assignments.clear();
  auto latest = SystemMonitor::Instance().Latest();
  if (latest != nullptr && latest->processesOk)
    info->assignments.push_back(L"processes=" + std::to_wstring(latest->processes.size()));
  info->assignments.push_back(L"open=" + Text(IDS_SYSTEM_PROCESSES));
  info->assignments.push_back(L"open.data-path=./" + Text(IDS_SYSTEM_PROCESSES));
}

BOOL CSystemRoot::HasViewMode(int mode) {
  return CSystemItem::HasViewMode(mode) || mode == NORV_VIEWMODE_HTML;
}

CmdResult CSystemRoot::Command(CNorvTLItemList* list, UINT commandId, DWORD param, void* pParam) {
  if (commandId == ID_SYSTEM_CMD_COUNT_PROCESSES) {
    auto latest = SystemMonitor::Instance().Latest();
    SystemMonitor::Instance().Wake();
    // The page shows the result: the number of processes.
    return static_cast<CmdResult>(latest != nullptr ? latest->processes.size() : 0);
  }
  if (commandId == ID_NORV_ITEMCMD_DOCUMENT_COMPLETE_GRAPHICAL &&
      param == static_cast<DWORD>(-2) && pParam != nullptr) {
    auto* document = static_cast<INorvHtmlDocument*>(pParam);
    auto latest = SystemMonitor::Instance().Latest();
    if (latest != nullptr && latest->mountsOk)
      document->SetElement(L"mounts", L"", std::to_wstring(latest->mounts.size()));
    return CMD_HANDLED;
  }
  return CSystemItem::Command(list, commandId, param, pParam);
}

// ===== CSystemFolder =========================================================

NORV_IMPLEMENT_DYNAMIC(CSystemFolder, CSystemItem)

CSystemFolder::~CSystemFolder() {
  // The children go first: they report to the monitor as well.
  GetItemList().ClearList();
  // Kind() is not callable here any more: the derived part is gone.
  if (m_registered) SystemMonitor::Instance().RemoveLiveFolder(m_registeredKind);
}

BOOL CSystemFolder::Initialize(CNorvTreeListItem* parent, const NorvString& id) {
  if (!id.empty() && id != FixedId()) return FALSE;
  SetParent(parent);
  m_strId = FixedId();
  if (!m_registered) {
    m_registeredKind = Kind();
    SystemMonitor::Instance().AddLiveFolder(m_registeredKind);
    m_registered = true;
  }
  Count(*SystemMonitor::Instance().Latest());
  return TRUE;
}

void CSystemFolder::Count(const sysplugin::SystemSnapshot& snapshot) {
  if (Kind() == sysplugin::FolderKind::Processes) {
    m_count = snapshot.processes.size();
    m_countOk = snapshot.processesOk;
  } else {
    m_count = snapshot.mounts.size();
    m_countOk = snapshot.mountsOk;
  }
}

BOOL CSystemFolder::Refresh() {
  SystemMonitor::Instance().Wake();
  Count(*SystemMonitor::Instance().Latest());
  ClrFlags(NORV_ITEM_INVALID);
  return TRUE;
}

BOOL CSystemFolder::HasTreeItems() { return FALSE; }

void CSystemFolder::GetTreeViewInfo(treeListViewInfo*& info, UINT mask) {
  if (info == nullptr) return;
  if (mask & NORV_TLVI_TEXT) info->strText = Text(NameString());
  SetImages(info, mask, SYS_IMAGE_FOLDER);
}

BOOL CSystemFolder::GetListViewInfo(treeListViewInfo*& info, UINT mask, int column) {
  if (info == nullptr) return FALSE;
  switch (column) {
    case 0:
    case SYS_COL_NAME:
      if (mask & NORV_TLVI_TEXT) info->strText = Text(NameString());
      break;
    case SYS_COL_DESCRIPTION:
      if (mask & NORV_TLVI_TEXT) {
        info->strText = m_countOk ? NorvFormatString(Text(CountString()).c_str(),
                                                     static_cast<int>(m_count))
                                  : Text(IDS_SYSTEM_UNREADABLE);
      }
      break;
    default:
      return FALSE;
  }
  SetImages(info, mask, SYS_IMAGE_FOLDER);
  return TRUE;
}

GetItemsResult CSystemFolder::GetItems(BOOL /*treeOnly*/) {
  if (IsListValid()) return GETITEMS_OK;
  GetItemList().ClearList();
  const std::shared_ptr<const sysplugin::SystemSnapshot> snapshot =
      SystemMonitor::Instance().Latest();
  Count(*snapshot);
  if (!FillList(*snapshot)) return GETITEMS_FAILED;
  SetListValid();
  return GETITEMS_OK;
}

namespace {

// Makes one child per entry of a reading (id -> values); an entry that can no
// longer be initialised is left out.
template <typename Child, typename Readings>
void AppendChildren(CNorvTreeListItem* folder, const Readings& readings) {
  for (const auto& [id, info] : readings) {
    auto* child = new Child;
    child->SetInfo(info);
    if (!child->Initialize(folder, std::to_wstring(id))) {
      delete child;
      continue;
    }
    folder->GetItemList().AddTail(child);
  }
}

}  // namespace

// ===== CSystemProcessFolder ==================================================

NORV_IMPLEMENT_SERIAL(CSystemProcessFolder, CSystemFolder, 1)

const wchar_t* CSystemProcessFolder::FixedId() const { return SYS_ID_PROCESSES; }
UINT CSystemProcessFolder::NameString() const { return IDS_SYSTEM_PROCESSES; }
UINT CSystemProcessFolder::CountString() const { return IDS_SYSTEM_PROCESSES_DESC; }

BOOL CSystemProcessFolder::FillList(const sysplugin::SystemSnapshot& snapshot) {
  if (!snapshot.processesOk) return FALSE;
  AppendChildren<CSystemProcess>(this, snapshot.processes);
  return TRUE;
}

int CSystemProcessFolder::ListColumns(NorvStringList*& titles, NorvUIntArray*& widths,
                                      NorvUIntArray*& ids, NorvUIntArray*& formats) {
  static NorvStringList sTitles;
  static NorvUIntArray sWidths{70, 180, 120, 70, 110};
  static NorvUIntArray sIds{SYS_COL_PID, SYS_COL_PROCESS, SYS_COL_STATE, SYS_COL_THREADS,
                            SYS_COL_MEMORY};
  static NorvUIntArray sFormats{1, 0, 0, 1, 1};  // numbers right-aligned
  sTitles = {Text(IDS_SYSTEM_COL_PID), Text(IDS_SYSTEM_COL_PROCESS), Text(IDS_SYSTEM_COL_STATE),
             Text(IDS_SYSTEM_COL_THREADS), Text(IDS_SYSTEM_COL_MEMORY)};
  titles = &sTitles;
  widths = &sWidths;
  ids = &sIds;
  formats = &sFormats;
  return SYS_COL_PID;
}

// ===== CSystemMountFolder ====================================================

NORV_IMPLEMENT_SERIAL(CSystemMountFolder, CSystemFolder, 1)

const wchar_t* CSystemMountFolder::FixedId() const { return SYS_ID_MOUNTS; }
UINT CSystemMountFolder::NameString() const { return IDS_SYSTEM_MOUNTS; }
UINT CSystemMountFolder::CountString() const { return IDS_SYSTEM_MOUNTS_DESC; }

BOOL CSystemMountFolder::FillList(const sysplugin::SystemSnapshot& snapshot) {
  if (!snapshot.mountsOk) return FALSE;
  AppendChildren<CSystemMount>(this, snapshot.mounts);
  return TRUE;
}

int CSystemMountFolder::ListColumns(NorvStringList*& titles, NorvUIntArray*& widths,
                                    NorvUIntArray*& ids, NorvUIntArray*& formats) {
  static NorvStringList sTitles;
  static NorvUIntArray sWidths{180, 220, 90, 300};
  static NorvUIntArray sIds{SYS_COL_DEVICE, SYS_COL_MOUNTPOINT, SYS_COL_TYPE, SYS_COL_OPTIONS};
  static NorvUIntArray sFormats{0, 0, 0, 0};
  sTitles = {Text(IDS_SYSTEM_COL_DEVICE), Text(IDS_SYSTEM_COL_MOUNTPOINT),
             Text(IDS_SYSTEM_COL_TYPE), Text(IDS_SYSTEM_COL_OPTIONS)};
  titles = &sTitles;
  widths = &sWidths;
  ids = &sIds;
  formats = &sFormats;
  return SYS_COL_MOUNTPOINT;
}

// ===== CSystemProcess ========================================================

NORV_IMPLEMENT_SERIAL(CSystemProcess, CSystemItem, 1)

CSystemProcess::~CSystemProcess() {
  if (m_registered) SystemMonitor::Instance().RemoveLiveProcess(m_info.pid);
}

BOOL CSystemProcess::Initialize(CNorvTreeListItem* parent, const NorvString& id) {
  int pid = 0;
  if (m_registered || !ParseId(id, 1, &pid)) return FALSE;
  if (m_info.pid != pid && !SystemMonitor::Instance().FindProcess(pid, &m_info)) return FALSE;
  SetParent(parent);
  m_strId = id;
  // A process appears in the list only; the tree shows the folders.
  SetItemListMask(NORV_ITEMLIST_LIST);
  SystemMonitor::Instance().AddLiveProcess(pid);
  m_registered = true;
  return TRUE;
}

BOOL CSystemProcess::Refresh() {
  sysplugin::ProcessInfo now;
  if (SystemMonitor::Instance().FindProcess(m_info.pid, &now) && now.startTime == m_info.startTime)
    m_info = now;
  ClrFlags(NORV_ITEM_INVALID);
  return TRUE;
}

BOOL CSystemProcess::HasTreeItems() { return FALSE; }

NorvString CSystemProcess::ColumnText(int column) const {
  switch (column) {
    case 0:
    case SYS_COL_PROCESS:
      return plat::FromUtf8(m_info.name);
    case SYS_COL_PID:
      return std::to_wstring(m_info.pid);
    case SYS_COL_STATE: {
      const char* letter = std::strchr(kStateLetters, m_info.state);
      if (m_info.state != '\0' && letter != nullptr) {
        const NorvString text =
            Text(IDS_SYSTEM_STATE_FIRST + static_cast<UINT>(letter - kStateLetters));
        if (!text.empty()) return text;
      }
      return NorvString(1, static_cast<wchar_t>(static_cast<unsigned char>(m_info.state)));
    }
    case SYS_COL_THREADS:
      return std::to_wstring(m_info.threads);
    case SYS_COL_MEMORY:
      return NorvFormatString(Text(IDS_SYSTEM_MEMORY_KB).c_str(),
                              std::to_wstring(m_info.rssKb).c_str());
    default:
      return {};
  }
}

void CSystemProcess::GetTreeViewInfo(treeListViewInfo*& info, UINT mask) {
  if (info == nullptr) return;
  if (mask & NORV_TLVI_TEXT) info->strText = ColumnText(0);
  SetImages(info, mask, SYS_IMAGE_PROCESS);
}

BOOL CSystemProcess::GetListViewInfo(treeListViewInfo*& info, UINT mask, int column) {
  if (info == nullptr || column < 0 || column > static_cast<int>(SYS_COL_MEMORY)) return FALSE;
  if (mask & NORV_TLVI_TEXT) info->strText = ColumnText(column);
  SetImages(info, mask, SYS_IMAGE_PROCESS);
  // A zombie is shown in grey: it holds nothing but its exit status.
  if ((mask & NORV_TLVI_COLORS) && m_info.state == 'Z') info->crText = 0x00808080;
  return TRUE;
}

int CSystemProcess::Compare(CNorvTreeListItem* other, int column, BOOL ascending) {
  auto* o = dynamic_cast<CSystemProcess*>(other);
  if (o == nullptr) return CNorvTreeListItem::Compare(other, column, ascending);
  int r = 0;
  switch (column) {
    case SYS_COL_PID:
      break;  // the tie-break below
    case SYS_COL_THREADS:
      r = Order(m_info.threads, o->m_info.threads);
      break;
    case SYS_COL_MEMORY:
      r = Order(m_info.rssKb, o->m_info.rssKb);
      break;
    default:
      r = CNorvTreeListItem::Compare(other, column, TRUE);
      break;
  }
  if (r == 0) r = Order(m_info.pid, o->m_info.pid);
  return ascending ? r : -r;
}

// ===== CSystemMount ==========================================================

NORV_IMPLEMENT_SERIAL(CSystemMount, CSystemItem, 1)

CSystemMount::~CSystemMount() {
  if (m_registered) SystemMonitor::Instance().RemoveLiveMount(m_info.id);
}

BOOL CSystemMount::Initialize(CNorvTreeListItem* parent, const NorvString& id) {
  int mountId = 0;
  if (m_registered || !ParseId(id, 0, &mountId)) return FALSE;
  if ((m_info.id != mountId || m_info.mountPoint.empty()) &&
      !SystemMonitor::Instance().FindMount(mountId, &m_info))
    return FALSE;
  SetParent(parent);
  m_strId = id;
  SetItemListMask(NORV_ITEMLIST_LIST);
  SystemMonitor::Instance().AddLiveMount(mountId);
  m_registered = true;
  return TRUE;
}

BOOL CSystemMount::Refresh() {
  sysplugin::MountInfo now;
  if (SystemMonitor::Instance().FindMount(m_info.id, &now)) m_info = now;
  ClrFlags(NORV_ITEM_INVALID);
  return TRUE;
}

BOOL CSystemMount::HasTreeItems() { return FALSE; }

NorvString CSystemMount::ColumnText(int column) const {
  switch (column) {
    case 0:
    case SYS_COL_MOUNTPOINT:
      return plat::FromUtf8(m_info.mountPoint);
    case SYS_COL_DEVICE:
      return plat::FromUtf8(m_info.device);
    case SYS_COL_TYPE:
      return plat::FromUtf8(m_info.type);
    case SYS_COL_OPTIONS:
      return plat::FromUtf8(m_info.options);
    default:
      return {};
  }
}

void CSystemMount::GetTreeViewInfo(treeListViewInfo*& info, UINT mask) {
  if (info == nullptr) return;
  if (mask & NORV_TLVI_TEXT) info->strText = ColumnText(0);
  SetImages(info, mask, SYS_IMAGE_MOUNT);
}

BOOL CSystemMount::GetListViewInfo(treeListViewInfo*& info, UINT mask, int column) {
  if (info == nullptr || column < 0 || column > static_cast<int>(SYS_COL_OPTIONS)) return FALSE;
  if (mask & NORV_TLVI_TEXT) info->strText = ColumnText(column);
  SetImages(info, mask, SYS_IMAGE_MOUNT);
  return TRUE;
}

int CSystemMount::Compare(CNorvTreeListItem* other, int column, BOOL ascending) {
  auto* o = dynamic_cast<CSystemMount*>(other);
  if (o == nullptr) return CNorvTreeListItem::Compare(other, column, ascending);
  int r = CNorvTreeListItem::Compare(other, column, TRUE);
  if (r == 0) r = Order(m_info.id, o->m_info.id);
  return ascending ? r : -r;
}
