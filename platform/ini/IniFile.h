// The INI engine, read the way the Windows profile functions read a file. Two ways in,
// with different visible effects:
//  - single values (ReadProfileString, WriteProfileString): a read gives at most 2047
//    characters; a write replaces or adds one line and keeps every other byte of the file,
//    comments included; it creates the file but not its folder;
//  - whole files (IniDocument): loading normalises (lines trimmed, empty and ";" lines and
//    lines before the first section dropped, blanks around the first "=" removed) and a
//    save writes that normal form.
//
// Both read a file alike:
//  - a line whose first non-blank is "[" starts a section; its name ends at the first "]",
//    or at the end of the line when there is none; text after the "]" is ignored;
//  - a key line is "name = value": the name before the first "=", both trimmed; a value in
//    a pair of quotes loses them; lines starting with ";" are comments;
//  - names match without regard to case; of several sections of one name only the first
//    is seen (read, written, listed); a key keeps the spelling it has in the file.
// Names given by callers are trimmed first. Names that the file could not give back
// (a section with "]", a key with "=" or starting with ";" or "[", anything with a line
// break) and values with a line break are refused: stored, they would read back as other
// keys or sections (or, written again, duplicate themselves), so nothing is written.
//
// The encoding is the one the file's byte-order mark announces, else Windows-1252; a file
// made from nothing has no mark. Reads and writes go through TextFile.h: locked against
// other writers, replaced whole through a temporary file.
#pragma once

#include <QString>
#include <QStringList>
#include <functional>
#include <vector>

#include "platform/base/TextCodec.h"

namespace ini {

constexpr int kMaxProfileValueLength = 2047;

// The value of `key` in `section`, or `defaultValue` (its trailing blanks taken off, cut
// like a stored value) when the file, section or key is missing, the name is refused, or
// the file cannot be read (as the profile functions answer).
QString ReadProfileString(const QString& path, const QString& section, const QString& key, const QString& defaultValue);
// Sets `key` in `section` to `value`. False, writing nothing, when a name or the value is
// refused. Raises Exception when the file cannot be read, locked or written; it is then
// left as it was.
bool WriteProfileString(const QString& path, const QString& section, const QString& key, const QString& value);

struct IniSection {
  QString Name;
  QStringList Lines;  // normally "name=value"
};

// A whole file in memory in its normal form.
class IniDocument {
 public:
  // Loads `path`; a missing file gives an empty document. Raises Exception when the file is
  // there but cannot be read.
  static IniDocument Load(const QString& path);
  // Loads `path`, lets `change` edit it and writes it back in the normal form, all under
  // one lock, so that no other writer's change falls in between. Raises Exception when the
  // file cannot be read, locked or written (nothing is written then).
  static void Update(const QString& path, const std::function<void(IniDocument&)>& change);

  std::vector<IniSection>& Sections() { return FSections; }
  const std::vector<IniSection>& Sections() const { return FSections; }
  // Names given here are trimmed and matched without regard to case.
  // The first section of that name, or nullptr.
  IniSection* Find(const QString& name);
  const IniSection* Find(const QString& name) const;
  // Whether `section` is the first of its name (the one reads and writes see).
  bool IsFirstOfItsName(const IniSection& section) const { return Find(section.Name) == &section; }
  // The value of the first line named `key` in `section` ("" when none).
  QString Value(const QString& section, const QString& key) const;
  // Sets `key` in `section`, adding the section or the line when missing; an existing line
  // keeps its name's spelling. False, changing nothing, when a name or the value is refused.
  bool SetValue(const QString& section, const QString& key, const QString& value);
  // Removes every section of that name (a later one would otherwise come into view).
  void EraseSection(const QString& name);
  void EraseKey(const QString& section, const QString& key);

 private:
  void parse(const DecodedText& content);
  QString text() const;

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
