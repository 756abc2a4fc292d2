#include "app/PackageFile.h"

#include "platform/base/FileError.h"

void PackageFile::Append(const QByteArray& bytes) {
  if (!FFile.isOpen()) openEmptied();
  write(bytes);
}

void PackageFile::Replace(const QByteArray& bytes) {
  if (!FFile.isOpen()) openEmptied();
  if (!FFile.resize(0) || !FFile.seek(0))
    throw FileError(FileAction::Write, FFile);
  FWritten = 0;
  write(bytes);
}

void PackageFile::openEmptied() {
  if (!FFile.open(QIODevice::WriteOnly | QIODevice::Truncate | QIODevice::Unbuffered))
    throw FileError(FileAction::Create, FFile);
}

void PackageFile::write(const QByteArray& bytes) {
  if (FFile.write(bytes) != bytes.size())
    throw FileError(FileAction::Write, FFile);
  FWritten += bytes.size();
}
