#include "platform/os/RegisteredMessages.h"

#include <QCryptographicHash>
#include <QFile>
#include <QHash>
#include <QLockFile>
#include <QStandardPaths>
#include <mutex>
#include <optional>

namespace {

constexpr quint32 kFirstIdentifier = 0xC000;
constexpr quint32 kLastIdentifier = 0xFFFF;
constexpr int kLockWaitMs = 10000;

// A number from the name alone, for when the shared table cannot be used.
quint32 derivedIdentifier(const QString& key) {
  const QByteArray digest = QCryptographicHash::hash(key.toUtf8(), QCryptographicHash::Sha256);
  const quint32 value = static_cast<uchar>(digest[0]) << 8 | static_cast<uchar>(digest[1]);
  return kFirstIdentifier + value % (kLastIdentifier - kFirstIdentifier + 1);
}

// The identifier of `key` in the session's table, added when missing; nothing when the
// table cannot be read or written. Lines are "<identifier> <name, percent-encoded>".
std::optional<quint32> sessionIdentifier(const QString& key) {
  const QString folder = QStandardPaths::writableLocation(QStandardPaths::RuntimeLocation);
  if (folder.isEmpty()) return std::nullopt;
  const QString tablePath = folder + QStringLiteral("/quarnell-registered-messages");
  QLockFile lock(tablePath + QStringLiteral(".lock"));
  if (!lock.tryLock(kLockWaitMs)) return std::nullopt;

  QFile table(tablePath);
  if (!table.open(QIODevice::ReadWrite | QIODevice::Append)) return std::nullopt;
  table.seek(0);
  const QByteArray encoded = key.toUtf8().toPercentEncoding();
  quint32 last = kFirstIdentifier - 1;
  for (const QByteArray& line : table.readAll().split('\n')) {
    const qsizetype space = line.indexOf(' ');
    if (space <= 0) continue;
    bool ok = false;
    const quint32 identifier = line.left(space).toUInt(&ok);
    if (!ok) continue;
    if (line.mid(space + 1) == encoded) return identifier;
    last = std::max(last, identifier);
  }
  if (last >= kLastIdentifier) return std::nullopt;
  const QByteArray entry = QByteArray::number(last + 1) + ' ' + encoded + '\n';
  if (table.write(entry) != entry.size() || !table.flush()) return std::nullopt;
  return last + 1;
}

}  // namespace

quint32 RegisterWindowMessage(const QString& name) {
  static std::mutex mutex;
  static QHash<QString, quint32> identifiers;  // this process's answers, so each name is looked up once
  const std::lock_guard lock(mutex);
  const QString key = name.toCaseFolded();
  auto found = identifiers.constFind(key);
  if (found != identifiers.constEnd()) return *found;
  const quint32 identifier = sessionIdentifier(key).value_or(derivedIdentifier(key));
  identifiers.insert(key, identifier);
  return identifier;
}
