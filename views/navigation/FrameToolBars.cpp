#include "FrameToolBars.h"

#include <QAction>
#include <QKeyEvent>
#include <QLineEdit>
#include <QMenu>
#include <QStyle>
#include <QToolButton>

#include "norv/NorvHostCommands.h"
#include "norv/NorvHostStrings.h"
#include "platform/resources.h"

const CFixedToolBar::ButtonInfo CFixedToolBar::kButtons[kButtonCount] = {
    {ID_NORV_CMD_NEW_WINDOW, IDS_NORV_BUTTON_NEW_WINDOW, false},
    {ID_NORV_CMD_EXPLORE_FROM_HERE, IDS_NORV_BUTTON_EXPLORE, false},
    {ID_NORV_CMD_BACK_FIRST, IDS_NORV_BUTTON_BACK, true},
    {ID_NORV_CMD_FORWARD_FIRST, IDS_NORV_BUTTON_FORWARD, true},
    {ID_NORV_CMD_UP, IDS_NORV_BUTTON_UP, false},
    {ID_NORV_CMD_REFRESH, IDS_NORV_BUTTON_REFRESH, false},
    {ID_NORV_CMD_BOOKMARK, IDS_NORV_BUTTON_BOOKMARK, false},
    {0, 0, false},
    {ID_NORV_CMD_NEW, IDS_NORV_BUTTON_NEW, false},
    {ID_NORV_CMD_PROPERTIES, IDS_NORV_BUTTON_PROPERTIES, false},
    {ID_NORV_CMD_DELETE, IDS_NORV_BUTTON_DELETE, false},
    {0, 0, false},
    {ID_NORV_CMD_CUT, IDS_NORV_BUTTON_CUT, false},
    {ID_NORV_CMD_COPY, IDS_NORV_BUTTON_COPY, false},
    {ID_NORV_CMD_PASTE, IDS_NORV_BUTTON_PASTE, false},
    {0, 0, false},
    {ID_NORV_CMD_EXPLORER_BAR, IDS_NORV_BUTTON_FOLDERS, false},
    {ID_NORV_CMD_NEXT_VIEW, IDS_NORV_BUTTON_VIEWS, true},
    {0, 0, false},
    {ID_NORV_CMD_HELP, IDS_NORV_BUTTON_HELP, false},
};

namespace {

QIcon ButtonIcon(const QStyle* style, UINT command) {
  // The desktop theme's icon where it has one, else the style's.
  struct Choice {
    UINT command;
    const char* theme;
    QStyle::StandardPixmap fallback;
  };
  static const Choice kChoices[] = {
      {ID_NORV_CMD_NEW_WINDOW, "window-new", QStyle::SP_DesktopIcon},
      {ID_NORV_CMD_EXPLORE_FROM_HERE, "folder-open", QStyle::SP_DirOpenIcon},
      {ID_NORV_CMD_BACK_FIRST, "go-previous", QStyle::SP_ArrowBack},
      {ID_NORV_CMD_FORWARD_FIRST, "go-next", QStyle::SP_ArrowForward},
      {ID_NORV_CMD_UP, "go-up", QStyle::SP_FileDialogToParent},
      {ID_NORV_CMD_REFRESH, "view-refresh", QStyle::SP_BrowserReload},
      {ID_NORV_CMD_BOOKMARK, "bookmark-new", QStyle::SP_DialogApplyButton},
      {ID_NORV_CMD_NEW, "document-new", QStyle::SP_FileIcon},
      {ID_NORV_CMD_PROPERTIES, "document-properties", QStyle::SP_FileDialogInfoView},
      {ID_NORV_CMD_DELETE, "edit-delete", QStyle::SP_TrashIcon},
      {ID_NORV_CMD_CUT, "edit-cut", QStyle::SP_DialogDiscardButton},
      {ID_NORV_CMD_COPY, "edit-copy", QStyle::SP_FileDialogNewFolder},
      {ID_NORV_CMD_PASTE, "edit-paste", QStyle::SP_DialogSaveButton},
      {ID_NORV_CMD_EXPLORER_BAR, "view-list-tree", QStyle::SP_DirIcon},
      {ID_NORV_CMD_NEXT_VIEW, "view-list-details", QStyle::SP_FileDialogDetailedView},
      {ID_NORV_CMD_HELP, "help-contents", QStyle::SP_DialogHelpButton},
  };
  for (const Choice& choice : kChoices)
    if (choice.command == command)
      return QIcon::fromTheme(QString::fromLatin1(choice.theme),
                              style->standardIcon(choice.fallback));
  return {};
}

}  // namespace

// ===========================================================================
// CFixedToolBar
// ===========================================================================

CFixedToolBar::CFixedToolBar(const QString& title, QWidget* parent) : QToolBar(title, parent) {
  setMovable(false);
  setFloatable(false);
}

void CFixedToolBar::SetupButtons(bool large, bool text) {
  m_large = large;
  m_text = text;
  clear();
  for (auto& entry : m_actions) entry.second->deleteLater();
  m_actions.clear();
  const int size = large ? 20 : 16;
  setIconSize(QSize(size, size));
  setToolButtonStyle(text ? Qt::ToolButtonTextUnderIcon : Qt::ToolButtonIconOnly);
  for (const auto& button : kButtons) {
    if (button.command == 0) {
      addSeparator();
      continue;
    }
    const UINT command = button.command;
    const QString label = QString::fromStdWString(plat::LoadString(button.text));
    auto* action = new QAction(ButtonIcon(style(), command), label, this);
    action->setData(command);
    action->setToolTip(label);
    connect(action, &QAction::triggered, this, [this, command] { emit CommandRequested(command); });
    m_actions[command] = action;
    if (!button.dropDown) {
      addAction(action);
    } else {
      auto* tool = new QToolButton(this);
      tool->setDefaultAction(action);
      tool->setPopupMode(QToolButton::MenuButtonPopup);
      tool->setToolButtonStyle(toolButtonStyle());
      tool->setIconSize(iconSize());
      auto* menu = new QMenu(tool);
      connect(menu, &QMenu::aboutToShow, this,
              [this, menu, command] { emit DropDownRequested(command, menu); });
      connect(menu, &QMenu::triggered, this, [this](QAction* chosen) {
        const UINT id = chosen->data().toUInt();
        if (id != 0) emit CommandRequested(id);
      });
      tool->setMenu(menu);
      addWidget(tool);
    }
    // With labels the buttons are 50 to 100 pixels wide.
    if (QToolButton* shown = Button(command)) {
      shown->setMinimumWidth(text ? 50 : 0);
      shown->setMaximumWidth(text ? 100 : QWIDGETSIZE_MAX);
    }
  }
}

QAction* CFixedToolBar::Action(UINT command) const {
  auto it = m_actions.find(command);
  return it != m_actions.end() ? it->second : nullptr;
}

QToolButton* CFixedToolBar::Button(UINT command) const {
  QAction* action = Action(command);
  if (action == nullptr) return nullptr;
  if (auto* button = qobject_cast<QToolButton*>(widgetForAction(action))) return button;
  for (QToolButton* button : findChildren<QToolButton*>())
    if (button->defaultAction() == action) return button;
  return nullptr;
}

// ===========================================================================
// CAddress
// ===========================================================================

CAddress::CAddress(QWidget* parent) : QComboBox(parent) {
  setEditable(true);
  setInsertPolicy(QComboBox::NoInsert);
  setMinimumWidth(100);
  setMaxVisibleItems(25);
  connect(lineEdit(), &QLineEdit::textEdited, this, [this](const QString& t) { emit TextEdited(t); });
  connect(this, &QComboBox::activated, this, [this](int index) {
    if (!m_droppedDown) return;
    m_chosen = true;
    const QString path = itemData(index, PathRole).toString();
    m_droppedDown = false;
    SetAddress(path, itemIcon(index));
    emit EntryChosen(path);
  });
}

void CAddress::SetAddress(const QString& path, const QIcon& icon) {
  m_address = path;
  m_icon = icon;
  const QSignalBlocker block(this);
  clear();
  addItem(icon, path);
  setItemData(0, path, PathRole);
  setCurrentIndex(0);
  setEditText(path);
}

void CAddress::AddEntry(const QString& text, const QString& path, const QIcon& icon, int indent) {
  addItem(icon, QString(indent * 3, QLatin1Char(' ')) + text);
  setItemData(count() - 1, path, PathRole);
}

void CAddress::showPopup() {
  m_droppedDown = true;
  m_chosen = false;
  {
    const QSignalBlocker block(this);
    clear();
  }
  emit DropDownRequested();
  QComboBox::showPopup();
}

void CAddress::hidePopup() {
  QComboBox::hidePopup();
  // A chosen entry is reported after the list closes: decide on the next
  // turn of the event loop whether this was a cancel.
  QMetaObject::invokeMethod(
      this,
      [this] {
        if (!m_droppedDown || m_chosen) return;
        m_droppedDown = false;
        SetAddress(m_address, m_icon);
        emit Cancelled();
      },
      Qt::QueuedConnection);
}

void CAddress::keyPressEvent(QKeyEvent* event) {
  switch (event->key()) {
    case Qt::Key_Return:
    case Qt::Key_Enter:
      emit Entered(currentText());
      event->accept();
      return;
    case Qt::Key_Escape:
      SetAddress(m_address, m_icon);
      emit Cancelled();
      event->accept();
      return;
    default:
      QComboBox::keyPressEvent(event);
  }
}
