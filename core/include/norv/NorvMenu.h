// A menu as data: a tree of entries (command entries, separators and
// popups), each with its enabled, checked, default (bold) and radio-check
// state. The framework and the plugins build and change menus through it
// (the main menu, item context menus, the help and About entries); the GUI
// turns it into real menus when it shows them.
#pragma once
#include <memory>
#include <vector>

#include "norv/norvtypes.h"

class NORV_API CNorvMenu {
 public:
  // Where an entry is found: the menu that holds it and its index there.
  struct Position {
    CNorvMenu* menu = nullptr;
    int index = -1;
  };

  CNorvMenu() = default;
  CNorvMenu(const CNorvMenu& other);
  CNorvMenu& operator=(const CNorvMenu& other);
  CNorvMenu(CNorvMenu&&) noexcept = default;
  CNorvMenu& operator=(CNorvMenu&&) noexcept = default;
  ~CNorvMenu();

  // Appending; each returns the new entry's index.
  int AppendItem(UINT command, const NorvString& text, BOOL enabled = TRUE, BOOL checked = FALSE);
  int AppendSeparator();
  // Appends a popup entry; returns its (empty) submenu.
  CNorvMenu& AppendPopup(const NorvString& text);
  // Appends a copy of `popup` as a popup entry; returns the copy.
  CNorvMenu& AppendPopup(const NorvString& text, const CNorvMenu& popup);

  // Inserting before `index` (clamped to the end); return the new index.
  int InsertItem(int index, UINT command, const NorvString& text);
  int InsertSeparator(int index);
  CNorvMenu& InsertPopup(int index, const NorvString& text);

  // FALSE for an index out of range.
  BOOL RemoveItem(int index);
  void Clear();

  int GetItemCount() const { return static_cast<int>(entries_.size()); }
  BOOL IsEmpty() const { return entries_.empty() ? TRUE : FALSE; }
  // Null for an index out of range or an entry that is not a popup.
  CNorvMenu* GetSubMenu(int index);
  const CNorvMenu* GetSubMenu(int index) const;
  // 0 for separators, popups and indexes out of range.
  UINT GetItemId(int index) const;
  // Empty for separators and indexes out of range.
  NorvString GetItemText(int index) const;
  BOOL IsSeparator(int index) const;
  BOOL IsPopup(int index) const;
  BOOL IsEnabled(int index) const;
  BOOL IsChecked(int index) const;
  // The default entry, shown bold (what a double-click would choose). A
  // menu has at most one: setting it clears the mark elsewhere in this
  // menu. FALSE for an index out of range.
  BOOL IsDefault(int index) const;
  BOOL SetDefaultItem(int index);
  // The index of the default entry, or -1.
  int GetDefaultItem() const;
  // Makes the first entry with `command` in this menu (not its popups) the
  // default; FALSE when there is none.
  BOOL SetDefaultCommand(UINT command);
  // Radio-check style: a checked entry shows a dot instead of a tick.
  BOOL IsRadioCheck(int index) const;
  BOOL SetRadioCheck(int index, BOOL radio);
  // Among the entries of this menu whose commands lie in first..last,
  // checks the one with `command` in radio style and unchecks the others.
  // FALSE when no entry has `command`.
  BOOL CheckRadioCommand(UINT first, UINT last, UINT command);
  BOOL SetItemText(int index, const NorvString& text);
  BOOL EnableItem(int index, BOOL enabled);
  BOOL CheckItem(int index, BOOL checked);

  // Depth-first search for a command entry (this menu first, then popups).
  Position FindCommand(UINT command);
  // Enables or checks every entry with that command; returns how many.
  int EnableCommand(UINT command, BOOL enabled);
  int CheckCommand(UINT command, BOOL checked);

  // Appends copies of every entry of `other` (used when merging menus).
  void AppendMenu(const CNorvMenu& other);

  bool operator==(const CNorvMenu& other) const;

 private:
  struct Entry {
    UINT command = 0;
    NorvString text;
    bool separator = false;
    bool enabled = true;
    bool checked = false;
    bool isDefault = false;  // shown bold
    bool radio = false;      // checked with a dot
    std::unique_ptr<CNorvMenu> popup;
  };
  static Entry CopyEntry(const Entry& entry);
  bool InRange(int index) const { return index >= 0 && index < GetItemCount(); }
  int ClampedIndex(int index) const;

  std::vector<Entry> entries_;
};
