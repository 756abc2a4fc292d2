#include "platform/ini/IniFile.h"

#include "platform/base/Exception.h"
#include "platform/base/TextFile.h"

namespace ini {

namespace {

bool sameName(const QString& a, const QString& b) { return a.compare(b, Qt::CaseInsensitive) == 0; }

bool hasLineBreak(const QString& text) { return text.contains(QLatin1Char('\n')) || text.contains(QLatin1Char('\r')); }

// A section name the file can hold: read back from "[name]" it is the same name.
bool storableSection(const QString& name) {
  return !name.isEmpty() && !name.contains(QLatin1Char(']')) && !hasLineBreak(name);
}

// A key name the file can hold: read back from "name=value" it is the same key, not a
// comment, a header or another key.
bool storableKey(const QString& name) {
  return !name.isEmpty() && !name.contains(QLatin1Char('=')) && !name.startsWith(QLatin1Char(';')) &&
         !name.startsWith(QLatin1Char('[')) && !hasLineBreak(name);
}

// A header line starts with "[" and its name ends at the first "]" (or the line's end).
bool headerName(const QString& trimmedLine, QString& name) {
  if (!trimmedLine.startsWith(QLatin1Char('['))) return false;
  const qsizetype close = trimmedLine.indexOf(QLatin1Char(']'));
  name = trimmedLine.mid(1, close < 0 ? -1 : close - 1).trimmed();
  return true;
}

bool isComment(const QString& trimmed) { return trimmed.startsWith(QLatin1Char(';')); }

// The name of a key line (trimmed), or "" for a line that is not a key.
QString keyLineName(const QString& trimmed) {
  if (isComment(trimmed) || !trimmed.contains(QLatin1Char('='))) return {};
  return KeyOf(trimmed).trimmed();
}

// One physical line of a file with the line ending it had, so edits keep the rest intact.
struct RawLine {
  QString Text;
  QString Ending;
};

std::vector<RawLine> splitLines(const QString& text) {
  std::vector<RawLine> lines;
  qsizetype start = 0;
  while (start < text.size()) {
    qsizetype end = start;
    while (end < text.size() && text[end] != QLatin1Char('\n') && text[end] != QLatin1Char('\r')) ++end;
    qsizetype next = end;
    if (next < text.size()) {
      const bool crlf =
          text[next] == QLatin1Char('\r') && next + 1 < text.size() && text[next + 1] == QLatin1Char('\n');
      next += crlf ? 2 : 1;
    }
    lines.push_back({text.mid(start, end - start), text.mid(end, next - end)});
    start = next;
  }
  return lines;
}

QString unquoted(const QString& value) {
  if (value.size() >= 2 && (value.front() == QLatin1Char('"') || value.front() == QLatin1Char('\'')) &&
      value.back() == value.front())
    return value.mid(1, value.size() - 2);
  return value;
}

// What a read hands out for a default: its trailing blanks off, cut like a stored value.
QString asReadDefault(QString value) {
  value.truncate(kMaxProfileValueLength);
  qsizetype end = value.size();
  while (end > 0 && (value[end - 1] == QLatin1Char(' ') || value[end - 1] == QLatin1Char('\t'))) --end;
  value.truncate(end);
  return value;
}

// Sets `key` in the raw lines, touching nothing else: the key's line in the first section
// of that name, else a new line after that section's last line, else a new section at the end.
void setInLines(std::vector<RawLine>& lines, const QString& section, const QString& key, const QString& value) {
  const QString newline =
      !lines.empty() && !lines.front().Ending.isEmpty() ? lines.front().Ending : QStringLiteral("\r\n");
  qsizetype sectionAt = -1, lastInSection = -1;
  for (qsizetype i = 0; i < qsizetype(lines.size()); ++i) {
    const QString trimmed = lines[i].Text.trimmed();
    QString name;
    if (headerName(trimmed, name)) {
      if (sectionAt >= 0) break;
      if (sameName(name, section)) sectionAt = lastInSection = i;
      continue;
    }
    if (sectionAt < 0 || trimmed.isEmpty()) continue;
    const QString existing = keyLineName(trimmed);
    if (!existing.isEmpty() && sameName(existing, key)) {
      lines[i].Text = existing + QLatin1Char('=') + value;  // the name keeps its spelling
      return;
    }
    lastInSection = i;
  }
  auto ensureEnding = [&](qsizetype at) {
    if (at >= 0 && lines[at].Ending.isEmpty()) lines[at].Ending = newline;
  };
  const QString keyLine = key + QLatin1Char('=') + value;
  if (sectionAt < 0) {
    ensureEnding(qsizetype(lines.size()) - 1);
    lines.push_back({QLatin1Char('[') + section + QLatin1Char(']'), newline});
    lines.push_back({keyLine, newline});
    return;
  }
  ensureEnding(lastInSection);
  lines.insert(lines.begin() + lastInSection + 1, {keyLine, newline});
}

}  // namespace

QString KeyOf(const QString& line) {
  const qsizetype equals = line.indexOf(QLatin1Char('='));
  return equals < 0 ? line : line.left(equals);
}

QString ValueOf(const QString& line) {
  const qsizetype equals = line.indexOf(QLatin1Char('='));
  return equals < 0 ? QString() : line.mid(equals + 1);
}

QString ReadProfileString(const QString& path, const QString& section, const QString& key,
                          const QString& defaultValue) {
  const QString wantedSection = section.trimmed(), wantedKey = key.trimmed();
  if (!storableSection(wantedSection) || !storableKey(wantedKey)) return asReadDefault(defaultValue);
  std::optional<DecodedText> content;
  try {
    content = textfile::Read(path);
  } catch (const Exception&) {
    // As the profile functions do: a file that cannot be read gives the default.
  }
  if (!content) return asReadDefault(defaultValue);
  bool inSection = false, sectionSeen = false;
  for (const RawLine& line : splitLines(content->Text)) {
    const QString trimmed = line.Text.trimmed();
    QString name;
    if (headerName(trimmed, name)) {
      if (sectionSeen) break;  // only the first section of the name counts
      inSection = sectionSeen = sameName(name, wantedSection);
      continue;
    }
    if (inSection && sameName(keyLineName(trimmed), wantedKey))
      return unquoted(ValueOf(trimmed).trimmed()).left(kMaxProfileValueLength);
  }
  return asReadDefault(defaultValue);
}

bool WriteProfileString(const QString& path, const QString& section, const QString& key, const QString& value) {
  const QString wantedSection = section.trimmed(), wantedKey = key.trimmed();
  if (!storableSection(wantedSection) || !storableKey(wantedKey) || hasLineBreak(value)) return false;
  textfile::Update(path, [&](DecodedText& content) {
    std::vector<RawLine> lines = splitLines(content.Text);
    setInLines(lines, wantedSection, wantedKey, value);
    content.Text.clear();
    for (const RawLine& line : lines) content.Text += line.Text + line.Ending;
    return true;
  });
  return true;
}

void IniDocument::parse(const DecodedText& content) {
  FEncoding = content.Encoding;
  FSections.clear();
  for (const RawLine& raw : splitLines(content.Text)) {
    const QString line = raw.Text.trimmed();
    if (line.isEmpty() || isComment(line)) continue;
    QString name;
    if (headerName(line, name)) {
      FSections.push_back({name, {}});
      continue;
    }
    if (FSections.empty()) continue;
    const qsizetype equals = line.indexOf(QLatin1Char('='));
    FSections.back().Lines << (equals < 0
                                   ? line
                                   : line.left(equals).trimmed() + QLatin1Char('=') + line.mid(equals + 1).trimmed());
  }
}

QString IniDocument::text() const {
  QString text;
  for (const IniSection& section : FSections) {
    text += QLatin1Char('[') + section.Name + QStringLiteral("]\r\n");
    for (const QString& line : section.Lines) text += line + QStringLiteral("\r\n");
    text += QStringLiteral("\r\n");
  }
  return text;
}

IniDocument IniDocument::Load(const QString& path) {
  IniDocument document;
  if (const std::optional<DecodedText> content = textfile::Read(path)) document.parse(*content);
  return document;
}

void IniDocument::Update(const QString& path, const std::function<void(IniDocument&)>& change) {
  textfile::Update(path, [&](DecodedText& content) {
    IniDocument document;
    document.parse(content);
    change(document);
    content = {document.text(), document.FEncoding};
    return true;
  });
}

IniSection* IniDocument::Find(const QString& name) {
  for (IniSection& section : FSections)
    if (sameName(section.Name, name.trimmed())) return &section;
  return nullptr;
}

const IniSection* IniDocument::Find(const QString& name) const { return const_cast<IniDocument*>(this)->Find(name); }

QString IniDocument::Value(const QString& section, const QString& key) const {
  if (const IniSection* found = Find(section))
    for (const QString& line : found->Lines)
      if (sameName(KeyOf(line), key.trimmed())) return ValueOf(line);
  return {};
}

bool IniDocument::SetValue(const QString& section, const QString& key, const QString& value) {
  const QString sectionName = section.trimmed(), keyName = key.trimmed();
  if (!storableSection(sectionName) || !storableKey(keyName) || hasLineBreak(value)) return false;
  IniSection* found = Find(sectionName);
  if (!found) {
    FSections.push_back({sectionName, {}});
    found = &FSections.back();
  }
  for (QString& existing : found->Lines)
    if (sameName(KeyOf(existing), keyName)) {
      existing = KeyOf(existing) + QLatin1Char('=') + value;
      return true;
    }
  found->Lines << keyName + QLatin1Char('=') + value;
  return true;
}

void IniDocument::EraseSection(const QString& name) {
  std::erase_if(FSections, [&](const IniSection& section) { return sameName(section.Name, name.trimmed()); });
}

void IniDocument::EraseKey(const QString& section, const QString& key) {
  if (IniSection* found = Find(section))
    found->Lines.removeIf([&](const QString& line) { return sameName(KeyOf(line), key.trimmed()); });
}

}  // namespace ini
