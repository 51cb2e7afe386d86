#include "PushDownButton.h"

#include <QPainter>
#include <QStyleOptionButton>
#include <QStylePainter>
#include <algorithm>

#include "platform/resources.h"

namespace {

QPixmap DrawnArrow() {
  QImage image(CPushDownButton::kArrowWidth, CPushDownButton::kArrowHeight, QImage::Format_ARGB32);
  image.fill(Qt::transparent);
  // A solid triangle pointing down: 9, 7, 5, 3, 1 pixels wide.
  for (int y = 0; y < 5; ++y)
    for (int x = 1 + y; x < CPushDownButton::kArrowWidth - 1 - y; ++x)
      image.setPixel(x, y, qRgb(0, 0, 0));
  return QPixmap::fromImage(image);
}

QPixmap LoadArrow() {
  const BYTE* data = nullptr;
  std::size_t size = 0;
  if (!plat::FindResource(nullptr, plat::ResourceType::Image, CPushDownButton::kArrowImage, &data,
                          &size))
    return DrawnArrow();
  QImage image;
  if (!image.loadFromData(data, static_cast<int>(size), "PNG") || image.isNull())
    return DrawnArrow();
  image = image.convertToFormat(QImage::Format_ARGB32);
  // Magenta is transparent in images without an alpha channel of their own.
  for (int y = 0; y < image.height(); ++y) {
    auto* line = reinterpret_cast<QRgb*>(image.scanLine(y));
    for (int x = 0; x < image.width(); ++x)
      if ((line[x] & 0xFFFFFF) == 0xFF00FF) line[x] = 0;
  }
  return QPixmap::fromImage(
      image.copy(0, 0, CPushDownButton::kArrowWidth, std::min(image.height(), 16)));
}

}  // namespace

CPushDownButton::CPushDownButton(QWidget* parent) : QPushButton(parent) {}

CPushDownButton::CPushDownButton(const QString& text, QWidget* parent)
    : QPushButton(text, parent) {}

QPixmap CPushDownButton::ArrowImage() {
  // Read once per resource module: a plugin's resources may be current.
  static HMODULE loadedFor = reinterpret_cast<HMODULE>(-1);
  static QPixmap arrow;
  const HMODULE now = plat::CurrentResourceModule() != nullptr ? plat::CurrentResourceModule()
                                                               : plat::HostResourceModule();
  if (now != loadedFor || arrow.isNull()) {
    arrow = LoadArrow();
    loadedFor = now;
  }
  return arrow;
}

QRect CPushDownButton::ArrowRect(const QSize& size) {
  const QSize image = ArrowImage().size();
  const int height = image.isValid() ? image.height() : kArrowHeight;
  return QRect(size.width() - kArrowMargin - kArrowWidth, (size.height() - height) / 2, kArrowWidth,
               height);
}

QRect CPushDownButton::TextRect(const QSize& size) {
  return QRect(kTextMargin, 0, std::max(0, ArrowRect(size).left() - kTextMargin), size.height());
}

QRect CPushDownButton::FocusRect(const QSize& size) {
  const int smaller = std::min(size.width(), size.height());
  const int inset = smaller < 13 ? smaller / 4 : 3;
  return QRect(QPoint(0, 0), size).adjusted(inset, inset, -inset, -inset);
}

QSize CPushDownButton::sizeHint() const {
  const QSize base = QPushButton::sizeHint();
  const int textWidth = fontMetrics().horizontalAdvance(text()) + 2 * kTextMargin;
  return QSize(std::max(base.width(), textWidth + kArrowWidth + kArrowMargin + kTextMargin),
               base.height());
}

QSize CPushDownButton::minimumSizeHint() const {
  const QSize base = QPushButton::minimumSizeHint();
  return QSize(std::max(base.width(), kTextMargin + kArrowWidth + kArrowMargin), base.height());
}

void CPushDownButton::paintEvent(QPaintEvent*) {
  QStylePainter painter(this);
  QStyleOptionButton option;
  initStyleOption(&option);
  // The frame only: text, icon and the style's own menu arrow are ours.
  option.features &= ~QStyleOptionButton::HasMenu;
  option.text.clear();
  option.icon = QIcon();
  painter.drawControl(QStyle::CE_PushButtonBevel, option);

  const bool pressed = isDown() || isChecked();
  const QPoint shift = pressed ? QPoint(1, 1) : QPoint(0, 0);
  const bool enabled = isEnabled();

  QPixmap arrow = ArrowImage();
  if (!enabled) arrow = QIcon(arrow).pixmap(arrow.size(), QIcon::Disabled);
  painter.drawPixmap(ArrowRect(size()).topLeft() + shift, arrow);

  const QRect textRect = TextRect(size()).translated(shift);
  style()->drawItemText(&painter, textRect, Qt::AlignLeft | Qt::AlignVCenter | Qt::TextShowMnemonic,
                        palette(), enabled, text(), QPalette::ButtonText);

  if (hasFocus()) {
    QStyleOptionFocusRect focus;
    focus.initFrom(this);
    focus.rect = FocusRect(size());
    focus.backgroundColor = palette().color(QPalette::Button);
    painter.drawPrimitive(QStyle::PE_FrameFocusRect, focus);
  }
}
