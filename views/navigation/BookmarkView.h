// BookmarkView: the explorer bar's bookmark pane, a flat list of saved
// tree paths. Bookmarks are kept per user and per root object in the
// registry (private key "Bookmarks\<class>://<id>\Bookmark<n>" with
// "Name", "Path", "Class", "Icon" and "View"); every change rewrites the
// whole set and broadcasts "NORV2.1_BookmarksUpdated" so that other
// explorer processes reload theirs.
#pragma once
#include <QTreeWidget>
#include <functional>

#include "norv/norvtypes.h"

class TreeView;

// One bookmark, as stored.
struct NORV_API NorvBookmark {
  NorvString name;
  NorvString path;
  NorvString className;
  int view = 0;
  int icon = 0;  // relative to the plugin's block of the shared images
};

class NORV_API BookmarkView : public QTreeWidget {
  Q_OBJECT

 public:
  static constexpr UINT kGoTo = 35064;
  static constexpr UINT kDelete = 35009;
  static constexpr UINT kRename = 35128;
  static constexpr UINT kPopupMenu = 222;

  explicit BookmarkView(QWidget* parent = nullptr);

  void SetTree(TreeView* tree) { m_tree = tree; }
  void SetImageProvider(std::function<QIcon(int)> images) { m_images = std::move(images); }
  // The root object whose bookmarks the pane shows.
  void SetRootObject(const NorvString& className, const NorvString& id);
  NorvString RootKeyPath() const;

  BOOL LoadBookmarks();
  BOOL SaveBookmarks();
  void AddBookmark(const NorvString& className, const NorvString& path, int icon, int view);
  BOOL GoToBookmark(QTreeWidgetItem* node);
  BOOL DeleteBookmark(QTreeWidgetItem* node);
  void RenameBookmark(QTreeWidgetItem* node);
  // Keeps the selection only on a bookmark of that path.
  void SelectMatchingBookmark(const NorvString& path);
  BOOL OnCommand(UINT command);
  BOOL OnUpdateCommand(UINT command, BOOL& enabled);

  int BookmarkCount() const { return topLevelItemCount(); }
  NorvBookmark Bookmark(int index) const;

  // The registered message every process receives after a save (wParam:
  // the sender's process id).
  static UINT BookmarksUpdatedMessage();

 signals:
  // A double click asks the frame to show the tree pane again.
  void ShowTreeRequested();

 protected:
  void mousePressEvent(QMouseEvent* event) override;
  void mouseDoubleClickEvent(QMouseEvent* event) override;
  void keyPressEvent(QKeyEvent* event) override;
  void contextMenuEvent(QContextMenuEvent* event) override;
  void dropEvent(QDropEvent* event) override;
  bool edit(const QModelIndex& index, EditTrigger trigger, QEvent* event) override;

 private:
  class NameDelegate;
  QTreeWidgetItem* AppendNode(const NorvBookmark& bookmark);
  void UpdateNode(QTreeWidgetItem* node, const NorvBookmark& bookmark);
  static NorvBookmark RecordOf(const QTreeWidgetItem* node);
  void CommitRename(QTreeWidgetItem* node, const QString& name);

  TreeView* m_tree = nullptr;
  std::function<QIcon(int)> m_images;
  NorvString m_rootClass;
  NorvString m_rootId;
  bool m_renameAllowed = false;
};
