#include "app/PackageFile.h"

#include "platform/base/Exception.h"

void PackageFile::Append(const QByteArray& bytes) {
  if (!FFile.isOpen()) openEmptied();
  write(bytes);
}

void PackageFile::Replace(const QByteArray& bytes) {
  if (!FFile.isOpen()) openEmptied();
  if (!FFile.resize(0) || !FFile.seek(0))
    throw Exception(QStringLiteral("Cannot write file \"%1\". %2").arg(FFile.fileName(), FFile.errorString()));
  FWritten = 0;
  write(bytes);
}

void PackageFile::openEmptied() {
  if (!FFile.open(QIODevice::WriteOnly | QIODevice::Truncate | QIODevice::Unbuffered))
    throw Exception(QStringLiteral("Cannot create file \"%1\". %2").arg(FFile.fileName(), FFile.errorString()));
}

void PackageFile::write(const QByteArray& bytes) {
  if (FFile.write(bytes) != bytes.size())
    throw Exception(QStringLiteral("Cannot write file \"%1\". %2").arg(FFile.fileName(), FFile.errorString()));
  FWritten += bytes.size();
}
