// Menus with toolbar images and accelerator texts, offscreen.
#include <gtest/gtest.h>
#include <stdlib.h>

#include <QAction>
#include <QApplication>
#include <QMainWindow>
#include <QMenu>
#include <QMenuBar>
#include <QSignalSpy>
#include <QTest>
#include <vector>

#include "CoolMenuManager.h"
#include "NorvQtMenu.h"
#include "PushDownButton.h"
#include "platform/resources.h"

namespace {

// A toolbar resource: version 1, image width and height, count, ids.
std::vector<BYTE> Toolbar(int width, int height, const std::vector<UINT>& ids) {
  std::vector<BYTE> data;
  auto put = [&data](UINT v) {
    data.push_back(static_cast<BYTE>(v & 0xFF));
    data.push_back(static_cast<BYTE>((v >> 8) & 0xFF));
  };
  put(1);
  put(static_cast<UINT>(width));
  put(static_cast<UINT>(height));
  put(static_cast<UINT>(ids.size()));
  for (UINT id : ids) put(id);
  return data;
}

// A strip of solid images, one colour each.
QImage Strip(int width, int height, const std::vector<QColor>& colours) {
  QImage strip(width * static_cast<int>(colours.size()), height, QImage::Format_ARGB32);
  for (std::size_t i = 0; i < colours.size(); ++i)
    for (int y = 0; y < height; ++y)
      for (int x = 0; x < width; ++x)
        strip.setPixelColor(static_cast<int>(i) * width + x, y, colours[i]);
  return strip;
}

QColor CentreOf(const QIcon& icon, const QSize& size) {
  const QImage image = icon.pixmap(size).toImage();
  return image.pixelColor(image.width() / 2, image.height() / 2);
}

QAction* AddCommand(QMenu* menu, const QString& text, UINT command) {
  QAction* action = menu->addAction(text);
  action->setData(command);
  return action;
}

void Settle() {
  for (int i = 0; i < 5; ++i) QCoreApplication::processEvents();
}

TEST(CoolMenuToolbars, ImagesMappedInOrderFirstImageKeptOtherSizeRefused) {
  CCoolMenuManager manager;
  const auto first = Toolbar(16, 15, {100, 0, 101});
  ASSERT_TRUE(
      manager.LoadToolbarData(first.data(), first.size(), Strip(16, 15, {Qt::red, Qt::green})));
  EXPECT_EQ(manager.ImageSize(), QSize(16, 15));
  EXPECT_EQ(manager.ButtonSize(), QSize(18, 17));
  EXPECT_EQ(manager.CommandImage(100), 0);
  EXPECT_EQ(manager.CommandImage(101), 1);

  // 101 appears again: it keeps the first toolbar's image; 102 takes the
  // image after it.
  const auto second = Toolbar(16, 15, {101, 102});
  ASSERT_TRUE(
      manager.LoadToolbarData(second.data(), second.size(), Strip(16, 15, {Qt::blue, Qt::yellow})));
  EXPECT_EQ(manager.CommandImage(101), 1);
  EXPECT_EQ(CentreOf(manager.CommandIcon(101), {16, 15}), QColor(Qt::green));
  EXPECT_EQ(CentreOf(manager.CommandIcon(102), {16, 15}), QColor(Qt::yellow));

  // Another image size is refused and changes nothing.
  const auto other = Toolbar(20, 20, {103});
  EXPECT_FALSE(manager.LoadToolbarData(other.data(), other.size(), Strip(20, 20, {Qt::black})));
  EXPECT_EQ(manager.CommandImage(103), -1);
  EXPECT_EQ(manager.ImageCount(), 4);

  // A header that promises more ids than it holds is refused.
  auto cut = Toolbar(16, 15, {104, 105});
  cut.resize(cut.size() - 1);
  EXPECT_FALSE(manager.LoadToolbarData(cut.data(), cut.size(), Strip(16, 15, {Qt::black})));
  EXPECT_EQ(manager.CommandImage(104), -1);
}

TEST(CoolMenuToolbars, MissingOrShortStripGivesPlaceholders) {
  CCoolMenuManager manager;
  const auto bar = Toolbar(16, 16, {200, 201, 202});
  // One image for three buttons: the others get placeholders.
  ASSERT_TRUE(manager.LoadToolbarData(bar.data(), bar.size(), Strip(16, 16, {Qt::red})));
  EXPECT_EQ(CentreOf(manager.CommandIcon(200), {16, 16}), QColor(Qt::red));
  EXPECT_FALSE(manager.CommandIcon(201).isNull());
  EXPECT_FALSE(manager.CommandIcon(202).isNull());
  // No strip at all.
  const auto more = Toolbar(16, 16, {203});
  ASSERT_TRUE(manager.LoadToolbarData(more.data(), more.size(), QImage()));
  EXPECT_FALSE(manager.CommandIcon(203).isNull());
  EXPECT_EQ(manager.ImageCount(), 4);
}

TEST(CoolMenuToolbars, FrameLoadsTheHostToolbar) {
  QMainWindow frame;
  CCoolMenuManager* manager = CCoolMenuManager::InstallOnFrame(&frame);
  ASSERT_NE(manager, nullptr);
  EXPECT_EQ(CCoolMenuManager::ForFrame(&frame), manager);
  EXPECT_EQ(CCoolMenuManager::InstallOnFrame(&frame), manager);
  EXPECT_EQ(manager->ImageSize(), QSize(16, 16));
  EXPECT_GE(manager->CommandImage(35000), 0);  // refresh
  EXPECT_GE(manager->CommandImage(35170), 0);  // help
  EXPECT_EQ(manager->CommandImage(35001), -1);
}

class CoolMenuFixture : public ::testing::Test {
 protected:
  void SetUp() override {
    frame.resize(400, 300);
    menu = frame.menuBar()->addMenu(QStringLiteral("&View"));
    refresh = AddCommand(menu, QStringLiteral("&Refresh"), 35000);
    plain = AddCommand(menu, QStringLiteral("&Plain"), 999);
    keyed = AddCommand(menu, QStringLiteral("&Up\tBackspace"), 35016);
    manager = new CCoolMenuManager(&frame);
    manager->Install(&frame);
    const auto bar = Toolbar(16, 16, {35000, 35016});
    manager->LoadToolbarData(bar.data(), bar.size(), Strip(16, 16, {Qt::red, Qt::blue}));
    manager->SetAccelerator(35000, QKeySequence(Qt::Key_F5));
    manager->SetAccelerator(35016, QKeySequence(Qt::ALT | Qt::Key_Up));
    frame.show();
    QApplication::setActiveWindow(&frame);
    Settle();
  }
  void Open(QMenu* m) {
    m->popup(frame.mapToGlobal(QPoint(20, 40)));
    Settle();
    ASSERT_TRUE(m->isVisible());
  }

  QMainWindow frame;
  QMenu* menu = nullptr;
  QAction* refresh = nullptr;
  QAction* plain = nullptr;
  QAction* keyed = nullptr;
  CCoolMenuManager* manager = nullptr;
};

TEST_F(CoolMenuFixture, AcceleratorAndImageShownWhileOpenThenRestored) {
  Open(menu);
  EXPECT_TRUE(manager->IsConverted(menu));
  EXPECT_EQ(refresh->text(), QStringLiteral("&Refresh\t") +
                                 QKeySequence(Qt::Key_F5).toString(QKeySequence::NativeText));
  EXPECT_EQ(CentreOf(refresh->icon(), {16, 16}), QColor(Qt::red));
  EXPECT_EQ(plain->text(), QStringLiteral("&Plain"));
  EXPECT_TRUE(plain->icon().isNull());
  // A text that already names its key keeps it (and gets its image).
  EXPECT_EQ(keyed->text(), QStringLiteral("&Up\tBackspace"));
  EXPECT_FALSE(keyed->icon().isNull());

  menu->hide();
  Settle();
  EXPECT_FALSE(manager->IsConverted(menu));
  EXPECT_EQ(refresh->text(), QStringLiteral("&Refresh"));
  EXPECT_TRUE(refresh->icon().isNull());
  EXPECT_EQ(keyed->text(), QStringLiteral("&Up\tBackspace"));

  // Opened again: converted again, once.
  Open(menu);
  EXPECT_EQ(refresh->text().count(QLatin1Char('\t')), 1);
  menu->hide();
  Settle();

  // A text the owner changed while the menu was open stays.
  Open(menu);
  refresh->setText(QStringLiteral("&Reload"));
  menu->hide();
  Settle();
  EXPECT_EQ(refresh->text(), QStringLiteral("&Reload"));
}

TEST_F(CoolMenuFixture, ContextMenusOfTheFrameAreConvertedOthersNot) {
  QMenu popup(&frame);
  QAction* action = AddCommand(&popup, QStringLiteral("&Refresh"), 35000);
  Open(&popup);
  EXPECT_TRUE(action->text().endsWith(QKeySequence(Qt::Key_F5).toString(QKeySequence::NativeText)));
  popup.hide();
  Settle();
  EXPECT_EQ(action->text(), QStringLiteral("&Refresh"));

  QWidget elsewhere;
  QMenu foreign(&elsewhere);
  QAction* other = AddCommand(&foreign, QStringLiteral("&Refresh"), 35000);
  foreign.popup(QPoint(10, 10));
  Settle();
  EXPECT_EQ(other->text(), QStringLiteral("&Refresh"));
  EXPECT_TRUE(other->icon().isNull());
  foreign.hide();
}

TEST_F(CoolMenuFixture, SharedLetterCyclesUniqueLetterExecutes) {
  QMenu popup(&frame);
  QAction* copy = AddCommand(&popup, QStringLiteral("&Copy"), 1);
  QAction* paste = AddCommand(&popup, QStringLiteral("&Paste"), 2);
  QAction* cut = AddCommand(&popup, QStringLiteral("&Cut"), 3);
  QAction* off = AddCommand(&popup, QStringLiteral("&Close"), 4);
  off->setEnabled(false);
  AddCommand(&popup, QStringLiteral("Fish && &chips"), 5);
  QSignalSpy triggered(&popup, &QMenu::triggered);
  Open(&popup);

  // From the highlighted "Paste" the next match is "Cut", not the first.
  popup.setActiveAction(paste);
  QTest::keyClick(&popup, Qt::Key_C);
  EXPECT_EQ(popup.activeAction(), cut);
  QTest::keyClick(&popup, Qt::Key_C);
  EXPECT_EQ(popup.activeAction(), popup.actions().at(4));  // "Fish && &chips"
  QTest::keyClick(&popup, Qt::Key_C, Qt::ShiftModifier);   // either case; wraps
  EXPECT_EQ(popup.activeAction(), copy);
  EXPECT_EQ(triggered.count(), 0);
  EXPECT_TRUE(popup.isVisible());

  // A unique letter executes its entry at once and closes the menu.
  QTest::keyClick(&popup, Qt::Key_P);
  Settle();
  ASSERT_EQ(triggered.count(), 1);
  EXPECT_EQ(NorvActionCommand(triggered.at(0).at(0).value<QAction*>()), 2u);
  EXPECT_FALSE(popup.isVisible());
}

// The box around the near-black pixels of `image` inside `area`.
QRect DarkBox(const QImage& image, const QRect& area) {
  QRect box;
  for (int y = area.top(); y <= area.bottom(); ++y)
    for (int x = area.left(); x <= area.right(); ++x)
      if (qGray(image.pixel(x, y)) < 60) box |= QRect(x, y, 1, 1);
  return box;
}

TEST(PushDownButton, ArrowAtTheRightEdgeMovesWhenPressedAndGreysWhenDisabled) {
  CPushDownButton button(QStringLiteral("Views"));
  button.resize(90, 26);
  button.show();
  Settle();
  const QRect arrow = CPushDownButton::ArrowRect(button.size());
  EXPECT_EQ(arrow.right(), 90 - 1 - CPushDownButton::kArrowMargin);
  EXPECT_EQ(CPushDownButton::TextRect(button.size()).left(), CPushDownButton::kTextMargin);
  const QRect search = arrow.adjusted(-3, -3, 3, 3);
  const QRect up = DarkBox(button.grab().toImage(), search);
  ASSERT_FALSE(up.isEmpty());
  EXPECT_TRUE(arrow.contains(up));
  EXPECT_EQ(arrow.top(), (26 - CPushDownButton::kArrowHeight) / 2);  // centred
  EXPECT_EQ(up.top(), arrow.top());

  button.setDown(true);
  const QRect down = DarkBox(button.grab().toImage(), search);
  EXPECT_EQ(down, up.translated(1, 1));

  button.setDown(false);
  button.setEnabled(false);
  EXPECT_TRUE(DarkBox(button.grab().toImage(), search).isEmpty());

  // The focus rectangle: 3 pixels in, a quarter of the side on small ones.
  EXPECT_EQ(CPushDownButton::FocusRect({90, 26}), QRect(3, 3, 84, 20));
  EXPECT_EQ(CPushDownButton::FocusRect({40, 12}), QRect(3, 3, 34, 6));
  EXPECT_EQ(CPushDownButton::FocusRect({8, 8}), QRect(2, 2, 4, 4));
}

}  // namespace

int main(int argc, char** argv) {
  setenv("QT_QPA_PLATFORM", "offscreen", 0);
  QApplication app(argc, argv);
  ::testing::InitGoogleTest(&argc, argv);
  if (HMODULE texts = plat::LoadResourceModule(HOST_TEXTS)) plat::SetHostResourceModule(texts);
  return RUN_ALL_TESTS();
}
