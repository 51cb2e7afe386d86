#include "BookmarkView.h"

#include <unistd.h>

#include <QContextMenuEvent>
#include <QDropEvent>
#include <QKeyEvent>
#include <QLineEdit>
#include <QMenu>
#include <QStyledItemDelegate>

#include "NavigationFrame.h"
#include "NorvQtMenu.h"
#include "TreeView.h"
#include "norv/NorvDoc.h"
#include "norv/NorvMenu.h"
#include "norv/NorvMessageBox.h"
#include "norv/NorvRegistryKey.h"
#include "norv/PluginHandler.h"
#include "norv/Trace.h"
#include "platform/messages.h"
#include "platform/resources.h"

namespace {
constexpr int kNameRole = Qt::UserRole + 1;
constexpr int kPathRole = Qt::UserRole + 2;
constexpr int kClassRole = Qt::UserRole + 3;
constexpr int kViewRole = Qt::UserRole + 4;
constexpr int kIconRole = Qt::UserRole + 5;

QString Q(const NorvString& text) { return QString::fromStdWString(text); }
NorvString W(const QString& text) { return text.toStdWString(); }
}  // namespace

// Edits the bookmark's name, not the shown text with its view mode.
class BookmarkView::NameDelegate : public QStyledItemDelegate {
 public:
  explicit NameDelegate(BookmarkView* view) : QStyledItemDelegate(view), m_view(view) {}
  void setEditorData(QWidget* editor, const QModelIndex& index) const override {
    if (auto* line = qobject_cast<QLineEdit*>(editor))
      line->setText(index.data(kNameRole).toString());
  }
  void setModelData(QWidget* editor, QAbstractItemModel*, const QModelIndex& index) const override {
    auto* line = qobject_cast<QLineEdit*>(editor);
    if (line == nullptr) return;
    QTreeWidgetItem* node = m_view->itemFromIndex(index);
    m_view->CommitRename(node, line->text());
  }

 private:
  BookmarkView* m_view;
};

BookmarkView::BookmarkView(QWidget* parent) : QTreeWidget(parent) {
  setHeaderHidden(true);
  setRootIsDecorated(false);
  setUniformRowHeights(true);
  setSelectionMode(QAbstractItemView::SingleSelection);
  setEditTriggers(QAbstractItemView::NoEditTriggers);
  setDragDropMode(QAbstractItemView::InternalMove);
  setDefaultDropAction(Qt::MoveAction);
  setFrameShape(QFrame::NoFrame);
  setMouseTracking(true);  // hot tracking
  setItemDelegate(new NameDelegate(this));
  // Bookmarks are dropped between others, never into one.
  invisibleRootItem()->setFlags(invisibleRootItem()->flags() | Qt::ItemIsDropEnabled);
  connect(this, &QTreeWidget::itemClicked, this,
          [this](QTreeWidgetItem* node) { GoToBookmark(node); });
}

UINT BookmarkView::BookmarksUpdatedMessage() {
  static const UINT message =
      plat::RegisterWindowMessage(std::wstring_view(L"NORV2.1_BookmarksUpdated"));
  return message;
}

void BookmarkView::SetRootObject(const NorvString& className, const NorvString& id) {
  m_rootClass = className;
  m_rootId = id;
}

NorvString BookmarkView::RootKeyPath() const {
  return NorvFormatString(L"%s\\%s://%s", L"Bookmarks", m_rootClass.c_str(), m_rootId.c_str());
}

NorvBookmark BookmarkView::RecordOf(const QTreeWidgetItem* node) {
  NorvBookmark b;
  if (node == nullptr) return b;
  b.name = W(node->data(0, kNameRole).toString());
  b.path = W(node->data(0, kPathRole).toString());
  b.className = W(node->data(0, kClassRole).toString());
  b.view = node->data(0, kViewRole).toInt();
  b.icon = node->data(0, kIconRole).toInt();
  return b;
}

NorvBookmark BookmarkView::Bookmark(int index) const { return RecordOf(topLevelItem(index)); }

void BookmarkView::UpdateNode(QTreeWidgetItem* node, const NorvBookmark& b) {
  node->setData(0, kNameRole, Q(b.name));
  node->setData(0, kPathRole, Q(b.path));
  node->setData(0, kClassRole, Q(b.className));
  node->setData(0, kViewRole, b.view);
  node->setData(0, kIconRole, b.icon);
  node->setText(0, Q(NorvFormatString(L"%s [%s]", b.name.c_str(),
                                      plat::LoadString(7071 + static_cast<UINT>(b.view)).c_str())));
  node->setToolTip(0, Q(b.path));
  // The icon lives in the block of the plugin that registers the class.
  int image = 0;
  const int pluginId = CPluginHandler::FindClassPluginId(b.className);
  if (pluginId >= 0) image = b.icon + NorvGetPluginImageOffset(pluginId);
  if (m_images) node->setIcon(0, m_images(image));
  node->setFlags(Qt::ItemIsEnabled | Qt::ItemIsSelectable | Qt::ItemIsEditable |
                 Qt::ItemIsDragEnabled);
}

QTreeWidgetItem* BookmarkView::AppendNode(const NorvBookmark& bookmark) {
  auto* node = new QTreeWidgetItem(this);
  UpdateNode(node, bookmark);
  return node;
}

BOOL BookmarkView::LoadBookmarks() {
  setUpdatesEnabled(false);
  clear();
  for (int n = 1;; ++n) {
    CNorvPrivateRegistryKey key(plat::HKEY_CURRENT_USER,
                                RootKeyPath() + NorvFormatString(L"\\Bookmark%d", n));
    if (!key.IsOpen()) break;
    NorvBookmark b;
    UINT icon = 0, view = 0;
    // A bookmark with a value missing ends the list.
    if (!key.GetStringValue(L"Name", b.name) || !key.GetStringValue(L"Path", b.path) ||
        !key.GetStringValue(L"Class", b.className) || !key.GetUIntValue(L"Icon", icon) ||
        !key.GetUIntValue(L"View", view))
      break;
    b.icon = static_cast<int>(icon);
    b.view = static_cast<int>(view) >= 0 && view <= 5 ? static_cast<int>(view) : 0;
    AppendNode(b);
  }
  setUpdatesEnabled(true);
  return TRUE;
}

BOOL BookmarkView::SaveBookmarks() {
  {
    CNorvPrivateRegistryKey container(plat::HKEY_CURRENT_USER, L"Bookmarks", plat::KEY_ALL_ACCESS);
    if (!container.IsOpen()) return FALSE;
    const NorvString rootName = NorvFormatString(L"%s://%s", m_rootClass.c_str(), m_rootId.c_str());
    plat::SHDeleteKeyW(container, rootName.c_str());
  }
  BOOL ok = TRUE;
  {
    // The root's key exists even without bookmarks.
    CNorvPrivateRegistryKey rootKey(plat::HKEY_CURRENT_USER, RootKeyPath(), plat::KEY_ALL_ACCESS);
    ok = rootKey.IsOpen();
  }
  for (int i = 0; i < topLevelItemCount() && ok; ++i) {
    const NorvBookmark b = RecordOf(topLevelItem(i));
    CNorvPrivateRegistryKey key(plat::HKEY_CURRENT_USER,
                                RootKeyPath() + NorvFormatString(L"\\Bookmark%d", i + 1),
                                plat::KEY_ALL_ACCESS);
    ok = key.IsOpen() && key.SetStringValue(L"Name", b.name) &&
         key.SetStringValue(L"Path", b.path) && key.SetStringValue(L"Class", b.className) &&
         key.SetUIntValue(L"Icon", static_cast<UINT>(b.icon)) &&
         key.SetUIntValue(L"View", static_cast<UINT>(b.view));
  }
  if (!ok) NORV_BASE_TRACE(1, 0, L"BookmarkView: the bookmarks could not be saved");
  plat::BroadcastMessage(BookmarksUpdatedMessage(), static_cast<WPARAM>(getpid()), 0);
  return ok;
}

void BookmarkView::AddBookmark(const NorvString& className, const NorvString& path, int icon,
                               int view) {
  NorvBookmark b;
  b.name = path;
  b.path = path;
  b.className = className;
  b.icon = icon;
  b.view = view;
  QTreeWidgetItem* node = AppendNode(b);
  scrollToItem(node);
  setUpdatesEnabled(true);
  SaveBookmarks();
}

BOOL BookmarkView::GoToBookmark(QTreeWidgetItem* node) {
  if (node == nullptr) return FALSE;
  setCurrentItem(node);
  if (m_tree == nullptr) return FALSE;
  const NorvBookmark b = RecordOf(node);
  switch (m_tree->NavigateTo(b.path, nullptr, TreeView::NavigationOrdinary, b.view)) {
    case TreeView::NavigationOk:
      return TRUE;
    case TreeView::NavigationNotFound:
      NorvAppMessageBox(NorvFormatString(plat::LoadString(7079).c_str(), b.name.c_str()),
                        MB_OK | MB_ICONEXCLAMATION);
      return FALSE;
    default:
      return FALSE;
  }
}

BOOL BookmarkView::DeleteBookmark(QTreeWidgetItem* node) {
  if (node == nullptr) return FALSE;
  CNorvDoc* doc = CNorvDoc::GetDoc();
  if (doc != nullptr && doc->GetConfirmOnDelete()) {
    const NorvString question = W(tr("Delete the bookmark \"%1\"?").arg(Q(RecordOf(node).name)));
    if (NorvAppMessageBox(question, MB_OKCANCEL | MB_ICONQUESTION) != IDOK) return FALSE;
  }
  delete node;
  viewport()->update();
  SaveBookmarks();
  return TRUE;
}

void BookmarkView::RenameBookmark(QTreeWidgetItem* node) {
  if (node == nullptr) return;
  m_renameAllowed = true;
  editItem(node);
  m_renameAllowed = false;
}

bool BookmarkView::edit(const QModelIndex& index, EditTrigger trigger, QEvent* event) {
  // Only the rename command opens the editor.
  if (!m_renameAllowed && trigger != QAbstractItemView::NoEditTriggers) return false;
  return QTreeWidget::edit(index, trigger, event);
}

void BookmarkView::CommitRename(QTreeWidgetItem* node, const QString& name) {
  if (node == nullptr || name.isEmpty()) return;  // an empty name keeps the old one
  NorvBookmark b = RecordOf(node);
  b.name = W(name);
  UpdateNode(node, b);
  SaveBookmarks();
}

void BookmarkView::SelectMatchingBookmark(const NorvString& path) {
  QTreeWidgetItem* node = currentItem();
  if (node != nullptr && W(node->data(0, kPathRole).toString()) == path) return;
  clearSelection();
  setCurrentItem(nullptr);
}

BOOL BookmarkView::OnCommand(UINT command) {
  switch (command) {
    case kDelete:
      DeleteBookmark(currentItem());
      return TRUE;
    case kRename:
      RenameBookmark(currentItem());
      return TRUE;
    case kGoTo:
      GoToBookmark(currentItem());
      return TRUE;
    default:
      return FALSE;
  }
}

BOOL BookmarkView::OnUpdateCommand(UINT command, BOOL& enabled) {
  if (command != kDelete && command != kRename && command != kGoTo) return FALSE;
  enabled = currentItem() != nullptr ? TRUE : FALSE;
  return TRUE;
}

void BookmarkView::mousePressEvent(QMouseEvent* event) { QTreeWidget::mousePressEvent(event); }

void BookmarkView::mouseDoubleClickEvent(QMouseEvent* event) {
  event->accept();
  emit ShowTreeRequested();
}

void BookmarkView::keyPressEvent(QKeyEvent* event) {
  if (state() != QAbstractItemView::EditingState &&
      (event->key() == Qt::Key_Return || event->key() == Qt::Key_Enter)) {
    GoToBookmark(currentItem());
    return;
  }
  if (state() != QAbstractItemView::EditingState && event->key() == Qt::Key_F2) {
    RenameBookmark(currentItem());
    return;
  }
  if (state() != QAbstractItemView::EditingState && event->key() == Qt::Key_Delete) {
    DeleteBookmark(currentItem());
    return;
  }
  QTreeWidget::keyPressEvent(event);
}

void BookmarkView::contextMenuEvent(QContextMenuEvent* event) {
  QTreeWidgetItem* node = itemAt(event->pos());
  if (node == nullptr) return;
  setCurrentItem(node);
  CNorvMenu resource;
  CNorvMenu menu;
  if (NorvLoadMenuResource(kPopupMenu, resource) && resource.GetSubMenu(0) != nullptr) {
    menu = *resource.GetSubMenu(0);
  } else {
    menu.AppendItem(kGoTo, W(tr("&Go To")));
    menu.AppendItem(kRename, W(tr("&Rename")));
    menu.AppendItem(kDelete, W(tr("&Delete")));
  }
  menu.SetDefaultCommand(kGoTo);
  QMenu popup(this);
  NorvFillQMenu(&popup, menu);
  const UINT chosen = NorvActionCommand(popup.exec(event->globalPos()));
  if (chosen != 0) OnCommand(chosen);
}

void BookmarkView::dropEvent(QDropEvent* event) {
  std::vector<NorvBookmark> before;
  for (int i = 0; i < topLevelItemCount(); ++i) before.push_back(RecordOf(topLevelItem(i)));
  QTreeWidget::dropEvent(event);
  // A bookmark dropped into another one would become its child: keep the
  // list flat.
  for (int i = 0; i < topLevelItemCount(); ++i) {
    QTreeWidgetItem* node = topLevelItem(i);
    while (node->childCount() > 0) insertTopLevelItem(i + 1, node->takeChild(0));
  }
  bool changed = static_cast<int>(before.size()) != topLevelItemCount();
  for (int i = 0; !changed && i < topLevelItemCount(); ++i) {
    const NorvBookmark now = RecordOf(topLevelItem(i));
    changed = now.path != before[static_cast<std::size_t>(i)].path ||
              now.name != before[static_cast<std::size_t>(i)].name;
  }
  if (changed) SaveBookmarks();
}
