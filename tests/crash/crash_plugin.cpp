// A library loaded at run time that crashes, as a faulty plugin would.
namespace crashplugin {

__attribute__((noinline)) void CrashInPlugin(int* target) {
  *target = 42;  // CRASH:plugin
}

}  // namespace crashplugin

extern "C" __attribute__((visibility("default"))) void PluginEntry() {
  volatile int* none = nullptr;
  crashplugin::CrashInPlugin(const_cast<int*>(none));
}
