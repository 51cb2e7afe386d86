// Menus as data (CNorvMenu) turned into Qt menus, and menus read from a
// resource module's menu resources.
#pragma once
#include <QPoint>

#include "norv/norvtypes.h"

class CNorvMenu;
class QMenu;
class QMenuBar;
class QWidget;

// The command id an action stands for (0 for none).
NORV_API UINT NorvActionCommand(const class QAction* action);
// Appends the entries of `menu` to `target`; each command entry becomes an
// action whose data is its command id.
NORV_API void NorvFillQMenu(QMenu* target, const CNorvMenu& menu);
// Replaces the menu bar's menus by the top-level popups of `menu`
// (top-level command entries become actions of the bar).
NORV_API void NorvFillMenuBar(QMenuBar* bar, const CNorvMenu& menu);
// Shows `menu` as a popup at `globalPos`; the chosen command, or 0.
NORV_API UINT NorvTrackPopupMenu(const CNorvMenu& menu, const QPoint& globalPos, QWidget* parent);
// Reads menu resource `id` (searched as every resource: `module`, the
// current module, the host's). FALSE when absent or damaged.
NORV_API BOOL NorvLoadMenuResource(UINT id, CNorvMenu& menu, HMODULE module = nullptr);
