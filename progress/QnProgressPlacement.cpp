// Placing windows and labels by anchor points, kept on the screen above the taskbar.
#include "platform/ui/Screen.h"
#include "progress/QnProgressbarForm.h"

namespace {

// The left-top of a W x H rectangle whose `anchor` point is at (x, y).
QPoint leftTopFor(TPlaceAnchor anchor, int x, int y, int w, int h) {
  switch (anchor) {
    case paTopLeft: return {x, y};
    case paBottomLeft: return {x, y - h};
    case paMiddleLeft: return {x, y - RoundHalfEven(h / 2.0)};
    case paCenter: return {x - RoundHalfEven(w / 2.0), y - RoundHalfEven(h / 2.0)};
    case paTopCenter: return {x - RoundHalfEven(w / 2.0), y};
    case paBottomRight: return {x - w, y - h};
    case paTopRight: return {x - w, y};
  }
  return {x, y};
}

// The `anchor` point of a rectangle.
QPoint anchorPoint(TPlaceAnchor anchor, const QRect& r) {
  switch (anchor) {
    case paTopLeft: return r.topLeft();
    case paBottomLeft: return {r.left(), r.top() + r.height()};
    case paMiddleLeft: return {r.left(), r.top() + RoundHalfEven(r.height() / 2.0)};
    case paCenter: return {r.left() + RoundHalfEven(r.width() / 2.0), r.top() + RoundHalfEven(r.height() / 2.0)};
    case paTopCenter: return {r.left() + RoundHalfEven(r.width() / 2.0), r.top()};
    case paBottomRight: return {r.left() + r.width(), r.top() + r.height()};
    case paTopRight: return {r.left() + r.width(), r.top()};
  }
  return r.topLeft();
}

}  // namespace

bool GetVisibleWindowRect(const QWidget* window, QRect& rect) {
  if (!window) return false;
  rect = window->frameGeometry();
  return true;
}

qint32 TaskbarHeight() {
  // The taskbar is what the available area leaves out of the screen.
  const QRect screen = Screen::Current().Geometry(), free = Screen::Current().AvailableGeometry();
  if (free == screen) return 0;                               // none, or hidden away
  if (free.width() < screen.width()) return screen.height();  // along the left or right edge
  return screen.height() - free.height();
}

void PlaceWindowAt(QWidget* window, int X, int Y, TPlaceAnchor anchor) {
  QRect visible;
  GetVisibleWindowRect(window, visible);
  const int w = visible.width(), h = visible.height();
  QPoint leftTop = leftTopFor(anchor, X, Y, w, h);
  const QRect screen = Screen::Current().Geometry();
  if (leftTop.x() + w > screen.width()) leftTop.setX(screen.width() - w);
  if (leftTop.y() + h > screen.height() - TaskbarHeight()) leftTop.setY(screen.height() - TaskbarHeight() - h);
  leftTop.setX(std::max(leftTop.x(), 0));
  leftTop.setY(std::max(leftTop.y(), 0));
  GetVisibleWindowRect(window, visible);
  window->move(window->pos() + (leftTop - visible.topLeft()));
}

void PlaceWindow(QWidget* window, const QWidget* control, TPlaceAnchor anchor, int DX, int DY) {
  QRect reference(QPoint(0, 0), Screen::Current().Geometry().size());
  if (control) {
    const QPoint origin =
        control->parentWidget() ? control->parentWidget()->mapToGlobal(control->pos()) : control->pos();
    reference = QRect(origin, control->size());
  }
  const QPoint point =
      anchorPoint(anchor, reference) + QPoint(Screen::Current().Scale(DX), Screen::Current().Scale(DY));
  PlaceWindowAt(window, point.x(), point.y(), anchor);
}

void PlaceWindow(QWidget* window, TPlaceAnchor anchor) { PlaceWindow(window, nullptr, anchor); }

void PlaceLabel(QWidget* label, const QWidget* parent, TPlaceAnchor anchor, int DX, int DY) {
  if (!parent) parent = label->parentWidget();
  const QSize parentSize = parent ? parent->size() : QSize(0, 0);
  const QPoint inside = anchorPoint(anchor, QRect(QPoint(0, 0), parentSize)) - (anchorPoint(anchor, label->rect()));
  label->move(inside + QPoint(DX, DY));
}

void PlaceLabel(QWidget* label, TPlaceAnchor anchor, int DX, int DY) { PlaceLabel(label, nullptr, anchor, DX, DY); }

bool IsMouseOverControl(const QWidget* control) {
  QPoint pointer;
  if (!control || !Screen::Current().CursorPosition(pointer)) return false;
  return QRect(control->mapToGlobal(QPoint(0, 0)), control->size()).contains(pointer);
}
