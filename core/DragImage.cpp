// The drag image: its data, its serialized form and the process-wide drag
// state that the views drive while the pointer moves.
#include "norv/DragImage.h"

#include <QBuffer>
#include <QByteArray>

INorvDragImagePainter::~INorvDragImagePainter() = default;

CDragImage::CDragImage() = default;
CDragImage::~CDragImage() = default;
CDragImage::CDragImage(const CDragImage&) = default;
CDragImage& CDragImage::operator=(const CDragImage&) = default;

void CDragImage::Clear() {
  m_image = QImage();
  m_rects.clear();
}

void CDragImage::Write(CNorvArchive& ar) const {
  ar << static_cast<DWORD>(m_rects.size());
  for (const NorvDragRect& r : m_rects)
    ar << static_cast<std::int32_t>(r.left) << static_cast<std::int32_t>(r.top)
       << static_cast<std::int32_t>(r.right) << static_cast<std::int32_t>(r.bottom);
  if (!m_rects.empty()) return;
  // Outlines make the bitmap pointless: it is written only without them.
  QByteArray png;
  if (!m_image.isNull()) {
    QBuffer buffer(&png);
    buffer.open(QIODevice::WriteOnly);
    if (!m_image.save(&buffer, "PNG")) png.clear();
  }
  ar << static_cast<DWORD>(png.size());
  ar.Write(png.constData(), static_cast<std::size_t>(png.size()));
}

void CDragImage::Serialize(CNorvArchive& ar) {
  if (ar.IsStoring()) {
    Write(ar);
    return;
  }
  Clear();
  try {
    DWORD count = 0;
    ar >> count;
    // Read one by one: a false count ends at endOfFile instead of
    // reserving what the data says.
    for (DWORD i = 0; i < count; ++i) {
      std::int32_t v[4];
      ar >> v[0] >> v[1] >> v[2] >> v[3];
      m_rects.push_back({v[0], v[1], v[2], v[3]});
    }
    if (count != 0) return;
    DWORD size = 0;
    ar >> size;
    if (size == 0) return;
    if (size > ar.GetRemaining())
      throw CNorvArchiveException(CNorvArchiveException::endOfFile, "drag image bitmap");
    QByteArray png(static_cast<qsizetype>(size), Qt::Uninitialized);
    ar.ReadExactly(png.data(), size);
    if (!m_image.loadFromData(png, "PNG"))
      throw CNorvArchiveException(CNorvArchiveException::genericException, "drag image bitmap");
  } catch (...) {
    Clear();
    throw;
  }
}

// ---------------------------------------------------------------------------
// The drag state: one drag at a time per process, user-interface thread only.
// ---------------------------------------------------------------------------
namespace {

struct DragState {
  bool active = false;
  bool withOutlines = false;
  std::vector<NorvDragRect> outlines;
  QPoint hotSpot;
  QPoint position;
  QWidget* window = nullptr;
  bool shown = false;
  bool locked = false;
  INorvDragImagePainter* painter = nullptr;
};

DragState& State() {
  static DragState state;
  return state;
}

NorvDragRect At(const NorvDragRect& r, const QPoint& point) {
  const DragState& s = State();
  return r.Offset(point.x() - s.hotSpot.x(), point.y() - s.hotSpot.y());
}

void EraseOutlines() {
  DragState& s = State();
  if (s.shown && s.painter != nullptr)
    for (const NorvDragRect& r : s.outlines) {
      const NorvDragRect old = At(r, s.position);
      s.painter->DrawDragRect(s.window, nullptr, &old);
    }
  s.shown = false;
  if (s.locked && s.painter != nullptr) s.painter->UnlockWindow(s.window);
  s.locked = false;
}

}  // namespace

BOOL CDragImage::BeginDrag(int index, const QPoint& hotSpot) {
  DragState& s = State();
  if (s.active) EndDrag();  // a drag left running by its owner
  s.active = true;
  s.hotSpot = hotSpot;
  s.outlines = m_rects;
  s.withOutlines = !s.outlines.empty();
  s.window = nullptr;
  s.shown = s.locked = false;
  if (!s.withOutlines && s.painter != nullptr) s.painter->ImageBeginDrag(m_image, index, hotSpot);
  return TRUE;
}

BOOL CDragImage::DragEnter(QWidget* window, const QPoint& point) {
  DragState& s = State();
  if (!s.active) return FALSE;
  if (!s.withOutlines) {
    s.window = window;
    s.position = point;
    if (s.painter != nullptr) s.painter->ImageDragEnter(window, point);
    return TRUE;
  }
  // Entering twice would invert the outlines back off the screen.
  if (s.shown || s.locked) EraseOutlines();
  s.window = window;
  s.position = point;
  if (s.painter != nullptr) {
    s.painter->LockWindow(window);
    s.locked = true;
    for (const NorvDragRect& r : s.outlines) {
      const NorvDragRect now = At(r, point);
      s.painter->DrawDragRect(window, &now, nullptr);
    }
  }
  s.shown = true;
  return TRUE;
}

BOOL CDragImage::DragMove(const QPoint& point) {
  DragState& s = State();
  if (!s.active) return FALSE;
  if (!s.withOutlines) {
    s.position = point;
    if (s.painter != nullptr) s.painter->ImageDragMove(point);
    return TRUE;
  }
  if (s.shown && s.painter != nullptr)
    for (const NorvDragRect& r : s.outlines) {
      const NorvDragRect old = At(r, s.position);
      const NorvDragRect now = At(r, point);
      s.painter->DrawDragRect(s.window, &now, &old);
    }
  s.position = point;
  return TRUE;
}

BOOL CDragImage::DragLeave(QWidget* window) {
  DragState& s = State();
  if (!s.active) return FALSE;
  if (!s.withOutlines) {
    if (s.painter != nullptr) s.painter->ImageDragLeave(window);
    return TRUE;
  }
  // The outlines are on the window they entered, whatever the caller names.
  EraseOutlines();
  return TRUE;
}

BOOL CDragImage::DragShowNolock(BOOL show) {
  DragState& s = State();
  if (!s.active) return FALSE;
  if (!s.withOutlines) {
    if (s.painter != nullptr) s.painter->ImageDragShowNolock(show);
    return TRUE;
  }
  if (!show) return DragLeave(s.window);
  if (s.shown) return TRUE;
  return DragEnter(s.window, s.position);
}

void CDragImage::EndDrag() {
  DragState& s = State();
  if (!s.active) return;
  if (s.withOutlines) {
    EraseOutlines();
    s.outlines.clear();
  } else if (s.painter != nullptr) {
    s.painter->ImageEndDrag();
  }
  s.active = false;
  s.withOutlines = false;
  s.window = nullptr;
}

BOOL CDragImage::IsDragging() { return State().active ? TRUE : FALSE; }
BOOL CDragImage::AreOutlinesShown() { return State().shown ? TRUE : FALSE; }

void CDragImage::SetPainter(INorvDragImagePainter* painter) { State().painter = painter; }
INorvDragImagePainter* CDragImage::GetPainter() { return State().painter; }
