#include "NorvDialog.h"

#include <QCoreApplication>
#include <QDesktopServices>
#include <QDialogButtonBox>
#include <QFileInfo>
#include <QFontMetrics>
#include <QKeyEvent>
#include <QLabel>
#include <QPushButton>
#include <QShowEvent>
#include <QUrl>
#include <QVBoxLayout>

#include "MainFrm.h"
#include "NorvPropertySheet.h"
#include "norv/NorvDoc.h"
#include "norv/NorvTlgItem.h"
#include "norv/NorvViewServices.h"
#include "norv/Trace.h"

namespace {

QString Q(const NorvString& s) { return QString::fromStdWString(s); }
NorvString W(const QString& s) { return s.toStdWString(); }

int g_openModalDialogs = 0;

// Shows help `id` of `file` through the frame's help window, else hands an
// HTML help file to the desktop.
BOOL ShowHelpFile(const NorvString& file, UINT id, UINT command) {
  if (file.empty()) {
    NORV_BASE_TRACE(2, 0, NorvFormatString(L"CNorvDialog: no help file for help id %u", id));
    return FALSE;
  }
  if (NorvGetViewServices()->ShowHelp(id, command, file)) return TRUE;
  const QFileInfo info(Q(file));
  if (!info.exists()) {
    NORV_BASE_TRACE(2, 0,
                    NorvFormatString(L"CNorvDialog: help file \"%s\" not found (help id %u)",
                                     file.c_str(), id));
    return FALSE;
  }
  NORV_BASE_TRACE(4, 0, NorvFormatString(L"CNorvDialog: help id %u in \"%s\"", id, file.c_str()));
  return QDesktopServices::openUrl(QUrl::fromLocalFile(info.absoluteFilePath())) ? TRUE : FALSE;
}

}  // namespace

INorvInitControl::~INorvInitControl() = default;

CNorvDialog::CNorvDialog(QWidget* parent) : QDialog(parent) {}

CNorvDialog::CNorvDialog(UINT templateId, QWidget* parent)
    : QDialog(parent), m_templateId(templateId), m_helpId(templateId) {}

CNorvDialog::CNorvDialog(const NorvString& templateName, QWidget* parent)
    : QDialog(parent), m_templateName(templateName) {
  setObjectName(Q(templateName));
}

CNorvDialog::~CNorvDialog() = default;

int CNorvDialog::DoModal() {
  ModalDialogStarted();
  EnsureInitialized();
  const int result = exec();
  ModalDialogEnded();
  return result;
}

BOOL CNorvDialog::OnInitDialog() {
  SetDialogFont(this);
  UpdateControls(this);
  return TRUE;
}

void CNorvDialog::EnsureInitialized() {
  if (m_initialized) return;
  m_initialized = TRUE;
  OnInitDialog();
}

void CNorvDialog::showEvent(QShowEvent* event) {
  EnsureInitialized();
  QDialog::showEvent(event);
}

void CNorvDialog::reject() { done(IDCANCEL); }

void CNorvDialog::keyPressEvent(QKeyEvent* event) {
  if (event->key() == Qt::Key_F1 && event->modifiers() == Qt::NoModifier) {
    OnHelp();
    event->accept();
    return;
  }
  QDialog::keyPressEvent(event);
}

void CNorvDialog::OnHelp() { ShowContextHelp(m_helpId); }

// --- fonts -----------------------------------------------------------------

const QFont* CNorvDialog::GetDialogFont() {
  CNorvDoc* doc = CNorvDoc::GetDoc();
  return doc != nullptr ? &doc->GetDialogFont() : nullptr;
}

const QFont* CNorvDialog::GetExplorerFont() {
  CNorvDoc* doc = CNorvDoc::GetDoc();
  return doc != nullptr ? &doc->GetViewFont() : nullptr;
}

void CNorvDialog::GetFontUnits(const QFont& font, int& horizontal, int& vertical) {
  const QFontMetrics metrics(font);
  const int sample = metrics.horizontalAdvance(
      QStringLiteral("ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz"));
  horizontal = (sample / 26 + 1) / 2;
  vertical = metrics.height();
}

BOOL CNorvDialog::SetDialogFont(QWidget* window) { return SetDialogFont(window, GetDialogFont()); }

BOOL CNorvDialog::SetDialogFont(QWidget* window, const QFont* font) {
  if (font == nullptr || window == nullptr) return TRUE;
  int oldH = 0, oldV = 0, newH = 0, newV = 0;
  GetFontUnits(window->font(), oldH, oldV);
  GetFontUnits(*font, newH, newV);
  // A font without measurable units scales nothing.
  const bool scale = oldH > 0 && oldV > 0 && newH > 0 && newV > 0 && (oldH != newH || oldV != newV);
  auto scaleX = [&](int x) { return scale ? x * newH / oldH : x; };
  auto scaleY = [&](int y) { return scale ? y * newV / oldV : y; };

  // A window its layout has not been sized by yet takes its size from the
  // layout in the new font when it is shown.
  const bool sized = window->layout() == nullptr || window->testAttribute(Qt::WA_Resized);
  if (scale && sized) {
    const QSize old = window->size();
    const QSize grown(scaleX(old.width()), scaleY(old.height()));
    if (qobject_cast<CNorvPropertySheet*>(window) != nullptr) {
      // A sheet keeps its centre.
      const QPoint pos = window->pos();
      window->move(pos.x() - (grown.width() - old.width()) / 2,
                   pos.y() - (grown.height() - old.height()) / 2);
    }
    window->resize(grown);
  }
  window->setFont(*font);
  const QObjectList children = window->children();
  for (QObject* object : children) {
    auto* child = qobject_cast<QWidget*>(object);
    if (child == nullptr || child->isWindow()) continue;
    child->setFont(*font);
    // Children a layout places follow the layout; the others are moved.
    if (!scale || window->layout() != nullptr) continue;
    const QRect r = child->geometry();
    const int left = scaleX(r.left()), right = scaleX(r.left() + r.width());
    const int top = scaleY(r.top()), bottom = scaleY(r.top() + r.height());
    child->setGeometry(left, top, right - left, bottom - top);
  }
  return TRUE;
}

void CNorvDialog::UpdateControls(QWidget* window) {
  if (window == nullptr) return;
  const QList<QWidget*> children = window->findChildren<QWidget*>();
  for (QWidget* child : children) {
    if (auto* control = dynamic_cast<INorvInitControl*>(child)) {
      control->InitControl();
      control->OnInitControl();
    }
  }
}

// --- help ------------------------------------------------------------------

BOOL CNorvDialog::InvokeMessageHelp(UINT helpId, CNorvTreeListItem* item) {
  if (item == nullptr) item = CNorvTreeListItem::GetActiveItem();
  if (item == nullptr) return FALSE;
  const wchar_t* file = item->GetMessageHelpFile();
  return ShowHelpFile(file != nullptr ? NorvString(file) : NorvString(), helpId, NORV_HELP_CONTEXT);
}

BOOL CNorvDialog::ShowContextHelp(UINT helpId) {
  NorvString file;
  if (CNorvTreeListItem* item = CNorvTreeListItem::GetActiveItem()) {
    const wchar_t* f = item->GetHelpFile();
    if (f != nullptr) file = f;
  } else {
    // The program's own help: "<program>.html" beside it.
    const QString app = QCoreApplication::applicationFilePath();
    if (!app.isEmpty()) file = W(app + QStringLiteral(".html"));
  }
  return ShowHelpFile(file, helpId, NORV_HELP_CONTEXT);
}

// --- modal count -----------------------------------------------------------

int CNorvDialog::GetOpenModalDialogs() { return g_openModalDialogs; }

void CNorvDialog::ModalDialogStarted() {
  ++g_openModalDialogs;
  if (CMainFrame::theFrame != nullptr) CMainFrame::theFrame->CountModalDialog(+1);
}

void CNorvDialog::ModalDialogEnded() {
  if (g_openModalDialogs > 0) --g_openModalDialogs;
  if (CMainFrame::theFrame != nullptr) CMainFrame::theFrame->CountModalDialog(-1);
}

// --- delete confirmation ---------------------------------------------------

CNorvConfirmDeleteDlg::CNorvConfirmDeleteDlg(QWidget* parent) : CNorvDialog(IDD, parent) {
  Build();
}

CNorvConfirmDeleteDlg::CNorvConfirmDeleteDlg(UINT templateId, QWidget* parent)
    : CNorvDialog(templateId, parent) {
  Build();
}

void CNorvConfirmDeleteDlg::Build() {
  auto* layout = new QVBoxLayout(this);
  m_text = new QLabel(this);
  m_text->setWordWrap(true);
  layout->addWidget(m_text);
  auto* buttons = new QDialogButtonBox(QDialogButtonBox::Yes | QDialogButtonBox::No, this);
  buttons->button(QDialogButtonBox::Yes)->setDefault(true);
  connect(buttons, &QDialogButtonBox::accepted, this, &QDialog::accept);
  connect(buttons, &QDialogButtonBox::rejected, this, &CNorvDialog::reject);
  layout->addWidget(buttons);
  setWindowTitle(tr("Confirm Delete"));
}

void CNorvConfirmDeleteDlg::SetText(const NorvString& text) { m_text->setText(Q(text)); }
