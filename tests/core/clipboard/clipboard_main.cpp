// The clipboard needs a GUI application; the offscreen platform gives one
// without a display.
#include <gtest/gtest.h>
#include <stdlib.h>

#include <QGuiApplication>

int main(int argc, char** argv) {
  setenv("QT_QPA_PLATFORM", "offscreen", 1);
  QGuiApplication app(argc, argv);
  ::testing::InitGoogleTest(&argc, argv);
  return RUN_ALL_TESTS();
}
