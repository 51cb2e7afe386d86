// norvcrashdlg: shows the crash report read from standard input and exits
// with the user's choice (0 continue the exception, 1 terminate, 2 retry;
// 3 when no dialog can be shown, so that the handler's default holds).
#include <QApplication>
#include <QFile>

#include "CrashDialog.h"

int main(int argc, char** argv) {
  QApplication app(argc, argv);
  // Without a screen to show it on, nobody could answer.
  const QString platform = QGuiApplication::platformName();
  if (platform == QLatin1String("offscreen") || platform == QLatin1String("minimal"))
    return norvcrash::kNoDialog;
  QFile input;
  if (!input.open(stdin, QIODevice::ReadOnly)) return norvcrash::kNoDialog;
  const QString report = QString::fromLocal8Bit(input.readAll());
  norvcrash::CrashDialog dialog(report);
  dialog.setWindowFlag(Qt::WindowStaysOnTopHint);
  return dialog.exec();
}
