#include "platform/os/Registry.h"

#include <QDir>
#include <QFile>
#include <QJsonArray>
#include <QJsonDocument>
#include <QSaveFile>
#include <QStandardPaths>

#include "platform/base/Exception.h"

// A key is {"keys": {name: key, ...}, "values": [{"name", "type", "data"}, ...]}; values
// keep their order of creation, which is the order enumeration gives.
namespace {

QString& storageFolder() {
  static QString folder;
  return folder;
}

QString rootName(HKEY root) {
  switch (root) {
    case HKEY_CLASSES_ROOT: return QStringLiteral("HKEY_CLASSES_ROOT");
    case HKEY_CURRENT_USER: return QStringLiteral("HKEY_CURRENT_USER");
    case HKEY_LOCAL_MACHINE: return QStringLiteral("HKEY_LOCAL_MACHINE");
    case HKEY_USERS: return QStringLiteral("HKEY_USERS");
    default: return {};
  }
}

QString rootFile(HKEY root) { return Registry::StorageFolder() + QLatin1Char('/') + rootName(root) + ".json"; }

QJsonObject readRoot(HKEY root) {
  QFile file(rootFile(root));
  if (!file.open(QIODevice::ReadOnly)) return {};
  return QJsonDocument::fromJson(file.readAll()).object();
}

bool writeRoot(HKEY root, const QJsonObject& tree) {
  QDir().mkpath(Registry::StorageFolder());
  QSaveFile file(rootFile(root));
  if (!file.open(QIODevice::WriteOnly)) return false;
  file.write(QJsonDocument(tree).toJson(QJsonDocument::Compact));
  return file.commit();
}

QStringList splitKey(const QString& key) { return key.split(QLatin1Char('\\'), Qt::SkipEmptyParts); }

// The name under which `part` is stored among `keys` (key names ignore case), or "".
QString storedName(const QJsonObject& keys, const QString& part) {
  for (auto it = keys.begin(); it != keys.end(); ++it)
    if (it.key().compare(part, Qt::CaseInsensitive) == 0) return it.key();
  return {};
}

// Walks `path` from `tree`; makes missing keys when `create`. False when a key is missing.
bool walk(QJsonObject tree, const QStringList& path, bool create, QJsonObject* found) {
  if (path.isEmpty()) {
    *found = tree;
    return true;
  }
  QJsonObject keys = tree.value("keys").toObject();
  QString name = storedName(keys, path.front());
  if (name.isEmpty() && !create) return false;
  if (name.isEmpty()) name = path.front();
  return walk(keys.value(name).toObject(), path.mid(1), create, found);
}

// Stores `key` at `path` under `tree`, making the keys on the way.
QJsonObject replaced(QJsonObject tree, const QStringList& path, const QJsonObject& key) {
  if (path.isEmpty()) return key;
  QJsonObject keys = tree.value("keys").toObject();
  QString name = storedName(keys, path.front());
  if (name.isEmpty()) name = path.front();
  keys.insert(name, replaced(keys.value(name).toObject(), path.mid(1), key));
  tree.insert("keys", keys);
  return tree;
}

QJsonObject findValue(const QJsonObject& key, const QString& name) {
  for (const QJsonValue& value : key.value("values").toArray())
    if (value.toObject().value("name").toString().compare(name, Qt::CaseInsensitive) == 0) return value.toObject();
  return {};
}

}  // namespace

void Registry::SetStorageFolder(const QString& folder) { storageFolder() = folder; }

QString Registry::StorageFolder() {
  if (!storageFolder().isEmpty()) return storageFolder();
  return QStandardPaths::writableLocation(QStandardPaths::GenericDataLocation) + QStringLiteral("/quarnell-registry");
}

bool Registry::OpenKeyReadOnly(HKEY root, const QString& key) {
  CloseKey();
  if (rootName(root).isEmpty()) return false;
  QJsonObject found;
  FRootTree = readRoot(root);
  if (!walk(FRootTree, splitKey(key), false, &found)) return false;
  FRoot = root;
  FPath = splitKey(key);
  FOpen = true;
  return true;
}

bool Registry::OpenKey(HKEY root, const QString& key, bool canCreate) {
  CloseKey();
  if (rootName(root).isEmpty()) return false;
  FRootTree = readRoot(root);
  QJsonObject found;
  const bool exists = walk(FRootTree, splitKey(key), false, &found);
  if (!exists && !canCreate) return false;
  if (!exists) {
    FRootTree = replaced(FRootTree, splitKey(key), QJsonObject());
    if (!writeRoot(root, FRootTree)) return false;
  }
  FRoot = root;
  FPath = splitKey(key);
  FOpen = FWritable = true;
  return true;
}

void Registry::CloseKey() {
  FOpen = FWritable = false;
  FPath.clear();
  FRootTree = {};
}

QJsonObject Registry::currentKey() const {
  QJsonObject key;
  walk(FRootTree, FPath, false, &key);
  return key;
}

QStringList Registry::GetValueNames() const {
  QStringList names;
  for (const QJsonValue& value : currentKey().value("values").toArray()) names << value.toObject().value("name").toString();
  return names;
}

QStringList Registry::GetKeyNames() const { return currentKey().value("keys").toObject().keys(); }

RegistryDataType Registry::GetDataType(const QString& name) const {
  const QString type = findValue(currentKey(), name).value("type").toString();
  if (type == "string") return RegistryDataType::String;
  if (type == "expand") return RegistryDataType::ExpandString;
  if (type == "binary") return RegistryDataType::Binary;
  if (type == "integer") return RegistryDataType::Integer;
  return RegistryDataType::Unknown;
}

QString Registry::ReadString(const QString& name) const { return findValue(currentKey(), name).value("data").toString(); }

QByteArray Registry::ReadBinaryData(const QString& name) const {
  return QByteArray::fromBase64(findValue(currentKey(), name).value("data").toString().toLatin1());
}

qint32 Registry::ReadInteger(const QString& name) const {
  return static_cast<qint32>(findValue(currentKey(), name).value("data").toInteger());
}

void Registry::WriteString(const QString& name, const QString& value) { writeValue(name, "string", value); }

void Registry::WriteExpandString(const QString& name, const QString& value) { writeValue(name, "expand", value); }

void Registry::WriteBinaryData(const QString& name, const QByteArray& value) {
  writeValue(name, "binary", QString::fromLatin1(value.toBase64()));
}

void Registry::WriteInteger(const QString& name, qint32 value) { writeValue(name, "integer", value); }

void Registry::writeValue(const QString& name, const QString& type, const QJsonValue& data) {
  const Exception failed(QStringLiteral("Failed to set data for '%1'").arg(name));
  if (!FOpen || !FWritable) throw failed;
  QJsonObject key = currentKey();
  QJsonArray values = key.value("values").toArray();
  const QJsonObject entry{{"name", name}, {"type", type}, {"data", data}};
  bool replacedInPlace = false;
  for (qsizetype i = 0; i < values.size(); ++i)
    if (values[i].toObject().value("name").toString().compare(name, Qt::CaseInsensitive) == 0) {
      values[i] = entry;
      replacedInPlace = true;
      break;
    }
  if (!replacedInPlace) values.append(entry);
  key.insert("values", values);
  const QJsonObject tree = replaced(FRootTree, FPath, key);
  if (!writeRoot(FRoot, tree)) throw failed;
  FRootTree = tree;
}
