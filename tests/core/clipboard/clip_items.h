// An item class that travels through the clipboard: it writes its id and a
// payload, and says whether it may be copied or dragged.
#pragma once
#include <string>

#include "norv/NorvHostCommands.h"
#include "norv/NorvItemCommands.h"
#include "norv/NorvTlgItem.h"

class CClipTestItem : public CNorvTreeListItem {
  NORV_DECLARE_SERIAL(CClipTestItem)

 public:
  CClipTestItem() { ++alive; }
  CClipTestItem(const NorvString& id, const NorvString& payload, bool copyable, bool draggable)
      : CClipTestItem() {
    m_strId = id;
    this->payload = payload;
    this->copyable = copyable;
    this->draggable = draggable;
  }
  ~CClipTestItem() override { --alive; }

  BOOL InitMenuInfo(UINT commandId, int& enabled, int& checked, int) override {
    if (commandId != ID_NORV_CMD_CUT && commandId != ID_NORV_CMD_COPY) return FALSE;
    enabled = copyable ? 1 : 0;
    checked = 0;
    return TRUE;
  }
  CanDragFlag CanDrag() override { return draggable ? DRAG_ITEM : DRAG_NONE; }
  void Serialize(CNorvArchive& ar) override {
    CNorvTreeListItem::Serialize(ar);
    if (ar.IsStoring()) {
      ar << m_strId << payload;
    } else {
      ar >> m_strId >> payload;
    }
  }

  NorvString payload;
  bool copyable = true;
  bool draggable = true;
  // Instances alive, to see that nothing leaks or is destroyed twice.
  static int alive;
};
