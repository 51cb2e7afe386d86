// The explorer's options dialog (Tools > Options): whether selecting an
// object in the tree expands it ("ExpandOnSelect" under the private key
// "Options"), whether deleting asks first (the document's confirm-delete
// setting) and whether help opens in the desktop's web browser instead of
// the help window ("HelpInBrowser" under "Options"). OK stores all of them
// at once; Cancel changes nothing.
#pragma once
#include "NorvDialog.h"
#include "norv/norvtypes.h"

class QCheckBox;

class NORV_API OptionsDlg : public CNorvDialog {
  Q_OBJECT

 public:
  static constexpr UINT IDD = 232;
  // The check boxes, by the ids of the dialog template.
  static constexpr int kExpandOnSelect = 648;
  static constexpr int kConfirmOnDelete = 650;

  explicit OptionsDlg(QWidget* parent = nullptr);

  QCheckBox* ExpandOnSelectBox() const { return m_expandOnSelect; }
  QCheckBox* ConfirmOnDeleteBox() const { return m_confirmOnDelete; }
  QCheckBox* HelpInBrowserBox() const { return m_helpInBrowser; }

  // Stores the choices and closes the dialog.
  void accept() override;

 private:
  QCheckBox* m_expandOnSelect = nullptr;
  QCheckBox* m_confirmOnDelete = nullptr;
  QCheckBox* m_helpInBrowser = nullptr;
};
