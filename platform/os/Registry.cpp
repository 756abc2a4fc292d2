#include "platform/os/Registry.h"

#include <QDir>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QStandardPaths>

#include "platform/base/FileError.h"
#include "platform/base/TextFile.h"

// A key is {"keys": {name: key, ...}, "values": [{"name", "type", "data"}, ...]}; values
// keep their order of creation, which is the order enumeration gives.
namespace {

class DataLocation final : public RegistryLocation {
 public:
  QString Folder() const override {
    return QStandardPaths::writableLocation(QStandardPaths::GenericDataLocation) + QStringLiteral("/quarnell-registry");
  }
};

QString rootName(HKEY root) {
  switch (root) {
    case HKEY_CLASSES_ROOT: return QStringLiteral("HKEY_CLASSES_ROOT");
    case HKEY_CURRENT_USER: return QStringLiteral("HKEY_CURRENT_USER");
    case HKEY_LOCAL_MACHINE: return QStringLiteral("HKEY_LOCAL_MACHINE");
    case HKEY_USERS: return QStringLiteral("HKEY_USERS");
    default: return {};
  }
}

QString rootFile(HKEY root) {
  return RegistryLocation::Current().Folder() + QLatin1Char('/') + rootName(root) + QStringLiteral(".json");
}

// The tree a root file holds; an empty file is an empty root. Raises Exception for a file
// that is not a registry: a later write would otherwise throw its content away.
QJsonObject parseRoot(const QByteArray& bytes, const QString& path) {
  if (bytes.trimmed().isEmpty()) return {};
  QJsonParseError error{};
  const QJsonDocument document = QJsonDocument::fromJson(bytes, &error);
  if (error.error != QJsonParseError::NoError || !document.isObject())
    throw FileError(FileAction::Read, path, QStringLiteral("The registry file is damaged."));
  return document.object();
}

QJsonObject readRoot(HKEY root) {
  const QString path = rootFile(root);
  const std::optional<QByteArray> bytes = textfile::ReadBytes(path);
  return bytes ? parseRoot(*bytes, path) : QJsonObject();
}

// Edits the root's tree under its file's lock; `change` answers whether to write it back.
void updateRoot(HKEY root, const std::function<bool(QJsonObject&)>& change) {
  const QString path = rootFile(root);
  QDir().mkpath(RegistryLocation::Current().Folder());
  textfile::UpdateBytes(path, [&](QByteArray& bytes) {
    QJsonObject tree = parseRoot(bytes, path);
    if (!change(tree)) return false;
    bytes = QJsonDocument(tree).toJson(QJsonDocument::Compact);
    return true;
  });
}

QStringList splitKey(const QString& key) { return key.split(QLatin1Char('\\'), Qt::SkipEmptyParts); }

// The name under which `part` is stored among `keys` (key names ignore case), or "".
QString storedName(const QJsonObject& keys, const QString& part) {
  for (auto it = keys.begin(); it != keys.end(); ++it)
    if (it.key().compare(part, Qt::CaseInsensitive) == 0) return it.key();
  return {};
}

// Walks `path` from `tree`. False when a key on the way is missing.
bool walk(QJsonObject tree, const QStringList& path, QJsonObject* found) {
  if (path.isEmpty()) {
    *found = tree;
    return true;
  }
  const QJsonObject keys = tree.value("keys").toObject();
  const QString name = storedName(keys, path.front());
  if (name.isEmpty()) return false;
  return walk(keys.value(name).toObject(), path.mid(1), found);
}

// `tree` with `edit` applied to the key at `path`, making the keys on the way.
QJsonObject edited(QJsonObject tree, const QStringList& path, const std::function<void(QJsonObject&)>& edit) {
  if (path.isEmpty()) {
    edit(tree);
    return tree;
  }
  QJsonObject keys = tree.value("keys").toObject();
  QString name = storedName(keys, path.front());
  if (name.isEmpty()) name = path.front();
  keys.insert(name, edited(keys.value(name).toObject(), path.mid(1), edit));
  tree.insert("keys", keys);
  return tree;
}

QJsonObject findValue(const QJsonObject& key, const QString& name) {
  for (const QJsonValue& value : key.value("values").toArray())
    if (value.toObject().value("name").toString().compare(name, Qt::CaseInsensitive) == 0) return value.toObject();
  return {};
}

}  // namespace

RegistryLocation& RegistryLocation::Default() {
  static DataLocation location;
  return location;
}

bool Registry::OpenKeyReadOnly(HKEY root, const QString& key) {
  CloseKey();
  if (rootName(root).isEmpty()) return false;
  QJsonObject found;
  if (!walk(readRoot(root), splitKey(key), &found)) return false;
  FRoot = root;
  FPath = splitKey(key);
  FOpen = true;
  return true;
}

bool Registry::OpenKey(HKEY root, const QString& key, bool canCreate) {
  CloseKey();
  if (rootName(root).isEmpty()) return false;
  const QStringList path = splitKey(key);
  QJsonObject found;
  if (!walk(readRoot(root), path, &found)) {
    if (!canCreate) return false;
    try {
      updateRoot(root, [&](QJsonObject& tree) {
        if (walk(tree, path, &found)) return false;  // made meanwhile by someone else
        tree = edited(tree, path, [](QJsonObject&) {});
        return true;
      });
    } catch (const Exception&) {
      return false;
    }
  }
  FRoot = root;
  FPath = path;
  FOpen = FWritable = true;
  return true;
}

void Registry::CloseKey() {
  FOpen = FWritable = false;
  FPath.clear();
}

QJsonObject Registry::currentKey() const {
  QJsonObject key;
  if (FOpen) walk(readRoot(FRoot), FPath, &key);
  return key;
}

QStringList Registry::GetValueNames() const {
  QStringList names;
  for (const QJsonValue& value : currentKey().value("values").toArray())
    names << value.toObject().value("name").toString();
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

QString Registry::ReadString(const QString& name) const {
  return findValue(currentKey(), name).value("data").toString();
}

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
  auto setValue = [&](QJsonObject& key) {
    QJsonArray values = key.value("values").toArray();
    for (qsizetype i = 0; i < values.size(); ++i)
      if (const QString stored = values[i].toObject().value("name").toString();
          stored.compare(name, Qt::CaseInsensitive) == 0) {
        values[i] = QJsonObject{{"name", stored}, {"type", type}, {"data", data}};  // keeps its spelling
        key.insert("values", values);
        return;
      }
    values.append(QJsonObject{{"name", name}, {"type", type}, {"data", data}});
    key.insert("values", values);
  };
  try {
    // The key is edited in the tree as it is now, so values written by others stay.
    updateRoot(FRoot, [&](QJsonObject& tree) {
      tree = edited(tree, FPath, setValue);
      return true;
    });
  } catch (const Exception&) {
    throw failed;
  }
}
