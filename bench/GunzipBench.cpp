// GunzipStream on about 100 MB of mixed data beside `gzip -dc` on the same file, same run.
//   gunzip_bench [MiB]     (default: 100)
#include <QBuffer>
#include <QElapsedTimer>
#include <QFile>
#include <QTemporaryDir>
#include <cstdio>
#include <string>

#include "web/gunzip.h"

int main(int argc, char* argv[]) {
  const qint64 mib = argc > 1 ? std::stoll(argv[1]) : 100;
  QTemporaryDir work;
  const QString plain = work.path() + "/data", packed = plain + ".gz";
  {
    QFile out(plain);
    out.open(QIODevice::WriteOnly);
    QByteArray block(1 << 20, Qt::Uninitialized);
    quint32 state = 7;
    for (qint64 i = 0; i < mib; ++i) {
      for (qsizetype j = 0; j < block.size(); ++j) {
        state = state * 1103515245u + 12345u;
        block[j] = i % 2 ? char(state >> 16) : "quarnell ombrevia "[(state >> 16) % 18];
      }
      out.write(block);
    }
  }
  std::system(("gzip -n -k '" + plain.toStdString() + "'").c_str());

  QElapsedTimer clock;
  clock.start();
  std::system(("gzip -dc '" + packed.toStdString() + "' > /dev/null").c_str());
  const double baseline = clock.nsecsElapsed() / 1e9;

  // The component decodes a reply already in memory: so does the measurement.
  QFile in(packed);
  in.open(QIODevice::ReadOnly);
  QBuffer reply;
  reply.setData(in.readAll());
  reply.open(QIODevice::ReadOnly);
  clock.restart();
  const std::unique_ptr<QBuffer> decoded = GunzipStream(reply);
  const double ours = clock.nsecsElapsed() / 1e9;
  std::printf("GunzipStream %lld MiB: %.2f s, gzip -dc %.2f s, ratio %.2f, decoded %lld bytes (expected %lld)\n", mib,
              ours, baseline, ours / baseline, static_cast<long long>(decoded->size()), mib << 20);
  return 0;
}
