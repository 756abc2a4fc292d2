// The zip archive reader/writer on zlib: the published format without the 64-bit
// extensions (offsets and sizes are 32-bit), UTF-8 names, stored and deflated entries.
// It exposes its central-directory records, its stream and its data end so that callers
// can do what it does not (removing an entry by compaction).
//
// Errors raise Exception with a text naming the archive or the entry. Entries are inflated
// and deflated in streams, so memory does not depend on their sizes. Not thread-safe.
//
// Hostile archives are refused rather than followed: names that are absolute, climb out
// of the destination, pass through a symbolic link or hold a character a path cannot
// hold; entries whose data overlap; local headers that disagree with their central
// records; extractions larger than the free space or the limit the caller set.
#pragma once

#include <QFile>
#include <QString>
#include <limits>
#include <vector>

#include "platform/zip/ZipFormat.h"

enum class ZipMode { Closed, Read, ReadWrite, Write };

// Where extraction puts the entry stored as `storedName`, relative to the destination: "\"
// read as "/", "." parts dropped, a folder ending with "/"; empty for a name of no parts.
// Raises Exception for an absolute name, one that climbs out with "..", or one holding a NUL.
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
  // True when `a` and `b` name one file (links followed, hard links included), or, when
  // either does not exist, the same absolute path.
  static bool SameFile(const QString& a, const QString& b);

  // Read and ReadWrite read the central directory (ReadWrite puts the data end at its
  // start and keeps the archive comment for Close); Write creates the file or empties it.
  // Any archive open before is closed first. An archive whose entries share one local
  // header is refused here; an entry whose data runs into the next one, when extracted.
  void Open(const QString& path, ZipMode mode);
  // In ReadWrite and Write mode writes the central directory at the data end; always
  // releases the file and forgets the records.
  void Close();

  ZipMode Mode() const { return FMode; }
  int FileCount() const { return static_cast<int>(FRecords.size()); }
  // The entry's name as it is extracted: the stored name with "\\" read as "/".
  QString FileName(int index) const { return FRecords.at(static_cast<size_t>(index)).PathName(); }
  // The first record whose name, in its FileName form, equals `name` without regard to
  // ASCII case; -1 when none.
  int IndexOf(const QString& name) const;

  // Extracts the entry named `name` (looked up as by IndexOf) under `folder`. An existing
  // file of that name is removed and made anew, so no link carries the write elsewhere.
  void Extract(const QString& name, const QString& folder);
  // Extracts every entry, in central-directory order, under `folder`. Every name and the
  // total size are checked before the first file is written.
  void ExtractAll(const QString& folder);
  // The most bytes one Extract or ExtractAll may write (by the entries' recorded sizes,
  // which the data may not exceed); beyond it, or beyond the free space of the
  // destination, the extraction is refused before it writes anything. No limit at first.
  void SetExtractLimit(quint64 bytes) { FExtractLimit = bytes; }
  // Writes the file `fileName` as a new deflated entry `archiveName` at the data end.
  // Refused before anything is written when the archive already holds the 65,535 entries
  // the format allows, or when `fileName` is the archive itself.
  void Add(const QString& fileName, const QString& archiveName);

  // Direct access for compaction.
  std::vector<zipformat::CentralRecord>& Records() { return FRecords; }
  QFile& Stream() { return FStream; }
  quint32 DataEnd() const { return FDataEnd; }
  void SetDataEnd(quint32 dataEnd) { FDataEnd = dataEnd; }

 private:
  void readCentralDirectory();
  void refuseSharedStarts() const;
  // The local header offsets in ascending order: each entry's data must end before the next.
  std::vector<quint32> sortedStarts() const;
  // Where the entry's data starts, after its local header has been checked against the
  // record and its data against the next entry's start.
  qint64 locateData(const zipformat::CentralRecord& record, const std::vector<quint32>& starts);
  // Refuses an extraction of `total` bytes beyond the limit or the free space under `folder`.
  void checkRoom(quint64 total, const QString& folder) const;
  void extractRecord(const zipformat::CentralRecord& record, qint64 dataStart, const QString& folder);
  void writeCentralDirectory();
  [[noreturn]] void fail(const QString& what) const;

  QFile FStream;
  ZipMode FMode = ZipMode::Closed;
  std::vector<zipformat::CentralRecord> FRecords;
  quint32 FDataEnd = 0;         // just past the last entry's data
  quint32 FDirectoryStart = 0;  // where the central directory of a read archive starts
  QByteArray FComment;          // the archive comment, written back by Close
  quint64 FExtractLimit = std::numeric_limits<quint64>::max();
};
