// The framework's dialogs, driven offscreen: property sheets and pages,
// the formatted message box, the item combo boxes, the column filter and
// column settings dialogs, help routing and the modal count.
#include <gtest/gtest.h>
#include <stdlib.h>

#include <QApplication>
#include <QComboBox>
#include <QDialogButtonBox>
#include <QImage>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QTabWidget>
#include <QTest>
#include <QTimer>
#include <QToolButton>
#include <QVBoxLayout>
#include <filesystem>
#include <string>
#include <vector>

#include "ColumnDialogs.h"
#include "NorvComboBox.h"
#include "NorvDialog.h"
#include "NorvMessageBoxDlg.h"
#include "NorvPropertySheet.h"
#include "filter/NorvFilterText.h"
#include "norv/NorvMenu.h"
#include "norv/NorvMessageBox.h"
#include "norv/NorvRegistryKey.h"
#include "norv/NorvTLItemList.h"
#include "norv/NorvTlgItem.h"
#include "norv/NorvViewServices.h"
#include "platform/resources.h"

namespace {

// Messages shown through the application's message box, and the answer.
struct MessageLog {
  std::vector<NorvString> texts;
  std::vector<UINT> types;
  int answer = IDOK;
};
MessageLog& Messages() {
  static MessageLog log;
  return log;
}

class DialogsTest : public ::testing::Test {
 protected:
  void SetUp() override {
    Messages() = MessageLog();
    NorvSetMessageBoxHook([](const NorvString& text, const NorvString&, UINT type) {
      Messages().texts.push_back(text);
      Messages().types.push_back(type);
      return Messages().answer;
    });
  }
  void TearDown() override { NorvSetMessageBoxHook({}); }
};

// An item with a text, an image, help files, a control menu and a record
// of the commands it receives.
class CDialogTestItem : public CNorvTreeListItem {
 public:
  CDialogTestItem(const NorvString& id, const NorvString& text, int image = -1)
      : m_text(text), m_image(image) {
    m_strId = id;
  }
  void GetTreeViewInfo(treeListViewInfo*& info, UINT mask) override {
    if (mask & NORV_TLVI_TEXT) info->strText = m_text;
    if (mask & NORV_TLVI_IMAGE) {
      info->nImage = m_image;
      info->nSelectedImage = m_image;
    }
  }
  CNorvMenu* CtrlMenuInfo(CNorvMenu* menu, CtrlType type) override {
    menuType = type;
    menu->AppendItem(41001, L"Do it");
    return menu;
  }
  CmdResult Command(CNorvTLItemList* list, UINT commandId, DWORD, void*) override {
    commands.push_back(commandId);
    listCount = list != nullptr ? list->GetCount() : -1;
    listHead = list != nullptr ? list->GetHead() : nullptr;
    return CMD_HANDLED;
  }
  const wchar_t* GetHelpFile() override { return help.c_str(); }
  const wchar_t* GetMessageHelpFile() override { return messageHelp.c_str(); }

  NorvString m_text;
  int m_image;
  NorvString help = L"/help/item.html";
  NorvString messageHelp = L"/help/messages.html";
  CtrlType menuType = CTRL_NONE;
  std::vector<UINT> commands;
  int listCount = 0;
  CNorvTreeListItem* listHead = nullptr;
};

// Records help requests instead of opening anything.
class HelpRecorder : public INorvViewServices {
 public:
  struct Request {
    DWORD data;
    UINT command;
    NorvString file;
  };
  BOOL ShowHelp(DWORD data, UINT command, const NorvString& file) override {
    requests.push_back({data, command, file});
    return TRUE;
  }
  std::vector<Request> requests;
};

// Runs `action` once the dialog's event loop runs.
void Soon(std::function<void()> action) { QTimer::singleShot(0, std::move(action)); }

// ===========================================================================
// Dialog base: modal count, help, fonts, control set-up
// ===========================================================================

TEST_F(DialogsTest, DoModalCountsItselfWhileOpenAndEndsWithIds) {
  CNorvDialog dialog(100, nullptr);
  int during = -1;
  Soon([&] {
    during = CNorvDialog::GetOpenModalDialogs();
    dialog.reject();  // Escape and the close box: IDCANCEL, not 0
  });
  EXPECT_EQ(dialog.DoModal(), IDCANCEL);
  EXPECT_EQ(during, 1);
  EXPECT_EQ(CNorvDialog::GetOpenModalDialogs(), 0);
  EXPECT_TRUE(dialog.IsInitialized());

  Soon([&] { dialog.accept(); });
  EXPECT_EQ(dialog.DoModal(), IDOK);
}

TEST_F(DialogsTest, HelpGoesToTheCalledItemsFilesAndPagesNeedAnItem) {
  HelpRecorder recorder;
  NorvSetViewServices(&recorder);
  CDialogTestItem item(L"1", L"one");

  CNorvDialog dialog(321, nullptr);
  {
    CNorvItemCallScope scope(&item);
    dialog.OnHelp();
    EXPECT_TRUE(CNorvDialog::InvokeMessageHelp(77, nullptr));
  }
  ASSERT_EQ(recorder.requests.size(), 2u);
  EXPECT_EQ(recorder.requests[0].data, 321u);
  EXPECT_EQ(recorder.requests[0].command, 15u);
  EXPECT_EQ(recorder.requests[0].file, L"/help/item.html");
  EXPECT_EQ(recorder.requests[1].data, 77u);
  EXPECT_EQ(recorder.requests[1].file, L"/help/messages.html");

  // No item being called: no message help, and a page shows none at all.
  recorder.requests.clear();
  EXPECT_FALSE(CNorvDialog::InvokeMessageHelp(77, nullptr));
  CNorvPropertyPage page(L"Page", 400);
  page.OnHelp();
  EXPECT_TRUE(recorder.requests.empty());
  // An item given explicitly is used without the stack.
  EXPECT_TRUE(CNorvDialog::InvokeMessageHelp(78, &item));
  ASSERT_EQ(recorder.requests.size(), 1u);
  EXPECT_EQ(recorder.requests[0].file, L"/help/messages.html");
  NorvSetViewServices(nullptr);
}

TEST_F(DialogsTest, SetDialogFontScalesFreeChildrenByTheFontUnits) {
  QDialog dialog;
  dialog.resize(300, 200);
  auto* child = new QLabel(QStringLiteral("x"), &dialog);
  child->setGeometry(10, 20, 100, 30);
  QFont bigger = dialog.font();
  bigger.setPointSizeF(dialog.font().pointSizeF() * 2);
  int oldH = 0, oldV = 0, newH = 0, newV = 0;
  CNorvDialog::GetFontUnits(dialog.font(), oldH, oldV);
  CNorvDialog::GetFontUnits(bigger, newH, newV);
  ASSERT_GT(newH, oldH);

  EXPECT_TRUE(CNorvDialog::SetDialogFont(&dialog, &bigger));
  EXPECT_EQ(dialog.size(), QSize(300 * newH / oldH, 200 * newV / oldV));
  EXPECT_EQ(child->geometry(), QRect(QPoint(10 * newH / oldH, 20 * newV / oldV),
                                     QPoint((110 * newH / oldH) - 1, (50 * newV / oldV) - 1)));
  EXPECT_EQ(child->font(), bigger);
  // Without a font nothing changes.
  const QRect before = child->geometry();
  EXPECT_TRUE(CNorvDialog::SetDialogFont(&dialog, nullptr));
  EXPECT_EQ(child->geometry(), before);
}

TEST_F(DialogsTest, SetDialogFontLeavesANewLaidOutDialogToItsLayout) {
  QDialog dialog;
  auto* layout = new QVBoxLayout(&dialog);
  layout->addWidget(new QLabel(QStringLiteral("A short line"), &dialog));
  QFont bigger = dialog.font();
  bigger.setPointSizeF(dialog.font().pointSizeF() * 2);
  EXPECT_TRUE(CNorvDialog::SetDialogFont(&dialog, &bigger));
  dialog.show();
  // Sized by its layout in the new font, not by a scaled default size.
  EXPECT_EQ(dialog.size(), dialog.sizeHint());
}

class CountingControl : public QWidget, public INorvInitControl {
 public:
  using QWidget::QWidget;
  void InitControl() override {
    if (!initialized) ++inits;
    initialized = true;
  }
  void OnInitControl() override { ++told; }
  bool initialized = false;
  int inits = 0;
  int told = 0;
};

TEST_F(DialogsTest, UpdateControlsInitialisesNestedControlsOnceAndTellsThemEachTime) {
  QWidget window;
  auto* group = new QWidget(&window);
  auto* control = new CountingControl(group);
  CNorvDialog::UpdateControls(&window);
  CNorvDialog::UpdateControls(&window);
  EXPECT_EQ(control->inits, 1);
  EXPECT_EQ(control->told, 2);
}

// ===========================================================================
// Property sheets
// ===========================================================================

class EditPage : public CNorvPropertyPage {
 public:
  explicit EditPage(const NorvString& caption) : CNorvPropertyPage(caption) {
    edit = new QLineEdit(this);
    edit->setText(QStringLiteral("initial"));
  }
  BOOL OnInitDialog() override {
    // Set-up that changes controls does not count as a change.
    edit->setText(QStringLiteral("loaded"));
    return CNorvPropertyPage::OnInitDialog();
  }
  BOOL Validate() override { return valid; }
  void OnOK() override { ++oks; }
  QLineEdit* edit;
  bool valid = true;
  int oks = 0;
};

TEST_F(DialogsTest, SheetReportingOnlyChangesCancelsUnlessAPageChanged) {
  {
    CNorvPropertySheet sheet(L"Properties", TRUE);
    auto* page = new EditPage(L"One");
    sheet.AddPage(page);
    sheet.AddPage(new EditPage(L"Two"));
    Soon([&] { sheet.accept(); });
    EXPECT_EQ(sheet.DoModal(), IDCANCEL);
    EXPECT_EQ(page->oks, 1);  // the pages saw OK all the same
  }
  {
    CNorvPropertySheet sheet(L"Properties", TRUE);
    auto* second = new EditPage(L"Two");
    sheet.AddPage(new EditPage(L"One"));
    sheet.AddPage(second);
    Soon([&] {
      second->edit->setText(QStringLiteral("typed"));
      sheet.accept();
    });
    EXPECT_EQ(sheet.DoModal(), IDOK);
  }
  {
    // Without the flag OK is OK; an empty sheet that reports only changes
    // reports none.
    CNorvPropertySheet plain(L"Plain", FALSE);
    plain.AddPage(new EditPage(L"One"));
    Soon([&] { plain.accept(); });
    EXPECT_EQ(plain.DoModal(), IDOK);
    CNorvPropertySheet empty(L"Empty", TRUE);
    Soon([&] { empty.accept(); });
    EXPECT_EQ(empty.DoModal(), IDCANCEL);
  }
}

TEST_F(DialogsTest, SheetCreatesEveryPageAndAPageThatFailsValidationCannotBeLeft) {
  CNorvPropertySheet sheet(L"Properties", FALSE, nullptr, 1);
  auto* first = new EditPage(L"One");
  auto* second = new EditPage(L"Two");
  sheet.AddPage(first);
  sheet.AddPage(second);
  sheet.EnsureInitialized();
  EXPECT_TRUE(first->IsInitialized());
  EXPECT_TRUE(second->IsInitialized());
  EXPECT_EQ(sheet.GetActiveIndex(), 1);  // the start page
  EXPECT_FALSE(first->IsChanged());
  // No Apply button.
  EXPECT_EQ(sheet.Buttons()->button(QDialogButtonBox::Apply), nullptr);

  second->valid = false;
  EXPECT_FALSE(sheet.SetActivePage(0));
  EXPECT_EQ(sheet.GetActiveIndex(), 1);
  sheet.Tabs()->setCurrentIndex(0);  // a click on the tab
  EXPECT_EQ(sheet.GetActiveIndex(), 1);
  // OK is refused as well.
  sheet.open();
  sheet.accept();
  EXPECT_TRUE(sheet.isVisible());
  EXPECT_EQ(second->oks, 0);

  second->valid = true;
  EXPECT_TRUE(sheet.SetActivePage(0));
  EXPECT_EQ(sheet.GetActivePage(), first);
  sheet.accept();
  EXPECT_FALSE(sheet.isVisible());
  EXPECT_EQ(sheet.result(), IDOK);
}

// ===========================================================================
// Message box
// ===========================================================================

QString Joined(const CNorvMessageBox::Cell& cell) {
  QString s;
  for (const auto& run : cell.runs) s += run.text;
  return s;
}

TEST_F(DialogsTest, MessageBoxTextCodes) {
  auto lines = CNorvMessageBox::ParseText(QStringLiteral("Fish && chips"));
  ASSERT_EQ(lines.size(), 1u);
  ASSERT_EQ(lines[0].cells[0].runs.size(), 1u);
  EXPECT_EQ(lines[0].cells[0].runs[0].text, QStringLiteral("Fish & chips"));

  lines = CNorvMessageBox::ParseText(QStringLiteral("a &Bbold-on;word&bx; z"));
  ASSERT_EQ(lines[0].cells[0].runs.size(), 3u);
  const auto& runs = lines[0].cells[0].runs;
  EXPECT_EQ(runs[0].text, QStringLiteral("a "));
  EXPECT_EQ(runs[0].style, 0);
  EXPECT_EQ(runs[1].text, QStringLiteral("word"));
  EXPECT_EQ(runs[1].style, CNorvMessageBox::Bold);
  EXPECT_EQ(runs[2].text, QStringLiteral(" z"));
  EXPECT_EQ(runs[2].style, 0);

  // Styles combine and carry over tabs and lines; &1..&4 draw nothing; a
  // code never swallows the next line; an unknown code is text.
  lines = CNorvMessageBox::ParseText(QStringLiteral("&I;&U;a\tb&2;c\n&i;d&Q e &B"));
  ASSERT_EQ(lines.size(), 2u);
  EXPECT_EQ(lines[0].cells[0].runs[0].style, CNorvMessageBox::Italic | CNorvMessageBox::Underline);
  EXPECT_EQ(Joined(lines[0].cells[1]), QStringLiteral("bc"));
  EXPECT_EQ(lines[0].cells[1].runs[0].style, CNorvMessageBox::Italic | CNorvMessageBox::Underline);
  EXPECT_EQ(Joined(lines[1].cells[0]), QStringLiteral("d&Q e "));
  EXPECT_EQ(lines[1].cells[0].runs[0].style, CNorvMessageBox::Underline);
}

// The leftmost dark pixel at or right of `fromX` in the rows of `band`.
int FirstInk(const QImage& image, int fromX, int top, int bottom) {
  for (int x = fromX; x < image.width(); ++x)
    for (int y = top; y < bottom; ++y)
      if (qGray(image.pixel(x, y)) < 100) return x;
  return -1;
}

TEST_F(DialogsTest, MessageBoxAlignsTabColumnsAcrossLines) {
  CNorvMessageBox box(L"ab\tXcell\nmuch longer first\tXother", L"Caption", MB_OK);
  const auto& lines = box.Lines();
  ASSERT_EQ(lines.size(), 2u);
  ASSERT_EQ(box.ColumnWidths().size(), 2u);
  EXPECT_EQ(box.ColumnWidths()[0], std::max(lines[0].cells[0].width, lines[1].cells[0].width));
  EXPECT_GE(box.ColumnX(1), lines[1].cells[0].width);

  // Drawn: both second cells start at the same place.
  box.show();
  const QImage image = box.grab().toImage();
  const QRect text = box.TextRect();
  const int firstBottom = text.top() + lines[0].height;
  const int secondX = text.left() + box.ColumnX(1);
  const int a = FirstInk(image, text.left() + lines[0].cells[0].width + 1, text.top(), firstBottom);
  const int b = FirstInk(image, text.left() + lines[1].cells[0].width + 1, firstBottom,
                         firstBottom + lines[1].height);
  ASSERT_GE(a, secondX);
  EXPECT_EQ(a, b);
  EXPECT_GE(box.width(), text.right());
}

TEST_F(DialogsTest, MessageBoxButtonsOrderDefaultAndIcon) {
  EXPECT_EQ(CNorvMessageBox::ButtonsFor(MB_RETRYCANCEL), (std::vector<int>{IDCANCEL, IDRETRY}));
  EXPECT_EQ(CNorvMessageBox::ButtonsFor(MB_YESNOCANCEL), (std::vector<int>{IDYES, IDNO, IDCANCEL}));
  EXPECT_EQ(CNorvMessageBox::ButtonsFor(MB_ABORTRETRYIGNORE),
            (std::vector<int>{IDABORT, IDRETRY, IDIGNORE}));
  EXPECT_TRUE(CNorvMessageBox::ButtonsFor(9).empty());
  EXPECT_EQ(CNorvMessageBox::DefaultButtonFor(MB_RETRYCANCEL), IDCANCEL);
  EXPECT_EQ(CNorvMessageBox::DefaultButtonFor(MB_YESNOCANCEL | MB_DEFBUTTON3), IDCANCEL);
  EXPECT_EQ(CNorvMessageBox::DefaultButtonFor(MB_YESNO | MB_DEFBUTTON3), IDYES);

  CNorvMessageBox box(L"Really?", L"Caption", MB_YESNOCANCEL | MB_ICONQUESTION | MB_DEFBUTTON2);
  EXPECT_EQ(box.ShownButtons(), (std::vector<int>{IDYES, IDNO, IDCANCEL}));
  EXPECT_TRUE(box.Button(IDNO)->isDefault());
  EXPECT_FALSE(box.Button(IDYES)->isDefault());
  EXPECT_FALSE(box.IconLabel()->isHidden());
  // The row is centred in order, 8 pixels apart.
  EXPECT_EQ(box.Button(IDNO)->x(), box.Button(IDYES)->x() + box.Button(IDYES)->width() + 8);
  Soon([&] { box.Button(IDNO)->click(); });
  EXPECT_EQ(box.DoModal(), IDNO);

  CNorvMessageBox noIcon(L"Plain", L"Caption", 0x50);
  EXPECT_TRUE(noIcon.IconLabel()->isHidden());
  // Yes/No cannot be escaped; OK alone answers OK.
  CNorvMessageBox yesNo(L"?", L"Caption", MB_YESNO);
  yesNo.open();
  yesNo.reject();
  EXPECT_TRUE(yesNo.isVisible());
  yesNo.Button(IDYES)->click();
  EXPECT_EQ(yesNo.result(), IDYES);
  CNorvMessageBox okOnly(L"!", L"Caption", MB_OK);
  okOnly.open();
  okOnly.reject();
  EXPECT_EQ(okOnly.result(), IDOK);
}

TEST_F(DialogsTest, InstalledHookAnswersWithTheDefaultButtonWithoutAScreen) {
  NorvInstallMessageBoxDialog();
  EXPECT_EQ(NorvAppMessageBox(L"Retry?", MB_RETRYCANCEL | MB_DEFBUTTON2), IDRETRY);
  EXPECT_EQ(NorvAppMessageBox(L"Delete?", MB_YESNO), IDYES);
}

// ===========================================================================
// Combo boxes
// ===========================================================================

TEST_F(DialogsTest, ComboBoxExSortsEntriesWithImagesIgnoringCase) {
  CDialogTestItem beta(L"b", L"beta", 1), alpha(L"a", L"Alpha", 2), gamma(L"g", L"gamma", 3);
  CDialogTestItem plain(L"p", L"aardvark");  // no image: appended
  CNorvTLItemList list;
  for (CDialogTestItem* item : {&beta, &alpha, &gamma, &plain}) list.AddTail(item);
  CNorvComboBoxEx box;
  EXPECT_EQ(box.AddListSorted(&list, L"g"), 2);
  ASSERT_EQ(box.count(), 4);
  EXPECT_EQ(box.itemText(0), QStringLiteral("Alpha"));
  EXPECT_EQ(box.itemText(1), QStringLiteral("beta"));
  EXPECT_EQ(box.itemText(2), QStringLiteral("gamma"));
  EXPECT_EQ(box.itemText(3), QStringLiteral("aardvark"));
  EXPECT_EQ(box.GetSelectedItem(), &gamma);
  EXPECT_EQ(box.GetItem(0), &alpha);
  EXPECT_EQ(box.itemData(1, CNorvComboBox::ImageRole).toInt(), 1);
  EXPECT_EQ(box.itemData(3, CNorvComboBox::ImageRole).toInt(), -1);
}

TEST_F(DialogsTest, ComboBoxFindsSelectsAndReportsItsEdit) {
  CDialogTestItem one(L"1", L"Apple"), two(L"2", L"apricot"), three(L"3", L"Banana");
  CNorvTLItemList list;
  list.AddTail(&one);
  list.AddTail(&two);
  list.AddTail(&three);
  CNorvComboBox box;
  // Nothing matched: the box's own selection (a drop list selects its
  // first entry).
  EXPECT_EQ(box.AddList(&list, L"none"), 0);
  EXPECT_EQ(box.AddList(&list, L"2"), 4);  // the second round's "apricot"
  box.clear();
  box.AddList(&list, L"3");
  EXPECT_EQ(box.GetSelectedItem(), &three);

  EXPECT_EQ(box.FindItem(L"AP"), &one);
  EXPECT_EQ(box.FindItem(L"ap", 0), &two);  // searching starts after entry 0
  EXPECT_EQ(box.FindItem(L"ap", 1), &one);  // and wraps round
  EXPECT_EQ(box.FindItemExact(L"ap"), nullptr);
  EXPECT_EQ(box.FindItemExact(L"BANANA"), &three);
  EXPECT_EQ(box.SelectItem(L"APRICOT"), &two);
  EXPECT_EQ(box.currentIndex(), 1);
  EXPECT_EQ(box.SelectItem(L"cherry"), nullptr);

  NorvString text;
  EXPECT_EQ(box.GetSelectedItem(text), &two);
  EXPECT_EQ(text, L"apricot");
  EXPECT_FALSE(box.SetEdit(L"x"));  // a drop list has no edit field
  box.setEditable(true);
  box.setCurrentIndex(-1);
  EXPECT_TRUE(box.SetEdit(L"typed"));
  EXPECT_EQ(box.GetSelectedItem(text), nullptr);
  EXPECT_EQ(text, L"typed");

  EXPECT_EQ(box.AddItem(&one, TRUE), 3);
  EXPECT_EQ(box.currentIndex(), 3);
  box.setMaxCount(4);
  EXPECT_EQ(box.AddString(L"full", &two), -1);
}

class MenuAnsweringCombo : public CNorvComboBoxEx {
 public:
  UINT TrackMenu(const CNorvMenu& menu, const QPoint&) override {
    shownEntries = menu.GetItemCount();
    return answer;
  }
  UINT answer = 41001;
  int shownEntries = -1;
};

TEST_F(DialogsTest, ComboBoxExSendsTheControlMenuChoiceToTheSelectedItem) {
  CDialogTestItem one(L"1", L"one", 0), two(L"2", L"two", 0);
  CNorvTLItemList list;
  list.AddTail(&one);
  list.AddTail(&two);
  MenuAnsweringCombo box;
  box.setEditable(true);
  box.InitControl();
  box.AddList(&list, L"2");
  EXPECT_EQ(box.ShowContextMenu(QPoint(1, 1)), 41001u);
  EXPECT_EQ(two.menuType, CTRL_COMBOBOX);
  ASSERT_EQ(two.commands, (std::vector<UINT>{41001}));
  EXPECT_EQ(two.listCount, 1);
  EXPECT_EQ(two.listHead, &two);
  EXPECT_TRUE(one.commands.empty());
  // A right click on the edit field opens the same menu.
  box.answer = 41002;
  QTest::mouseClick(box.lineEdit(), Qt::RightButton);
  EXPECT_EQ(two.commands, (std::vector<UINT>{41001, 41002}));
  // Cancelling the menu sends nothing.
  box.answer = 0;
  EXPECT_EQ(box.ShowContextMenu(QPoint(1, 1)), 0u);
  EXPECT_EQ(two.commands.size(), 2u);
}

// ===========================================================================
// Column filter dialog
// ===========================================================================

const NorvStringList kNames = {L"Name", L"Size", L"Type"};
const NorvUIntArray kIds = {1, 3, 7};

NorvString Record(UINT id, bool enabled, UINT mode, const NorvString& pattern) {
  NorvFilterRecord r;
  r.columnId = id;
  r.enabled = enabled;
  r.mode = mode;
  r.pattern = pattern;
  return NorvFormatFilterRecord(r);
}

TEST_F(DialogsTest, FilterDialogKeepsPatternsWithQuotesAndBackslashes) {
  const NorvString tricky = L"a\"b\\c\\\"d\\";
  const NorvString original = Record(3, true, 0, tricky) + Record(1, false, 2, L"^x\\.y$");
  NorvString text = original;
  CColumnFilter dialog(kNames, kIds, text);
  dialog.EnsureInitialized();
  ASSERT_EQ(dialog.FilterList()->count(), 2);
  EXPECT_EQ(dialog.FilterList()->GetLineText(0), L"Size\tMatches pattern\t" + tricky);
  EXPECT_TRUE(dialog.FilterList()->GetCheck(0));
  EXPECT_FALSE(dialog.FilterList()->GetCheck(1));  // disabled, but kept
  EXPECT_TRUE(dialog.ClearButton()->isEnabled());
  dialog.accept();
  EXPECT_EQ(dialog.result(), IDOK);
  EXPECT_EQ(text, original);
  EXPECT_EQ(NorvParseFilterRecords(text)[0].pattern, tricky);
}

TEST_F(DialogsTest, FilterDialogDropsRecordsItCannotShow) {
  NorvString text = Record(9, true, 0, L"gone") + Record(3, true, 3, L"odd mode") +
                    L"$7,01,1,\"token\" " + Record(1, true, 1, L"*.tmp") + L"$3,1,0,\"broken";
  CColumnFilter dialog(kNames, kIds, text);
  dialog.EnsureInitialized();
  ASSERT_EQ(dialog.FilterList()->count(), 2);
  // The enabled token must be exactly "1" for the line to be checked.
  EXPECT_EQ(dialog.FilterList()->GetLineText(0), L"Type\tDoes not match pattern\ttoken");
  EXPECT_FALSE(dialog.FilterList()->GetCheck(0));
  EXPECT_TRUE(dialog.FilterList()->GetCheck(1));
  dialog.accept();
  EXPECT_EQ(text, Record(7, false, 1, L"token") + Record(1, true, 1, L"*.tmp"));
}

TEST_F(DialogsTest, FilterDialogAddEditClearAndTheColumnCheck) {
  NorvString text;
  CColumnFilter dialog(kNames, kIds, text);
  dialog.EnsureInitialized();
  EXPECT_FALSE(dialog.ModeCombo()->isEnabled());
  EXPECT_FALSE(dialog.PatternEdit()->isEnabled());
  EXPECT_FALSE(dialog.AddButton()->isEnabled());
  EXPECT_FALSE(dialog.ClearButton()->isEnabled());
  EXPECT_EQ(dialog.ModeCombo()->count(), 3);

  dialog.OnColumnChosen(1);
  EXPECT_EQ(dialog.ColumnEdit()->text(), QStringLiteral("Size"));
  EXPECT_EQ(dialog.ModeCombo()->currentIndex(), 0);
  EXPECT_TRUE(dialog.PatternEdit()->isEnabled());
  EXPECT_FALSE(dialog.ExpressionButton()->isEnabled());
  dialog.ModeCombo()->setCurrentIndex(2);
  EXPECT_TRUE(dialog.ExpressionButton()->isEnabled());
  dialog.PatternEdit()->setText(QStringLiteral("ab"));
  EXPECT_TRUE(dialog.AddButton()->isEnabled());
  EXPECT_TRUE(dialog.AddButton()->isDefault());
  dialog.PatternEdit()->selectAll();
  dialog.InsertExpression(L"[^] none of the characters");
  EXPECT_EQ(dialog.PatternEdit()->text(), QStringLiteral("[^]"));
  dialog.PatternEdit()->undo();
  EXPECT_EQ(dialog.PatternEdit()->text(), QStringLiteral("ab"));

  dialog.OnAdd();
  ASSERT_EQ(dialog.FilterList()->count(), 1);
  EXPECT_EQ(dialog.FilterList()->GetLineText(0), L"Size\tContains regular expression\tab");
  EXPECT_TRUE(dialog.FilterList()->GetCheck(0));
  EXPECT_TRUE(dialog.ColumnEdit()->text().isEmpty());
  EXPECT_FALSE(dialog.ModeCombo()->isEnabled());
  EXPECT_FALSE(dialog.ExpressionButton()->isEnabled());
  EXPECT_TRUE(dialog.ClearButton()->isEnabled());

  // Edit takes the line back into the fields.
  dialog.FilterList()->setCurrentRow(0);
  EXPECT_TRUE(dialog.EditButton()->isEnabled());
  dialog.OnEdit();
  EXPECT_EQ(dialog.FilterList()->count(), 0);
  EXPECT_EQ(dialog.ColumnEdit()->text(), QStringLiteral("Size"));
  EXPECT_EQ(dialog.ModeCombo()->currentIndex(), 2);
  EXPECT_EQ(dialog.PatternEdit()->text(), QStringLiteral("ab"));

  // A name that is no column is refused on the way to the mode.
  dialog.ColumnEdit()->setText(QStringLiteral("Sise"));
  EXPECT_FALSE(dialog.OnModeFocus());
  ASSERT_EQ(Messages().texts.size(), 1u);
  EXPECT_NE(Messages().texts[0].find(L"no column"), NorvString::npos);
  const int lines = dialog.FilterList()->count();
  dialog.OnAdd();  // nor can it be added
  EXPECT_EQ(dialog.FilterList()->count(), lines);

  dialog.ColumnEdit()->setText(QStringLiteral("Name"));
  dialog.OnAdd();
  dialog.OnClear();
  EXPECT_EQ(dialog.FilterList()->count(), 0);
  EXPECT_FALSE(dialog.ClearButton()->isEnabled());
  EXPECT_FALSE(dialog.EditButton()->isEnabled());
}

TEST_F(DialogsTest, FilterDialogAsksAboutAPendingPatternOnOk) {
  const NorvString original = Record(1, true, 0, L"a*");
  NorvString text = original;
  CColumnFilter dialog(kNames, kIds, text);
  dialog.EnsureInitialized();
  dialog.open();
  dialog.OnColumnChosen(2);
  dialog.PatternEdit()->setText(QStringLiteral("*.txt"));

  Messages().answer = IDCANCEL;  // stay
  dialog.accept();
  EXPECT_TRUE(dialog.isVisible());
  EXPECT_EQ(text, original);
  ASSERT_EQ(Messages().types.size(), 1u);
  EXPECT_EQ(Messages().types[0] & MB_TYPEMASK, MB_YESNOCANCEL);

  Messages().answer = IDYES;  // add it first
  dialog.accept();
  EXPECT_FALSE(dialog.isVisible());
  EXPECT_EQ(text, original + Record(7, true, 0, L"*.txt"));

  NorvString other = original;
  CColumnFilter discard(kNames, kIds, other);
  discard.EnsureInitialized();
  discard.OnColumnChosen(0);
  discard.PatternEdit()->setText(QStringLiteral("x"));
  Messages().answer = IDNO;  // discard it
  discard.accept();
  EXPECT_EQ(discard.result(), IDOK);
  EXPECT_EQ(other, original);
}

TEST_F(DialogsTest, TabStopsAreDialogUnitsAndMustIncrease) {
  CTabCheckListBox list;
  const int good[] = {60, 120};
  EXPECT_TRUE(list.SetTabStops(2, good));
  const int average = list.fontMetrics().averageCharWidth();
  EXPECT_EQ(list.TabStopsInPixels(), (std::vector<int>{60 * average / 4, 120 * average / 4}));
  const int bad[] = {120, 60};
  EXPECT_FALSE(list.SetTabStops(2, bad));
  EXPECT_EQ(list.TabStopsInPixels().size(), 2u);  // unchanged
}

// ===========================================================================
// Column settings dialog
// ===========================================================================

UINT Neg(int w) { return static_cast<UINT>(-w); }

std::vector<int> Columns(const CColumnSettings& dialog) {
  std::vector<int> columns;
  for (int i = 0; i < dialog.ColumnList()->count(); ++i) columns.push_back(dialog.LineColumn(i));
  return columns;
}

TEST_F(DialogsTest, SettingsDialogMovesBlocksAndRebuildsWidthsAndOrder) {
  const NorvStringList names = {L"A", L"B", L"C", L"D"};
  NorvUIntArray widths = {100, Neg(50), 80, 60};
  NorvUIntArray order = {2, 0, 1};  // shown: D, A, C
  CColumnSettings dialog(names, widths, order);
  dialog.EnsureInitialized();
  CTabCheckListBox* list = dialog.ColumnList();
  EXPECT_EQ(Columns(dialog), (std::vector<int>{3, 0, 2, 1}));
  EXPECT_TRUE(list->GetCheck(0));
  EXPECT_FALSE(list->GetCheck(3));
  EXPECT_TRUE(list->item(0)->isSelected());
  EXPECT_FALSE(dialog.UpButton()->isEnabled());
  EXPECT_TRUE(dialog.DownButton()->isEnabled());
  EXPECT_TRUE(dialog.HideButton()->isEnabled());
  EXPECT_FALSE(dialog.ShowButton()->isEnabled());

  // A block of two (C, B) with only A above it moves up by one, twice,
  // then stays at the top.
  list->clearSelection();
  list->item(2)->setSelected(true);
  list->item(3)->setSelected(true);
  EXPECT_TRUE(dialog.ShowButton()->isEnabled());
  EXPECT_TRUE(dialog.HideButton()->isEnabled());
  EXPECT_FALSE(dialog.DownButton()->isEnabled());
  dialog.OnMoveUp();
  EXPECT_EQ(Columns(dialog), (std::vector<int>{3, 2, 1, 0}));
  EXPECT_TRUE(list->item(1)->isSelected());
  EXPECT_TRUE(list->item(2)->isSelected());
  EXPECT_FALSE(list->GetCheck(2));  // B kept its check state
  dialog.OnMoveUp();
  EXPECT_EQ(Columns(dialog), (std::vector<int>{2, 1, 3, 0}));
  EXPECT_FALSE(dialog.UpButton()->isEnabled());
  dialog.OnMoveUp();
  EXPECT_EQ(Columns(dialog), (std::vector<int>{2, 1, 3, 0}));
  dialog.OnMoveDown();
  EXPECT_EQ(Columns(dialog), (std::vector<int>{3, 2, 1, 0}));
  dialog.OnMoveUp();

  dialog.OnShow();  // B shown
  list->clearSelection();
  list->item(3)->setSelected(true);
  dialog.OnHide();  // A hidden
  dialog.accept();
  EXPECT_EQ(dialog.result(), IDOK);
  EXPECT_EQ(widths, (NorvUIntArray{Neg(100), 50, 80, 60}));
  // C, B, D in that order; their places among the visible B, C, D.
  EXPECT_EQ(order, (NorvUIntArray{1, 0, 2}));
}

TEST_F(DialogsTest, SettingsDialogWithEveryColumnHiddenListsThemAllUnchecked) {
  const NorvStringList names = {L"A", L"B", L"C"};
  NorvUIntArray widths = {Neg(10), Neg(20), 0u - 30u};
  NorvUIntArray order;
  CColumnSettings dialog(names, widths, order);
  dialog.EnsureInitialized();
  EXPECT_EQ(Columns(dialog), (std::vector<int>{0, 1, 2}));
  for (int i = 0; i < 3; ++i) EXPECT_FALSE(dialog.ColumnList()->GetCheck(i));
  EXPECT_TRUE(dialog.ShowButton()->isEnabled());
  EXPECT_FALSE(dialog.HideButton()->isEnabled());
  // Cancel changes nothing.
  dialog.reject();
  EXPECT_EQ(dialog.result(), IDCANCEL);
  EXPECT_EQ(widths, (NorvUIntArray{Neg(10), Neg(20), Neg(30)}));
}

TEST_F(DialogsTest, SettingsDialogIgnoresOrderEntriesThatDoNotFit) {
  const NorvStringList names = {L"A", L"B", L"C"};
  NorvUIntArray widths = {10, 20, 0};
  NorvUIntArray order = {5, 1, 1};  // out of range, then a repeat
  CColumnSettings dialog(names, widths, order);
  dialog.EnsureInitialized();
  EXPECT_EQ(Columns(dialog), (std::vector<int>{1, 0, 2}));
  dialog.accept();
  EXPECT_EQ(order, (NorvUIntArray{1, 0, 2}));
  EXPECT_EQ(widths, (NorvUIntArray{10, 20, 0}));  // a width of 0 stays 0
}

TEST_F(DialogsTest, SettingsDialogSurvivesTheMostNegativeWidth) {
  const NorvStringList names = {L"A"};
  NorvUIntArray widths = {0x80000000u};
  NorvUIntArray order;
  CColumnSettings dialog(names, widths, order);
  dialog.EnsureInitialized();
  dialog.OnShow();
  dialog.accept();
  EXPECT_EQ(widths, (NorvUIntArray{0x7FFFFFFFu}));
  EXPECT_EQ(order, (NorvUIntArray{0}));
}

}  // namespace

int main(int argc, char** argv) {
  setenv("QT_QPA_PLATFORM", "offscreen", 0);
  const std::string scratch =
      (std::filesystem::temp_directory_path() / ("norv-dialogs-" + std::to_string(getpid())))
          .string();
  std::filesystem::create_directories(scratch + "/registry");
  std::filesystem::create_directories(scratch + "/runtime");
  setenv("NORV_REGISTRY_DIR", (scratch + "/registry").c_str(), 0);
  setenv("NORV_RUNTIME_DIR", (scratch + "/runtime").c_str(), 0);
  QApplication app(argc, argv);
  CNorvPrivateRegistryKey::SetRegistryKey(L"Velmora\\NORV2.1");
  ::testing::InitGoogleTest(&argc, argv);
  if (HMODULE texts = plat::LoadResourceModule(HOST_TEXTS)) plat::SetHostResourceModule(texts);
  const int rc = RUN_ALL_TESTS();
  std::filesystem::remove_all(scratch);
  return rc;
}
