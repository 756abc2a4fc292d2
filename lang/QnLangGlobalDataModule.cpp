#include "lang/QnLangGlobalDataModule.h"

std::unique_ptr<TDataModuleQnLangGlobal> DataModuleQnLangGlobal;
qint32 CurrentLanguageIndex = 1;

namespace {

// Laid out as a table by hand.
// clang-format off
const QStringList kUntranslatedProperties = {
    "Category", "SecondaryShortCuts", "HelpKeyword", "InitialDir", "HelpKeyword", "ActivePage",
    "ImeName", "DefaultExt", "FileName", "FieldName", "PickList", "DisplayFormat",
    "EditMask", "KeyList", "LookupDisplayFields", "DropDownSpecRow", "TableName", "DatabaseName",
    "IndexName", "MasterFields", "SQL", "DeleteSQL", "UpdateSQL", "ModifySQL",
    "KeyFields", "LookupKeyFields", "LookupResultField", "DataField", "KeyField", "ListField"};
// clang-format on

}  // namespace

// The table lives in this static library; naming its resource keeps the linker from dropping it.
static void loadTableResource() { Q_INIT_RESOURCE(lang); }

TDataModuleQnLangGlobal::TDataModuleQnLangGlobal()
    : siLangDispatcherGlobal(std::make_unique<TsiLangDispatcher>()), siLangGlobal(std::make_unique<TsiLang>()) {
  siLangDispatcherGlobal->OnLanguageChanged = [this](TsiLangDispatcher* sender) {
    siLangDispatcherGlobalLanguageChanged(sender);
  };
  siLangGlobal->DoNotTranslate = kUntranslatedProperties;
  loadTableResource();
  siLangGlobal->LoadTable(QStringLiteral(":/lang/QnLangGlobal.tsv"));
  siLangGlobal->SetDispatcher(siLangDispatcherGlobal.get());
  DataModuleCreate();
}

TDataModuleQnLangGlobal::~TDataModuleQnLangGlobal() { DataModuleDestroy(); }

void TDataModuleQnLangGlobal::DataModuleCreate() {
  siLangSearchStringList = std::make_unique<std::vector<TsiLang*>>();
  siLangDispatcherGlobal->DefaultLanguage = 1;
  siLangDispatcherGlobal->UseDefaultLanguage = true;
  siLangDispatcherGlobal->SetActiveLanguage(1);
  SetDispatcher(siLangGlobal.get(), true);
}

void TDataModuleQnLangGlobal::DataModuleDestroy() { siLangSearchStringList.reset(); }

void TDataModuleQnLangGlobal::SetDispatcher(TsiLang* ASiLang, bool AFlagAddForSearchString) {
  if (!ASiLang) return;
  if (AFlagAddForSearchString && siLangSearchStringList) siLangSearchStringList->push_back(ASiLang);
  ASiLang->SetDispatcher(siLangDispatcherGlobal.get());
  ASiLang->SetActiveLanguage(siLangDispatcherGlobal->ActiveLanguage());
}

void TDataModuleQnLangGlobal::siLangDispatcherGlobalLanguageChanged(TsiLangDispatcher* Sender) {
  CurrentLanguageIndex = Sender->ActiveLanguage() <= 1 ? 1 : 2;
}

void SetGlobalLangDispatcher(TsiLang* ASiLang) {
  if (DataModuleQnLangGlobal) DataModuleQnLangGlobal->SetDispatcher(ASiLang, false);
}

void LangStartUp() {
  CurrentLanguageIndex = 1;
  DataModuleQnLangGlobal = std::make_unique<TDataModuleQnLangGlobal>();
}

void LangShutDown() { DataModuleQnLangGlobal.reset(); }
