// The INI engine on a settings file from anywhere, both ways in. Beyond not crashing:
//  - a whole-file load is in normal form after one save: saving and loading again gives
//    the same sections and lines;
//  - a single-value write reads back (the value as the file's encoding holds it) and
//    changes nothing else: every other line is kept, and the file keeps its encoding;
//  - a value set in a loaded document reads back from it and from the saved file.
#include <iterator>

#include "fuzz/FuzzSupport.h"
#include "platform/base/Exception.h"
#include "platform/base/TextCodec.h"
#include "platform/ini/IniFile.h"

namespace {

// Values a program writes, none with blanks at its ends, quotes around it, a line break,
// or a "]" at its end (which would make "key=value" a section header).
const QString kValues[] = {
    QStringLiteral("1"),
    QString(),
    QStringLiteral("C:\\Program Files\\Quarnell\\Download\\"),
    QStringLiteral("a=b; not a comment"),
    QStringLiteral("\"half quoted"),
    QStringLiteral("D\u00e9j\u00e0 vu \u20ac"),
    QStringLiteral("\u65e5\u672c\u8a9e \U0001F600"),
    QString(ini::kMaxProfileValueLength, QLatin1Char('v')),
};

bool sameDocument(const ini::IniDocument& a, const ini::IniDocument& b) {
  if (a.Sections().size() != b.Sections().size()) return false;
  for (size_t i = 0; i < a.Sections().size(); ++i)
    if (a.Sections()[i].Name != b.Sections()[i].Name || a.Sections()[i].Lines != b.Sections()[i].Lines) return false;
  return true;
}

// The text's lines whatever their endings, without the empty piece after a final ending.
QStringList linesOf(const QString& text) {
  QString normal = text;
  normal.replace(QStringLiteral("\r\n"), QStringLiteral("\n")).replace(QLatin1Char('\r'), QLatin1Char('\n'));
  QStringList lines = normal.split(QLatin1Char('\n'));
  if (!lines.isEmpty() && lines.back().isEmpty()) lines.removeLast();
  return lines;
}

// `after` is `before` with one line replaced, or with at most two lines added (a key, or a
// section header and a key), and no other change.
bool onlyOneEdit(const QStringList& before, const QStringList& after) {
  qsizetype prefix = 0;
  while (prefix < before.size() && prefix < after.size() && before[prefix] == after[prefix]) ++prefix;
  qsizetype suffix = 0;
  while (suffix < before.size() - prefix && suffix < after.size() - prefix &&
         before[before.size() - 1 - suffix] == after[after.size() - 1 - suffix])
    ++suffix;
  return before.size() - prefix - suffix <= 1 && after.size() - prefix - suffix <= 2;
}

// What reading `value` back from a file in `encoding` can give.
QString asStored(const QString& value, TextEncoding encoding) {
  return encoding == TextEncoding::Windows1252 ? FromWindows1252(ToWindows1252(value)) : value;
}

struct Target {
  QString Section;
  QString Key;
};

// A section and key of the file itself when it has one, so that edits hit real lines. A
// file may hold names no program can write ("[]", "=value"); writes refuse those, so they
// are not chosen.
Target chooseTarget(const ini::IniDocument& document, int choice) {
  const auto& sections = document.Sections();
  const Target fallback{QStringLiteral("Fuzz Section"), QStringLiteral("Fuzz Key")};
  if (sections.empty() || choice % 4 == 0) return fallback;
  const ini::IniSection& section = sections[static_cast<size_t>(choice) % sections.size()];
  if (section.Name.isEmpty()) return fallback;
  for (qsizetype i = 0; i < section.Lines.size(); ++i) {
    const QString& line = section.Lines[(i + choice) % section.Lines.size()];
    const QString key = ini::KeyOf(line).trimmed();
    if (line.contains(QLatin1Char('=')) && !key.isEmpty()) return {section.Name, key};
  }
  return {section.Name, fallback.Key};
}

// Writes `document` as the whole content of `path`, the way every whole-file change is written.
void saveAs(const ini::IniDocument& document, const QString& path) {
  ini::IniDocument::Update(path, [&](ini::IniDocument& onDisk) { onDisk = document; });
}

void checkDocumentRoundTrip(const FuzzScratch& scratch, const QString& path, const Target& target,
                            const QString& value) {
  ini::IniDocument document = ini::IniDocument::Load(path);
  const QString saved = scratch.Path() + QStringLiteral("saved.ini");
  saveAs(document, saved);
  FUZZ_CHECK(sameDocument(document, ini::IniDocument::Load(saved)),
             QStringLiteral("a saved document loads differently"));

  document.SetValue(target.Section, target.Key, value);
  FUZZ_CHECK(document.Value(target.Section, target.Key) == value, QStringLiteral("a value set does not read back"));
  saveAs(document, saved);
  const TextEncoding encoding = DecodeText(FuzzReadFile(saved)).Encoding;
  FUZZ_CHECK(ini::IniDocument::Load(saved).Value(target.Section, target.Key) == asStored(value, encoding),
             QStringLiteral("a value saved does not load back"));
}

void checkSingleValueWrite(const QString& path, const Target& target, const QString& value) {
  const QByteArray before = FuzzReadFile(path);
  const DecodedText original = DecodeText(before);
  FUZZ_CHECK(ini::WriteProfileString(path, target.Section, target.Key, value), QStringLiteral("the write failed"));
  const DecodedText written = DecodeText(FuzzReadFile(path));
  FUZZ_CHECK(written.Encoding == original.Encoding, QStringLiteral("the write changed the file's encoding"));
  FUZZ_CHECK(onlyOneEdit(linesOf(original.Text), linesOf(written.Text)),
             QStringLiteral("the write changed more than its own line"));
  const QString missing = QStringLiteral("\x01missing");
  FUZZ_CHECK(ini::ReadProfileString(path, target.Section, target.Key, missing) == asStored(value, original.Encoding),
             QStringLiteral("the value written does not read back"));
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  FuzzScratch scratch;
  if (!scratch.IsValid()) return 0;
  const QString path = scratch.Write(QStringLiteral("settings.ini"), FuzzBytes(data, size));
  const int choice = FuzzChoice(data, size, 256);
  const QString value = kValues[FuzzChoice(data, size, std::size(kValues), 3)];

  // Any lookup must run through the file without harm, whatever it holds.
  ini::ReadProfileString(path, QStringLiteral("SOFTWARE\\QUARNELL\\COMMON"), QStringLiteral("DownloadServer"), {});

  const Target target = chooseTarget(ini::IniDocument::Load(path), choice);
  checkDocumentRoundTrip(scratch, path, target, value);
  checkSingleValueWrite(path, target, value);
  return 0;
}
