#include "NorvPropertySheet.h"

#include <QAbstractButton>
#include <QAbstractItemView>
#include <QAbstractSlider>
#include <QAbstractSpinBox>
#include <QAction>
#include <QComboBox>
#include <QDateTimeEdit>
#include <QDialogButtonBox>
#include <QItemSelectionModel>
#include <QKeyEvent>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QSpinBox>
#include <QTabWidget>
#include <QTextEdit>
#include <QVBoxLayout>

#include "norv/NorvTlgItem.h"
#include "platform/resources.h"

namespace {
QString Q(const NorvString& s) { return QString::fromStdWString(s); }
}  // namespace

// ===========================================================================
// CNorvPropertyPage
// ===========================================================================

CNorvPropertyPage::CNorvPropertyPage(QWidget* parent) : QWidget(parent) {}

CNorvPropertyPage::CNorvPropertyPage(UINT templateId, UINT captionId)
    : m_templateId(templateId), m_helpId(templateId) {
  if (captionId != 0) m_caption = plat::LoadString(captionId);
}

CNorvPropertyPage::CNorvPropertyPage(const NorvString& caption, UINT templateId)
    : m_caption(caption), m_templateId(templateId), m_helpId(templateId) {}

CNorvPropertyPage::~CNorvPropertyPage() = default;

void CNorvPropertyPage::EnsureInitialized() {
  if (m_initialized) return;
  m_initialized = TRUE;
  OnInitDialog();
}

BOOL CNorvPropertyPage::OnInitDialog() {
  CNorvDialog::SetDialogFont(this);
  CNorvDialog::UpdateControls(this);
  WatchControls();
  m_changed = FALSE;
  return TRUE;
}

void CNorvPropertyPage::WatchControls() {
  // What counts as a change: a click, a menu command, a selection change,
  // an edit or combo text change, a value or date change.
  for (QAbstractButton* b : findChildren<QAbstractButton*>())
    connect(b, &QAbstractButton::clicked, this, &CNorvPropertyPage::MarkChanged);
  for (QAction* a : findChildren<QAction*>())
    connect(a, &QAction::triggered, this, &CNorvPropertyPage::MarkChanged);
  for (QComboBox* c : findChildren<QComboBox*>()) {
    connect(c, &QComboBox::currentIndexChanged, this, &CNorvPropertyPage::MarkChanged);
    connect(c, &QComboBox::editTextChanged, this, &CNorvPropertyPage::MarkChanged);
  }
  for (QLineEdit* e : findChildren<QLineEdit*>()) {
    // A combo box's or spin box's own edit part reports through its owner.
    if (qobject_cast<QComboBox*>(e->parent()) || qobject_cast<QAbstractSpinBox*>(e->parent()))
      continue;
    connect(e, &QLineEdit::textChanged, this, &CNorvPropertyPage::MarkChanged);
  }
  for (QTextEdit* e : findChildren<QTextEdit*>())
    connect(e, &QTextEdit::textChanged, this, &CNorvPropertyPage::MarkChanged);
  for (QPlainTextEdit* e : findChildren<QPlainTextEdit*>())
    connect(e, &QPlainTextEdit::textChanged, this, &CNorvPropertyPage::MarkChanged);
  for (QDateTimeEdit* d : findChildren<QDateTimeEdit*>())
    connect(d, &QDateTimeEdit::dateTimeChanged, this, &CNorvPropertyPage::MarkChanged);
  for (QSpinBox* s : findChildren<QSpinBox*>())
    connect(s, &QSpinBox::valueChanged, this, &CNorvPropertyPage::MarkChanged);
  for (QAbstractSlider* s : findChildren<QAbstractSlider*>()) {
    if (qobject_cast<QAbstractItemView*>(s->parent())) continue;  // scroll bars
    connect(s, &QAbstractSlider::valueChanged, this, &CNorvPropertyPage::MarkChanged);
  }
  for (QAbstractItemView* v : findChildren<QAbstractItemView*>()) {
    if (qobject_cast<QComboBox*>(v->parent()) || v->selectionModel() == nullptr) continue;
    connect(v->selectionModel(), &QItemSelectionModel::selectionChanged, this,
            &CNorvPropertyPage::MarkChanged);
  }
}

BOOL CNorvPropertyPage::OnKillActive() { return Validate(); }

void CNorvPropertyPage::OnHelp() {
  if (CNorvTreeListItem::GetActiveItem() == nullptr) return;
  CNorvDialog::ShowContextHelp(m_helpId);
}

void CNorvPropertyPage::keyPressEvent(QKeyEvent* event) {
  if (event->key() == Qt::Key_F1 && event->modifiers() == Qt::NoModifier) {
    OnHelp();
    event->accept();
    return;
  }
  QWidget::keyPressEvent(event);
}

// ===========================================================================
// CNorvPropertySheet
// ===========================================================================

CNorvPropertySheet::CNorvPropertySheet(UINT captionId, BOOL resultOnlyOnChange, QWidget* parent,
                                       UINT selectPage)
    : CNorvDialog(parent), m_resultOnlyOnChange(resultOnlyOnChange), m_startPage(selectPage) {
  Build(captionId != 0 ? plat::LoadString(captionId) : NorvString());
}

CNorvPropertySheet::CNorvPropertySheet(const NorvString& caption, BOOL resultOnlyOnChange,
                                       QWidget* parent, UINT selectPage)
    : CNorvDialog(parent), m_resultOnlyOnChange(resultOnlyOnChange), m_startPage(selectPage) {
  Build(caption);
}

CNorvPropertySheet::~CNorvPropertySheet() = default;

void CNorvPropertySheet::Build(const NorvString& caption) {
  setWindowTitle(Q(caption));
  auto* layout = new QVBoxLayout(this);
  m_tabs = new QTabWidget(this);
  layout->addWidget(m_tabs);
  // OK, Cancel and Help; no Apply.
  m_buttons = new QDialogButtonBox(
      QDialogButtonBox::Ok | QDialogButtonBox::Cancel | QDialogButtonBox::Help, this);
  m_buttons->button(QDialogButtonBox::Ok)->setDefault(true);
  connect(m_buttons, &QDialogButtonBox::accepted, this, &CNorvPropertySheet::accept);
  connect(m_buttons, &QDialogButtonBox::rejected, this, &CNorvDialog::reject);
  connect(m_buttons, &QDialogButtonBox::helpRequested, this, &CNorvPropertySheet::OnHelp);
  layout->addWidget(m_buttons);
  connect(m_tabs, &QTabWidget::currentChanged, this, &CNorvPropertySheet::OnTabChanged);
}

void CNorvPropertySheet::AddPage(CNorvPropertyPage* page) {
  if (page == nullptr) return;
  m_pages.push_back(page);
  const bool first = m_tabs->count() == 0;
  m_switching = true;
  m_tabs->addTab(page, Q(page->GetCaption()));
  m_switching = false;
  if (first) m_current = 0;
}

CNorvPropertyPage* CNorvPropertySheet::GetPage(int index) const {
  return index >= 0 && index < GetPageCount() ? m_pages[static_cast<size_t>(index)] : nullptr;
}

CNorvPropertyPage* CNorvPropertySheet::GetActivePage() const { return GetPage(GetActiveIndex()); }

int CNorvPropertySheet::GetActiveIndex() const { return m_tabs->currentIndex(); }

BOOL CNorvPropertySheet::SetActivePage(int index) {
  if (index < 0 || index >= GetPageCount()) return FALSE;
  m_tabs->setCurrentIndex(index);
  return m_tabs->currentIndex() == index ? TRUE : FALSE;
}

void CNorvPropertySheet::OnTabChanged(int index) {
  if (m_switching) return;
  CNorvPropertyPage* previous = GetPage(m_current);
  if (previous != nullptr && m_current != index && !previous->OnKillActive()) {
    // The page refuses to be left: back to it.
    m_switching = true;
    m_tabs->setCurrentIndex(m_current);
    m_switching = false;
    return;
  }
  m_current = index;
  if (CNorvPropertyPage* page = GetPage(index)) {
    page->EnsureInitialized();
    page->OnSetActive();
  }
}

BOOL CNorvPropertySheet::AnyPageChanged() const {
  for (const CNorvPropertyPage* page : m_pages)
    if (page->IsChanged()) return TRUE;
  return FALSE;
}

BOOL CNorvPropertySheet::OnInitDialog() {
  SetDialogFont(this);
  // Every page once, in order, so that each is created; then the start
  // page (or the one that was active).
  const int start = m_startPage < static_cast<UINT>(GetPageCount()) ? static_cast<int>(m_startPage)
                                                                    : GetActiveIndex();
  m_switching = true;
  for (int i = 0; i < GetPageCount(); ++i) {
    m_tabs->setCurrentIndex(i);
    m_pages[static_cast<size_t>(i)]->EnsureInitialized();
  }
  m_tabs->setCurrentIndex(start);
  m_switching = false;
  m_current = start;
  if (CNorvPropertyPage* page = GetPage(start)) page->OnSetActive();
  return TRUE;
}

void CNorvPropertySheet::accept() {
  CNorvPropertyPage* active = GetActivePage();
  if (active != nullptr && !active->OnKillActive()) return;
  for (CNorvPropertyPage* page : m_pages) page->OnOK();
  done(IDOK);
}

int CNorvPropertySheet::FilterResult(int result) const {
  if (m_resultOnlyOnChange && !AnyPageChanged()) return IDCANCEL;
  return result;
}

int CNorvPropertySheet::DoModal() { return FilterResult(CNorvDialog::DoModal()); }

void CNorvPropertySheet::OnHelp() {
  if (CNorvPropertyPage* page = GetActivePage())
    page->OnHelp();
  else
    CNorvDialog::OnHelp();
}
