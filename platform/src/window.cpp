// In-process windows: a table of class name, title and procedure.
#include "platform/window.h"

#include <algorithm>
#include <condition_variable>
#include <memory>
#include <mutex>
#include <string>
#include <vector>


namespace plat {

struct WindowObject {
  std::string className;
  std::string title;
  WindowProc proc;
  std::mutex callMutex;  // one call at a time
  int callsInProgress = 0;
  bool destroyed = false;
};

namespace {

struct WindowTable {
  std::mutex mutex;
  std::condition_variable idle;
  std::vector<std::unique_ptr<WindowObject>> windows;
};

WindowTable& Table() {
  static WindowTable* table = new WindowTable;  // outlives every static destructor
  return *table;
}

bool SameNoCase(std::string_view a, std::string_view b) {
  return a.size() == b.size() &&
         std::equal(a.begin(), a.end(), b.begin(), [](char x, char y) {
           auto lower = [](char c) { return c >= 'A' && c <= 'Z' ? char(c - 'A' + 'a') : c; };
           return lower(x) == lower(y);
         });
}

WindowObject* FindLocked(WindowTable& table, HWND window) {
  for (auto& w : table.windows)
    if (w.get() == window && !w->destroyed) return w.get();
  return nullptr;
}

}  // namespace

HWND CreateMessageWindow(std::string_view className, std::string_view title, WindowProc proc) {
  if (className.empty() || !proc) return nullptr;
  auto window = std::make_unique<WindowObject>();
  window->className = std::string(className);
  window->title = std::string(title);
  window->proc = std::move(proc);
  WindowTable& table = Table();
  std::lock_guard lock(table.mutex);
  table.windows.push_back(std::move(window));
  return table.windows.back().get();
}

BOOL DestroyWindow(HWND window) {
  WindowTable& table = Table();
  std::unique_lock lock(table.mutex);
  WindowObject* w = FindLocked(table, window);
  if (!w) return FALSE;
  w->destroyed = true;
  table.idle.wait(lock, [w] { return w->callsInProgress == 0; });
  table.windows.erase(std::find_if(table.windows.begin(), table.windows.end(),
                                   [w](const auto& p) { return p.get() == w; }));
  return TRUE;
}

HWND FindWindow(std::string_view className, std::string_view title) {
  WindowTable& table = Table();
  std::lock_guard lock(table.mutex);
  for (auto& entry : table.windows) {
    WindowObject* w = entry.get();
    if (w->destroyed || !SameNoCase(w->className, className)) continue;
    if (!title.empty() && w->title != title) continue;
    return w;
  }
  return nullptr;
}

LRESULT SendMessage(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
  WindowTable& table = Table();
  WindowObject* w;
  {
    std::lock_guard lock(table.mutex);
    w = FindLocked(table, window);
    if (!w) return 0;
    ++w->callsInProgress;
  }
  LRESULT result;
  {
    std::lock_guard call(w->callMutex);
    result = w->proc(window, message, wParam, lParam);
  }
  {
    std::lock_guard lock(table.mutex);
    --w->callsInProgress;
  }
  table.idle.notify_all();
  return result;
}

BOOL IsWindow(HWND window) {
  WindowTable& table = Table();
  std::lock_guard lock(table.mutex);
  return FindLocked(table, window) ? TRUE : FALSE;
}

}  // namespace plat
