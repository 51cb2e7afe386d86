#include "CrashDialog.h"

#include <QFile>
#include <QFileDialog>
#include <QFontDatabase>
#include <QHBoxLayout>
#include <QLabel>
#include <QMessageBox>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QStyle>
#include <QVBoxLayout>

namespace norvcrash {

namespace {

// The text between `heading` and the next of `ends` (or the end), with the
// blank line that closes each part trimmed.
QString Section(const QString& report, const QString& heading, const QStringList& ends) {
  qsizetype start = report.indexOf(heading);
  if (start < 0) return {};
  start += heading.size();
  qsizetype stop = report.size();
  for (const QString& end : ends) {
    qsizetype at = report.indexOf(end, start);
    if (at >= 0 && at < stop) stop = at;
  }
  QString part = report.mid(start, stop - start);
  part.replace(QStringLiteral("\r\n"), QStringLiteral("\n"));
  while (part.endsWith(QLatin1Char('\n'))) part.chop(1);
  return part;
}

QPlainTextEdit* MakeField(QWidget* parent, int lines) {
  auto* field = new QPlainTextEdit(parent);
  field->setReadOnly(true);
  field->setLineWrapMode(QPlainTextEdit::NoWrap);
  field->setFont(QFontDatabase::systemFont(QFontDatabase::FixedFont));
  QFontMetrics metrics(field->font());
  field->setMinimumHeight(metrics.lineSpacing() * lines + 12);
  return field;
}

}  // namespace

ReportParts SplitReport(const QString& report) {
  const QString reason = QStringLiteral("Reason:\n");
  const QString registers = QStringLiteral("Registers:\n");
  const QString stack = QStringLiteral("Call Stack:\n");
  return {Section(report, reason, {registers, stack}), Section(report, registers, {stack}),
          Section(report, stack, {})};
}

CrashDialog::CrashDialog(const QString& report, QWidget* parent)
    : QDialog(parent), report_(report) {
  setWindowTitle(QStringLiteral("An Exception Occured..."));
  ReportParts parts = SplitReport(report);

  auto* icon = new QLabel(this);
  icon->setPixmap(style()->standardIcon(QStyle::SP_MessageBoxCritical).pixmap(32, 32));
  icon->setAlignment(Qt::AlignTop);
  reason_ = MakeField(this, 3);
  reason_->setLineWrapMode(QPlainTextEdit::WidgetWidth);
  reason_->setMaximumHeight(reason_->minimumHeight());
  reason_->setPlainText(parts.reason);
  registers_ = MakeField(this, 7);
  registers_->setPlainText(parts.registers);
  callStack_ = MakeField(this, 12);
  callStack_->setPlainText(parts.callStack);

  auto* top = new QHBoxLayout;
  top->addWidget(icon);
  top->addWidget(reason_, 1);

  auto* terminate = new QPushButton(QStringLiteral("&Terminate"), this);
  auto* retry = new QPushButton(QStringLiteral("&Retry"), this);
  auto* pass = new QPushButton(QStringLiteral("&Continue Exception"), this);
  auto* save = new QPushButton(QStringLiteral("&Save..."), this);
  terminate->setObjectName(QStringLiteral("terminate"));
  retry->setObjectName(QStringLiteral("retry"));
  pass->setObjectName(QStringLiteral("continue"));
  save->setObjectName(QStringLiteral("save"));
  terminate->setDefault(true);
  connect(terminate, &QPushButton::clicked, this, [this] { done(Terminate); });
  connect(retry, &QPushButton::clicked, this, [this] { done(Retry); });
  connect(pass, &QPushButton::clicked, this, [this] { done(ContinueException); });
  connect(save, &QPushButton::clicked, this, &CrashDialog::Save);
  auto* buttons = new QHBoxLayout;
  buttons->addWidget(terminate);
  buttons->addWidget(retry);
  buttons->addWidget(pass);
  buttons->addStretch(1);
  buttons->addWidget(save);

  auto* layout = new QVBoxLayout(this);
  layout->addLayout(top);
  layout->addWidget(new QLabel(QStringLiteral("Registers:"), this));
  layout->addWidget(registers_, 1);
  layout->addWidget(new QLabel(QStringLiteral("Call Stack:"), this));
  layout->addWidget(callStack_, 3);
  layout->addLayout(buttons);
  resize(900, 640);
}

void CrashDialog::reject() { done(Terminate); }

bool CrashDialog::SaveTo(const QString& path) const {
  QFile file(path);
  if (!file.open(QIODevice::WriteOnly | QIODevice::Truncate)) return false;
  QByteArray bytes = report_.toLocal8Bit();
  return file.write(bytes) == bytes.size() && file.flush();
}

void CrashDialog::Save() {
  QFileDialog chooser(this);
  chooser.setAcceptMode(QFileDialog::AcceptSave);
  chooser.setFileMode(QFileDialog::AnyFile);
  chooser.setNameFilter(QStringLiteral("Text Documents (*.txt)"));
  chooser.setDefaultSuffix(QStringLiteral("txt"));
  if (chooser.exec() != QDialog::Accepted || chooser.selectedFiles().isEmpty()) return;
  if (!SaveTo(chooser.selectedFiles().first()))
    QMessageBox::critical(this, QStringLiteral("Error"), QStringLiteral("Error creating file!"));
}

}  // namespace norvcrash
