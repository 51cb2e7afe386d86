// Test main: a GUI application on the offscreen platform (the plugins draw
// their images with it), message boxes captured instead of shown, and the
// explorer's own texts installed as the host program's.
#include <gtest/gtest.h>
#include <stdlib.h>

#include <QGuiApplication>
#include <cstdio>

#include "norv/NorvMessageBox.h"
#include "platform/resources.h"
#include "system_test.h"

namespace system_test {

std::vector<NorvString>& Messages() {
  static std::vector<NorvString> messages;
  return messages;
}

}  // namespace system_test

int main(int argc, char** argv) {
  setenv("QT_QPA_PLATFORM", "offscreen", 1);
  QGuiApplication app(argc, argv);
  ::testing::InitGoogleTest(&argc, argv);
  NorvSetMessageBoxHook([](const NorvString& text, const NorvString&, UINT) {
    system_test::Messages().push_back(text);
    return IDOK;
  });
  HMODULE host = plat::LoadResourceModule(HOST_RESOURCES);
  if (host == nullptr) {
    std::fprintf(stderr, "cannot load the explorer's texts: %s\n", plat::LibraryError().c_str());
    return 2;
  }
  plat::SetHostResourceModule(host);
  return RUN_ALL_TESTS();
}
