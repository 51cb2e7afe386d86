// The crash report dialog: its three fields, its answers and saving.
#include <QApplication>
#include <QDir>
#include <QFile>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QTemporaryDir>
#include <QTimer>

#include <gtest/gtest.h>

#include "CrashDialog.h"

using norvcrash::CrashDialog;

namespace {

const QString kReport = QStringLiteral(
    "An Exception Occurred:\n\nTime:\n2026-12-08 07:12:37\n\n"
    "Reason:\nhost caused an EXCEPTION_ACCESS_VIOLATION in module host at 0033:00005610CAEE82A9\n\n"
    "Registers:\nRAX=0000000000000000  RBX=0000000000000001\r\nCS =0033\n\n"
    "Call Stack:\n0033:00005610CAEE82A9 (0x0 0x0 0x0 0x0) host, f()+0016 byte(s)\r\n"
    "0033:00005610CAEE862C (0x0 0x0 0x0 0x0) host, main()+0348 byte(s)\r\n");

// Clicks `button` once the dialog runs and returns the dialog's result.
int ResultOfClicking(const QString& button) {
  CrashDialog dialog(kReport);
  QTimer::singleShot(0, &dialog, [&dialog, button] {
    dialog.findChild<QPushButton*>(button)->click();
  });
  return dialog.exec();
}

TEST(CrashDialog, ShowsTheReportInItsThreeFields) {
  CrashDialog dialog(kReport);
  EXPECT_EQ(dialog.windowTitle(), QStringLiteral("An Exception Occured..."));
  EXPECT_EQ(dialog.reasonField()->toPlainText(),
            QStringLiteral("host caused an EXCEPTION_ACCESS_VIOLATION in module host at "
                           "0033:00005610CAEE82A9"));
  EXPECT_EQ(dialog.registersField()->toPlainText(),
            QStringLiteral("RAX=0000000000000000  RBX=0000000000000001\nCS =0033"));
  EXPECT_TRUE(dialog.callStackField()->toPlainText().startsWith(QStringLiteral("0033:00005610")));
  EXPECT_TRUE(dialog.callStackField()->toPlainText().endsWith(QStringLiteral("main()+0348 byte(s)")));
  EXPECT_TRUE(dialog.reasonField()->isReadOnly());
  EXPECT_TRUE(dialog.callStackField()->isReadOnly());
}

TEST(CrashDialog, EachButtonAnswersWithItsDecision) {
  EXPECT_EQ(ResultOfClicking(QStringLiteral("terminate")), norvcrash::Terminate);
  EXPECT_EQ(ResultOfClicking(QStringLiteral("retry")), norvcrash::Retry);
  EXPECT_EQ(ResultOfClicking(QStringLiteral("continue")), norvcrash::ContinueException);
  // Closing the window is the same as Terminate.
  CrashDialog dialog(kReport);
  QTimer::singleShot(0, &dialog, [&dialog] { dialog.reject(); });
  EXPECT_EQ(dialog.exec(), norvcrash::Terminate);
}

TEST(CrashDialog, SavesTheWholeReport) {
  QTemporaryDir dir;
  CrashDialog dialog(kReport);
  QString path = dir.filePath(QStringLiteral("report.txt"));
  ASSERT_TRUE(dialog.SaveTo(path));
  QFile file(path);
  ASSERT_TRUE(file.open(QIODevice::ReadOnly));
  EXPECT_EQ(file.readAll(), kReport.toLocal8Bit());
  EXPECT_FALSE(dialog.SaveTo(dir.filePath(QStringLiteral("missing/report.txt"))));
}

TEST(CrashDialog, AReportWithoutAPartLeavesItsFieldEmpty) {
  norvcrash::ReportParts parts = norvcrash::SplitReport(QStringLiteral("Reason:\nx\n\n"));
  EXPECT_EQ(parts.reason, QStringLiteral("x"));
  EXPECT_TRUE(parts.registers.isEmpty());
  EXPECT_TRUE(parts.callStack.isEmpty());
}

}  // namespace

int main(int argc, char** argv) {
  // Also when ctest lists the tests, which it does without the test's environment.
  if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM")) qputenv("QT_QPA_PLATFORM", "offscreen");
  QApplication app(argc, argv);
  ::testing::InitGoogleTest(&argc, argv);
  return RUN_ALL_TESTS();
}
