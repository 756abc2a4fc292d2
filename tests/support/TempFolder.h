// A fresh folder for one test, removed with everything in it afterwards.
#pragma once

#include <QByteArray>
#include <QString>
#include <QTemporaryDir>

class TempFolder {
 public:
  // The folder's path, ending with "/".
  QString Path() const { return FFolder.path() + QLatin1Char('/'); }
  std::string StdPath() const { return FFolder.path().toStdString(); }
  // Writes `bytes` to `name` under the folder and returns its full path.
  QString Write(const QString& name, const QByteArray& bytes) const;

 private:
  QTemporaryDir FFolder;
};

// Reads a whole file (empty when missing).
QByteArray ReadFile(const QString& path);
// `size` bytes of a fixed pseudo-random pattern.
QByteArray PatternBytes(qint64 size);

// A port on 127.0.0.1 where nothing listens (one that was free a moment ago).
int UnusedLoopbackPort();
