// The splash window: a plugin's splash page shown centred over the main
// window while the explorer starts. It goes after three seconds (half a
// second more at a time while a modal dialog of the start-up is open), or at
// once on any key or mouse click; then the main window is repainted and the
// tip of the day comes (unless "-notips"). "-nosplash" switches it off.
//
// The page is shown by the page factory: by default a text browser for
// local files and resources compiled into Qt; the frame may install one that
// shows any URL (the HTML window). The second splash text may give the
// window's size as "<width>x<height>" or "<width>,<height>" (else 400 x 300).
#pragma once
#include <QBasicTimer>
#include <QUrl>
#include <QWidget>
#include <functional>

#include "norv/norvtypes.h"

class NORV_API CSplashWnd : public QWidget {
  Q_OBJECT

 public:
  using PageFactory = std::function<QWidget*(QWidget* parent, const QUrl& url)>;
  static constexpr int kShowMilliseconds = 3000;
  static constexpr int kWaitMilliseconds = 500;

  static void EnableSplashScreen(BOOL enable);
  static BOOL IsSplashScreenEnabled();
  // Creates the splash window (only one at a time) centred over `parent`
  // (the screen without one) and starts its timer. FALSE when switched off,
  // already shown, or without a page.
  static BOOL ShowSplashScreen(const NorvString& url, const NorvString& options,
                               QWidget* parent);
  // The splash window on the screen, or null.
  static CSplashWnd* Current();
  // Hides and destroys the splash window, repaints the main window and
  // shows the tip of the day at start-up.
  static void HideSplashScreen();
  static void SetPageFactory(PageFactory factory);

  // The size the second splash text asks for (400 x 300 when it names none).
  static QSize SizeFromOptions(const QString& options);

  ~CSplashWnd() override;

 protected:
  bool eventFilter(QObject* watched, QEvent* event) override;
  void timerEvent(QTimerEvent* event) override;

 private:
  CSplashWnd(const QUrl& url, const QSize& size, QWidget* mainWindow);

  QBasicTimer m_timer;
  QWidget* m_mainWindow = nullptr;
};
