// Makes the application icon of the hicolor theme from the logo: one square PNG per size,
// the logo scaled to fit and centred on a transparent canvas.
//   quarnell-icon-sizes <logo.png> <output folder> <icon name> <size>...
// writes <output folder>/<size>x<size>/apps/<icon name>.png; exit status 1 on any failure.
#include <QDir>
#include <QImage>
#include <QPainter>
#include <cstdio>

namespace {

QImage squareIcon(const QImage& logo, int size) {
  QImage icon(size, size, QImage::Format_ARGB32);
  icon.fill(Qt::transparent);
  const QImage scaled = logo.scaled(size, size, Qt::KeepAspectRatio, Qt::SmoothTransformation);
  QPainter painter(&icon);
  painter.drawImage((size - scaled.width()) / 2, (size - scaled.height()) / 2, scaled);
  return icon;
}

}  // namespace

int main(int argc, char* argv[]) {
  if (argc < 5) {
    std::fprintf(stderr, "usage: %s <logo.png> <output folder> <icon name> <size>...\n", argv[0]);
    return 1;
  }
  const QImage logo(QString::fromLocal8Bit(argv[1]));
  if (logo.isNull()) {
    std::fprintf(stderr, "cannot read the logo %s\n", argv[1]);
    return 1;
  }
  const QString output = QString::fromLocal8Bit(argv[2]);
  const QString name = QString::fromLocal8Bit(argv[3]);
  for (int i = 4; i < argc; ++i) {
    bool isNumber = false;
    const int size = QString::fromLocal8Bit(argv[i]).toInt(&isNumber);
    if (!isNumber || size < 16 || size > 1024) {
      std::fprintf(stderr, "not an icon size: %s\n", argv[i]);
      return 1;
    }
    const QString folder = QStringLiteral("%1/%2x%2/apps").arg(output).arg(size);
    const QString file = folder + QLatin1Char('/') + name + QStringLiteral(".png");
    if (!QDir().mkpath(folder) || !squareIcon(logo, size).save(file, "PNG")) {
      std::fprintf(stderr, "cannot write %s\n", qPrintable(file));
      return 1;
    }
  }
  return 0;
}
