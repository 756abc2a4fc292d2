#include <gtest/gtest.h>

#include <QDir>
#include <QFileInfo>

#include "settings/QnSharedFolders.h"
#include "settings/_QnProductManager.h"
#include "tests/support/Fakes.h"
#include "tests/support/TempFolder.h"

namespace {

class SettingsStartUpTest : public ::testing::Test {
 protected:
  SettingsStartUpTest() {
    environment.Root = temp.Path() + "root/";
    environment.Documents = temp.Path() + "home/Documents";
    environment.Executable = temp.Path() + "apps/Prog/ombrevia-download";
    QDir().mkpath(environment.Documents);
    ProductList = std::make_unique<TQnQuarnellProductList>();
  }
  ~SettingsStartUpTest() override {
    SettingsShutDown();
    ProductList.reset();
  }
  QString Common() const { return environment.Root + "Quarnell/Common/"; }

  TempFolder temp;
  FakeEnvironment environment;
};

}  // namespace

TEST(SharedFolders, LastFolderName) {
  EXPECT_EQ(GetLastFolderName("/a/b/c.txt"), "b");
  EXPECT_EQ(GetLastFolderName("c.txt"), "");
  EXPECT_EQ(GetLastFolderName("/c.txt"), "");
  EXPECT_FALSE(IsRemovableDrive(""));
  EXPECT_FALSE(IsRemovableDrive("/proc/self"));
}

TEST_F(SettingsStartUpTest, MakesTheLayoutAndTheTwoSettingsFiles) {
  SettingsStartUp();
  const QString userFolder = environment.Documents + "/Quarnell/impostazioni/Prog";
  EXPECT_TRUE(QFileInfo(userFolder).isDir());
  EXPECT_EQ(UserSettingsFolder, userFolder);
  EXPECT_EQ(ProgramFolderName, "Prog");
  EXPECT_EQ(UserSettings->NomeFileIni(), userFolder + "/qngconf.ini");
  EXPECT_EQ(CommonSettings->NomeFileIni(), Common() + "qngcommon.ini");
  EXPECT_TRUE(QFileInfo(Common() + "Liste").isDir());
  EXPECT_EQ(ListsFolder, Common() + "Liste/");
  EXPECT_EQ(ArchivesFolder, Common() + "Liste/");
  EXPECT_EQ(DxfFolder, environment.Documents + "/");
  ASSERT_EQ(ProductList->Count(), 2);
  EXPECT_EQ(ProductList->GetProduct(0)->ProductId, 2700);
  EXPECT_EQ(ProductList->GetProduct(0)->VendorName(), "Ardisca");
  EXPECT_EQ(ProductList->GetProduct(0)->UltimaVersioneDistribuita(), "14.00");
  EXPECT_EQ(ProductList->GetProduct(1)->ProductName, "Corvane");
  EXPECT_EQ(ProductList->GetProduct(1)->UltimaVersioneDistribuita(), "12.00");
  SettingsShutDown();
  EXPECT_EQ(UserSettings, nullptr);
  EXPECT_TRUE(UserSettingsFolder.isEmpty());
}

TEST_F(SettingsStartUpTest, BringsInArchiveFilesWithoutReplacingExistingOnes) {
  temp.Write("archive/f1", "new f1");
  temp.Write("archive/f2", "f2");
  temp.Write("archive/.hidden", "h");
  temp.Write("archive/sub/inner", "not copied");
  temp.Write("root/Quarnell/Common/Liste/f1", "old f1");
  temp.Write("root/Quarnell/Common/qngcommon.ini",
             "[SOFTWARE\\QUARNELL\\COMMON]\r\nPercorsoArchivi=" + temp.Path().toUtf8() + "archive/\r\n");
  SettingsStartUp();
  EXPECT_EQ(ReadFile(Common() + "Liste/f1"), "old f1");
  EXPECT_EQ(ReadFile(Common() + "Liste/f2"), "f2");
  EXPECT_EQ(ReadFile(Common() + "Liste/.hidden"), "h");
  EXPECT_FALSE(QFileInfo::exists(Common() + "Liste/sub"));
}

TEST_F(SettingsStartUpTest, AListFileThatCannotBeCopiedIsPassedOver) {
  temp.Write("archive/a", "a");
  temp.Write("archive/b", "b");
  QDir().mkpath(Common() + "Liste/b");  // a folder in the way: the copy of b cannot be made
  temp.Write("archive/c", "c");
  temp.Write("root/Quarnell/Common/qngcommon.ini",
             "[SOFTWARE\\QUARNELL\\COMMON]\r\nPercorsoArchivi=" + temp.Path().toUtf8() + "archive/\r\n");
  EXPECT_NO_THROW(SettingsStartUp());
  EXPECT_EQ(ReadFile(Common() + "Liste/a"), "a");
  EXPECT_EQ(ReadFile(Common() + "Liste/c"), "c");
}

TEST_F(SettingsStartUpTest, PercorsoCommonTakesThePlaceOfTheCommonFolderWhereItHasTheSubFolder) {
  QDir().mkpath(temp.Path() + "shared/Liste");
  temp.Write("root/Quarnell/Common/qngcommon.ini",
             "[SOFTWARE\\QUARNELL\\COMMON]\r\nPercorsoCommon=" + temp.Path().toUtf8() + "shared\r\n");
  SettingsStartUp();
  EXPECT_EQ(ArchivesFolder, temp.Path() + "shared/Liste/");
  EXPECT_EQ(GetCommonSubFolder("Other"), Common() + "Other/");
}
