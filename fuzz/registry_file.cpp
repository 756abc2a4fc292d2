// The registry store's loader on a root file from anywhere (another program, an older
// version, a damaged disk may have written it). Beyond not crashing: every key and value
// can be enumerated and read; a value written into an existing key reads back after the
// file is read again, and the key's other values read as before.
#include <QDir>

#include "fuzz/FuzzSupport.h"
#include "platform/base/Exception.h"
#include "platform/os/Registry.h"

namespace {

constexpr int kMaxDepth = 8;  // keys deeper than this are not walked

struct ValueSeen {
  RegistryDataType Type;
  QString Text;
  QByteArray Bytes;
  qint32 Number;
};

ValueSeen readValue(const Registry& registry, const QString& name) {
  return {registry.GetDataType(name), registry.ReadString(name), registry.ReadBinaryData(name),
          registry.ReadInteger(name)};
}

bool operator==(const ValueSeen& a, const ValueSeen& b) {
  return a.Type == b.Type && a.Text == b.Text && a.Bytes == b.Bytes && a.Number == b.Number;
}

// Opens every key under `key` and reads every value; answers the first key that holds at
// least one value or sub-key, for the write check.
void walk(const QString& key, int depth, QString& writable) {
  Registry registry;
  if (!registry.OpenKeyReadOnly(HKEY_CURRENT_USER, key)) return;
  const QStringList values = registry.GetValueNames();
  for (const QString& name : values) readValue(registry, name);
  const QStringList keys = registry.GetKeyNames();
  if (writable.isNull() && !key.isEmpty() && !values.isEmpty()) writable = key;
  if (depth == kMaxDepth) return;
  for (const QString& sub : keys)
    if (!sub.isEmpty() && !sub.contains(QLatin1Char('\\')))
      walk(key.isEmpty() ? sub : key + QLatin1Char('\\') + sub, depth + 1, writable);
}

void checkWriteReadsBack(const QString& key) {
  Registry registry;
  FUZZ_CHECK(registry.OpenKey(HKEY_CURRENT_USER, key, true), QStringLiteral("cannot open key %1 for writing").arg(key));
  QList<std::pair<QString, ValueSeen>> before;
  for (const QString& name : registry.GetValueNames())
    if (name.compare(QLatin1String("FuzzWritten"), Qt::CaseInsensitive) != 0)
      before.append({name, readValue(registry, name)});
  registry.WriteString(QStringLiteral("FuzzWritten"), QStringLiteral("C:\\Quarnell\\\u00e9\u20ac"));
  registry.CloseKey();

  FUZZ_CHECK(registry.OpenKeyReadOnly(HKEY_CURRENT_USER, key), QStringLiteral("the key written is gone"));
  FUZZ_CHECK(registry.GetDataType(QStringLiteral("FuzzWritten")) == RegistryDataType::String &&
                 registry.ReadString(QStringLiteral("FuzzWritten")) == QStringLiteral("C:\\Quarnell\\\u00e9\u20ac"),
             QStringLiteral("a value written does not read back"));
  for (const auto& [name, seen] : before)
    FUZZ_CHECK(readValue(registry, name) == seen, QStringLiteral("value %1 changed through another's write").arg(name));
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  FuzzScratch scratch;
  if (!scratch.IsValid()) return 0;
  const RegistryFolder location(scratch.Path() + QStringLiteral("registry"));
  QDir().mkpath(location.Folder());
  const QByteArray original = FuzzBytes(data, size);
  scratch.Write(QStringLiteral("registry/HKEY_CURRENT_USER.json"), original);

  QString writable;
  try {
    walk(QString(), 0, writable);
  } catch (const Exception&) {
    // A file that cannot be parsed is refused as a whole, and must never be replaced.
    bool refused = false;
    try {
      Registry registry;
      registry.OpenKey(HKEY_CURRENT_USER, QStringLiteral("Software\\Quarnell\\Fuzz"), true);
    } catch (const Exception&) {
      refused = true;
    }
    FUZZ_CHECK(refused, QStringLiteral("a write went through on a file that cannot be read"));
    FUZZ_CHECK(FuzzReadFile(location.Folder() + QStringLiteral("/HKEY_CURRENT_USER.json")) == original,
               QStringLiteral("a file that cannot be read was changed"));
    return 0;
  }
  checkWriteReadsBack(writable.isNull() ? QStringLiteral("Software\\Quarnell\\Fuzz") : writable);
  return 0;
}
