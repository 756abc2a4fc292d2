// A widget's native window that a thread other than the user-interface thread may draw
// on: the frame is composed in an image under a lock, then put straight into the window
// over a display connection of the surface's own, so it reaches the screen while the
// user-interface thread is blocked. The widget's own paint takes the same lock and shows
// the last frame, so the two never touch the surface at once.
// Where there is no X display (the offscreen platform) frames stay in the image.
#pragma once

#include <QImage>
#include <functional>
#include <memory>
#include <mutex>

class QWidget;
class QPainter;

class ThreadedSurface {
 public:
  // `widget` gets a native window of its own; made on the user-interface thread.
  explicit ThreadedSurface(QWidget* widget);
  ~ThreadedSurface();
  ThreadedSurface(const ThreadedSurface&) = delete;
  ThreadedSurface& operator=(const ThreadedSurface&) = delete;

  // Any thread: draws a frame of `size` with `draw` and puts it on the screen.
  void DrawFrame(const QSize& size, const std::function<void(QPainter&)>& draw);
  // User-interface thread, from the widget's paint: the last frame (nothing before the first).
  void PaintLastFrame(QPainter& painter);

 private:
  struct Native;
  std::mutex FMutex;  // one frame or one paint at a time
  QImage FFrame;
  std::unique_ptr<Native> FNative;
};
