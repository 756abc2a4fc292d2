#include "platform/os/Shell.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QProcess>

Shell& Shell::Default() {
  static DesktopShell desktop;
  return desktop;
}

bool IsProgramFile(const QString& path) {
  QFile file(path);
  if (!file.open(QIODevice::ReadOnly)) return false;
  const QByteArray start = file.read(4);
  return start ==
             "\x7f"
             "ELF" ||
         start.startsWith("#!");
}

void DesktopShell::Open(const QString& path) {
  const QFileInfo info(path);
  if (info.isFile() && info.isExecutable() && IsProgramFile(path))
    QProcess::startDetached(info.absoluteFilePath(), {}, info.absolutePath());
  else
    QProcess::startDetached(QStringLiteral("xdg-open"), {path});
}

namespace {

bool copyTree(const QString& source, const QString& dest) {
  if (!QDir().mkpath(dest)) return false;
  bool copied = true;
  const QDir folder(source);
  for (const QFileInfo& entry :
       folder.entryInfoList(QDir::AllEntries | QDir::Hidden | QDir::System | QDir::NoDotAndDotDot)) {
    const QString target = dest + QLatin1Char('/') + entry.fileName();
    if (entry.isDir() && !entry.isSymLink()) {
      copied = copyTree(entry.filePath(), target) && copied;
      continue;
    }
    QFile::remove(target);
    copied = QFile::copy(entry.filePath(), target) && copied;
  }
  return copied;
}

}  // namespace

bool Shell::CopyFolder(const QString& source, const QString& dest) {
  const QFileInfo from(source);
  if (!from.isDir()) return false;
  QString target = QDir::cleanPath(dest);
  if (QFileInfo(target).isDir()) target += QLatin1Char('/') + from.fileName();
  const QString canonicalSource = from.canonicalFilePath();
  if (QFileInfo(target).canonicalFilePath() == canonicalSource ||
      QDir::cleanPath(QFileInfo(target).absoluteFilePath()).startsWith(canonicalSource + QLatin1Char('/')))
    return false;  // onto itself or into itself
  return copyTree(from.absoluteFilePath(), target);
}
