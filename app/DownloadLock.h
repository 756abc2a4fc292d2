// One download at a time into a package file, for the user: a second window of the tool
// asked to fetch into the same file while the first still does is refused, instead of both
// writing (and resuming) one file. The lock lives in the user's runtime folder and dies with
// its process, so a killed download never blocks the next one.
//
// Threads: one thread.
#pragma once

#include <QLockFile>
#include <QString>
#include <memory>

class DownloadLock {
 public:
  // Takes the lock for `targetPath` if it is free, without waiting.
  explicit DownloadLock(const QString& targetPath);
  // False when another download into the same file holds it; true also when the user has
  // no runtime folder to lock in.
  bool Held() const { return FHeld; }

 private:
  std::unique_ptr<QLockFile> FLock;
  bool FHeld = true;
};
