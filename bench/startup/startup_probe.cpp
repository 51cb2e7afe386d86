// Loaded into a Qt program with LD_PRELOAD by bench_startup: when the
// program's main window (a QMainWindow) has been painted for the first time,
// writes the monotonic clock in nanoseconds to the file named by
// NORV_STARTUP_MARK.
#include <fcntl.h>
#include <time.h>
#include <unistd.h>

#include <QCoreApplication>
#include <QEvent>
#include <QTimer>
#include <QWidget>
#include <cstdio>
#include <cstdlib>

namespace {

void WriteMark() {
  const char* path = std::getenv("NORV_STARTUP_MARK");
  if (path == nullptr) return;
  timespec now{};
  clock_gettime(CLOCK_MONOTONIC, &now);
  char line[64];
  const int length = std::snprintf(line, sizeof line, "%lld\n",
                                   static_cast<long long>(now.tv_sec) * 1000000000LL + now.tv_nsec);
  const int fd = ::open(path, O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0600);
  if (fd < 0) return;
  if (::write(fd, line, static_cast<size_t>(length)) != length) std::perror("startup probe");
  ::close(fd);
}

class FirstPaint : public QObject {
 public:
  using QObject::QObject;
  bool eventFilter(QObject* watched, QEvent* event) override {
    if (!m_seen && event->type() == QEvent::Paint && watched->isWidgetType()) {
      QWidget* window = static_cast<QWidget*>(watched)->window();
      if (window->inherits("QMainWindow") && window->isVisible()) {
        m_seen = true;
        // Noted once this paint (and the flush that follows it) is done.
        QTimer::singleShot(0, [] { WriteMark(); });
      }
    }
    return false;
  }

 private:
  bool m_seen = false;
};

void Install() { qApp->installEventFilter(new FirstPaint(qApp)); }

}  // namespace

Q_COREAPP_STARTUP_FUNCTION(Install)
