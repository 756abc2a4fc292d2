// The INI engine. Two ways in, with different visible effects:
//  - single values (ReadProfileString, WriteProfileString): a read gives at most 2047
//    characters; a write replaces or adds one line and keeps every other byte of the file,
//    comments included; it creates the file but not its folder;
//  - whole files (IniDocument): loading normalises (lines trimmed, empty and ";" lines and
//    lines before the first section dropped, blanks around the first "=" removed) and a
//    save writes that normal form.
// Section and key names match without regard to case. The encoding is the one the file's
// byte-order mark announces, else Windows-1252; a file made from nothing has no mark.
// Every write replaces the file through a temporary one, so it is never left half-written.
#pragma once

#include <QString>
#include <QStringList>
#include <vector>

#include "platform/base/TextCodec.h"

namespace ini {

constexpr int kMaxProfileValueLength = 2047;

// The value of `key` in `section`, or `defaultValue` when the file, section or key is missing.
QString ReadProfileString(const QString& path, const QString& section, const QString& key,
                          const QString& defaultValue);
// Sets `key` in `section` to `value`; false when the file could not be written.
bool WriteProfileString(const QString& path, const QString& section, const QString& key, const QString& value);

struct IniSection {
  QString Name;
  QStringList Lines;  // normally "name=value"
};

// A whole file in memory in its normal form.
class IniDocument {
 public:
  // Loads `path`; a missing file gives an empty document.
  static IniDocument Load(const QString& path);
  // Writes every section (header, lines, one empty line). Raises Exception on failure.
  void Save(const QString& path) const;

  std::vector<IniSection>& Sections() { return FSections; }
  const std::vector<IniSection>& Sections() const { return FSections; }
  // The first section of that name, or nullptr.
  IniSection* Find(const QString& name);
  const IniSection* Find(const QString& name) const;
  // The value of the first line named `key` in `section` ("" when none).
  QString Value(const QString& section, const QString& key) const;
  // Sets `key` in `section`, adding the section or the line when missing.
  void SetValue(const QString& section, const QString& key, const QString& value);
  void EraseSection(const QString& name);
  void EraseKey(const QString& section, const QString& key);

 private:
  std::vector<IniSection> FSections;
  TextEncoding FEncoding = TextEncoding::Windows1252;
};

// The name part of a key line: the text before the first "=" (the whole line without one).
QString KeyOf(const QString& line);
// The value part: the text after the first "=" ("" without one).
QString ValueOf(const QString& line);

// A profile-file object on one path: the single-value calls, for callers that want them.
class IniFile {
 public:
  explicit IniFile(QString path) : FPath(std::move(path)) {}
  const QString& FileName() const { return FPath; }
  QString ReadString(const QString& section, const QString& key, const QString& defaultValue) const {
    return ReadProfileString(FPath, section, key, defaultValue);
  }
  bool WriteString(const QString& section, const QString& key, const QString& value) const {
    return WriteProfileString(FPath, section, key, value);
  }

 private:
  QString FPath;
};

}  // namespace ini
