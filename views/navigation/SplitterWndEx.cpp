#include "SplitterWndEx.h"

#include <algorithm>

CSplitterWndEx::CSplitterWndEx(Qt::Orientation orientation, QWidget* parent)
    : QSplitter(orientation, parent) {
  setChildrenCollapsible(false);
  setHandleWidth(4);
}

void CSplitterWndEx::SetPane(int index, QWidget* pane, int idealSize) {
  if (pane == nullptr || index < 0) return;
  // A child made with the splitter as parent is in it already, at the end:
  // insertWidget moves it to its place.
  insertWidget(index, pane);
  if (static_cast<int>(m_savedSizes.size()) <= index)
    m_savedSizes.resize(static_cast<std::size_t>(index) + 1, 0);
  m_savedSizes[static_cast<std::size_t>(index)] = idealSize;
  SetPaneSize(index, idealSize);
}

int CSplitterWndEx::GetPaneSize(int index) const {
  if (index < 0 || index >= count()) return 0;
  if (!IsPaneShown(index) || sizes().value(index) == 0)
    return index < static_cast<int>(m_savedSizes.size())
               ? m_savedSizes[static_cast<std::size_t>(index)]
               : 0;
  return sizes().value(index);
}

void CSplitterWndEx::SetPaneSize(int index, int size) {
  if (index < 0 || index >= count()) return;
  if (static_cast<int>(m_savedSizes.size()) <= index)
    m_savedSizes.resize(static_cast<std::size_t>(index) + 1, 0);
  m_savedSizes[static_cast<std::size_t>(index)] = size;
  if (!IsPaneShown(index)) return;
  QList<int> all = sizes();
  if (!isVisible()) {
    // Not laid out yet: the ideal sizes become the proportions of the
    // first layout.
    ApplyIdealSizes();
    return;
  }
  // The pane's change is taken from (or given to) the widest other shown
  // pane, so the other fixed panes keep their sizes.
  int widest = -1;
  for (int i = 0; i < all.size(); ++i)
    if (i != index && IsPaneShown(i) && (widest < 0 || all[i] > all[widest])) widest = i;
  if (widest >= 0) all[widest] = std::max(0, all[widest] + all[index] - size);
  all[index] = size;
  setSizes(all);
}

void CSplitterWndEx::ShowPane(int index, bool show) {
  QWidget* pane = widget(index);
  if (pane == nullptr || (IsPaneShown(index) != FALSE) == show) return;
  if (static_cast<int>(m_savedSizes.size()) <= index)
    m_savedSizes.resize(static_cast<std::size_t>(index) + 1, 0);
  if (!show) {
    const int size = sizes().value(index);
    if (size > 0) m_savedSizes[static_cast<std::size_t>(index)] = size;
    pane->hide();
    return;
  }
  pane->show();
  SetPaneSize(index, m_savedSizes[static_cast<std::size_t>(index)]);
}

BOOL CSplitterWndEx::IsPaneShown(int index) const {
  QWidget* pane = widget(index);
  return pane != nullptr && !pane->isHidden() ? TRUE : FALSE;
}

void CSplitterWndEx::ApplyIdealSizes() {
  QList<int> all;
  for (int i = 0; i < count(); ++i)
    all.append(IsPaneShown(i) && i < static_cast<int>(m_savedSizes.size())
                   ? m_savedSizes[static_cast<std::size_t>(i)]
                   : 0);
  setSizes(all);
}
