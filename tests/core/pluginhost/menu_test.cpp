// The menu model: building, searching, copying.
#include <gtest/gtest.h>

#include "norv/NorvMenu.h"

namespace {

TEST(MenuTest, BuildAndInspect) {
  CNorvMenu menu;
  CNorvMenu& file = menu.AppendPopup(L"&File");
  file.AppendItem(35001, L"&Open");
  file.AppendSeparator();
  file.AppendItem(35002, L"E&xit", FALSE, TRUE);
  EXPECT_EQ(menu.GetItemCount(), 1);
  EXPECT_TRUE(menu.IsPopup(0));
  EXPECT_EQ(menu.GetItemId(0), 0u);
  ASSERT_EQ(menu.GetSubMenu(0), &file);
  EXPECT_EQ(file.GetItemId(0), 35001u);
  EXPECT_TRUE(file.IsSeparator(1));
  EXPECT_EQ(file.GetItemId(1), 0u);
  EXPECT_FALSE(file.IsEnabled(2));
  EXPECT_TRUE(file.IsChecked(2));
  // Out of range is harmless.
  EXPECT_EQ(menu.GetSubMenu(5), nullptr);
  EXPECT_EQ(menu.GetSubMenu(-1), nullptr);
  EXPECT_EQ(file.GetItemText(9), L"");
  EXPECT_FALSE(file.RemoveItem(3));
}

TEST(MenuTest, InsertRemoveAndFind) {
  CNorvMenu menu;
  menu.AppendItem(1, L"one");
  menu.AppendItem(3, L"three");
  EXPECT_EQ(menu.InsertItem(1, 2, L"two"), 1);
  EXPECT_EQ(menu.InsertSeparator(99), 3);  // past the end: appended
  CNorvMenu& sub = menu.InsertPopup(0, L"sub");
  sub.AppendItem(2, L"two again");
  // Depth-first, this menu's own entries first.
  CNorvMenu::Position found = menu.FindCommand(2);
  EXPECT_EQ(found.menu, &menu);
  EXPECT_EQ(found.index, 2);
  EXPECT_EQ(menu.EnableCommand(2, FALSE), 2);
  EXPECT_FALSE(sub.IsEnabled(0));
  EXPECT_TRUE(menu.RemoveItem(2));
  found = menu.FindCommand(2);
  EXPECT_EQ(found.menu, &sub);
  EXPECT_EQ(menu.FindCommand(77).menu, nullptr);
  EXPECT_EQ(menu.CheckCommand(3, TRUE), 1);
}

TEST(MenuTest, CopiesAreDeepAndSelfAppendIsSafe) {
  CNorvMenu menu;
  menu.AppendPopup(L"p").AppendItem(5, L"five");
  CNorvMenu copy = menu;
  EXPECT_TRUE(copy == menu);
  copy.GetSubMenu(0)->SetItemText(0, L"changed");
  EXPECT_EQ(menu.GetSubMenu(0)->GetItemText(0), L"five");
  EXPECT_FALSE(copy == menu);
  menu.AppendMenu(menu);
  EXPECT_EQ(menu.GetItemCount(), 2);
  EXPECT_EQ(menu.GetSubMenu(1)->GetItemText(0), L"five");
  menu = *menu.GetSubMenu(0);  // assigning a part of itself
  EXPECT_EQ(menu.GetItemCount(), 1);
  EXPECT_EQ(menu.GetItemId(0), 5u);
}

TEST(MenuTest, DefaultAndRadioMarksAreKeptAndCopied) {
  CNorvMenu menu;
  for (UINT id = 35028; id <= 35032; ++id) menu.AppendItem(id, L"mode");
  menu.AppendSeparator();
  menu.AppendItem(7, L"open");
  EXPECT_EQ(menu.GetDefaultItem(), -1);
  EXPECT_TRUE(menu.SetDefaultCommand(7));
  EXPECT_TRUE(menu.IsDefault(6));
  EXPECT_TRUE(menu.SetDefaultItem(0));  // one default per menu
  EXPECT_FALSE(menu.IsDefault(6));
  EXPECT_EQ(menu.GetDefaultItem(), 0);
  EXPECT_FALSE(menu.SetDefaultCommand(99));
  EXPECT_FALSE(menu.SetDefaultItem(7));

  EXPECT_TRUE(menu.CheckRadioCommand(35028, 35032, 35031));
  for (int i = 0; i < 5; ++i) EXPECT_EQ(menu.IsChecked(i), i == 3 ? TRUE : FALSE) << i;
  EXPECT_TRUE(menu.IsRadioCheck(3));
  EXPECT_FALSE(menu.IsChecked(6));  // outside the range: untouched
  EXPECT_TRUE(menu.SetRadioCheck(6, TRUE));
  EXPECT_FALSE(menu.SetRadioCheck(9, TRUE));

  CNorvMenu copy = menu;
  EXPECT_TRUE(copy == menu);
  EXPECT_TRUE(copy.IsDefault(0));
  EXPECT_TRUE(copy.IsRadioCheck(3));
  copy.SetRadioCheck(3, FALSE);
  EXPECT_FALSE(copy == menu);
}

}  // namespace
