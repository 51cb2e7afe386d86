// A library with item classes of its own, loaded by the item model tests to
// see its classes registered under its path and removed when it unloads.
#include "norv/NorvTlgItem.h"

class CPluginTestItem : public CNorvTreeListItem {
  NORV_DECLARE_SERIAL(CPluginTestItem)
 public:
  BOOL Initialize(CNorvTreeListItem* parent, const NorvString& id) override {
    SetParent(parent);
    m_strId = id;
    return TRUE;
  }
};
NORV_IMPLEMENT_SERIAL(CPluginTestItem, CNorvTreeListItem, 1)

class CPluginTestChild : public CPluginTestItem {
  NORV_DECLARE_SERIAL(CPluginTestChild)
};
NORV_IMPLEMENT_SERIAL(CPluginTestChild, CPluginTestItem, 1)
