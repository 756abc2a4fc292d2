#include "platform/os/RegisteredMessages.h"

#include <QHash>
#include <mutex>

quint32 RegisterWindowMessage(const QString& name) {
  static std::mutex mutex;
  static QHash<QString, quint32> identifiers;
  const std::lock_guard lock(mutex);
  const QString key = name.toCaseFolded();
  auto found = identifiers.constFind(key);
  if (found != identifiers.constEnd()) return *found;
  const quint32 identifier = 0xC000 + static_cast<quint32>(identifiers.size());
  identifiers.insert(key, identifier);
  return identifier;
}
