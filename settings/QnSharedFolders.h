// The maker's shared folder layout and the settings start-up: <system root>/Quarnell/ with
// Common/ and Common/Liste/, the per-user settings folder under Documents, the two
// run-long settings files, and the list files brought in from the archive folder.
#pragma once

#include <QString>
#include <QStringList>
#include <memory>

#include "settings/_QngIniFile.h"

inline const QString kCommonSection = QStringLiteral("SOFTWARE\\QUARNELL\\COMMON");

extern QString ProgramFolderName;
extern std::unique_ptr<TQngIniFile> UserSettings;
extern std::unique_ptr<TQngIniFile> CommonSettings;
extern QString DxfFolder;
extern QString ArchivesFolder;
extern QString ListsFolder;

// The label lists the maker's products share.
extern const QStringList LabelListOf10;
extern const QStringList LabelListOf12;
extern const QStringList LabelListOf14;
extern const QStringList LabelListOf24;

// <system root>Quarnell/<Sub>/, made when missing.
QString GetQuarnellFolder(const QString& Sub);
void CreateQuarnellFolder(const QString& Sub);
QString GetCommonFolder();
// The common folder's Liste/, made when missing.
QString GetListsFolder();
// "PercorsoCommon"/<Sub>/ when that folder exists, else the common folder's <Sub>/.
QString GetCommonSubFolder(const QString& Sub);
// The name of the folder that holds `FileName` ("" when it has no folder part).
QString GetLastFolderName(const QString& FileName);
// Whether `Drive` (a path) lies on removable media; false for "".
bool IsRemovableDrive(const QString& Drive);
// Start-up steps 1 to 8: settings folders and the two settings files.
void InitSettingsPaths();

// The whole settings start-up (after the product list is made) and its shut-down.
void SettingsStartUp();
void SettingsShutDown();
