// In-process windows: lookup by class, calls on the sender's thread one at a
// time, and removal that waits for a call in progress.
#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <thread>
#include <vector>

#include "platform/window.h"

namespace {

TEST(Window, FoundByClassWithoutCaseAndTitle) {
  EXPECT_EQ(plat::CreateMessageWindow("", "t", [](auto...) { return plat::LRESULT{0}; }), nullptr);
  EXPECT_EQ(plat::CreateMessageWindow("C", "t", nullptr), nullptr);
  plat::HWND first = plat::CreateMessageWindow("QuovixServerMsgWndClass", "one",
                                               [](plat::HWND, plat::UINT m, plat::WPARAM w, plat::LPARAM l) {
                                                 return plat::LRESULT(m + w + l);
                                               });
  plat::HWND second = plat::CreateNamedWindow("QuovixServerMsgWndClass", "two",
                                              [](auto...) { return plat::LRESULT{-2}; });
  ASSERT_NE(first, nullptr);
  EXPECT_EQ(plat::FindWindowA("quovixservermsgwndclass", nullptr), first);  // the oldest
  EXPECT_EQ(plat::FindWindow("QuovixServerMsgWndClass", "two"), second);
  EXPECT_EQ(plat::FindWindow("Other"), nullptr);
  EXPECT_EQ(plat::SendMessageA(first, 1224, 1, 2), 1227);
  EXPECT_EQ(plat::SendMessage(second, 1224, 0, 0), -2);
  EXPECT_TRUE(plat::DestroyWindow(first));
  EXPECT_FALSE(plat::DestroyWindow(first));
  EXPECT_FALSE(plat::IsWindow(first));
  EXPECT_EQ(plat::SendMessage(first, 1224, 1, 2), 0);
  EXPECT_EQ(plat::FindWindow("QuovixServerMsgWndClass"), second);
  EXPECT_TRUE(plat::DestroyWindow(second));
}

TEST(Window, CallsAreSerialisedAndRemovalWaitsForThem) {
  std::atomic<int> inside{0}, most{0};
  std::atomic<bool> release{false};
  plat::HWND w = plat::CreateMessageWindow("Busy", "", [&](auto...) {
    int now = ++inside;
    most = std::max(most.load(), now);
    while (!release) std::this_thread::sleep_for(std::chrono::milliseconds(1));
    --inside;
    return plat::LRESULT{7};
  });
  std::vector<std::thread> senders;
  std::atomic<int> sum{0};
  for (int i = 0; i < 4; ++i) senders.emplace_back([&] { sum += static_cast<int>(plat::SendMessage(w, 1, 0, 0)); });
  while (inside == 0) std::this_thread::sleep_for(std::chrono::milliseconds(1));
  std::atomic<bool> destroyed{false};
  std::thread destroyer([&] { destroyed = plat::DestroyWindow(w) != 0; });
  std::this_thread::sleep_for(std::chrono::milliseconds(20));
  EXPECT_FALSE(destroyed.load());  // a call is still running
  release = true;
  for (auto& t : senders) t.join();
  destroyer.join();
  EXPECT_TRUE(destroyed.load());
  EXPECT_EQ(most.load(), 1);
  // Calls that started before the removal finished; later ones found no window.
  EXPECT_EQ(sum.load() % 7, 0);
  EXPECT_GE(sum.load(), 7);
}

}  // namespace
