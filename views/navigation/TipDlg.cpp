#include "TipDlg.h"

#include <QCheckBox>
#include <QDialogButtonBox>
#include <QFrame>
#include <QLabel>
#include <QPushButton>
#include <QVBoxLayout>
#include <iterator>

#include "FrameTools.h"
#include "norv/NorvDoc.h"
#include "norv/NorvRegistryKey.h"
#include "norv/NorvResourceStack.h"
#include "norv/NorvTlgItem.h"
#include "norv/PluginHandler.h"
#include "norv/Trace.h"
#include "platform/resources.h"

namespace {

// The explorer's own tips, for plugins that bring none.
const wchar_t* const kExplorerTips[] = {
    L"Double-click an object in the list to open it; press Backspace to go up one level.",
    L"Add a bookmark for the object you use most with Favorites > Add Bookmark, and find it again "
    L"in the explorer bar's bookmark pane.",
    L"The history pane lists the objects you visited; Back and Forward on the toolbar have a "
    L"drop-down of the last ones.",
    L"Type a tree path such as /Files/home in the address bar and press Enter to go there.",
    L"Right-click a column header to choose the columns; the list remembers widths, order, "
    L"sorting and filters for each kind of object.",
    L"Tools > Options decides whether selecting an object in the tree expands it.",
};

NorvString PluginCaption(const NorvPluginRecord& record) {
  if (record.entry.GetPluginCaption == nullptr) return record.name;
  wchar_t caption[NORV_PLUGIN_TEXT_CHARS] = {};
  record.entry.GetPluginCaption(caption, NORV_PLUGIN_TEXT_CHARS);
  caption[NORV_PLUGIN_TEXT_CHARS - 1] = L'\0';
  return caption;
}

NorvString LoadTip(UINT id) {
  NorvString text = plat::LoadString(id);
  if (text.size() > static_cast<size_t>(CTipDlg::kMaxTipChars))
    text.resize(CTipDlg::kMaxTipChars);
  return text;
}

}  // namespace

int& CTipDlg::PluginTurn() {
  static int turn = 0;
  return turn;
}

BOOL CTipDlg::ShowAtStartup() { return NorvGetProfileInt("Tip", "StartUp", 0) == 0; }

NorvString CTipDlg::NextTipText(CNorvTreeListItem* root) {
  // 1. The plugin.
  int pluginId = -1;
  if (root != nullptr && root->GetClassName() == L"CNorvRoot") {
    int& turn = PluginTurn();
    if (turn < 0 || turn >= CPluginHandler::GetPluginCount()) turn = 0;
    pluginId = turn;
  } else if (root != nullptr) {
    pluginId = CPluginHandler::FindClassPluginId(root->GetClassName());
  }
  if (pluginId < 0 || pluginId >= CPluginHandler::GetPluginCount()) return {};
  const NorvPluginRecord& record = CPluginHandler::pluginList[static_cast<size_t>(pluginId)];

  NorvString tip;
  {
    NorvResourceStack resources(record.resourceModule);
    // 2. The number of the plugin's next tip.
    CNorvPrivateRegistryKey key(plat::HKEY_CURRENT_USER, L"Tip", plat::KEY_ALL_ACCESS);
    UINT n = 0;
    key.GetUIntValue(record.name, n);
    // 3. The heading.
    const NorvString heading = PluginCaption(record) + L":\n\n";
    // 4. The tip; after the last one the first again.
    NorvString text;
    if (record.entry.GetTipOfTheDayStartIndex != nullptr) {
      const UINT start = record.entry.GetTipOfTheDayStartIndex();
      text = LoadTip(start + n);
      if (text.empty()) {
        n = 0;
        text = LoadTip(start);
      }
    } else {
      if (n >= std::size(kExplorerTips)) n = 0;
      text = kExplorerTips[n];
    }
    // 5. Remember where to go on.
    if (!key.SetUIntValue(record.name, n + 1))
      NORV_BASE_TRACE(2, 0, L"CTipDlg: the tip number could not be stored");
    tip = heading + text;
  }
  ++PluginTurn();
  return tip;
}

CTipDlg::CTipDlg(QWidget* parent) : CNorvDialog(IDD, parent) {
  setWindowTitle(tr("Tip of the Day"));
  auto* layout = new QVBoxLayout(this);
  auto* title = new QLabel(tr("<b>Did you know...</b>"), this);
  m_text = new QLabel(this);
  m_text->setObjectName(QStringLiteral("TipText"));
  m_text->setWordWrap(true);
  m_text->setTextFormat(Qt::PlainText);
  m_text->setAlignment(Qt::AlignLeft | Qt::AlignTop);
  m_text->setFrameShape(QFrame::StyledPanel);
  m_text->setMargin(10);
  m_text->setMinimumSize(360, 140);
  m_text->setTextInteractionFlags(Qt::TextSelectableByMouse);
  m_startup = new QCheckBox(tr("&Show tips at start-up"), this);
  m_startup->setObjectName(QStringLiteral("ShowAtStartup"));
  m_startup->setChecked(ShowAtStartup() != FALSE);
  auto* buttons = new QDialogButtonBox(this);
  QPushButton* next = buttons->addButton(tr("&Next Tip"), QDialogButtonBox::ActionRole);
  buttons->addButton(QDialogButtonBox::Close);
  connect(next, &QPushButton::clicked, this, &CTipDlg::ShowNextTip);
  // Close is this dialog's OK: it stores the start-up choice.
  connect(buttons, &QDialogButtonBox::rejected, this, &CTipDlg::accept);
  layout->addWidget(title);
  layout->addWidget(m_text, 1);
  layout->addWidget(m_startup);
  layout->addWidget(buttons);
  ShowNextTip();
}

void CTipDlg::ShowNextTip() { m_text->setText(QString::fromStdWString(NextTipText(CNorvDoc::GetRoot()))); }

QString CTipDlg::TipText() const { return m_text->text(); }

void CTipDlg::accept() {
  if (!NorvWriteProfileInt("Tip", "StartUp", m_startup->isChecked() ? 0 : 1))
    NORV_BASE_TRACE(2, 0, L"CTipDlg: \"StartUp\" could not be written to the profile");
  CNorvDialog::accept();
}
