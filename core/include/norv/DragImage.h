// CDragImage: what a drag shows under the pointer. Either a set of outline
// rectangles (the rows being dragged, drawn as one-pixel inverted frames)
// or, when there are none, a bitmap (the image list's image).
//
// This is the data side and the process-wide drag state machine; the
// drawing itself belongs to the views, which install an
// INorvDragImagePainter. Without a painter the state still advances and
// nothing is drawn.
//
// Serialized form (clipboard format "NORV_DRAGIMAGE", after the hot spot):
//   DWORD count, then count rectangles (left, top, right, bottom: four
//   32-bit signed values each, in list order); when count is 0, DWORD n
//   and n bytes of a PNG image (n = 0: no image). The original carried the
//   common controls' image-list stream in place of the PNG; that stream
//   exists only on Windows, so this is the one deliberate difference.
#pragma once
#include <QImage>
#include <QPoint>
#include <vector>

#include "norv/NorvArchive.h"
#include "norv/norvtypes.h"

class QWidget;

// One outline rectangle, with the bounds as the rectangle was given (right
// and bottom are the first column and row outside it).
struct NORV_API NorvDragRect {
  int left = 0;
  int top = 0;
  int right = 0;
  int bottom = 0;

  NorvDragRect Offset(int dx, int dy) const { return {left + dx, top + dy, right + dx, bottom + dy}; }
  bool operator==(const NorvDragRect&) const = default;
};

// How the views draw a drag. All calls come on the user-interface thread.
class NORV_API INorvDragImagePainter {
 public:
  virtual ~INorvDragImagePainter();
  // Outlines: keep `window` from repainting while outlines are on it
  // (LockWindowUpdate), and let it repaint again.
  virtual void LockWindow(QWidget* window) = 0;
  virtual void UnlockWindow(QWidget* window) = 0;
  // Draws one outline as an inverted one-pixel frame: erases it at `from`
  // (when not null) and draws it at `to` (when not null). Drawing at the
  // same place twice erases, as inverting does.
  virtual void DrawDragRect(QWidget* window, const NorvDragRect* to, const NorvDragRect* from) = 0;
  // The bitmap drag (no outlines), as the image list's own drag functions.
  virtual void ImageBeginDrag(const QImage& image, int index, const QPoint& hotSpot) = 0;
  virtual void ImageDragEnter(QWidget* window, const QPoint& point) = 0;
  virtual void ImageDragMove(const QPoint& point) = 0;
  virtual void ImageDragLeave(QWidget* window) = 0;
  virtual void ImageDragShowNolock(BOOL show) = 0;
  virtual void ImageEndDrag() = 0;
};

class NORV_API CDragImage {
 public:
  CDragImage();
  ~CDragImage();
  CDragImage(const CDragImage&);
  CDragImage& operator=(const CDragImage&);

  // --- data --------------------------------------------------------------
  void SetImage(const QImage& image) { m_image = image; }
  const QImage& GetImage() const { return m_image; }
  void AddRect(const NorvDragRect& rect) { m_rects.push_back(rect); }
  void AddRect(int left, int top, int right, int bottom) { m_rects.push_back({left, top, right, bottom}); }
  void RemoveAllRects() { m_rects.clear(); }
  int GetRectCount() const { return static_cast<int>(m_rects.size()); }
  const std::vector<NorvDragRect>& GetRects() const { return m_rects; }
  // Outlines and image gone.
  void Clear();

  // See the top of this file. Reading replaces the rectangles and the
  // image; damaged data raises CNorvArchiveException and leaves the object
  // empty.
  void Serialize(CNorvArchive& ar);
  // The storing half of Serialize.
  void Write(CNorvArchive& ar) const;

  // --- the drag (one at a time per process) ------------------------------
  // Starts a drag with hot spot (x, y): copies the outlines into the drag
  // state, or, without outlines, starts the bitmap drag of image `index`.
  BOOL BeginDrag(int index, const QPoint& hotSpot);
  // The pointer enters `window` at `point`: locks it and draws the outlines
  // at point - hot spot.
  static BOOL DragEnter(QWidget* window, const QPoint& point);
  // Moves the outlines to `point` (each erased and redrawn in one call).
  static BOOL DragMove(const QPoint& point);
  // Erases the outlines (when shown) and unlocks the window.
  static BOOL DragLeave(QWidget* window);
  // FALSE hides the outlines as DragLeave on the remembered window, TRUE
  // shows them again at the remembered position.
  static BOOL DragShowNolock(BOOL show);
  // Ends the drag: DragLeave and forgets the outlines.
  static void EndDrag();

  // Whether a drag is running, and whether its outlines are on screen.
  static BOOL IsDragging();
  static BOOL AreOutlinesShown();

  // The views' painter (null: draw nothing). Not owned.
  static void SetPainter(INorvDragImagePainter* painter);
  static INorvDragImagePainter* GetPainter();

 private:
  QImage m_image;
  std::vector<NorvDragRect> m_rects;
};
