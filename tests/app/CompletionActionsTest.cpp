#include <unistd.h>
#include <QDir>
#include <QFileInfo>
#include <QProcess>
#include <QProcessEnvironment>
#include <QScopeGuard>
#include <thread>

#include "fileutils/_QnFileUtils.h"
#include "platform/os/Shell.h"
#include "tests/app/MainFormFixture.h"
#include "tools/DemoDownloadService.h"

namespace {

// Makes a zip of `files` (stored name, content), in that order.
void makeZip(const TempFolder& temp, const QString& archive, const QList<QPair<QString, QByteArray>>& files) {
  QDir().mkpath(QFileInfo(archive).absolutePath());
  ZipFile zip;
  zip.Open(archive, ZipMode::Write);
  for (const auto& [name, content] : files) {
    const QString source = temp.Write("zipsrc/" + name, content);
    QFile::setPermissions(source, QFile::permissions(source) | QFileDevice::ExeOwner);
    zip.Add(source, name);
  }
  zip.Close();
}

class CompletionFixture : public MainFormFixture {
 protected:
  // Downloads `package` from a demo service over "Salva e Installa".
  void Install(const QString& packagesFolder, const QString& package) {
    DemoDownloadService demo(packagesFolder.toStdString(), package.toStdString(), "");
    MakeForm(QString::fromStdString(demo.BaseUrl() + "/web_download/GetUrlDownload.php"));
    form->GetUrlDownload(form.get());
    form->ButtonSalvaEInstalla->click();
  }
  QString Folder() const { return root.Path() + "Quarnell/Download/"; }
};

}  // namespace

TEST_F(CompletionFixture, WhatIsOpenedAfterTheDownload) {
  TempFolder packages;
  makeZip(packages, packages.Path() + "Pkg.ZIP", {{"setup", "#!/bin/sh\n"}, {"data/lib.bin", "lib"}});
  makeZip(packages, packages.Path() + "Empty.zip", {});
  packages.Write("Broken.zip", "not an archive");
  packages.Write("setup", "#!/bin/sh\n");
  packages.Write("Tool.msi", "msi");
  struct Case {
    QString package;
    QString opened;  // relative to the download folder
    QString lastLabel;
  };
  const Case cases[] = {
      {"Pkg.ZIP", "setup", "Sto installando...Pkg.ZIP"},
      {"Empty.zip", "Empty.zip", "Sto estraendo...Empty.zip"},
      {"Broken.zip", "Broken.zip", "Sto estraendo...Broken.zip"},
      {"Tool.msi", "Tool.msi", "Sto estraendo...Tool.msi"},
      {"setup", "setup", "Sto installando...setup"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.package.toStdString());
    shell.Opened.clear();
    Install(packages.Path(), c.package);
    EXPECT_TRUE(boxes.Boxes.empty()) << boxes.Texts().join('|').toStdString();
    EXPECT_EQ(shell.Opened, QStringList{Folder() + c.opened});
    EXPECT_EQ(form->LabelAvanzamento->text(), c.lastLabel);
    EXPECT_TRUE(QFileInfo::exists(Folder() + c.package));  // the package stays in place
    application->ProcessMessages();
    EXPECT_TRUE(application->Terminated());  // the window was closed
  }
  EXPECT_EQ(ReadFile(Folder() + "data/lib.bin"), "lib");  // extracted next to the package
  EXPECT_TRUE(QFileInfo(Folder() + "setup").isExecutable());
}

TEST_F(CompletionFixture, ATwinProgramBesideAPackageIsStartedInstead) {
  TempFolder packages;
  packages.Write("Tool.msi", "msi");
  root.Write("Quarnell/Download/Tool", "#!/bin/sh\n");  // the platform's program of that name
  Install(packages.Path(), "Tool.msi");
  EXPECT_EQ(shell.Opened, QStringList{Folder() + "Tool"});
}

TEST_F(CompletionFixture, ATwinThatIsNotTheUsersOwnIsNeverStarted) {
  // In the shared folder another user may leave a program, or a link to one, at the twin's
  // name: the package itself is opened instead.
  TempFolder packages;
  packages.Write("Tool.msi", "msi");
  const QString elsewhere = root.Write("elsewhere/Tool", "#!/bin/sh\n");
  QFile::setPermissions(elsewhere, QFile::permissions(elsewhere) | QFileDevice::ExeOwner);
  QDir().mkpath(Folder());
  ASSERT_TRUE(QFile::link(elsewhere, Folder() + "Tool"));
  Install(packages.Path(), "Tool.msi");
  EXPECT_EQ(shell.Opened, QStringList{Folder() + "Tool.msi"});

  if (::geteuid() != 0) GTEST_SKIP() << "a file of another user needs root to be made";
  QFile::remove(Folder() + "Tool");
  const QString twin = root.Write("Quarnell/Download/Tool", "#!/bin/sh\n");
  ASSERT_EQ(::chown(QFile::encodeName(twin).constData(), 65534, 65534), 0);
  shell.Opened.clear();
  Install(packages.Path(), "Tool.msi");
  EXPECT_EQ(shell.Opened, QStringList{Folder() + "Tool.msi"});
}

TEST_F(CompletionFixture, AnExtractionErrorLeavesTheWindowOpen) {
  TempFolder packages;
  makeZip(packages, packages.Path() + "Bad.zip", {{"zz/x", "payload"}});
  QByteArray bytes = ReadFile(packages.Path() + "Bad.zip");
  bytes.replace("zz/x", "../x");
  packages.Write("Bad.zip", bytes);
  Install(packages.Path(), "Bad.zip");
  ASSERT_EQ(boxes.Boxes.size(), 1u);
  EXPECT_TRUE(boxes.Boxes[0].Text.contains("../x"));
  EXPECT_TRUE(shell.Opened.isEmpty());
  application->ProcessMessages();
  EXPECT_FALSE(application->Terminated());  // the window stays open
}

// The whole road, as a user runs it: the real program, the real shell, a real service.
TEST(OmbreviaDownload, InstallaRunsTheSetupProgramAndEnds) {
  TempFolder temp;
  makeZip(temp, temp.Path() + "packages/Ombrevia.zip",
          {{"setup", "#!/bin/sh\necho ran > \"$(dirname \"$0\")/setup-trace.txt\"\n"}, {"readme.txt", "hello"}});
  DemoDownloadService demo(temp.StdPath() + "/packages", "Ombrevia.zip", "installa");
  const QString root = temp.Path() + "root/";
  temp.Write("root/Quarnell/Common/qngcommon.ini",
             QByteArray("[SOFTWARE\\QUARNELL\\COMMON]\r\nDownloadServer=") + demo.BaseUrl().c_str() + "\r\n");
  QProcess tool;
  QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
  environment.insert("QUARNELL_ROOT", root);
  environment.insert("QT_QPA_PLATFORM", "offscreen");
  environment.insert("HOME", temp.Path() + "home");
  tool.setProcessEnvironment(environment);
  tool.start(OMBREVIA_DOWNLOAD_EXE, {});
  ASSERT_TRUE(tool.waitForFinished(60000));
  EXPECT_EQ(tool.exitStatus(), QProcess::NormalExit);
  EXPECT_EQ(tool.exitCode(), 0) << tool.readAllStandardError().toStdString();
  const QString trace = root + "Quarnell/Download/setup-trace.txt";
  for (int i = 0; i < 100 && !QFileInfo::exists(trace); ++i) std::this_thread::sleep_for(std::chrono::milliseconds(50));
  EXPECT_EQ(ReadFile(trace), "ran\n");
  EXPECT_EQ(ReadFile(root + "Quarnell/Download/readme.txt"), "hello");

  // The settings start-up made the whole layout.
  const QString program = QFileInfo(OMBREVIA_DOWNLOAD_EXE).absoluteDir().dirName();
  EXPECT_TRUE(QFileInfo(temp.Path() + "home/Documents/Quarnell/impostazioni/" + program).isDir());
  EXPECT_TRUE(QFileInfo(root + "Quarnell/Common/Liste").isDir());
}

TEST_F(CompletionFixture, TheSetupIsTheFileExtractedForTheFirstEntry) {
  TempFolder packages;
  makeZip(packages, packages.Path() + "Win.zip", {{"bin\\setup", "#!/bin/sh\n"}, {"bin\\data.bin", "data"}});
  Install(packages.Path(), "Win.zip");
  EXPECT_EQ(shell.Opened, QStringList{Folder() + "bin/setup"});
  EXPECT_TRUE(QFileInfo(Folder() + "bin/setup").isExecutable());
  EXPECT_FALSE(QFileInfo::exists(Folder() + "bin\\setup"));
}

TEST_F(CompletionFixture, OnlyAProgramIsMadeExecutable) {
  // Made by Info-ZIP from files without execute bits: a document first, then a program.
  TempFolder packages;
  packages.Write("src/readme.txt", "read me first\n");
  packages.Write("src/setup", "#!/bin/sh\n");
  QProcess zip;
  zip.setWorkingDirectory(packages.Path() + "src");
  zip.start("zip", {"-q", "-X", packages.Path() + "Doc.zip", "readme.txt", "setup"});
  ASSERT_TRUE(zip.waitForFinished(10000));
  ASSERT_EQ(zip.exitCode(), 0);
  packages.Write("notes", "plain text without extension");
  for (const QString& package : {QStringLiteral("Doc.zip"), QStringLiteral("notes")}) {
    SCOPED_TRACE(package.toStdString());
    shell.Opened.clear();
    Install(packages.Path(), package);
    const QString opened = package == "Doc.zip" ? Folder() + "readme.txt" : Folder() + "notes";
    EXPECT_EQ(shell.Opened, QStringList{opened});  // handed to the program registered for it
    EXPECT_FALSE(QFileInfo(opened).isExecutable());
    EXPECT_FALSE(IsProgramFile(opened));
  }
}

// The desktop's shell starts a file only when it is a program; anything else, execute bit or
// not, goes to the desktop's opener (here a stand-in on PATH that notes what it was given).
TEST(DesktopShellOpen, StartsProgramsAndHandsEverythingElseToTheOpener) {
  TempFolder temp;
  const QString opener =
      temp.Write("bin/xdg-open", ("#!/bin/sh\necho \"$1\" >> '" + temp.Path() + "opened.txt'\n").toUtf8());
  const QString program = temp.Write("setup", ("#!/bin/sh\necho ran > '" + temp.Path() + "ran.txt'\n").toUtf8());
  const QString document = temp.Write("readme.txt", "hello\n");
  for (const QString& file : {opener, program, document})
    QFile::setPermissions(file, QFile::permissions(file) | QFileDevice::ExeOwner);
  const QByteArray path = qgetenv("PATH");
  qputenv("PATH", (temp.Path() + "bin:").toUtf8() + path);
  const auto restorePath = qScopeGuard([&] { qputenv("PATH", path); });

  EXPECT_TRUE(IsProgramFile(program));
  EXPECT_TRUE(IsProgramFile("/bin/sh"));  // an ELF file
  EXPECT_FALSE(IsProgramFile(document));
  EXPECT_FALSE(IsProgramFile(temp.Path() + "missing"));

  DesktopShell shell;
  shell.Open(document);
  shell.Open(program);
  for (int i = 0;
       i < 100 && !(QFileInfo::exists(temp.Path() + "opened.txt") && QFileInfo::exists(temp.Path() + "ran.txt")); ++i)
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
  EXPECT_EQ(ReadFile(temp.Path() + "opened.txt"), (document + "\n").toUtf8());
  EXPECT_EQ(ReadFile(temp.Path() + "ran.txt"), "ran\n");
}
