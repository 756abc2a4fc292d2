#include "platform/base/TextFile.h"

#include <fcntl.h>
#include <sys/file.h>
#include <unistd.h>
#include <QFile>
#include <QFileInfo>
#include <cerrno>
#include <chrono>
#include <cstring>
#include <thread>

#include "platform/base/FileError.h"
#include "platform/base/PendingFile.h"

namespace textfile {

namespace {

using namespace std::chrono_literals;

// A writer that holds a settings file longer than this is stuck; the caller gets an error.
constexpr auto kLockWait = 10s;

QString reason(int error) { return QString::fromLocal8Bit(std::strerror(error)); }

class Descriptor {
 public:
  explicit Descriptor(int fd) : FFd(fd) {}
  ~Descriptor() {
    if (FFd >= 0) ::close(FFd);
  }
  Descriptor(const Descriptor&) = delete;
  Descriptor& operator=(const Descriptor&) = delete;
  int Fd() const { return FFd; }
  int Release() { return std::exchange(FFd, -1); }

 private:
  int FFd;
};

// Waits for the lock, polling so that a stuck holder gives an error, not a hang. A file
// system without locks is written unlocked rather than not at all.
bool lock(int fd, int kind) {
  const auto deadline = std::chrono::steady_clock::now() + kLockWait;
  auto pause = 1ms;
  for (;;) {
    if (::flock(fd, kind | LOCK_NB) == 0) return true;
    if (errno == EINTR) continue;
    if (errno != EWOULDBLOCK) return true;
    if (std::chrono::steady_clock::now() > deadline) return false;
    std::this_thread::sleep_for(pause);
    pause = std::min(pause * 2, std::chrono::milliseconds(8));
  }
}

Exception lockedError(const QString& path) {
  return FileError(FileAction::Open, path, QStringLiteral("Another program keeps the file locked."));
}

// Refuses FIFOs, devices and folders: their "content" is not a settings file.
void requireRegularFile(int fd, const QString& path, struct stat& status) {
  if (::fstat(fd, &status) != 0) throw FileError(FileAction::Read, path, reason(errno));
  if (!S_ISREG(status.st_mode)) throw FileError(FileAction::Read, path, QStringLiteral("Not a regular file."));
}

QByteArray readAll(int fd, const QString& path) {
  QByteArray bytes;
  char block[65536];
  for (off_t at = 0;;) {
    const ssize_t got = ::pread(fd, block, sizeof block, at);
    if (got < 0 && errno == EINTR) continue;
    if (got < 0) throw FileError(FileAction::Read, path, reason(errno));
    if (got == 0) return bytes;
    bytes.append(block, got);
    at += got;
  }
}

// The file a link points to: the link stays a link and its target gets the content, also a
// target not made yet (the link is followed by hand then; a loop stays a link and fails to open).
QString resolved(const QString& path) {
  constexpr int kMaxLinkHops = 40;  // as the system's own limit
  QString target = path;
  for (int hop = 0; hop < kMaxLinkHops && QFileInfo(target).isSymLink(); ++hop)
    target = QFileInfo(target).symLinkTarget();
  const QString canonical = QFileInfo(target).canonicalFilePath();
  return canonical.isEmpty() ? target : canonical;
}

// Opens `path` for writing (creating it when missing) and locks it exclusively. When the
// file was replaced while we waited, the lock is on the old one: lock the new one instead.
int openLockedForUpdate(const QString& path) {
  const QByteArray name = QFile::encodeName(path);
  for (;;) {
    const int fd = ::open(name.constData(), O_RDWR | O_CREAT | O_CLOEXEC | O_NONBLOCK, 0666);
    if (fd < 0) throw FileError(errno == ENOENT ? FileAction::Create : FileAction::Open, path, reason(errno));
    Descriptor held(fd);  // closed, and so unlocked, on every way out but success
    struct stat locked {};
    requireRegularFile(fd, path, locked);
    if (!lock(fd, LOCK_EX)) throw lockedError(path);
    struct stat current {};
    if (::stat(name.constData(), &current) == 0 && current.st_dev == locked.st_dev && current.st_ino == locked.st_ino)
      return held.Release();
  }
}

// In place: reserve the space first so that a full disk fails before the first old byte
// is overwritten; readers wait on our lock until the new bytes are complete.
void writeInPlace(int fd, const QString& path, const QByteArray& bytes) {
  if (::fallocate(fd, FALLOC_FL_KEEP_SIZE, 0, bytes.size()) != 0 && errno != EOPNOTSUPP && errno != ENOSYS &&
      bytes.size() > 0)
    throw FileError(FileAction::Write, path, reason(errno));
  for (qsizetype at = 0; at < bytes.size();) {
    const ssize_t written = ::pwrite(fd, bytes.constData() + at, bytes.size() - at, at);
    if (written < 0 && errno == EINTR) continue;
    if (written <= 0) throw FileError(FileAction::Write, path, reason(written < 0 ? errno : ENOSPC));
    at += written;
  }
  if (::ftruncate(fd, bytes.size()) != 0 || ::fdatasync(fd) != 0)
    throw FileError(FileAction::Write, path, reason(errno));
}

void replace(int lockedFd, const QString& path, const QByteArray& bytes) {
  struct stat old {};
  if (::fstat(lockedFd, &old) != 0) throw FileError(FileAction::Write, path, reason(errno));
  PendingFile next;
  if (!next.Begin(path) || !next.TakeOwnerAndMode(old)) return writeInPlace(lockedFd, path, bytes);
  next.Write(bytes);
  next.Commit(true);
}

}  // namespace

std::optional<QByteArray> ReadBytes(const QString& path) {
  // Non-blocking: a FIFO put where a settings file belongs must not hang the reader.
  const Descriptor file(::open(QFile::encodeName(path).constData(), O_RDONLY | O_CLOEXEC | O_NONBLOCK));
  if (file.Fd() < 0) {
    if (errno == ENOENT || errno == ENOTDIR) return std::nullopt;
    throw FileError(FileAction::Open, path, reason(errno));
  }
  struct stat status {};
  requireRegularFile(file.Fd(), path, status);
  if (!lock(file.Fd(), LOCK_SH)) throw lockedError(path);
  return readAll(file.Fd(), path);
}

void UpdateBytes(const QString& path, const std::function<bool(QByteArray&)>& change) {
  const QString target = resolved(path);
  const Descriptor held(openLockedForUpdate(target));
  PendingFile::RemoveLeftovers(target);
  QByteArray bytes = readAll(held.Fd(), target);
  if (change(bytes)) replace(held.Fd(), target, bytes);
}

std::optional<DecodedText> Read(const QString& path) {
  const std::optional<QByteArray> bytes = ReadBytes(path);
  if (!bytes) return std::nullopt;
  return DecodeText(*bytes);
}

void Update(const QString& path, const std::function<bool(DecodedText&)>& change) {
  UpdateBytes(path, [&](QByteArray& bytes) {
    DecodedText content = DecodeText(bytes);
    if (!change(content)) return false;
    bytes = EncodeText(content.Text, content.Encoding);
    return true;
  });
}

}  // namespace textfile
