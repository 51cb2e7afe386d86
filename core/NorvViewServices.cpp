#include "norv/NorvViewServices.h"

#include <sys/syscall.h>
#include <unistd.h>

#include <QCoreApplication>
#include <QThread>
#include <atomic>

INorvViewServices::~INorvViewServices() = default;

namespace {

INorvViewServices& NullServices() {
  static INorvViewServices* services = new INorvViewServices;
  return *services;
}

// Read from worker threads (InvokeRefresh) while the user-interface thread
// may install the windows' services.
std::atomic<INorvViewServices*> gServices{nullptr};

}  // namespace

INorvViewServices* NorvGetViewServices() {
  INorvViewServices* services = gServices.load(std::memory_order_acquire);
  return services != nullptr ? services : &NullServices();
}

void NorvSetViewServices(INorvViewServices* services) {
  gServices.store(services, std::memory_order_release);
}

BOOL NorvIsUserInterfaceThread() {
  if (QCoreApplication* app = QCoreApplication::instance())
    return QThread::currentThread() == app->thread() ? TRUE : FALSE;
  return static_cast<pid_t>(syscall(SYS_gettid)) == getpid() ? TRUE : FALSE;
}
