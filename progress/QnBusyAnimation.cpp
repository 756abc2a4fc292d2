// The busy animation: six dots gliding across the strip, drawn by the ticker thread.
#include <QPainter>
#include <chrono>
#include <cmath>

#include "platform/ui/Screen.h"
#include "progress/QnProgressbarForm.h"

namespace {

constexpr int kPhases = 180;
constexpr int kRadius = 4;
constexpr double kTrail[6] = {0.085, 0.065, 0.045, 0.025, 0.013, 0.0};
const QColor kBand(0xD1, 0xF4, 0xCC);

}  // namespace

void TMyWorkerThread::Start() {
  FThread = std::thread([this] {
    while (!FTerminated) {
      if (OnRepaint) OnRepaint(nullptr);
      std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
  });
}

void TMyWorkerThread::Terminate() {
  FTerminated = true;
  if (FThread.joinable()) FThread.join();
}

std::vector<int> BusyDotCentres(qint32 phase, int width) {
  const double t = phase / 720.0 * 2 * M_PI;
  std::vector<int> centres;
  for (const double trail : kTrail) {
    const double a = t - trail;
    const double swing = std::sin(a) * std::cos(a) * width;
    centres.push_back(phase <= 90 ? RoundHalfEven(swing) : RoundHalfEven(width - swing));
  }
  return centres;
}

void TFormQnProgressBar::PaintBusyAnimation(QObject*) {
  if (!FShownForFrames) return;
  // Asked of the display: the user-interface thread, blocked, learns of no focus change.
  if (!FStripSurface->WindowHasInputFocus()) return;
  FStripSurface->DrawFrame([&](QPainter& painter, const QSize& strip) {
    painter.fillRect(QRect(QPoint(0, 0), strip), kBand);
    if (FBarShown) return;
    qint32 phase = MyPosition + 1;
    if (phase == kPhases) phase = 0;
    MyPosition = phase;
    const int y = RoundHalfEven(strip.height() / 2.0) - 4;
    const std::vector<int> centres = BusyDotCentres(phase, FWindowWidth);
    const TShapeColours* shapes[6] = {&d1, &d2, &d3, &d4, &d5, &d6};
    painter.setRenderHint(QPainter::Antialiasing);
    for (int i = 0; i < 6; ++i) {
      painter.setPen(shapes[i]->Pen);
      painter.setBrush(shapes[i]->Brush);
      painter.drawEllipse(QRect(centres[i] - kRadius, y - kRadius, 2 * kRadius, 2 * kRadius));
    }
  });
}
