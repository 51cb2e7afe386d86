#include <gtest/gtest.h>

#include "norv/NorvResourceStack.h"
#include "platform/resources.h"

namespace {

// Handles are only compared here, never loaded from.
HMODULE Fake(int n) { return reinterpret_cast<HMODULE>(static_cast<uintptr_t>(0x1000 * n)); }

class ResourceStackTest : public ::testing::Test {
 protected:
  void SetUp() override { plat::SetCurrentResourceModule(Fake(1)); }
  void TearDown() override { plat::SetCurrentResourceModule(nullptr); }
};

TEST_F(ResourceStackTest, NestedScopesRestoreTheOuterModule) {
  {
    NorvResourceStack outer(Fake(2));
    EXPECT_EQ(plat::CurrentResourceModule(), Fake(2));
    {
      NorvResourceStack inner(Fake(3));
      EXPECT_EQ(plat::CurrentResourceModule(), Fake(3));
      EXPECT_EQ(NorvResourceStack::Depth(), 2u);
    }
    EXPECT_EQ(plat::CurrentResourceModule(), Fake(2));
  }
  EXPECT_EQ(plat::CurrentResourceModule(), Fake(1));
  EXPECT_EQ(NorvResourceStack::Depth(), 0u);
}

TEST_F(ResourceStackTest, NullSelectsTheHostsResourcesAndIsRestoredFrom) {
  {
    NorvResourceStack host(nullptr);
    EXPECT_EQ(plat::CurrentResourceModule(), nullptr);
    NorvResourceStack plugin(Fake(4));
    EXPECT_EQ(plat::CurrentResourceModule(), Fake(4));
  }
  EXPECT_EQ(plat::CurrentResourceModule(), Fake(1));
}

TEST_F(ResourceStackTest, UnmatchedPopLeavesTheCurrentModule) {
  NorvResourceStack::Pop();
  EXPECT_EQ(plat::CurrentResourceModule(), Fake(1));
  NorvResourceStack::Push(Fake(5));
  NorvResourceStack::Pop();
  NorvResourceStack::Pop();
  EXPECT_EQ(plat::CurrentResourceModule(), Fake(1));
}

}  // namespace
