#include "driver/gui/ax_ctrl.h"

#include <QPainter>

namespace varn::gui {

// The toolbox picture: a small receipt printer with a paper strip.
QPixmap DriverPicture() {
  QPixmap pixmap(24, 24);
  pixmap.fill(Qt::transparent);
  QPainter p(&pixmap);
  p.setPen(Qt::black);
  p.setBrush(Qt::white);
  p.drawRect(7, 1, 10, 10);  // paper
  for (int y = 3; y <= 8; y += 2) p.drawLine(9, y, 15, y);
  p.setBrush(QColor(90, 90, 110));
  p.drawRect(2, 10, 20, 10);  // body
  p.setBrush(QColor(60, 200, 90));
  p.drawRect(17, 15, 2, 2);  // lamp
  return pixmap;
}

TAxCtrl::TAxCtrl(QWidget* parent) : QWidget(parent), m_bitmap(DriverPicture()) {
  setObjectName("TAxCtrl");
  setFixedSize(40, 40);
  setAttribute(Qt::WA_OpaquePaintEvent);
  setAttribute(Qt::WA_TransparentForMouseEvents);
}

void TAxCtrl::paintEvent(QPaintEvent*) {
  QPainter p(this);
  const QRect r = rect();
  p.fillRect(r, palette().color(QPalette::Button));
  p.setPen(palette().color(QPalette::Light));
  p.drawLine(r.topLeft(), r.topRight());
  p.drawLine(r.topLeft(), r.bottomLeft());
  p.setPen(palette().color(QPalette::Dark));
  p.drawLine(r.bottomLeft(), r.bottomRight());
  p.drawLine(r.topRight(), r.bottomRight());
  if (!m_bitmap.isNull())
    p.drawPixmap((width() - m_bitmap.width()) / 2, (height() - m_bitmap.height()) / 2, m_bitmap);
}

}  // namespace varn::gui
