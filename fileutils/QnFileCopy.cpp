#include "fileutils/QnFileCopy.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>

#include "platform/base/FileError.h"
#include "platform/base/Paths.h"
#include "platform/base/ProgressSink.h"
#include "platform/os/Shell.h"
#include "platform/base/Wildcards.h"

namespace {

constexpr qint64 kBlockSize = 49152;

bool sameFile(const QString& a, const QString& b) {
  const QString canonical = QFileInfo(a).canonicalFilePath();
  return !canonical.isEmpty() && canonical == QFileInfo(b).canonicalFilePath();
}

void open(QFile& file, QIODevice::OpenMode mode) {
  if (!file.open(mode))
    throw FileError(FileAction::Open, file);
}

// Tells the receiver, or else the progress window, where the copy stands.
struct CopyProgress {
  bool shown;
  const TProgressNotifier* notifier;
  void report(const QString& text, qint32 value, quint8 kind) const {
    if (!shown) return;
    if (notifier) {
      notifier->Notify(text, value, kind);
      return;
    }
    ProgressSink& sink = ProgressSink::Current();
    switch (kind) {
      case TProgressNotifier::Start: sink.Start(text, value); break;
      case TProgressNotifier::Position: sink.StepValue(value); break;
      case TProgressNotifier::End: sink.Stop(); break;
    }
  }
};

}  // namespace

void ListFolderFiles(const QString& ADir, const QString& AMask, QStringList& AList, bool AAppend) {
  if (!AAppend) AList.clear();
  const QDir folder(paths::IncludeTrailingPathDelimiter(ADir));
  for (const QString& name : folder.entryList(QDir::Files | QDir::Hidden | QDir::System, QDir::Unsorted))
    if (MatchesFileMask(name, AMask)) AList << name;
}

bool CopyFileWithProgress(const QString& ASource, const QString& ADest, bool ASkipExisting, bool AShowProgress,
                          const TProgressNotifier* ANotifier) {
  if (!paths::FileExists(ASource) || sameFile(ASource, ADest)) return false;
  if (paths::FileExists(ADest)) {
    if (ASkipExisting) return false;
    QFile::remove(ADest);
  }
  QFile source(ASource), dest(ADest);
  open(source, QIODevice::ReadOnly);
  open(dest, QIODevice::WriteOnly | QIODevice::Truncate);
  const auto total = static_cast<qint32>(source.size());
  const CopyProgress progress{AShowProgress, ANotifier};
  progress.report(QStringLiteral("Sto copiando il file ") + paths::ExtractBareName(ASource) + QStringLiteral(" in ") +
                      paths::ExtractBareName(ADest),
                  total, TProgressNotifier::Start);
  struct EndReport {
    const CopyProgress& progress;
    ~EndReport() { progress.report(QString(), 0, TProgressNotifier::End); }
  } endReport{progress};

  QByteArray block(kBlockSize, Qt::Uninitialized);
  qint64 copied = 0;
  while (!source.atEnd()) {
    const qint64 got = source.read(block.data(), kBlockSize);
    if (got < 0) throw FileError(FileAction::Read, ASource, source.errorString());
    if (got == 0) break;
    if (dest.write(block.constData(), got) != got)
      throw FileError(FileAction::Write, ADest, dest.errorString());
    copied += got;
    progress.report(QString(), static_cast<qint32>(copied), TProgressNotifier::Position);
  }
  return true;
}

bool CopyFolderFiles(const QString& ASourceMask, const QString& ADestDir, bool ASkipExisting) {
  if (!paths::DirectoryExists(ADestDir)) paths::ForceDirectories(ADestDir);
  const QString folder = paths::ExtractFilePath(ASourceMask);
  QStringList names;
  ListFolderFiles(folder, paths::ExtractBareName(ASourceMask), names);
  bool all = true;
  for (const QString& name : names)
    if (!CopyFileWithProgress(folder + name, ADestDir + name, ASkipExisting, false)) all = false;
  return all;
}

bool ShellCopyFolder(const QString& ASource, const QString& ADest, bool, const QString&) {
  if (!paths::DirectoryExists(ASource)) return false;
  const BusyScope busy;
  auto withoutTrailing = [](QString path) {
    if (path.size() > 1 && path.endsWith(QLatin1Char('/'))) path.chop(1);
    return path;
  };
  return Shell::Current().CopyFolder(withoutTrailing(ASource), withoutTrailing(ADest));
}
