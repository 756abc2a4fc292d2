// Writing one entry at the data end: local header, data deflated in a stream, then the
// header's CRC-32 and sizes filled in, and a central-directory record for Close.
#include <sys/stat.h>
#include <zlib.h>

#include "platform/base/FileError.h"
#include "platform/zip/ZipFile.h"

using namespace zipformat;

namespace {

constexpr qint64 kBlock = 64 * 1024;
constexpr quint16 kVersionMadeBy = kHostUnix << 8 | 30;  // Unix host, so mode bits travel along
constexpr quint32 kUnixRegularFile = 0100000;

struct DeflateStream {
  z_stream z{};
  bool ready = false;
  DeflateStream() { ready = deflateInit2(&z, 6, Z_DEFLATED, -MAX_WBITS, 8, Z_DEFAULT_STRATEGY) == Z_OK; }
  ~DeflateStream() {
    if (ready) deflateEnd(&z);
  }
};

// The open file's status; one call gives its identity, its mode bits and its time.
struct stat statusOf(const QFile& file) {
  struct stat status {};
  if (::fstat(file.handle(), &status) != 0) throw FileError(FileAction::Read, file.fileName(), qt_error_string(errno));
  return status;
}

QByteArray localHeader(const CentralRecord& record) {
  QByteArray header;
  append32(header, kLocalHeaderSignature);
  append16(header, record.VersionNeeded);
  append16(header, record.Flags);
  append16(header, record.Method);
  append16(header, record.ModTime);
  append16(header, record.ModDate);
  append32(header, record.Crc32);
  append32(header, record.CompressedSize);
  append32(header, record.UncompressedSize);
  append16(header, static_cast<quint16>(record.RawName.size()));
  append16(header, 0);
  return header + record.RawName;
}

}  // namespace

void ZipFile::Add(const QString& fileName, const QString& archiveName) {
  if (FMode != ZipMode::ReadWrite && FMode != ZipMode::Write)
    fail(QStringLiteral("the archive is not open for writing."));
  if (FRecords.size() >= kMaxEntries)
    fail(QStringLiteral(
             "cannot add \"%1\": the archive already holds 65,535 entries, the most there can be without zip64.")
             .arg(archiveName));
  QFile in(fileName);
  if (!in.open(QIODevice::ReadOnly)) throw FileError(FileAction::Open, fileName, in.errorString());
  const struct stat status = statusOf(in), archiveStatus = statusOf(FStream);
  // Reading the archive while appending to it would never reach the end.
  if (status.st_dev == archiveStatus.st_dev && status.st_ino == archiveStatus.st_ino)
    fail(QStringLiteral("cannot add the archive to itself (\"%1\").").arg(fileName));

  CentralRecord record;
  record.VersionMadeBy = kVersionMadeBy;
  record.Flags = kFlagUtf8Name;
  record.RawName = archiveName.toUtf8();
  if (record.RawName.size() > 0xFFFF) fail(QStringLiteral("the entry name \"%1\" is too long.").arg(archiveName));
  ToDosStamp(QDateTime::fromSecsSinceEpoch(status.st_mtim.tv_sec), record.ModDate, record.ModTime);
  const quint32 mode = status.st_mode & 0777;  // set-user-ID, set-group-ID and sticky stay behind
  record.ExternalAttributes = (kUnixRegularFile | mode) << 16 | ((mode & 0200) ? 0 : kDosReadOnly);
  record.LocalHeaderOffset = FDataEnd;

  const QByteArray header = localHeader(record);
  if (!FStream.seek(FDataEnd) || FStream.write(header) != header.size())
    fail(QStringLiteral("cannot write (%1).").arg(FStream.errorString()));

  DeflateStream deflater;
  if (!deflater.ready) fail(QStringLiteral("cannot start deflating."));
  QByteArray input(kBlock, Qt::Uninitialized), output(kBlock, Qt::Uninitialized);
  quint64 compressed = 0, uncompressed = 0;
  quint32 crc = static_cast<quint32>(::crc32(0, nullptr, 0));
  int flush = Z_NO_FLUSH;
  do {
    const qint64 got = in.read(input.data(), kBlock);
    if (got < 0) throw FileError(FileAction::Read, fileName, in.errorString());
    crc = static_cast<quint32>(::crc32(crc, reinterpret_cast<const Bytef*>(input.constData()), static_cast<uInt>(got)));
    uncompressed += static_cast<quint64>(got);
    flush = in.atEnd() || got == 0 ? Z_FINISH : Z_NO_FLUSH;
    deflater.z.next_in = reinterpret_cast<Bytef*>(input.data());
    deflater.z.avail_in = static_cast<uInt>(got);
    do {
      deflater.z.next_out = reinterpret_cast<Bytef*>(output.data());
      deflater.z.avail_out = static_cast<uInt>(output.size());
      deflate(&deflater.z, flush);
      const qint64 produced = output.size() - deflater.z.avail_out;
      if (FStream.write(output.constData(), produced) != produced)
        fail(QStringLiteral("cannot write (%1).").arg(FStream.errorString()));
      compressed += static_cast<quint64>(produced);
    } while (deflater.z.avail_out == 0);
  } while (flush != Z_FINISH);

  const quint64 end = quint64(FDataEnd) + static_cast<quint64>(header.size()) + compressed;
  if (uncompressed >= 0xFFFFFFFFull || end >= 0xFFFFFFFFull)
    fail(QStringLiteral("\"%1\" would take the archive past 4 GiB, which needs zip64 (not supported).")
             .arg(archiveName));
  record.Crc32 = crc;
  record.CompressedSize = static_cast<quint32>(compressed);
  record.UncompressedSize = static_cast<quint32>(uncompressed);
  const QByteArray finished = localHeader(record);
  if (!FStream.seek(FDataEnd) || FStream.write(finished) != finished.size())
    fail(QStringLiteral("cannot write (%1).").arg(FStream.errorString()));
  FDataEnd = static_cast<quint32>(end);
  FRecords.push_back(std::move(record));
}
