#include "NorvQtMenu.h"

#include <QAction>
#include <QMenu>
#include <QMenuBar>
#include <cstring>

#include "norv/NorvMenu.h"
#include "platform/resources.h"

namespace {

QString Q(const NorvString& text) { return QString::fromStdWString(text); }

// The menu resource layout: 32-bit version 1, 32-bit number of top-level
// items, then the items in preorder, each 16 bytes (kind, flags, command,
// children, text length) and its UTF-8 text padded to 4 bytes.
struct MenuReader {
  const BYTE* data;
  std::size_t size;
  std::size_t pos = 0;
  int depth = 0;

  bool U32(std::uint32_t& out) {
    if (size - pos < 4) return false;
    std::memcpy(&out, data + pos, 4);
    pos += 4;
    return true;
  }
  bool U16(std::uint16_t& out) {
    if (size - pos < 2) return false;
    std::memcpy(&out, data + pos, 2);
    pos += 2;
    return true;
  }
  bool Items(CNorvMenu& menu, std::uint32_t count) {
    if (++depth > 32) return false;
    for (std::uint32_t i = 0; i < count; ++i) {
      std::uint16_t kind = 0, flags = 0;
      std::uint32_t command = 0, children = 0, length = 0;
      if (!U16(kind) || !U16(flags) || !U32(command) || !U32(children) || !U32(length))
        return false;
      if (length > size - pos) return false;
      const QString text = QString::fromUtf8(reinterpret_cast<const char*>(data + pos),
                                             static_cast<qsizetype>(length));
      pos += (length + 3) & ~std::size_t{3};
      if (pos > size) return false;
      const bool grayed = (flags & 1) != 0;
      const bool checked = (flags & 2) != 0;
      if (kind == 2) {
        menu.AppendSeparator();
      } else if (kind == 1) {
        CNorvMenu& sub = menu.AppendPopup(text.toStdWString());
        if (!Items(sub, children)) return false;
        if (grayed) menu.EnableItem(menu.GetItemCount() - 1, FALSE);
      } else if (kind == 0) {
        menu.AppendItem(command, text.toStdWString(), grayed ? FALSE : TRUE,
                        checked ? TRUE : FALSE);
      } else {
        return false;
      }
    }
    --depth;
    return true;
  }
};

}  // namespace

UINT NorvActionCommand(const QAction* action) {
  return action != nullptr ? action->data().toUInt() : 0;
}

void NorvFillQMenu(QMenu* target, const CNorvMenu& menu) {
  for (int i = 0; i < menu.GetItemCount(); ++i) {
    if (menu.IsSeparator(i)) {
      target->addSeparator();
    } else if (const CNorvMenu* sub = menu.GetSubMenu(i)) {
      QMenu* popup = target->addMenu(Q(menu.GetItemText(i)));
      popup->setEnabled(menu.IsEnabled(i) != FALSE);
      NorvFillQMenu(popup, *sub);
    } else {
      QAction* action = target->addAction(Q(menu.GetItemText(i)));
      action->setData(menu.GetItemId(i));
      action->setEnabled(menu.IsEnabled(i) != FALSE);
      if (menu.IsChecked(i) || menu.IsRadioCheck(i)) {
        action->setCheckable(true);
        action->setChecked(menu.IsChecked(i) != FALSE);
      }
      if (menu.IsDefault(i)) target->setDefaultAction(action);
    }
  }
}

void NorvFillMenuBar(QMenuBar* bar, const CNorvMenu& menu) {
  bar->clear();
  for (int i = 0; i < menu.GetItemCount(); ++i) {
    if (menu.IsSeparator(i)) continue;
    if (const CNorvMenu* sub = menu.GetSubMenu(i)) {
      QMenu* popup = bar->addMenu(Q(menu.GetItemText(i)));
      NorvFillQMenu(popup, *sub);
    } else {
      QAction* action = bar->addAction(Q(menu.GetItemText(i)));
      action->setData(menu.GetItemId(i));
    }
  }
}

UINT NorvTrackPopupMenu(const CNorvMenu& menu, const QPoint& globalPos, QWidget* parent) {
  QMenu popup(parent);
  NorvFillQMenu(&popup, menu);
  QAction* chosen = popup.exec(globalPos);
  return NorvActionCommand(chosen);
}

BOOL NorvLoadMenuResource(UINT id, CNorvMenu& menu, HMODULE module) {
  const BYTE* data = nullptr;
  std::size_t size = 0;
  if (!plat::FindResource(module, plat::ResourceType::Menu, id, &data, &size)) return FALSE;
  MenuReader reader{data, size};
  std::uint32_t version = 0, count = 0;
  if (!reader.U32(version) || version != 1 || !reader.U32(count)) return FALSE;
  CNorvMenu parsed;
  if (!reader.Items(parsed, count)) return FALSE;
  menu = std::move(parsed);
  return TRUE;
}
