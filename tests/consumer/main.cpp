// Uses a piece of each core library without a user interface: writes and reads a setting,
// zips and lists a file, decodes a query string. Exits 0 when every answer is right.
#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QTemporaryDir>
#include <cstdio>

#include "fileutils/QnZipManager.h"
#include "settings/_QngIniFile.h"
#include "web/iiehttp3_funcs.h"

int main(int argc, char* argv[]) {
  QCoreApplication core(argc, argv);
  QTemporaryDir folder;
  const QString ini = folder.filePath("consumer.ini");
  const TQngIniFile settings(ini);
  settings.ScriviValore("Sezione", "Nome", "valore");
  const bool settingRead = TQngIniFile(ini).LeggiValore("Sezione", "Nome", "") == "valore";

  TQnZipManager zip;
  const QString zipFile = folder.filePath("a.zip");
  zip.SaveFiles({ini}, {}, zipFile, true);  // progress asked for: the silent sink takes it
  QStringList names;
  const bool zipListed = GetZipFileList(zipFile, names) && names == QStringList{"consumer.ini"};

  const bool queryEncoded = EncodeUrlQuery("a b") == "a%20b";
  std::printf("setting %d, zip %d, query %d\n", settingRead, zipListed, queryEncoded);
  return settingRead && zipListed && queryEncoded ? 0 : 1;
}
