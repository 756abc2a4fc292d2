#include "platform/ini/IniFile.h"

#include <QFileInfo>

#include "platform/base/Exception.h"

namespace ini {

namespace {

bool sameName(const QString& a, const QString& b) { return a.compare(b, Qt::CaseInsensitive) == 0; }

// "[name]" gives name; anything else is not a header.
bool headerName(const QString& trimmedLine, QString& name) {
  if (!trimmedLine.startsWith(QLatin1Char('[')) || !trimmedLine.endsWith(QLatin1Char(']')) || trimmedLine.size() < 2)
    return false;
  name = trimmedLine.mid(1, trimmedLine.size() - 2).trimmed();
  return true;
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
      const bool crlf = text[next] == QLatin1Char('\r') && next + 1 < text.size() && text[next + 1] == QLatin1Char('\n');
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

bool isComment(const QString& trimmed) { return trimmed.startsWith(QLatin1Char(';')); }

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
  DecodedText content;
  if (!ReadTextFile(path, content)) return defaultValue;
  bool inSection = false;
  for (const RawLine& line : splitLines(content.Text)) {
    const QString trimmed = line.Text.trimmed();
    QString name;
    if (headerName(trimmed, name)) {
      inSection = sameName(name, section);
      continue;
    }
    if (!inSection || isComment(trimmed) || !trimmed.contains(QLatin1Char('='))) continue;
    if (sameName(KeyOf(trimmed).trimmed(), key))
      return unquoted(ValueOf(trimmed).trimmed()).left(kMaxProfileValueLength);
  }
  return defaultValue;
}

bool WriteProfileString(const QString& path, const QString& section, const QString& key, const QString& value) {
  DecodedText content;
  const bool exists = ReadTextFile(path, content);
  if (!exists && QFileInfo::exists(path)) return false;  // there but unreadable: leave it alone
  std::vector<RawLine> lines = splitLines(content.Text);
  const QString newline = !lines.empty() && !lines.front().Ending.isEmpty() ? lines.front().Ending : QStringLiteral("\r\n");
  const QString keyLine = key + QLatin1Char('=') + value;

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
    if (!isComment(trimmed) && trimmed.contains(QLatin1Char('=')) && sameName(KeyOf(trimmed).trimmed(), key)) {
      lines[i].Text = keyLine;
      lastInSection = -2;  // replaced in place
      break;
    }
    lastInSection = i;
  }
  auto ensureEnding = [&](qsizetype at) {
    if (at >= 0 && lines[at].Ending.isEmpty()) lines[at].Ending = newline;
  };
  if (sectionAt < 0) {
    ensureEnding(qsizetype(lines.size()) - 1);
    lines.push_back({QLatin1Char('[') + section + QLatin1Char(']'), newline});
    lines.push_back({keyLine, newline});
  } else if (lastInSection >= 0) {
    ensureEnding(lastInSection);
    lines.insert(lines.begin() + lastInSection + 1, {keyLine, newline});
  }
  QString text;
  for (const RawLine& line : lines) text += line.Text + line.Ending;
  return WriteTextFileAtomically(path, text, content.Encoding);
}

IniDocument IniDocument::Load(const QString& path) {
  IniDocument document;
  DecodedText content;
  if (!ReadTextFile(path, content)) return document;
  document.FEncoding = content.Encoding;
  for (const RawLine& raw : splitLines(content.Text)) {
    const QString line = raw.Text.trimmed();
    if (line.isEmpty() || isComment(line)) continue;
    QString name;
    if (headerName(line, name)) {
      document.FSections.push_back({name, {}});
      continue;
    }
    if (document.FSections.empty()) continue;
    const qsizetype equals = line.indexOf(QLatin1Char('='));
    document.FSections.back().Lines << (equals < 0 ? line : line.left(equals).trimmed() + QLatin1Char('=') +
                                                                line.mid(equals + 1).trimmed());
  }
  return document;
}

void IniDocument::Save(const QString& path) const {
  QString text;
  for (const IniSection& section : FSections) {
    text += QLatin1Char('[') + section.Name + QStringLiteral("]\r\n");
    for (const QString& line : section.Lines) text += line + QStringLiteral("\r\n");
    text += QStringLiteral("\r\n");
  }
  if (!WriteTextFileAtomically(path, text, FEncoding))
    throw Exception(QStringLiteral("Unable to write to %1").arg(path));
}

IniSection* IniDocument::Find(const QString& name) {
  for (IniSection& section : FSections)
    if (sameName(section.Name, name)) return &section;
  return nullptr;
}

const IniSection* IniDocument::Find(const QString& name) const {
  return const_cast<IniDocument*>(this)->Find(name);
}

QString IniDocument::Value(const QString& section, const QString& key) const {
  if (const IniSection* found = Find(section))
    for (const QString& line : found->Lines)
      if (sameName(KeyOf(line), key)) return ValueOf(line);
  return {};
}

void IniDocument::SetValue(const QString& section, const QString& key, const QString& value) {
  IniSection* found = Find(section);
  if (!found) {
    FSections.push_back({section, {}});
    found = &FSections.back();
  }
  const QString line = key + QLatin1Char('=') + value;
  for (QString& existing : found->Lines)
    if (sameName(KeyOf(existing), key)) {
      existing = line;
      return;
    }
  found->Lines << line;
}

void IniDocument::EraseSection(const QString& name) {
  std::erase_if(FSections, [&](const IniSection& section) { return sameName(section.Name, name); });
}

void IniDocument::EraseKey(const QString& section, const QString& key) {
  if (IniSection* found = Find(section))
    found->Lines.removeIf([&](const QString& line) { return sameName(KeyOf(line), key); });
}

}  // namespace ini
