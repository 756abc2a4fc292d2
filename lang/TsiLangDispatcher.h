// The language selection: the active language (1-based) and every translation table
// attached to it, all switched at once when the language changes.
#pragma once

#include <QStringList>
#include <functional>
#include <vector>

class TsiLang;

class TsiLangDispatcher {
 public:
  TsiLangDispatcher() = default;
  ~TsiLangDispatcher();  // attached tables are told they have no dispatcher any more
  TsiLangDispatcher(const TsiLangDispatcher&) = delete;
  TsiLangDispatcher& operator=(const TsiLangDispatcher&) = delete;

  QStringList LangNames{QStringLiteral("Italiano"), QStringLiteral("Inglese"), QStringLiteral("Francese")};
  int DefaultLanguage = 1;
  bool UseDefaultLanguage = true;  // an empty text shows the default language's
  std::function<void(TsiLangDispatcher* sender)> OnLanguageChanged;

  int NumOfLanguages() const { return static_cast<int>(LangNames.size()); }
  int ActiveLanguage() const { return FActiveLanguage; }
  // Switches every attached table, then raises OnLanguageChanged. Out of range: ignored.
  void SetActiveLanguage(int language);

  // A table takes the active language now and on every change.
  void Attach(TsiLang* table);
  void Detach(TsiLang* table);

 private:
  int FActiveLanguage = 1;
  std::vector<TsiLang*> FTables;  // not owned
};
