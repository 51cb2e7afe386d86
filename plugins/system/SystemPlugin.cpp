// The System plugin's exports: its root, its images, and the life of the
// worker that watches the proc file system (started by Initialize, joined
// by DeInitialize).
#include <QColor>
#include <QImage>
#include <QPainter>

#include "SystemItems.h"
#include "SystemMonitor.h"
#include "SystemStrings.h"
#include "norv/NorvPluginSdk.h"
#include "norv/NorvRegistryKey.h"
#include "norv/Trace.h"

NorvPluginGlobals gSystemPlugin;

namespace {

QImage Draw(int size, int which) {
  QImage image(size, size, QImage::Format_ARGB32_Premultiplied);
  image.fill(Qt::transparent);
  QPainter p(&image);
  p.setRenderHint(QPainter::Antialiasing);
  p.scale(size / 16.0, size / 16.0);
  p.setPen(QPen(QColor(40, 40, 60), 0.8));
  switch (which) {
    case SYS_IMAGE_SYSTEM:  // a screen on a stand
      p.setBrush(QColor(120, 160, 220));
      p.drawRect(QRectF(1.5, 2.5, 13, 9));
      p.drawLine(QPointF(8, 11.5), QPointF(8, 14));
      p.drawLine(QPointF(4.5, 14.5), QPointF(11.5, 14.5));
      break;
    case SYS_IMAGE_FOLDER:  // a stack of cards
      p.setBrush(QColor(200, 200, 210));
      p.drawRect(QRectF(3.5, 1.5, 11, 9));
      p.setBrush(QColor(235, 235, 245));
      p.drawRect(QRectF(1.5, 5.5, 11, 9));
      break;
    case SYS_IMAGE_PROCESS:  // a gear-like disc
      p.setBrush(QColor(110, 190, 120));
      p.drawEllipse(QRectF(2, 2, 12, 12));
      p.setBrush(QColor(250, 250, 250));
      p.drawEllipse(QRectF(6, 6, 4, 4));
      break;
    default:  // a drive
      p.setBrush(QColor(190, 190, 190));
      p.drawRoundedRect(QRectF(1.5, 4.5, 13, 7), 1.5, 1.5);
      p.setBrush(QColor(60, 200, 60));
      p.drawEllipse(QRectF(11, 7, 2, 2));
      break;
  }
  return image;
}

// A default timed-refresh period for a class, unless the user chose one
// (a choice of 0, no refresh, is kept as well).
void DefaultRefreshRate(CNorvPrivateRegistryKey& rates, const wchar_t* className, UINT seconds) {
  UINT existing = 0;
  if (!rates.GetUIntValue(className, existing)) rates.SetUIntValue(className, seconds);
}

}  // namespace

NORV_PLUGIN_EXPORT BOOL Initialize(wchar_t* rootClass, wchar_t* rootId, unsigned chars) {
  NorvPluginCopyText(rootClass, chars, SYS_CLASS_ROOT);
  NorvPluginCopyText(rootId, chars, SYS_ID_ROOT);
  if (!CNorvPrivateRegistryKey::GetPrivateRoot().empty()) {
    CNorvPrivateRegistryKey rates(plat::HKEY_CURRENT_USER, L"RefreshRates",
                                  plat::KEY_READ | plat::KEY_WRITE);
    if (rates.IsOpen()) {
      DefaultRefreshRate(rates, SYS_CLASS_PROCESS_FOLDER, SYS_REFRESH_PROCESSES);
      DefaultRefreshRate(rates, SYS_CLASS_MOUNT_FOLDER, SYS_REFRESH_MOUNTS);
    }
  }
  sysplugin::SystemMonitor& monitor = sysplugin::SystemMonitor::Instance();
  monitor.SetPluginId(gSystemPlugin.pluginId);
  monitor.Start();
  NORV_PLUGIN_TRACE(gSystemPlugin.pluginId, nullptr, 3,
                    NorvFormatString(L"System: watching processes and mounts every %d ms",
                                     static_cast<int>(sysplugin::SystemMonitor::kPollInterval.count())));
  return TRUE;
}

NORV_PLUGIN_EXPORT void DeInitialize() {
  // The worker must be gone before the library is: it runs this library's
  // code.
  sysplugin::SystemMonitor::Instance().Stop();
  NORV_PLUGIN_TRACE(gSystemPlugin.pluginId, nullptr, 3, L"System: worker stopped");
}

NORV_PLUGIN_EXPORT BOOL GetImageList(int imageListType, QList<QImage>* images) {
  if (images == nullptr) return FALSE;
  const int size = imageListType == IMAGELIST_LARGE ? 32 : 16;
  for (int which = 0; which < SYS_IMAGE_COUNT; ++which) images->append(Draw(size, which));
  return TRUE;
}

NORV_PLUGIN_EXPORT void SetImageListOffset(int offset) { gSystemPlugin.imageListOffset = offset; }

NORV_PLUGIN_EXPORT void SetPluginName(const wchar_t* text) {
  gSystemPlugin.name = text != nullptr ? text : L"";
}

NORV_PLUGIN_EXPORT void SetHelpFile(const wchar_t* text) {
  gSystemPlugin.helpFile = text != nullptr ? text : L"";
}

NORV_PLUGIN_EXPORT void SetMessageHelpFile(const wchar_t* text) {
  gSystemPlugin.messageHelpFile = text != nullptr ? text : L"";
}

NORV_PLUGIN_EXPORT void SetResourceInstanceHandle(HMODULE module) {
  gSystemPlugin.resourceModule = module;
}

NORV_PLUGIN_EXPORT void GetPluginCaption(wchar_t* caption, unsigned chars) {
  NorvPluginCopyText(caption, chars, CSystemItem::Text(IDS_SYSTEM_CAPTION).c_str());
}

NORV_PLUGIN_EXPORT void SetPluginId(int id) {
  gSystemPlugin.pluginId = id;
  sysplugin::SystemMonitor::Instance().SetPluginId(id);
}

NORV_PLUGIN_EXPORT BOOL QueryEndSession() { return TRUE; }

NORV_PLUGIN_EXPORT void GetBuildType(DWORD* first, DWORD* second) {
  if (first != nullptr) *first = NORV_PLUGIN_BUILD_ABI_MISMATCH;
  if (second != nullptr) *second = NORV_PLUGIN_BUILD_WIDE_TEXT;
}

NORV_PLUGIN_EXPORT void GetSDKVersion(DWORD* version, DWORD* build) {
  if (version != nullptr) *version = NORV_SDK_VERSION;
  if (build != nullptr) *build = NORV_SDK_BUILD;
}
