// The settings file: one INI file on disk, read and written value by value with typed
// accessors, section operations, copy and merge, and mirroring to and from the registry.
// It keeps no copy of the contents: every call goes to the file, and a change is on disk
// when the call returns.
//
// Other programs may use the same file at the same time: every change is one locked
// read-modify-write (platform/base/TextFile.h), so none of theirs is lost. Single values
// fail quietly as the profile functions do (a read gives the default, a write is retried
// and then given up); the section operations, the merge and the export to the registry
// raise Exception when the file cannot be read or written, and a file that could not be
// read is never written over. Names are trimmed; names and values that the file could not
// give back (platform/ini/IniFile.h) are not written.
#pragma once

#include <QString>
#include <QStringList>

#include "platform/ini/IniFile.h"
#include "platform/os/Registry.h"

// The per-user settings folder, set by the settings start-up; empty until then.
extern QString UserSettingsFolder;

class TQngIniFile {
 public:
  // An empty name means "qngconf.ini", and a name without a folder lies in the folder part
  // of UserSettingsFolder. Nothing touches the disk here.
  explicit TQngIniFile(const QString& ANomeFileIni);

  QString NomeFileIni() const { return FNomeFileIni; }
  const ini::IniFile& FileIni() const { return FFileIni; }

  QString LeggiValore(const QString& Sezione, const QString& Nome, const QString& DefValue) const;
  void ScriviValore(const QString& Sezione, const QString& Nome, const QString& Valore) const;
  qint32 LeggiInteger(const QString& Sezione, const QString& Nome, qint32 DefValue) const;
  void ScriviInteger(const QString& Sezione, const QString& Nome, qint32 Valore) const;
  double LeggiFloat(const QString& Sezione, const QString& Nome, double DefValue) const;
  void ScriviFloat(const QString& Sezione, const QString& Nome, double Valore) const;
  bool LeggiBool(const QString& Sezione, const QString& Nome, bool DefValue) const;
  void ScriviBool(const QString& Sezione, const QString& Nome, bool Valore) const;

  // Always answers "".
  QString EliminaChiave(const QString& Sezione, const QString& Nome) const;
  void EliminaSezione(const QString& Sezione) const;
  void LeggiValoriSezione(const QString& Sezione, QStringList& Lista) const;
  void LeggiChiaviSezione(const QString& Sezione, QStringList& Lista) const;
  // True when the section is there with at least one line.
  bool EsisteSezione(const QString& Sezione) const;
  void RinominaSezione(const QString& VecchioNome, const QString& NuovoNome) const;

  // Copies the file to `NomeFile`, never over an existing file or onto itself.
  bool EsportaFileIni(const QString& NomeFile) const;
  // Merges `NomeFile` in: its values win; false when it does not exist.
  bool ImportaFileIni(const QString& NomeFile) const;
  // Copies the registry key tree into sections named by the full key paths.
  void ImportaDaRegistro(HKEY Radice, const QString& ChiaveRegistro) const;
  // Copies every section into a string-valued key below `ChiaveRegistro`.
  void EsportaSuRegistro(HKEY Radice, const QString& ChiaveRegistro) const;

 private:
  QString FNomeFileIni;
  ini::IniFile FFileIni;
};
