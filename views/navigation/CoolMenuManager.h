// CCoolMenuManager: gives the frame's menus (the menu bar's drop-downs and
// every popup opened while the frame is active) the images of the toolbar
// buttons with the same command ids, and shows each command's accelerator
// key after its text. Texts and images are put on the actions just before a
// menu opens and taken off again when it closes, so the menus the frame
// builds stay as they are.
//
// Toolbars come from toolbar resources (type 241: version, image width,
// image height, count, command ids with 0 for separators) with the image
// strip in the image resource of the same id; accelerators from accelerator
// resources or set one by one.
//
// It also carries out menu characters in the menus it converted: a letter
// that one entry's "&" names executes that entry; a letter that several
// share moves the highlight to the next of them after the highlighted one.
#pragma once
#include <QIcon>
#include <QKeySequence>
#include <QList>
#include <QObject>
#include <QPixmap>
#include <QPointer>
#include <QSize>
#include <map>

#include "norv/norvtypes.h"

class QAction;
class QMenu;
class QWidget;

class NORV_API CCoolMenuManager : public QObject {
  Q_OBJECT

 public:
  // The toolbar the frame loads and its accelerator table.
  static constexpr UINT kFrameToolbar = 223;
  static constexpr UINT kFrameAccelerators = 128;

  explicit CCoolMenuManager(QObject* parent = nullptr);
  ~CCoolMenuManager() override;

  // Creates the frame's manager (a child of the frame): installs it and
  // loads the frame's toolbar and accelerator table. Never fails: missing
  // resources are traced.
  static CCoolMenuManager* InstallOnFrame(QWidget* frame);
  // The manager installed on `frame`, or null.
  static CCoolMenuManager* ForFrame(const QWidget* frame);

  // Hooks the frame's menus; null unhooks (and restores open menus).
  void Install(QWidget* frame);
  QWidget* Frame() const { return m_frame; }

  // Loads toolbar resource `id` (searched as every resource: `module`, the
  // current module, the host's). The first toolbar fixes the image size;
  // one with another size is refused (FALSE). A command already mapped
  // keeps its first image. A missing or damaged image strip gives
  // placeholder images (traced); the toolbar still counts as loaded.
  BOOL LoadToolbar(UINT id, HMODULE module = nullptr);
  // The same from data in memory (the toolbar resource's layout) and the
  // strip image (null: placeholders).
  BOOL LoadToolbarData(const BYTE* data, std::size_t size, const QImage& strip);
  // Reads accelerator resource `id`; FALSE when absent or damaged.
  BOOL LoadAccelerators(UINT id, HMODULE module = nullptr);
  void SetAccelerator(UINT command, const QKeySequence& key);
  // The accelerator shown for a command (empty when none).
  QKeySequence Accelerator(UINT command) const;

  // Reloads the toolbars and accelerators after a style or setting change.
  void Refresh();
  // Puts the texts and images of every converted menu back.
  void RestoreMenus();

  // Whether menus show images (default on).
  void SetShowButtons(bool show) { m_showButtons = show; }
  bool ShowButtons() const { return m_showButtons; }

  // The image size of the loaded toolbars and the button area in menus
  // (the image plus 2 pixels each way); empty before the first toolbar.
  QSize ImageSize() const { return m_imageSize; }
  QSize ButtonSize() const;
  // The image of a command; null when the command has none.
  QIcon CommandIcon(UINT command) const;
  int CommandImage(UINT command) const;
  int ImageCount() const { return static_cast<int>(m_images.size()); }

  // Converts `menu` now (as before it opens) / back (as after it closed).
  void ConvertMenu(QMenu* menu);
  void RestoreMenu(QMenu* menu);
  bool IsConverted(const QMenu* menu) const;
  // A menu character typed in a converted menu: TRUE when it was used.
  bool HandleMenuChar(QMenu* menu, const QString& text);

 protected:
  bool eventFilter(QObject* watched, QEvent* event) override;

 private:
  struct Source {
    UINT id;
    HMODULE module;
  };
  bool BelongsToFrame(const QMenu* menu) const;
  void AddImages(const QImage& strip, int count);

  QPointer<QWidget> m_frame;
  QSize m_imageSize;
  QList<QPixmap> m_images;
  std::map<UINT, int> m_commands;
  std::map<UINT, QKeySequence> m_accelerators;
  QList<QPointer<QMenu>> m_converted;
  QList<Source> m_toolbars;
  QList<Source> m_acceleratorTables;
  bool m_showButtons = true;
};
