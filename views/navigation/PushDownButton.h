// CPushDownButton: a push button with a small down arrow at its right
// edge, for buttons that open a menu. The arrow is image resource 205 (11
// pixels wide, magenta or alpha transparent) of the host's or the current
// resources, or drawn when there is none. The text stands left-aligned
// after a margin; text and arrow move down and right by a pixel while the
// button is pressed and are drawn disabled with the button.
#pragma once
#include <QPixmap>
#include <QPushButton>

#include "norv/norvtypes.h"

class NORV_API CPushDownButton : public QPushButton {
  Q_OBJECT

 public:
  static constexpr UINT kArrowImage = 205;
  static constexpr int kArrowWidth = 11;
  static constexpr int kArrowHeight = 6;
  static constexpr int kTextMargin = 5;
  static constexpr int kArrowMargin = 5;

  explicit CPushDownButton(QWidget* parent = nullptr);
  explicit CPushDownButton(const QString& text, QWidget* parent = nullptr);

  // The arrow image (from the resources, else drawn).
  static QPixmap ArrowImage();
  // Where the arrow and the text are drawn in a button of `size`, not
  // pressed.
  static QRect ArrowRect(const QSize& size);
  static QRect TextRect(const QSize& size);
  // The focus rectangle: inset by 3 pixels, by a quarter of the smaller
  // side when that is under 13 pixels.
  static QRect FocusRect(const QSize& size);

  QSize sizeHint() const override;
  QSize minimumSizeHint() const override;

 protected:
  void paintEvent(QPaintEvent* event) override;
};
