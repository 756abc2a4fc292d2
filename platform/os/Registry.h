// The registry: keys under a few roots, each key with sub-keys and typed values (string,
// expandable string, binary, 32-bit integer). Each root is kept in one file of its own
// (<storage folder>/<ROOT>.json), rewritten atomically after every change.
// Not thread-safe; every open re-reads the root's file, so two processes see each
// other's changes at their next open.
#pragma once

#include <QByteArray>
#include <QJsonObject>
#include <QString>
#include <QStringList>

using HKEY = quint64;
inline constexpr HKEY HKEY_CLASSES_ROOT = 0x80000000ull;
inline constexpr HKEY HKEY_CURRENT_USER = 0x80000001ull;
inline constexpr HKEY HKEY_LOCAL_MACHINE = 0x80000002ull;
inline constexpr HKEY HKEY_USERS = 0x80000003ull;

enum class RegistryDataType { Unknown, String, ExpandString, Binary, Integer };

class Registry {
 public:
  // Where the roots' files live; default "<generic data location>/quarnell-registry".
  static void SetStorageFolder(const QString& folder);
  static QString StorageFolder();

  // Opens `key` (parts separated by "\") under `root`; false when it does not exist.
  bool OpenKeyReadOnly(HKEY root, const QString& key);
  // Opens `key`, making it and its parents when `canCreate`; false when that fails.
  bool OpenKey(HKEY root, const QString& key, bool canCreate);
  void CloseKey();

  QStringList GetValueNames() const;
  QStringList GetKeyNames() const;
  RegistryDataType GetDataType(const QString& name) const;
  QString ReadString(const QString& name) const;
  QByteArray ReadBinaryData(const QString& name) const;
  qint32 ReadInteger(const QString& name) const;

  // Each raises Exception("Failed to set data for '<name>'") when the key is not open for
  // writing or the root's file cannot be written.
  void WriteString(const QString& name, const QString& value);
  void WriteExpandString(const QString& name, const QString& value);
  void WriteBinaryData(const QString& name, const QByteArray& value);
  void WriteInteger(const QString& name, qint32 value);

 private:
  void writeValue(const QString& name, const QString& type, const QJsonValue& data);
  QJsonObject currentKey() const;

  HKEY FRoot = 0;
  QStringList FPath;        // the open key's parts
  QJsonObject FRootTree;    // the whole root as read at open
  bool FOpen = false;
  bool FWritable = false;
};
