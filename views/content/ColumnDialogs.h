// The list view's column dialogs: the column filter dialog that edits the
// stored filter text, the column settings dialog that shows, hides and
// orders columns, and the check list with tab stops that lists filters.
//
// Both dialogs change what the list view hands them only when they end
// with IDOK; the list view then stores the result and shows the item again.
#pragma once
#include <QListWidget>
#include <QStyledItemDelegate>
#include <vector>

#include "NorvDialog.h"
#include "norv/NorvItemTypes.h"
#include "norv/norvtypes.h"

class QComboBox;
class QLineEdit;
class QMenu;
class QPushButton;
class QToolButton;

// A check list whose lines may hold tabs, expanded at the list's tab stops.
// A line's check box is its check state (Qt::CheckStateRole); a disabled
// line (no Qt::ItemIsEnabled) shows grey text.
class NORV_API CTabCheckListBox : public QListWidget {
  Q_OBJECT

 public:
  explicit CTabCheckListBox(QWidget* parent = nullptr);

  // Tab stops in dialog units (stop × average character width ÷ 4 pixels).
  // FALSE (and the stops unchanged) unless they increase.
  BOOL SetTabStops(int count, const int* stops);
  // The stops in pixels.
  const std::vector<int>& TabStopsInPixels() const { return m_stops; }

  // Appends a line; returns its index.
  int AddLine(const NorvString& text, BOOL checked);
  NorvString GetLineText(int index) const;
  BOOL GetCheck(int index) const;
  void SetCheck(int index, BOOL checked);

 private:
  std::vector<int> m_stops;
};

// The column filter dialog. Each line of its list is one filter:
// column name, tab, mode text, tab, pattern; checked when enabled.
class NORV_API CColumnFilter : public CNorvDialog {
  Q_OBJECT

 public:
  static constexpr UINT IDD = 204;
  // Menu of the expression button: its first popup lists regular
  // expression constructs, each entry's text up to its first space is
  // what gets inserted.
  static constexpr UINT IDR_EXPRESSION_MENU = 209;

  CColumnFilter(const NorvStringList& names, const NorvUIntArray& ids, NorvString& filterText,
                QWidget* parent = nullptr);
  ~CColumnFilter() override;

  BOOL OnInitDialog() override;

  // The controls (tests and the list view's screenshot drive them).
  CTabCheckListBox* FilterList() const { return m_list; }
  QLineEdit* ColumnEdit() const { return m_column; }
  QToolButton* ColumnButton() const { return m_columnButton; }
  QComboBox* ModeCombo() const { return m_mode; }
  QLineEdit* PatternEdit() const { return m_pattern; }
  QPushButton* AddButton() const { return m_add; }
  QPushButton* EditButton() const { return m_edit; }
  QPushButton* ClearButton() const { return m_clear; }
  QToolButton* ExpressionButton() const { return m_expression; }
  QPushButton* OkButton() const { return m_ok; }

  // The mode texts (string resources 7030, 7032, 7033) in mode order.
  static NorvString ModeText(UINT mode);

  // The dialog's operations, as the controls trigger them.
  void OnColumnChosen(int column);  // from the column button's menu
  BOOL OnModeFocus();               // the mode combo gets the focus
  void OnAdd();
  void OnEdit();
  void OnClear();
  void InsertExpression(const NorvString& entryText);
  void accept() override;  // OK

 protected:
  bool eventFilter(QObject* watched, QEvent* event) override;

 private:
  void Build();
  void UpdateColumnState();
  void UpdateModeState();
  void UpdatePatternState();
  void UpdateListButtons();
  void ShowColumnMenu();
  void ShowExpressionMenu();
  int FindColumn(const NorvString& name) const;

  NorvStringList m_names;
  NorvUIntArray m_ids;
  NorvString& m_filterText;

  CTabCheckListBox* m_list = nullptr;
  QLineEdit* m_column = nullptr;
  QToolButton* m_columnButton = nullptr;
  QComboBox* m_mode = nullptr;
  QLineEdit* m_pattern = nullptr;
  QPushButton* m_add = nullptr;
  QPushButton* m_edit = nullptr;
  QPushButton* m_clear = nullptr;
  QToolButton* m_expression = nullptr;
  QPushButton* m_ok = nullptr;
  QPushButton* m_cancel = nullptr;
  bool m_checkingColumn = false;
};

// The column settings dialog: a multiple-selection check list of the
// columns (checked = shown) in display order, with Show, Hide, Move up and
// Move down. Widths carry visibility in their sign; the order array holds,
// per visible position, the column number shown there.
class NORV_API CColumnSettings : public CNorvDialog {
  Q_OBJECT

 public:
  static constexpr UINT IDD = 235;

  CColumnSettings(const NorvStringList& names, NorvUIntArray& widths, NorvUIntArray& order,
                  QWidget* parent = nullptr);
  ~CColumnSettings() override;

  BOOL OnInitDialog() override;

  CTabCheckListBox* ColumnList() const { return m_list; }
  QPushButton* ShowButton() const { return m_show; }
  QPushButton* HideButton() const { return m_hide; }
  QPushButton* UpButton() const { return m_up; }
  QPushButton* DownButton() const { return m_down; }
  // The column number a line stands for.
  int LineColumn(int line) const;

  void OnShow();
  void OnHide();
  void OnMoveUp();
  void OnMoveDown();
  void accept() override;  // OK

 private:
  void Build();
  void UpdateButtons();
  void SetSelectedChecks(BOOL checked);
  void SwapLines(int upper);

  NorvStringList m_names;
  NorvUIntArray& m_widths;
  NorvUIntArray& m_order;

  CTabCheckListBox* m_list = nullptr;
  QPushButton* m_show = nullptr;
  QPushButton* m_hide = nullptr;
  QPushButton* m_up = nullptr;
  QPushButton* m_down = nullptr;
};
