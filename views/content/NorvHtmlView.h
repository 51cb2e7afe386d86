// CNorvHtmlView: the content view of the graphical view mode. It shows the
// selected item's page (GetHtmlViewInfo), offers the page's navigations to
// the selected item (OnHTMLNavigate), applies the item's assignments when
// the page has loaded and then hands the item the document
// (ID_NORV_ITEMCMD_DOCUMENT_COMPLETE_GRAPHICAL). Pages reach the explorer
// through `window.external` (CNorvHtmlViewExternal).
#pragma once
#include <QWebEngineView>

#include "NorvHtmlPage.h"
#include "norv/NorvItemTypes.h"
#include "norv/NorvView.h"
#include "norv/norvtypes.h"

class CNorvTreeListItem;

class NORV_API CNorvHtmlView : public QWebEngineView,
                               public CNorvView,
                               public INorvHtmlPageOwner {
  Q_OBJECT

 public:
  explicit CNorvHtmlView(QWidget* parent = nullptr);
  ~CNorvHtmlView() override;

  // CNorvView
  BOOL AllowTimerRefresh() override { return TRUE; }
  BOOL UpdateContainedItem(CNorvTreeListItem* item) override;
  // Forgets `item` when it is the one shown (no page event may reach it
  // afterwards); always TRUE.
  BOOL RemoveContainedItem(CNorvTreeListItem* item) override;
  BOOL ShowContents(CNorvTreeListItem* item) override;
  void EraseContents() override;

  // The view's own navigation (not offered to the item).
  BOOL Navigate(const NorvString& url, DWORD flags = 0, const NorvString& targetFrame = {},
                const std::vector<BYTE>& postData = {}, const NorvString& headers = {});

  CNorvTreeListItem* GetShownItem() const { return m_item; }
  NorvString GetUrl() const { return m_url; }
  INorvHtmlDocument* GetDocument();
  CNorvHtmlPage* Page() const { return m_page; }

 signals:
  // After the top-level document loaded and the item had its command.
  void documentComplete(const QUrl& url);

 protected:
  BOOL OnPageNavigate(const NorvString& url, const NorvString& targetFrame,
                      const NorvString& headers, const std::vector<BYTE>& postData) override;
  void OnPageLoaded(const QUrl& url, bool ok) override;
  void contextMenuEvent(QContextMenuEvent* event) override;

 private:
  CNorvHtmlPage* m_page;
  NorvString m_url;
  NorvStringList m_assignments;
  CNorvTreeListItem* m_item = nullptr;
};

// Whether a loaded address is the one navigated to: both in lower case with
// backslashes turned into slashes, one containing the other.
NORV_API bool NorvHtmlSameAddress(const QUrl& loaded, const NorvString& navigated);
