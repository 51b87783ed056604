#include "ui/artwork.h"

#include <functional>

#include <QPainter>
#include <QPainterPath>

namespace vantrelle {
namespace {

using Drawing = std::function<void(QPainter&)>;

// Every drawing is made on a 24 x 24 canvas and scaled to the pixmap size.
QPixmap Render(const Drawing& draw, int size, qreal ratio) {
  QPixmap pixmap(QSize(size, size) * ratio);
  pixmap.setDevicePixelRatio(ratio);
  pixmap.fill(Qt::transparent);
  QPainter painter(&pixmap);
  painter.setRenderHint(QPainter::Antialiasing);
  painter.scale(size / 24.0, size / 24.0);
  draw(painter);
  return pixmap;
}

QIcon IconOf(const Drawing& draw) {
  QIcon icon;
  for (int size : {16, 24, 32, 48}) {
    icon.addPixmap(Render(draw, size, 1.0));
    icon.addPixmap(Render(draw, size, 2.0));
  }
  return icon;
}

void DrawFolder(QPainter& p) {
  p.setPen(QPen(QColor(0x8a, 0x5a, 0x00), 1.0));
  p.setBrush(QColor(0xf0, 0xb4, 0x2a));
  QPainterPath back;
  back.moveTo(2, 6);
  back.lineTo(9, 6);
  back.lineTo(11, 8);
  back.lineTo(20, 8);
  back.lineTo(20, 19);
  back.lineTo(2, 19);
  back.closeSubpath();
  p.drawPath(back);
  p.setBrush(QColor(0xfb, 0xd3, 0x6b));
  QPainterPath front;
  front.moveTo(5, 11);
  front.lineTo(23, 11);
  front.lineTo(20, 19);
  front.lineTo(2, 19);
  front.closeSubpath();
  p.drawPath(front);
}

void DrawStart(QPainter& p) {
  p.setPen(QPen(QColor(0x1b, 0x6b, 0x22), 1.2));
  QLinearGradient fill(0, 3, 0, 21);
  fill.setColorAt(0, QColor(0x7b, 0xd8, 0x6f));
  fill.setColorAt(1, QColor(0x2e, 0x9e, 0x38));
  p.setBrush(fill);
  QPainterPath arrow;
  arrow.moveTo(5, 3.5);
  arrow.lineTo(20.5, 12);
  arrow.lineTo(5, 20.5);
  arrow.closeSubpath();
  p.drawPath(arrow);
}

void DrawHelp(QPainter& p) {
  p.setPen(QPen(QColor(0x12, 0x3f, 0x8c), 1.2));
  QRadialGradient fill(9, 8, 14);
  fill.setColorAt(0, QColor(0x7a, 0xb3, 0xf5));
  fill.setColorAt(1, QColor(0x1f, 0x5f, 0xc8));
  p.setBrush(fill);
  p.drawEllipse(QRectF(2, 2, 20, 20));
  QFont font(QStringLiteral("DejaVu Sans"));
  font.setBold(true);
  font.setPixelSize(15);
  p.setFont(font);
  p.setPen(Qt::white);
  p.drawText(QRectF(2, 2.5, 20, 20), Qt::AlignCenter, QStringLiteral("?"));
}

void DrawStop(QPainter& p) {
  p.setPen(QPen(QColor(0x8c, 0x16, 0x10), 1.2));
  QRadialGradient fill(9, 8, 14);
  fill.setColorAt(0, QColor(0xf2, 0x6d, 0x5b));
  fill.setColorAt(1, QColor(0xc6, 0x28, 0x1c));
  p.setBrush(fill);
  p.drawEllipse(QRectF(2, 2, 20, 20));
  p.setPen(Qt::NoPen);
  p.setBrush(Qt::white);
  p.drawRect(QRectF(8, 8, 8, 8));
}

// A page with a folded corner, the base of the three file icons.
void DrawPage(QPainter& p) {
  p.setPen(QPen(QColor(0x4a, 0x55, 0x68), 1.0));
  p.setBrush(QColor(0xfd, 0xfd, 0xfd));
  QPainterPath page;
  page.moveTo(4.5, 1.5);
  page.lineTo(14.5, 1.5);
  page.lineTo(19.5, 6.5);
  page.lineTo(19.5, 22.5);
  page.lineTo(4.5, 22.5);
  page.closeSubpath();
  p.drawPath(page);
  p.setBrush(QColor(0xd8, 0xdd, 0xe6));
  QPainterPath corner;
  corner.moveTo(14.5, 1.5);
  corner.lineTo(14.5, 6.5);
  corner.lineTo(19.5, 6.5);
  corner.closeSubpath();
  p.drawPath(corner);
}

void DrawReport(QPainter& p) {
  DrawPage(p);
  p.setPen(QPen(QColor(0x2e, 0x6d, 0xc4), 0.9));
  p.setBrush(QColor(0xdc, 0xe9, 0xfa));
  p.drawRect(QRectF(6.5, 9.5, 11, 10));
  for (double y : {12.8, 16.2}) p.drawLine(QPointF(6.5, y), QPointF(17.5, y));
  p.drawLine(QPointF(11, 9.5), QPointF(11, 19.5));
}

void DrawLog(QPainter& p) {
  DrawPage(p);
  p.setPen(QPen(QColor(0x6b, 0x75, 0x86), 1.1));
  for (double y : {9.0, 12.0, 15.0, 18.0}) p.drawLine(QPointF(7, y), QPointF(y < 10 ? 13 : 17, y));
}

void DrawPdf(QPainter& p) {
  DrawPage(p);
  p.setPen(Qt::NoPen);
  p.setBrush(QColor(0xc6, 0x28, 0x1c));
  p.drawRect(QRectF(2.5, 12, 15, 7));
  QFont font(QStringLiteral("DejaVu Sans"));
  font.setBold(true);
  font.setPixelSize(6);
  p.setFont(font);
  p.setPen(Qt::white);
  p.drawText(QRectF(2.5, 12, 15, 7), Qt::AlignCenter, QStringLiteral("PDF"));
}

void DrawLogo(QPainter& p) {
  // A report page with a folded corner, holding a small bar chart.
  p.setPen(QPen(QColor(0x2b, 0x3a, 0x55), 0.8));
  p.setBrush(QColor(0xfb, 0xfc, 0xff));
  QPainterPath page;
  page.moveTo(4, 1.5);
  page.lineTo(15.5, 1.5);
  page.lineTo(20, 6);
  page.lineTo(20, 22.5);
  page.lineTo(4, 22.5);
  page.closeSubpath();
  p.drawPath(page);
  p.setBrush(QColor(0xd5, 0xdc, 0xea));
  QPainterPath corner;
  corner.moveTo(15.5, 1.5);
  corner.lineTo(15.5, 6);
  corner.lineTo(20, 6);
  corner.closeSubpath();
  p.drawPath(corner);
  p.setPen(QPen(QColor(0x9a, 0xa6, 0xbd), 0.7));
  for (double y : {5.0, 7.0, 9.0}) p.drawLine(QPointF(6.5, y), QPointF(y < 6 ? 13 : 17, y));
  const QColor bars[] = {QColor(0x2e, 0x86, 0xde), QColor(0x27, 0xae, 0x60),
                         QColor(0xf3, 0x9c, 0x12), QColor(0xc0, 0x39, 0x2b)};
  const double heights[] = {5.0, 8.5, 6.5, 10.0};
  p.setPen(Qt::NoPen);
  for (int i = 0; i < 4; ++i) {
    p.setBrush(bars[i]);
    p.drawRect(QRectF(6.5 + i * 3.0, 20.5 - heights[i], 2.2, heights[i]));
  }
  p.setPen(QPen(QColor(0x2b, 0x3a, 0x55), 0.7));
  p.drawLine(QPointF(6, 20.5), QPointF(18.5, 20.5));
}

}  // namespace

QIcon OpenFileIcon() { return IconOf(DrawFolder); }
QIcon StartIcon() { return IconOf(DrawStart); }
QIcon HelpIcon() { return IconOf(DrawHelp); }
QIcon StopIcon() { return IconOf(DrawStop); }
QIcon ReportIcon() { return IconOf(DrawReport); }
QIcon LogIcon() { return IconOf(DrawLog); }
QIcon PdfIcon() { return IconOf(DrawPdf); }

QPixmap LogoPixmap(int size, qreal device_pixel_ratio) {
  return Render(DrawLogo, size, device_pixel_ratio);
}

QIcon LogoIcon() { return IconOf(DrawLogo); }

}  // namespace vantrelle
