// CSplitterWndEx: a static splitter whose columns (horizontal) or rows
// (vertical) can be hidden and shown again, with an optional dynamic-drag
// mode in which the panes follow the bar while it is dragged. A hidden
// pane keeps its size and gets it back when it is shown.
#pragma once
#include <QSplitter>
#include <vector>

#include "norv/norvtypes.h"

class NORV_API CSplitterWndEx : public QSplitter {
  Q_OBJECT

 public:
  // Qt::Horizontal: one row of columns; Qt::Vertical: one column of rows.
  explicit CSplitterWndEx(Qt::Orientation orientation, QWidget* parent = nullptr);

  // Puts `pane` at `index` (0 based; moved there when it is in the
  // splitter already) with an ideal size in pixels.
  void SetPane(int index, QWidget* pane, int idealSize);
  QWidget* GetPane(int index) const { return widget(index); }
  int GetPaneCount() const { return count(); }
  // The size the pane has or, while hidden, will get back.
  int GetPaneSize(int index) const;
  void SetPaneSize(int index, int size);
  // Gives every shown pane its ideal (or remembered) size again.
  void ApplyIdealSizes();

  // Columns and rows are the same panes along the splitter's orientation;
  // both names exist so that callers read like the layout they build.
  void HideColumn(int index) { ShowPane(index, false); }
  void ShowColumn(int index) { ShowPane(index, true); }
  BOOL IsColumnVisible(int index) const { return IsPaneShown(index); }
  void HideRow(int index) { ShowPane(index, false); }
  void ShowRow(int index) { ShowPane(index, true); }
  BOOL IsRowVisible(int index) const { return IsPaneShown(index); }

  void ShowPane(int index, bool show);
  // Shown as far as the splitter is concerned (true also while the whole
  // window is hidden or minimized).
  BOOL IsPaneShown(int index) const;

  // Dynamic drag: the panes are laid out anew while the bar moves.
  void SetDynamic(BOOL dynamic) { setOpaqueResize(dynamic != FALSE); }
  BOOL IsDynamic() const { return opaqueResize() ? TRUE : FALSE; }

 private:
  std::vector<int> m_savedSizes;
};
