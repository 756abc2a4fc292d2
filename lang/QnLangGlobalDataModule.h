// The language module: the system-wide language selection and the shared translation
// table, made at start-up and kept for the whole run.
#pragma once

#include <memory>
#include <vector>

#include "lang/TsiLang.h"
#include "lang/TsiLangDispatcher.h"

class TDataModuleQnLangGlobal {
 public:
  // Applies the module's stored settings, then runs DataModuleCreate.
  TDataModuleQnLangGlobal();
  ~TDataModuleQnLangGlobal();
  TDataModuleQnLangGlobal(const TDataModuleQnLangGlobal&) = delete;
  TDataModuleQnLangGlobal& operator=(const TDataModuleQnLangGlobal&) = delete;

  // The selection outlives every table attached to it.
  std::unique_ptr<TsiLangDispatcher> siLangDispatcherGlobal;
  std::unique_ptr<TsiLang> siLangGlobal;
  // Tables registered for string search; not owned.
  std::unique_ptr<std::vector<TsiLang*>> siLangSearchStringList;

  void DataModuleCreate();
  void DataModuleDestroy();
  // Attaches `ASiLang` to the selection, and lists it for search when asked.
  void SetDispatcher(TsiLang* ASiLang, bool AFlagAddForSearchString);
  void siLangDispatcherGlobalLanguageChanged(TsiLangDispatcher* Sender);
};

extern std::unique_ptr<TDataModuleQnLangGlobal> DataModuleQnLangGlobal;
// 1 while the first language (Italiano) is active, 2 for any other.
extern qint32 CurrentLanguageIndex;

// A window attaches its own table to the system-wide selection.
void SetGlobalLangDispatcher(TsiLang* ASiLang);

// Start-up and shut-down steps of the module.
void LangStartUp();
void LangShutDown();
