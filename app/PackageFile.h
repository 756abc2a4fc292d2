// The package on disk while its ranges arrive. A fresh file is created anew (whatever had
// the name is removed) only when the first range is written; a resumed one continues the
// file the previous run left. After every write the file holds exactly the bytes written so
// far. Raises Exception (FileError) when the file cannot be made or written.
#pragma once

#include <QByteArray>
#include <QFile>
#include <QString>

class PackageFile {
 public:
  explicit PackageFile(const QString& path) : FFile(path) {}

  // Continues the file at `path` after its first `good` bytes (the rest is cut off). False,
  // with nothing changed, unless it is a plain file of ours with no other name, holding at
  // least `good` bytes: the next write then starts a new file.
  bool ContinueAt(qint64 good);
  // Adds a range at the end.
  void Append(const QByteArray& bytes);
  // Makes `bytes` the whole content (a server that sent the whole package at once).
  void Replace(const QByteArray& bytes);
  // Puts what was written on the disk itself, so that it survives the machine going off.
  void Sync();
  QString Path() const { return FFile.fileName(); }
  // Bytes in the file so far.
  qint64 Size() const { return FWritten; }

 private:
  void openEmptied();
  void write(const QByteArray& bytes);

  QFile FFile;
  qint64 FWritten = 0;
};
