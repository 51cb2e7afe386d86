// Folders and files as explorer objects.
#include "FilesItems.h"

#include <QClipboard>
#include <QCollator>
#include <QDateTime>
#include <QDesktopServices>
#include <QLocale>
#include <QUrl>
#include <algorithm>
#include <cerrno>
#include <cstring>
#include <vector>

#include "FilesProperties.h"
#include "FilesStrings.h"
#include "norv/NorvClipboard.h"
#include "norv/NorvMenu.h"
#include "norv/NorvMessageBox.h"
#include "norv/Trace.h"
#include "platform/resources.h"
#include "platform/text.h"

NORV_IMPLEMENT_DYNAMIC(CFilesEntry, CNorvTreeListItem)
NORV_IMPLEMENT_SERIAL(CFilesFolder, CFilesEntry, 1)
NORV_IMPLEMENT_SERIAL(CFilesFile, CFilesEntry, 1)

namespace {

NorvString Text(UINT id) { return plat::LoadString(id, gFilesPlugin.resourceModule); }

NorvString Format(UINT id, const NorvString& a, const NorvString& b = {}) {
  return plat::FormatW(Text(id).c_str(), a.c_str(), b.c_str());
}

void FilesTrace(int level, const NorvString& text) {
  NORV_PLUGIN_TRACE(gFilesPlugin.pluginId, nullptr, level, text);
}

// The program's locale ("enu", "deu") as a Qt locale, for numbers, sizes
// and name order.
QLocale FilesLocale() {
  const NorvString locale = CNorvTreeListItem::GetLocale();
  if (locale.size() >= 2) {
    const QLocale l(QString::fromStdWString(locale.substr(0, 2)).toLower());
    if (l.language() != QLocale::C) return l;
  }
  return QLocale::system();
}

const QCollator& NameCollator() {
  static const QCollator collator = [] {
    QCollator c(FilesLocale());
    c.setNumericMode(true);  // "file 9" before "file 10"
    c.setCaseSensitivity(Qt::CaseInsensitive);
    return c;
  }();
  return collator;
}

int CompareNames(const NorvString& a, const NorvString& b) {
  const int r = NameCollator().compare(QString::fromStdWString(a), QString::fromStdWString(b));
  if (r != 0) return r < 0 ? -1 : 1;
  return a < b ? -1 : (b < a ? 1 : 0);  // a fixed order for names equal but for case
}

template <typename T>
int Order(T a, T b) {
  return a < b ? -1 : (b < a ? 1 : 0);
}

CFilesEntry* AsEntry(CNorvTreeListItem* item) { return dynamic_cast<CFilesEntry*>(item); }

// Shows an error to the user and writes it to the trace.
void Report(UINT id, const NorvString& name, const std::string& error) {
  const NorvString text = Format(id, name, FilesFromUtf8(error));
  FilesTrace(1, text);
  NorvAppMessageBox(text, MB_OK | MB_ICONEXCLAMATION);
}

void Dispose(CNorvTLItemList*& list) {
  if (list == nullptr) return;
  list->ClearList();
  delete list;
  list = nullptr;
}

std::vector<std::string> PathsOf(const CNorvTLItemList& list) {
  std::vector<std::string> paths;
  for (CNorvTreeListItem* item : list)
    if (CFilesEntry* entry = AsEntry(item)) paths.push_back(entry->GetPathUtf8());
  return paths;
}

}  // namespace

std::string FilesToUtf8(const NorvString& text) { return plat::ToUtf8(text); }
NorvString FilesFromUtf8(const std::string& text) { return plat::FromUtf8(text); }

// ===========================================================================
// CFilesEntry
// ===========================================================================
std::string CFilesEntry::GetPathUtf8() const { return FilesToUtf8(m_strId); }

BOOL CFilesEntry::SetPath(const NorvString& path) {
  const std::string normal = files::Normalize(FilesToUtf8(path));
  if (normal.empty()) return FALSE;
  m_strId = FilesFromUtf8(normal);
  m_infoRead = false;
  return TRUE;
}

const files::EntryInfo& CFilesEntry::GetInfo() {
  if (!m_infoRead) {
    m_info = files::Stat(GetPathUtf8());
    m_infoRead = true;
  }
  return m_info;
}

std::string CFilesEntry::GetFolderUtf8() const {
  return IsFolder() ? GetPathUtf8() : files::DirName(GetPathUtf8());
}

BOOL CFilesEntry::IsPluginRoot() const {
  return GetParent() == nullptr || dynamic_cast<const CFilesEntry*>(GetParent()) == nullptr
             ? TRUE
             : FALSE;
}

BOOL CFilesEntry::Initialize(CNorvTreeListItem* parent, const NorvString& id) {
  SetParent(parent);
  return SetPath(id);
}

BOOL CFilesEntry::Refresh() {
  m_infoRead = false;
  ClrFlags(NORV_ITEM_INVALID);
  return GetInfo().exists ? TRUE : FALSE;
}

void CFilesEntry::Serialize(CNorvArchive& ar) {
  CNorvTreeListItem::Serialize(ar);
  if (ar.IsStoring()) {
    ar << m_strId;
    return;
  }
  NorvString path;
  ar >> path;
  if (!SetPath(path))
    throw CNorvArchiveException(CNorvArchiveException::genericException, "not an absolute path");
}

NorvString CFilesEntry::GetClipboardFormat() { return FILES_CLIPBOARD_FORMAT; }

// Any selection may be dragged (the list view's value 2).
CanDragFlag CFilesEntry::CanDrag() { return static_cast<CanDragFlag>(2); }

BOOL CFilesEntry::CanEdit() { return IsPluginRoot() ? FALSE : TRUE; }

BOOL CFilesEntry::EndEdit(const NorvString& newText) {
  const std::string name = FilesToUtf8(newText);
  const std::string path = GetPathUtf8();
  if (name == files::BaseName(path)) return TRUE;
  if (!files::IsValidName(name)) {
    const NorvString text = Format(IDS_FILES_ERR_NAME, newText);
    FilesTrace(2, text);
    NorvAppMessageBox(text, MB_OK | MB_ICONEXCLAMATION);
    return FALSE;
  }
  const std::string target = files::Join(files::DirName(path), name);
  std::string error;
  if (!files::RenameNoReplace(path, target, error)) {
    Report(IDS_FILES_ERR_RENAME, ColumnText(FILES_COL_NAME), error);
    return FALSE;
  }
  // The object under the old path is gone: whoever shows it reads the
  // folder again, and a renamed folder's children have new paths.
  ClassObjectFlag(GetClassName(), m_strId, NORV_ITEM_REMOVED | NORV_ITEM_DELETED,
                  L"CFilesFolder", FilesFromUtf8(files::DirName(path)));
  SetPath(FilesFromUtf8(target));
  if (IsFolder()) SetListInvalid();
  InvalidateParentList();
  return TRUE;
}

void CFilesEntry::InvalidateParentList() {
  const NorvString folder = FilesFromUtf8(files::DirName(GetPathUtf8()));
  ClassObjectInvalidateList(L"CFilesFolder", folder, FALSE);
  if (CFilesEntry* parent = AsEntry(GetParent())) parent->SetListInvalid();
}

NorvString CFilesEntry::ColumnText(int column) {
  const std::string path = GetPathUtf8();
  switch (column) {
    case FILES_COL_NAME:
      return FilesFromUtf8(files::BaseName(path));
    case FILES_COL_SIZE:
      if (IsFolder()) return {};
      return FilesLocale()
          .formattedDataSize(static_cast<qint64>(GetInfo().size), 1,
                             QLocale::DataSizeTraditionalFormat)
          .toStdWString();
    case FILES_COL_TYPE: {
      if (IsFolder()) return Text(IDS_FILES_TYPE_FOLDER);
      const std::string name = files::BaseName(path);
      const std::size_t dot = name.rfind('.');
      if (dot == std::string::npos || dot == 0 || dot + 1 == name.size())
        return Text(IDS_FILES_TYPE_FILE);
      const NorvString ext =
          QString::fromStdWString(FilesFromUtf8(name.substr(dot + 1))).toUpper().toStdWString();
      return Format(IDS_FILES_TYPE_EXT, ext);
    }
    case FILES_COL_MODIFIED: {
      if (!GetInfo().exists) return {};
      const QDateTime time = QDateTime::fromMSecsSinceEpoch(GetInfo().mtimeNs / 1000000);
      return time.toString(QStringLiteral("yyyy-MM-dd HH:mm")).toStdWString();
    }
    default:
      return {};
  }
}

void CFilesEntry::GetTreeViewInfo(treeListViewInfo*& info, UINT mask) {
  if (info == nullptr) return;
  if (mask & NORV_TLVI_TEXT) {
    // The root of the file system has no name of its own.
    info->strText = ColumnText(FILES_COL_NAME);
  }
  if (mask & NORV_TLVI_IMAGE) {
    info->nImage = IsFolder() ? FILES_IMAGE_FOLDER : FILES_IMAGE_FILE;
    info->nSelectedImage = IsFolder() ? FILES_IMAGE_FOLDER_OPEN : FILES_IMAGE_FILE;
  }
}

BOOL CFilesEntry::GetListViewInfo(treeListViewInfo*& info, UINT mask, int column) {
  if (info == nullptr || column < 0 || column > static_cast<int>(FILES_COL_MODIFIED)) return FALSE;
  if (mask & NORV_TLVI_TEXT) info->strText = ColumnText(column);
  if (mask & NORV_TLVI_IMAGE) info->nImage = IsFolder() ? FILES_IMAGE_FOLDER : FILES_IMAGE_FILE;
  return TRUE;
}

int CFilesEntry::Compare(CNorvTreeListItem* other, int column, BOOL ascending) {
  CFilesEntry* o = AsEntry(other);
  if (o == nullptr) return CNorvTreeListItem::Compare(other, column, ascending);
  // Folders stay above files in either direction.
  if (IsFolder() != o->IsFolder()) return IsFolder() ? -1 : 1;
  const NorvString name = ColumnText(FILES_COL_NAME);
  const NorvString otherName = o->ColumnText(FILES_COL_NAME);
  int r = 0;
  switch (column) {
    case FILES_COL_SIZE:
      r = Order(GetInfo().size, o->GetInfo().size);
      break;
    case FILES_COL_MODIFIED:
      r = Order(GetInfo().mtimeNs, o->GetInfo().mtimeNs);
      break;
    case FILES_COL_TYPE:
      r = CompareNames(ColumnText(FILES_COL_TYPE), o->ColumnText(FILES_COL_TYPE));
      break;
    default:
      break;
  }
  if (r == 0) r = CompareNames(name, otherName);
  return ascending ? r : -r;
}

int CFilesEntry::Columns(NorvStringList*& titles, NorvUIntArray*& widths, NorvUIntArray*& ids,
                         NorvUIntArray*& formats) {
  // The arrays outlive the call, as the list view expects; the titles are
  // loaded again each time in case the resources changed.
  static NorvStringList sTitles;
  static NorvUIntArray sWidths{240, 100, 160, 140};
  static NorvUIntArray sIds{FILES_COL_NAME, FILES_COL_SIZE, FILES_COL_TYPE, FILES_COL_MODIFIED};
  static NorvUIntArray sFormats{0, 1, 0, 0};  // sizes right-aligned
  sTitles = {Text(IDS_FILES_COL_NAME), Text(IDS_FILES_COL_SIZE), Text(IDS_FILES_COL_TYPE),
             Text(IDS_FILES_COL_MODIFIED)};
  titles = &sTitles;
  widths = &sWidths;
  ids = &sIds;
  formats = &sFormats;
  return FILES_COL_NAME;
}

namespace {
void AddEntry(CNorvMenu* menu, UINT command, UINT text) { menu->AppendItem(command, Text(text)); }
}  // namespace

CNorvMenu* CFilesEntry::TreeMenuInfo(CNorvMenu* menu) {
  if (menu == nullptr) return nullptr;
  if (IsFolder()) {
    AddEntry(menu, ID_FILES_NEW, IDS_FILES_MENU_NEW_FOLDER);
    AddEntry(menu, ID_FILES_PASTE, IDS_FILES_MENU_PASTE);
    menu->AppendSeparator();
  }
  if (!IsPluginRoot()) {
    AddEntry(menu, ID_FILES_RENAME, IDS_FILES_MENU_RENAME);
    AddEntry(menu, ID_FILES_DELETE, IDS_FILES_MENU_DELETE);
    menu->AppendSeparator();
  }
  AddEntry(menu, ID_FILES_REFRESH, IDS_FILES_MENU_REFRESH);
  AddEntry(menu, ID_FILES_COPY_PATH, IDS_FILES_MENU_COPY_PATH);
  menu->AppendSeparator();
  AddEntry(menu, ID_FILES_PROPERTIES, IDS_FILES_MENU_PROPERTIES);
  return menu;
}

CNorvMenu* CFilesEntry::ListMenuInfo(CNorvMenu* menu, int onRow) {
  if (menu == nullptr) return nullptr;
  if (!onRow) return TreeMenuInfo(menu);  // empty space: the folder shown
  if (!IsFolder()) {
    AddEntry(menu, ID_FILES_OPEN, IDS_FILES_MENU_OPEN);
    menu->AppendSeparator();
  }
  AddEntry(menu, ID_FILES_CUT, IDS_FILES_MENU_CUT);
  AddEntry(menu, ID_FILES_COPY, IDS_FILES_MENU_COPY);
  if (IsFolder()) AddEntry(menu, ID_FILES_PASTE, IDS_FILES_MENU_PASTE);
  menu->AppendSeparator();
  AddEntry(menu, ID_FILES_DELETE, IDS_FILES_MENU_DELETE);
  AddEntry(menu, ID_FILES_RENAME, IDS_FILES_MENU_RENAME);
  menu->AppendSeparator();
  AddEntry(menu, ID_FILES_COPY_PATH, IDS_FILES_MENU_COPY_PATH);
  AddEntry(menu, ID_FILES_PROPERTIES, IDS_FILES_MENU_PROPERTIES);
  return menu;
}

BOOL CFilesEntry::InitMenuInfo(UINT commandId, int& enabled, int& checked, int) {
  checked = 0;
  switch (commandId) {
    case ID_FILES_REFRESH:
    case ID_FILES_COPY:
    case ID_FILES_COPY_PATH:
    case ID_FILES_PROPERTIES:
      enabled = 1;
      return TRUE;
    case ID_FILES_DELETE:
    case ID_NORV_ITEMCMD_DELETE:
    case ID_FILES_CUT:
    case ID_FILES_RENAME:
      enabled = IsPluginRoot() ? 0 : 1;
      return TRUE;
    case ID_FILES_NEW:
      enabled = IsFolder() ? 1 : 0;
      return TRUE;
    case ID_FILES_PASTE:
      enabled = IsFolder() && (CheckItemsOnClipboard(CNorvClipBoardItem::copy,
                                                     FILES_CLIPBOARD_FORMAT) ||
                               CheckItemsOnClipboard(CNorvClipBoardItem::cut,
                                                     FILES_CLIPBOARD_FORMAT) ||
                               CheckFilesOnClipboard())
                    ? 1
                    : 0;
      return TRUE;
    case ID_FILES_OPEN:
    case ID_NORV_ITEMCMD_DBLCLK:
      if (IsFolder()) return FALSE;  // the views open folders in the tree
      enabled = 1;
      return TRUE;
    default:
      return FALSE;
  }
}

CNorvTLItemList CFilesEntry::Targets(CNorvTLItemList* list) {
  CNorvTLItemList targets;
  if (list != nullptr)
    for (CNorvTreeListItem* item : *list)
      if (AsEntry(item) != nullptr) targets.AddTail(item);
  if (targets.IsEmpty()) targets.AddTail(this);
  return targets;
}

CmdResult CFilesEntry::DeleteItems(CNorvTLItemList* list) {
  CNorvTLItemList targets = Targets(list);
  std::vector<int> results;
  bool any = false;
  for (CNorvTreeListItem* item : targets) {
    CFilesEntry* entry = AsEntry(item);
    std::string error;
    // The plugin's root stays: deleting the home folder from here would be
    // one click too easy.
    const bool ok = !entry->IsPluginRoot() && files::DeleteEntry(entry->GetPathUtf8(), error);
    results.push_back(ok ? 1 : 0);
    if (ok) {
      any = true;
      entry->InvalidateParentList();
    } else if (!error.empty()) {
      Report(IDS_FILES_ERR_DELETE, entry->ColumnText(FILES_COL_NAME), error);
    }
  }
  const int n = static_cast<int>(results.size());
  targets.Deleted(results.data(), n, TRUE);
  targets.Removed(results.data(), n, TRUE);
  targets.RemoveAll();
  return any ? CMD_HANDLED : CMD_NOT_HANDLED;
}

void CFilesEntry::CopyPaths(CNorvTLItemList* list) {
  CNorvTLItemList targets = Targets(list);
  QString text;
  for (CNorvTreeListItem* item : targets) {
    if (!text.isEmpty()) text += QLatin1Char('\n');
    text += QString::fromStdWString(AsEntry(item)->GetPath());
  }
  targets.RemoveAll();
  if (QClipboard* clipboard = NorvGetClipboard()) clipboard->setText(text);
}

CmdResult CFilesEntry::Command(CNorvTLItemList* list, UINT commandId, DWORD, void*) {
  switch (commandId) {
    case ID_FILES_DELETE:
    case ID_NORV_ITEMCMD_DELETE:
      return DeleteItems(list);
    case ID_FILES_COPY_PATH:
      CopyPaths(list);
      return CMD_NOT_HANDLED;  // nothing on screen changes
    case ID_FILES_REFRESH:
      Refresh();
      SetListInvalid();
      return CMD_HANDLED;
    case ID_FILES_PROPERTIES:
      if (!FilesShowProperties(this, nullptr)) return CMD_NOT_HANDLED;
      Refresh();
      return CMD_HANDLED;
    default:
      return CMD_NOT_HANDLED;
  }
}

int CFilesEntry::GetImageListOffset() { return gFilesPlugin.imageListOffset; }
NorvString CFilesEntry::GetPluginName() { return gFilesPlugin.name; }
HMODULE CFilesEntry::GetResourceInstanceHandle() { return gFilesPlugin.resourceModule; }
const wchar_t* CFilesEntry::GetHelpFile() { return gFilesPlugin.helpFile.c_str(); }
const wchar_t* CFilesEntry::GetMessageHelpFile() { return gFilesPlugin.messageHelpFile.c_str(); }
NorvString CFilesEntry::GetPluginCaption() { return Text(IDS_FILES_CAPTION); }

// ===========================================================================
// CFilesFolder
// ===========================================================================
CFilesFolder::CFilesFolder() { SetItemListMask(NORV_ITEMLIST_TREE | NORV_ITEMLIST_LIST); }

GetItemsResult CFilesFolder::GetItems(BOOL treeOnly) {
  const std::string path = GetPathUtf8();
  std::vector<files::FolderEntry> entries;
  int error = 0;
  if (!files::ListFolder(path, entries, error)) {
    // Gone, not a folder, or not ours to read: the views show it as such.
    FilesTrace(2, FilesFromUtf8(path + ": " + std::strerror(error)));
    GetItemList().ClearList();
    SetFlags(NORV_ITEM_ACCESSERROR, TRUE);
    return GETITEMS_FAILED;
  }
  ClrFlags(NORV_ITEM_ACCESSERROR);
  GetItemList().ClearList();
  std::vector<CFilesEntry*> children;
  for (const files::FolderEntry& e : entries) {
    if (e.name[0] == '.') continue;  // hidden, as file managers do by default
    if (treeOnly && !e.info.isDir) continue;
    // A name that is not UTF-8 cannot be turned into an id and back.
    const NorvString wide = FilesFromUtf8(e.name);
    if (FilesToUtf8(wide) != e.name) {
      FilesTrace(2, FilesFromUtf8(files::Join(path, e.name)) + L": name is not UTF-8, not shown");
      continue;
    }
    CFilesEntry* child = e.info.isDir ? static_cast<CFilesEntry*>(new CFilesFolder)
                                      : static_cast<CFilesEntry*>(new CFilesFile);
    child->SetParent(this);
    child->SetPath(FilesFromUtf8(files::Join(path, e.name)));
    child->SetInfo(e.info);
    children.push_back(child);
  }
  std::sort(children.begin(), children.end(), [](CFilesEntry* a, CFilesEntry* b) {
    return a->Compare(b, FILES_COL_NAME, TRUE) < 0;
  });
  for (CFilesEntry* child : children) GetItemList().AddTail(child);
  SetListValid();
  return GETITEMS_OK;
}

int CFilesFolder::ListColumns(NorvStringList*& titles, NorvUIntArray*& widths,
                              NorvUIntArray*& ids, NorvUIntArray*& formats) {
  return Columns(titles, widths, ids, formats);
}

BOOL CFilesFolder::NewFolder(NorvString* created) {
  const std::string folder = GetPathUtf8();
  const std::string name =
      files::FreeName(folder, FilesToUtf8(Text(IDS_FILES_NEW_FOLDER)), true);
  std::string error;
  if (name.empty() || !files::IsValidName(name)) {
    Report(IDS_FILES_ERR_NEW_FOLDER, GetPath(), "no free name");
    return FALSE;
  }
  const std::string path = files::Join(folder, name);
  if (!files::MakeFolder(path, error)) {
    Report(IDS_FILES_ERR_NEW_FOLDER, GetPath(), error);
    return FALSE;
  }
  if (created != nullptr) *created = FilesFromUtf8(path);
  SetListInvalid();
  return TRUE;
}

int CFilesFolder::CopyInto(const std::vector<std::string>& sources, bool move,
                           std::vector<int>* results) {
  const std::string folder = GetPathUtf8();
  int done = 0;
  for (const std::string& source : sources) {
    std::string error;
    bool ok = false;
    const std::string from = files::Normalize(source);
    if (from.empty()) {
      error = source + ": " + std::strerror(EINVAL);
    } else if (move && files::DirName(from) == folder) {
      ok = true;  // already here
    } else if (files::IsSameOrInside(folder, from)) {
      error = from + ": " + std::strerror(EINVAL);  // a folder into itself
    } else {
      const files::EntryInfo info = files::Stat(from);
      const std::string name = files::FreeName(folder, files::BaseName(from), info.isDir);
      if (name.empty()) {
        error = from + ": " + std::strerror(EEXIST);
      } else {
        const std::string to = files::Join(folder, name);
        ok = move ? files::MoveEntry(from, to, error) : files::CopyEntry(from, to, error);
      }
      if (ok && move)
        ClassObjectInvalidateList(L"CFilesFolder", FilesFromUtf8(files::DirName(from)), FALSE);
    }
    if (!ok) Report(move ? IDS_FILES_ERR_MOVE : IDS_FILES_ERR_COPY, FilesFromUtf8(from), error);
    if (results != nullptr) results->push_back(ok ? 1 : 0);
    if (ok) ++done;
  }
  SetListInvalid();
  return done;
}

CmdResult CFilesFolder::PasteFromClipboard() {
  CNorvClipBoardItem::Operation operation = CNorvClipBoardItem::copy;
  NorvString format;
  if (!GetClipBoardFormat(operation, format) || format != FILES_CLIPBOARD_FORMAT) {
    NorvStringList paths;
    if (GetFilesFromClipboard(paths)) return DropFiles(paths);
    return CMD_NOT_HANDLED;
  }
  CNorvTLItemList* pasted = nullptr;
  try {
    GetItemsFromClipboard(pasted, operation, nullptr, format);
  } catch (const CNorvArchiveException& e) {
    FilesTrace(1, NorvString(L"paste: ") + FilesFromUtf8(e.what()));
    return CMD_NOT_HANDLED;
  }
  if (pasted == nullptr) return CMD_NOT_HANDLED;
  const std::vector<std::string> sources = PathsOf(*pasted);
  Dispose(pasted);
  const bool move = operation == CNorvClipBoardItem::cut;
  CopyInto(sources, move, nullptr);
  return move ? CMD_MOVED : CMD_HANDLED;
}

CmdResult CFilesFolder::Command(CNorvTLItemList* list, UINT commandId, DWORD param, void* pParam) {
  switch (commandId) {
    case ID_FILES_NEW:
      return NewFolder(nullptr) ? CMD_HANDLED : CMD_NOT_HANDLED;
    case ID_FILES_PASTE:
      return PasteFromClipboard();
    default:
      return CFilesEntry::Command(list, commandId, param, pParam);
  }
}

CanDropFlag CFilesFolder::CanDrop(const QMimeData* data, DWORD& effect, NorvString& format,
                                  DWORD keyState) {
  if (!CheckItemsOnClipboard(CNorvClipBoardItem::dragdrop, FILES_CLIPBOARD_FORMAT, data))
    return DROP_NONE;
  format = FILES_CLIPBOARD_FORMAT;
  effect = (keyState & FILES_MK_SHIFT) ? 2 : 1;  // move : copy
  return DROP_ITEM;
}

CNorvMenu* CFilesFolder::DropMenuInfo(CNorvMenu* menu, const NorvString&, DWORD) {
  if (menu == nullptr) return nullptr;
  AddEntry(menu, ID_FILES_COPY_HERE, IDS_FILES_MENU_COPY_HERE);
  AddEntry(menu, ID_FILES_MOVE_HERE, IDS_FILES_MENU_MOVE_HERE);
  menu->AppendSeparator();
  AddEntry(menu, ID_NORV_ITEMCMD_CANCEL, IDS_FILES_MENU_CANCEL);
  return menu;
}

CmdResult CFilesFolder::Drop(const NorvString& format, CNorvTLItemList* items,
                             CNorvTLItemList* targets, DWORD keyState, UINT commandId) {
  if (format != FILES_CLIPBOARD_FORMAT || items == nullptr) return CMD_NOT_HANDLED;
  bool move = false;
  switch (commandId) {
    case ID_FILES_COPY_HERE:
      break;
    case ID_FILES_MOVE_HERE:
      move = true;
      break;
    case ID_NORV_ITEMCMD_DEFAULTDROP:
      move = (keyState & FILES_MK_SHIFT) != 0;
      break;
    default:
      return CMD_NOT_HANDLED;
  }
  // Dropped on a folder row: into that folder; anywhere else: here.
  CFilesFolder* destination = this;
  if (targets != nullptr && targets->GetCount() == 1)
    if (auto* folder = dynamic_cast<CFilesFolder*>(targets->GetHead())) destination = folder;
  destination->CopyInto(PathsOf(*items), move, nullptr);
  return move ? CMD_MOVED : CMD_HANDLED;
}

CmdResult CFilesFolder::DropFiles(const NorvStringList& paths) {
  std::vector<std::string> sources;
  for (const NorvString& p : paths) sources.push_back(FilesToUtf8(p));
  return CopyInto(sources, false, nullptr) > 0 ? CMD_HANDLED : CMD_NOT_HANDLED;
}

// ===========================================================================
// CFilesFile
// ===========================================================================
CFilesFile::CFilesFile() { SetItemListMask(NORV_ITEMLIST_LIST); }

CmdResult CFilesFile::Command(CNorvTLItemList* list, UINT commandId, DWORD param, void* pParam) {
  switch (commandId) {
    case ID_FILES_OPEN:
    case ID_NORV_ITEMCMD_DBLCLK:
      return QDesktopServices::openUrl(QUrl::fromLocalFile(QString::fromStdWString(GetPath())))
                 ? CMD_HANDLED
                 : CMD_NOT_HANDLED;
    case ID_FILES_PASTE:
    case ID_FILES_NEW:
      // On a file row: the folder holding it.
      if (auto* folder = dynamic_cast<CFilesFolder*>(GetParent()))
        return folder->Command(list, commandId, param, pParam);
      return CMD_NOT_HANDLED;
    default:
      return CFilesEntry::Command(list, commandId, param, pParam);
  }
}
