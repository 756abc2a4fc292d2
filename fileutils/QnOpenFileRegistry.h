// The run-long registry pairing file handles with the names of their files, and the
// registered window message "QNAPPLYSHOWED". Meant for the user-interface thread.
#pragma once

#include <QString>
#include <memory>
#include <vector>

class TqnHandleFileObject {
 public:
  TqnHandleFileObject(quint32 handle, QString fileName) : HFileRes(handle), FileName(std::move(fileName)) {}
  quint32 HFileRes;
  QString FileName;
};

class TqnHandleFileObjectList {
 public:
  // Appends a record; duplicates are allowed.
  void AddFileItem(quint32 AHFileRes, const QString& AFilename);
  // nullptr outside the range.
  TqnHandleFileObject* GetFileItem(qint32 AIndex) const;
  // The first record whose name equals `AFilename` without regard to case.
  TqnHandleFileObject* GetFileItemByName(const QString& AFilename) const;
  // Removes and frees the first record GetFileItemByName finds.
  void DeleteFileItemByName(const QString& AFilename);
  TqnHandleFileObject* GetFileItemByHandle(quint32 AHFileRes) const;
  int Count() const { return static_cast<int>(FItems.size()); }

 private:
  std::vector<std::unique_ptr<TqnHandleFileObject>> FItems;
};

extern std::unique_ptr<TqnHandleFileObjectList> OpenFileRegistry;
extern quint32 ApplyShowedMessage;

// Start-up: registers "QNAPPLYSHOWED", then makes the empty registry. Shut-down frees it.
void OpenFileRegistryStartUp();
void OpenFileRegistryShutDown();
