// Shared set-up of the plugin host's tests: a fresh registry per test, the
// test plugins' paths, captured message boxes, and a record of what the
// document asked of the windows.
#pragma once
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "norv/NorvDoc.h"
#include "norv/NorvDocViews.h"
#include "norv/norvtypes.h"

namespace pluginhost_test {

// Paths of the test plugins and their resource modules (absolute).
struct TestPlugin {
  const char* library;
  const char* resources;     // "en" resources
  const char* resourcesDe;   // "de" resources (captions differ)
};
TestPlugin Alpha();
TestPlugin Beta();
TestPlugin Gamma();
// Variants of one source: refused or bent in one way each.
std::string Sdk20Library();
std::string NoSdkLibrary();
std::string NoCaptionLibrary();
std::string BadBuildLibrary();
std::string InitFailsLibrary();
// Its Initialize starts a worker that traces under the plugin's id, then fails.
std::string TracerLibrary();
std::string HostResources();

// Message boxes shown since the test began.
std::vector<NorvString>& Messages();
// TRUE when a message starts with "E<id>" (the test host's texts).
bool HasMessage(UINT id);
int CountMessages(UINT id);

NorvString W(const std::string& utf8);

// Writes the registration of one plugin below the framework key: its
// library, locale keys (locale -> resource library), "PluginEnabled" unless
// `enabled` is -1, and the help file of every locale.
void Register(const NorvString& name, const std::string& library,
              const std::vector<std::pair<NorvString, std::string>>& locales, int enabled = -1,
              const NorvString& helpFile = L"");
void SetFrameworkValue(const NorvString& name, const NorvString& value);

class PluginHostTest : public ::testing::Test {
 protected:
  void SetUp() override;
  void TearDown() override;

 private:
  std::string registryDir_;
};

// Records the document's requests to the windows.
class RecordingViews : public INorvDocViews {
 public:
  std::vector<std::string> calls;
  NorvString splashUrl;
  NorvString title;
  NorvString navigatedTo;
  CNorvTreeListItem* treeRoot = nullptr;
  BOOL confirm = TRUE;
  BOOL chooseFont = FALSE;
  QFont chosen;

  void ShowSplash(const NorvString& url, const NorvString&) override {
    calls.push_back("splash");
    splashUrl = url;
  }
  void SetMainWindowIcon(HMODULE, UINT) override { calls.push_back("icon"); }
  BOOL InitTreeView(CNorvTreeListItem* root) override {
    calls.push_back("tree");
    treeRoot = root;
    return TRUE;
  }
  BOOL LoadBookmarks() override {
    calls.push_back("bookmarks");
    return TRUE;
  }
  BOOL NavigateTree(const NorvString& path) override {
    calls.push_back("navigate");
    navigatedTo = path;
    return TRUE;
  }
  void RootDestroying(CNorvTreeListItem*) override { calls.push_back("rootgone"); }
  BOOL HasViewWindow(CNorvView* view) override { return view != created; }
  void ActivateContentView(CNorvView* previous, CNorvView*, BOOL create, BOOL) override {
    calls.push_back(create ? "activate+create" : "activate");
    lastPrevious = previous;
    if (create) created = nullptr;
  }
  void SetMainWindowTitle(const NorvString& t) override { title = t; }
  BOOL ChooseFont(QFont& font, BOOL) override {
    if (!chooseFont) return FALSE;
    font = chosen;
    return TRUE;
  }
  BOOL ConfirmDelete(CNorvTreeListItem*) override {
    calls.push_back("confirm");
    return confirm;
  }
  CNorvView* created = nullptr;
  CNorvView* lastPrevious = nullptr;
};

}  // namespace pluginhost_test
