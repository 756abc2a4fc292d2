#include "fuzz/FuzzSupport.h"

#include <sys/resource.h>

#include <QDir>
#include <QFile>
#include <csignal>
#include <cstdio>
#include <cstdlib>

void FuzzFailure(const char* file, int line, const QString& what) {
  std::fprintf(stderr, "%s:%d: property broken: %s\n", file, line, what.toLocal8Bit().constData());
  std::fflush(stderr);
  std::abort();
}

// Qt's default template names the program, which the fuzzer binaries share with nothing.
FuzzScratch::FuzzScratch() : FFolder(QDir::tempPath() + QStringLiteral("/quarnell-fuzz-XXXXXX")) {}

QString FuzzScratch::Write(const QString& name, const QByteArray& bytes) const {
  const QString path = Path() + name;
  QFile file(path);
  FUZZ_CHECK(file.open(QIODevice::WriteOnly) && file.write(bytes) == bytes.size(),
             QStringLiteral("cannot write the scratch file %1").arg(path));
  return path;
}

QByteArray FuzzReadFile(const QString& path) {
  QFile file(path);
  return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

void FuzzLimitFileSize(qint64 bytes) {
  std::signal(SIGXFSZ, SIG_IGN);  // the write then fails with EFBIG
  rlimit limit{};
  limit.rlim_cur = limit.rlim_max = static_cast<rlim_t>(bytes);
  FUZZ_CHECK(setrlimit(RLIMIT_FSIZE, &limit) == 0, QStringLiteral("cannot limit the file size"));
}
