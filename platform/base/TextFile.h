// Whole text files that several programs share (settings files, the registry's files), in
// the encodings of TextCodec.h.
//
// Locking: an advisory lock (flock) on the file itself, shared to read and exclusive from
// the read of a read-modify-write to its replace; a writer that waited re-opens the file when
// it was replaced meanwhile, so it always edits the newest content. The lock sits on the file
// rather than on a lock file beside it because a lock file needs a folder we may write in
// (a read-only folder must still be writable in place), leaves a file that users see, and
// outlives a crashed writer; a flock dies with its holder. Only our own code takes the lock.
//
// Writing: the new content replaces the file through a PendingFile in the same folder, with
// the old file's owner and permissions, so the file is never half-written, also when the
// writer is killed. Where the folder takes no new file, or the old owner cannot be kept
// (another user's file), the file is written in place, as the profile functions do: the
// space is reserved first, so a full disk leaves the old bytes, and readers wait on the lock.
//
// Threads: any; calls on one file from several threads are serialised like processes.
#pragma once

#include <QString>
#include <functional>
#include <optional>

#include "platform/base/TextCodec.h"

namespace textfile {

// The decoded content of `path`, or std::nullopt when there is no such file. Raises
// Exception when the file is there but cannot be read (no permission, not a regular file,
// locked for too long).
std::optional<DecodedText> Read(const QString& path);

// One read-modify-write of `path`: `change` gets the current content (empty, without a mark,
// when the file did not exist) and edits it; when it answers false nothing is written. A
// missing file is created (not its folder). Raises Exception when the file cannot be read,
// locked or written; the file then keeps its old content. Exceptions of `change` pass through.
void Update(const QString& path, const std::function<bool(DecodedText& content)>& change);

// The same for files that are bytes, not text in one of our encodings.
std::optional<QByteArray> ReadBytes(const QString& path);
void UpdateBytes(const QString& path, const std::function<bool(QByteArray& bytes)>& change);

}  // namespace textfile
