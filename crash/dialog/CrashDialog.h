// The crash report dialog: the reason, the registers and the call stack in
// read-only fixed-pitch fields, and the user's choice as the dialog's result
// (the crash handler's decision codes).
#pragma once
#include <QDialog>
#include <QString>

class QPlainTextEdit;

namespace norvcrash {

// Results, the same numbers as the handler's decision codes.
enum Choice { ContinueException = 0, Terminate = 1, Retry = 2 };
// Exit code of a dialog that could not be shown (no usable display).
constexpr int kNoDialog = 3;

struct ReportParts {
  QString reason;
  QString registers;
  QString callStack;
};
// Splits a report at its "Reason:", "Registers:" and "Call Stack:" headings;
// parts that are missing stay empty.
ReportParts SplitReport(const QString& report);

class CrashDialog : public QDialog {
  Q_OBJECT
 public:
  explicit CrashDialog(const QString& report, QWidget* parent = nullptr);

  // Writes the whole report to `path`; false when the file cannot be
  // written.
  bool SaveTo(const QString& path) const;
  QPlainTextEdit* reasonField() const { return reason_; }
  QPlainTextEdit* registersField() const { return registers_; }
  QPlainTextEdit* callStackField() const { return callStack_; }

 public slots:
  // Closing the dialog terminates, as the Terminate button does.
  void reject() override;

 private:
  void Save();

  QString report_;
  QPlainTextEdit* reason_;
  QPlainTextEdit* registers_;
  QPlainTextEdit* callStack_;
};

}  // namespace norvcrash
