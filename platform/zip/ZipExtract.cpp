// Extracting entries: names kept inside the destination, data inflated in a stream and
// checked against its CRC-32 and size, times and permission bits applied.
#include <zlib.h>

#include <QDir>
#include <QFileInfo>
#include <memory>

#include "platform/base/Exception.h"
#include "platform/base/Paths.h"
#include "platform/zip/ZipFile.h"

using namespace zipformat;

namespace {

constexpr qint64 kBlock = 64 * 1024;
constexpr quint32 kUnixFileTypeMask = 0170000;
constexpr quint32 kUnixSymbolicLink = 0120000;
constexpr quint8 kDosReadOnly = 0x01;

Exception entryError(const CentralRecord& record, const QString& what) {
  return Exception(QStringLiteral("Zip entry \"%1\": %2").arg(record.Name(), what));
}

}  // namespace

QString ZipEntryTargetName(const QString& storedName) {
  const auto refused = [&storedName](const QString& why) {
    return Exception(QStringLiteral("Zip entry \"%1\": %2").arg(storedName, why));
  };
  QString name = storedName;
  name.replace(QLatin1Char('\\'), QLatin1Char('/'));
  const bool isFolder = name.endsWith(QLatin1Char('/'));
  if (name.startsWith(QLatin1Char('/')) || (name.size() > 1 && name[1] == QLatin1Char(':')))
    throw refused(QStringLiteral("an absolute name may not be extracted."));
  QStringList parts;
  for (const QString& part : name.split(QLatin1Char('/'), Qt::SkipEmptyParts)) {
    if (part == QLatin1String("..")) throw refused(QStringLiteral("a name may not climb out of the destination folder."));
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
    if (written + size > record.UncompressedSize) throw entryError(record, QStringLiteral("the data is longer than recorded."));
    if (out.write(data, size) != size) throw entryError(record, QStringLiteral("cannot write %1 (%2).").arg(out.fileName(), out.errorString()));
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
    permissions &= ~(QFileDevice::WriteOwner | QFileDevice::WriteUser | QFileDevice::WriteGroup | QFileDevice::WriteOther);
  file.setPermissions(permissions);
}

}  // namespace

void ZipFile::Extract(const QString& name, const QString& folder) {
  if (FMode != ZipMode::Read && FMode != ZipMode::ReadWrite) fail(QStringLiteral("the archive is not open for reading."));
  const int index = IndexOf(name);
  if (index < 0) fail(QStringLiteral("no entry \"%1\" in the archive.").arg(name));
  extractRecord(FRecords[static_cast<size_t>(index)], folder);
}

void ZipFile::ExtractAll(const QString& folder) {
  if (FMode != ZipMode::Read && FMode != ZipMode::ReadWrite) fail(QStringLiteral("the archive is not open for reading."));
  for (const CentralRecord& record : FRecords) extractRecord(record, folder);
}

void ZipFile::extractRecord(const CentralRecord& record, const QString& folder) {
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

  // The local header says where the data starts; both must lie inside the archive's data.
  char header[kLocalHeaderSize];
  if (!FStream.seek(record.LocalHeaderOffset) || FStream.read(header, kLocalHeaderSize) != kLocalHeaderSize ||
      read32(header) != kLocalHeaderSignature)
    throw entryError(record, QStringLiteral("its local header is missing or damaged."));
  const qint64 dataStart = qint64(record.LocalHeaderOffset) + kLocalHeaderSize + read16(header + 26) + read16(header + 28);
  if (dataStart + record.CompressedSize > std::max(FDirectoryStart, FDataEnd) || !FStream.seek(dataStart))
    throw entryError(record, QStringLiteral("its data lies outside the archive."));

  // A link entry is written as a plain file holding the link's text: nothing is ever
  // created that points out of the destination.
  const bool isLink = record.Host() == kHostUnix && ((record.ExternalAttributes >> 16) & kUnixFileTypeMask) == kUnixSymbolicLink;
  QFile out(target);
  if (!out.open(QIODevice::WriteOnly | QIODevice::Truncate)) {
    QFile::remove(target);  // a read-only file is replaced all the same
    if (!out.open(QIODevice::WriteOnly | QIODevice::Truncate))
      throw entryError(record, QStringLiteral("cannot create %1 (%2).").arg(target, out.errorString()));
  }
  quint32 crc = 0;
  qint64 written = 0;
  try {
    copyEntryData(FStream, out, record, crc, written);
    if (written != record.UncompressedSize) throw entryError(record, QStringLiteral("the data is shorter than recorded."));
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
