#include "platform/base/Paths.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>

namespace paths {

QString IncludeTrailingPathDelimiter(const QString& path) {
  return path.endsWith(QLatin1Char('/')) ? path : path + QLatin1Char('/');
}

QString ExtractBareName(const QString& path) { return path.mid(path.lastIndexOf(QLatin1Char('/')) + 1); }

QString ExtractFilePath(const QString& path) { return path.left(path.lastIndexOf(QLatin1Char('/')) + 1); }

QString ExtractFileExt(const QString& path) {
  const QString name = ExtractBareName(path);
  const qsizetype dot = name.lastIndexOf(QLatin1Char('.'));
  return dot < 0 ? QString() : name.mid(dot);
}

QString ChangeFileExt(const QString& path, const QString& extension) {
  const QString extensionNow = ExtractFileExt(path);
  return path.left(path.size() - extensionNow.size()) + extension;
}

bool DirectoryExists(const QString& path) { return !path.isEmpty() && QFileInfo(path).isDir(); }

bool FileExists(const QString& path) {
  const QFileInfo info(path);
  return !path.isEmpty() && info.exists() && !info.isDir();
}

bool ForceDirectories(const QString& path) {
  if (path.isEmpty()) return false;
  return QDir().mkpath(path) && DirectoryExists(path);
}

QString ExecutableExtension() { return QString(); }

bool AddOwnerExecutePermission(const QString& path) {
  QFile file(path);
  return file.setPermissions(file.permissions() | QFileDevice::ExeOwner);
}

}  // namespace paths
