#include "settings/QnSharedFolders.h"

#include <QDir>

#include "fileutils/QnFileCopy.h"
#include "platform/base/Paths.h"
#include "platform/os/Drives.h"
#include "platform/os/Environment.h"
#include "settings/_QnProductManager.h"

using paths::IncludeTrailingPathDelimiter;

QString ProgramFolderName;
std::unique_ptr<TQngIniFile> UserSettings;
std::unique_ptr<TQngIniFile> CommonSettings;
QString DxfFolder;
QString ArchivesFolder;
QString ListsFolder;

// Laid out as a table by hand.
// clang-format off
const QStringList LabelListOf10 = {"Accessorio", "Confine", "Contorno fabbricato", "Contorno lotto", "Interrato",
                                   "Particella derivata", "Particella limitrofa", "Particella originale", "Strada",
                                   "Vasca"};
const QStringList LabelListOf12 = {"Cambio coltura", "Cippo", "Confine", "Fosso", "Limite", "Muretto a secco",
                                   "Muro di cinta", "Pietrina", "Recinzione", "Rete metallica", "Scarpata", "Termine"};
const QStringList LabelListOf14 = {"Albero", "Asse strada", "Asse tubazione", "Bordo strada Dx", "Bordo strada Sx",
                                   "Caditoia", "Muro in c.a.", "Muro in cls", "Muro in pietrame", "Pozzetto",
                                   "Punto di quota", "Recinzione", "Scarpata Sopra", "Scarpata Sotto"};
const QStringList LabelListOf24 = {"Bagno", "Camera", "Cantina", "Corridoio", "Corte", "Cucina", "h = 2,80",
                                   "h = 3,00", "Ingresso", "K", "Legnaia", "Letto", "Matrimoniale", "Piano primo",
                                   "Piano secondo", "Piano terra", "Retro", "Rip.", "Soffitta", "Terrazzo",
                                   "Vano buio", "Veranda", "w.c.- doccia", "WC"};
// clang-format on

namespace {

QString quarnellRoot() {
  return IncludeTrailingPathDelimiter(Environment::Current().SystemRoot()) + QStringLiteral("Quarnell/");
}

// Makes `folder` when missing, this one level only (as the start-up steps do).
void makeOneLevel(const QString& folder) {
  if (!paths::DirectoryExists(folder)) QDir().mkdir(folder);
}

// Brings the archive folder's files that the lists folder lacks into it. A file that
// cannot be copied is passed over: the lists are a convenience, not a reason not to start.
void bringInListFiles() {
  if (ArchivesFolder.isEmpty()) return;  // an empty setting names no folder, not the root
  QStringList names;
  ListFolderFiles(ArchivesFolder, QStringLiteral("*.*"), names);
  if (!paths::DirectoryExists(ListsFolder)) paths::ForceDirectories(ListsFolder);
  for (const QString& name : names) {
    try {
      CopyFileWithProgress(ArchivesFolder + name, ListsFolder + name, true, false);
    } catch (const std::exception&) {
      // Next file.
    }
  }
}

}  // namespace

QString GetQuarnellFolder(const QString& Sub) {
  const QString folder = IncludeTrailingPathDelimiter(quarnellRoot() + Sub);
  if (!paths::DirectoryExists(folder)) CreateQuarnellFolder(Sub);
  return folder;
}

void CreateQuarnellFolder(const QString& Sub) {
  const QString folder = quarnellRoot() + Sub;
  if (!paths::DirectoryExists(folder)) paths::ForceDirectories(folder);
}

QString GetCommonFolder() { return GetQuarnellFolder(QStringLiteral("Common")); }

QString GetListsFolder() {
  const QString folder = IncludeTrailingPathDelimiter(GetCommonFolder()) + QStringLiteral("Liste/");
  if (!paths::DirectoryExists(folder)) paths::ForceDirectories(folder);
  return folder;
}

QString GetCommonSubFolder(const QString& Sub) {
  const QString shared =
      CommonSettings ? CommonSettings->LeggiValore(kCommonSection, QStringLiteral("PercorsoCommon"), {}) : QString();
  QString candidate = IncludeTrailingPathDelimiter(shared) + Sub;
  if (!paths::DirectoryExists(candidate)) candidate = IncludeTrailingPathDelimiter(GetCommonFolder()) + Sub;
  return IncludeTrailingPathDelimiter(candidate);
}

QString GetLastFolderName(const QString& FileName) {
  const QStringList parts = paths::ExtractFilePath(FileName).split(QLatin1Char('/'), Qt::SkipEmptyParts);
  return parts.isEmpty() ? QString() : parts.constLast();
}

bool IsRemovableDrive(const QString& Drive) { return IsOnRemovableDrive(Drive); }

void InitSettingsPaths() {
  UserSettings.reset();
  CommonSettings.reset();
  const Environment& environment = Environment::Current();
  const QString documents = IncludeTrailingPathDelimiter(environment.DocumentsFolder());
  UserSettingsFolder = documents + QStringLiteral("Quarnell");
  // A fresh account may not have its documents folder yet, so this level brings its parents.
  if (!paths::DirectoryExists(UserSettingsFolder)) paths::ForceDirectories(UserSettingsFolder);
  UserSettingsFolder = IncludeTrailingPathDelimiter(UserSettingsFolder) + QStringLiteral("impostazioni");
  makeOneLevel(UserSettingsFolder);
  const QString executable = environment.ExecutablePath();
  ProgramFolderName = GetLastFolderName(executable);
  UserSettingsFolder = IncludeTrailingPathDelimiter(UserSettingsFolder) + ProgramFolderName;
  makeOneLevel(UserSettingsFolder);
  if (IsRemovableDrive(executable)) UserSettingsFolder = paths::ExtractFilePath(executable);
  UserSettings =
      std::make_unique<TQngIniFile>(IncludeTrailingPathDelimiter(UserSettingsFolder) + QStringLiteral("qngconf.ini"));
  DxfFolder = documents;
  CreateQuarnellFolder(QStringLiteral("Common"));
  CommonSettings = std::make_unique<TQngIniFile>(GetCommonFolder() + QStringLiteral("qngcommon.ini"));
}

void SettingsStartUp() {
  InitSettingsPaths();
  // Held as a prefix for file names, so with its trailing "/" also when the setting has none.
  ArchivesFolder = CommonSettings->LeggiValore(kCommonSection, QStringLiteral("PercorsoArchivi"),
                                               GetCommonSubFolder(QStringLiteral("Liste/")));
  if (!ArchivesFolder.isEmpty()) ArchivesFolder = IncludeTrailingPathDelimiter(ArchivesFolder);
  ListsFolder = GetListsFolder();
  if (paths::DirectoryExists(ListsFolder))
    bringInListFiles();
  else
    ShellCopyFolder(ArchivesFolder, GetCommonSubFolder(QStringLiteral("Liste")));
  TQnQuarnellProduct* velanto = ProductList->AddProduct(2700, QStringLiteral("Velanto"));
  velanto->VendorId = 2;
  velanto->AddVersion(QStringLiteral("14.00"));
  ProductList->AddProduct(2800, QStringLiteral("Corvane"))->AddVersion(QStringLiteral("12.00"));
}

void SettingsShutDown() {
  UserSettings.reset();
  CommonSettings.reset();
  UserSettingsFolder.clear();
  ProgramFolderName.clear();
  DxfFolder.clear();
  ArchivesFolder.clear();
  ListsFolder.clear();
}
