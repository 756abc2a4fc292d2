#include "app/DownloadLock.h"

#include <QCryptographicHash>
#include <QFileInfo>
#include <QStandardPaths>

namespace {

// One name per file however its folder is spelled (links, "..", a trailing "/").
QString fileKey(const QString& targetPath) {
  const QFileInfo target(targetPath);
  const QString folder = QFileInfo(target.absolutePath()).canonicalFilePath();
  return folder.isEmpty() ? target.absoluteFilePath() : folder + QLatin1Char('/') + target.fileName();
}

}  // namespace

DownloadLock::DownloadLock(const QString& targetPath) {
  const QString folder = QStandardPaths::writableLocation(QStandardPaths::RuntimeLocation);
  if (folder.isEmpty()) return;
  const QByteArray key =
      QCryptographicHash::hash(fileKey(targetPath).toUtf8(), QCryptographicHash::Sha256).toHex().left(32);
  FLock = std::make_unique<QLockFile>(folder + QStringLiteral("/ombrevia-download-") + QString::fromLatin1(key) +
                                      QStringLiteral(".lock"));
  FHeld = FLock->tryLock(0);
}
