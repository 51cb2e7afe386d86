#include "norv/NorvMenu.h"

CNorvMenu::CNorvMenu(const CNorvMenu& other) { AppendMenu(other); }

CNorvMenu& CNorvMenu::operator=(const CNorvMenu& other) {
  if (this != &other) {
    // Copy first: `other` may live inside this menu.
    CNorvMenu copy(other);
    entries_ = std::move(copy.entries_);
  }
  return *this;
}

CNorvMenu::~CNorvMenu() = default;

CNorvMenu::Entry CNorvMenu::CopyEntry(const Entry& entry) {
  Entry copy;
  copy.command = entry.command;
  copy.text = entry.text;
  copy.separator = entry.separator;
  copy.enabled = entry.enabled;
  copy.checked = entry.checked;
  copy.isDefault = entry.isDefault;
  copy.radio = entry.radio;
  if (entry.popup) copy.popup = std::make_unique<CNorvMenu>(*entry.popup);
  return copy;
}

int CNorvMenu::ClampedIndex(int index) const {
  if (index < 0 || index > GetItemCount()) return GetItemCount();
  return index;
}

int CNorvMenu::AppendItem(UINT command, const NorvString& text, BOOL enabled, BOOL checked) {
  Entry entry;
  entry.command = command;
  entry.text = text;
  entry.enabled = enabled != FALSE;
  entry.checked = checked != FALSE;
  entries_.push_back(std::move(entry));
  return GetItemCount() - 1;
}

int CNorvMenu::AppendSeparator() {
  Entry entry;
  entry.separator = true;
  entries_.push_back(std::move(entry));
  return GetItemCount() - 1;
}

CNorvMenu& CNorvMenu::AppendPopup(const NorvString& text) {
  return InsertPopup(GetItemCount(), text);
}

CNorvMenu& CNorvMenu::AppendPopup(const NorvString& text, const CNorvMenu& popup) {
  auto copy = std::make_unique<CNorvMenu>(popup);
  Entry entry;
  entry.text = text;
  entry.popup = std::move(copy);
  entries_.push_back(std::move(entry));
  return *entries_.back().popup;
}

int CNorvMenu::InsertItem(int index, UINT command, const NorvString& text) {
  Entry entry;
  entry.command = command;
  entry.text = text;
  const int at = ClampedIndex(index);
  entries_.insert(entries_.begin() + at, std::move(entry));
  return at;
}

int CNorvMenu::InsertSeparator(int index) {
  Entry entry;
  entry.separator = true;
  const int at = ClampedIndex(index);
  entries_.insert(entries_.begin() + at, std::move(entry));
  return at;
}

CNorvMenu& CNorvMenu::InsertPopup(int index, const NorvString& text) {
  Entry entry;
  entry.text = text;
  entry.popup = std::make_unique<CNorvMenu>();
  const int at = ClampedIndex(index);
  auto it = entries_.insert(entries_.begin() + at, std::move(entry));
  return *it->popup;
}

BOOL CNorvMenu::RemoveItem(int index) {
  if (!InRange(index)) return FALSE;
  entries_.erase(entries_.begin() + index);
  return TRUE;
}

void CNorvMenu::Clear() { entries_.clear(); }

CNorvMenu* CNorvMenu::GetSubMenu(int index) {
  return InRange(index) ? entries_[index].popup.get() : nullptr;
}

const CNorvMenu* CNorvMenu::GetSubMenu(int index) const {
  return InRange(index) ? entries_[index].popup.get() : nullptr;
}

UINT CNorvMenu::GetItemId(int index) const {
  if (!InRange(index) || entries_[index].separator || entries_[index].popup) return 0;
  return entries_[index].command;
}

NorvString CNorvMenu::GetItemText(int index) const {
  return InRange(index) ? entries_[index].text : NorvString();
}

BOOL CNorvMenu::IsSeparator(int index) const {
  return InRange(index) && entries_[index].separator ? TRUE : FALSE;
}

BOOL CNorvMenu::IsPopup(int index) const {
  return InRange(index) && entries_[index].popup ? TRUE : FALSE;
}

BOOL CNorvMenu::IsEnabled(int index) const {
  return InRange(index) && entries_[index].enabled ? TRUE : FALSE;
}

BOOL CNorvMenu::IsChecked(int index) const {
  return InRange(index) && entries_[index].checked ? TRUE : FALSE;
}

BOOL CNorvMenu::SetItemText(int index, const NorvString& text) {
  if (!InRange(index) || entries_[index].separator) return FALSE;
  entries_[index].text = text;
  return TRUE;
}

BOOL CNorvMenu::EnableItem(int index, BOOL enabled) {
  if (!InRange(index)) return FALSE;
  entries_[index].enabled = enabled != FALSE;
  return TRUE;
}

BOOL CNorvMenu::CheckItem(int index, BOOL checked) {
  if (!InRange(index)) return FALSE;
  entries_[index].checked = checked != FALSE;
  return TRUE;
}

CNorvMenu::Position CNorvMenu::FindCommand(UINT command) {
  for (int i = 0; i < GetItemCount(); ++i) {
    if (GetItemId(i) == command && !entries_[i].separator && !entries_[i].popup)
      return Position{this, i};
  }
  for (auto& entry : entries_) {
    if (!entry.popup) continue;
    Position found = entry.popup->FindCommand(command);
    if (found.menu != nullptr) return found;
  }
  return Position{};
}

int CNorvMenu::EnableCommand(UINT command, BOOL enabled) {
  int count = 0;
  for (auto& entry : entries_) {
    if (entry.popup) {
      count += entry.popup->EnableCommand(command, enabled);
    } else if (!entry.separator && entry.command == command) {
      entry.enabled = enabled != FALSE;
      ++count;
    }
  }
  return count;
}

int CNorvMenu::CheckCommand(UINT command, BOOL checked) {
  int count = 0;
  for (auto& entry : entries_) {
    if (entry.popup) {
      count += entry.popup->CheckCommand(command, checked);
    } else if (!entry.separator && entry.command == command) {
      entry.checked = checked != FALSE;
      ++count;
    }
  }
  return count;
}

void CNorvMenu::AppendMenu(const CNorvMenu& other) {
  // Copy first so that appending a menu to itself is well defined.
  std::vector<Entry> copies;
  copies.reserve(other.entries_.size());
  for (const auto& entry : other.entries_) copies.push_back(CopyEntry(entry));
  for (auto& entry : copies) entries_.push_back(std::move(entry));
}

bool CNorvMenu::operator==(const CNorvMenu& other) const {
  if (entries_.size() != other.entries_.size()) return false;
  for (std::size_t i = 0; i < entries_.size(); ++i) {
    const Entry& a = entries_[i];
    const Entry& b = other.entries_[i];
    if (a.command != b.command || a.text != b.text || a.separator != b.separator ||
        a.enabled != b.enabled || a.checked != b.checked || a.isDefault != b.isDefault ||
        a.radio != b.radio)
      return false;
    if (static_cast<bool>(a.popup) != static_cast<bool>(b.popup)) return false;
    if (a.popup && !(*a.popup == *b.popup)) return false;
  }
  return true;
}

BOOL CNorvMenu::IsDefault(int index) const {
  return InRange(index) && entries_[index].isDefault ? TRUE : FALSE;
}

BOOL CNorvMenu::SetDefaultItem(int index) {
  if (!InRange(index)) return FALSE;
  for (Entry& entry : entries_) entry.isDefault = false;
  entries_[index].isDefault = true;
  return TRUE;
}

int CNorvMenu::GetDefaultItem() const {
  for (int i = 0; i < GetItemCount(); ++i)
    if (entries_[i].isDefault) return i;
  return -1;
}

BOOL CNorvMenu::SetDefaultCommand(UINT command) {
  for (int i = 0; i < GetItemCount(); ++i) {
    const Entry& entry = entries_[i];
    if (!entry.separator && !entry.popup && entry.command == command) return SetDefaultItem(i);
  }
  return FALSE;
}

BOOL CNorvMenu::IsRadioCheck(int index) const {
  return InRange(index) && entries_[index].radio ? TRUE : FALSE;
}

BOOL CNorvMenu::SetRadioCheck(int index, BOOL radio) {
  if (!InRange(index)) return FALSE;
  entries_[index].radio = radio != FALSE;
  return TRUE;
}

BOOL CNorvMenu::CheckRadioCommand(UINT first, UINT last, UINT command) {
  BOOL found = FALSE;
  for (Entry& entry : entries_) {
    if (entry.separator || entry.popup || entry.command < first || entry.command > last) continue;
    entry.checked = entry.command == command;
    if (entry.checked) {
      entry.radio = true;
      found = TRUE;
    }
  }
  return found;
}
