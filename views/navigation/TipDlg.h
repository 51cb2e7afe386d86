// Tip of the day. Each time it is shown it takes the next tip of one
// plugin: with the framework's own root the plugins take turns, otherwise
// the tips come from the plugin of the root object. A plugin's tips are its
// string resources from "GetTipOfTheDayStartIndex" on; which one comes next
// is kept under the private key "Tip", one value per plugin name, and the
// tips start over after the last one. A plugin without tips shows the
// explorer's own. "Show tips at start-up" is the value "StartUp" in the
// section "Tip" of the host's profile (0 = show).
#pragma once
#include "NorvDialog.h"
#include "norv/norvtypes.h"

class CNorvTreeListItem;
class QCheckBox;
class QLabel;

class NORV_API CTipDlg : public CNorvDialog {
  Q_OBJECT

 public:
  static constexpr UINT IDD = 149;
  // Control ids of the dialog template.
  static constexpr int kTipText = 20004;
  static constexpr int kShowAtStartup = 20005;
  static constexpr int kMaxTipChars = 2048;

  explicit CTipDlg(QWidget* parent = nullptr);

  // Whether the tip is shown at start-up ("StartUp" is 0).
  static BOOL ShowAtStartup();
  // The next tip for the explorer rooted at `root` (the document's root),
  // with the plugin's caption as its heading, advancing the stored tip
  // number and the plugins' turn; empty without a plugin.
  static NorvString NextTipText(CNorvTreeListItem* root);
  // The plugins' turn (the next plugin to give a tip when they take turns).
  static int& PluginTurn();

  QString TipText() const;
  QCheckBox* ShowAtStartupBox() const { return m_startup; }

  // Stores "StartUp" (1 when the box is cleared) and closes.
  void accept() override;

 private:
  void ShowNextTip();

  QLabel* m_text = nullptr;
  QCheckBox* m_startup = nullptr;
};
