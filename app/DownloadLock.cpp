#include "app/DownloadLock.h"

#include <QCryptographicHash>
#include <QStandardPaths>

DownloadLock::DownloadLock(const QString& targetPath) {
  const QString folder = QStandardPaths::writableLocation(QStandardPaths::RuntimeLocation);
  if (folder.isEmpty()) return;
  const QByteArray key = QCryptographicHash::hash(targetPath.toUtf8(), QCryptographicHash::Sha256).toHex().left(32);
  FLock = std::make_unique<QLockFile>(folder + QStringLiteral("/ombrevia-download-") + QString::fromLatin1(key) +
                                      QStringLiteral(".lock"));
  FHeld = FLock->tryLock(0);
}
