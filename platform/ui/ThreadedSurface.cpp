#include "platform/ui/ThreadedSurface.h"

#include <xcb/xcb.h>

#include <QGuiApplication>
#include <QPainter>
#include <QWidget>
#include <algorithm>
#include <cstdlib>

namespace {

constexpr int kMaxWindowDepth = 64;  // more nesting than any real window tree
constexpr uint32_t kPutImageHeader = 24;

// The parent of `window`; none when the display does not answer.
xcb_window_t parentOf(xcb_connection_t* connection, xcb_window_t window) {
  xcb_query_tree_reply_t* tree = xcb_query_tree_reply(connection, xcb_query_tree(connection, window), nullptr);
  if (!tree) return XCB_NONE;
  const xcb_window_t parent = tree->parent;
  free(tree);
  return parent;
}

// Whether `inner` is `outer` or lies inside it (the root never counts as `outer`).
bool isInside(xcb_connection_t* connection, xcb_window_t root, xcb_window_t inner, xcb_window_t outer) {
  xcb_window_t window = inner;
  for (int depth = 0; depth < kMaxWindowDepth && window != XCB_NONE && window != root; ++depth) {
    if (window == outer) return true;
    window = parentOf(connection, window);
  }
  return false;
}

}  // namespace

struct ThreadedSurface::Native {
  xcb_connection_t* Connection = nullptr;
  xcb_window_t Window = XCB_NONE;
  xcb_window_t TopLevel = XCB_NONE;
  xcb_window_t Root = XCB_NONE;
  xcb_gcontext_t Gc = 0;
  uint8_t Depth = 24;
  uint32_t MaxRequestBytes = 0;

  ~Native() {
    if (Connection) xcb_disconnect(Connection);
  }

  // The display's focus window, the one under the pointer when the focus follows it.
  xcb_window_t focusWindow() const {
    xcb_get_input_focus_reply_t* focus =
        xcb_get_input_focus_reply(Connection, xcb_get_input_focus(Connection), nullptr);
    if (!focus) return XCB_NONE;
    xcb_window_t window = focus->focus;
    free(focus);
    if (window != XCB_INPUT_FOCUS_POINTER_ROOT) return window;
    xcb_query_pointer_reply_t* pointer =
        xcb_query_pointer_reply(Connection, xcb_query_pointer(Connection, Root), nullptr);
    if (!pointer) return XCB_NONE;
    window = pointer->child;
    free(pointer);
    return window;
  }

  // Puts `image` at the window's origin, in as many requests as the display's limit asks.
  void put(const QImage& image) const {
    const auto bytesPerLine = static_cast<uint32_t>(image.bytesPerLine());
    const uint32_t room = MaxRequestBytes > kPutImageHeader ? MaxRequestBytes - kPutImageHeader : 0;
    const int rowsPerRequest = std::clamp<uint32_t>(room / bytesPerLine, 1, static_cast<uint32_t>(image.height()));
    for (int top = 0; top < image.height(); top += rowsPerRequest) {
      const int rows = std::min(rowsPerRequest, image.height() - top);
      xcb_put_image(Connection, XCB_IMAGE_FORMAT_Z_PIXMAP, Window, Gc, static_cast<uint16_t>(image.width()),
                    static_cast<uint16_t>(rows), 0, static_cast<int16_t>(top), 0, Depth, bytesPerLine * rows,
                    image.constScanLine(top));
    }
    xcb_flush(Connection);
  }
};

ThreadedSurface::ThreadedSurface(QWidget* widget) {
  widget->setAttribute(Qt::WA_NativeWindow);
  FOnX11 = QGuiApplication::platformName() == QLatin1String("xcb");
  if (!FOnX11) return;
  auto native = std::make_unique<Native>();
  native->Connection = xcb_connect(nullptr, nullptr);
  if (xcb_connection_has_error(native->Connection)) return;
  native->Window = static_cast<xcb_window_t>(widget->winId());
  native->TopLevel = static_cast<xcb_window_t>(widget->window()->winId());
  xcb_get_geometry_reply_t* geometry =
      xcb_get_geometry_reply(native->Connection, xcb_get_geometry(native->Connection, native->Window), nullptr);
  if (!geometry) return;
  native->Depth = geometry->depth;
  native->Root = geometry->root;
  free(geometry);
  // In 4-byte units; asking for it also turns on big requests where the display has them.
  native->MaxRequestBytes = xcb_get_maximum_request_length(native->Connection) * 4;
  native->Gc = xcb_generate_id(native->Connection);
  xcb_create_gc(native->Connection, native->Gc, native->Window, 0, nullptr);
  FNative = std::move(native);
}

ThreadedSurface::~ThreadedSurface() = default;

void ThreadedSurface::SetGeometry(const QSize& size, qreal devicePixelRatio) {
  const std::lock_guard lock(FMutex);
  FSize = size;
  FDevicePixelRatio = devicePixelRatio > 0 ? devicePixelRatio : 1.0;
}

void ThreadedSurface::DrawFrame(const std::function<void(QPainter&, const QSize&)>& draw) {
  const std::lock_guard lock(FMutex);
  if (FSize.isEmpty()) return;
  const QSize pixels = (QSizeF(FSize) * FDevicePixelRatio).toSize();
  if (FFrame.size() != pixels) FFrame = QImage(pixels, QImage::Format_RGB32);
  FFrame.setDevicePixelRatio(FDevicePixelRatio);
  {
    QPainter painter(&FFrame);
    draw(painter, FSize);
  }
  if (FNative && !FFrame.isNull()) FNative->put(FFrame);
}

bool ThreadedSurface::WindowHasInputFocus() {
  if (!FOnX11) return true;
  const std::lock_guard lock(FMutex);
  if (!FNative || xcb_connection_has_error(FNative->Connection)) return false;
  const xcb_window_t focus = FNative->focusWindow();
  if (focus == XCB_NONE) return false;
  // The focus inside the window, or on a frame around it (as some window managers do).
  return isInside(FNative->Connection, FNative->Root, focus, FNative->TopLevel) ||
         isInside(FNative->Connection, FNative->Root, FNative->TopLevel, focus);
}

void ThreadedSurface::PaintLastFrame(QPainter& painter) {
  const std::lock_guard lock(FMutex);
  if (!FFrame.isNull()) painter.drawImage(0, 0, FFrame);
}
