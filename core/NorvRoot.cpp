#include "norv/NorvRoot.h"

#include <QCoreApplication>
#include <QCursor>
#include <QGuiApplication>

#include "PluginHandlerMessages.h"
#include "norv/NorvHostStrings.h"
#include "norv/NorvRegistryKey.h"
#include "norv/PluginHandler.h"
#include "norv/Trace.h"

// ===== CNorvPluginBase =====================================================

NORV_IMPLEMENT_DYNAMIC(CNorvPluginBase, CNorvTreeListItem)

HMODULE CNorvPluginBase::s_hHostResources = nullptr;

int CNorvPluginBase::GetImageListOffset() { return 0; }

NorvString CNorvPluginBase::GetPluginName() { return {}; }

HMODULE CNorvPluginBase::GetResourceInstanceHandle() { return s_hHostResources; }

const wchar_t* CNorvPluginBase::GetMessageHelpFile() { return L""; }

const wchar_t* CNorvPluginBase::GetHelpFile() { return L""; }

NorvString CNorvPluginBase::GetPluginCaption() {
  return norvhost::StringText(IDS_NORV_CAPTION, s_hHostResources);
}

void CNorvPluginBase::SetHostResourceHandle(HMODULE module) { s_hHostResources = module; }

HMODULE CNorvPluginBase::GetHostResourceHandle() { return s_hHostResources; }

// ===== CNorvRoot ===========================================================

NORV_IMPLEMENT_SERIAL(CNorvRoot, CNorvPluginBase, 1)

namespace {

// Shows the wait cursor for a scope when there is a GUI to show it in.
class WaitCursor {
 public:
  WaitCursor() : active_(qobject_cast<QGuiApplication*>(QCoreApplication::instance()) != nullptr) {
    if (active_) QGuiApplication::setOverrideCursor(QCursor(Qt::WaitCursor));
  }
  ~WaitCursor() {
    if (active_) QGuiApplication::restoreOverrideCursor();
  }
  WaitCursor(const WaitCursor&) = delete;
  WaitCursor& operator=(const WaitCursor&) = delete;

 private:
  bool active_;
};

}  // namespace

CNorvRoot::CNorvRoot() {
  m_strId.clear();
  const HMODULE host = GetHostResourceHandle();
  m_strName = norvhost::StringText(IDS_NORV_ROOT_NAME, host);
  m_strTitle = norvhost::StringText(IDS_NORV_CAPTION, host);
  CNorvPrivateRegistryKey plugins(plat::HKEY_LOCAL_MACHINE, L"Plugins", plat::KEY_READ);
  plugins.GetStringValue(L"Name", m_strName);
  plugins.GetStringValue(L"Title", m_strTitle);
  SetStatic(TRUE);

  m_columnTitles = {norvhost::StringText(IDS_NORV_COLUMN_NAME, host),
                    norvhost::StringText(IDS_NORV_COLUMN_DESCRIPTION, host)};
  m_columnWidths = {kColumnWidth, kColumnWidth};
  m_columnIds = {IDS_NORV_COLUMN_NAME, IDS_NORV_COLUMN_DESCRIPTION};
  m_columnFormats = {0, 0};
}

NorvString CNorvRoot::Id() const { return m_strId; }

BOOL CNorvRoot::Initialize(CNorvTreeListItem* parent, const NorvString& /*id*/) {
  // The framework root has no id of its own, whatever it is created with.
  if (parent != nullptr) SetParent(parent);
  return TRUE;
}

BOOL CNorvRoot::Refresh() {
  ClrFlags(NORV_ITEM_INVALID);
  return TRUE;
}

UINT CNorvRoot::GetContextHelpId() { return kContextHelpId; }

UINT CNorvRoot::GetIcon() { return kIconId; }

NorvString CNorvRoot::GetPluginCaption() { return m_strTitle; }

void CNorvRoot::GetTreeViewInfo(treeListViewInfo*& info, UINT /*mask*/) {
  if (info == nullptr) return;
  info->nImage = 0;
  info->nSelectedImage = 0;
  info->strText = m_strName;
}

BOOL CNorvRoot::GetListViewInfo(treeListViewInfo*& info, UINT /*mask*/, int column) {
  if (column != 0) return FALSE;
  if (info == nullptr) return FALSE;
  info->nImage = 0;
  info->nSelectedImage = 0;
  info->strText = m_strName;
  return TRUE;
}

int CNorvRoot::ListColumns(NorvStringList*& titles, NorvUIntArray*& widths, NorvUIntArray*& ids,
                           NorvUIntArray*& formats) {
  titles = &m_columnTitles;
  widths = &m_columnWidths;
  ids = &m_columnIds;
  formats = &m_columnFormats;
  return -1;
}

GetItemsResult CNorvRoot::GetItems(BOOL /*treeOnly*/) {
  WaitCursor wait;
  if (!IsListValid() && !m_bExpanded) DoExpandRoot();
  ClrFlags(NORV_ITEM_LISTINVALID);
  return GETITEMS_OK;
}

void CNorvRoot::DoExpandRoot() {
  for (const auto& plugin : CPluginHandler::pluginList) {
    CNorvTreeListItem* child = nullptr;
    if (gNorvBaseTraceLevel >= 3) {
      child = Trace_CreateObject(__FILE__, __LINE__, "CNorvRoot::DoExpandRoot", this,
                                 plugin.defaultRootClass, plugin.defaultRootId);
    } else {
      child = CreateObject(this, plugin.defaultRootClass, plugin.defaultRootId);
    }
    if (child == nullptr) continue;
    if (child->GetParent() == nullptr) child->SetParent(this);
    GetItemList().AddTail(child);
  }
  m_bExpanded = TRUE;
}
