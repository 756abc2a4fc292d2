#include <gtest/gtest.h>

#include <signal.h>
#include <sys/stat.h>
#include <QDir>
#include <QFileInfo>
#include <QProcess>

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

TEST_F(SettingsStartUpTest, AnArchiveFolderSettingWithoutTrailingSeparatorWorks) {
  temp.Write("archive/f", "f");
  temp.Write("root/Quarnell/Common/qngcommon.ini",
             "[SOFTWARE\\QUARNELL\\COMMON]\r\nPercorsoArchivi=" + temp.Path().toUtf8() + "archive\r\n");
  SettingsStartUp();
  EXPECT_EQ(ArchivesFolder, temp.Path() + "archive/");
  EXPECT_EQ(ReadFile(Common() + "Liste/f"), "f");
}

TEST_F(SettingsStartUpTest, PercorsoCommonTakesThePlaceOfTheCommonFolderWhereItHasTheSubFolder) {
  QDir().mkpath(temp.Path() + "shared/Liste");
  temp.Write("root/Quarnell/Common/qngcommon.ini",
             "[SOFTWARE\\QUARNELL\\COMMON]\r\nPercorsoCommon=" + temp.Path().toUtf8() + "shared\r\n");
  SettingsStartUp();
  EXPECT_EQ(ArchivesFolder, temp.Path() + "shared/Liste/");
  EXPECT_EQ(GetCommonSubFolder("Other"), Common() + "Other/");
}

namespace {

// The settings start-up in a process of its own, with the layout under `temp` and the
// archive folder `archive` (set without a trailing separator).
class StartUpProcessTest : public ::testing::Test {
 protected:
  StartUpProcessTest() {
    temp.Write("root/Quarnell/Common/qngcommon.ini",
               "[SOFTWARE\\QUARNELL\\COMMON]\r\nPercorsoArchivi=" + temp.Path().toUtf8() + "archive\r\n");
    QDir().mkpath(temp.Path() + "archive");
  }
  std::unique_ptr<QProcess> Start() const {
    auto process = std::make_unique<QProcess>();
    QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
    environment.insert("QUARNELL_ROOT", temp.Path() + "root");
    environment.insert("HOME", temp.Path() + "home");
    environment.insert("XDG_CONFIG_HOME", temp.Path() + "home/.config");
    process->setProcessEnvironment(environment);
    process->setProcessChannelMode(QProcess::ForwardedErrorChannel);
    process->start(SETTINGS_WRITER_EXE, {"start-up"});
    EXPECT_TRUE(process->waitForStarted(10000));
    return process;
  }
  // Its exit status, or -1 when it crashed or did not end within a minute.
  static int Finish(QProcess& process) {
    if (!process.waitForFinished(60000) || process.exitStatus() != QProcess::NormalExit) return -1;
    return process.exitCode();
  }
  QString Lists() const { return temp.Path() + "root/Quarnell/Common/Liste/"; }
  QStringList ListFiles() const {
    QStringList names = QDir(Lists()).entryList(QDir::Files | QDir::Hidden | QDir::System);
    names.sort();
    return names;
  }

  TempFolder temp;
};

// Whether `pid` has a file of `folder` open (the copy is under way).
bool writesInto(qint64 pid, const QString& folder) {
  const QString fds = QStringLiteral("/proc/%1/fd").arg(pid);
  for (const QString& fd : QDir(fds).entryList(QDir::Files | QDir::System))
    if (QFileInfo(fds + "/" + fd).symLinkTarget().startsWith(folder)) return true;
  return false;
}

}  // namespace

TEST_F(StartUpProcessTest, AListCopyCutShortLeavesNoTruncatedFile) {
  const QByteArray big = PatternBytes(48 << 20);
  temp.Write("archive/big.lst", big);
  temp.Write("archive/small.lst", "small");
  bool killedMidCopy = false;
  for (int attempt = 0; attempt < 5 && !killedMidCopy; ++attempt) {
    QDir(Lists()).removeRecursively();
    auto process = Start();
    while (!process->waitForFinished(1))
      if (writesInto(process->processId(), Lists())) {
        ::kill(static_cast<pid_t>(process->processId()), SIGKILL);
        killedMidCopy = true;
      }
    for (const QString& name : ListFiles())  // whatever is there is whole
      EXPECT_EQ(ReadFile(Lists() + name), ReadFile(temp.Path() + "archive/" + name)) << name.toStdString();
  }
  EXPECT_TRUE(killedMidCopy);
  auto again = Start();
  EXPECT_EQ(Finish(*again), 0);
  EXPECT_EQ(ListFiles(), (QStringList{"big.lst", "small.lst"}));
  EXPECT_EQ(ReadFile(Lists() + "big.lst"), big);
}

TEST_F(StartUpProcessTest, AFifoInTheArchiveFolderDoesNotHangTheStartUp) {
  temp.Write("archive/f.lst", "f");
  ASSERT_EQ(::mkfifo(QFile::encodeName(temp.Path() + "archive/pipe.lst").constData(), 0600), 0);
  auto process = Start();
  EXPECT_EQ(Finish(*process), 0);
  EXPECT_EQ(ListFiles(), QStringList{"f.lst"});
}
