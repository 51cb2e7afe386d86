// Items and files through QClipboard and QMimeData.
#include "norv/NorvClipboard.h"

#include <QByteArray>
#include <QClipboard>
#include <QCoreApplication>
#include <QDrag>
#include <QGuiApplication>
#include <QMimeData>
#include <QPixmap>
#include <QThread>
#include <QUrl>
#include <exception>
#include <memory>
#include <unordered_set>
#include <vector>

#include "norv/NorvArchive.h"
#include "norv/NorvTlgItem.h"
#include "norv/Trace.h"

namespace {

const char kClipFormatMime[] = "application/x-norv-clipformat";
const char kParentInfoMime[] = "application/x-norv-parentinfo";
const char kDragImageMime[] = "application/x-norv-dragimage";
const char kItemsMimePrefix[] = "application/x-norv-items;format=";
const char kUriListMime[] = "text/uri-list";

QString Q(const NorvString& s) { return QString::fromStdWString(s); }

bool ValidOperation(int operation) {
  return operation == CNorvClipBoardItem::cut || operation == CNorvClipBoardItem::copy ||
         operation == CNorvClipBoardItem::dragdrop;
}

QByteArray ToBytes(const CNorvArchive& ar) {
  const std::vector<BYTE>& d = ar.GetData();
  return QByteArray(reinterpret_cast<const char*>(d.data()), static_cast<qsizetype>(d.size()));
}

// The data to read: the given object, or what the clipboard holds.
const QMimeData* Source(const QMimeData* data) {
  if (data != nullptr) return data;
  QClipboard* clipboard = NorvGetClipboard();
  return clipboard != nullptr ? clipboard->mimeData(QClipboard::Clipboard) : nullptr;
}

// The bytes of one format; empty when it is absent or has no data.
QByteArray Bytes(const QMimeData* data, const QString& mime) {
  if (data == nullptr || !data->hasFormat(mime)) return {};
  return data->data(mime);
}

void TraceFailure(const NorvString& what, const std::exception& e) {
  NORV_BASE_TRACE(1, 0,
                  NorvFormatString(L"%s: %S", what.c_str(), e.what()));
}

// Keeps only what may travel (see CreateItemsMimeData).
void FilterItems(CNorvTLItemList* list, BOOL drag) {
  for (POSITION pos = list->GetHeadPosition(); pos != nullptr;) {
    const POSITION here = pos;
    CNorvTreeListItem* item = list->GetNext(pos);
    bool keep = false;
    if (item != nullptr) {
      CNorvItemCallScope scope(item);
      keep = drag ? item->CanDrag() != DRAG_NONE : item->CanCopy() != FALSE;
    }
    if (!keep) list->RemoveAt(here);
  }
}

// Destroys what a failed read of the items left behind: the list, the
// items in it and the carrier. Other objects the archive made belong to
// these (children of items) or were never linked anywhere.
void DisposeLoaded(const CNorvArchive& ar) {
  CNorvClipBoardItem* carrier = nullptr;
  CNorvTLItemList* list = nullptr;
  for (CNorvObject* ob : ar.GetLoadedObjects()) {
    if (carrier == nullptr && ob->IsKindOf(NORV_RUNTIME_CLASS(CNorvClipBoardItem)))
      carrier = static_cast<CNorvClipBoardItem*>(ob);
    else if (list == nullptr && ob->IsKindOf(NORV_RUNTIME_CLASS(CNorvTLItemList)))
      list = static_cast<CNorvTLItemList*>(ob);
  }
  std::unordered_set<const CNorvObject*> inList;
  if (list != nullptr) {
    for (CNorvTreeListItem* item : *list) inList.insert(item);
    list->ClearList();
  }
  // An item whose own Serialize failed is made but not yet in the list;
  // it has no parent, so nothing else would free it. Only the last object
  // made can be in that state.
  if (!ar.GetLoadedObjects().empty()) {
    CNorvObject* last = ar.GetLoadedObjects().back();
    if (last != carrier && last != list && inList.count(last) == 0 &&
        last->IsKindOf(NORV_RUNTIME_CLASS(CNorvTreeListItem)) &&
        static_cast<CNorvTreeListItem*>(last)->GetParent() == nullptr)
      delete last;
  }
  delete list;
  delete carrier;
}

}  // namespace

QString NorvClipboardMimeType(const NorvString& formatName) {
  if (formatName == NORV_CLIPFORMAT_NAME) return QString::fromLatin1(kClipFormatMime);
  if (formatName == NORV_PARENTINFO_NAME) return QString::fromLatin1(kParentInfoMime);
  if (formatName == NORV_DRAGIMAGE_NAME) return QString::fromLatin1(kDragImageMime);
  // Everything outside the unreserved characters is escaped, so any text
  // (";", "=", spaces, non-ASCII) survives as a MIME parameter and comes
  // back unchanged.
  return QString::fromLatin1(kItemsMimePrefix) +
         QString::fromLatin1(QUrl::toPercentEncoding(Q(formatName)));
}

NorvString NorvClipboardFormatName(const QString& mimeType) {
  if (mimeType == QLatin1String(kClipFormatMime)) return NORV_CLIPFORMAT_NAME;
  if (mimeType == QLatin1String(kParentInfoMime)) return NORV_PARENTINFO_NAME;
  if (mimeType == QLatin1String(kDragImageMime)) return NORV_DRAGIMAGE_NAME;
  const QLatin1String prefix(kItemsMimePrefix);
  if (!mimeType.startsWith(prefix)) return {};
  const QByteArray encoded = mimeType.mid(prefix.size()).toLatin1();
  return QString::fromUtf8(QByteArray::fromPercentEncoding(encoded)).toStdWString();
}

NorvString NorvItemFormatName(int operation, const NorvString& itemFormat) {
  if (!ValidOperation(operation)) return {};
  return CNorvClipBoardItem::OperationPrefix(operation) + itemFormat;
}

QClipboard* NorvGetClipboard() {
  auto* app = qobject_cast<QGuiApplication*>(QCoreApplication::instance());
  if (app == nullptr || QThread::currentThread() != app->thread()) return nullptr;
  return QGuiApplication::clipboard();
}

QMimeData* CreateItemsMimeData(CNorvTLItemList* list, const CDragImage* dragImage,
                               const QPoint& hotSpot, CNorvClipBoardItem::Operation operation,
                               const NorvString& parentClass, const NorvString& parentId,
                               BOOL drag, const NorvString& itemFormat) {
  if (list == nullptr || !ValidOperation(operation)) return nullptr;
  FilterItems(list, drag);
  if (list->IsEmpty()) return nullptr;

  auto data = std::make_unique<QMimeData>();
  try {
    CNorvArchive items(CNorvArchive::store);
    CNorvClipBoardItem carrier(list);
    items.WriteObject(&carrier);
    data->setData(NorvClipboardMimeType(NorvItemFormatName(operation, itemFormat)),
                  ToBytes(items));

    CNorvArchive parent(CNorvArchive::store);
    parent << parentClass << parentId;
    data->setData(QString::fromLatin1(kParentInfoMime), ToBytes(parent));

    CNorvArchive format(CNorvArchive::store);
    format << itemFormat << static_cast<std::int32_t>(operation);
    data->setData(QString::fromLatin1(kClipFormatMime), ToBytes(format));

    if (drag && dragImage != nullptr) {
      CNorvArchive image(CNorvArchive::store);
      image << static_cast<std::int32_t>(hotSpot.x()) << static_cast<std::int32_t>(hotSpot.y());
      dragImage->Write(image);
      data->setData(QString::fromLatin1(kDragImageMime), ToBytes(image));
    }
  } catch (const std::exception& e) {
    // An item's own Serialize failed: offer nothing rather than half.
    TraceFailure(L"CopyItemsToClipboard", e);
    return nullptr;
  }
  return data.release();
}

BOOL CopyItemsToClipboard(CNorvTLItemList* list, const CDragImage* dragImage,
                          const QPoint& hotSpot, CNorvClipBoardItem::Operation operation,
                          const NorvString& parentClass, const NorvString& parentId, BOOL drag,
                          const NorvString& itemFormat, QObject* dropSource,
                          QMimeData** dragData, Qt::DropAction* dropAction) {
  if (dragData != nullptr) *dragData = nullptr;
  if (dropAction != nullptr) *dropAction = Qt::IgnoreAction;
  if (list == nullptr) return FALSE;
  QClipboard* clipboard = nullptr;
  if (!drag) {
    clipboard = NorvGetClipboard();
    if (clipboard == nullptr) return FALSE;
  } else if (dropSource == nullptr && dragData == nullptr) {
    return FALSE;  // nobody would run the drag
  }
  QMimeData* data = CreateItemsMimeData(list, dragImage, hotSpot, operation, parentClass,
                                        parentId, drag, itemFormat);
  if (data == nullptr) return FALSE;

  if (!drag) {
    clipboard->setMimeData(data, QClipboard::Clipboard);  // the clipboard owns it now
    return TRUE;
  }
  if (dropSource == nullptr) {
    *dragData = data;
    return TRUE;
  }
  auto* qdrag = new QDrag(dropSource);  // owns the data; deleted with the drag
  qdrag->setMimeData(data);
  if (dragImage != nullptr && dragImage->GetRectCount() == 0 && !dragImage->GetImage().isNull()) {
    qdrag->setPixmap(QPixmap::fromImage(dragImage->GetImage()));
    qdrag->setHotSpot(hotSpot);
  }
  const Qt::DropAction result =
      qdrag->exec(Qt::CopyAction | Qt::MoveAction | Qt::LinkAction, Qt::CopyAction);
  qdrag->deleteLater();
  if (dropAction != nullptr) *dropAction = result;
  return TRUE;
}

BOOL GetItemsFromClipboard(CNorvTLItemList*& list, CNorvClipBoardItem::Operation operation,
                           const QMimeData* data, const NorvString& itemFormat) {
  if (!ValidOperation(operation)) return FALSE;
  QClipboard* clipboard = data == nullptr ? NorvGetClipboard() : nullptr;
  const QMimeData* source = Source(data);
  const QByteArray items =
      Bytes(source, NorvClipboardMimeType(NorvItemFormatName(operation, itemFormat)));
  if (items.isEmpty()) return FALSE;

  CNorvArchive ar(items.constData(), static_cast<std::size_t>(items.size()));
  CNorvTLItemList* rebuilt = nullptr;
  try {
    auto* carrier =
        static_cast<CNorvClipBoardItem*>(ar.ReadObject(NORV_RUNTIME_CLASS(CNorvClipBoardItem)));
    if (carrier != nullptr) {
      rebuilt = carrier->GetList();
      delete carrier;
    }
  } catch (...) {
    DisposeLoaded(ar);
    throw;
  }
  // A carrier without a list (or none at all) still hands over a list, so
  // that the caller always owns what it gets.
  list = rebuilt != nullptr ? rebuilt : new CNorvTLItemList;

  const QByteArray parent = Bytes(source, QString::fromLatin1(kParentInfoMime));
  if (parent.isEmpty()) return FALSE;
  try {
    CNorvArchive pa(parent.constData(), static_cast<std::size_t>(parent.size()));
    NorvString parentClass, parentId;
    pa >> parentClass >> parentId;
    CNorvClipBoardItem::parentClass = parentClass;
    CNorvClipBoardItem::parentId = parentId;
  } catch (const std::exception& e) {
    TraceFailure(L"GetItemsFromClipboard: NORV_PARENTINFO", e);
    return FALSE;
  }
  // Cut items are pasted once. Only data that came from the clipboard is
  // taken off it: a drop must not wipe what the user copied elsewhere.
  if (operation == CNorvClipBoardItem::cut) {
    if (clipboard == nullptr) clipboard = NorvGetClipboard();
    if (clipboard != nullptr &&
        (data == nullptr || data == clipboard->mimeData(QClipboard::Clipboard)))
      clipboard->clear(QClipboard::Clipboard);
  }
  return TRUE;
}

BOOL CheckItemsOnClipboard(CNorvClipBoardItem::Operation operation, const NorvString& itemFormat,
                           const QMimeData* data) {
  if (!ValidOperation(operation)) return FALSE;
  const QMimeData* source = Source(data);
  return source != nullptr &&
                 source->hasFormat(NorvClipboardMimeType(NorvItemFormatName(operation, itemFormat)))
             ? TRUE
             : FALSE;
}

BOOL GetClipBoardFormat(CNorvClipBoardItem::Operation& operation, NorvString& itemFormat,
                        const QMimeData* data) {
  const QByteArray bytes = Bytes(Source(data), QString::fromLatin1(kClipFormatMime));
  if (bytes.isEmpty()) return FALSE;
  try {
    CNorvArchive ar(bytes.constData(), static_cast<std::size_t>(bytes.size()));
    NorvString format;
    std::int32_t op = -1;
    ar >> format >> op;
    if (!ValidOperation(op)) return FALSE;
    itemFormat = format;
    operation = static_cast<CNorvClipBoardItem::Operation>(op);
    return TRUE;
  } catch (const std::exception& e) {
    TraceFailure(L"GetClipBoardFormat", e);
    return FALSE;
  }
}

BOOL GetFilesFromClipboard(NorvStringList& files, const QMimeData* data) {
  const QMimeData* source = Source(data);
  if (source == nullptr || !source->hasFormat(QString::fromLatin1(kUriListMime))) return FALSE;
  // Paths are taken whole: a fixed buffer would cut long paths and drop a
  // different file than the user chose.
  bool any = false;
  for (const QUrl& url : source->urls()) {
    if (!url.isLocalFile()) continue;
    const QString path = url.toLocalFile();
    if (path.isEmpty()) continue;
    files.push_back(path.toStdWString());
    any = true;
  }
  return any ? TRUE : FALSE;
}

BOOL CheckFilesOnClipboard(const QMimeData* data) {
  const QMimeData* source = Source(data);
  return source != nullptr && source->hasFormat(QString::fromLatin1(kUriListMime)) ? TRUE : FALSE;
}

BOOL GetDragImageFromClipboard(CDragImage& image, QPoint& hotSpot, const QMimeData* data) {
  const QByteArray bytes = Bytes(Source(data), QString::fromLatin1(kDragImageMime));
  if (bytes.isEmpty()) return FALSE;
  try {
    CNorvArchive ar(bytes.constData(), static_cast<std::size_t>(bytes.size()));
    std::int32_t x = 0, y = 0;
    ar >> x >> y;
    CDragImage read;
    read.Serialize(ar);
    image = read;
    hotSpot = QPoint(x, y);
    return TRUE;
  } catch (const std::exception& e) {
    TraceFailure(L"GetDragImageFromClipboard", e);
    return FALSE;
  }
}

void SetFilesOnMimeData(QMimeData* data, const NorvStringList& files) {
  if (data == nullptr) return;
  QList<QUrl> urls;
  for (const NorvString& f : files) urls.push_back(QUrl::fromLocalFile(QString::fromStdWString(f)));
  data->setUrls(urls);
}
