// A download that did not finish continues where it stopped, if the package on the server
// is still the same one: after the window was closed, and after the program was killed. A
// package replaced on the server, between runs or during one, is fetched anew.
#include <QDir>
#include <QProcess>
#include <QProcessEnvironment>
#include <atomic>

#include "tests/app/PackageServerFixture.h"

namespace {

using namespace std::chrono_literals;

constexpr qint64 kStalled = 6 * kRangeSize;  // the range the server stops in on the first run

class Resume : public PackageServerFixture {
 protected:
  // Downloads until the server falls silent in the range at kStalled, and closes the window
  // then: the ranges before it are in the file.
  void CloseWhileTheServerIsSilent() {
    Script([](const HttpRequest& request, HttpReply& reply) {
      if (request.Method != "GET" || FirstByte(request) != kStalled) return;
      reply.StallAfterBytes = 1000;
      reply.StallMilliseconds = 20000;
    });
    OpenWindow();
    auto closing = std::make_shared<bool>(false);
    WatchTheFile([this, closing](qint64 size) {
      if (size < kStalled || *closing) return;
      *closing = true;
      QTimer::singleShot(50, form.get(), [this] { form->close(); });
    });
    Download();
    Script(nullptr);
  }

  // Runs the download again to its end; returns the package bytes it fetched.
  std::uint64_t DownloadAgain() {
    const std::uint64_t sentBefore = SettledBodyBytes();
    OpenWindow();
    Download();
    return SettledBodyBytes() - sentBefore;
  }
};

}  // namespace

TEST_F(Resume, AClosedWindowKeepsWholeRangesAndTheNextRunFetchesOnlyTheRest) {
  Publish(PatternBytes(30 * kRangeSize + 500));
  CloseWhileTheServerIsSilent();
  EXPECT_TRUE(application->Terminated());
  EXPECT_TRUE(boxes.Boxes.empty()) << boxes.Texts().join('|').toStdString();
  EXPECT_TRUE(shell.Opened.isEmpty());
  EXPECT_TRUE(fileFaults.empty()) << fileFaults.front();
  EXPECT_EQ(Target(), package.left(kStalled));  // the ranges held after the stalled one are not written
  const std::string validator = Gets().front().Header("If-Range");
  ASSERT_FALSE(validator.empty());
  EXPECT_EQ(validator.front(), '"');  // the HEAD's strong ETag
  const std::optional<ResumeRecord> record = LoadResumeRecord(TargetPath());
  ASSERT_TRUE(record);
  EXPECT_EQ(record->Good, kStalled);
  EXPECT_EQ(record->Length, package.size());
  EXPECT_EQ(record->Path, TargetPath());
  EXPECT_EQ(record->Url.toStdString(), PackageUrl());
  EXPECT_EQ(record->Validator.toStdString(), validator);

  const std::size_t getsBefore = Gets().size();
  EXPECT_EQ(DownloadAgain(), static_cast<std::uint64_t>(package.size() - kStalled));
  EXPECT_TRUE(boxes.Boxes.empty()) << boxes.Texts().join('|').toStdString();
  EXPECT_EQ(Target(), package);
  const std::vector<HttpRequest> gets = Gets();
  ASSERT_GT(gets.size(), getsBefore);
  EXPECT_EQ(gets[getsBefore].Header("Range"), "bytes=196608-229375");
  for (std::size_t i = getsBefore; i < gets.size(); ++i) EXPECT_EQ(gets[i].Header("If-Range"), validator);
  EXPECT_FALSE(LoadResumeRecord(TargetPath()));  // a finished download is forgotten
  EXPECT_EQ(shell.Opened, QStringList{root.Path() + "Quarnell/Download/"});
}

// Only the remembered bytes that are still in a plain file of ours are trusted: fewer, or
// a link in the file's place, and the package is fetched whole (the link's target left
// alone); more, written after the last record, and they are cut off.
TEST_F(Resume, TheNextRunContinuesOnlyAFileThatStillHoldsTheRememberedBytes) {
  const QString elsewhere = root.Path() + "elsewhere.bin";
  struct Case {
    const char* name;
    std::function<void(const QString& target)> change;
    bool continues;
  };
  const Case cases[] = {
      {"left as it was", [](const QString&) {}, true},
      {"with bytes after the remembered ones",
       [](const QString& target) {
         QFile file(target);
         ASSERT_TRUE(file.open(QIODevice::Append));
         file.write(QByteArray(5000, 'x'));
       },
       true},
      {"removed", [](const QString& target) { QFile::remove(target); }, false},
      {"cut short", [](const QString& target) { QFile::resize(target, kStalled - 100); }, false},
      {"a link in its place",
       [&](const QString& target) {
         QFile::remove(elsewhere);
         ASSERT_TRUE(QFile::rename(target, elsewhere));
         ASSERT_TRUE(QFile::link(elsewhere, target));
       },
       false},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    QFile::remove(TargetPath());
    Publish(PatternBytes(12 * kRangeSize + 500));
    CloseWhileTheServerIsSilent();
    ASSERT_EQ(Target(), package.left(kStalled));
    c.change(TargetPath());
    const QByteArray elsewhereBefore = ReadFile(elsewhere);

    EXPECT_EQ(DownloadAgain(), static_cast<std::uint64_t>(c.continues ? package.size() - kStalled : package.size()));
    EXPECT_TRUE(boxes.Boxes.empty()) << boxes.Texts().join('|').toStdString();
    EXPECT_EQ(Target(), package);
    EXPECT_FALSE(QFileInfo(TargetPath()).isSymLink());
    EXPECT_EQ(ReadFile(elsewhere), elsewhereBefore);
    EXPECT_FALSE(LoadResumeRecord(TargetPath()));
  }
}

// A download of the same package into another folder, finished meanwhile, leaves this
// file's record alone: the next run here still fetches only the rest.
TEST_F(Resume, ADownloadIntoAnotherFileKeepsThisFilesRecord) {
  Publish(PatternBytes(12 * kRangeSize + 500));
  CloseWhileTheServerIsSilent();
  ASSERT_TRUE(LoadResumeRecord(TargetPath()));

  const QString otherFolder = root.Path() + "other/";
  ASSERT_TRUE(QDir().mkpath(otherFolder));
  OpenWindow();
  form->SetPercorsoDest(otherFolder);
  Download();
  EXPECT_EQ(ReadFile(otherFolder + "pkg.bin"), package);
  EXPECT_FALSE(LoadResumeRecord(otherFolder + "pkg.bin"));
  ASSERT_TRUE(LoadResumeRecord(TargetPath()));

  EXPECT_EQ(DownloadAgain(), static_cast<std::uint64_t>(package.size() - kStalled));
  EXPECT_EQ(Target(), package);
}

// A server that no longer gives the length: the unfinished file is not handed on as the
// package, and it stays for a later run.
TEST_F(Resume, AnUnfinishedFileIsNeverHandedOnWhenTheLengthIsNotGiven) {
  Publish(PatternBytes(12 * kRangeSize + 500));
  CloseWhileTheServerIsSilent();
  ASSERT_TRUE(LoadResumeRecord(TargetPath()));
  Script([](const HttpRequest& request, HttpReply& reply) {
    if (request.Method != "HEAD") return;
    reply.OmitContentLength = true;
    reply.Close = true;
  });
  OpenWindow();
  Download();
  EXPECT_EQ(boxes.Texts(), QStringList{"Download of pkg.bin failed: the server gives no length for it, and " +
                                       TargetPath() + " holds an unfinished download."});
  EXPECT_TRUE(shell.Opened.isEmpty());
  EXPECT_EQ(Target(), package.left(kStalled));
  EXPECT_TRUE(LoadResumeRecord(TargetPath()));
}

// The server's file is replaced while the download runs: the GETs that name the old
// version in If-Range get the new one whole (200), and the download starts over on it.
TEST_F(Resume, APackageReplacedDuringTheDownloadIsFetchedAnew) {
  constexpr qint64 kLength = 20 * kRangeSize + 300;
  struct Case {
    const char* name;
    qint64 replacedAtGet;  // first byte of the GET at which the file is replaced; -1: after the HEAD
    qint64 newLength;
    bool startsOver;  // false: the first range brought the whole new package, of the length the HEAD gave
  };
  const Case cases[] = {
      {"after the HEAD, same length", -1, kLength, false},
      {"after the HEAD, longer", -1, kLength + 5000, true},
      {"after the HEAD, shorter", -1, kLength - 3 * kRangeSize, true},
      {"after five ranges, same length", 5 * kRangeSize, kLength, true},
      {"after five ranges, longer", 5 * kRangeSize, kLength + 5000, true},
      {"after five ranges, shorter", 5 * kRangeSize, kLength - 3 * kRangeSize, true},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    QFile::remove(TargetPath());
    Publish(PatternBytes(kLength));
    const QByteArray next = OtherPackage(c.newLength);
    auto replaced = std::make_shared<std::atomic<bool>>(false);
    Script([this, c, next, replaced](const HttpRequest& request, HttpReply& reply) {
      const bool trigger = c.replacedAtGet < 0 ? request.Method == "HEAD"
                                               : request.Method == "GET" && FirstByte(request) == c.replacedAtGet;
      if (!trigger || replaced->exchange(true)) return;
      ReplaceFile(PackagePath(), next);
      // That GET already sees the new package (ranges asked with it may have been answered
      // before, from the old one, as a real server may do).
      if (request.Method == "GET") reply = PackageFileReply(PackagePath().toStdString(), request);
    });
    const std::size_t getsBefore = Gets().size();
    const int headsBefore = Heads();
    OpenWindow();
    Download();
    EXPECT_TRUE(boxes.Boxes.empty()) << boxes.Texts().join('|').toStdString();
    EXPECT_EQ(Target(), next);
    EXPECT_FALSE(LoadResumeRecord(TargetPath()));
    EXPECT_EQ(shell.Opened, QStringList{root.Path() + "Quarnell/Download/"});
    // Every GET named a version; those after a new HEAD named the new one.
    const std::vector<HttpRequest> gets = Gets();
    ASSERT_GT(gets.size(), getsBefore);
    const std::string oldVersion = gets[getsBefore].Header("If-Range");
    EXPECT_FALSE(oldVersion.empty());
    EXPECT_EQ(Heads() - headsBefore, c.startsOver ? 2 : 1);
    EXPECT_EQ(gets.back().Header("If-Range") != oldVersion, c.startsOver);
  }
}

// The real program, killed with SIGKILL in the middle of a download, and started again.
class KilledProgram : public PackageServerFixture {
 protected:
  KilledProgram() {
    StartService(R"({"DownloadUrl":")" + PackageUrl() + R"(","DownloadFileName":"pkg.bin","TipoOperazione":"salva"})");
    root.Write("Quarnell/Common/qngcommon.ini",
               QByteArray("[SOFTWARE\\QUARNELL\\COMMON]\r\nDownloadServer=") + service->BaseUrl().c_str() + "\r\n");
    // The "salva" road opens the download folder: a desktop opener that does nothing.
    const QString opener = root.Write("bin/xdg-open", "#!/bin/sh\nexit 0\n");
    QFile::setPermissions(opener, QFile::permissions(opener) | QFileDevice::ExeOwner);
    // What the program remembers is read back from its own per-user settings file.
    const QString program = QFileInfo(OMBREVIA_DOWNLOAD_EXE).absoluteDir().dirName();
    UserSettings =
        std::make_unique<TQngIniFile>(root.Path() + "home/Documents/Quarnell/impostazioni/" + program + "/qngconf.ini");
  }

  void Start(QProcess& tool) {
    QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
    environment.insert("QUARNELL_ROOT", root.Path());
    environment.insert("HOME", root.Path() + "home");
    environment.insert("QT_QPA_PLATFORM", "offscreen");
    environment.insert("PATH", root.Path() + "bin:" + environment.value("PATH"));
    tool.setProcessEnvironment(environment);
    tool.setProcessChannelMode(QProcess::ForwardedErrorChannel);
    tool.start(OMBREVIA_DOWNLOAD_EXE, {});
    ASSERT_TRUE(tool.waitForStarted(10000));
  }

  // Runs the program until it has remembered some good bytes (its first checkpoint comes
  // after a second), then kills it; returns what it remembered. Past the first MiB the
  // ranges come slowly, so that the download is far from over by then.
  std::optional<ResumeRecord> RunAndKill() {
    // Shared with the replies that may still be under way once this returns.
    const auto slow = std::make_shared<std::atomic<bool>>(true);
    Script([slow](const HttpRequest& request, HttpReply&) {
      if (request.Method == "GET" && FirstByte(request) >= 32 * kRangeSize && *slow) std::this_thread::sleep_for(80ms);
    });
    QProcess tool;
    Start(tool);
    std::optional<ResumeRecord> record;
    for (int turn = 0; turn < 2000 && !record && tool.state() == QProcess::Running; ++turn) {
      std::this_thread::sleep_for(10ms);
      record = LoadResumeRecord(TargetPath());
    }
    tool.kill();  // SIGKILL: no stop, no last record
    tool.waitForFinished(10000);
    EXPECT_EQ(tool.exitStatus(), QProcess::CrashExit);
    *slow = false;
    Script(nullptr);
    return LoadResumeRecord(TargetPath());  // the last one written before the kill
  }

  // Runs the program to its end, which must be a good one.
  void RunToTheEnd() {
    QProcess tool;
    Start(tool);
    ASSERT_TRUE(tool.waitForFinished(60000));
    EXPECT_EQ(tool.exitStatus(), QProcess::NormalExit);
    EXPECT_EQ(tool.exitCode(), 0);
  }
};

TEST_F(KilledProgram, TheNextRunFetchesOnlyWhatWasNotRemembered) {
  Publish(PatternBytes(6 * 1024 * 1024 + 4321));
  const std::optional<ResumeRecord> record = RunAndKill();
  ASSERT_TRUE(record);
  EXPECT_EQ(record->Good % kRangeSize, 0);
  EXPECT_GT(record->Good, 0);
  EXPECT_LT(record->Good, package.size());
  // The record never claims more than the file holds.
  EXPECT_EQ(Target().left(record->Good), package.left(record->Good));

  const std::uint64_t sentBefore = SettledBodyBytes();
  RunToTheEnd();
  EXPECT_EQ(Target(), package);
  EXPECT_EQ(SettledBodyBytes() - sentBefore, static_cast<std::uint64_t>(package.size() - record->Good));
  EXPECT_FALSE(LoadResumeRecord(TargetPath()));
}

TEST_F(KilledProgram, APackageReplacedBetweenTheRunsIsFetchedWhole) {
  constexpr qint64 kLength = 6 * 1024 * 1024 + 4321;
  for (qint64 newLength : {kLength, kLength - 1000000}) {
    SCOPED_TRACE(newLength);
    QFile::remove(TargetPath());
    Publish(PatternBytes(kLength));
    const std::optional<ResumeRecord> record = RunAndKill();
    ASSERT_TRUE(record);
    EXPECT_GT(record->Good, 0);
    Publish(OtherPackage(newLength));

    const std::uint64_t sentBefore = SettledBodyBytes();
    RunToTheEnd();
    EXPECT_EQ(Target(), package);
    EXPECT_EQ(SettledBodyBytes() - sentBefore, static_cast<std::uint64_t>(newLength));
    EXPECT_FALSE(LoadResumeRecord(TargetPath()));
  }
}
