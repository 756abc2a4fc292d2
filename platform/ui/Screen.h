// The screen the program's windows appear on: its full rectangle, the part that the
// taskbar leaves free, its pixels per inch and the mouse pointer. Tests install a fake.
#pragma once

#include <QPoint>
#include <QRect>

#include "platform/base/Service.h"

class Screen : public Service<Screen> {
 public:
  virtual ~Screen() = default;
  virtual QRect Geometry() const = 0;
  virtual QRect AvailableGeometry() const = 0;  // without the taskbar
  virtual int PixelsPerInch() const = 0;
  // False when the pointer's position cannot be read.
  virtual bool CursorPosition(QPoint& position) const = 0;

  // A length designed at 96 pixels per inch, at this screen's resolution (halves to even).
  int Scale(int length) const;

  // The toolkit's primary screen.
  static Screen& Default();
};

class SystemScreen final : public Screen {
 public:
  QRect Geometry() const override;
  QRect AvailableGeometry() const override;
  int PixelsPerInch() const override;
  bool CursorPosition(QPoint& position) const override;
};

// Rounds to the nearest integer, halves to the even neighbour.
int RoundHalfEven(double value);
