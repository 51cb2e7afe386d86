#include "norv/NorvResourceStack.h"

#include <mutex>
#include <vector>

#include "platform/resources.h"

namespace {

// Used from the user-interface thread; the lock only keeps a stray call
// from another thread from corrupting the stack.
std::mutex gStackMutex;
std::vector<HMODULE>& Saved() {
  static std::vector<HMODULE> saved;
  return saved;
}

}  // namespace

void NorvResourceStack::Push(HMODULE module) {
  std::lock_guard<std::mutex> lock(gStackMutex);
  Saved().push_back(plat::CurrentResourceModule());
  plat::SetCurrentResourceModule(module);
}

void NorvResourceStack::Pop() {
  std::lock_guard<std::mutex> lock(gStackMutex);
  if (Saved().empty()) return;
  plat::SetCurrentResourceModule(Saved().back());
  Saved().pop_back();
}

size_t NorvResourceStack::Depth() {
  std::lock_guard<std::mutex> lock(gStackMutex);
  return Saved().size();
}
