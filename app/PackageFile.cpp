#include "app/PackageFile.h"

#include <QFileInfo>

#include "platform/base/FileError.h"

void PackageFile::Append(const QByteArray& bytes) {
  if (!FFile.isOpen()) openEmptied();
  write(bytes);
}

void PackageFile::Replace(const QByteArray& bytes) {
  if (!FFile.isOpen()) openEmptied();
  if (!FFile.resize(0) || !FFile.seek(0)) throw FileError(FileAction::Write, FFile);
  FWritten = 0;
  write(bytes);
}

// Always a new file: opening the one at the name would write through a symbolic or hard link
// to a file elsewhere, or into a file that another user of a shared folder owns and may
// change between the signature check and the install.
void PackageFile::openEmptied() {
  const bool named = QFileInfo(FFile.fileName()).isSymLink() || FFile.exists();
  if ((named && !FFile.remove()) || !FFile.open(QIODevice::WriteOnly | QIODevice::NewOnly | QIODevice::Unbuffered))
    throw FileError(FileAction::Create, FFile);
}

void PackageFile::write(const QByteArray& bytes) {
  if (FFile.write(bytes) != bytes.size()) throw FileError(FileAction::Write, FFile);
  FWritten += bytes.size();
}
