// Tools of the main frame that plugins and the frame share: the Windows
// version code and text formatting exported for plugins, saving an item's
// icon as a bitmap file, printing the content view (to a printer, or to a
// PDF file where none is installed), and the host program's profile (an
// INI file in the user's configuration folder). See docs/frame-tools.md.
#pragma once
#include <QImage>
#include <QList>
#include <QString>

#include "norv/norvtypes.h"

class CNorvTreeListItem;
class QIcon;
class QPrinter;
class QWidget;

// ----- exported for plugins -------------------------------------------------

// The code of the running Windows version, as the table in
// docs/frame-tools.md gives it for the version the platform reports (0 for
// anything the table does not list). Worked out once; a code of 0 is worked
// out again on the next call.
NORV_API UINT GetWinVer();
// The table itself: platform family (plat::VER_PLATFORM_*), major and minor
// version and build number (only its low 16 bits count).
NORV_API UINT NorvWinVerCode(DWORD platformId, DWORD major, DWORD minor, DWORD build);

// printf-style formatting, the same as NorvFormatString: %s takes wide
// text, %S narrow. The second form takes the format from string resource
// `formatId` of the current resource module (empty when there is none).
NORV_API NorvString FormatString(const wchar_t* format, ...);
NORV_API NorvString FormatString(UINT formatId, ...);

// ----- saving an icon -------------------------------------------------------

// The icon drawn at (0, 0) on a bitmap of the desktop's large icon size,
// filled with the window background colour.
NORV_API QImage NorvRenderIconBitmap(const QIcon& icon);
// Writes `image` as an uncompressed 24-bit Windows bitmap file (14-byte file
// header, 40-byte info header, bottom-up rows padded to 4 bytes). FALSE when
// the file cannot be written; a half-written file is removed.
NORV_API BOOL NorvWriteBitmapFile(const QImage& image, const QString& path);
// Asks for a file name (proposing `fileName`) and writes the icon there as a
// bitmap. Does nothing for a null icon; TRUE when a file was written.
NORV_API BOOL SaveIcon(const QIcon& icon, const NorvString& fileName, QWidget* parent = nullptr);
// The item's large image (its tree image plus its plugin's image offset in
// `largeImages`); a null icon when it has none.
NORV_API QIcon NorvGetItemLargeIcon(CNorvTreeListItem* item, const QList<QImage>& largeImages);
// "<class name> - <tree text>.bmp", with characters a file name cannot hold
// replaced by "_".
NORV_API NorvString NorvProposedIconFileName(CNorvTreeListItem* item);

// ----- printing -------------------------------------------------------------

// Whether `view` can be printed (it exists and is shown).
NORV_API BOOL NorvCanPrint(QWidget* view);
// Prints `view` on `printer`: an item view (list or tree) as a table of
// its visible columns, page by page with the header repeated; any other
// widget as a picture fitted to the page. FALSE when nothing was printed.
NORV_API BOOL NorvPrintWidget(QWidget* view, QPrinter& printer, const QString& title = {});
// The print command: the print dialog, or, when no printer is installed, a
// save dialog for a PDF file. TRUE when something was printed.
NORV_API BOOL NorvPrintContentView(QWidget* view, const QString& title, QWidget* parent);

// ----- the host program's profile -------------------------------------------

// The host's profile file: "<configuration folder>/<application name>.ini"
// ($XDG_CONFIG_HOME or ~/.config; "norvexplore" without an application name).
// NORV_PROFILE (a file path) replaces it, for tests and several set-ups.
NORV_API QString NorvHostProfilePath();
NORV_API int NorvGetProfileInt(const char* section, const char* entry, int defaultValue);
NORV_API BOOL NorvWriteProfileInt(const char* section, const char* entry, int value);
