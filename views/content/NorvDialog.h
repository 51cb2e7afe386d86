// The framework's dialog base classes: every dialog of the framework and of
// the plugins gets the explorer's dialog font (with its layout scaled to
// it), the framework's help (F1 and the help command go to the help file of
// the item being called) and the framework's own controls initialised.
//
// Results follow the Windows dialog ids (IDOK 1, IDCANCEL 2, ...): a dialog
// ends with done(id); reject() ends it with IDCANCEL.
#pragma once
#include <QDialog>
#include <QFont>

#include "norv/NorvHostCommands.h"
#include "norv/NorvMessageBox.h"
#include "norv/norvtypes.h"

class CNorvTreeListItem;
class QKeyEvent;
class QShowEvent;

// A control that wants to be set up when the dialog around it is
// initialised (combo boxes listing items, the list control, tree controls).
// UpdateControls calls InitControl (the control runs it once, however often
// it is called) and then OnInitControl.
class NORV_API INorvInitControl {
 public:
  virtual ~INorvInitControl();
  virtual void InitControl() {}
  virtual void OnInitControl() {}
};

class NORV_API CNorvDialog : public QDialog {
  Q_OBJECT

 public:
  explicit CNorvDialog(QWidget* parent = nullptr);
  CNorvDialog(UINT templateId, QWidget* parent);
  CNorvDialog(const NorvString& templateName, QWidget* parent);
  ~CNorvDialog() override;

  // Runs the dialog modally and returns the id it ended with. Counts as an
  // open modal dialog of the main frame while it runs.
  virtual int DoModal();
  // Initialisation: the dialog font, then the controls. Runs once, before
  // the dialog is first shown (DoModal, open, show); EnsureInitialized runs
  // it now when it has not run yet.
  virtual BOOL OnInitDialog();
  void EnsureInitialized();
  BOOL IsInitialized() const { return m_initialized; }

  UINT GetTemplateId() const { return m_templateId; }
  const NorvString& GetTemplateName() const { return m_templateName; }
  // The help id F1 asks for (the template id unless set).
  UINT GetHelpId() const { return m_helpId; }
  void SetHelpId(UINT id) { m_helpId = id; }

  // Gives `window` the document's dialog font.
  static BOOL SetDialogFont(QWidget* window);
  // Gives `window` and its children `font`, scaling their geometry by the
  // change of the font's units. Without a font it does nothing (TRUE).
  static BOOL SetDialogFont(QWidget* window, const QFont* font);
  // Initialises the framework's controls among the window's children.
  static void UpdateControls(QWidget* window);
  // The document's fonts (null without a document).
  static const QFont* GetDialogFont();
  static const QFont* GetExplorerFont();
  // A font's dialog units: the horizontal one from the average width of
  // the upper- and lower-case alphabet, the vertical one its height.
  static void GetFontUnits(const QFont& font, int& horizontal, int& vertical);

  // Help `helpId` in the message help file of `item` (of the item being
  // called when null). FALSE when there is no such item or file.
  static BOOL InvokeMessageHelp(UINT helpId, CNorvTreeListItem* item);
  // Help `helpId` in the help file of the item being called, else in the
  // framework's own help file.
  static BOOL ShowContextHelp(UINT helpId);
  // The help command (F1 sends it).
  virtual void OnHelp();

  // How many of the framework's dialogs run modally now.
  static int GetOpenModalDialogs();
  // DoModal's bracket: counts a dialog in and out (also on the main frame).
  static void ModalDialogStarted();
  static void ModalDialogEnded();

 public slots:
  void reject() override;

 protected:
  void showEvent(QShowEvent* event) override;
  void keyPressEvent(QKeyEvent* event) override;

 private:
  UINT m_templateId = 0;
  NorvString m_templateName;
  UINT m_helpId = 0;
  BOOL m_initialized = FALSE;
};

// Asks before a delete (the document shows it when confirmation is on).
class NORV_API CNorvConfirmDeleteDlg : public CNorvDialog {
  Q_OBJECT

 public:
  static constexpr UINT IDD = 147;
  explicit CNorvConfirmDeleteDlg(QWidget* parent = nullptr);
  CNorvConfirmDeleteDlg(UINT templateId, QWidget* parent);
  // The question shown (set before the dialog runs).
  void SetText(const NorvString& text);

 private:
  void Build();
  class QLabel* m_text = nullptr;
};
