// Extracting entries: names kept inside the destination, data inflated in a stream and
// checked against its CRC-32 and size, times and permission bits applied.
#include <zlib.h>

#include <QDir>
#include <QFileInfo>
#include <QStorageInfo>
#include <algorithm>
#include <memory>

#include "platform/base/Exception.h"
#include "platform/base/Paths.h"
#include "platform/zip/ZipFile.h"

using namespace zipformat;

namespace {

constexpr qint64 kBlock = 64 * 1024;
constexpr quint32 kUnixFileTypeMask = 0170000;
constexpr quint32 kUnixSymbolicLink = 0120000;

Exception entryError(const CentralRecord& record, const QString& what) {
  return Exception(QStringLiteral("Zip entry \"%1\": %2").arg(VisibleName(record.Name()), what));
}

}  // namespace

QString ZipEntryTargetName(const QString& storedName) {
  const auto refused = [&storedName](const QString& why) {
    return Exception(QStringLiteral("Zip entry \"%1\": %2").arg(VisibleName(storedName), why));
  };
  QString name = storedName;
  name.replace(QLatin1Char('\\'), QLatin1Char('/'));
  // A NUL would cut the path short, past every check made on the whole name.
  if (name.contains(QChar(0))) throw refused(QStringLiteral("the name holds a character a path cannot hold (\\x00)."));
  const bool isFolder = name.endsWith(QLatin1Char('/'));
  if (name.startsWith(QLatin1Char('/')) || (name.size() > 1 && name[1] == QLatin1Char(':')))
    throw refused(QStringLiteral("an absolute name may not be extracted."));
  QStringList parts;
  for (const QString& part : name.split(QLatin1Char('/'), Qt::SkipEmptyParts)) {
    if (part == QLatin1String(".."))
      throw refused(QStringLiteral("a name may not climb out of the destination folder."));
    if (part != QLatin1String(".")) parts << part;
  }
  if (parts.isEmpty()) return {};
  return parts.join(QLatin1Char('/')) + (isFolder ? QStringLiteral("/") : QString());
}

namespace {

// True when any folder between `folder` and `target` (or the target) is a symbolic link,
// which would carry the write somewhere else.
bool passesThroughLink(const QString& folder, const QString& relative) {
  QString path = folder;
  for (const QString& part : relative.split(QLatin1Char('/'), Qt::SkipEmptyParts)) {
    path += part;
    if (QFileInfo(path).isSymLink()) return true;
    path += QLatin1Char('/');
  }
  return false;
}

struct InflateStream {
  z_stream z{};
  bool ready = false;
  InflateStream() { ready = inflateInit2(&z, -MAX_WBITS) == Z_OK; }
  ~InflateStream() {
    if (ready) inflateEnd(&z);
  }
};

// Copies the entry's data from `archive` (positioned at it) to `out`, inflating it when
// deflated; answers the CRC-32 and size of what was written.
void copyEntryData(QFile& archive, QFile& out, const CentralRecord& record, quint32& crc, qint64& written) {
  crc = static_cast<quint32>(::crc32(0, nullptr, 0));
  written = 0;
  qint64 left = record.CompressedSize;
  QByteArray input(kBlock, Qt::Uninitialized), output(kBlock, Qt::Uninitialized);
  auto writeOut = [&](const char* data, qint64 size) {
    if (written + size > record.UncompressedSize)
      throw entryError(record, QStringLiteral("the data is longer than recorded."));
    if (out.write(data, size) != size)
      throw entryError(record, QStringLiteral("cannot write %1 (%2).").arg(out.fileName(), out.errorString()));
    crc = static_cast<quint32>(::crc32(crc, reinterpret_cast<const Bytef*>(data), static_cast<uInt>(size)));
    written += size;
  };
  if (record.Method == kMethodStored) {
    while (left > 0) {
      const qint64 got = archive.read(input.data(), std::min(left, kBlock));
      if (got <= 0) throw entryError(record, QStringLiteral("the archive ends inside the entry's data."));
      writeOut(input.constData(), got);
      left -= got;
    }
    return;
  }
  InflateStream inflater;
  if (!inflater.ready) throw entryError(record, QStringLiteral("cannot start inflating."));
  int status = Z_OK;
  while (status != Z_STREAM_END) {
    if (inflater.z.avail_in == 0) {
      if (left == 0) throw entryError(record, QStringLiteral("the compressed data is truncated."));
      const qint64 got = archive.read(input.data(), std::min(left, kBlock));
      if (got <= 0) throw entryError(record, QStringLiteral("the archive ends inside the entry's data."));
      left -= got;
      inflater.z.next_in = reinterpret_cast<Bytef*>(input.data());
      inflater.z.avail_in = static_cast<uInt>(got);
    }
    inflater.z.next_out = reinterpret_cast<Bytef*>(output.data());
    inflater.z.avail_out = static_cast<uInt>(output.size());
    status = inflate(&inflater.z, Z_NO_FLUSH);
    if (status != Z_OK && status != Z_STREAM_END && status != Z_BUF_ERROR)
      throw entryError(record, QStringLiteral("the compressed data is damaged."));
    writeOut(output.constData(), output.size() - inflater.z.avail_out);
  }
}

void applyStampAndAttributes(QFile& file, const CentralRecord& record) {
  const QDateTime stamp = FromDosStamp(record.ModDate, record.ModTime);
  file.setFileTime(stamp, QFileDevice::FileModificationTime);
  file.setFileTime(stamp, QFileDevice::FileAccessTime);
  QFileDevice::Permissions permissions = file.permissions();
  if (record.Host() == kHostUnix && (record.ExternalAttributes >> 16) != 0) {
    // Read, write and execute bits only: set-user-ID, set-group-ID and sticky never.
    const quint32 mode = (record.ExternalAttributes >> 16) & 0777;
    permissions = QFileDevice::Permissions();
    for (const auto& [bit, permission] : kModeBits)
      if (mode & bit) permissions |= permission;
    if (mode & 0400) permissions |= QFileDevice::ReadUser;
    if (mode & 0200) permissions |= QFileDevice::WriteUser;
    if (mode & 0100) permissions |= QFileDevice::ExeUser;
  }
  if (record.Host() == kHostDos && (record.ExternalAttributes & kDosReadOnly))
    permissions &=
        ~(QFileDevice::WriteOwner | QFileDevice::WriteUser | QFileDevice::WriteGroup | QFileDevice::WriteOther);
  file.setPermissions(permissions);
}

}  // namespace

void ZipFile::Extract(const QString& name, const QString& folder) {
  if (FMode != ZipMode::Read && FMode != ZipMode::ReadWrite)
    fail(QStringLiteral("the archive is not open for reading."));
  const int index = IndexOf(name);
  if (index < 0) fail(QStringLiteral("no entry \"%1\" in the archive.").arg(name));
  const CentralRecord& record = FRecords[static_cast<size_t>(index)];
  ZipEntryTargetName(record.Name());
  const qint64 dataStart = locateData(record, sortedStarts());
  checkRoom(record.UncompressedSize, folder);
  extractRecord(record, dataStart, folder);
}

void ZipFile::ExtractAll(const QString& folder) {
  if (FMode != ZipMode::Read && FMode != ZipMode::ReadWrite)
    fail(QStringLiteral("the archive is not open for reading."));
  // Everything that can refuse the archive is looked at before the first file is written.
  const std::vector<quint32> starts = sortedStarts();
  std::vector<qint64> dataStarts;
  dataStarts.reserve(FRecords.size());
  quint64 total = 0;
  for (const CentralRecord& record : FRecords) {
    ZipEntryTargetName(record.Name());
    dataStarts.push_back(locateData(record, starts));
    total += record.UncompressedSize;
  }
  checkRoom(total, folder);
  for (size_t i = 0; i < FRecords.size(); ++i) extractRecord(FRecords[i], dataStarts[i], folder);
}

std::vector<quint32> ZipFile::sortedStarts() const {
  std::vector<quint32> starts;
  starts.reserve(FRecords.size());
  for (const CentralRecord& record : FRecords) starts.push_back(record.LocalHeaderOffset);
  std::sort(starts.begin(), starts.end());
  return starts;
}

qint64 ZipFile::locateData(const CentralRecord& record, const std::vector<quint32>& starts) {
  char header[kLocalHeaderSize];
  if (!FStream.seek(record.LocalHeaderOffset) || FStream.read(header, kLocalHeaderSize) != kLocalHeaderSize ||
      read32(header) != kLocalHeaderSignature)
    throw entryError(record, QStringLiteral("its local header is missing or damaged."));
  const quint16 localFlags = read16(header + 6);
  const quint16 nameLength = read16(header + 26);
  if (FStream.read(nameLength) != record.RawName)
    throw entryError(record, QStringLiteral("its local header names another entry."));
  if (read16(header + 8) != record.Method)
    throw entryError(record, QStringLiteral("its local header gives another compression method."));
  // With a data descriptor the local header may hold zeros; otherwise it must agree.
  const bool descriptor = (record.Flags | localFlags) & kFlagDataDescriptor;
  if (!descriptor && (read32(header + 14) != record.Crc32 || read32(header + 18) != record.CompressedSize ||
                      read32(header + 22) != record.UncompressedSize))
    throw entryError(record, QStringLiteral("its local header gives other sizes or another CRC-32."));

  // An entry's data ends before the next local header: entries whose data overlap would
  // inflate the same bytes more than once.
  const auto next = std::upper_bound(starts.begin(), starts.end(), record.LocalHeaderOffset);
  const qint64 dataStart = qint64(record.LocalHeaderOffset) + kLocalHeaderSize + nameLength + read16(header + 28);
  const qint64 dataEnd = dataStart + record.CompressedSize;
  if (next == starts.end() ? dataEnd > FDataEnd : dataEnd > qint64(*next))
    throw entryError(record, next == starts.end()
                                 ? QStringLiteral("its data lies outside the archive.")
                                 : QStringLiteral("its data overlaps the next entry: a zip bomb is refused."));
  return dataStart;
}

void ZipFile::checkRoom(quint64 total, const QString& folder) const {
  if (total > FExtractLimit)
    fail(QStringLiteral("the extraction would write %1 bytes, more than the limit of %2 bytes.")
             .arg(total)
             .arg(FExtractLimit));
  QString existing = QFileInfo(folder).absoluteFilePath();
  while (!QFileInfo::exists(existing) && !QDir(existing).isRoot()) existing = QFileInfo(existing).absolutePath();
  const QStorageInfo storage(existing);
  if (storage.isValid() && storage.isReady() && storage.bytesAvailable() >= 0 &&
      total > static_cast<quint64>(storage.bytesAvailable()))
    fail(QStringLiteral("the extraction would write %1 bytes, but only %2 bytes are free in %3.")
             .arg(total)
             .arg(storage.bytesAvailable())
             .arg(storage.rootPath()));
}

void ZipFile::extractRecord(const CentralRecord& record, qint64 dataStart, const QString& folder) {
  const QString destination = paths::IncludeTrailingPathDelimiter(folder);
  const QString relative = ZipEntryTargetName(record.Name());
  if (relative.isEmpty()) return;
  if (passesThroughLink(destination, relative))
    throw entryError(record, QStringLiteral("the path passes through a symbolic link."));
  const QString target = destination + relative;
  paths::ForceDirectories(paths::ExtractFilePath(target));
  if (relative.endsWith(QLatin1Char('/'))) return;  // a folder entry
  if (record.Flags & kFlagEncrypted) throw entryError(record, QStringLiteral("encrypted entries are not supported."));
  if (record.Method != kMethodStored && record.Method != kMethodDeflated)
    throw entryError(record, QStringLiteral("compression method %1 is not supported.").arg(record.Method));
  if (!FStream.seek(dataStart)) throw entryError(record, QStringLiteral("its data lies outside the archive."));

  // An existing file is removed and a new one made: opening it for writing would carry the
  // write through a hard link to every other name of that file.
  QFile out(target);
  if (out.exists() && !out.remove())
    throw entryError(record, QStringLiteral("cannot replace %1 (%2).").arg(target, out.errorString()));
  if (!out.open(QIODevice::WriteOnly | QIODevice::NewOnly))
    throw entryError(record, QStringLiteral("cannot create %1 (%2).").arg(target, out.errorString()));
  // A link entry is written as a plain file holding the link's text: nothing is ever
  // created that points out of the destination.
  const bool isLink =
      record.Host() == kHostUnix && ((record.ExternalAttributes >> 16) & kUnixFileTypeMask) == kUnixSymbolicLink;
  quint32 crc = 0;
  qint64 written = 0;
  try {
    copyEntryData(FStream, out, record, crc, written);
    if (written != record.UncompressedSize)
      throw entryError(record, QStringLiteral("the data is shorter than recorded."));
    if (crc != record.Crc32) throw entryError(record, QStringLiteral("CRC-32 mismatch: the data is corrupt."));
  } catch (...) {
    out.close();
    QFile::remove(target);  // corrupt data is not left behind as if it were the file
    throw;
  }
  out.flush();
  if (!isLink) applyStampAndAttributes(out, record);
  out.close();
}
