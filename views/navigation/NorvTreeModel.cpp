#include "NorvTreeModel.h"

#include <QFont>
#include <QPalette>
#include <algorithm>
#include <map>

#include "norv/NorvTlgItem.h"

CNorvTreeModel::CNorvTreeModel(QObject* parent) : QAbstractItemModel(parent) {}

CNorvTreeModel::~CNorvTreeModel() {
  for (auto& child : m_top.children) UnbindBranch(child.get());
}

void CNorvTreeModel::Renumber(NorvTreeNode* parent) const {
  int row = 0;
  for (auto& child : parent->children) child->row = row++;
  parent->rowsDirty = false;
}

int CNorvTreeModel::RowOf(const NorvTreeNode* node) const {
  if (node == nullptr || node->parent == nullptr) return 0;
  if (node->parent->rowsDirty) Renumber(node->parent);
  return node->row;
}

NorvTreeNode* CNorvTreeModel::NodeFromIndex(const QModelIndex& index) const {
  if (!index.isValid()) return nullptr;
  return static_cast<NorvTreeNode*>(index.internalPointer());
}

QModelIndex CNorvTreeModel::IndexFromNode(const NorvTreeNode* node) const {
  if (node == nullptr || node == &m_top || node->parent == nullptr) return {};
  return createIndex(RowOf(node), 0, const_cast<NorvTreeNode*>(node));
}

NorvTreeNode* CNorvTreeModel::NodeOf(const CNorvTreeListItem* item) {
  return item != nullptr ? static_cast<NorvTreeNode*>(item->GetTreeHandle()) : nullptr;
}

bool CNorvTreeModel::Owns(const NorvTreeNode* node) const {
  for (const NorvTreeNode* n = node; n != nullptr; n = n->parent)
    if (n == &m_top) return true;
  return false;
}

QModelIndex CNorvTreeModel::index(int row, int column, const QModelIndex& parent) const {
  const NorvTreeNode* node = parent.isValid() ? NodeFromIndex(parent) : &m_top;
  if (node == nullptr || column != 0 || row < 0 || row >= static_cast<int>(node->children.size()))
    return {};
  if (node->rowsDirty) Renumber(const_cast<NorvTreeNode*>(node));
  return createIndex(row, 0, node->children[static_cast<std::size_t>(row)].get());
}

QModelIndex CNorvTreeModel::parent(const QModelIndex& child) const {
  const NorvTreeNode* node = NodeFromIndex(child);
  if (node == nullptr || node->parent == nullptr || node->parent == &m_top) return {};
  return IndexFromNode(node->parent);
}

int CNorvTreeModel::rowCount(const QModelIndex& parent) const {
  if (parent.column() > 0) return 0;
  const NorvTreeNode* node = parent.isValid() ? NodeFromIndex(parent) : &m_top;
  return node != nullptr ? static_cast<int>(node->children.size()) : 0;
}

int CNorvTreeModel::columnCount(const QModelIndex&) const { return 1; }

bool CNorvTreeModel::hasChildren(const QModelIndex& parent) const {
  const NorvTreeNode* node = parent.isValid() ? NodeFromIndex(parent) : &m_top;
  if (node == nullptr) return false;
  if (node == &m_top) return !node->children.empty();
  return !node->children.empty() || (node->childIndicator && !node->expandedOnce);
}

bool CNorvTreeModel::canFetchMore(const QModelIndex& parent) const {
  const NorvTreeNode* node = NodeFromIndex(parent);
  return node != nullptr && node->item != nullptr && !node->expandedOnce && node->childIndicator &&
         m_fetcher;
}

void CNorvTreeModel::fetchMore(const QModelIndex& parent) {
  NorvTreeNode* node = NodeFromIndex(parent);
  if (node != nullptr && node->item != nullptr && !node->expandedOnce && m_fetcher) m_fetcher(node);
}

QVariant CNorvTreeModel::data(const QModelIndex& index, int role) const {
  const NorvTreeNode* node = NodeFromIndex(index);
  if (node == nullptr) return {};
  switch (role) {
    case Qt::DisplayRole:
      return node->waiting ? node->text + QStringLiteral(" \u2026") : node->text;
    case Qt::EditRole:
      return node->text;
    case Qt::DecorationRole:
      return m_images && node->image >= 0 ? m_images(node->image) : QVariant();
    case SelectedImageRole:
      return m_images && node->selectedImage >= 0 ? m_images(node->selectedImage) : QVariant();
    case Qt::FontRole:
      if (!m_haveFonts || (!node->bold && !node->italic)) return {};
      return m_fonts[(node->bold ? 1 : 0) + (node->italic ? 2 : 0)];
    case Qt::ForegroundRole:
      if (node->cut) return QPalette().brush(QPalette::Disabled, QPalette::Text);
      if (node->foreground.isValid()) return node->foreground;
      return {};
    case Qt::BackgroundRole:
      if (node->dropHighlight) return QPalette().brush(QPalette::Highlight);
      if (node->background.isValid()) return node->background;
      return {};
    case NodeRole:
      return QVariant::fromValue(static_cast<void*>(const_cast<NorvTreeNode*>(node)));
    default:
      return {};
  }
}

bool CNorvTreeModel::setData(const QModelIndex& index, const QVariant& value, int role) {
  NorvTreeNode* node = NodeFromIndex(index);
  if (node == nullptr || role != Qt::EditRole || !m_editHandler) return false;
  const QString text = value.toString();
  if (!m_editHandler(node, text)) return false;
  // The handler may have removed the node (a refresh after the rename).
  if (NodeOf(node->item) == node) {
    node->text = text;
    NodeChanged(node);
  }
  return true;
}

Qt::ItemFlags CNorvTreeModel::flags(const QModelIndex& index) const {
  if (!index.isValid()) return Qt::ItemIsDropEnabled;
  return Qt::ItemIsEnabled | Qt::ItemIsSelectable | Qt::ItemIsEditable | Qt::ItemIsDragEnabled |
         Qt::ItemIsDropEnabled;
}

NorvTreeNode* CNorvTreeModel::AppendChildren(NorvTreeNode* parent,
                                             std::vector<NorvTreeNodeInit>& nodes) {
  if (parent == nullptr || nodes.empty()) return nullptr;
  const int first = static_cast<int>(parent->children.size());
  const int last = first + static_cast<int>(nodes.size()) - 1;
  const QModelIndex parentIndex = IndexFromNode(parent);
  beginInsertRows(parentIndex, first, last);
  parent->children.reserve(parent->children.size() + nodes.size());
  int row = first;
  CNorvTreeListItem* parentItem = parent->item;
  for (NorvTreeNodeInit& init : nodes) {
    auto node = std::make_unique<NorvTreeNode>();
    node->item = init.item;
    node->parent = parent;
    node->row = row++;
    node->text = std::move(init.text);
    node->image = init.image;
    node->selectedImage = init.selectedImage;
    node->childIndicator = init.childIndicator;
    if (init.item != nullptr) {
      init.item->SetTreeHandle(node.get());
      if (parentItem != nullptr) init.item->SetParent(parentItem);
    }
    parent->children.push_back(std::move(node));
  }
  endInsertRows();
  return parent->children[static_cast<std::size_t>(first)].get();
}

void CNorvTreeModel::UnbindBranch(NorvTreeNode* node) {
  if (node->item != nullptr && node->item->GetTreeHandle() == node)
    node->item->SetTreeHandle(nullptr);
  for (auto& child : node->children) UnbindBranch(child.get());
}

void CNorvTreeModel::RemoveChildren(NorvTreeNode* parent) {
  if (parent == nullptr || parent->children.empty()) return;
  FlushChanged();
  beginRemoveRows(IndexFromNode(parent), 0, static_cast<int>(parent->children.size()) - 1);
  for (auto& child : parent->children) UnbindBranch(child.get());
  parent->children.clear();
  parent->rowsDirty = false;
  endRemoveRows();
}

void CNorvTreeModel::RemoveNode(NorvTreeNode* node) {
  if (node == nullptr || node->parent == nullptr) return;
  FlushChanged();
  NorvTreeNode* parent = node->parent;
  const int row = RowOf(node);
  beginRemoveRows(IndexFromNode(parent), row, row);
  UnbindBranch(node);
  parent->children.erase(parent->children.begin() + row);
  parent->rowsDirty = true;
  endRemoveRows();
}

void CNorvTreeModel::ForgetItem(CNorvTreeListItem* item) {
  NorvTreeNode* node = NodeOf(item);
  if (node == nullptr) return;
  // Items of the branch below go with their parent's list; unbind them now
  // so that none of them points at a node after the branch is removed.
  UnbindBranch(node);
  node->item = nullptr;
}

void CNorvTreeModel::SortChildren(
    NorvTreeNode* parent,
    const std::function<bool(const NorvTreeNode*, const NorvTreeNode*)>& less) {
  if (parent == nullptr || parent->children.size() < 2) return;
  const QModelIndex parentIndex = IndexFromNode(parent);
  emit layoutAboutToBeChanged({QPersistentModelIndex(parentIndex)},
                              QAbstractItemModel::VerticalSortHint);
  if (parent->rowsDirty) Renumber(parent);
  const QModelIndexList before = persistentIndexList();
  std::stable_sort(parent->children.begin(), parent->children.end(),
                   [&](const std::unique_ptr<NorvTreeNode>& a,
                       const std::unique_ptr<NorvTreeNode>& b) { return less(a.get(), b.get()); });
  Renumber(parent);
  QModelIndexList from, to;
  for (const QModelIndex& index : before) {
    NorvTreeNode* node = NodeFromIndex(index);
    if (node == nullptr || node->parent != parent) continue;
    from.append(index);
    to.append(createIndex(node->row, 0, node));
  }
  changePersistentIndexList(from, to);
  emit layoutChanged({QPersistentModelIndex(parentIndex)}, QAbstractItemModel::VerticalSortHint);
}

void CNorvTreeModel::NodeChanged(NorvTreeNode* node) {
  if (node == nullptr || node == &m_top) return;
  if (m_hold > 0) {
    m_changed.push_back(node);
    return;
  }
  const QModelIndex index = IndexFromNode(node);
  emit dataChanged(index, index);
}

void CNorvTreeModel::SetChildIndicator(NorvTreeNode* node, bool on) {
  if (node == nullptr || node->childIndicator == on) return;
  node->childIndicator = on;
  NodeChanged(node);
}

void CNorvTreeModel::HoldChanges(bool hold) {
  if (hold) {
    ++m_hold;
    return;
  }
  if (m_hold > 0 && --m_hold > 0) return;
  FlushChanged();
}

void CNorvTreeModel::FlushChanged() {
  if (m_changed.empty()) return;
  // One report per parent, spanning its changed rows.
  std::map<NorvTreeNode*, std::pair<int, int>> spans;
  for (NorvTreeNode* node : m_changed) {
    const int row = RowOf(node);
    auto [it, fresh] = spans.try_emplace(node->parent, row, row);
    if (!fresh) {
      it->second.first = std::min(it->second.first, row);
      it->second.second = std::max(it->second.second, row);
    }
  }
  m_changed.clear();
  for (const auto& [parent, span] : spans) {
    const QModelIndex parentIndex = IndexFromNode(parent);
    emit dataChanged(index(span.first, 0, parentIndex), index(span.second, 0, parentIndex));
  }
}

void CNorvTreeModel::SetFonts(const QFont& normal, const QFont& bold, const QFont& italic,
                              const QFont& boldItalic) {
  m_fonts[0] = normal;
  m_fonts[1] = bold;
  m_fonts[2] = italic;
  m_fonts[3] = boldItalic;
  m_haveFonts = true;
}
