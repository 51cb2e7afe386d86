// The progress dialog of the client setup. Qt wants its windows on the
// program's first thread, so the event loop runs there and the sequence on
// a second thread; the sequence touches the dialog only through queued
// calls, and reads the closed flag.
#include "setup_dialog.h"

#include <QApplication>
#include <QDialog>
#include <QKeyEvent>
#include <QLabel>
#include <QMessageBox>
#include <QProgressBar>
#include <QPushButton>
#include <QScreen>
#include <QVBoxLayout>
#include <signal.h>
#include <sys/stat.h>

#include <atomic>
#include <chrono>
#include <cstdlib>
#include <thread>

namespace zelsetup {
namespace {

class SetupDialog : public QDialog {
 public:
  SetupDialog() {
    setWindowTitle(QStringLiteral("Client Installation"));
    setObjectName(QStringLiteral("dialog1101"));
    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(0, 0, 0, 8);
    banner_ = new QLabel(QStringLiteral("  Halvorn Client"), this);
    banner_->setObjectName(QStringLiteral("banner102"));
    banner_->setMinimumHeight(54);
    banner_->setStyleSheet(QStringLiteral(
        "background:#1d3f72;color:white;font-size:16pt;font-weight:bold;"));
    layout->addWidget(banner_);
    auto* body = new QVBoxLayout;
    body->setContentsMargins(8, 4, 8, 0);
    status_ = new QLabel(QStringLiteral("Start automatic client installation routine..."), this);
    status_->setObjectName(QStringLiteral("text1001"));
    status_->setWordWrap(true);
    status_->setMinimumHeight(28);
    detail_ = new QLabel(this);
    detail_->setObjectName(QStringLiteral("text1000"));
    progress_ = new QProgressBar(this);
    progress_->setObjectName(QStringLiteral("progress1004"));
    progress_->setRange(0, 100);
    progress_->setValue(0);
    close_ = new QPushButton(QStringLiteral("Close"), this);
    close_->setObjectName(QStringLiteral("button2"));
    close_->hide();
    connect(close_, &QPushButton::clicked, this, [this] { close(); });
    body->addWidget(status_);
    body->addWidget(detail_);
    body->addWidget(progress_);
    body->addWidget(close_, 0, Qt::AlignHCenter);
    layout->addLayout(body);
    // 296 x 127 dialog units of an 8-point font.
    resize(444, 206);
  }

  std::atomic<bool> closed{false};

  void SetStatus(const QString& text) { status_->setText(text); }
  void SetDetail(const QString& text) { detail_->setText(text); }
  void SetProgress(int value) { progress_->setValue(value); }
  void ShowClose(const QString& text) {
    close_->setText(text);
    close_->show();
    close_->setFocus();
  }

 protected:
  void closeEvent(QCloseEvent* event) override {
    closed = true;
    QDialog::closeEvent(event);
  }
  void reject() override {  // Esc
    closed = true;
    QDialog::reject();
  }

 private:
  QLabel* banner_ = nullptr;
  QLabel* status_ = nullptr;
  QLabel* detail_ = nullptr;
  QProgressBar* progress_ = nullptr;
  QPushButton* close_ = nullptr;
};

class DialogView : public SetupView {
 public:
  explicit DialogView(SetupDialog* dialog) : dialog_(dialog) {}
  void SetStatus(const std::string& text) override {
    Post([d = dialog_, t = QString::fromStdString(text)] { d->SetStatus(t); });
  }
  void SetDetail(const std::string& text) override {
    Post([d = dialog_, t = QString::fromStdString(text)] { d->SetDetail(t); });
  }
  void SetProgress(int percent) override {
    Post([d = dialog_, percent] { d->SetProgress(percent); });
  }
  void ShowCloseButton(const std::string& text) override {
    Post([d = dialog_, t = QString::fromStdString(text)] { d->ShowClose(t); });
  }
  void MessageBox(const std::string& text, const std::string& caption) override {
    std::fprintf(stderr, "%s: %s\n", caption.c_str(), text.c_str());
    QMetaObject::invokeMethod(
        dialog_,
        [d = dialog_, t = QString::fromStdString(text), c = QString::fromStdString(caption)] {
          QMessageBox::critical(d->isVisible() ? d : nullptr, c, t);
        },
        Qt::BlockingQueuedConnection);
  }
  bool Closed() override { return dialog_->closed; }
  void WaitUntilClosed() override {
    while (!dialog_->closed) std::this_thread::sleep_for(std::chrono::milliseconds(200));
  }
  bool Interactive() override { return true; }

 private:
  template <class F>
  void Post(F f) {
    QMetaObject::invokeMethod(dialog_, std::move(f), Qt::QueuedConnection);
  }
  SetupDialog* dialog_;
};

// A request to end (SIGTERM, SIGINT, SIGHUP) is the user closing the dialog.
std::atomic<bool>* gClosed = nullptr;
extern "C" void OnEndRequest(int) {
  if (gClosed) gClosed->store(true);
}

}  // namespace

bool DisplayAvailable() {
  // Qt ends the program when it cannot reach the display it is told of, so
  // the display's socket must be there: a stale DISPLAY gives the console.
  const char* x = std::getenv("DISPLAY");
  const char* wayland = std::getenv("WAYLAND_DISPLAY");
  const char* platform = std::getenv("QT_QPA_PLATFORM");
  bool named = (x && *x) || (wayland && *wayland);
  if (!named) return false;
  if (platform && *platform) return true;  // the platform was chosen on purpose
  struct stat st {};
  if (wayland && *wayland) {
    std::string socket = wayland[0] == '/' ? std::string(wayland) : [&] {
      const char* runtime = std::getenv("XDG_RUNTIME_DIR");
      return std::string(runtime ? runtime : "") + "/" + wayland;
    }();
    if (stat(socket.c_str(), &st) == 0) return true;
  }
  if (x && *x) {
    if (x[0] != ':') return true;  // a display on another host
    std::string number(x + 1);
    number = number.substr(0, number.find('.'));
    if (stat(("/tmp/.X11-unix/X" + number).c_str(), &st) == 0) return true;
  }
  return false;
}

bool RunWithDialog(const SetupOptions& options, int argc, char** argv, int* exitCode) {
  QApplication app(argc, argv);
  SetupDialog dialog;
  if (QScreen* screen = QGuiApplication::primaryScreen()) {
    QRect area = screen->availableGeometry();
    dialog.move(area.center() - dialog.rect().center());
  }
  dialog.show();
  gClosed = &dialog.closed;
  struct sigaction action {};
  action.sa_handler = OnEndRequest;
  for (int signal : {SIGTERM, SIGINT, SIGHUP}) sigaction(signal, &action, nullptr);
  DialogView view(&dialog);
  std::thread sequence([&] {
    *exitCode = RunSetup(options, view);
    QMetaObject::invokeMethod(&app, [] { QCoreApplication::quit(); }, Qt::QueuedConnection);
  });
  app.setQuitOnLastWindowClosed(false);
  app.exec();
  sequence.join();
  action.sa_handler = SIG_DFL;
  for (int signal : {SIGTERM, SIGINT, SIGHUP}) sigaction(signal, &action, nullptr);
  gClosed = nullptr;
  return true;
}

int RunSilentWithDisplay(const SetupOptions& options, int argc, char** argv) {
  QApplication app(argc, argv);
  class View : public ConsoleView {
   public:
    View() : ConsoleView(true) {}
    void MessageBox(const std::string& text, const std::string& caption) override {
      ConsoleView::MessageBox(text, caption);
      QMessageBox::critical(nullptr, QString::fromStdString(caption), QString::fromStdString(text));
    }
  } view;
  return RunSetup(options, view);
}

}  // namespace zelsetup
