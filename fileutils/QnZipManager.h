// The system's zip archive manager: extract a whole archive into a folder it makes, list
// an archive's names, write a new archive from files, keep one open for update with files
// added, replaced or removed. Errors of the archive and of file access reach the caller
// after the manager has closed what it opened.
#pragma once

#include <QString>
#include <QStringList>
#include <memory>

#include "platform/zip/ZipFile.h"

class TQnZipManager {
 public:
  TQnZipManager();
  ~TQnZipManager();
  TQnZipManager(const TQnZipManager&) = delete;
  TQnZipManager& operator=(const TQnZipManager&) = delete;

  // Opens `AZipFile` for update when such a file exists, otherwise creates it.
  void Open(const QString& AZipFile);
  // Stores `AFileName` under its bare name (the text after its last "/", "\\" or ":"),
  // replacing an entry of that name; does nothing unless an archive is open for update or
  // created. The archive itself is refused before anything changes.
  void AddFile(const QString& AFileName);
  // Extracts the entry named by `AFileName` into `ADestDir`. The name is cut after its last
  // "\\" or ":"; forward slashes stay, so "docs/readme.txt" reaches the entry inside the
  // folder docs, however its separators are stored.
  void ExtractFile(const QString& AFileName, const QString& ADestDir);
  // Removes the entry named by `AFileName` (cut as for ExtractFile); nothing when there is none.
  void DeleteFile(const QString& AFileName);
  void Close();

  // Writes `AOutZipFile` holding the listed files under their bare names; false for an
  // empty list (an empty archive is still written). `ABaseDir` is not used. More than
  // 65,535 files, or the target among them, are refused before anything is written.
  bool SaveFiles(const QStringList& AFileList, const QString& ABaseDir, const QString& AOutZipFile, bool AShowProgress);
  // Extracts every entry into `ADestDir` (made first); false without extracting when
  // `AZipFile` is not a zip archive.
  bool ExtractFiles(const QString& AZipFile, const QString& ADestDir, bool AShowProgress);
  // Fills `AFileList` with the entry names in directory order, as they are extracted ("/"
  // between folders); false (and an empty list) when `AZipFile` is not a zip archive.
  bool GetFileList(const QString& AZipFile, QStringList& AFileList);
  // The most bytes one extraction (ExtractFile, ExtractFiles) may write; an archive that
  // would write more, or more than the destination has free, is refused before anything
  // is written. No limit but the free space at first.
  void SetExtractLimit(quint64 bytes) { FZipFile->SetExtractLimit(bytes); }

 protected:
  std::unique_ptr<ZipFile> FZipFile;

 private:
  void ZipRemoveEntry(const QString& name);
};

// Module functions: a manager for one call.
bool UnzipFile(const QString& AZipFile, const QString& ADestDir, bool AShowProgress);
bool GetZipFileList(const QString& AZipFile, QStringList& AFileList);
// The first entry's name as it is extracted (relative to the destination, "/" between
// folders); empty for an empty archive or a file that is not one.
QString GetFirstZipFileName(const QString& AZipFile);
