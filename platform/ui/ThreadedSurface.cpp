#include "platform/ui/ThreadedSurface.h"

#include <xcb/xcb.h>

#include <QGuiApplication>
#include <QPainter>
#include <QWidget>

struct ThreadedSurface::Native {
  xcb_connection_t* Connection = nullptr;
  xcb_window_t Window = 0;
  xcb_gcontext_t Gc = 0;
  uint8_t Depth = 24;

  ~Native() {
    if (Connection) xcb_disconnect(Connection);
  }
};

ThreadedSurface::ThreadedSurface(QWidget* widget) {
  widget->setAttribute(Qt::WA_NativeWindow);
  if (QGuiApplication::platformName() != QLatin1String("xcb")) return;
  auto native = std::make_unique<Native>();
  native->Connection = xcb_connect(nullptr, nullptr);
  if (xcb_connection_has_error(native->Connection)) return;
  native->Window = static_cast<xcb_window_t>(widget->winId());
  xcb_get_geometry_reply_t* geometry =
      xcb_get_geometry_reply(native->Connection, xcb_get_geometry(native->Connection, native->Window), nullptr);
  if (!geometry) return;
  native->Depth = geometry->depth;
  free(geometry);
  native->Gc = xcb_generate_id(native->Connection);
  xcb_create_gc(native->Connection, native->Gc, native->Window, 0, nullptr);
  FNative = std::move(native);
}

ThreadedSurface::~ThreadedSurface() = default;

void ThreadedSurface::DrawFrame(const QSize& size, const std::function<void(QPainter&)>& draw) {
  const std::lock_guard lock(FMutex);
  if (FFrame.size() != size) FFrame = QImage(size, QImage::Format_RGB32);
  {
    QPainter painter(&FFrame);
    draw(painter);
  }
  if (!FNative || FFrame.isNull()) return;
  xcb_put_image(FNative->Connection, XCB_IMAGE_FORMAT_Z_PIXMAP, FNative->Window, FNative->Gc,
                static_cast<uint16_t>(FFrame.width()), static_cast<uint16_t>(FFrame.height()), 0, 0, 0, FNative->Depth,
                static_cast<uint32_t>(FFrame.sizeInBytes()), FFrame.constBits());
  xcb_flush(FNative->Connection);
}

void ThreadedSurface::PaintLastFrame(QPainter& painter) {
  const std::lock_guard lock(FMutex);
  if (!FFrame.isNull()) painter.drawImage(0, 0, FFrame);
}
