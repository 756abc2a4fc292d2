// The zip archive reader/writer on zlib: the published format without the 64-bit
// extensions (offsets and sizes are 32-bit), UTF-8 names, stored and deflated entries.
// It exposes its central-directory records, its stream and its data end so that callers
// can do what it does not (removing an entry by compaction).
//
// Errors raise Exception with a text naming the archive or the entry. Entries are inflated
// and deflated in streams, so memory does not depend on their sizes. Not thread-safe.
#pragma once

#include <QFile>
#include <QString>
#include <vector>

#include "platform/zip/ZipFormat.h"

enum class ZipMode { Closed, Read, ReadWrite, Write };

// Where extraction puts the entry stored as `storedName`, relative to the destination: "\"
// read as "/", "." parts dropped, a folder ending with "/"; empty for a name of no parts.
// Raises Exception for an absolute name or one that climbs out with "..".
QString ZipEntryTargetName(const QString& storedName);

class ZipFile {
 public:
  ZipFile() = default;
  ~ZipFile();
  ZipFile(const ZipFile&) = delete;
  ZipFile& operator=(const ZipFile&) = delete;

  // True when `path` opens for reading and has an end-of-central-directory record in its
  // last 65,535 bytes.
  static bool IsValid(const QString& path);

  // Read and ReadWrite read the central directory (ReadWrite puts the data end at its
  // start); Write creates the file or empties it. Any archive open before is closed first.
  void Open(const QString& path, ZipMode mode);
  // In ReadWrite and Write mode writes the central directory at the data end; always
  // releases the file and forgets the records.
  void Close();

  ZipMode Mode() const { return FMode; }
  int FileCount() const { return static_cast<int>(FRecords.size()); }
  QString FileName(int index) const { return FRecords.at(static_cast<size_t>(index)).Name(); }
  // The first record whose name equals `name` without regard to ASCII case; -1 when none.
  int IndexOf(const QString& name) const;

  // Extracts the entry named `name` (looked up as by IndexOf) under `folder`.
  void Extract(const QString& name, const QString& folder);
  // Extracts every entry, in central-directory order, under `folder`.
  void ExtractAll(const QString& folder);
  // Writes the file `fileName` as a new deflated entry `archiveName` at the data end.
  void Add(const QString& fileName, const QString& archiveName);

  // Direct access for compaction.
  std::vector<zipformat::CentralRecord>& Records() { return FRecords; }
  QFile& Stream() { return FStream; }
  quint32 DataEnd() const { return FDataEnd; }
  void SetDataEnd(quint32 dataEnd) { FDataEnd = dataEnd; }

 private:
  void readCentralDirectory();
  void extractRecord(const zipformat::CentralRecord& record, const QString& folder);
  void writeCentralDirectory();
  [[noreturn]] void fail(const QString& what) const;

  QFile FStream;
  ZipMode FMode = ZipMode::Closed;
  std::vector<zipformat::CentralRecord> FRecords;
  quint32 FDataEnd = 0;         // just past the last entry's data
  quint32 FDirectoryStart = 0;  // where the central directory of a read archive starts
};
