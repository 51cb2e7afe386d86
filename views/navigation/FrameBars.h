// The panes of the main frame's client area:
//   CComboFrame  - the explorer bar: a caption with a selector combo box and
//                  a close button over the selected one of several panes;
//   CBarFrame    - a caption with a title and a close button around one
//                  child window (the output and tutorial bars);
//   CClientFrame - the content side: the view selector's caption bar over
//                  the pane window;
//   CPaneWnd     - a 3 x 3 grid of child windows without splitter bars,
//                  with a window behind all cells (the HTML frame page).
// A close button asks the frame for its command (CommandRequested), so
// that closing a bar and choosing the menu entry do the same thing.
#pragma once
#include <QWidget>
#include <utility>
#include <vector>

#include "norv/NorvItemTypes.h"
#include "norv/norvtypes.h"

class QBoxLayout;
class QComboBox;
class QGridLayout;
class QLabel;
class QStackedWidget;
class QToolButton;

class NORV_API CComboFrame : public QWidget {
  Q_OBJECT

 public:
  explicit CComboFrame(QWidget* parent = nullptr);

  // Adds a pane under `name`; the first one added is selector index 0.
  int AddPane(const QString& name, QWidget* pane);
  void SelectPane(int index);
  int GetCurrentPane() const;
  QWidget* GetPane(int index) const;
  QWidget* GetCurrentPaneWindow() const;
  QComboBox* Selector() const { return m_selector; }
  void SetCloseCommand(UINT command, const QString& toolTip);

 signals:
  void PaneSelected(int index);
  void CommandRequested(UINT command);

 private:
  QComboBox* m_selector = nullptr;
  QToolButton* m_close = nullptr;
  QStackedWidget* m_panes = nullptr;
  UINT m_closeCommand = 0;
};

class NORV_API CBarFrame : public QWidget {
  Q_OBJECT

 public:
  explicit CBarFrame(QWidget* parent = nullptr);

  void SetTitle(const QString& title);
  QString GetTitle() const;
  void SetCloseCommand(UINT command, const QString& toolTip);
  // Puts `child` into the bar (null takes the child out); the previous
  // child is handed back, not deleted.
  QWidget* SetChild(QWidget* child);
  QWidget* GetChild() const { return m_child; }
  // Where the caption sits; OUTPUT_HEADER_NONE hides it.
  void SetHeaderPosition(OutputViewHeaderPosition position);
  OutputViewHeaderPosition GetHeaderPosition() const { return m_position; }

 signals:
  void CommandRequested(UINT command);

 private:
  QBoxLayout* m_layout = nullptr;
  QWidget* m_caption = nullptr;
  QBoxLayout* m_captionLayout = nullptr;
  QLabel* m_title = nullptr;
  QToolButton* m_close = nullptr;
  QWidget* m_child = nullptr;
  UINT m_closeCommand = 0;
  OutputViewHeaderPosition m_position = OUTPUT_HEADER_TOP;
};

class NORV_API CPaneWnd : public QWidget {
  Q_OBJECT

 public:
  static constexpr int kRows = 3;
  static constexpr int kColumns = 3;
  // The control id of a cell's child, as dialogs and tests name them.
  static constexpr UINT CellId(int row, int column) {
    return 0xE900u + static_cast<UINT>(row * 16 + column);
  }

  explicit CPaneWnd(QWidget* parent = nullptr);

  // A fixed row or column keeps `size` pixels; a stretching one shares the
  // space left (with `size` as its minimum).
  void SetRow(int row, int size, bool stretch);
  void SetColumn(int column, int size, bool stretch);
  int GetRowSize(int row) const;
  int GetColumnSize(int column) const;
  bool IsRowStretching(int row) const;
  bool IsColumnStretching(int column) const;

  // Puts `child` into a cell, spanning rows and columns from there.
  void SetCell(int row, int column, QWidget* child, int rowSpan = 1, int columnSpan = 1);
  QWidget* GetCell(int row, int column) const;
  void RemoveCell(int row, int column);
  // The window behind every cell (covers the whole pane window).
  void SetBackground(QWidget* child);
  QWidget* GetBackground() const { return m_background; }

 protected:
  void resizeEvent(QResizeEvent* event) override;

 private:
  struct Line {
    int size = 0;
    bool stretch = false;
  };
  void Apply();

  QGridLayout* m_grid = nullptr;
  Line m_rows[kRows];
  Line m_columns[kColumns];
  QWidget* m_cells[kRows][kColumns] = {};
  QWidget* m_background = nullptr;
};

class NORV_API CClientFrame : public QWidget {
  Q_OBJECT

 public:
  explicit CClientFrame(QWidget* parent = nullptr);

  CPaneWnd* PaneWindow() const { return m_paneWnd; }
  QComboBox* ViewSelector() const { return m_selector; }
  // (text, command) per view mode the item accepts, the item's own view
  // with command -1; the entry of view mode `current` is selected.
  void SetViewSelector(const std::vector<std::pair<NorvString, UINT>>& entries, int current);
  void ShowViewSelector(bool show);
  bool IsViewSelectorShown() const;

 signals:
  void CommandRequested(UINT command);

 private:
  QWidget* m_caption = nullptr;
  QComboBox* m_selector = nullptr;
  CPaneWnd* m_paneWnd = nullptr;
  bool m_filling = false;
};
