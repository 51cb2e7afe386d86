#include "FrameTools.h"

#include <QAbstractItemView>
#include <QApplication>
#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QFileDialog>
#include <QFileInfo>
#include <QHeaderView>
#include <QIcon>
#include <QPainter>
#include <QPalette>
#include <QPrintDialog>
#include <QPrinter>
#include <QPrinterInfo>
#include <QSaveFile>
#include <QStandardPaths>
#include <QStyle>
#include <QTableView>
#include <QTreeView>
#include <algorithm>
#include <atomic>
#include <cstdarg>
#include <cstdlib>

#include "norv/NorvItemCommands.h"
#include "norv/NorvTlgItem.h"
#include "norv/Trace.h"
#include "platform/profile.h"
#include "platform/resources.h"
#include "platform/sysinfo.h"

namespace {

QString Q(const NorvString& text) { return QString::fromStdWString(text); }

void PutU16(QByteArray& out, quint16 value) {
  out.append(static_cast<char>(value & 0xFF));
  out.append(static_cast<char>(value >> 8));
}

void PutU32(QByteArray& out, quint32 value) {
  for (int shift = 0; shift < 32; shift += 8) out.append(static_cast<char>((value >> shift) & 0xFF));
}

}  // namespace

// ----- Windows version ------------------------------------------------------

UINT NorvWinVerCode(DWORD platformId, DWORD major, DWORD minor, DWORD build) {
  build &= 0xFFFF;
  if (platformId == plat::VER_PLATFORM_WIN32_WINDOWS) {
    if (major != 4) return 0;
    if (minor == 90) return 7;
    if (minor == 10) {
      if (build == 1998) return 4;
      if (build >= 1999 && build <= 2182) return 5;
      if (build >= 2183) return 6;
      return 0;
    }
    if (minor < 10) {
      if (build == 950) return 1;
      if (build >= 951 && build <= 1080) return 2;
      if (build > 1080) return 3;
    }
    return 0;
  }
  if (platformId == plat::VER_PLATFORM_WIN32_NT) {
    if (major == 3 && minor == 51) return 101;
    if (major == 4 && minor == 0) return 102;
    if (major == 5 && minor == 0) return 103;
    if (major == 5 && minor == 1) return 104;
  }
  return 0;
}

UINT GetWinVer() {
  static std::atomic<UINT> known{0};
  UINT code = known.load();
  if (code != 0) return code;
  plat::OSVersionInfo info;
  if (!plat::GetVersionEx(&info)) return 0;
  code = NorvWinVerCode(info.platformId, info.majorVersion, info.minorVersion, info.buildNumber);
  known.store(code);
  return code;
}

// ----- formatting -----------------------------------------------------------

NorvString FormatString(const wchar_t* format, ...) {
  if (format == nullptr) return {};
  va_list args;
  va_start(args, format);
  NorvString text = NorvFormatStringV(format, args);
  va_end(args);
  return text;
}

NorvString FormatString(UINT formatId, ...) {
  const NorvString format = plat::LoadString(formatId);
  if (format.empty()) return {};
  va_list args;
  va_start(args, formatId);
  NorvString text = NorvFormatStringV(format.c_str(), args);
  va_end(args);
  return text;
}

// ----- saving an icon -------------------------------------------------------

QImage NorvRenderIconBitmap(const QIcon& icon) {
  int size = 32;
  if (QApplication::instance() != nullptr && qobject_cast<QApplication*>(qApp) != nullptr)
    size = QApplication::style()->pixelMetric(QStyle::PM_LargeIconSize);
  if (size <= 0) size = 32;
  QImage image(size, size, QImage::Format_RGB32);
  image.fill(QGuiApplication::palette().color(QPalette::Base));
  QPainter painter(&image);
  icon.paint(&painter, QRect(0, 0, size, size));
  painter.end();
  return image;
}

BOOL NorvWriteBitmapFile(const QImage& source, const QString& path) {
  if (source.isNull()) return FALSE;
  const QImage image = source.convertToFormat(QImage::Format_RGB32);
  const int width = image.width();
  const int height = image.height();
  const quint32 rowBytes = (static_cast<quint32>(width) * 3 + 3) & ~3u;
  const quint32 pixelBytes = rowBytes * static_cast<quint32>(height);
  constexpr quint32 kFileHeader = 14;
  constexpr quint32 kInfoHeader = 40;

  QByteArray data;
  data.reserve(static_cast<qsizetype>(kFileHeader + kInfoHeader + pixelBytes));
  // File header: "BM", file size, two reserved words, offset of the pixels.
  data.append("BM", 2);
  PutU32(data, kFileHeader + kInfoHeader + pixelBytes);
  PutU16(data, 0);
  PutU16(data, 0);
  PutU32(data, kFileHeader + kInfoHeader);
  // Info header: uncompressed, 24 bits, no colour table.
  PutU32(data, kInfoHeader);
  PutU32(data, static_cast<quint32>(width));
  PutU32(data, static_cast<quint32>(height));  // positive: rows bottom-up
  PutU16(data, 1);                             // planes
  PutU16(data, 24);                            // bits per pixel
  PutU32(data, 0);                             // BI_RGB
  PutU32(data, pixelBytes);
  PutU32(data, 2835);  // 72 dpi, in pixels per metre
  PutU32(data, 2835);
  PutU32(data, 0);  // colours used
  PutU32(data, 0);  // important colours
  for (int y = height - 1; y >= 0; --y) {
    const QRgb* line = reinterpret_cast<const QRgb*>(image.constScanLine(y));
    quint32 written = 0;
    for (int x = 0; x < width; ++x) {
      data.append(static_cast<char>(qBlue(line[x])));
      data.append(static_cast<char>(qGreen(line[x])));
      data.append(static_cast<char>(qRed(line[x])));
      written += 3;
    }
    for (; written < rowBytes; ++written) data.append('\0');
  }

  // QSaveFile writes a temporary file and renames it on commit, so a
  // failed write leaves neither half a bitmap nor a damaged older file.
  QSaveFile file(path);
  if (!file.open(QIODevice::WriteOnly) || file.write(data) != data.size() || !file.commit()) {
    NORV_BASE_TRACE(2, 0,
                    NorvFormatString(L"SaveIcon: cannot write %s", path.toStdWString().c_str()));
    return FALSE;
  }
  return TRUE;
}

BOOL SaveIcon(const QIcon& icon, const NorvString& fileName, QWidget* parent) {
  if (icon.isNull()) return FALSE;
  QFileDialog dialog(parent);
  dialog.setAcceptMode(QFileDialog::AcceptSave);
  dialog.setFileMode(QFileDialog::AnyFile);
  dialog.setDefaultSuffix(QStringLiteral("bmp"));
  dialog.setNameFilters({QObject::tr("Bitmap Files (*.bmp)"), QObject::tr("All Files (*)")});
  dialog.selectFile(Q(fileName));
  // The dialog asks before it overwrites a file (its default).
  if (dialog.exec() != QDialog::Accepted || dialog.selectedFiles().isEmpty()) return FALSE;
  return NorvWriteBitmapFile(NorvRenderIconBitmap(icon), dialog.selectedFiles().first());
}

QIcon NorvGetItemLargeIcon(CNorvTreeListItem* item, const QList<QImage>& largeImages) {
  if (item == nullptr) return {};
  treeListViewInfo info;
  treeListViewInfo* p = &info;
  int offset = 0;
  {
    CNorvItemCallScope scope(item);
    item->GetTreeViewInfo(p, NORV_TLVI_TEXT | NORV_TLVI_IMAGE);
    offset = item->GetImageListOffset();
  }
  if (p == nullptr || p->nImage < 0) return {};
  const qsizetype index = static_cast<qsizetype>(p->nImage) + offset;
  if (index < 0 || index >= largeImages.size() || largeImages[index].isNull()) return {};
  return QIcon(QPixmap::fromImage(largeImages[index]));
}

NorvString NorvProposedIconFileName(CNorvTreeListItem* item) {
  if (item == nullptr) return {};
  treeListViewInfo info;
  treeListViewInfo* p = &info;
  {
    CNorvItemCallScope scope(item);
    item->GetTreeViewInfo(p, NORV_TLVI_TEXT | NORV_TLVI_IMAGE);
  }
  NorvString name = item->GetClassName() + L" - " + (p != nullptr ? p->strText : NorvString());
  for (wchar_t& c : name) {
    if (c == L'/' || c == L'\\' || c < 0x20) c = L'_';
  }
  return name + L".bmp";
}

// ----- printing -------------------------------------------------------------

BOOL NorvCanPrint(QWidget* view) { return view != nullptr && view->isVisible() ? TRUE : FALSE; }

namespace {

// An item view as a table: the header on every page, then the rows, each as
// high as one line of text, cut at the column's width.
BOOL PrintItemView(QAbstractItemView* view, QPrinter& printer, const QString& title) {
  QAbstractItemModel* model = view->model();
  if (model == nullptr) return FALSE;
  QHeaderView* header = nullptr;
  if (auto* tree = qobject_cast<QTreeView*>(view)) header = tree->header();
  if (auto* table = qobject_cast<QTableView*>(view)) header = table->horizontalHeader();

  // The columns in the order shown, without the hidden ones.
  QList<int> columns;
  QList<int> widths;
  const int count = model->columnCount(view->rootIndex());
  for (int visual = 0; visual < count; ++visual) {
    const int logical = header != nullptr ? header->logicalIndex(visual) : visual;
    if (logical < 0 || (header != nullptr && header->isSectionHidden(logical))) continue;
    columns.append(logical);
    widths.append(header != nullptr ? std::max(header->sectionSize(logical), 20) : 100);
  }
  if (columns.isEmpty()) return FALSE;

  QPainter painter;
  if (!painter.begin(&printer)) return FALSE;
  const QRect page = printer.pageLayout().paintRectPixels(printer.resolution());
  const QRect area(0, 0, page.width(), page.height());
  // Scale the screen widths so that the columns fill the page's width.
  int total = 0;
  for (int w : widths) total += w;
  const double scale = static_cast<double>(area.width()) / total;
  QFont font = view->font();
  font.setPointSizeF(std::max(6.0, font.pointSizeF() > 0 ? font.pointSizeF() : 9.0));
  painter.setFont(font);
  const int lineHeight = painter.fontMetrics().height() * 5 / 4;
  QFont bold = font;
  bold.setBold(true);

  auto drawRow = [&](int y, const QStringList& texts) {
    double x = 0;
    for (int i = 0; i < texts.size(); ++i) {
      const QRect cell(static_cast<int>(x) + 2, y, static_cast<int>(widths[i] * scale) - 4,
                       lineHeight);
      painter.drawText(cell, Qt::AlignLeft | Qt::AlignVCenter,
                       painter.fontMetrics().elidedText(texts[i], Qt::ElideRight, cell.width()));
      x += widths[i] * scale;
    }
  };
  auto drawHeader = [&](int& y) {
    if (!title.isEmpty()) {
      painter.setFont(bold);
      painter.drawText(QRect(0, y, area.width(), lineHeight), Qt::AlignLeft | Qt::AlignVCenter,
                       title);
      y += lineHeight * 3 / 2;
    }
    QStringList texts;
    for (int column : columns)
      texts.append(model->headerData(column, Qt::Horizontal, Qt::DisplayRole).toString());
    painter.setFont(bold);
    drawRow(y, texts);
    painter.setFont(font);
    y += lineHeight;
    painter.drawLine(0, y, area.width(), y);
    y += lineHeight / 4;
  };

  int y = 0;
  drawHeader(y);
  const int rows = model->rowCount(view->rootIndex());
  for (int row = 0; row < rows; ++row) {
    if (y + lineHeight > area.height()) {
      if (!printer.newPage()) break;
      y = 0;
      drawHeader(y);
    }
    QStringList texts;
    for (int column : columns)
      texts.append(
          model->data(model->index(row, column, view->rootIndex()), Qt::DisplayRole).toString());
    drawRow(y, texts);
    y += lineHeight;
  }
  return painter.end() ? TRUE : FALSE;
}

// Any other view: its picture, scaled to fit the page and kept in
// proportion.
BOOL PrintPicture(QWidget* view, QPrinter& printer) {
  const QPixmap picture = view->grab();
  if (picture.isNull()) return FALSE;
  QPainter painter;
  if (!painter.begin(&printer)) return FALSE;
  const QRect page = printer.pageLayout().paintRectPixels(printer.resolution());
  const QSize size = picture.size().scaled(page.size(), Qt::KeepAspectRatio);
  painter.drawPixmap(QRect(QPoint(0, 0), size), picture);
  return painter.end() ? TRUE : FALSE;
}

}  // namespace

BOOL NorvPrintWidget(QWidget* view, QPrinter& printer, const QString& title) {
  if (view == nullptr) return FALSE;
  if (auto* items = qobject_cast<QAbstractItemView*>(view)) return PrintItemView(items, printer, title);
  return PrintPicture(view, printer);
}

BOOL NorvPrintContentView(QWidget* view, const QString& title, QWidget* parent) {
  if (!NorvCanPrint(view)) return FALSE;
  QPrinter printer(QPrinter::HighResolution);
  printer.setDocName(title);
  if (QPrinterInfo::availablePrinterNames().isEmpty()) {
    // No printer: print to a PDF file of the user's choice.
    QString name = title.isEmpty() ? QStringLiteral("print") : title;
    name.replace(QLatin1Char('/'), QLatin1Char('_'));
    const QString file = QFileDialog::getSaveFileName(
        parent, QObject::tr("Print to PDF"),
        QDir(QStandardPaths::writableLocation(QStandardPaths::DocumentsLocation))
            .filePath(name + QStringLiteral(".pdf")),
        QObject::tr("PDF Files (*.pdf)"));
    if (file.isEmpty()) return FALSE;
    printer.setOutputFormat(QPrinter::PdfFormat);
    printer.setOutputFileName(file);
  } else {
    QPrintDialog dialog(&printer, parent);
    if (dialog.exec() != QDialog::Accepted) return FALSE;
  }
  const BOOL printed = NorvPrintWidget(view, printer, title);
  if (!printed) NORV_BASE_TRACE(2, 0, L"Printing the content view failed");
  return printed;
}

// ----- the host program's profile -------------------------------------------

QString NorvHostProfilePath() {
  const char* fixed = std::getenv("NORV_PROFILE");
  if (fixed != nullptr && fixed[0] != '\0') return QString::fromLocal8Bit(fixed);
  QString config = qEnvironmentVariable("XDG_CONFIG_HOME");
  if (config.isEmpty() || !config.startsWith(QLatin1Char('/')))
    config = QDir::homePath() + QStringLiteral("/.config");
  QString name = QCoreApplication::applicationName();
  name.replace(QLatin1Char('/'), QLatin1Char('_'));
  if (name.isEmpty() || name.startsWith(QLatin1Char('.'))) name = QStringLiteral("norvexplore");
  return config + QStringLiteral("/norv/") + name + QStringLiteral(".ini");
}

int NorvGetProfileInt(const char* section, const char* entry, int defaultValue) {
  const QByteArray path = NorvHostProfilePath().toLocal8Bit();
  return static_cast<int>(plat::GetPrivateProfileIntA(section, entry, defaultValue, path.constData()));
}

BOOL NorvWriteProfileInt(const char* section, const char* entry, int value) {
  const QString path = NorvHostProfilePath();
  QDir().mkpath(QFileInfo(path).absolutePath());
  const QByteArray file = path.toLocal8Bit();
  return plat::WritePrivateProfileStringA(section, entry, std::to_string(value).c_str(),
                                          file.constData());
}
