// A widget's native window that a thread other than the user-interface thread may draw
// on: the frame is composed in an image under a lock, at the window's device pixel ratio,
// then put straight into the window over a display connection of the surface's own, so it
// reaches the screen while the user-interface thread is blocked. The widget's own paint
// takes the same lock and shows the last frame, so the two never touch the surface at once.
// The same connection answers whether the widget's window has the input focus, which the
// user-interface thread cannot learn while it is blocked.
// Where there is no X display (the offscreen platform) frames stay in the image and the
// window counts as having the focus.
#pragma once

#include <QImage>
#include <QSize>
#include <functional>
#include <memory>
#include <mutex>

class QWidget;
class QPainter;

class ThreadedSurface {
 public:
  // `widget` gets a native window of its own, and so does its top-level window; made on
  // the user-interface thread. The top-level's native window must not be made again
  // afterwards (no change of window flags or parent).
  explicit ThreadedSurface(QWidget* widget);
  ~ThreadedSurface();
  ThreadedSurface(const ThreadedSurface&) = delete;
  ThreadedSurface& operator=(const ThreadedSurface&) = delete;

  // User-interface thread: the widget's size (logical pixels) and device pixel ratio as
  // they are now; frames are composed to match from the next one on.
  void SetGeometry(const QSize& size, qreal devicePixelRatio);

  // Any thread: composes a frame with `draw`, which paints in logical pixels over the
  // whole widget (it gets the logical size), and puts it on the screen. Nothing is drawn
  // while the size is empty.
  void DrawFrame(const std::function<void(QPainter&, const QSize&)>& draw);

  // Any thread: whether the display's input focus is in the widget's top-level window
  // (the window itself or a window inside it, or, with the focus following the pointer,
  // the window under the pointer). False when the X display does not answer.
  bool WindowHasInputFocus();

  // User-interface thread, from the widget's paint: the last frame (nothing before the first).
  void PaintLastFrame(QPainter& painter);

 private:
  struct Native;
  std::mutex FMutex;  // one frame, one paint or one question at a time
  QImage FFrame;
  QSize FSize;
  qreal FDevicePixelRatio = 1.0;
  bool FOnX11 = false;
  std::unique_ptr<Native> FNative;
};
