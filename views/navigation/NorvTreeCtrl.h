// Tree controls for plugin dialogs and property pages.
//
// CNorvTreeCtrl shows a branch of the object hierarchy (an item and its
// descendants), filled lazily from the items as the explorer's tree is:
// GetItems when a node is first opened, texts, images, colours and fonts
// from GetTreeViewInfo, sorted with the tree's comparison when the item
// asks for it. F5 refreshes the selected item, item context menus can be
// switched on, and tree paths select nodes ("/" from the top node, "./"
// from the selection, "../" to the parent, "//" for a "/" in a name).
//
// A node keeps its item as the item's tree handle, as the explorer's tree
// does: an item instance is shown by one tree only, so a control shows
// items of its own (typically made with CreateObject). The caller keeps
// the items alive while they are shown (EraseContents first, or destroy
// the control before the items).
//
// CNorvTreeOptionsCtrl is an options list in tree form: groups of radio
// buttons and groups of check boxes, each entry bound to an int of the
// caller that the user's clicks set (1 on, 0 off).
#pragma once
#include <QFont>
#include <QList>
#include <QPixmap>
#include <QStandardItemModel>
#include <QTreeView>
#include <functional>

#include "NorvTreeModel.h"
#include "norv/NorvItemTypes.h"
#include "norv/norvtypes.h"

class CNorvTreeListItem;

class NORV_API CNorvTreeCtrl : public QTreeView {
  Q_OBJECT

 public:
  explicit CNorvTreeCtrl(QWidget* parent = nullptr);
  ~CNorvTreeCtrl() override;

  // Once only (FALSE afterwards): takes the control's font (SetFont) and
  // the main window's small images when the application has one.
  BOOL InitControl();
  // Clears the control and shows the item's branch: the item as the single
  // top node when `showRoot`, else its children as the top nodes. FALSE
  // when the item could not give its children.
  BOOL ShowContents(CNorvTreeListItem* item, BOOL showRoot);
  void EraseContents();
  // The item whose branch is shown (null when none).
  CNorvTreeListItem* GetShownRoot() const { return m_root; }

  CNorvTreeListItem* GetSelectedItem() const;
  CNorvTreeListItem* GetTreeListItem(const QModelIndex& node) const;
  CNorvTreeListItem* GetTreeListItem(const NorvTreeNode* node) const;
  // The node of an item shown here (null when the item is not shown here).
  NorvTreeNode* NodeOf(const CNorvTreeListItem* item) const;

  BOOL SelectItem(CNorvTreeListItem* item);
  BOOL ExpandItem(CNorvTreeListItem* item);
  // Collapses the item's node; with `reset` its child nodes go and the
  // item's list is invalidated (read again on the next opening).
  BOOL CollapsItem(CNorvTreeListItem* item, BOOL reset);
  // Refresh of the item (INVALID cleared first); on success the node shows
  // its new text and images; then, when asked, CollapsItem(item, reset).
  BOOL RefreshItem(CNorvTreeListItem* item, BOOL collapse, BOOL reset);
  // The control's font and its bold, italic and bold-italic variants for
  // emphasised items.
  void SetFont(const QFont& font, BOOL redraw = TRUE);
  // Resolves a tree path (from `start`, or the selection) and selects the
  // node; TRUE when it was reached.
  BOOL NavigateTo(const NorvString& path, NorvTreeNode* start = nullptr);
  void EnablePopupMenus(BOOL enable) { m_popupMenus = enable; }
  BOOL ArePopupMenusEnabled() const { return m_popupMenus; }
  void SetWaitCursor(BOOL on) { m_waitCursor = on; }
  // Images by index of the shared small image list (InitControl takes the
  // main window's).
  void SetImageProvider(std::function<QIcon(int)> provider);

  CNorvTreeModel* Model() const { return m_model; }
  BOOL IsNodeExpanded(const NorvTreeNode* node) const;
  // Fills a node from its item now (as its first opening does).
  BOOL ExpandNode(NorvTreeNode* node);
  // Shows the context menu of `item` at `globalPos` (when enabled).
  void DisplayPopupMenu(CNorvTreeListItem* item, const QPoint& globalPos);

 protected:
  void keyPressEvent(QKeyEvent* event) override;
  void contextMenuEvent(QContextMenuEvent* event) override;

 private:
  bool FillBranch(NorvTreeNode* node, CNorvTreeListItem* item);
  void UpdateNode(NorvTreeNode* node);
  NorvTreeNode* FindChild(NorvTreeNode* parent, const NorvString& text);
  NorvTreeNode* TopNode() const;

  CNorvTreeModel* m_model = nullptr;
  BOOL m_initialized = FALSE;
  BOOL m_popupMenus = FALSE;
  BOOL m_waitCursor = TRUE;
  CNorvTreeListItem* m_root = nullptr;
  QFont m_boldFont;
  QFont m_boldItalicFont;
  QFont m_italicFont;
  NorvString m_navigation;
  const NorvTreeNode* m_failedNode = nullptr;  // its opening failed just now
};

class NORV_API CNorvTreeOptionsCtrl : public QTreeView {
  Q_OBJECT

 public:
  // Item data of group nodes.
  static constexpr int kRadioGroup = 1;
  static constexpr int kCheckGroup = 2;
  // The state images: the first four images of the image list.
  enum StateImage { RadioOff = 0, RadioOn = 1, CheckOff = 2, CheckOn = 3 };
  static constexpr UINT kStateImages = 217;
  static constexpr int kImageSize = 16;
  // The roles of a node: its kind (1, 2, or 0 for an entry), its image
  // index, and for entries the bound int (as a pointer).
  static constexpr int KindRole = Qt::UserRole + 1;
  static constexpr int ImageRole = Qt::UserRole + 2;
  static constexpr int ValueRole = Qt::UserRole + 3;

  explicit CNorvTreeOptionsCtrl(QWidget* parent = nullptr);
  ~CNorvTreeOptionsCtrl() override;

  // Once only: the state images (image 217 of the resources, else drawn)
  // and the caller's group images from image resource `bitmapId`, 16
  // pixels each, magenta or alpha transparent (0: none). FALSE the second
  // time.
  BOOL InitImageList(UINT bitmapId);
  // A group node under `parent` (null: at the top), open and with the
  // group image `groupImage` of the caller's images (negative: none).
  QStandardItem* AddRadioGroup(QStandardItem* parent, const QString& text, int groupImage);
  QStandardItem* AddCheckGroup(QStandardItem* parent, const QString& text, int groupImage);
  // An entry of a group bound to `value` (non-zero: on). Null when `group`
  // is not a group or `value` is null.
  QStandardItem* AddEntry(QStandardItem* group, const QString& text, int* value);
  // The int an entry is bound to (0 for other nodes).
  int IsChecked(const QStandardItem* node) const;
  BOOL IsRadio(const QStandardItem* node) const;
  BOOL IsCheck(const QStandardItem* node) const;
  void SetReadOnly(BOOL readOnly) { m_readOnly = readOnly; }
  BOOL IsReadOnly() const { return m_readOnly; }
  // What the user's action does to an entry: a radio entry is switched on
  // and its siblings off, a check entry toggles. FALSE when read-only or
  // not an entry.
  BOOL ActivateEntry(QStandardItem* node);
  // Shows the bound ints' current values again.
  void UpdateFromValues();

  QStandardItemModel* Model() const { return m_model; }
  int ImageOf(const QStandardItem* node) const;

 signals:
  // The user changed an entry (and the ints bound to it and its group).
  void EntryChanged(QStandardItem* entry);

 protected:
  void keyPressEvent(QKeyEvent* event) override;
  void mousePressEvent(QMouseEvent* event) override;
  void mouseReleaseEvent(QMouseEvent* event) override;
  void mouseDoubleClickEvent(QMouseEvent* event) override;

 private:
  QStandardItem* AddGroup(QStandardItem* parent, const QString& text, int groupImage, int kind);
  void SetImage(QStandardItem* node, int image);
  void EnsureStateImages();

  QStandardItemModel* m_model = nullptr;
  QList<QPixmap> m_images;
  BOOL m_imageListInitialized = FALSE;
  BOOL m_readOnly = FALSE;
  QPersistentModelIndex m_pressed;
  bool m_afterDoubleClick = false;
};
