// A tiny plugin for the plugin host's tests. One source, built several
// times: TEST_PLUGIN_TAG names the variant and its item class
// (CTest<Tag>Item); the TEST_PLUGIN_* switches leave out or bend exports.
#include "norv/NorvPluginSdk.h"
#include "norv/NorvTlgItem.h"

#ifdef TEST_PLUGIN_TRACING_THREAD
#include <atomic>
#include <cstdlib>
#include <thread>

#include "norv/PluginHandler.h"
#include "norv/Trace.h"
#endif

#define TEST_CAT2(a, b, c) a##b##c
#define TEST_CAT(a, b, c) TEST_CAT2(a, b, c)
#define TEST_ITEM_CLASS TEST_CAT(CTest, TEST_PLUGIN_TAG, Item)
#define TEST_STR2(x) L## #x
#define TEST_STR(x) TEST_STR2(x)

// Expanding through a second macro turns TEST_ITEM_CLASS into the real name
// before the framework's macros stringify it.
#define TEST_DECLARE_SERIAL(c) NORV_DECLARE_SERIAL(c)
#define TEST_IMPLEMENT_SERIAL(c, b, s) NORV_IMPLEMENT_SERIAL(c, b, s)

namespace {
NorvPluginGlobals gPlugin;
int gIdleCalls = 0;
int gDeInitCalls = 0;
}  // namespace

constexpr UINT kCaptionString = 100;

#ifdef TEST_PLUGIN_TRACING_THREAD
// A worker that Initialize starts and that traces under the plugin's id
// until the library is unloaded, as a plugin with a monitoring thread
// does. Its Initialize then fails, so the plugin is removed from the list
// while the worker is tracing.
namespace {
struct TracingWorker {
  std::thread thread;
  std::atomic<bool> stop{false};
  std::atomic<int> rounds{0};
  void Start(int pluginId) {
    // The library may stay loaded between two tests: one worker at a time.
    Stop();
    stop.store(false);
    rounds.store(0);
    thread = std::thread([this, pluginId] {
      while (!stop.load()) {
        NorvPluginTrace(pluginId, nullptr, __FILE__, __LINE__, 1, L"worker tick");
        const NorvString name = CPluginHandler::GetPluginName(pluginId);
        // Whatever the id names now, it is a whole name of a loaded plugin.
        if (!name.empty() && name != L"Alpha" && name != L"Tracer" && name != L"Beta") std::abort();
        rounds.fetch_add(1);
        std::this_thread::yield();
      }
    });
  }
  void Stop() {
    stop.store(true);
    if (thread.joinable()) thread.join();
  }
  // Runs when the library is unloaded.
  ~TracingWorker() { Stop(); }
};
TracingWorker gWorker;
}  // namespace
#endif

class TEST_ITEM_CLASS : public CNorvTreeListItem {
  TEST_DECLARE_SERIAL(TEST_ITEM_CLASS)

 public:
  BOOL Initialize(CNorvTreeListItem* parent, const NorvString& id) override {
    SetParent(parent);
    m_strId = id;
    return id != L"refuse" ? TRUE : FALSE;
  }
  int GetImageListOffset() override { return gPlugin.imageListOffset; }
  NorvString GetPluginName() override { return gPlugin.name; }
  HMODULE GetResourceInstanceHandle() override { return gPlugin.resourceModule; }
  const wchar_t* GetHelpFile() override { return gPlugin.helpFile.c_str(); }
  const wchar_t* GetMessageHelpFile() override { return gPlugin.messageHelpFile.c_str(); }
  NorvString GetPluginCaption() override {
    return plat::LoadString(kCaptionString, gPlugin.resourceModule);
  }
  UINT GetIcon() override { return 0; }
  BOOL InitMenuInfo(UINT commandId, int& enabled, int& checked, int) override {
    if (commandId != 40007) return FALSE;
    enabled = 1;
    checked = 0;
    return TRUE;
  }
};

TEST_IMPLEMENT_SERIAL(TEST_ITEM_CLASS, CNorvTreeListItem, 1)

#ifndef TEST_PLUGIN_NO_SDK_VERSION
#ifdef TEST_PLUGIN_SDK_VERSION
NORV_PLUGIN_EXPORT void GetSDKVersion(DWORD* version, DWORD* build) {
  *version = TEST_PLUGIN_SDK_VERSION;
  *build = 7;
}
#else
NORV_PLUGIN_EXPORT void GetSDKVersion(DWORD* version, DWORD* build) {
  *version = NORV_SDK_VERSION;
  *build = 0x00030004;  // printed as 2.1.3.4
}
#endif
#endif

NORV_PLUGIN_EXPORT void GetBuildType(DWORD* first, DWORD* second) {
#ifdef TEST_PLUGIN_BAD_BUILD
  *first = 1;
#else
  *first = NORV_PLUGIN_BUILD_ABI_MISMATCH;
#endif
  *second = NORV_PLUGIN_BUILD_WIDE_TEXT;
}

NORV_PLUGIN_EXPORT BOOL Initialize(wchar_t* rootClass, wchar_t* rootId, unsigned chars) {
  NorvPluginCopyText(rootClass, chars, TEST_STR(TEST_ITEM_CLASS));
  NorvPluginCopyText(rootId, chars, TEST_STR(TEST_PLUGIN_TAG) L"-root");
#if defined(TEST_PLUGIN_TRACING_THREAD)
  gWorker.Start(gPlugin.pluginId);
  while (gWorker.rounds.load() < 2) std::this_thread::yield();
  return FALSE;
#elif defined(TEST_PLUGIN_INIT_FAILS)
  return FALSE;
#else
  return TRUE;
#endif
}

NORV_PLUGIN_EXPORT void DeInitialize() { ++gDeInitCalls; }
NORV_PLUGIN_EXPORT BOOL GetImageList(int, QList<QImage>*) { return FALSE; }
NORV_PLUGIN_SETTER_EXPORTS(gPlugin)
#ifndef TEST_PLUGIN_NO_CAPTION
NORV_PLUGIN_EXPORT void GetPluginCaption(wchar_t* caption, unsigned chars) {
  // Loaded from the current resource module: the framework must have
  // pushed this plugin's resources.
  NorvPluginCopyText(caption, chars, plat::LoadString(kCaptionString).c_str());
}
#endif
NORV_PLUGIN_EXPORT BOOL Idle(long) {
  ++gIdleCalls;
#ifdef TEST_PLUGIN_WANTS_IDLE
  return TRUE;
#else
  return FALSE;
#endif
}
NORV_PLUGIN_EXPORT BOOL QueryEndSession() {
#ifdef TEST_PLUGIN_VETO_END
  return FALSE;
#else
  return TRUE;
#endif
}
NORV_PLUGIN_EXPORT void GetSplashUrl(wchar_t* url, wchar_t* options, unsigned chars) {
  NorvPluginCopyText(url, chars, L"splash://" TEST_STR(TEST_PLUGIN_TAG));
  NorvPluginCopyText(options, chars, L"centered");
}

// Test hooks: what the framework told the plugin.
NORV_PLUGIN_EXPORT int TestPluginId() { return gPlugin.pluginId; }
NORV_PLUGIN_EXPORT int TestIdleCalls() { return gIdleCalls; }
NORV_PLUGIN_EXPORT int TestDeInitCalls() { return gDeInitCalls; }
NORV_PLUGIN_EXPORT const wchar_t* TestPluginName() { return gPlugin.name.c_str(); }
