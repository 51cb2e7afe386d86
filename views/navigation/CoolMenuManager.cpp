#include "CoolMenuManager.h"

#include <QAction>
#include <QApplication>
#include <QKeyEvent>
#include <QMenu>
#include <QMenuBar>
#include <QPainter>
#include <QPalette>
#include <QWidgetAction>

#include "NorvQtMenu.h"
#include "ToolbarResource.h"
#include "norv/Trace.h"
#include "platform/resources.h"

namespace {

// What a converted entry was before: kept on the action under this name,
// so that only entries the manager converted are ever put back.
constexpr char kRecordProperty[] = "norvCoolMenuRecord";
constexpr char kConvertedProperty[] = "norvCoolMenuConverted";
constexpr char kHookedProperty[] = "norvCoolMenuHooked";
// System commands of a window menu are never converted.
constexpr UINT kFirstSystemCommand = 0xF000;
// The classic 3-D face colour: the transparent colour of strips without an
// alpha channel.
constexpr QRgb kStripFaceColor = qRgb(192, 192, 192);

struct EntryRecord {
  QString text;       // before the conversion
  QIcon icon;         // before the conversion
  QString shownText;  // what the conversion set
  bool iconSet = false;
};

std::map<const QObject*, EntryRecord>& Records() {
  static std::map<const QObject*, EntryRecord> records;
  return records;
}

// The letter an entry's "&" names ("&&" is a literal "&"), upper-cased;
// null when there is none.
QChar MenuLetter(const QString& text) {
  for (qsizetype i = 0; i + 1 < text.size(); ++i) {
    if (text[i] != QLatin1Char('&')) continue;
    if (text[i + 1] == QLatin1Char('&')) {
      ++i;
      continue;
    }
    return text[i + 1].toUpper();
  }
  return {};
}

QPixmap Placeholder(const QSize& size) {
  QPixmap pixmap(size);
  pixmap.fill(Qt::transparent);
  QPainter painter(&pixmap);
  painter.setPen(QPalette().color(QPalette::Disabled, QPalette::WindowText));
  painter.drawRect(QRect(QPoint(1, 1), size - QSize(3, 3)));
  return pixmap;
}

}  // namespace

CCoolMenuManager::CCoolMenuManager(QObject* parent) : QObject(parent) {}

CCoolMenuManager::~CCoolMenuManager() {
  if (qApp != nullptr) qApp->removeEventFilter(this);
  RestoreMenus();
}

CCoolMenuManager* CCoolMenuManager::InstallOnFrame(QWidget* frame) {
  if (frame == nullptr) return nullptr;
  if (CCoolMenuManager* existing = ForFrame(frame)) return existing;
  auto* manager = new CCoolMenuManager(frame);
  manager->setObjectName(QStringLiteral("CoolMenuManager"));
  manager->Install(frame);
  if (!manager->LoadToolbar(kFrameToolbar))
    NORV_BASE_TRACE(2, 0,
                    NorvFormatString(L"CCoolMenuManager: toolbar %u not found; menus show no "
                                     L"images",
                                     kFrameToolbar));
  manager->LoadAccelerators(kFrameAccelerators);
  return manager;
}

CCoolMenuManager* CCoolMenuManager::ForFrame(const QWidget* frame) {
  if (frame == nullptr) return nullptr;
  for (QObject* child : frame->children())
    if (auto* manager = qobject_cast<CCoolMenuManager*>(child))
      if (manager->m_frame == frame) return manager;
  return nullptr;
}

void CCoolMenuManager::Install(QWidget* frame) {
  if (m_frame == frame) return;
  if (m_frame != nullptr) {
    RestoreMenus();
    if (qApp != nullptr) qApp->removeEventFilter(this);
  }
  m_frame = frame;
  if (frame != nullptr && qApp != nullptr) qApp->installEventFilter(this);
}

// ---------------------------------------------------------------------------
// Toolbars and accelerators
// ---------------------------------------------------------------------------

BOOL CCoolMenuManager::LoadToolbar(UINT id, HMODULE module) {
  const BYTE* data = nullptr;
  std::size_t size = 0;
  if (!plat::FindResource(module, plat::ResourceType::Toolbar, id, &data, &size)) return FALSE;
  QImage strip;
  const BYTE* image = nullptr;
  std::size_t imageSize = 0;
  if (plat::FindResource(module, plat::ResourceType::Image, id, &image, &imageSize)) {
    strip.loadFromData(image, static_cast<int>(imageSize), "PNG");
    if (strip.isNull())
      NORV_BASE_TRACE(1, 0,
                      NorvFormatString(L"CCoolMenuManager::LoadToolbar: the image strip of "
                                       L"toolbar %u is damaged; placeholder images are used",
                                       id));
  } else {
    NORV_BASE_TRACE(1, 0,
                    NorvFormatString(L"CCoolMenuManager::LoadToolbar: toolbar %u has no image "
                                     L"strip; placeholder images are used",
                                     id));
  }
  if (!LoadToolbarData(data, size, strip)) return FALSE;
  for (const Source& s : m_toolbars)
    if (s.id == id && s.module == module) return TRUE;
  m_toolbars.append({id, module});
  return TRUE;
}

BOOL CCoolMenuManager::LoadToolbarData(const BYTE* data, std::size_t size, const QImage& strip) {
  NorvToolbarResource toolbar;
  if (!NorvParseToolbarResource(data, size, toolbar)) return FALSE;
  const QSize imageSize(toolbar.imageWidth, toolbar.imageHeight);
  if (m_imageSize.isValid() && imageSize != m_imageSize) {
    NORV_BASE_TRACE(2, 0,
                    NorvFormatString(L"CCoolMenuManager::LoadToolbar: images of %d x %d pixels "
                                     L"refused (the menus use %d x %d)",
                                     imageSize.width(), imageSize.height(), m_imageSize.width(),
                                     m_imageSize.height()));
    return FALSE;
  }
  m_imageSize = imageSize;
  int next = static_cast<int>(m_images.size());
  AddImages(strip, toolbar.ButtonCount());
  for (UINT command : toolbar.commands) {
    if (command == 0) continue;
    m_commands.try_emplace(command, next);  // a command keeps its first image
    ++next;
  }
  return TRUE;
}

void CCoolMenuManager::AddImages(const QImage& strip, int count) {
  QImage source = strip;
  if (!source.isNull() && !source.hasAlphaChannel()) {
    source = source.convertToFormat(QImage::Format_ARGB32);
    for (int y = 0; y < source.height(); ++y) {
      auto* line = reinterpret_cast<QRgb*>(source.scanLine(y));
      for (int x = 0; x < source.width(); ++x)
        if ((line[x] & 0xFFFFFF) == (kStripFaceColor & 0xFFFFFF)) line[x] = 0;
    }
  }
  const int available = source.isNull() ? 0 : source.width() / m_imageSize.width();
  if (!source.isNull() && available < count)
    NORV_BASE_TRACE(1, 0,
                    NorvFormatString(L"CCoolMenuManager::LoadToolbar: the image strip holds %d "
                                     L"images for %d buttons; placeholder images are used",
                                     available, count));
  for (int i = 0; i < count; ++i) {
    if (i < available && source.height() >= m_imageSize.height()) {
      m_images.append(QPixmap::fromImage(
          source.copy(i * m_imageSize.width(), 0, m_imageSize.width(), m_imageSize.height())));
    } else {
      m_images.append(Placeholder(m_imageSize));
    }
  }
}

BOOL CCoolMenuManager::LoadAccelerators(UINT id, HMODULE module) {
  const BYTE* data = nullptr;
  std::size_t size = 0;
  std::vector<NorvAcceleratorEntry> entries;
  if (!plat::FindResource(module, plat::ResourceType::Accelerator, id, &data, &size) ||
      !NorvParseAcceleratorResource(data, size, entries))
    return FALSE;
  for (const NorvAcceleratorEntry& entry : entries) {
    Qt::KeyboardModifiers modifiers;
    if (entry.modifiers & 1) modifiers |= Qt::ShiftModifier;
    if (entry.modifiers & 2) modifiers |= Qt::ControlModifier;
    if (entry.modifiers & 4) modifiers |= Qt::AltModifier;
    if (entry.modifiers & 8) modifiers |= Qt::MetaModifier;
    const QKeySequence key(QKeyCombination(modifiers, static_cast<Qt::Key>(entry.key)));
    // The first entry of a command is the one shown.
    m_accelerators.try_emplace(entry.command, key);
  }
  for (const Source& s : m_acceleratorTables)
    if (s.id == id && s.module == module) return TRUE;
  m_acceleratorTables.append({id, module});
  return TRUE;
}

void CCoolMenuManager::SetAccelerator(UINT command, const QKeySequence& key) {
  if (key.isEmpty())
    m_accelerators.erase(command);
  else
    m_accelerators[command] = key;
}

QKeySequence CCoolMenuManager::Accelerator(UINT command) const {
  auto it = m_accelerators.find(command);
  return it != m_accelerators.end() ? it->second : QKeySequence();
}

void CCoolMenuManager::Refresh() {
  RestoreMenus();
  const QList<Source> toolbars = m_toolbars;
  const QList<Source> tables = m_acceleratorTables;
  m_images.clear();
  m_commands.clear();
  m_imageSize = QSize();
  m_toolbars.clear();
  m_acceleratorTables.clear();
  m_accelerators.clear();
  for (const Source& s : toolbars) LoadToolbar(s.id, s.module);
  for (const Source& s : tables) LoadAccelerators(s.id, s.module);
}

QSize CCoolMenuManager::ButtonSize() const {
  return m_imageSize.isValid() ? m_imageSize + QSize(2, 2) : QSize();
}

int CCoolMenuManager::CommandImage(UINT command) const {
  auto it = m_commands.find(command);
  return it != m_commands.end() ? it->second : -1;
}

QIcon CCoolMenuManager::CommandIcon(UINT command) const {
  const int index = CommandImage(command);
  if (index < 0 || index >= static_cast<int>(m_images.size())) return {};
  return QIcon(m_images[index]);
}

// ---------------------------------------------------------------------------
// Converting menus
// ---------------------------------------------------------------------------

bool CCoolMenuManager::BelongsToFrame(const QMenu* menu) const {
  if (m_frame == nullptr || menu == nullptr) return false;
  for (const QWidget* w = menu->parentWidget(); w != nullptr; w = w->parentWidget())
    if (w == m_frame) return true;
  // A popup without a parent opened while the frame is the active window.
  return menu->parentWidget() == nullptr && m_frame->isActiveWindow();
}

bool CCoolMenuManager::IsConverted(const QMenu* menu) const {
  return menu != nullptr && menu->property(kConvertedProperty).toBool();
}

void CCoolMenuManager::ConvertMenu(QMenu* menu) {
  if (menu == nullptr || IsConverted(menu)) return;
  auto& records = Records();
  for (QAction* action : menu->actions()) {
    if (action->isSeparator() || action->menu() != nullptr ||
        qobject_cast<QWidgetAction*>(action) != nullptr)
      continue;
    const UINT command = NorvActionCommand(action);
    if (command == 0 || command >= kFirstSystemCommand) continue;
    if (records.count(action) != 0) continue;
    EntryRecord record;
    record.text = action->text();
    record.icon = action->icon();
    QString text = record.text;
    // Entries that show a shortcut of their own or a key text already keep
    // it.
    const QKeySequence key = Accelerator(command);
    if (!key.isEmpty() && action->shortcut().isEmpty() && !text.contains(QLatin1Char('\t')))
      text += QLatin1Char('\t') + key.toString(QKeySequence::NativeText);
    const QIcon icon = CommandIcon(command);
    if (m_showButtons && !icon.isNull() && action->icon().isNull()) {
      action->setIcon(icon);
      record.iconSet = true;
    }
    if (text != action->text()) action->setText(text);
    record.shownText = text;
    records[action] = record;
    action->setProperty(kRecordProperty, true);
    connect(action, &QObject::destroyed, this, [](QObject* gone) { Records().erase(gone); });
  }
  menu->setProperty(kConvertedProperty, true);
  m_converted.append(menu);
}

void CCoolMenuManager::RestoreMenu(QMenu* menu) {
  if (menu == nullptr || !IsConverted(menu)) return;
  auto& records = Records();
  for (QAction* action : menu->actions()) {
    if (!action->property(kRecordProperty).toBool()) continue;
    auto it = records.find(action);
    if (it == records.end()) continue;
    const EntryRecord& record = it->second;
    // A text or image the menu's owner changed meanwhile is kept.
    if (action->text() == record.shownText) action->setText(record.text);
    if (record.iconSet) action->setIcon(record.icon);
    action->setProperty(kRecordProperty, QVariant());
    disconnect(action, &QObject::destroyed, this, nullptr);
    records.erase(it);
  }
  menu->setProperty(kConvertedProperty, QVariant());
  m_converted.removeAll(menu);
}

void CCoolMenuManager::RestoreMenus() {
  const QList<QPointer<QMenu>> menus = m_converted;
  for (const QPointer<QMenu>& menu : menus)
    if (menu != nullptr) RestoreMenu(menu);
  m_converted.clear();
}

// ---------------------------------------------------------------------------
// Menu characters
// ---------------------------------------------------------------------------

bool CCoolMenuManager::HandleMenuChar(QMenu* menu, const QString& text) {
  if (menu == nullptr || text.size() != 1 || !text[0].isPrint() || text[0].isSpace()) return false;
  const QChar letter = text[0].toUpper();
  QList<QAction*> matches;
  int after = -1;  // the first match after the highlighted entry
  bool passedActive = false;
  QAction* active = menu->activeAction();
  for (QAction* action : menu->actions()) {
    if (action == active) passedActive = true;
    if (action->isSeparator() || !action->isVisible() || !action->isEnabled()) continue;
    if (MenuLetter(action->text()) != letter) continue;
    if (passedActive && action != active && after < 0) after = static_cast<int>(matches.size());
    matches.append(action);
  }
  if (matches.isEmpty()) return false;
  if (matches.size() == 1) {
    // Execute: as if the entry were chosen with the keyboard (a popup
    // entry opens its popup).
    menu->setActiveAction(matches[0]);
    QKeyEvent enter(QEvent::KeyPress, Qt::Key_Return, Qt::NoModifier);
    QCoreApplication::sendEvent(menu, &enter);
    return true;
  }
  menu->setActiveAction(matches[after >= 0 ? after : 0]);
  return true;
}

// ---------------------------------------------------------------------------
// Hooking the frame's menus
// ---------------------------------------------------------------------------

bool CCoolMenuManager::eventFilter(QObject* watched, QEvent* event) {
  auto* menu = qobject_cast<QMenu*>(watched);
  if (menu == nullptr || m_frame == nullptr) return QObject::eventFilter(watched, event);
  switch (event->type()) {
    case QEvent::Polish:
      // Convert when the menu is about to open: after the owner's own
      // aboutToShow handlers, which were connected when it was built.
      if (BelongsToFrame(menu) && !menu->property(kHookedProperty).toBool()) {
        menu->setProperty(kHookedProperty, true);
        connect(menu, &QMenu::aboutToShow, this, [this, menu] {
          if (BelongsToFrame(menu)) ConvertMenu(menu);
        });
      }
      break;
    case QEvent::Show:
      // A menu polished before the manager came: convert now (the menu
      // resizes itself to the new texts).
      if (!IsConverted(menu) && BelongsToFrame(menu)) ConvertMenu(menu);
      break;
    case QEvent::Hide:
      RestoreMenu(menu);
      break;
    case QEvent::KeyPress: {
      if (!IsConverted(menu)) break;
      auto* key = static_cast<QKeyEvent*>(event);
      if (key->modifiers() & ~(Qt::ShiftModifier | Qt::AltModifier | Qt::KeypadModifier)) break;
      if (HandleMenuChar(menu, key->text())) return true;
      break;
    }
    default:
      break;
  }
  return QObject::eventFilter(watched, event);
}
