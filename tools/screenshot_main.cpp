// quarnell-screenshot WINDOW-ID FILE.png: saves one X11 window of the current display.
#include <QGuiApplication>
#include <QPixmap>
#include <QScreen>
#include <cstdio>

int main(int argc, char* argv[]) {
  qputenv("QT_QPA_PLATFORM", "xcb");
  QGuiApplication application(argc, argv);
  if (argc != 3) {
    std::fprintf(stderr, "usage: %s WINDOW-ID FILE.png\n", argv[0]);
    return 2;
  }
  const WId window = QString::fromLocal8Bit(argv[1]).toULongLong(nullptr, 0);
  const QPixmap shot = QGuiApplication::primaryScreen()->grabWindow(window);
  if (shot.isNull() || !shot.save(QString::fromLocal8Bit(argv[2]), "PNG")) {
    std::fprintf(stderr, "could not save window %s to %s\n", argv[1], argv[2]);
    return 1;
  }
  return 0;
}
