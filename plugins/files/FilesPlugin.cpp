// The Files plugin's exports: who it is, where its tree starts and the
// images it draws.
#include <pwd.h>
#include <stdlib.h>
#include <sys/stat.h>
#include <unistd.h>

#include <QColor>
#include <QImage>
#include <QPainter>
#include <QPolygon>
#include <string>

#include "FilesItems.h"
#include "FilesStrings.h"
#include "norv/NorvPluginSdk.h"
#include "platform/text.h"

NorvPluginGlobals gFilesPlugin;

NORV_PLUGIN_STANDARD_EXPORTS(gFilesPlugin)
NORV_PLUGIN_CAPTION_FROM_STRING(gFilesPlugin, IDS_FILES_CAPTION)

namespace {

bool IsFolder(const char* path) {
  struct stat st;
  return path != nullptr && path[0] == '/' && stat(path, &st) == 0 && S_ISDIR(st.st_mode);
}

// The user's home folder: $HOME, else the password database, else "/".
std::string HomeFolder() {
  const char* home = getenv("HOME");
  if (IsFolder(home)) return home;
  if (const passwd* pw = getpwuid(getuid()); pw != nullptr && IsFolder(pw->pw_dir))
    return pw->pw_dir;
  return "/";
}

QImage Draw(int size, int which) {
  QImage image(size, size, QImage::Format_ARGB32_Premultiplied);
  image.fill(Qt::transparent);
  QPainter p(&image);
  p.setRenderHint(QPainter::Antialiasing);
  const double u = size / 16.0;
  p.scale(u, u);
  p.setPen(QPen(QColor(90, 70, 20), 0.8));
  if (which == FILES_IMAGE_FILE) {
    p.setBrush(QColor(250, 250, 250));
    p.drawPolygon(QPolygonF({{3, 1}, {10, 1}, {13, 4}, {13, 15}, {3, 15}}));
    p.drawLine(QPointF(10, 1), QPointF(10, 4));
    p.drawLine(QPointF(10, 4), QPointF(13, 4));
  } else {
    p.setBrush(QColor(230, 180, 60));
    p.drawPolygon(QPolygonF({{1, 3}, {6, 3}, {7, 5}, {15, 5}, {15, 14}, {1, 14}}));
    if (which == FILES_IMAGE_FOLDER_OPEN) {
      p.setBrush(QColor(250, 210, 110));
      p.drawPolygon(QPolygonF({{3, 8}, {16, 8}, {14, 14}, {1, 14}}));
    }
  }
  return image;
}

}  // namespace

NORV_PLUGIN_EXPORT BOOL Initialize(wchar_t* rootClass, wchar_t* rootId, unsigned chars) {
  NorvPluginCopyText(rootClass, chars, L"CFilesFolder");
  const NorvString home = plat::FromUtf8(HomeFolder());
  // A path longer than the buffer would be cut into another folder's name.
  NorvPluginCopyText(rootId, chars, home.size() < chars ? home.c_str() : L"/");
  return TRUE;
}

NORV_PLUGIN_EXPORT BOOL GetImageList(int imageListType, QList<QImage>* images) {
  if (images == nullptr) return FALSE;
  const int size = imageListType == IMAGELIST_LARGE ? 32 : 16;
  for (int which : {FILES_IMAGE_FOLDER, FILES_IMAGE_FOLDER_OPEN, FILES_IMAGE_FILE})
    images->append(Draw(size, which));
  return TRUE;
}
