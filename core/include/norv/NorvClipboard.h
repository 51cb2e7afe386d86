// Cut, copy, paste and drag-and-drop of items and files, on QClipboard and
// QMimeData.
//
// Every registered format name of the framework is a MIME type of its own
// (docs/clipboard-formats.md gives the table and the byte layouts):
//   "NORV_CLIPFORMAT"  application/x-norv-clipformat
//   "NORV_PARENTINFO"  application/x-norv-parentinfo
//   "NORV_DRAGIMAGE"   application/x-norv-dragimage
//   the items, under the operation prefix ("cut", "copy", "dragdrop")
//   followed by the item clipboard format:
//                      application/x-norv-items;format=<prefix+format,
//                      UTF-8, percent-encoded>
// Dropped files are file URLs (text/uri-list).
//
// Every "data" argument is the data of a drop (QDropEvent::mimeData) or
// null for the system clipboard. The clipboard is used only on the thread
// of the QGuiApplication; without one (or from another thread) the
// clipboard counts as not available and the functions report failure.
//
// Drags: CopyItemsToClipboard builds the data and, given a drop source,
// runs QDrag::exec itself (copy, move and link allowed). Without a drop
// source it hands the data back through `dragData` and the caller runs the
// drag (the views do, so that they control the pixmap and the loop).
#pragma once
#include <QPoint>
#include <QString>
#include <Qt>

#include "norv/DragImage.h"
#include "norv/NorvClipBoardItem.h"
#include "norv/NorvItemTypes.h"
#include "norv/NorvTLItemList.h"
#include "norv/norvtypes.h"

class QClipboard;
class QMimeData;
class QObject;

// Registered format names.
#define NORV_CLIPFORMAT_NAME L"NORV_CLIPFORMAT"
#define NORV_PARENTINFO_NAME L"NORV_PARENTINFO"
#define NORV_DRAGIMAGE_NAME L"NORV_DRAGIMAGE"
// The format that DropMenuInfo receives for a drop of files.
#define NORV_FILEDROP_FORMAT_NAME L"#CF_HDROP"

// The MIME type of a registered format name (see above). Any name other
// than the three fixed ones is an item format.
NORV_API QString NorvClipboardMimeType(const NorvString& formatName);
// Back from a MIME type to the format name; empty for a type that is not
// one of the framework's.
NORV_API NorvString NorvClipboardFormatName(const QString& mimeType);
// "cut", "copy" or "dragdrop" followed by `itemFormat`; empty for an
// unknown operation.
NORV_API NorvString NorvItemFormatName(int operation, const NorvString& itemFormat);

// The system clipboard, or null when there is none usable on this thread.
NORV_API QClipboard* NorvGetClipboard();

// Builds the data for a cut, copy or drag of `list`:
// 1. filters `list` in place: for a drag (`drag` TRUE) only items whose
//    CanDrag is non-zero stay, otherwise only items that CanCopy; the
//    others are unlinked, not destroyed;
// 2. returns new data (the caller owns it) with the items under the
//    operation's item format, "NORV_PARENTINFO", "NORV_CLIPFORMAT" and, for
//    a drag with a drag image, "NORV_DRAGIMAGE" (hot spot and image).
// Null when nothing is left in the list or an item could not be written.
NORV_API QMimeData* CreateItemsMimeData(CNorvTLItemList* list, const CDragImage* dragImage,
                                        const QPoint& hotSpot,
                                        CNorvClipBoardItem::Operation operation,
                                        const NorvString& parentClass,
                                        const NorvString& parentId, BOOL drag,
                                        const NorvString& itemFormat);

// Copies, cuts or drags items (see CreateItemsMimeData for the filtering).
// Not a drag: the data replaces the clipboard's contents. A drag with a
// `dropSource`: runs the drag and stores its result in `*dropAction` (when
// given). A drag without one: stores the data in `*dragData` for the
// caller, who owns it and runs the drag.
// FALSE when nothing could be copied (the clipboard is then untouched and
// `list` empty), when the data could not be built, when there is no
// clipboard (not a drag), or for a drag without `dropSource` and
// `dragData`.
NORV_API BOOL CopyItemsToClipboard(CNorvTLItemList* list, const CDragImage* dragImage,
                                   const QPoint& hotSpot, CNorvClipBoardItem::Operation operation,
                                   const NorvString& parentClass, const NorvString& parentId,
                                   BOOL drag, const NorvString& itemFormat,
                                   QObject* dropSource = nullptr, QMimeData** dragData = nullptr,
                                   Qt::DropAction* dropAction = nullptr);

// Reads the items of `operation` and `itemFormat` from `data` (null: the
// clipboard) into a new list, stored in `list`; the caller owns the list
// and its items from then on (also when the result is FALSE and `list` is
// not null). The parent class and id go to CNorvClipBoardItem::parentClass
// and parentId. Pasting a cut from the clipboard empties the clipboard, so
// that cut items are pasted once.
// FALSE (with `list` untouched) when the format is not offered or its data
// cannot be obtained; FALSE with the new list when "NORV_PARENTINFO" is
// missing or unreadable. Items that cannot be rebuilt (a class not loaded
// here, damaged data) raise CNorvArchiveException to the caller, after
// everything read so far is destroyed.
NORV_API BOOL GetItemsFromClipboard(CNorvTLItemList*& list, CNorvClipBoardItem::Operation operation,
                                    const QMimeData* data, const NorvString& itemFormat);
// TRUE when the data offers the items of that operation and format.
NORV_API BOOL CheckItemsOnClipboard(CNorvClipBoardItem::Operation operation,
                                    const NorvString& itemFormat, const QMimeData* data = nullptr);
// Reads "NORV_CLIPFORMAT": the item format and the operation. FALSE when
// absent, unreadable or naming an unknown operation.
NORV_API BOOL GetClipBoardFormat(CNorvClipBoardItem::Operation& operation, NorvString& itemFormat,
                                 const QMimeData* data = nullptr);
// Appends the local path of every dropped file to `files`. FALSE when no
// file list is offered or it names no local file.
NORV_API BOOL GetFilesFromClipboard(NorvStringList& files, const QMimeData* data = nullptr);
// TRUE when a file list is offered.
NORV_API BOOL CheckFilesOnClipboard(const QMimeData* data = nullptr);
// Reads "NORV_DRAGIMAGE" into the hot spot and the image. FALSE when
// absent or unreadable.
NORV_API BOOL GetDragImageFromClipboard(CDragImage& image, QPoint& hotSpot,
                                        const QMimeData* data = nullptr);

// Sets a file list (file URLs) on `data`, e.g. so that other programs can
// paste files a plugin put on the clipboard.
NORV_API void SetFilesOnMimeData(QMimeData* data, const NorvStringList& files);
