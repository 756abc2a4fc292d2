// Listing and copying files: a folder's files by name pattern, one file in 49,152-byte
// blocks with optional progress, a pattern's files into a folder, a whole folder.
#pragma once

#include <QString>
#include <QStringList>
#include <functional>

// Receives the copy's progress instead of the progress window.
class TProgressNotifier {
 public:
  enum Kind : quint8 { Start = 0, Position = 2, End = 3 };
  std::function<void(const QString& text, qint32 value, quint8 kind)> OnNotify;
  void Notify(const QString& text, qint32 value, quint8 kind) const {
    if (OnNotify) OnNotify(text, value, kind);
  }
};

// Adds the bare names of the regular files in `ADir` matching `AMask` (hidden ones included,
// sub-folders, FIFOs, sockets and devices not); empties `AList` first unless `AAppend`.
void ListFolderFiles(const QString& ADir, const QString& AMask, QStringList& AList, bool AAppend = false);

// Copies one file. An existing `ADest` is deleted first unless `ASkipExisting`. False,
// copying nothing, when both name the same file, when `ADest` exists and `ASkipExisting`,
// or when the source is not a regular file (missing, a FIFO, socket or device). The copy is
// written under a temporary name in the target's folder and takes `ADest`'s name only when
// complete. Raises Exception when a file cannot be opened, read or written; `ADest` is then
// not made.
bool CopyFileWithProgress(const QString& ASource, const QString& ADest, bool ASkipExisting, bool AShowProgress,
                          const TProgressNotifier* ANotifier = nullptr);

// Copies the files matching `ASourceMask` (folder and pattern) into `ADestDir` (which must
// end with "/"); true when every one was copied.
bool CopyFolderFiles(const QString& ASourceMask, const QString& ADestDir, bool ASkipExisting);

// Copies a folder by the desktop's rules (see Shell::CopyFolder); false when `ASource` is
// not a folder or the copy failed.
bool ShellCopyFolder(const QString& ASource, const QString& ADest, bool AShowProgress = false,
                     const QString& AProgressTitle = QString());
