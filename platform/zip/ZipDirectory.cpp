// Finding the end record and reading the central directory, with every offset checked
// against the file before it is used.
#include <algorithm>
#include <numeric>

#include "platform/base/Exception.h"
#include "platform/zip/ZipFile.h"

using namespace zipformat;

namespace {

// The position of the end record in `tail` (the file's last bytes), or -1.
qsizetype findEndRecord(const QByteArray& tail) {
  for (qsizetype at = tail.size() - kEndOfDirectorySize; at >= 0; --at)
    if (read32(tail.constData() + at) == kEndOfDirectorySignature) return at;
  return -1;
}

QByteArray readTail(QFile& file) {
  const qint64 size = file.size();
  const qint64 tailSize = std::min<qint64>(size, kMaxCommentSize + kEndOfDirectorySize);
  if (!file.seek(size - tailSize)) return {};
  return file.read(tailSize);
}

}  // namespace

bool ZipFile::IsValid(const QString& path) {
  QFile file(path);
  if (!file.open(QIODevice::ReadOnly)) return false;
  return findEndRecord(readTail(file)) >= 0;
}

void ZipFile::readCentralDirectory() {
  const qint64 fileSize = FStream.size();
  const QByteArray tail = readTail(FStream);
  const qsizetype endAt = findEndRecord(tail);
  if (endAt < 0) fail(QStringLiteral("not a zip archive (no end of central directory)."));
  const char* end = tail.constData() + endAt;
  const quint16 entries = read16(end + 10);
  const quint32 directorySize = read32(end + 12);
  const quint32 directoryOffset = read32(end + 16);
  const quint16 commentLength = read16(end + 20);
  const qint64 endPosition = fileSize - tail.size() + endAt;
  // All-ones fields are zip64 markers only when a zip64 locator stands before the end
  // record; without one, 65,535 is a count like any other.
  const bool hasZip64Locator = endAt >= kZip64LocatorSize && read32(end - kZip64LocatorSize) == kZip64LocatorSignature;
  if (hasZip64Locator && (entries == 0xFFFF || directorySize == 0xFFFFFFFF || directoryOffset == 0xFFFFFFFF))
    fail(QStringLiteral("zip64 archives are not supported."));
  if (qint64(directoryOffset) + directorySize > endPosition)
    fail(QStringLiteral("the central directory points past the end of the file."));
  if (!FStream.seek(directoryOffset)) fail(QStringLiteral("cannot read the central directory."));
  const QByteArray directory = FStream.read(directorySize);
  if (directory.size() != qsizetype(directorySize)) fail(QStringLiteral("cannot read the central directory."));

  FRecords.clear();
  FRecords.reserve(entries);
  qsizetype at = 0;
  for (quint32 i = 0; i < entries; ++i) {
    if (at + kCentralHeaderSize > directory.size() || read32(directory.constData() + at) != kCentralHeaderSignature)
      fail(QStringLiteral("the central directory is damaged."));
    const char* h = directory.constData() + at;
    CentralRecord record;
    record.VersionMadeBy = read16(h + 4);
    record.VersionNeeded = read16(h + 6);
    record.Flags = read16(h + 8);
    record.Method = read16(h + 10);
    record.ModTime = read16(h + 12);
    record.ModDate = read16(h + 14);
    record.Crc32 = read32(h + 16);
    record.CompressedSize = read32(h + 20);
    record.UncompressedSize = read32(h + 24);
    const quint16 nameLength = read16(h + 28), extraLength = read16(h + 30), commentLength = read16(h + 32);
    record.DiskStart = read16(h + 34);
    record.InternalAttributes = read16(h + 36);
    record.ExternalAttributes = read32(h + 38);
    record.LocalHeaderOffset = read32(h + 42);
    const qsizetype variable = qsizetype(nameLength) + extraLength + commentLength;
    if (at + kCentralHeaderSize + variable > directory.size())
      fail(QStringLiteral("the central directory is damaged."));
    record.RawName = directory.mid(at + kCentralHeaderSize, nameLength);
    record.Extra = directory.mid(at + kCentralHeaderSize + nameLength, extraLength);
    record.Comment = directory.mid(at + kCentralHeaderSize + nameLength + extraLength, commentLength);
    if (record.CompressedSize == 0xFFFFFFFF || record.UncompressedSize == 0xFFFFFFFF ||
        record.LocalHeaderOffset == 0xFFFFFFFF)
      fail(QStringLiteral("entry \"%1\" needs zip64, which is not supported.").arg(VisibleName(record.Name())));
    if (record.LocalHeaderOffset >= directoryOffset)
      fail(QStringLiteral("entry \"%1\" points past the archive's data.").arg(VisibleName(record.Name())));
    FRecords.push_back(std::move(record));
    at += kCentralHeaderSize + variable;
  }
  FDirectoryStart = directoryOffset;
  FComment = tail.mid(endAt + kEndOfDirectorySize, commentLength);
  refuseSharedStarts();
}

// Entries that start at one local header would extract the same data again and again
// (the zip bomb's trick) and make removal by compaction cut data that others use.
void ZipFile::refuseSharedStarts() const {
  std::vector<size_t> order(FRecords.size());
  std::iota(order.begin(), order.end(), size_t{0});
  std::sort(order.begin(), order.end(),
            [this](size_t a, size_t b) { return FRecords[a].LocalHeaderOffset < FRecords[b].LocalHeaderOffset; });
  for (size_t i = 1; i < order.size(); ++i) {
    const CentralRecord& first = FRecords[order[i - 1]];
    const CentralRecord& second = FRecords[order[i]];
    if (first.LocalHeaderOffset == second.LocalHeaderOffset)
      fail(QStringLiteral("entries \"%1\" and \"%2\" overlap (they share their data): a zip bomb is refused.")
               .arg(VisibleName(first.Name()), VisibleName(second.Name())));
  }
}
