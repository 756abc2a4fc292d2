#include "platform/base/FileError.h"

namespace {

QString verb(FileAction action) {
  switch (action) {
    case FileAction::Open: return QStringLiteral("open");
    case FileAction::Read: return QStringLiteral("read");
    case FileAction::Write: return QStringLiteral("write");
    case FileAction::Create: return QStringLiteral("create");
  }
  return QString();
}

}  // namespace

Exception FileError(FileAction action, const QString& path, const QString& reason) {
  return Exception(QStringLiteral("Cannot %1 file \"%2\". %3").arg(verb(action), path, reason));
}

Exception FileError(FileAction action, const QFileDevice& file) {
  return FileError(action, file.fileName(), file.errorString());
}
