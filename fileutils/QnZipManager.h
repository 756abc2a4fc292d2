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
  // Stores `AFileName` under its bare name, replacing an entry of that name; does nothing
  // unless an archive is open for update or created.
  void AddFile(const QString& AFileName);
  // Extracts the entry with the bare name of `AFileName` into `ADestDir`.
  void ExtractFile(const QString& AFileName, const QString& ADestDir);
  // Removes the entry with the bare name of `AFileName`; nothing when there is none.
  void DeleteFile(const QString& AFileName);
  void Close();

  // Writes `AOutZipFile` holding the listed files under their bare names; false for an
  // empty list (an empty archive is still written). `ABaseDir` is not used.
  bool SaveFiles(const QStringList& AFileList, const QString& ABaseDir, const QString& AOutZipFile, bool AShowProgress);
  // Extracts every entry into `ADestDir` (made first); false without extracting when
  // `AZipFile` is not a zip archive.
  bool ExtractFiles(const QString& AZipFile, const QString& ADestDir, bool AShowProgress);
  // Fills `AFileList` with the entry names in directory order; false (and an empty list)
  // when `AZipFile` is not a zip archive.
  bool GetFileList(const QString& AZipFile, QStringList& AFileList);

 protected:
  std::unique_ptr<ZipFile> FZipFile;

 private:
  void ZipRemoveEntry(const QString& name);
};

// Module functions: a manager for one call.
bool UnzipFile(const QString& AZipFile, const QString& ADestDir, bool AShowProgress);
bool GetZipFileList(const QString& AZipFile, QStringList& AFileList);
QString GetFirstZipFileName(const QString& AZipFile);
