// The tree view's model: one node per tree node, each bound to the
// CNorvTreeListItem it shows (the item keeps the node as its tree handle).
// The node keeps what the tree shows (text, images, colours, font style),
// so painting never calls into plugin code; TreeView fills and updates the
// nodes from the items. Children are fetched lazily: a node whose item has
// tree children but was never expanded reports children and asks the
// installed fetcher when the view wants them.
#pragma once
#include <QAbstractItemModel>
#include <QColor>
#include <QFont>
#include <QIcon>
#include <functional>
#include <memory>
#include <vector>

#include "norv/norvtypes.h"

class CNorvTreeListItem;

struct NorvTreeNode {
  CNorvTreeListItem* item = nullptr;  // null once the item is gone
  NorvTreeNode* parent = nullptr;
  std::vector<std::unique_ptr<NorvTreeNode>> children;
  int row = 0;             // index in the parent's children (see rowsDirty)
  bool rowsDirty = false;  // the children's rows must be renumbered
  QString text;
  int image = -1;  // offsets already added
  int selectedImage = -1;
  QColor foreground;  // invalid: the view's default
  QColor background;
  bool bold = false;
  bool italic = false;
  bool childIndicator = false;  // shows an expand button
  bool expandedOnce = false;    // the children were fetched
  bool cut = false;             // shown dimmed after a cut
  bool dropHighlight = false;
  bool waiting = false;   // the item is being asked for its children
  bool rebuild = false;   // the item's list changed behind the tree
  bool reexpand = false;  // ... while the node was open
};

// What a new node shows.
struct NorvTreeNodeInit {
  CNorvTreeListItem* item = nullptr;
  QString text;
  int image = -1;
  int selectedImage = -1;
  bool childIndicator = false;
};

class NORV_API CNorvTreeModel : public QAbstractItemModel {
  Q_OBJECT

 public:
  static constexpr int SelectedImageRole = Qt::UserRole + 1;
  static constexpr int NodeRole = Qt::UserRole + 2;

  explicit CNorvTreeModel(QObject* parent = nullptr);
  ~CNorvTreeModel() override;

  // --- QAbstractItemModel ---
  QModelIndex index(int row, int column, const QModelIndex& parent = {}) const override;
  QModelIndex parent(const QModelIndex& child) const override;
  int rowCount(const QModelIndex& parent = {}) const override;
  int columnCount(const QModelIndex& parent = {}) const override;
  bool hasChildren(const QModelIndex& parent = {}) const override;
  bool canFetchMore(const QModelIndex& parent) const override;
  void fetchMore(const QModelIndex& parent) override;
  QVariant data(const QModelIndex& index, int role = Qt::DisplayRole) const override;
  bool setData(const QModelIndex& index, const QVariant& value, int role = Qt::EditRole) override;
  Qt::ItemFlags flags(const QModelIndex& index) const override;

  // --- nodes ---
  // The invisible node above the top-level node.
  NorvTreeNode* Top() { return &m_top; }
  NorvTreeNode* NodeFromIndex(const QModelIndex& index) const;
  QModelIndex IndexFromNode(const NorvTreeNode* node) const;
  static NorvTreeNode* NodeOf(const CNorvTreeListItem* item);
  // Whether `node` is one of this model's nodes (an item's tree handle may
  // be the node of another tree, such as a plugin dialog's tree control).
  bool Owns(const NorvTreeNode* node) const;
  int RowOf(const NorvTreeNode* node) const;

  // Appends nodes under `parent` in one step; binds each item (tree handle
  // and parent item). Returns the first new node (null when none).
  NorvTreeNode* AppendChildren(NorvTreeNode* parent, std::vector<NorvTreeNodeInit>& nodes);
  // Removes every child node of `parent` (their items forget their nodes).
  void RemoveChildren(NorvTreeNode* parent);
  // Removes one node with its branch.
  void RemoveNode(NorvTreeNode* node);
  // Unbinds the node of a destroyed item (the node stays, showing its last
  // text, until the tree removes it).
  void ForgetItem(CNorvTreeListItem* item);
  // Reorders the children of `parent` by `less`.
  void SortChildren(NorvTreeNode* parent,
                    const std::function<bool(const NorvTreeNode*, const NorvTreeNode*)>& less);
  // The node's shown data changed. While changes are held (HoldChanges)
  // they are collected and reported once per parent when released.
  void NodeChanged(NorvTreeNode* node);
  void SetChildIndicator(NorvTreeNode* node, bool on);
  void HoldChanges(bool hold);

  // Lazy filling: called for a node that was never expanded.
  void SetFetcher(std::function<void(NorvTreeNode*)> fetcher) { m_fetcher = std::move(fetcher); }
  // Label editing: TRUE accepts the new text.
  void SetEditHandler(std::function<bool(NorvTreeNode*, const QString&)> handler) {
    m_editHandler = std::move(handler);
  }
  // The image of an index of the shared small image list.
  void SetImageProvider(std::function<QIcon(int)> provider) { m_images = std::move(provider); }
  // Fonts for bold, italic and both (the document's explorer fonts).
  void SetFonts(const QFont& normal, const QFont& bold, const QFont& italic,
                const QFont& boldItalic);

 private:
  void Renumber(NorvTreeNode* parent) const;
  // Reports the collected changes now (before nodes go away).
  void FlushChanged();
  void UnbindBranch(NorvTreeNode* node);

  mutable NorvTreeNode m_top;
  std::function<void(NorvTreeNode*)> m_fetcher;
  std::function<bool(NorvTreeNode*, const QString&)> m_editHandler;
  std::function<QIcon(int)> m_images;
  QFont m_fonts[4];
  bool m_haveFonts = false;
  int m_hold = 0;
  std::vector<NorvTreeNode*> m_changed;
};
