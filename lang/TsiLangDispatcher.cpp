#include "lang/TsiLangDispatcher.h"

#include <algorithm>

#include "lang/TsiLang.h"

TsiLangDispatcher::~TsiLangDispatcher() {
  const std::vector<TsiLang*> tables = FTables;
  for (TsiLang* table : tables) table->SetDispatcher(nullptr);
}

void TsiLangDispatcher::SetActiveLanguage(int language) {
  if (language < 1 || language > NumOfLanguages()) return;
  FActiveLanguage = language;
  for (TsiLang* table : FTables) table->SetActiveLanguage(language);
  if (OnLanguageChanged) OnLanguageChanged(this);
}

void TsiLangDispatcher::Attach(TsiLang* table) {
  if (std::find(FTables.begin(), FTables.end(), table) == FTables.end()) FTables.push_back(table);
  table->SetActiveLanguage(FActiveLanguage);
}

void TsiLangDispatcher::Detach(TsiLang* table) { std::erase(FTables, table); }
