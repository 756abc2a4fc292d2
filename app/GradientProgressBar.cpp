#include "app/GradientProgressBar.h"

#include <QLinearGradient>
#include <QPainter>
#include <algorithm>

GradientProgressBar::GradientProgressBar(QWidget* parent) : QWidget(parent) {
  setAttribute(Qt::WA_OpaquePaintEvent, false);
}

void GradientProgressBar::SetPosition(double position) {
  position = std::clamp(position, 0.0, FMax);
  if (position == FPosition) return;
  FPosition = position;
  update();
}

void GradientProgressBar::SetMax(double max) {
  FMax = max > 0 ? max : 100;
  SetPosition(FPosition);
  update();
}

void GradientProgressBar::paintEvent(QPaintEvent*) {
  QPainter painter(this);
  const QRect inside = rect().adjusted(1, 1, -1, -1);
  const int filled = static_cast<int>(inside.width() * (FPosition / FMax));
  if (filled > 0) {
    QLinearGradient gradient(inside.topLeft(), inside.bottomLeft());
    gradient.setColorAt(0, FBeginColor);
    gradient.setColorAt(1, FEndColor);
    painter.fillRect(QRect(inside.left(), inside.top(), filled, inside.height()), gradient);
  }
  painter.setPen(FBorderColor);
  painter.drawRect(rect().adjusted(0, 0, -1, -1));
}
