#include "app/PackageFile.h"

#include <fcntl.h>
#include <string.h>
#include <sys/stat.h>
#include <unistd.h>

#include <QFileInfo>

#include "platform/base/FileError.h"

bool PackageFile::ContinueAt(qint64 good) {
  // Opened without following a link, then checked on the open file itself: a name swapped
  // in the shared folder between a check and the open cannot redirect our writes. Without
  // waiting, too: opening a named pipe for writing would wait for a reader forever.
  const int fd =
      ::open(QFile::encodeName(FFile.fileName()).constData(), O_WRONLY | O_NOFOLLOW | O_CLOEXEC | O_NONBLOCK);
  if (fd < 0) return false;
  struct stat status {};
  const bool ours = ::fstat(fd, &status) == 0 && S_ISREG(status.st_mode) && status.st_nlink == 1 &&
                    status.st_uid == ::geteuid() && status.st_size >= good;
  if (!ours || ::ftruncate(fd, good) != 0 || ::lseek(fd, good, SEEK_SET) != good ||
      !FFile.open(fd, QIODevice::WriteOnly | QIODevice::Unbuffered, QFileDevice::AutoCloseHandle)) {
    ::close(fd);
    return false;
  }
  FWritten = good;
  return true;
}

void PackageFile::Append(const QByteArray& bytes) {
  if (!FFile.isOpen()) openEmptied();
  write(bytes);
}

void PackageFile::Replace(const QByteArray& bytes) {
  if (!FFile.isOpen()) openEmptied();
  if (!FFile.resize(0) || !FFile.seek(0)) throw FileError(FileAction::Write, FFile);
  FWritten = 0;
  write(bytes);
}

void PackageFile::Sync() {
  if (FFile.isOpen() && ::fdatasync(FFile.handle()) != 0)
    throw FileError(FileAction::Write, FFile.fileName(), QString::fromLocal8Bit(strerror(errno)));
}

// Always a new file: opening the one at the name would write through a symbolic or hard link
// to a file elsewhere, or into a file that another user of a shared folder owns and may
// change between the signature check and the install.
void PackageFile::openEmptied() {
  const bool named = QFileInfo(FFile.fileName()).isSymLink() || FFile.exists();
  if ((named && !FFile.remove()) || !FFile.open(QIODevice::WriteOnly | QIODevice::NewOnly | QIODevice::Unbuffered))
    throw FileError(FileAction::Create, FFile);
}

void PackageFile::write(const QByteArray& bytes) {
  if (FFile.write(bytes) != bytes.size()) throw FileError(FileAction::Write, FFile);
  FWritten += bytes.size();
}
