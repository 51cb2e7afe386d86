// The main frame's command bars:
//   CFixedToolBar - the toolbar with the framework's twenty buttons in a
//                   fixed layout, optional text labels and large images;
//   CAddress      - the address bar: an editable combo box whose list is
//                   filled by the frame when it drops down, Enter confirming
//                   the typed path.
#pragma once
#include <QComboBox>
#include <QToolBar>
#include <map>

#include "norv/norvtypes.h"

class QMenu;
class QToolButton;

class NORV_API CFixedToolBar : public QToolBar {
  Q_OBJECT

 public:
  // One button of the fixed layout; command 0 is a separator.
  struct ButtonInfo {
    UINT command;
    UINT text;  // string resource of its label
    bool dropDown;
  };
  static constexpr int kButtonCount = 20;
  static const ButtonInfo kButtons[kButtonCount];

  explicit CFixedToolBar(const QString& title, QWidget* parent = nullptr);

  // (Re)builds the buttons: 20 x 20 images when `large`, else 16 x 16;
  // text labels under the images when `text`.
  void SetupButtons(bool large, bool text);
  bool IsLarge() const { return m_large; }
  bool HasText() const { return m_text; }
  QAction* Action(UINT command) const;
  QToolButton* Button(UINT command) const;

 signals:
  void CommandRequested(UINT command);
  // A drop-down button is about to show `menu` (filled by the receiver).
  void DropDownRequested(UINT command, QMenu* menu);

 private:
  std::map<UINT, QAction*> m_actions;
  bool m_large = true;
  bool m_text = false;
};

class NORV_API CAddress : public QComboBox {
  Q_OBJECT

 public:
  // The path an entry of the drop-down list stands for.
  static constexpr int PathRole = Qt::UserRole + 1;

  explicit CAddress(QWidget* parent = nullptr);

  // Shows `path` with its image without telling anybody (not a user edit).
  void SetAddress(const QString& path, const QIcon& icon);
  QString Address() const { return m_address; }
  // Adds an entry to the drop-down list, indented `indent` levels.
  void AddEntry(const QString& text, const QString& path, const QIcon& icon, int indent);
  bool IsDroppedDown() const { return m_droppedDown; }
  void showPopup() override;
  void hidePopup() override;

 signals:
  void DropDownRequested();
  void EntryChosen(const QString& path);
  void Cancelled();
  void Entered(const QString& text);
  void TextEdited(const QString& text);

 protected:
  void keyPressEvent(QKeyEvent* event) override;

 private:
  QString m_address;
  QIcon m_icon;
  bool m_droppedDown = false;
  bool m_chosen = false;
};
