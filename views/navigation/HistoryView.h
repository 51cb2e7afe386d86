// HistoryView: the explorer bar's history pane and the store behind Back
// and Forward. One entry per visited tree path (in memory only), oldest
// first; the selected entry is the current position, "back" its previous
// sibling and "forward" its next one.
#pragma once
#include <QTreeWidget>
#include <functional>

#include "norv/NorvItemTypes.h"
#include "norv/norvtypes.h"

class TreeView;

class NORV_API HistoryView : public QTreeWidget {
  Q_OBJECT

 public:
  // An entry beyond this many is dropped from the front.
  static constexpr int kMaxEntries = 500;
  // The Back and Forward drop-down lists show at most this many.
  static constexpr int kDropDownEntries = 8;
  static constexpr UINT kBackFirst = 35033;
  static constexpr UINT kBackLast = 35043;
  static constexpr UINT kForwardFirst = 35044;
  static constexpr UINT kForwardLast = 35054;

  explicit HistoryView(QWidget* parent = nullptr);

  void SetTree(TreeView* tree) { m_tree = tree; }
  void SetImageProvider(std::function<QIcon(int)> images) { m_images = std::move(images); }

  void AddEntry(const NorvString& path, int image, int selectedImage, int viewMode);
  void UpdateCurrentViewMode(int viewMode);
  BOOL GoToEntry(QTreeWidgetItem* entry);
  BOOL GoBack(int steps);
  BOOL GoForward(int steps);
  BOOL CanGoBack() const;
  BOOL CanGoForward() const;
  // Paths of up to `maximum` previous (next) entries, nearest first; FALSE
  // without a current entry.
  BOOL GetBackList(int maximum, NorvStringList& paths) const;
  BOOL GetForwardList(int maximum, NorvStringList& paths) const;

  int EntryCount() const { return topLevelItemCount(); }
  NorvString EntryPath(int index) const;
  int CurrentIndex() const;

 signals:
  // The position or the entries changed (the frame updates its buttons).
  void HistoryChanged();

 protected:
  void mousePressEvent(QMouseEvent* event) override;
  void keyPressEvent(QKeyEvent* event) override;

 private:
  void OnCurrentChanged(QTreeWidgetItem* current, QTreeWidgetItem* previous);
  void SelectQuietly(QTreeWidgetItem* entry);
  static QString EntryText(const NorvString& path, int viewMode);

  TreeView* m_tree = nullptr;
  std::function<QIcon(int)> m_images;
  bool m_userChange = false;
  bool m_quiet = false;
};
