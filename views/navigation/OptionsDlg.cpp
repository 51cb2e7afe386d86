#include "OptionsDlg.h"

#include <QCheckBox>
#include <QDialogButtonBox>
#include <QGroupBox>
#include <QMessageBox>
#include <QVBoxLayout>

#include "norv/NorvDoc.h"
#include "norv/NorvRegistryKey.h"
#include "norv/Trace.h"

namespace {

UINT ReadOption(const wchar_t* name, UINT defaultValue) {
  CNorvPrivateRegistryKey key(plat::HKEY_CURRENT_USER, L"Options");
  UINT value = defaultValue;
  key.GetUIntValue(name, value);
  return value;
}

}  // namespace

OptionsDlg::OptionsDlg(QWidget* parent) : CNorvDialog(IDD, parent) {
  setWindowTitle(tr("Options"));
  auto* layout = new QVBoxLayout(this);
  auto* group = new QGroupBox(tr("Explorer"), this);
  auto* boxes = new QVBoxLayout(group);
  m_expandOnSelect = new QCheckBox(tr("&Expand an object when it is selected in the tree"), group);
  m_expandOnSelect->setObjectName(QStringLiteral("ExpandOnSelect"));
  m_confirmOnDelete = new QCheckBox(tr("&Confirm before deleting objects"), group);
  m_confirmOnDelete->setObjectName(QStringLiteral("ConfirmOnDelete"));
  m_helpInBrowser = new QCheckBox(tr("Show help in the &web browser"), group);
  m_helpInBrowser->setObjectName(QStringLiteral("HelpInBrowser"));
  boxes->addWidget(m_expandOnSelect);
  boxes->addWidget(m_confirmOnDelete);
  boxes->addWidget(m_helpInBrowser);
  layout->addWidget(group);
  auto* buttons = new QDialogButtonBox(QDialogButtonBox::Ok | QDialogButtonBox::Cancel, this);
  connect(buttons, &QDialogButtonBox::accepted, this, &OptionsDlg::accept);
  connect(buttons, &QDialogButtonBox::rejected, this, &OptionsDlg::reject);
  layout->addWidget(buttons);

  m_expandOnSelect->setChecked(ReadOption(L"ExpandOnSelect", 1) != 0);
  const CNorvDoc* doc = CNorvDoc::GetDoc();
  m_confirmOnDelete->setChecked(doc != nullptr ? doc->GetConfirmOnDelete() != FALSE : true);
  m_confirmOnDelete->setEnabled(doc != nullptr);
  m_helpInBrowser->setChecked(ReadOption(L"HelpInBrowser", 0) != 0);
}

void OptionsDlg::accept() {
  CNorvPrivateRegistryKey key(plat::HKEY_CURRENT_USER, L"Options", plat::KEY_ALL_ACCESS);
  const bool stored =
      key.SetUIntValue(L"ExpandOnSelect", m_expandOnSelect->isChecked() ? 1 : 0) &&
      key.SetUIntValue(L"HelpInBrowser", m_helpInBrowser->isChecked() ? 1 : 0);
  if (!stored) {
    // Keep the dialog open: the user's choice is not lost and may be tried
    // again once the settings can be written.
    NORV_BASE_TRACE(1, 0, L"OptionsDlg: the options could not be stored");
    QMessageBox::warning(this, windowTitle(), tr("The options could not be saved."));
    return;
  }
  if (CNorvDoc* doc = CNorvDoc::GetDoc()) {
    doc->SetConfirmOnDelete(m_confirmOnDelete->isChecked() ? TRUE : FALSE);
    doc->SaveSettings();
  }
  CNorvDialog::accept();
}
