#include <gtest/gtest.h>

#include <filesystem>
#include <thread>

#include "platform/library.h"

using namespace plat;

namespace {

using PathFn = const char* (*)();

}  // namespace

TEST(Library, LoadsFindsSymbolsAndFrees) {
  HMODULE module = LoadLibrary(LOADME_PATH);
  ASSERT_NE(module, nullptr) << LibraryError();
  auto answer = reinterpret_cast<int (*)()>(GetProcAddress(module, "LoadmeAnswer"));
  ASSERT_NE(answer, nullptr);
  EXPECT_EQ(answer(), 42);

  EXPECT_EQ(GetProcAddress(module, "NoSuchSymbol"), nullptr);
  EXPECT_NE(LibraryError().find("NoSuchSymbol"), std::string::npos) << LibraryError();
  EXPECT_EQ(GetProcAddress(nullptr, "LoadmeAnswer"), nullptr);
  EXPECT_FALSE(LibraryError().empty());

  EXPECT_EQ(ModuleFileName(module), std::filesystem::absolute(LOADME_PATH).string());
  // Which module holds a function of the library, and which holds this test.
  EXPECT_EQ(ModuleFromAddress(reinterpret_cast<const void*>(answer)), module);
  EXPECT_EQ(ModuleFileName(ModuleFromAddress(reinterpret_cast<const void*>(&LibraryError))),
            ModuleFileName(ModuleFromAddress(reinterpret_cast<const void*>(&ModuleFileName))));
  static int local;
  EXPECT_EQ(ModuleFileName(ModuleFromAddress(&local)),
            std::filesystem::canonical("/proc/self/exe").string());
  EXPECT_EQ(ModuleFileName(nullptr), std::filesystem::canonical("/proc/self/exe").string());

  EXPECT_TRUE(FreeLibrary(module));
  EXPECT_FALSE(FreeLibrary(nullptr));
}

TEST(Library, StaticInitialisersSeeTheLoadingPath) {
  EXPECT_EQ(CurrentlyLoadingPath(), "");
  HMODULE module = LoadLibrary(LOADME_PATH);
  ASSERT_NE(module, nullptr) << LibraryError();
  // Loaded (and possibly unloaded) before, so its initialiser ran on this load.
  auto seen = reinterpret_cast<PathFn>(GetProcAddress(module, "LoadmeSeenPath"));
  ASSERT_NE(seen, nullptr);
  EXPECT_STREQ(seen(), LOADME_PATH);
  EXPECT_EQ(CurrentlyLoadingPath(), "");
  FreeLibrary(module);
}

TEST(Library, NestedLoadsRestoreTheOuterPath) {
  HMODULE module = LoadLibrary(NESTED_PATH);
  ASSERT_NE(module, nullptr) << LibraryError();
  auto seen = reinterpret_cast<const char* (*)(int)>(GetProcAddress(module, "NestedSeen"));
  ASSERT_NE(seen, nullptr);
  EXPECT_STREQ(seen(0), NESTED_PATH);
  EXPECT_STREQ(seen(1), LOADME_PATH);
  EXPECT_STREQ(seen(2), NESTED_PATH);
  EXPECT_EQ(CurrentlyLoadingPath(), "");
  EXPECT_TRUE(FreeLibrary(module));
}

TEST(Library, MissingLibrariesExplainWhy) {
  EXPECT_EQ(LoadLibrary("/no/such/libmissing.so"), nullptr);
  EXPECT_NE(LibraryError().find("libmissing.so"), std::string::npos) << LibraryError();
  EXPECT_EQ(LoadLibrary("libnorv-not-installed.so"), nullptr);
  EXPECT_NE(LibraryError().find("libnorv-not-installed.so"), std::string::npos);
  EXPECT_EQ(LoadLibrary(""), nullptr);
  EXPECT_FALSE(LibraryError().empty());
  EXPECT_EQ(CurrentlyLoadingPath(), "");
}

TEST(Library, ErrorsAreKeptPerThread) {
  EXPECT_EQ(LoadLibrary("/no/such/first.so"), nullptr);
  std::string other;
  std::thread([&] {
    LoadLibrary("/no/such/second.so");
    other = LibraryError();
  }).join();
  EXPECT_NE(LibraryError().find("first.so"), std::string::npos);
  EXPECT_NE(other.find("second.so"), std::string::npos);
}
