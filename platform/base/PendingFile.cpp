#include "platform/base/PendingFile.h"

#include <fcntl.h>
#include <unistd.h>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QRandomGenerator>
#include <cerrno>
#include <cstring>

#include "platform/base/FileError.h"

namespace {

QString reason(int error) { return QString::fromLocal8Bit(std::strerror(error)); }

QByteArray folderOf(const QByteArray& path) {
  const qsizetype slash = path.lastIndexOf('/');
  if (slash < 0) return ".";
  return slash == 0 ? QByteArray("/") : path.left(slash);
}

// ".<name>.<six random letters>.tmp" beside the target: hidden, and recognisably ours.
QByteArray temporaryNameFor(const QByteArray& target) {
  const qsizetype slash = target.lastIndexOf('/');
  const QByteArray folder = slash < 0 ? QByteArray() : target.left(slash + 1);
  QByteArray suffix(6, 'a');
  for (char& c : suffix) c = static_cast<char>('a' + QRandomGenerator::global()->bounded(26));
  return folder + '.' + target.mid(slash + 1) + '.' + suffix + ".tmp";
}

// An unnamed file is given a name through its /proc entry; without /proc it cannot be.
bool canNameUnnamedFiles() {
  static const bool can = ::access("/proc/self/fd", X_OK) == 0;
  return can;
}

}  // namespace

PendingFile::~PendingFile() { discard(); }

void PendingFile::RemoveLeftovers(const QString& target) {
  const QFileInfo info(target);
  const QString prefix = QLatin1Char('.') + info.fileName() + QLatin1Char('.');
  QDir folder = info.dir();
  folder.setFilter(QDir::Files | QDir::Hidden | QDir::System);
  for (const QString& name : folder.entryList())
    if (name.size() == prefix.size() + 10 && name.startsWith(prefix) && name.endsWith(QLatin1String(".tmp")))
      folder.remove(name);
}

void PendingFile::discard() {
  if (FDescriptor >= 0) ::close(FDescriptor);
  if (!FTemporaryName.isEmpty()) ::unlink(FTemporaryName.constData());
  FDescriptor = -1;
  FTemporaryName.clear();
}

bool PendingFile::Begin(const QString& target) {
  discard();
  FTarget = target;
  FTargetName = QFile::encodeName(target);
#ifdef O_TMPFILE
  if (canNameUnnamedFiles()) {
    FDescriptor = ::open(folderOf(FTargetName).constData(), O_TMPFILE | O_RDWR | O_CLOEXEC, 0666);
    if (FDescriptor >= 0) return true;
    if (errno == EACCES || errno == EROFS || errno == EPERM || errno == ENOENT || errno == ENOSPC) return false;
    // The file system has no unnamed files: fall through to a named one.
  }
#endif
  for (int attempt = 0; attempt < 100; ++attempt) {
    const QByteArray name = temporaryNameFor(FTargetName);
    FDescriptor = ::open(name.constData(), O_CREAT | O_EXCL | O_RDWR | O_CLOEXEC, 0666);
    if (FDescriptor >= 0) {
      FTemporaryName = name;
      return true;
    }
    if (errno != EEXIST) return false;
  }
  return false;
}

bool PendingFile::TakeOwnerAndMode(const struct stat& owner) {
  struct stat mine {};
  if (::fstat(FDescriptor, &mine) != 0) return false;
  if ((mine.st_uid != owner.st_uid || mine.st_gid != owner.st_gid) &&
      ::fchown(FDescriptor, owner.st_uid, owner.st_gid) != 0)
    return false;
  return ::fchmod(FDescriptor, owner.st_mode & 07777) == 0;
}

void PendingFile::Write(const char* data, qint64 size) {
  while (size > 0) {
    const ssize_t written = ::write(FDescriptor, data, static_cast<size_t>(size));
    if (written < 0 && errno == EINTR) continue;
    if (written <= 0) throw FileError(FileAction::Write, FTarget, reason(written < 0 ? errno : ENOSPC));
    data += written;
    size -= written;
  }
}

bool PendingFile::linkUnnamedAs(const QByteArray& name) {
  const QByteArray self = "/proc/self/fd/" + QByteArray::number(FDescriptor);
  return ::linkat(AT_FDCWD, self.constData(), AT_FDCWD, name.constData(), AT_SYMLINK_FOLLOW) == 0;
}

bool PendingFile::Commit(bool replace) {
  if (::fdatasync(FDescriptor) != 0) throw FileError(FileAction::Write, FTarget, reason(errno));
  const bool placed = replace ? replaceTarget() : createTarget();
  discard();
  return placed;
}

bool PendingFile::createTarget() {
  // A link never replaces an existing name, so it is the check and the creation in one.
  const bool linked = FTemporaryName.isEmpty() ? linkUnnamedAs(FTargetName)
                                               : ::link(FTemporaryName.constData(), FTargetName.constData()) == 0;
  if (linked) return true;
  if (errno == EEXIST) return false;
  if (FTemporaryName.isEmpty()) throw FileError(FileAction::Create, FTarget, reason(errno));
  // No hard links here (some removable media): check, then rename.
  if (::access(FTargetName.constData(), F_OK) == 0) return false;
  return replaceTarget();
}

bool PendingFile::replaceTarget() {
  // An unnamed file needs a name of its own first: a link never replaces, a rename does.
  for (int attempt = 0; FTemporaryName.isEmpty(); ++attempt) {
    const QByteArray name = temporaryNameFor(FTargetName);
    if (linkUnnamedAs(name))
      FTemporaryName = name;
    else if (errno != EEXIST || attempt == 100)
      throw FileError(FileAction::Create, FTarget, reason(errno));
  }
  if (::rename(FTemporaryName.constData(), FTargetName.constData()) != 0)
    throw FileError(FileAction::Write, FTarget, reason(errno));
  FTemporaryName.clear();
  return true;
}
