#include "app/CopyAnimation.h"

#include <QPainter>
#include <QPainterPath>
#include <cmath>

namespace {

void drawFolder(QPainter& p, const QRectF& r) {
  p.setPen(QPen(QColor(150, 110, 20), 1));
  p.setBrush(QColor(240, 200, 80));
  QPainterPath tab;
  tab.addRoundedRect(QRectF(r.left(), r.top() - 5, r.width() * 0.4, 8), 2, 2);
  p.drawPath(tab);
  p.setBrush(QColor(250, 215, 100));
  p.drawRoundedRect(r, 3, 3);
}

void drawPage(QPainter& p, const QPointF& centre, qreal angle) {
  p.save();
  p.translate(centre);
  p.rotate(angle);
  p.setPen(QPen(QColor(90, 90, 90), 1));
  p.setBrush(Qt::white);
  p.drawRect(QRectF(-7, -9, 14, 18));
  p.setPen(QPen(QColor(120, 140, 190), 1));
  for (int i = 0; i < 4; ++i) p.drawLine(QPointF(-4, -5 + 3.5 * i), QPointF(4, -5 + 3.5 * i));
  p.restore();
}

}  // namespace

CopyAnimation::CopyAnimation(QWidget* parent) : QWidget(parent) {
  timer_.setInterval(60);
  connect(&timer_, &QTimer::timeout, this, [this] {
    frame_ = (frame_ + 1) % kFrames;
    update();
  });
}

void CopyAnimation::setActive(bool active) {
  if (active == timer_.isActive()) return;
  if (active)
    timer_.start();
  else
    timer_.stop();
  frame_ = 0;
  update();
}

void CopyAnimation::paintEvent(QPaintEvent*) {
  QPainter p(this);
  p.setRenderHint(QPainter::Antialiasing);
  const qreal w = width(), h = height();
  const QRectF from(8, h * 0.45, 44, h * 0.45);
  const QRectF to(w - 52, h * 0.45, 44, h * 0.45);
  drawFolder(p, from);
  drawFolder(p, to);
  if (!timer_.isActive()) return;
  // Two pages in flight, half a loop apart, along an arc between the folders.
  for (int k = 0; k < 2; ++k) {
    const qreal t = std::fmod(frame_ / qreal(kFrames) + k * 0.5, 1.0);
    const qreal x = from.center().x() + (to.center().x() - from.center().x()) * t;
    const qreal y = from.top() - std::sin(t * M_PI) * (h * 0.35);
    drawPage(p, QPointF(x, y), -20 + 40 * t);
  }
}
