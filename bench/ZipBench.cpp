// Zip benchmark beside Info-ZIP in the same run: writing an archive of about 200 MB of
// mixed files (SaveFiles against `zip -q -6`) and extracting it (UnzipFile against
// `unzip -o -q`). Each case runs in a child process so that its peak memory is its own;
// a second archive with one large entry shows that memory does not follow entry sizes.
//
//   zip_bench [total MiB]     (default: 200)
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QTemporaryDir>
#include <cstdio>
#include <functional>
#include <string>

#include "fileutils/_QnFileUtils.h"

namespace {

struct Result {
  double seconds = 0;
  long peakKiB = 0;
  int status = 0;
};

Result inChild(const std::function<int()>& work) {
  QElapsedTimer clock;
  clock.start();
  const pid_t child = fork();
  if (child == 0) _exit(work());
  int status = 0;
  rusage usage{};
  wait4(child, &status, 0, &usage);
  return {clock.nsecsElapsed() / 1e9, usage.ru_maxrss, WIFEXITED(status) ? WEXITSTATUS(status) : -1};
}

int shell(const std::string& command) { return std::system(command.c_str()) == 0 ? 0 : 1; }

// Half text-like (compresses well), half noise (does not), in sizes from 64 KiB to 16 MiB.
QStringList makeFiles(const QString& folder, qint64 totalBytes) {
  QDir().mkpath(folder);
  QStringList files;
  quint32 state = 12345;
  qint64 made = 0;
  for (int i = 0; made < totalBytes; ++i) {
    const qint64 size = std::min<qint64>(totalBytes - made, (64 << 10) << (i % 9));
    QByteArray bytes(size, Qt::Uninitialized);
    for (qint64 j = 0; j < size; ++j) {
      state = state * 1103515245u + 12345u;
      bytes[j] = i % 2 ? static_cast<char>(state >> 16) : "lorem ipsum dolor sit amet, "[(state >> 16) % 28];
    }
    const QString path = QString("%1/file%2.%3").arg(folder).arg(i).arg(i % 2 ? "bin" : "txt");
    QFile file(path);
    file.open(QIODevice::WriteOnly);
    file.write(bytes);
    files << path;
    made += size;
  }
  return files;
}

void print(const char* what, const Result& ours, const Result& baseline) {
  std::printf("%-34s ours %6.2f s  Info-ZIP %6.2f s  ratio %.2f  peak ours %6.1f MiB  Info-ZIP %6.1f MiB%s\n", what,
              ours.seconds, baseline.seconds, ours.seconds / baseline.seconds, ours.peakKiB / 1024.0,
              baseline.peakKiB / 1024.0, ours.status || baseline.status ? "  (FAILED)" : "");
}

}  // namespace

int main(int argc, char* argv[]) {
  const qint64 totalMiB = argc > 1 ? std::stoll(argv[1]) : 200;
  QTemporaryDir work;
  const QString root = work.path();
  const QStringList files = makeFiles(root + "/mixed", totalMiB << 20);
  const std::string r = root.toStdString();

  const Result zipBaseline =
      inChild([&] { return shell("cd '" + r + "/mixed' && zip -q -6 '" + r + "/infozip.zip' *"); });
  const Result zipOurs = inChild([&] {
    TQnZipManager manager;
    return manager.SaveFiles(files, {}, root + "/ours.zip", false) ? 0 : 1;
  });
  print("write (SaveFiles vs zip -q -6)", zipOurs, zipBaseline);

  const Result unzipBaseline =
      inChild([&] { return shell("unzip -o -q '" + r + "/infozip.zip' -d '" + r + "/out-infozip'"); });
  const Result unzipOurs = inChild([&] { return UnzipFile(root + "/infozip.zip", root + "/out-ours", false) ? 0 : 1; });
  print("extract (UnzipFile vs unzip -o -q)", unzipOurs, unzipBaseline);

  // The same amount in one entry: peak memory must not follow the entry's size.
  makeFiles(root + "/single", 0);
  shell("cat '" + r + "'/mixed/* > '" + r + "/single/one.bin'");
  const Result bigWrite = inChild([&] {
    TQnZipManager manager;
    return manager.SaveFiles({root + "/single/one.bin"}, {}, root + "/one.zip", false) ? 0 : 1;
  });
  const Result bigExtract = inChild([&] { return UnzipFile(root + "/one.zip", root + "/out-one", false) ? 0 : 1; });
  std::printf("one %lld MiB entry: write peak %.1f MiB, extract peak %.1f MiB (mixed files: %.1f and %.1f)\n", totalMiB,
              bigWrite.peakKiB / 1024.0, bigExtract.peakKiB / 1024.0, zipOurs.peakKiB / 1024.0,
              unzipOurs.peakKiB / 1024.0);
  return 0;
}
