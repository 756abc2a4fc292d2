#include "tests/support/TempFolder.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>

#include "tools/LoopbackHttpServer.h"

QString TempFolder::Write(const QString& name, const QByteArray& bytes) const {
  const QString path = Path() + name;
  QDir().mkpath(QFileInfo(path).absolutePath());
  QFile file(path);
  if (file.open(QIODevice::WriteOnly)) file.write(bytes);
  return path;
}

QByteArray ReadFile(const QString& path) {
  QFile file(path);
  return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

QByteArray PatternBytes(qint64 size) {
  QByteArray bytes(size, Qt::Uninitialized);
  quint32 state = 2463534242u;
  for (qint64 i = 0; i < size; ++i) {
    state ^= state << 13;
    state ^= state >> 17;
    state ^= state << 5;
    bytes[i] = static_cast<char>(state);
  }
  return bytes;
}

int UnusedLoopbackPort() {
  const LoopbackHttpServer probe([](const HttpRequest&) { return HttpReply(); });
  return probe.Port();
}
