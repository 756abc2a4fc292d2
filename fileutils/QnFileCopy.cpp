#include "fileutils/QnFileCopy.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QScopeGuard>
#include <cerrno>
#include <cstring>

#include "platform/base/FileError.h"
#include "platform/base/Paths.h"
#include "platform/base/PendingFile.h"
#include "platform/base/ProgressSink.h"
#include "platform/base/Wildcards.h"
#include "platform/os/Shell.h"

namespace {

constexpr qint64 kBlockSize = 49152;

bool sameFile(const QString& a, const QString& b) {
  const QString canonical = QFileInfo(a).canonicalFilePath();
  return !canonical.isEmpty() && canonical == QFileInfo(b).canonicalFilePath();
}

// Opens without blocking (a FIFO swapped in after the check would otherwise wait for a
// writer forever) and only a regular file.
void openSource(QFile& file, const QString& path) {
  const int fd = ::open(QFile::encodeName(path).constData(), O_RDONLY | O_CLOEXEC | O_NONBLOCK);
  if (fd < 0) throw FileError(FileAction::Open, path, QString::fromLocal8Bit(std::strerror(errno)));
  struct stat status {};
  if (::fstat(fd, &status) != 0 || !S_ISREG(status.st_mode)) {
    ::close(fd);
    throw FileError(FileAction::Open, path, QStringLiteral("Not a regular file."));
  }
  file.setFileName(path);
  if (!file.open(fd, QIODevice::ReadOnly, QFileDevice::AutoCloseHandle)) {
    ::close(fd);
    throw FileError(FileAction::Open, file);
  }
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
  // Regular files only: a FIFO, socket or device has no content to copy, and opening one
  // can wait for ever.
  for (const QString& name : folder.entryList(QDir::Files | QDir::Hidden, QDir::Unsorted))
    if (MatchesFileMask(name, AMask)) AList << name;
}

bool CopyFileWithProgress(const QString& ASource, const QString& ADest, bool ASkipExisting, bool AShowProgress,
                          const TProgressNotifier* ANotifier) {
  if (sameFile(ASource, ADest)) return false;  // deleting the target would delete the source
  if (paths::FileExists(ADest)) {
    if (ASkipExisting) return false;
    QFile::remove(ADest);
  }
  if (!QFileInfo(ASource).isFile()) return false;  // missing, or a FIFO, socket or device
  QFile source;
  openSource(source, ASource);
  // The copy gets the target's name only when complete: a copy cut short (killed, disk
  // full) leaves no truncated file that a later copy with ASkipExisting would keep.
  PendingFile dest;
  if (!dest.Begin(ADest)) throw FileError(FileAction::Create, ADest, QString::fromLocal8Bit(std::strerror(errno)));
  const auto total = static_cast<qint32>(source.size());
  const CopyProgress progress{AShowProgress, ANotifier};
  progress.report(QStringLiteral("Sto copiando il file ") + paths::ExtractBareName(ASource) + QStringLiteral(" in ") +
                      paths::ExtractBareName(ADest),
                  total, TProgressNotifier::Start);
  const auto endReport = qScopeGuard([&] { progress.report(QString(), 0, TProgressNotifier::End); });

  QByteArray block(kBlockSize, Qt::Uninitialized);
  qint64 copied = 0;
  for (;;) {
    const qint64 got = source.read(block.data(), kBlockSize);
    if (got < 0) throw FileError(FileAction::Read, ASource, source.errorString());
    if (got == 0) break;
    dest.Write(block.constData(), got);
    copied += got;
    progress.report(QString(), static_cast<qint32>(copied), TProgressNotifier::Position);
  }
  return dest.Commit(!ASkipExisting);
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
