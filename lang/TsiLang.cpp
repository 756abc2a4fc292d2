#include "lang/TsiLang.h"

#include <QFile>
#include <QObject>
#include <QVariant>

#include "lang/TsiLangDispatcher.h"
#include "platform/base/Exception.h"

namespace {

QString unescaped(const QString& text) {
  QString out;
  out.reserve(text.size());
  for (qsizetype i = 0; i < text.size(); ++i) {
    if (text[i] != QLatin1Char('\\') || i + 1 == text.size()) {
      out += text[i];
      continue;
    }
    const QChar next = text[++i];
    out += next == QLatin1Char('n') ? QChar('\n') : next == QLatin1Char('t') ? QChar('\t') : next;
  }
  return out;
}

}  // namespace

TsiLang::TsiLang() = default;

TsiLang::~TsiLang() { SetDispatcher(nullptr); }

void TsiLang::SetDispatcher(TsiLangDispatcher* dispatcher) {
  if (FDispatcher == dispatcher) return;
  if (FDispatcher) FDispatcher->Detach(this);
  FDispatcher = dispatcher;
  if (FDispatcher) FDispatcher->Attach(this);
}

void TsiLang::SetActiveLanguage(int language) {
  FActiveLanguage = language;
  for (const PropertyTexts& entry : FProperties)
    if (entry.Control) entry.Control->setProperty(entry.Property.constData(), pick(entry.Texts, language));
}

void TsiLang::AddProperty(QObject* control, const QByteArray& property, const QStringList& texts) {
  if (DoNotTranslate.contains(QString::fromLatin1(property), Qt::CaseInsensitive)) return;
  FProperties.push_back({control, property, texts});
  control->setProperty(property.constData(), pick(texts, FActiveLanguage));
}

QString TsiLang::pick(const QStringList& texts, int language) const {
  const QString text = texts.value(language - 1);
  if (text.isEmpty() && UseDefaultLanguage) return texts.value(DefaultLanguage - 1);
  return text;
}

void TsiLang::LoadTable(const QString& path) {
  QFile file(path);
  if (!file.open(QIODevice::ReadOnly))
    throw Exception(QStringLiteral("Cannot open the translation table %1").arg(path));
  const QStringList lines = QString::fromUtf8(file.readAll()).split(QLatin1Char('\n'), Qt::SkipEmptyParts);
  for (const QString& line : lines) {
    if (line.startsWith(QLatin1Char('#'))) continue;
    QStringList fields = line.split(QLatin1Char('\t'));
    if (fields.size() < 3) continue;
    const QString group = fields.takeFirst();
    const QString key = fields.takeFirst();
    for (QString& text : fields) text = unescaped(text);
    if (group == QLatin1String("dialog"))
      AddDialogCaption(key, fields);
    else
      AddString(key, fields);
  }
}
