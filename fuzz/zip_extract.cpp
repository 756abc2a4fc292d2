// Zip reading and extraction of an archive from anywhere. Beyond not crashing:
//  - nothing is created outside the destination folder, and no symbolic link inside it;
//  - a run that reports success has written every file entry with the size and CRC-32
//    its record states (what is written reads back);
//  - those files, added to a new archive by our own writer, extract to the same bytes.
#include <zlib.h>

#include <QDir>
#include <QDirIterator>
#include <QFileInfo>
#include <map>
#include <set>

#include "fuzz/FuzzSupport.h"
#include "platform/base/Exception.h"
#include "platform/zip/ZipFile.h"

namespace {

// Every extracted file stays far below this; larger writes fail, so one input cannot fill
// the disk (a small archive may declare entries of 4 GiB).
constexpr qint64 kFileSizeCap = 8 << 20;
// The writer round trip is skipped above this many bytes, to keep runs fast.
constexpr qint64 kRoundTripBytes = 1 << 20;

// Where an entry name lands under `folder` by the plain rules of a path, whatever the
// reader refuses: used only to look for files that should not exist.
QString naiveTarget(const QString& folder, const QString& name) {
  QString cleaned = name;
  cleaned.replace(QLatin1Char('\\'), QLatin1Char('/'));
  return QDir::cleanPath(QDir::isAbsolutePath(cleaned) ? cleaned : folder + cleaned);
}

// The entry's place relative to the destination as the format means it ("" for a name
// that is not a plain relative one, which must not be extracted at all).
QString plainRelative(const QString& name) {
  QString cleaned = name;
  cleaned.replace(QLatin1Char('\\'), QLatin1Char('/'));
  if (cleaned.startsWith(QLatin1Char('/')) || cleaned.endsWith(QLatin1Char('/'))) return {};
  QStringList parts;
  for (const QString& part : cleaned.split(QLatin1Char('/'), Qt::SkipEmptyParts)) {
    if (part == QLatin1String("..")) return {};
    if (part != QLatin1String(".")) parts << part;
  }
  return parts.join(QLatin1Char('/'));
}

quint32 crcOf(const QByteArray& bytes) {
  return static_cast<quint32>(::crc32(::crc32(0, nullptr, 0), reinterpret_cast<const Bytef*>(bytes.constData()),
                                      static_cast<uInt>(bytes.size())));
}

// Every file, folder and link under `folder`, as paths relative to it.
QStringList everythingUnder(const QString& folder) {
  QStringList found;
  QDirIterator it(folder, QDir::AllEntries | QDir::Hidden | QDir::System | QDir::NoDotAndDotDot,
                  QDirIterator::Subdirectories);
  while (it.hasNext()) found << QDir(folder).relativeFilePath(it.next());
  return found;
}

bool extractAll(ZipFile& zip, const QString& archive, const QString& destination) {
  try {
    zip.Open(archive, ZipMode::Read);
    zip.ExtractAll(destination);
    return true;
  } catch (const Exception&) {
    return false;
  }
}

void checkNothingOutside(const FuzzScratch& scratch, const QStringList& escapes) {
  for (const QString& path : everythingUnder(scratch.Path())) {
    const bool known = path == QLatin1String("archive.zip") || path == QLatin1String("in") ||
                       path.startsWith(QLatin1String("in/dest/")) || path == QLatin1String("in/dest");
    FUZZ_CHECK(known, QStringLiteral("extraction created %1 outside the destination").arg(path));
  }
  for (const QString& escape : escapes)
    FUZZ_CHECK(!QFileInfo::exists(escape) && !QFileInfo(escape).isSymLink(),
               QStringLiteral("extraction created %1 outside the destination").arg(escape));
  const QString destination = scratch.Path() + QStringLiteral("in/dest");
  for (const QString& path : everythingUnder(destination))
    FUZZ_CHECK(!QFileInfo(destination + QLatin1Char('/') + path).isSymLink(),
               QStringLiteral("extraction created the symbolic link %1").arg(path));
}

// After a successful extraction: the last record for each file name is what the file holds.
std::map<QString, zipformat::CentralRecord> checkWrittenAsRecorded(ZipFile& zip, const QString& destination) {
  std::map<QString, zipformat::CentralRecord> finalRecord;
  for (const zipformat::CentralRecord& record : zip.Records()) {
    const QString relative = plainRelative(record.Name());
    if (!relative.isEmpty()) finalRecord[relative] = record;
  }
  for (const auto& [relative, record] : finalRecord) {
    // The system cuts a path at a NUL: such an entry would land under another name.
    FUZZ_CHECK(!relative.contains(QChar(0)), QStringLiteral("entry \"%1\" with a NUL in its name was extracted")
                                                 .arg(QString(relative).replace(QChar(0), QStringLiteral("\\0"))));
    const QFileInfo info(destination + relative);
    if (info.isDir()) continue;  // a later folder entry of the same name
    FUZZ_CHECK(info.isFile(), QStringLiteral("entry %1 reported extracted but missing").arg(relative));
    FUZZ_CHECK(info.size() == record.UncompressedSize, QStringLiteral("entry %1: %2 bytes written, %3 recorded")
                                                           .arg(relative)
                                                           .arg(info.size())
                                                           .arg(record.UncompressedSize));
    if (!info.isReadable()) continue;  // its recorded mode took the read bit away
    FUZZ_CHECK(crcOf(FuzzReadFile(info.filePath())) == record.Crc32,
               QStringLiteral("entry %1: what was written does not match its CRC-32").arg(relative));
  }
  return finalRecord;
}

// Our writer and reader agree on the extracted files.
void checkWriterRoundTrip(const FuzzScratch& scratch, const QString& destination,
                          const std::map<QString, zipformat::CentralRecord>& files) {
  std::map<QString, QByteArray> contents;
  qint64 total = 0;
  for (const auto& [relative, record] : files) {
    const QFileInfo info(destination + relative);
    if (!info.isFile() || !info.isReadable()) continue;
    total += info.size();
    contents[relative] = FuzzReadFile(info.filePath());
  }
  if (contents.empty() || total > kRoundTripBytes) return;
  const QString copy = scratch.Path() + QStringLiteral("in/copy.zip");
  const QString again = scratch.Path() + QStringLiteral("in/again");
  {
    ZipFile writer;
    writer.Open(copy, ZipMode::Write);
    for (const auto& [relative, bytes] : contents) writer.Add(destination + relative, relative);
    writer.Close();
  }
  ZipFile reader;
  FUZZ_CHECK(extractAll(reader, copy, again), QStringLiteral("an archive of our own writing does not extract"));
  FUZZ_CHECK(reader.FileCount() == static_cast<int>(contents.size()), QStringLiteral("the copy lost entries"));
  for (const auto& [relative, bytes] : contents)
    FUZZ_CHECK(FuzzReadFile(again + QLatin1Char('/') + relative) == bytes,
               QStringLiteral("entry %1 changed through our writer").arg(relative));
  QFile::remove(copy);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  static const bool limited = (FuzzLimitFileSize(kFileSizeCap), true);
  (void)limited;
  FuzzScratch scratch;
  if (!scratch.IsValid()) return 0;
  const QString archive = scratch.Write(QStringLiteral("archive.zip"), FuzzBytes(data, size));
  const QString destination = scratch.Path() + QStringLiteral("in/dest/");
  QDir().mkpath(destination);

  ZipFile zip;
  QStringList escapes;  // where names would land if nothing kept them in
  bool opened = false;
  try {
    zip.Open(archive, ZipMode::Read);
    opened = true;
  } catch (const Exception&) {
  }
  if (opened) {
    FUZZ_CHECK(ZipFile::IsValid(archive), QStringLiteral("an archive that opens is not valid"));
    for (int i = 0; i < zip.FileCount(); ++i) {
      const QString target = naiveTarget(destination, zip.FileName(i));
      if (!target.startsWith(destination) && !QFileInfo::exists(target)) escapes << target;
      const int found = zip.IndexOf(zip.FileName(i));
      FUZZ_CHECK(found >= 0 && found <= i, QStringLiteral("IndexOf does not find the first entry of a name"));
    }
  }
  bool extracted = false;
  if (opened) {
    try {
      zip.ExtractAll(destination);
      extracted = true;
    } catch (const Exception&) {
    }
  }
  checkNothingOutside(scratch, escapes);
  if (extracted) checkWriterRoundTrip(scratch, destination, checkWrittenAsRecorded(zip, destination));
  return 0;
}
