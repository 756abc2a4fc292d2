#include <gtest/gtest.h>

#include <QLabel>
#include <QRegularExpression>

#include "lang/QnLangGlobalDataModule.h"

namespace {

class LanguageModule : public ::testing::Test {
 protected:
  LanguageModule() { LangStartUp(); }
  ~LanguageModule() override { LangShutDown(); }
  TsiLangDispatcher& Dispatcher() { return *DataModuleQnLangGlobal->siLangDispatcherGlobal; }
  TsiLang& Table() { return *DataModuleQnLangGlobal->siLangGlobal; }
};

}  // namespace

TEST_F(LanguageModule, StartsInItalianAndFollowsTheSelection) {
  EXPECT_EQ(CurrentLanguageIndex, 1);
  EXPECT_EQ(Dispatcher().ActiveLanguage(), 1);
  EXPECT_EQ(Dispatcher().LangNames, (QStringList{"Italiano", "Inglese", "Francese"}));
  ASSERT_EQ(DataModuleQnLangGlobal->siLangSearchStringList->size(), 1u);
  for (int language : {2, 3}) {
    Dispatcher().SetActiveLanguage(language);
    EXPECT_EQ(CurrentLanguageIndex, 2);
  }
  Dispatcher().SetActiveLanguage(1);
  EXPECT_EQ(CurrentLanguageIndex, 1);
}

TEST_F(LanguageModule, AWindowTableFollowsTheSelectionWithItalianForEmptyTexts) {
  QLabel button, caption;
  TsiLang windowTable;
  windowTable.AddProperty(&button, "text", {"Interrompi", "Stop", ""});
  windowTable.AddProperty(&caption, "text", {"Operazione in corso...", "Processing...", ""});
  windowTable.DoNotTranslate = {"FileName"};
  windowTable.AddProperty(&caption, "FileName", {"a", "b", "c"});  // never translated
  SetGlobalLangDispatcher(&windowTable);
  EXPECT_EQ(DataModuleQnLangGlobal->siLangSearchStringList->size(), 1u);  // none added
  Dispatcher().SetActiveLanguage(2);
  EXPECT_EQ(button.text(), "Stop");
  EXPECT_EQ(caption.text(), "Processing...");
  EXPECT_FALSE(caption.property("FileName").isValid());
  Dispatcher().SetActiveLanguage(3);
  EXPECT_EQ(button.text(), "Interrompi");
  EXPECT_EQ(Table().GetText("STR_GEN_ANNULLA"), "Annulla");  // Francese empty: Italiano
  Dispatcher().SetActiveLanguage(2);
  EXPECT_EQ(Table().GetText("STR_GEN_ANNULLA"), "Cancel");
  SetGlobalLangDispatcher(nullptr);  // ignored
}

TEST_F(LanguageModule, TheSharedTableHoldsEveryRow) {
  EXPECT_EQ(Table().DialogCaptionKeys().size(), 15);
  EXPECT_EQ(Table().GetDialogCaption("No To All"), "N&o to All");
  const QStringList keys = Table().StringKeys();
  ASSERT_EQ(keys.size(), 732);
  struct Family {
    const char* pattern;
    int rows;
  };
  for (const Family& family :
       {Family{"^STR_BUON", 4}, Family{"^STR_GEN_CAD_LT_", 12}, Family{"^STR_GEN_CMD_MICMAC_\\d{3}$", 59},
        Family{"^STR_GEN_COLOR_", 24}, Family{"^STR_GEN_ERRORE", 19}, Family{"^STR_GEN_ID_\\d{3}$", 574},
        Family{"^STR_GEN_SALVATAGGIO", 2}, Family{"^STR_GEN_UPLOAD_", 2}, Family{"^STR_START_\\d{3}$", 15},
        Family{"^STR_VT_00[1-57]$", 6}}) {
    SCOPED_TRACE(family.pattern);
    EXPECT_EQ(keys.filter(QRegularExpression(family.pattern)).size(), family.rows);
  }
  int withFrench = 0;
  for (const QString& key : keys) {
    SCOPED_TRACE(key.toStdString());
    EXPECT_FALSE(Table().GetTextIn(key, 1).isEmpty());
    EXPECT_FALSE(Table().GetTextIn(key, 2).isEmpty());
    Table().UseDefaultLanguage = false;
    withFrench += !Table().GetTextIn(key, 3).isEmpty();
    Table().UseDefaultLanguage = true;
    EXPECT_FALSE(Table().GetTextIn(key, 1).contains("TODO"));
  }
  EXPECT_EQ(withFrench, 2);
  struct Fixed {
    const char* key;
    const char* italiano;
    const char* inglese;
  };
  for (const Fixed& row :
       {Fixed{"STR_BUONPOMERIGGIO", "Buon pomeriggio", "Good afternoon"},
        Fixed{"STR_GEN_HOCOMPRESO", "Ho compreso", "I got it"}, Fixed{"STR_GEN_SI", "Sì", "Yes"},
        Fixed{"STR_GEN_CAD_LT_TRATTI_PUNTI", "TRATTI-PUNTI", "DASHES-DOTS"},
        Fixed{"STR_GEN_COLOR_GRAY3", "Grigio3", "Gray3"}, Fixed{"STR_GEN_COLOR_SALAD", "Verde sedano", "Salad"},
        Fixed{"STR_GEN_ERRORE", "Errore", "Error"},
        Fixed{"STR_GEN_SALVATAGGIO_2", "Attendere... salvataggio e chiusura in corso.", "Saving..."}}) {
    SCOPED_TRACE(row.key);
    EXPECT_EQ(Table().GetTextIn(row.key, 1), QString::fromUtf8(row.italiano));
    EXPECT_EQ(Table().GetTextIn(row.key, 2), QString::fromUtf8(row.inglese));
  }
  EXPECT_TRUE(Table().GetTextIn("STR_GEN_ERRORE_MICMAC_010", 1).contains('\n'));  // multi-line texts
}
