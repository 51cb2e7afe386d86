#include "NorvHtmlHost.h"

#include <mutex>

#include "norv/NorvTlgItem.h"

INorvHtmlHost::~INorvHtmlHost() = default;

void INorvHtmlHost::PostNavigation(const NorvString& path) {
  {
    std::lock_guard<std::recursive_mutex> lock(CNorvTreeListItem::GetItemModelLock());
    CNorvTreeListItem::SetNavigationTarget(path);
  }
  CNorvTreeListItem::InvokeRefresh();
}

namespace {
INorvHtmlHost gNoHost;
INorvHtmlHost* gHost = &gNoHost;
}  // namespace

INorvHtmlHost* NorvGetHtmlHost() { return gHost; }

void NorvSetHtmlHost(INorvHtmlHost* host) { gHost = host != nullptr ? host : &gNoHost; }
