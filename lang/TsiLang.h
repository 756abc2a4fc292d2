// One window's or module's translation table: per control property and per string key,
// one text per language. An empty text falls back to the default language; the listed
// properties are never translated.
#pragma once

#include <QByteArray>
#include <QHash>
#include <QPointer>
#include <QStringList>
#include <vector>

class QObject;
class TsiLangDispatcher;

class TsiLang {
 public:
  TsiLang();
  ~TsiLang();
  TsiLang(const TsiLang&) = delete;
  TsiLang& operator=(const TsiLang&) = delete;

  QStringList LangNames{QStringLiteral("Italiano"), QStringLiteral("Inglese"), QStringLiteral("Francese")};
  int DefaultLanguage = 1;
  bool UseDefaultLanguage = true;
  QStringList TranslateStringsTypes{QStringLiteral("TIB_STRINGLIST"), QStringLiteral("TSTRINGLIST")};
  QStringList DoNotTranslate;  // property names left alone

  TsiLangDispatcher* Dispatcher() const { return FDispatcher; }
  // Attaches to `dispatcher` (detaching from the previous one) and takes its language.
  void SetDispatcher(TsiLangDispatcher* dispatcher);

  int ActiveLanguage() const { return FActiveLanguage; }
  // Sets every registered property to its text in `language`.
  void SetActiveLanguage(int language);

  // Registers a control's property with its texts in language order; a property on the
  // do-not-translate list is not registered.
  void AddProperty(QObject* control, const QByteArray& property, const QStringList& texts);
  void AddString(const QString& key, const QStringList& texts) { FStrings.insert(key, texts); }
  void AddDialogCaption(const QString& key, const QStringList& texts) { FDialogCaptions.insert(key, texts); }

  // Texts in the active language ("" for an unknown key).
  QString GetText(const QString& key) const { return GetTextIn(key, FActiveLanguage); }
  QString GetTextIn(const QString& key, int language) const { return pick(FStrings.value(key), language); }
  QString GetDialogCaption(const QString& key) const { return pick(FDialogCaptions.value(key), FActiveLanguage); }
  QStringList StringKeys() const { return FStrings.keys(); }
  QStringList DialogCaptionKeys() const { return FDialogCaptions.keys(); }

  // Adds the rows of a table resource: lines "group<TAB>key<TAB>text...", group "dialog" or
  // "string", "\n" and "\t" escaped, "#" lines ignored. Raises Exception when it is missing.
  void LoadTable(const QString& path);

 private:
  struct PropertyTexts {
    QPointer<QObject> Control;
    QByteArray Property;
    QStringList Texts;
  };
  QString pick(const QStringList& texts, int language) const;

  TsiLangDispatcher* FDispatcher = nullptr;
  int FActiveLanguage = 1;
  std::vector<PropertyTexts> FProperties;
  QHash<QString, QStringList> FStrings;
  QHash<QString, QStringList> FDialogCaptions;
};
