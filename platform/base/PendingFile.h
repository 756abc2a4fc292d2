// A file's next content, written in the target's own folder and put at the target's name
// only when it is complete, so that a reader, a crash or a kill never sees half a file.
// Where the file system allows it the pending file has no name at all until it is put in
// place, so a writer that is killed leaves nothing behind.
//
// Threads: one object per writer; nothing is shared.
#pragma once

#include <sys/stat.h>
#include <QByteArray>
#include <QString>

class PendingFile {
 public:
  PendingFile() = default;
  ~PendingFile();  // discards what was not committed
  PendingFile(const PendingFile&) = delete;
  PendingFile& operator=(const PendingFile&) = delete;

  // Removes what writers of `target` that were killed left behind. Only for a caller that
  // holds the target's lock, so that no living writer's pending file goes with them.
  static void RemoveLeftovers(const QString& target);

  // Starts the new content of `target`. False (errno set) when its folder takes no new file.
  bool Begin(const QString& target);
  // Gives the pending file `owner`'s user, group and permission bits. False when the
  // system refuses (another user's file, written by someone who may not give it away).
  bool TakeOwnerAndMode(const struct stat& owner);
  // Appends `size` bytes. Raises Exception (the target's write error) on failure.
  void Write(const char* data, qint64 size);
  void Write(const QByteArray& bytes) { Write(bytes.constData(), bytes.size()); }
  // Flushes to the disk and puts the file at the target's name: replacing what is there when
  // `replace`, else only when nothing is (false then, with the pending file discarded).
  // Raises Exception when it cannot be put in place; the target is then as it was.
  bool Commit(bool replace);

 private:
  void discard();
  bool linkUnnamedAs(const QByteArray& name);
  bool createTarget();
  bool replaceTarget();

  QString FTarget;
  QByteArray FTargetName;     // the target in the system's encoding
  QByteArray FTemporaryName;  // empty while the file has no name
  int FDescriptor = -1;
};
