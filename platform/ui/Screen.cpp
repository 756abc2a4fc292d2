#include "platform/ui/Screen.h"

#include <QCursor>
#include <QGuiApplication>
#include <QScreen>
#include <cmath>

int RoundHalfEven(double value) { return static_cast<int>(std::nearbyint(value)); }

int Screen::Scale(int length) const { return RoundHalfEven(length * PixelsPerInch() / 96.0); }

Screen& Screen::Default() {
  static SystemScreen system;
  return system;
}

QRect SystemScreen::Geometry() const {
  const QScreen* screen = QGuiApplication::primaryScreen();
  return screen ? screen->geometry() : QRect(0, 0, 1024, 768);
}

QRect SystemScreen::AvailableGeometry() const {
  const QScreen* screen = QGuiApplication::primaryScreen();
  return screen ? screen->availableGeometry() : Geometry();
}

// Qt scales the program's lengths itself, so the program works at the designed 96.
int SystemScreen::PixelsPerInch() const { return 96; }

bool SystemScreen::CursorPosition(QPoint& position) const {
  position = QCursor::pos();
  return true;
}
