// Combo boxes that list tree-list items: each entry shows an item's tree
// text (the extended form also its images from the main frame's small image
// list) and carries the item pointer. The extended form opens the selected
// item's control menu on a right click.
#pragma once
#include <QComboBox>

#include "NorvDialog.h"
#include "norv/norvtypes.h"

class CNorvMenu;
class CNorvTLItemList;
class CNorvTreeListItem;

class NORV_API CNorvComboBox : public QComboBox, public INorvInitControl {
  Q_OBJECT

 public:
  // Item data roles: the item pointer, its image and selected image
  // (already offset into the shared list; -1 none).
  static constexpr int ItemRole = Qt::UserRole;
  static constexpr int ImageRole = Qt::UserRole + 1;
  static constexpr int SelectedImageRole = Qt::UserRole + 2;

  explicit CNorvComboBox(QWidget* parent = nullptr);
  ~CNorvComboBox() override;

  // Once per control (later calls do nothing).
  void InitControl() override;
  BOOL IsInitialized() const { return m_initialized; }

  // Adds an entry per item of `list` (its tree text); the entry of the item
  // whose Id is `selectedId` becomes the selection. Returns the selection.
  virtual int AddList(CNorvTLItemList* list, const NorvString& selectedId);
  // AddList with one item, selecting it when asked; its index or -1.
  int AddItem(CNorvTreeListItem* item, BOOL select);
  // An entry with `item` as item data; its index, or -1 when it cannot be
  // added.
  int AddString(const NorvString& text, CNorvTreeListItem* item, BOOL select = FALSE);
  int InsertString(int index, const NorvString& text, CNorvTreeListItem* item, BOOL select = FALSE);
  // The edit field's text; FALSE when the box has no edit field.
  BOOL SetEdit(const NorvString& text);

  CNorvTreeListItem* GetItem(int index) const;
  CNorvTreeListItem* GetSelectedItem() const;
  // The selected entry's item and text; without a selection null and the
  // edit text.
  CNorvTreeListItem* GetSelectedItem(NorvString& text) const;
  // Searches as the system's list does: from the entry after `start` (-1:
  // from the top) to the end and round to `start`, ignoring case. FindItem
  // wants an entry beginning with `text`, FindItemExact one equal to it.
  int FindString(const NorvString& text, int start = -1) const;
  int FindStringExact(const NorvString& text, int start = -1) const;
  CNorvTreeListItem* FindItem(const NorvString& text, int start = -1) const;
  CNorvTreeListItem* FindItemExact(const NorvString& text, int start = -1) const;
  // Selects the exact entry and returns its item (null: none).
  CNorvTreeListItem* SelectItem(const NorvString& text, int start = -1);

  // Widens the drop-down list to its widest entry on every drop-down.
  void EnableAutoSizeListBox(BOOL enable) { m_autoSize = enable; }
  BOOL IsAutoSizeListBox() const { return m_autoSize; }
  void AutoSizeListBox();

  void showPopup() override;

 protected:
  // Reads an item's text and images for an entry (its resources pushed).
  static void ReadItem(CNorvTreeListItem* item, NorvString& text, int& image, int& selectedImage);
  // Adds the entry at `index` (-1 append) with images; its index or -1.
  int AddEntry(int index, const NorvString& text, CNorvTreeListItem* item, int image,
               int selectedImage, BOOL select);

  // Whether entries carry the items' images.
  virtual bool ShowsImages() const { return false; }

  BOOL m_initialized = FALSE;
  BOOL m_autoSize = FALSE;
};

class NORV_API CNorvComboBoxEx : public CNorvComboBox {
  Q_OBJECT

 public:
  explicit CNorvComboBoxEx(QWidget* parent = nullptr);
  ~CNorvComboBoxEx() override;

  // Attaches the frame's small images and watches the edit part's right
  // button.
  void InitControl() override;

  int AddList(CNorvTLItemList* list, const NorvString& selectedId) override;
  // Entries with an image go before the first entry whose text is not
  // smaller (ignoring case); entries without one are appended.
  int AddListSorted(CNorvTLItemList* list, const NorvString& selectedId);

  // The selected item's control menu at `globalPos`: prepared, shown, the
  // choice sent to the item. The chosen command or 0.
  UINT ShowContextMenu(const QPoint& globalPos);

 protected:
  // Shows the menu and returns the choice (tests answer it).
  virtual UINT TrackMenu(const CNorvMenu& menu, const QPoint& globalPos);
  bool ShowsImages() const override { return true; }
  void mouseReleaseEvent(QMouseEvent* event) override;
  bool eventFilter(QObject* watched, QEvent* event) override;

 private:
  int AddListEntries(CNorvTLItemList* list, const NorvString& selectedId, bool sorted);
  void WatchEdit();
  QObject* m_watchedEdit = nullptr;
};
