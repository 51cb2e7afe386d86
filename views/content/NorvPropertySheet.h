// Property sheets and pages of the framework: a tabbed dialog without an
// Apply button whose pages track whether the user changed anything, may
// refuse to be left (Validate), and a sheet that can report IDCANCEL when
// nothing was changed.
#pragma once
#include <QWidget>
#include <vector>

#include "NorvDialog.h"

class QDialogButtonBox;
class QTabWidget;

class NORV_API CNorvPropertyPage : public QWidget {
  Q_OBJECT

 public:
  explicit CNorvPropertyPage(QWidget* parent = nullptr);
  CNorvPropertyPage(UINT templateId, UINT captionId = 0);
  explicit CNorvPropertyPage(const NorvString& caption, UINT templateId = 0);
  ~CNorvPropertyPage() override;

  // The changed flag: set by the page's controls (clicks, menu commands,
  // selection, text, value and date changes), cleared on initialisation.
  void SetChanged(BOOL changed) { m_changed = changed; }
  BOOL IsChanged() const { return m_changed; }

  // The tab's caption (string resource captionId, else the given text).
  const NorvString& GetCaption() const { return m_caption; }
  UINT GetTemplateId() const { return m_templateId; }

  // Initialisation (once, when the page is first activated): the dialog
  // font, the controls, then the controls' changes are watched and the
  // changed flag cleared.
  virtual BOOL OnInitDialog();
  void EnsureInitialized();
  BOOL IsInitialized() const { return m_initialized; }

  // The sheet ends with OK: every page's OnOK.
  virtual void OnOK() {}
  // The page is about to be left: only when Validate agrees.
  virtual BOOL OnKillActive();
  virtual BOOL Validate() { return TRUE; }
  // The page became the active one.
  virtual BOOL OnSetActive() { return TRUE; }
  // Help for the page's help id; none when no item is being called.
  virtual void OnHelp();
  UINT GetHelpId() const { return m_helpId; }
  void SetHelpId(UINT id) { m_helpId = id; }

 protected:
  void keyPressEvent(class QKeyEvent* event) override;

 private:
  void WatchControls();
  void MarkChanged() { m_changed = TRUE; }

  NorvString m_caption;
  UINT m_templateId = 0;
  UINT m_helpId = 0;
  BOOL m_changed = FALSE;
  BOOL m_initialized = FALSE;
};

class NORV_API CNorvPropertySheet : public CNorvDialog {
  Q_OBJECT

 public:
  CNorvPropertySheet(UINT captionId, BOOL resultOnlyOnChange = FALSE, QWidget* parent = nullptr,
                     UINT selectPage = 0);
  CNorvPropertySheet(const NorvString& caption, BOOL resultOnlyOnChange = FALSE,
                     QWidget* parent = nullptr, UINT selectPage = 0);
  ~CNorvPropertySheet() override;

  // The sheet takes ownership of the page (Qt parent).
  void AddPage(CNorvPropertyPage* page);
  int GetPageCount() const { return static_cast<int>(m_pages.size()); }
  CNorvPropertyPage* GetPage(int index) const;
  CNorvPropertyPage* GetActivePage() const;
  int GetActiveIndex() const;
  // Leaves the active page (when it agrees) for page `index`.
  BOOL SetActivePage(int index);
  QTabWidget* Tabs() const { return m_tabs; }
  QDialogButtonBox* Buttons() const { return m_buttons; }

  BOOL GetResultOnlyOnChange() const { return m_resultOnlyOnChange; }
  // TRUE when some page's changed flag is set.
  BOOL AnyPageChanged() const;

  // The library's result, but IDCANCEL for a sheet that reports only
  // changes when no page was changed.
  int DoModal() override;
  // The result DoModal reports for a dialog result of `result`.
  int FilterResult(int result) const;
  BOOL OnInitDialog() override;
  void accept() override;  // OK: the active page must agree; then every page's OnOK
  void OnHelp() override;

 private:
  void Build(const NorvString& caption);
  void OnTabChanged(int index);

  QTabWidget* m_tabs = nullptr;
  QDialogButtonBox* m_buttons = nullptr;
  std::vector<CNorvPropertyPage*> m_pages;
  BOOL m_resultOnlyOnChange = FALSE;
  UINT m_startPage = 0;
  int m_current = -1;
  bool m_switching = false;
};
