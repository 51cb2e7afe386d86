// CHtmlFrame: an HTML pane of the main frame (the banner, the page around
// the content view and the tutorial). It remembers the address it last
// navigated to and the assignments of the last page info it was given;
// a new address is navigated to and the assignments are applied once the
// document has loaded, the same address only gets the assignments again.
#pragma once
#include <QWidget>
#include <vector>

#include "norv/NorvItemTypes.h"
#include "norv/norvtypes.h"

class NORV_API CHtmlFrame : public QWidget {
  Q_OBJECT

 public:
  explicit CHtmlFrame(QWidget* parent = nullptr);

  // Takes the page info: TRUE when it navigated, FALSE when it applied the
  // assignments to the page already shown (or the address was empty).
  BOOL ShowPage(const htmlViewInfo& info, DWORD navigateFlags);
  const NorvString& GetLastAddress() const { return m_lastAddress; }
  const NorvStringList& GetAssignments() const { return m_assignments; }
  int GetNavigationCount() const { return m_navigations; }
  int GetApplyCount() const { return m_applied; }

 signals:
  // A mouse press that makes the pane active.
  void Activated();

 protected:
  // Starts loading `address`; the document-loaded notification applies
  // the assignments.
  virtual void Navigate(const NorvString& address, DWORD flags);
  // Applies the remembered assignments to the page shown.
  virtual void ApplyAssignments();
  void OnDocumentComplete();
  void mousePressEvent(QMouseEvent* event) override;

 private:
  NorvString m_lastAddress;
  NorvStringList m_assignments;
  int m_navigations = 0;
  int m_applied = 0;
};
