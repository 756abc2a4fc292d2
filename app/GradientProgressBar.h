// A flat progress bar drawn as a gradient inside a one-pixel border, with a fractional
// position and no text. It asks to be repainted only when the filled width, in whole
// pixels, changes: a bar n pixels wide has at most n + 1 pictures, however often the
// position moves.
#pragma once

#include <QColor>
#include <QWidget>

class GradientProgressBar : public QWidget {
  Q_OBJECT

 public:
  explicit GradientProgressBar(QWidget* parent = nullptr);

  double Position() const { return FPosition; }
  void SetPosition(double position);
  double Max() const { return FMax; }
  void SetMax(double max);

 protected:
  void paintEvent(QPaintEvent* event) override;

 private:
  int filledWidth() const;  // pixels of the inside that the position fills

  double FPosition = 0;
  double FMax = 100;
  QColor FBeginColor{27, 132, 0};
  QColor FEndColor{16, 79, 0};
  QColor FBorderColor{0, 128, 64};
};
