// A second program on the same settings: the tests start it (twice at once, as another
// user, or to kill it mid-write) to drive the settings code the way a real second process
// does. Exit status 0 when every call returned, 2 when one raised (its text on stderr).
//
//   ini-write FILE SECTION PREFIX COUNT      ScriviValore of PREFIX0..PREFIX<COUNT-1>
//   ini-merge FILE SCRATCH PREFIX COUNT      ImportaFileIni of one-key files, one per key
//   ini-delete FILE SECTION KEY              EliminaChiave
//   reg-write FOLDER KEY PREFIX COUNT        registry string values, through two open keys
//   write-forever FILE REGFOLDER             single writes, merges and registry writes until killed
//   start-up                                 the settings start-up (QUARNELL_ROOT, HOME)
#include <QCoreApplication>
#include <QFile>
#include <cstdio>

#include "platform/base/Exception.h"
#include "settings/QnSharedFolders.h"
#include "settings/_QnProductManager.h"
#include "settings/_QngIniFile.h"

namespace {

void writeMergeSource(const QString& path, const QString& key, const QString& value) {
  QFile file(path);
  if (!file.open(QIODevice::WriteOnly | QIODevice::Truncate)) throw Exception("cannot write " + path);
  file.write(("[M]\r\n" + key + "=" + value + "\r\n").toUtf8());
}

void registryWrites(const QString& key, const QString& prefix, int count) {
  // Two keys of one root open at once, written in turn: neither may write back a stale root.
  Registry first, second;
  if (!first.OpenKey(HKEY_CURRENT_USER, key + "\\One", true) || !second.OpenKey(HKEY_CURRENT_USER, key + "\\Two", true))
    throw Exception("cannot open the keys");
  for (int i = 0; i < count; ++i) (i % 2 ? second : first).WriteString(prefix + QString::number(i), QString::number(i));
}

int run(const QStringList& args) {
  const QString command = args.value(0);
  if (command == "ini-write") {
    const TQngIniFile ini(args[1]);
    for (int i = 0; i < args[4].toInt(); ++i)
      ini.ScriviValore(args[2], args[3] + QString::number(i), QString::number(i));
  } else if (command == "ini-merge") {
    const TQngIniFile ini(args[1]);
    const QString source = args[2] + "/" + args[3] + ".ini";
    for (int i = 0; i < args[4].toInt(); ++i) {
      writeMergeSource(source, args[3] + QString::number(i), QString::number(i));
      ini.ImportaFileIni(source);
    }
  } else if (command == "ini-delete") {
    TQngIniFile(args[1]).EliminaChiave(args[2], args[3]);
  } else if (command == "reg-write") {
    const RegistryFolder location(args[1]);
    registryWrites(args[2], args[3], args[4].toInt());
  } else if (command == "write-forever") {
    const RegistryFolder location(args[2]);
    const TQngIniFile ini(args[1]);
    Registry key;
    key.OpenKey(HKEY_CURRENT_USER, "Forever", true);
    const QString source = args[1] + ".merge";
    for (int i = 0;; ++i) {
      // Values of changing length, so the file grows and shrinks under the kill.
      const QString value = QString(i % 500, QLatin1Char('a' + i % 26));
      ini.ScriviValore("Loop", "k" + QString::number(i % 40), value);
      writeMergeSource(source, "m" + QString::number(i % 40), value);
      ini.ImportaFileIni(source);
      key.WriteString("v" + QString::number(i % 40), value);
    }
  } else if (command == "start-up") {
    ProductList = std::make_unique<TQnQuarnellProductList>();
    SettingsStartUp();
    SettingsShutDown();
    ProductList.reset();
  } else {
    std::fprintf(stderr, "unknown command\n");
    return 1;
  }
  return 0;
}

}  // namespace

int main(int argc, char** argv) {
  QCoreApplication application(argc, argv);
  try {
    return run(application.arguments().mid(1));
  } catch (const std::exception& error) {
    std::fprintf(stderr, "%s\n", error.what());
    return 2;
  }
}
