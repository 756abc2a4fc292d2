#include "fileutils/QnZipManager.h"

#include "platform/base/Exception.h"
#include "platform/base/Paths.h"
#include "platform/base/ProgressSink.h"

namespace {

constexpr qint64 kMoveBlock = 1024 * 1024;

// An entry name given by the caller: the text after the last "\\" or ":". Forward slashes
// stay, so that entries inside folders are reached as they are listed ("docs/readme.txt").
QString entryName(const QString& name) {
  const qsizetype cut = std::max(name.lastIndexOf(QLatin1Char('\\')), name.lastIndexOf(QLatin1Char(':')));
  return name.mid(cut + 1);
}

// The name a file on disk is stored under: its bare name, cut at either separator.
QString storedName(const QString& path) { return entryName(paths::ExtractBareName(path)); }

// Reading the archive while appending to it would never end: refused before any change.
void refuseArchiveItself(const QString& file, const QString& archive) {
  if (ZipFile::SameFile(file, archive))
    throw Exception(QStringLiteral("%1: cannot add the archive to itself (\"%2\").").arg(archive, file));
}

bool writable(const ZipFile& zip) { return zip.Mode() == ZipMode::ReadWrite || zip.Mode() == ZipMode::Write; }

// Closes the archive on every way out of a bulk operation.
struct ClosesArchive {
  ZipFile& zip;
  ~ClosesArchive() {
    try {
      zip.Close();
    } catch (...) {
      // An error already on its way out wins over a failing close.
    }
  }
};

}  // namespace

TQnZipManager::TQnZipManager() : FZipFile(std::make_unique<ZipFile>()) {}

TQnZipManager::~TQnZipManager() = default;  // the reader/writer closes its archive

void TQnZipManager::Open(const QString& AZipFile) {
  FZipFile->Open(AZipFile, paths::FileExists(AZipFile) ? ZipMode::ReadWrite : ZipMode::Write);
}

void TQnZipManager::AddFile(const QString& AFileName) {
  if (!writable(*FZipFile)) return;
  refuseArchiveItself(AFileName, FZipFile->Stream().fileName());
  const QString name = storedName(AFileName);
  ZipRemoveEntry(name);
  FZipFile->Add(AFileName, name);
}

void TQnZipManager::ExtractFile(const QString& AFileName, const QString& ADestDir) {
  FZipFile->Extract(entryName(AFileName), ADestDir);
}

void TQnZipManager::DeleteFile(const QString& AFileName) { ZipRemoveEntry(entryName(AFileName)); }

void TQnZipManager::Close() { FZipFile->Close(); }

void TQnZipManager::ZipRemoveEntry(const QString& name) {
  const int index = FZipFile->IndexOf(name);
  if (index < 0) return;
  auto& records = FZipFile->Records();
  const quint32 removedAt = records[static_cast<size_t>(index)].LocalHeaderOffset;
  const quint32 dataEnd = FZipFile->DataEnd();
  quint32 nextAt = dataEnd;
  for (const auto& record : records)
    if (record.LocalHeaderOffset > removedAt && record.LocalHeaderOffset <= nextAt) nextAt = record.LocalHeaderOffset;
  const quint32 removedSize = nextAt - removedAt;
  records.erase(records.begin() + index);
  for (auto& record : records)
    if (record.LocalHeaderOffset > removedAt) record.LocalHeaderOffset -= removedSize;

  // The later entries move up in fixed blocks, never the whole tail at once.
  QFile& stream = FZipFile->Stream();
  QByteArray block;
  for (qint64 from = nextAt; from < dataEnd; from += kMoveBlock) {
    if (!stream.seek(from)) throw Exception(stream.errorString());
    block = stream.read(std::min<qint64>(kMoveBlock, dataEnd - from));
    if (block.isEmpty() || !stream.seek(from - removedSize) || stream.write(block) != block.size())
      throw Exception(QStringLiteral("%1: cannot move the entries (%2).").arg(stream.fileName(), stream.errorString()));
  }
  const quint32 newEnd = removedAt + (dataEnd - nextAt);
  if (!stream.resize(newEnd)) throw Exception(QStringLiteral("%1: %2").arg(stream.fileName(), stream.errorString()));
  FZipFile->SetDataEnd(newEnd);
}

bool TQnZipManager::SaveFiles(const QStringList& AFileList, const QString&, const QString& AOutZipFile,
                              bool AShowProgress) {
  // Refused before the archive is made: a directory past 65,535 entries could not be
  // written at the end, and the target among the sources would grow without end.
  if (AFileList.size() > zipformat::kMaxEntries)
    throw Exception(QStringLiteral("%1: cannot hold %2 files; an archive holds at most 65,535 entries without zip64.")
                        .arg(AOutZipFile)
                        .arg(AFileList.size()));
  for (const QString& name : AFileList) refuseArchiveItself(name, AOutZipFile);
  ProgressCycle progress(AShowProgress, QString(), static_cast<qint32>(AFileList.size()));
  FZipFile->Open(AOutZipFile, ZipMode::Write);
  const ClosesArchive closes{*FZipFile};
  for (const QString& name : AFileList) {
    progress.Step(QString());  // no cancel button: the answer is not looked at
    FZipFile->Add(name, storedName(name));
  }
  FZipFile->Close();  // here, so that an error writing the directory reaches the caller
  return !AFileList.isEmpty();
}

bool TQnZipManager::ExtractFiles(const QString& AZipFile, const QString& ADestDir, bool AShowProgress) {
  FZipFile->Close();
  const QString destination = paths::IncludeTrailingPathDelimiter(ADestDir);
  if (!paths::DirectoryExists(destination)) paths::ForceDirectories(destination);
  if (!ZipFile::IsValid(AZipFile)) return false;
  const ProgressCycle progress(AShowProgress, QString(), 0);  // the busy animation: there is no step per entry
  FZipFile->Open(AZipFile, ZipMode::Read);
  const ClosesArchive closes{*FZipFile};
  FZipFile->ExtractAll(destination);
  return true;
}

bool TQnZipManager::GetFileList(const QString& AZipFile, QStringList& AFileList) {
  FZipFile->Close();
  AFileList.clear();
  if (!ZipFile::IsValid(AZipFile)) return false;
  FZipFile->Open(AZipFile, ZipMode::Read);
  const ClosesArchive closes{*FZipFile};
  for (int i = 0; i < FZipFile->FileCount(); ++i) AFileList << FZipFile->FileName(i);
  return true;
}

bool UnzipFile(const QString& AZipFile, const QString& ADestDir, bool AShowProgress) {
  TQnZipManager manager;
  return manager.ExtractFiles(AZipFile, ADestDir, AShowProgress);
}

bool GetZipFileList(const QString& AZipFile, QStringList& AFileList) {
  TQnZipManager manager;
  return manager.GetFileList(AZipFile, AFileList);
}

QString GetFirstZipFileName(const QString& AZipFile) {
  QStringList names;
  GetZipFileList(AZipFile, names);
  return names.isEmpty() ? QString() : names.constFirst();
}
