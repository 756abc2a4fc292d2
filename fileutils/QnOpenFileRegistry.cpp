#include "fileutils/QnOpenFileRegistry.h"

#include "platform/os/RegisteredMessages.h"

std::unique_ptr<TqnHandleFileObjectList> OpenFileRegistry;
quint32 ApplyShowedMessage = 0;

namespace {

// Same length and, unit by unit, the same after lower-casing each code unit on its own.
bool sameNameIgnoringCase(const QString& a, const QString& b) {
  if (a.size() != b.size()) return false;
  for (qsizetype i = 0; i < a.size(); ++i)
    if (a[i].toLower() != b[i].toLower()) return false;
  return true;
}

}  // namespace

void TqnHandleFileObjectList::AddFileItem(quint32 AHFileRes, const QString& AFilename) {
  FItems.push_back(std::make_unique<TqnHandleFileObject>(AHFileRes, AFilename));
}

TqnHandleFileObject* TqnHandleFileObjectList::GetFileItem(qint32 AIndex) const {
  return AIndex < 0 || AIndex >= Count() ? nullptr : FItems[static_cast<size_t>(AIndex)].get();
}

TqnHandleFileObject* TqnHandleFileObjectList::GetFileItemByName(const QString& AFilename) const {
  for (const auto& item : FItems)
    if (sameNameIgnoringCase(item->FileName, AFilename)) return item.get();
  return nullptr;
}

void TqnHandleFileObjectList::DeleteFileItemByName(const QString& AFilename) {
  const TqnHandleFileObject* found = GetFileItemByName(AFilename);
  std::erase_if(FItems, [found](const auto& item) { return item.get() == found; });
}

TqnHandleFileObject* TqnHandleFileObjectList::GetFileItemByHandle(quint32 AHFileRes) const {
  for (const auto& item : FItems)
    if (item->HFileRes == AHFileRes) return item.get();
  return nullptr;
}

void OpenFileRegistryStartUp() {
  ApplyShowedMessage = RegisterWindowMessage(QStringLiteral("QNAPPLYSHOWED"));
  OpenFileRegistry = std::make_unique<TqnHandleFileObjectList>();
}

void OpenFileRegistryShutDown() { OpenFileRegistry.reset(); }
