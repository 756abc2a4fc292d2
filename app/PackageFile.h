// The package on disk while its ranges arrive. The file is created anew (whatever had the
// name is removed) only when the first range is written; after every write it holds exactly the bytes written so far.
#pragma once

#include <QByteArray>
#include <QFile>
#include <QString>

class PackageFile {
 public:
  explicit PackageFile(const QString& path) : FFile(path) {}

  // Adds a range at the end. Raises Exception when the file cannot be made or written.
  void Append(const QByteArray& bytes);
  // Makes `bytes` the whole content (a server that sent the whole package at once).
  void Replace(const QByteArray& bytes);
  // Bytes in the file so far.
  qint64 Size() const { return FWritten; }

 private:
  void openEmptied();
  void write(const QByteArray& bytes);

  QFile FFile;
  qint64 FWritten = 0;
};
