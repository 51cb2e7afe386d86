// CNorvRoot: the framework's own root item. When several plugins are
// loaded (and nothing else names a root) it is the top of the tree and
// shows one child per plugin: each plugin's default root object, in load
// order. Registered for creation by name as "CNorvRoot".
#pragma once
#include "norv/NorvPluginBase.h"

class NORV_API CNorvRoot : public CNorvPluginBase {
  NORV_DECLARE_SERIAL(CNorvRoot)

 public:
  // Name: string 7050, or "Name" of the framework's "Plugins" key; title:
  // string 7035, or "Title" of that key. The root is STATIC: the document
  // owns it.
  CNorvRoot();

  NorvString Id() const override;
  BOOL Initialize(CNorvTreeListItem* parent, const NorvString& id) override;
  BOOL Refresh() override;
  UINT GetContextHelpId() override;
  UINT GetIcon() override;
  NorvString GetPluginCaption() override;
  void GetTreeViewInfo(treeListViewInfo*& info, UINT mask) override;
  BOOL GetListViewInfo(treeListViewInfo*& info, UINT mask, int column) override;
  int ListColumns(NorvStringList*& titles, NorvUIntArray*& widths, NorvUIntArray*& ids,
                  NorvUIntArray*& formats) override;
  // Creates every plugin's default root as a child, once per root.
  GetItemsResult GetItems(BOOL treeOnly) override;

  const NorvString& GetName() const { return m_strName; }
  const NorvString& GetTitle() const { return m_strTitle; }
  BOOL IsExpanded() const { return m_bExpanded; }

  static constexpr UINT kContextHelpId = 30003;
  static constexpr UINT kIconId = 128;
  static constexpr UINT kColumnWidth = 200;

 private:
  void DoExpandRoot();

  NorvString m_strName;
  NorvString m_strTitle;
  BOOL m_bExpanded = FALSE;
  // What ListColumns hands out.
  NorvStringList m_columnTitles;
  NorvUIntArray m_columnWidths;
  NorvUIntArray m_columnIds;
  NorvUIntArray m_columnFormats;
};
