#include "platform/zip/ZipFile.h"

#include <sys/stat.h>

#include <QDir>
#include <QFileInfo>

#include "platform/base/Exception.h"

using namespace zipformat;

ZipFile::~ZipFile() {
  try {
    Close();
  } catch (...) {
    // A destructor cannot report: the archive stays as far as it was written.
  }
}

bool ZipFile::SameFile(const QString& a, const QString& b) {
  struct stat first {
  }, second{};
  if (::stat(QFile::encodeName(a).constData(), &first) == 0 && ::stat(QFile::encodeName(b).constData(), &second) == 0)
    return first.st_dev == second.st_dev && first.st_ino == second.st_ino;
  return QDir::cleanPath(QFileInfo(a).absoluteFilePath()) == QDir::cleanPath(QFileInfo(b).absoluteFilePath());
}

void ZipFile::fail(const QString& what) const {
  throw Exception(QStringLiteral("%1: %2").arg(FStream.fileName(), what));
}

void ZipFile::Open(const QString& path, ZipMode mode) {
  Close();
  FStream.setFileName(path);
  const QIODevice::OpenMode openMode = mode == ZipMode::Read        ? QIODevice::ReadOnly
                                       : mode == ZipMode::ReadWrite ? QIODevice::ReadWrite
                                                                    : QIODevice::ReadWrite | QIODevice::Truncate;
  if (mode == ZipMode::Closed) return;
  if (!FStream.open(openMode)) fail(QStringLiteral("cannot open the archive (%1).").arg(FStream.errorString()));
  FMode = mode;
  if (mode == ZipMode::Write) return;
  try {
    readCentralDirectory();
  } catch (...) {
    FStream.close();
    FRecords.clear();
    FMode = ZipMode::Closed;
    throw;
  }
  FDataEnd = FDirectoryStart;
}

void ZipFile::Close() {
  if (FMode == ZipMode::Closed) return;
  const bool writes = FMode == ZipMode::ReadWrite || FMode == ZipMode::Write;
  FMode = ZipMode::Closed;
  struct Release {
    ZipFile* zip;
    ~Release() {
      zip->FStream.close();
      zip->FRecords.clear();
      zip->FComment.clear();
      zip->FDataEnd = zip->FDirectoryStart = 0;
    }
  } release{this};
  if (writes) writeCentralDirectory();
}

int ZipFile::IndexOf(const QString& name) const {
  // ASCII case only, as the format's own tools compare names.
  auto asciiLower = [](const QString& text) {
    QString lowered = text;
    for (QChar& c : lowered)
      if (c >= QLatin1Char('A') && c <= QLatin1Char('Z')) c = QChar(c.unicode() + 32);
    return lowered;
  };
  const QString wanted = asciiLower(QString(name).replace(QLatin1Char('\\'), QLatin1Char('/')));
  for (size_t i = 0; i < FRecords.size(); ++i)
    if (asciiLower(FRecords[i].PathName()) == wanted) return static_cast<int>(i);
  return -1;
}

void ZipFile::writeCentralDirectory() {
  if (FRecords.size() > kMaxEntries)
    fail(QStringLiteral("more than 65,535 entries need zip64, which is not supported."));
  QByteArray directory;
  for (const CentralRecord& record : FRecords) directory += record.Serialized();
  if (quint64(FDataEnd) + directory.size() + kEndOfDirectorySize > 0xFFFFFFFFull)
    fail(QStringLiteral("the archive would pass 4 GiB, which needs zip64 (not supported)."));
  const auto directorySize = static_cast<quint32>(directory.size());
  append32(directory, kEndOfDirectorySignature);
  append16(directory, 0);
  append16(directory, 0);
  append16(directory, static_cast<quint16>(FRecords.size()));
  append16(directory, static_cast<quint16>(FRecords.size()));
  append32(directory, directorySize);
  append32(directory, FDataEnd);
  append16(directory, static_cast<quint16>(FComment.size()));
  directory += FComment;
  if (!FStream.seek(FDataEnd) || FStream.write(directory) != directory.size() ||
      !FStream.resize(FDataEnd + directory.size()) || !FStream.flush())
    fail(QStringLiteral("cannot write the central directory (%1).").arg(FStream.errorString()));
}
