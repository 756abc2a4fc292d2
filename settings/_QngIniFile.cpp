#include "settings/_QngIniFile.h"

#include <QFile>
#include <QFileInfo>
#include <thread>

#include "platform/base/Exception.h"
#include "platform/base/NumberFormat.h"
#include "platform/base/Paths.h"

QString UserSettingsFolder;

namespace {

constexpr int kWriteAttempts = 100;
constexpr auto kWriteRetryTime = std::chrono::seconds(10);

QString resolvedName(const QString& name) {
  const QString folder = paths::ExtractFilePath(UserSettingsFolder);
  if (name.isEmpty()) return folder + QStringLiteral("qngconf.ini");
  if (!name.contains(QLatin1Char('/'))) return folder + name;
  return name;
}

// The text of one byte as the registry import writes it: two upper-case hex digits,
// right-aligned with a blank.
QString hexByte(uchar byte) { return QString::number(byte, 16).toUpper().rightJustified(2, QLatin1Char(' ')); }

QString registryValueText(const Registry& key, const QString& name) {
  switch (key.GetDataType(name)) {
    case RegistryDataType::String:
    case RegistryDataType::ExpandString: return key.ReadString(name);
    case RegistryDataType::Binary: {
      QString text;
      for (const char byte : key.ReadBinaryData(name)) text += hexByte(static_cast<uchar>(byte));
      return text;
    }
    case RegistryDataType::Integer: return QString::number(key.ReadInteger(name));
    case RegistryDataType::Unknown: break;
  }
  return {};
}

}  // namespace

TQngIniFile::TQngIniFile(const QString& ANomeFileIni)
    : FNomeFileIni(resolvedName(ANomeFileIni)), FFileIni(FNomeFileIni) {}

QString TQngIniFile::LeggiValore(const QString& Sezione, const QString& Nome, const QString& DefValue) const {
  if (Sezione.isEmpty() || Nome.isEmpty()) return DefValue;
  return ini::ReadProfileString(FNomeFileIni, Sezione, Nome, DefValue);
}

void TQngIniFile::ScriviValore(const QString& Sezione, const QString& Nome, const QString& Valore) const {
  if (Sezione.isEmpty() || Nome.isEmpty()) return;
  // A file held briefly by another program gets a few more chances; then the value is given
  // up. A name or value the file cannot hold is refused at once: retrying would not help.
  // A file kept locked by a stuck program is not waited for a hundred times over.
  const ini::IniFile accessor(FNomeFileIni);
  const auto deadline = std::chrono::steady_clock::now() + kWriteRetryTime;
  for (int attempt = 0; attempt < kWriteAttempts && std::chrono::steady_clock::now() < deadline; ++attempt) {
    try {
      accessor.WriteString(Sezione, Nome, Valore);
      return;
    } catch (const Exception&) {
      std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
  }
}

qint32 TQngIniFile::LeggiInteger(const QString& Sezione, const QString& Nome, qint32 DefValue) const {
  bool ok = false;
  const qint32 value = LeggiValore(Sezione, Nome, QString::number(DefValue)).toInt(&ok);
  return ok ? value : DefValue;
}

void TQngIniFile::ScriviInteger(const QString& Sezione, const QString& Nome, qint32 Valore) const {
  ScriviValore(Sezione, Nome, QString::number(Valore));
}

double TQngIniFile::LeggiFloat(const QString& Sezione, const QString& Nome, double DefValue) const {
  double value = DefValue;
  return TryStrToFloat(LeggiValore(Sezione, Nome, FloatToStr(DefValue)), value) ? value : DefValue;
}

void TQngIniFile::ScriviFloat(const QString& Sezione, const QString& Nome, double Valore) const {
  ScriviValore(Sezione, Nome, FloatToStr(Valore));
}

bool TQngIniFile::LeggiBool(const QString& Sezione, const QString& Nome, bool DefValue) const {
  const QString text = LeggiValore(Sezione, Nome, DefValue ? QStringLiteral("True") : QStringLiteral("False"));
  double number = 0;
  if (TryStrToFloat(text, number)) return number != 0;
  if (text.compare(QLatin1String("true"), Qt::CaseInsensitive) == 0) return true;
  if (text.compare(QLatin1String("false"), Qt::CaseInsensitive) == 0) return false;
  return DefValue;
}

void TQngIniFile::ScriviBool(const QString& Sezione, const QString& Nome, bool Valore) const {
  ScriviValore(Sezione, Nome, Valore ? QStringLiteral("-1") : QStringLiteral("0"));
}

QString TQngIniFile::EliminaChiave(const QString& Sezione, const QString& Nome) const {
  ini::IniDocument::Update(FNomeFileIni, [&](ini::IniDocument& document) { document.EraseKey(Sezione, Nome); });
  return {};
}

void TQngIniFile::EliminaSezione(const QString& Sezione) const {
  ini::IniDocument::Update(FNomeFileIni, [&](ini::IniDocument& document) { document.EraseSection(Sezione); });
}

void TQngIniFile::LeggiValoriSezione(const QString& Sezione, QStringList& Lista) const {
  Lista.clear();
  const ini::IniDocument document = ini::IniDocument::Load(FNomeFileIni);
  if (const ini::IniSection* section = document.Find(Sezione)) Lista = section->Lines;
}

void TQngIniFile::LeggiChiaviSezione(const QString& Sezione, QStringList& Lista) const {
  Lista.clear();
  const ini::IniDocument document = ini::IniDocument::Load(FNomeFileIni);
  if (const ini::IniSection* section = document.Find(Sezione))
    for (const QString& line : section->Lines) Lista << ini::KeyOf(line);
}

bool TQngIniFile::EsisteSezione(const QString& Sezione) const {
  const ini::IniDocument document = ini::IniDocument::Load(FNomeFileIni);
  const ini::IniSection* section = document.Find(Sezione);
  return section && !section->Lines.isEmpty();
}

void TQngIniFile::RinominaSezione(const QString& VecchioNome, const QString& NuovoNome) const {
  if (!EsisteSezione(VecchioNome)) return;
  // One locked edit, so that a value another program writes meanwhile is not lost between
  // the read of the old section and its removal.
  ini::IniDocument::Update(FNomeFileIni, [&](ini::IniDocument& document) {
    const ini::IniSection* old = document.Find(VecchioNome);
    const QStringList lines = old ? old->Lines : QStringList();
    document.EraseSection(VecchioNome);
    if (NuovoNome.trimmed().isEmpty()) return;
    for (const QString& line : lines)
      if (line.contains(QLatin1Char('='))) document.SetValue(NuovoNome, ini::KeyOf(line), ini::ValueOf(line));
  });
}

bool TQngIniFile::EsportaFileIni(const QString& NomeFile) const {
  if (!paths::FileExists(FNomeFileIni) || NomeFile == FNomeFileIni) return false;
  return QFile::copy(FNomeFileIni, NomeFile);  // refuses an existing target
}

bool TQngIniFile::ImportaFileIni(const QString& NomeFile) const {
  if (!paths::FileExists(NomeFile)) return false;
  const ini::IniDocument other = ini::IniDocument::Load(NomeFile);
  ini::IniDocument::Update(FNomeFileIni, [&](ini::IniDocument& document) {
    for (const ini::IniSection& section : other.Sections()) {
      if (!other.IsFirstOfItsName(section)) continue;  // a later section of the same name is never seen
      for (const QString& line : section.Lines) {
        const QString name = ini::KeyOf(line);
        document.SetValue(section.Name, name, other.Value(section.Name, name));
      }
    }
  });
  return true;
}

void TQngIniFile::ImportaDaRegistro(HKEY Radice, const QString& ChiaveRegistro) const {
  Registry key;
  if (!key.OpenKeyReadOnly(Radice, ChiaveRegistro)) return;
  for (const QString& name : key.GetValueNames()) ScriviValore(ChiaveRegistro, name, registryValueText(key, name));
  for (const QString& sub : key.GetKeyNames()) ImportaDaRegistro(Radice, ChiaveRegistro + QLatin1Char('\\') + sub);
  key.CloseKey();
}

void TQngIniFile::EsportaSuRegistro(HKEY Radice, const QString& ChiaveRegistro) const {
  const ini::IniDocument document = ini::IniDocument::Load(FNomeFileIni);
  const QString base = ChiaveRegistro.endsWith(QLatin1Char('\\')) ? ChiaveRegistro : ChiaveRegistro + QLatin1Char('\\');
  for (const ini::IniSection& section : document.Sections()) {
    Registry key;
    if (!key.OpenKey(Radice, base + section.Name, true)) continue;
    for (const QString& line : section.Lines)
      if (line.contains(QLatin1Char('='))) key.WriteString(ini::KeyOf(line), ini::ValueOf(line));
    key.CloseKey();
  }
}
