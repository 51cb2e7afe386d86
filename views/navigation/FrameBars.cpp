#include "FrameBars.h"

#include <QBoxLayout>
#include <QComboBox>
#include <QGridLayout>
#include <QLabel>
#include <QResizeEvent>
#include <QStackedWidget>
#include <QStyle>
#include <QToolButton>
#include <algorithm>

#include "norv/NorvHostCommands.h"

namespace {

constexpr UINT kFirstViewCommand = ID_NORV_CMD_VIEW_STYLE_FIRST;  // view mode 0
constexpr UINT kOwnViewCommand = ID_NORV_CMD_VIEW_STYLE_LAST;     // the item's own view

QToolButton* MakeCloseButton(QWidget* parent) {
  auto* close = new QToolButton(parent);
  close->setAutoRaise(true);
  close->setIcon(parent->style()->standardIcon(QStyle::SP_TitleBarCloseButton));
  close->setIconSize(QSize(12, 12));
  close->setFocusPolicy(Qt::NoFocus);
  return close;
}

}  // namespace

// ===========================================================================
// CComboFrame
// ===========================================================================

CComboFrame::CComboFrame(QWidget* parent) : QWidget(parent) {
  auto* layout = new QVBoxLayout(this);
  layout->setContentsMargins(0, 0, 0, 0);
  layout->setSpacing(2);
  auto* caption = new QHBoxLayout;
  caption->setContentsMargins(2, 2, 2, 0);
  m_selector = new QComboBox(this);
  m_close = MakeCloseButton(this);
  caption->addWidget(m_selector, 1);
  caption->addWidget(m_close);
  layout->addLayout(caption);
  m_panes = new QStackedWidget(this);
  layout->addWidget(m_panes, 1);
  connect(m_selector, &QComboBox::currentIndexChanged, this, [this](int index) {
    if (index < 0) return;
    m_panes->setCurrentIndex(index);
    emit PaneSelected(index);
  });
  connect(m_close, &QToolButton::clicked, this, [this] {
    if (m_closeCommand != 0) emit CommandRequested(m_closeCommand);
  });
}

int CComboFrame::AddPane(const QString& name, QWidget* pane) {
  const int index = m_panes->addWidget(pane);
  const QSignalBlocker block(m_selector);
  m_selector->addItem(name);
  if (index == 0) m_selector->setCurrentIndex(0);
  return index;
}

void CComboFrame::SelectPane(int index) {
  if (index < 0 || index >= m_panes->count()) return;
  m_panes->setCurrentIndex(index);
  if (m_selector->currentIndex() != index) {
    const QSignalBlocker block(m_selector);
    m_selector->setCurrentIndex(index);
  }
}

int CComboFrame::GetCurrentPane() const { return m_panes->currentIndex(); }
QWidget* CComboFrame::GetPane(int index) const { return m_panes->widget(index); }
QWidget* CComboFrame::GetCurrentPaneWindow() const { return m_panes->currentWidget(); }

void CComboFrame::SetCloseCommand(UINT command, const QString& toolTip) {
  m_closeCommand = command;
  m_close->setToolTip(toolTip);
  m_selector->setToolTip(toolTip);
}

// ===========================================================================
// CBarFrame
// ===========================================================================

CBarFrame::CBarFrame(QWidget* parent) : QWidget(parent) {
  m_layout = new QBoxLayout(QBoxLayout::TopToBottom, this);
  m_layout->setContentsMargins(0, 0, 0, 0);
  m_layout->setSpacing(2);
  m_caption = new QWidget(this);
  m_captionLayout = new QBoxLayout(QBoxLayout::LeftToRight, m_caption);
  m_captionLayout->setContentsMargins(4, 2, 2, 0);
  m_title = new QLabel(m_caption);
  m_close = MakeCloseButton(m_caption);
  m_captionLayout->addWidget(m_title, 1);
  m_captionLayout->addWidget(m_close);
  m_layout->addWidget(m_caption);
  connect(m_close, &QToolButton::clicked, this, [this] {
    if (m_closeCommand != 0) emit CommandRequested(m_closeCommand);
  });
}

void CBarFrame::SetTitle(const QString& title) { m_title->setText(title); }
QString CBarFrame::GetTitle() const { return m_title->text(); }

void CBarFrame::SetCloseCommand(UINT command, const QString& toolTip) {
  m_closeCommand = command;
  m_close->setToolTip(toolTip);
}

QWidget* CBarFrame::SetChild(QWidget* child) {
  QWidget* previous = m_child;
  if (previous == child) return nullptr;
  if (previous != nullptr) {
    m_layout->removeWidget(previous);
    previous->hide();
  }
  m_child = child;
  if (child != nullptr) {
    child->setParent(this);
    m_layout->addWidget(child, 1);
    child->show();
  }
  return previous;
}

void CBarFrame::SetHeaderPosition(OutputViewHeaderPosition position) {
  m_position = position;
  m_caption->setVisible(position != OUTPUT_HEADER_NONE);
  switch (position) {
    case OUTPUT_HEADER_BOTTOM:
      m_layout->setDirection(QBoxLayout::BottomToTop);
      m_captionLayout->setDirection(QBoxLayout::LeftToRight);
      break;
    case OUTPUT_HEADER_LEFT:
      m_layout->setDirection(QBoxLayout::LeftToRight);
      m_captionLayout->setDirection(QBoxLayout::BottomToTop);
      break;
    case OUTPUT_HEADER_RIGHT:
      m_layout->setDirection(QBoxLayout::RightToLeft);
      m_captionLayout->setDirection(QBoxLayout::BottomToTop);
      break;
    default:
      m_layout->setDirection(QBoxLayout::TopToBottom);
      m_captionLayout->setDirection(QBoxLayout::LeftToRight);
      break;
  }
}

// ===========================================================================
// CPaneWnd
// ===========================================================================

CPaneWnd::CPaneWnd(QWidget* parent) : QWidget(parent) {
  m_grid = new QGridLayout(this);
  m_grid->setContentsMargins(0, 0, 0, 0);
  m_grid->setSpacing(0);
  for (Line& row : m_rows) row = Line{0, true};
  for (Line& column : m_columns) column = Line{0, true};
  Apply();
}

void CPaneWnd::SetRow(int row, int size, bool stretch) {
  if (row < 0 || row >= kRows) return;
  m_rows[row] = Line{std::max(0, size), stretch};
  Apply();
}

void CPaneWnd::SetColumn(int column, int size, bool stretch) {
  if (column < 0 || column >= kColumns) return;
  m_columns[column] = Line{std::max(0, size), stretch};
  Apply();
}

int CPaneWnd::GetRowSize(int row) const { return row >= 0 && row < kRows ? m_rows[row].size : 0; }
int CPaneWnd::GetColumnSize(int column) const {
  return column >= 0 && column < kColumns ? m_columns[column].size : 0;
}
bool CPaneWnd::IsRowStretching(int row) const {
  return row >= 0 && row < kRows && m_rows[row].stretch;
}
bool CPaneWnd::IsColumnStretching(int column) const {
  return column >= 0 && column < kColumns && m_columns[column].stretch;
}

void CPaneWnd::Apply() {
  for (int i = 0; i < kRows; ++i) {
    m_grid->setRowMinimumHeight(i, m_rows[i].size);
    m_grid->setRowStretch(i, m_rows[i].stretch ? 1 : 0);
  }
  for (int i = 0; i < kColumns; ++i) {
    m_grid->setColumnMinimumWidth(i, m_columns[i].size);
    m_grid->setColumnStretch(i, m_columns[i].stretch ? 1 : 0);
  }
  // A fixed line with a child keeps its size even when the child would
  // like more.
  for (int r = 0; r < kRows; ++r)
    for (int c = 0; c < kColumns; ++c) {
      QWidget* child = m_cells[r][c];
      if (child == nullptr) continue;
      child->setMaximumSize(m_columns[c].stretch ? QWIDGETSIZE_MAX : m_columns[c].size,
                            m_rows[r].stretch ? QWIDGETSIZE_MAX : m_rows[r].size);
    }
  m_grid->invalidate();
}

void CPaneWnd::SetCell(int row, int column, QWidget* child, int rowSpan, int columnSpan) {
  if (row < 0 || row >= kRows || column < 0 || column >= kColumns || child == nullptr) return;
  RemoveCell(row, column);
  child->setParent(this);
  child->setObjectName(child->objectName().isEmpty()
                           ? QStringLiteral("pane%1").arg(CellId(row, column))
                           : child->objectName());
  m_cells[row][column] = child;
  m_grid->addWidget(child, row, column, std::max(1, rowSpan), std::max(1, columnSpan));
  child->raise();
  if (!child->isHidden() || !child->testAttribute(Qt::WA_WState_ExplicitShowHide)) child->show();
  Apply();
}

QWidget* CPaneWnd::GetCell(int row, int column) const {
  return row >= 0 && row < kRows && column >= 0 && column < kColumns ? m_cells[row][column]
                                                                       : nullptr;
}

void CPaneWnd::RemoveCell(int row, int column) {
  QWidget* child = GetCell(row, column);
  if (child == nullptr) return;
  m_grid->removeWidget(child);
  m_cells[row][column] = nullptr;
}

void CPaneWnd::SetBackground(QWidget* child) {
  m_background = child;
  if (child == nullptr) return;
  child->setParent(this);
  child->setGeometry(rect());
  child->lower();
  child->show();
}

void CPaneWnd::resizeEvent(QResizeEvent* event) {
  QWidget::resizeEvent(event);
  if (m_background != nullptr) {
    m_background->setGeometry(rect());
    m_background->lower();
  }
}

// ===========================================================================
// CClientFrame
// ===========================================================================

CClientFrame::CClientFrame(QWidget* parent) : QWidget(parent) {
  auto* layout = new QVBoxLayout(this);
  layout->setContentsMargins(0, 0, 0, 0);
  layout->setSpacing(0);
  m_caption = new QWidget(this);
  auto* caption = new QHBoxLayout(m_caption);
  caption->setContentsMargins(2, 2, 2, 2);
  m_selector = new QComboBox(m_caption);
  m_selector->setSizeAdjustPolicy(QComboBox::AdjustToContents);
  caption->addStretch(1);
  caption->addWidget(m_selector);
  layout->addWidget(m_caption);
  m_paneWnd = new CPaneWnd(this);
  layout->addWidget(m_paneWnd, 1);
  connect(m_selector, &QComboBox::activated, this, [this](int index) {
    if (m_filling) return;
    const UINT command = m_selector->itemData(index).toUInt();
    if (command != 0) emit CommandRequested(command);
  });
}

void CClientFrame::SetViewSelector(const std::vector<std::pair<NorvString, UINT>>& entries,
                                   int current) {
  m_filling = true;
  m_selector->clear();
  int shown = -1;
  for (const auto& [text, command] : entries) {
    // The item's own view comes as command -1; it is the last view style.
    const UINT style = command == static_cast<UINT>(-1) ? kOwnViewCommand : command;
    if (static_cast<int>(style) - static_cast<int>(kFirstViewCommand) == current)
      shown = m_selector->count();
    m_selector->addItem(QString::fromStdWString(text), style);
  }
  m_selector->setCurrentIndex(shown);
  m_selector->setEnabled(!entries.empty());
  m_filling = false;
}

void CClientFrame::ShowViewSelector(bool show) { m_caption->setVisible(show); }
bool CClientFrame::IsViewSelectorShown() const { return !m_caption->isHidden(); }
