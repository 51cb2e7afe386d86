// CNorvListModel: the rows of the list view as one table model. A row holds
// the pointer of the child it shows, its image and the texts of every
// column (hidden ones too) as they were read when the row was added; the
// texts of all rows live in one UTF-16 buffer, so that a row costs a few
// dozen bytes and no object of its own. The model's columns are the visible
// columns; `VisibleColumn` maps them to the item's column numbers.
//
// The model never calls the items: the view reads them and hands over the
// texts. Only the user-interface thread uses it.
#pragma once
#include <QAbstractTableModel>
#include <QIcon>
#include <QItemSelection>
#include <QStyledItemDelegate>
#include <functional>
#include <string>
#include <unordered_set>
#include <vector>

#include "norv/NorvItemTypes.h"
#include "norv/norvtypes.h"

class CNorvTLItemList;
class CNorvTreeListItem;

class NORV_API CNorvListModel : public QAbstractTableModel {
  Q_OBJECT

 public:
  // Roles beyond Qt's: the row's item pointer and its image index.
  static constexpr int ItemRole = Qt::UserRole + 1;
  static constexpr int ImageRole = Qt::UserRole + 2;

  explicit CNorvListModel(QObject* parent = nullptr);
  ~CNorvListModel() override;

  // --- columns ---
  // Forgets every row and sets the columns: names and formats of all
  // columns, and the column numbers of the visible ones in insertion order.
  void SetColumns(const NorvStringList& names, const std::vector<int>& formats,
                  const std::vector<int>& visible);
  int ColumnCount() const { return static_cast<int>(m_names.size()); }
  int VisibleCount() const { return static_cast<int>(m_visible.size()); }
  // The column number of visible column `v`, or -1.
  int VisibleColumn(int v) const;
  // The visible position of column number `n`, or -1 when hidden.
  int VisiblePosition(int n) const;
  const NorvStringList& Names() const { return m_names; }
  // Header flags of a visible column (sorted up/down, filtered).
  DWORD HeaderFlags(int v) const;
  void SetHeaderFlags(int v, DWORD flags);

  // --- rows ---
  // Bulk filling: BeginFill reserves room for `hint` more rows, EndFill
  // shows what was appended in between.
  void BeginFill(int hint);
  // Appends a row; `cells` holds one text per column in column order.
  void AppendRow(CNorvTreeListItem* item, int image, const std::vector<NorvString>& cells);
  void EndFill();
  void Clear();
  int RowCount() const { return static_cast<int>(m_rows.size()); }
  CNorvTreeListItem* Item(int row) const;
  int Image(int row) const;
  // The row of `item` (its list handle when that fits, else a search), or
  // -1. Does not call the item when `trustHandle` is false.
  int FindRow(const CNorvTreeListItem* item, bool trustHandle = true) const;
  // The text of column number `n` in `row`.
  NorvString CellText(int row, int n) const;
  QString CellQString(int row, int n) const;
  // Replaces the image and texts of a row; `cells` one per column, where
  // keep[n] keeps the old text of column n.
  void SetRow(int row, int image, const std::vector<NorvString>& cells,
              const std::vector<bool>& keep);
  void RemoveRow(int row);
  // Removes every row whose item is not in `keepSorted` (sorted pointers,
  // only compared, never called). Returns how many rows went.
  int RemoveRowsNotIn(const std::vector<const CNorvTreeListItem*>& keepSorted);
  // Sets every row's item list handle to its row number.
  void UpdateListHandles();
  // The whole rows of those of `items` that have one (null: none); `first`
  // gets the first such row in the list's order, or -1.
  QItemSelection RowSelection(const CNorvTLItemList* items, int* first) const;

  // Sorts the rows with `less` (a before b). A merge sort: any answer of
  // `less`, consistent or not, yields a permutation of the rows, and every
  // pair is compared at most once per merge step. Selection and current
  // row follow their rows.
  void SortRows(const std::function<bool(CNorvTreeListItem*, CNorvTreeListItem*)>& less);

  // Icons for DecorationRole, by image index (null: none).
  void SetIconProvider(std::function<QIcon(int image)> provider);
  // The item is being edited: setData hands the new text to this.
  void SetEditHandler(std::function<bool(int row, const NorvString& text)> handler);
  void SetEditable(bool editable) { m_editable = editable; }
  // Check boxes in the first column, kept by item (rows may move).
  void SetCheckable(bool checkable);
  bool IsCheckable() const { return m_checkable; }
  bool IsChecked(const CNorvTreeListItem* item) const { return m_checked.count(item) != 0; }
  void SetChecked(int row, bool checked);

  // Bytes held for rows and texts (for the benchmark and the trace).
  size_t MemoryUse() const;

  // QAbstractItemModel
  int rowCount(const QModelIndex& parent = QModelIndex()) const override;
  int columnCount(const QModelIndex& parent = QModelIndex()) const override;
  QVariant data(const QModelIndex& index, int role = Qt::DisplayRole) const override;
  bool setData(const QModelIndex& index, const QVariant& value, int role = Qt::EditRole) override;
  QVariant headerData(int section, Qt::Orientation orientation,
                      int role = Qt::DisplayRole) const override;
  Qt::ItemFlags flags(const QModelIndex& index) const override;
  QStringList mimeTypes() const override;

 private:
  struct Cell {
    uint32_t start;
    uint32_t length;
  };
  struct Row {
    CNorvTreeListItem* item;
    int image;
    uint32_t firstCell;  // index into m_cells; ColumnCount() cells follow
  };
  uint32_t StoreText(const NorvString& text);
  void ReleaseRows();
  void CompactIfWasteful();

  NorvStringList m_names;
  std::vector<int> m_formats;
  std::vector<int> m_visible;
  std::vector<DWORD> m_headerFlags;
  std::vector<Row> m_rows;
  std::vector<Cell> m_cells;
  std::u16string m_text;
  size_t m_garbageCells = 0;
  bool m_filling = false;
  bool m_editable = true;
  bool m_checkable = false;
  std::unordered_set<const CNorvTreeListItem*> m_checked;
  std::function<QIcon(int)> m_icons;
  std::function<bool(int, const NorvString&)> m_edit;
};

// Draws each cell of a list model in the colours its item gives for the
// cell's column and in the font of the item's emphasis. The views adapt it
// through the two hooks.
class NORV_API CNorvListDelegate : public QStyledItemDelegate {
 public:
  // `columnIds` holds the ids of all columns by column number; the model
  // and the ids outlive the delegate.
  CNorvListDelegate(const CNorvListModel* model, const NorvUIntArray* columnIds, QObject* parent);

  // The one of the four fonts that shows this emphasis.
  static const QFont* EmphasisFont(bool bold, bool italic, const QFont* normal,
                                   const QFont* boldFont, const QFont* italicFont,
                                   const QFont* boldItalicFont);

 protected:
  void initStyleOption(QStyleOptionViewItem* option, const QModelIndex& index) const override;
  // Called before the item is asked (`item` may be null); false leaves the
  // cell as it stands.
  virtual bool PrepareCell(QStyleOptionViewItem* option, const QModelIndex& index,
                           CNorvTreeListItem* item) const;
  // The font of a cell with this emphasis, or null to keep the view's.
  virtual const QFont* CellFont(bool bold, bool italic) const = 0;

 private:
  const CNorvListModel* m_model;
  const NorvUIntArray* m_columnIds;
};
