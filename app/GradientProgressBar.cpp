#include "app/GradientProgressBar.h"

#include <QLinearGradient>
#include <QPainter>
#include <algorithm>

GradientProgressBar::GradientProgressBar(QWidget* parent) : QWidget(parent) {
  setAttribute(Qt::WA_OpaquePaintEvent, false);
}

void GradientProgressBar::SetPosition(double position) {
  const int shown = filledWidth();
  FPosition = std::clamp(position, 0.0, FMax);
  if (filledWidth() != shown) update();
}

void GradientProgressBar::SetMax(double max) {
  const int shown = filledWidth();
  FMax = max > 0 ? max : 100;
  FPosition = std::clamp(FPosition, 0.0, FMax);
  if (filledWidth() != shown) update();
}

int GradientProgressBar::filledWidth() const {
  const int inside = std::max(width() - 2, 0);
  return static_cast<int>(inside * (FPosition / FMax));
}

void GradientProgressBar::paintEvent(QPaintEvent*) {
  QPainter painter(this);
  const QRect inside = rect().adjusted(1, 1, -1, -1);
  const int filled = filledWidth();
  if (filled > 0) {
    QLinearGradient gradient(inside.topLeft(), inside.bottomLeft());
    gradient.setColorAt(0, FBeginColor);
    gradient.setColorAt(1, FEndColor);
    painter.fillRect(QRect(inside.left(), inside.top(), filled, inside.height()), gradient);
  }
  painter.setPen(FBorderColor);
  painter.drawRect(rect().adjusted(0, 0, -1, -1));
}
