// The registry: keys under a few roots, each key with sub-keys and typed values (string,
// expandable string, binary, 32-bit integer). Each root is kept in one file of its own
// (<RegistryLocation folder>/<ROOT>.json).
//
// A Registry object remembers only which key it has open: every read reads the root's file
// and every write edits it under the file's lock (TextFile.h), so two objects on one root,
// in one process or in two, never write back a stale copy of each other's values. A root
// file that is there but cannot be read or parsed raises Exception; it is never replaced.
//
// Threads: one object per thread; several objects on one root may be used at once.
#pragma once

#include <QByteArray>
#include <QString>
#include <QStringList>

#include "platform/base/Service.h"

class QJsonObject;
class QJsonValue;

using HKEY = quint64;
inline constexpr HKEY HKEY_CLASSES_ROOT = 0x80000000ull;
inline constexpr HKEY HKEY_CURRENT_USER = 0x80000001ull;
inline constexpr HKEY HKEY_LOCAL_MACHINE = 0x80000002ull;
inline constexpr HKEY HKEY_USERS = 0x80000003ull;

enum class RegistryDataType { Unknown, String, ExpandString, Binary, Integer };

// Where the roots' files live.
class RegistryLocation : public Service<RegistryLocation> {
 public:
  virtual ~RegistryLocation() = default;
  // The folder of the root files, without a trailing "/"; made when first written.
  virtual QString Folder() const = 0;
  // "<generic data location>/quarnell-registry".
  static RegistryLocation& Default();
};

// The roots' files in a folder the caller chooses (a portable install, a test), in force
// for the lifetime of this object.
class RegistryFolder final : public RegistryLocation {
 public:
  explicit RegistryFolder(QString folder) : FFolder(std::move(folder)) {}
  QString Folder() const override { return FFolder; }

 private:
  QString FFolder;
  const ScopedService<RegistryLocation> FInstalled{*this};
};

class Registry {
 public:
  // Opens `key` (parts separated by "\") under `root`; false when it does not exist.
  bool OpenKeyReadOnly(HKEY root, const QString& key);
  // Opens `key`, making it and its parents when `canCreate`; false when that fails.
  bool OpenKey(HKEY root, const QString& key, bool canCreate);
  void CloseKey();

  // Reads of the open key as the root's file holds it now (nothing when no key is open or
  // the key has gone).
  QStringList GetValueNames() const;
  QStringList GetKeyNames() const;
  RegistryDataType GetDataType(const QString& name) const;
  QString ReadString(const QString& name) const;
  QByteArray ReadBinaryData(const QString& name) const;
  qint32 ReadInteger(const QString& name) const;

  // Each raises Exception("Failed to set data for '<name>'") when the key is not open for
  // writing or the root's file cannot be read, parsed or written; the file is then unchanged.
  void WriteString(const QString& name, const QString& value);
  void WriteExpandString(const QString& name, const QString& value);
  void WriteBinaryData(const QString& name, const QByteArray& value);
  void WriteInteger(const QString& name, qint32 value);

 private:
  void writeValue(const QString& name, const QString& type, const QJsonValue& data);
  QJsonObject currentKey() const;

  HKEY FRoot = 0;
  QStringList FPath;  // the open key's parts
  bool FOpen = false;
  bool FWritable = false;
};
