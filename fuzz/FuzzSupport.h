// What the fuzz targets share: how a broken property is reported, a scratch folder per
// run, and parameters read off an input without taking bytes away from it.
#pragma once

#include <QByteArray>
#include <QString>
#include <QTemporaryDir>
#include <cstddef>
#include <cstdint>

// Prints where and what, then aborts: libFuzzer keeps the input as a crash, the replay
// stops with a failure naming the file.
[[noreturn]] void FuzzFailure(const char* file, int line, const QString& what);
#define FUZZ_CHECK(condition, what)                            \
  do {                                                         \
    if (!(condition)) FuzzFailure(__FILE__, __LINE__, (what)); \
  } while (false)

// The input as bytes (a deep copy: Qt may keep what it is given).
inline QByteArray FuzzBytes(const uint8_t* data, size_t size) {
  return QByteArray(reinterpret_cast<const char*>(data), static_cast<qsizetype>(size));
}

// A choice among `count` made by the input's last byte, so that a real sample used as
// a seed is still read whole and the fuzzer can flip the choice by changing one byte.
inline int FuzzChoice(const uint8_t* data, size_t size, int count, int salt = 0) {
  const int last = size == 0 ? 0 : data[size - 1];
  return ((last >> salt) + salt) % count;
}

// A fresh folder under the system's temporary folder, removed with all it holds.
class FuzzScratch {
 public:
  FuzzScratch();
  bool IsValid() const { return FFolder.isValid(); }
  // The folder's path, ending with "/".
  QString Path() const { return FFolder.path() + QLatin1Char('/'); }
  // Writes `bytes` to `name` under the folder; returns its full path.
  QString Write(const QString& name, const QByteArray& bytes) const;

 private:
  QTemporaryDir FFolder;
};

// The whole content of a file ("" when it cannot be read).
QByteArray FuzzReadFile(const QString& path);

// Caps the size of any file this process writes at `bytes`: a write past it fails instead
// of killing the process, so a target that extracts archives cannot fill the disk.
void FuzzLimitFileSize(qint64 bytes);
