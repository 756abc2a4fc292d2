// The download road against servers and folders that do not play along: a server refusing
// some ranges while others already arrived, an HTTP-date Retry-After, a name in the
// download folder that is no file, a package replaced by one whose length is not given.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <QDateTime>
#include <QElapsedTimer>
#include <QFile>
#include <atomic>
#include <chrono>
#include <functional>
#include <future>
#include <map>
#include <mutex>
#include <set>
#include <thread>

#include "app/DownloadServerSetting.h"
#include "app/PackageFile.h"
#include "app/RangedDownload.h"
#include "app/RetryRules.h"
#include "platform/base/Exception.h"
#include "platform/net/HttpClient.h"
#include "settings/QnSharedFolders.h"
#include "tests/app/PackageServerFixture.h"
#include "tests/support/Replies.h"
#include "tests/support/TempFolder.h"
#include "tools/DemoDownloadService.h"
#include "tools/LoopbackHttpServer.h"

namespace {

// A package server whose ranges are in flight together: the probe (the first range) is
// answered at once, every later 206 a moment later, so that a reply the script turns into
// something else (a refusal, a wrong range) arrives while the rest are still on their way.
struct ConcurrentRangeServer {
  ConcurrentRangeServer(QByteArray content, std::function<void(std::uint64_t, int, HttpReply&)> script)
      : Content(std::move(content)), Script(std::move(script)) {}

  QByteArray Content;
  // May change the right 206 for the range at `first`, asked for the `ask`th time (1 first).
  std::function<void(std::uint64_t first, int ask, HttpReply& reply)> Script;

  std::mutex Mutex;
  std::map<std::uint64_t, int> Asks;  // by first byte

  HttpReply Answer(const HttpRequest& request) {
    std::uint64_t first = 0, last = 0;
    HttpReply reply;
    if (!ParseByteRange(request.Header("Range"), Content.size(), first, last)) {
      reply.Status = 416;
      reply.Reason = "Range Not Satisfiable";
      return reply;
    }
    int ask = 0;
    {
      std::lock_guard lock(Mutex);
      ask = ++Asks[first];
    }
    reply = PartialReply(Content, first, last);
    if (Script) Script(first, ask, reply);
    if (first != 0 && reply.Status == 206) std::this_thread::sleep_for(std::chrono::milliseconds(150));
    return reply;
  }
};

// One ranged download of a 20-range package from a ConcurrentRangeServer over four
// connections, the way the window runs it, with a pump that counts.
struct ConcurrentDownload {
  explicit ConcurrentDownload(std::function<void(std::uint64_t, int, HttpReply&)> script, QByteArray validator = {})
      : package(PatternBytes(20 * kRangeSize + 1234), std::move(script)), validator(std::move(validator)) {
    download.Stopping = [this] { return elapsed.elapsed() > 20000; };  // a download that cannot go on
    download.Pump = [this] { ++pumps; };
    elapsed.start();
  }
  ~ConcurrentDownload() { server.Stop(); }

  QByteArray Target() const { return ReadFile(file.Path()); }

  TempFolder folder;
  ConcurrentRangeServer package;
  QByteArray validator;  // the HEAD's
  LoopbackHttpServer server{[this](const HttpRequest& request) { return package.Answer(request); }};
  HttpClient client;
  PackageFile file{folder.Path() + "pkg.bin"};
  RangedDownload download{
      client,
      file,
      {QString::fromStdString(server.BaseUrl() + "/pkg.bin"), "pkg.bin", package.Content.size(), validator},
      4};
  QElapsedTimer elapsed;
  int pumps = 0;
};

// The window downloading from a real package server (PackageServerFixture.h).
class DownloadRoadAttackWindow : public PackageServerFixture {};

}  // namespace

// Refusals cost connections and halve the window; the ranges that arrived beyond the refused
// one are held meanwhile, more than the smaller window allows. The refused range must still
// be asked again, and the window kept alive while its wait runs.
TEST(DownloadRoadAttack, RangesRefusedWhileOthersArriveAreAskedAgainAndTheWaitPumps) {
  struct Case {
    const char* name;
    std::map<std::uint64_t, std::string> refuseOnce;  // first byte -> Retry-After
  };
  const Case cases[] = {
      {"the range the file waits for", {{kRangeSize, "1"}}},
      // The range behind it may be asked at once, but the window is full: the wait is for the first.
      {"it with a long wait, the next with none", {{kRangeSize, "2"}, {2 * kRangeSize, "0"}}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    ConcurrentDownload road([refuseOnce = c.refuseOnce](std::uint64_t first, int ask, HttpReply& reply) {
      const auto refusal = refuseOnce.find(first);
      if (refusal == refuseOnce.end() || ask > 1) return;
      reply = HttpReply();
      reply.Status = 503;
      reply.Reason = "Service Unavailable";
      reply.Headers.emplace_back("Retry-After", refusal->second);
    });
    EXPECT_TRUE(road.download.Run() == RangedDownload::End::Complete) << "the download could not go on";
    EXPECT_TRUE(road.Target() == road.package.Content);
    EXPECT_GT(road.pumps, 0);
  }
}

// A reply naming another range than it was asked for, while its neighbours are in flight,
// ends the download with the file a prefix of the package that stops before that range.
TEST(DownloadRoadAttack, AWrongRangeAmongRangesInFlightLeavesAPrefix) {
  constexpr std::uint64_t kWrongAt = 5 * kRangeSize;
  ConcurrentDownload road([](std::uint64_t first, int, HttpReply& reply) {
    if (first != kWrongAt) return;
    reply.Headers = {{"Content-Range", "bytes 196608-229375/" + std::to_string(20 * kRangeSize + 1234)}};
  });
  try {
    road.download.Run();
    ADD_FAILURE() << "no error";
  } catch (const Exception& error) {
    EXPECT_EQ(error.Message().toStdString(),
              "Download of pkg.bin failed at bytes=163840-196607: the reply's Content-Range is "
              "\"bytes 196608-229375/656594\" instead of \"bytes 163840-196607/656594\".");
  }
  const QByteArray target = road.Target();
  EXPECT_TRUE(road.package.Content.startsWith(target));
  EXPECT_LE(target.size(), static_cast<qsizetype>(kWrongAt));
  EXPECT_EQ(target.size() % kRangeSize, 0);
}

TEST(DownloadRoadAttack, RetryAfterAsAnHttpDateIsHonoured) {
  const QDateTime now = QDateTime::fromString(QStringLiteral("2024-03-10T12:00:00Z"), Qt::ISODate);
  struct Case {
    const char* retryAfter;
    qint64 waitMs;
  };
  const Case cases[] = {
      {"Sun, 10 Mar 2024 12:00:20 GMT", 20000},            // the form servers send
      {"Sun, 10 Mar 2024 11:00:00 GMT", 0},                // already past
      {"Fri, 31 Dec 2100 23:59:59 GMT", kMaxRetryWaitMs},  // far ahead: cut
      {"Sun Mar 10 12:00:05 2024", 5000},                  // the old C form
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.retryAfter);
    EXPECT_EQ(RetryWaitMs(1, c.retryAfter, now), c.waitMs);
  }
}

// A name left in the download folder that is a named pipe (a folder others may write to, or
// the user's own doing) must not block the window forever when a recorded download is
// continued: nothing reads from the pipe.
TEST(DownloadRoadAttack, ContinuingAtANamedPipeRefusesWithoutBlocking) {
  TempFolder folder;
  const QString path = folder.Path() + "pkg.bin";
  ASSERT_EQ(::mkfifo(QFile::encodeName(path).constData(), 0600), 0);
  PackageFile file(path);
  auto continued = std::async(std::launch::async, [&file] { return file.ContinueAt(0); });
  if (continued.wait_for(std::chrono::seconds(5)) != std::future_status::ready) {
    // Let the blocked open through, so that the test ends and reports.
    const int reader = ::open(QFile::encodeName(path).constData(), O_RDONLY | O_NONBLOCK);
    continued.wait();
    if (reader >= 0) ::close(reader);
    FAIL() << "ContinueAt blocked on the named pipe";
  }
  EXPECT_FALSE(continued.get());
}

// Whatever the common settings say, a download opens between 1 and 16 connections.
TEST(DownloadRoadAttack, DownloadConnectionsOutOfRangeOrUnreadable) {
  TempFolder folder;
  CommonSettings = std::make_unique<TQngIniFile>(folder.Path() + "qngcommon.ini");
  struct Case {
    const char* value;
    int connections;
  };
  for (const Case& c :
       {Case{"0", kDefaultDownloadConnections}, Case{"-3", kDefaultDownloadConnections},
        Case{"abc", kDefaultDownloadConnections}, Case{"4x", kDefaultDownloadConnections}, Case{"999", 16},
        Case{"99999999999999999999", kDefaultDownloadConnections}, Case{" 4 ", 4}, Case{"1", 1}}) {
    SCOPED_TRACE(c.value);
    CommonSettings->ScriviValore(kCommonSection, "DownloadConnections", c.value);
    EXPECT_EQ(DownloadConnectionsSetting(), c.connections);
  }
  CommonSettings.reset();
}

// A refusal with a long page (longer than the range asked) is still a refusal to wait out,
// not a reply too large to take.
TEST(DownloadRoadAttack, ABusyReplyWithALongPageIsRetried) {
  ConcurrentDownload road([](std::uint64_t first, int ask, HttpReply& reply) {
    if (first != 2 * kRangeSize || ask > 1) return;
    reply = HttpReply();
    reply.Status = 503;
    reply.Reason = "Service Unavailable";
    reply.Headers.emplace_back("Retry-After", "0");
    reply.Body = std::string(200000, 'x');
  });
  EXPECT_TRUE(road.download.Run() == RangedDownload::End::Complete);
  EXPECT_TRUE(road.Target() == road.package.Content);
}

// A server that ignores If-Range still names the version it sends: a range of another
// version than the HEAD's means a fresh start, never a file of two versions.
TEST(DownloadRoadAttack, ARangeOfAnotherVersionStartsOver) {
  struct Case {
    const char* name;
    QByteArray validator;
    const char* header;
    std::string before, after;
  };
  const Case cases[] = {
      {"ETag", "\"v1\"", "ETag", "\"v1\"", "\"v2\""},
      {"Last-Modified", "Sun, 10 Mar 2024 12:00:00 GMT", "Last-Modified", "Sun, 10 Mar 2024 12:00:00 GMT",
       "Mon, 11 Mar 2024 08:00:00 GMT"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    ConcurrentDownload road(
        [&c](std::uint64_t first, int, HttpReply& reply) {
          reply.Headers.emplace_back(c.header, first < 6 * kRangeSize ? c.before : c.after);
        },
        c.validator);
    EXPECT_TRUE(road.download.Run() == RangedDownload::End::PackageChanged);
    EXPECT_TRUE(road.package.Content.startsWith(road.Target()));
    EXPECT_LE(road.Target().size(), 6 * kRangeSize);
  }
}

// The package is replaced during the download and the HEAD of the fresh start gives no
// length: the file then holds the first ranges of the old package, which must not be handed
// on as the download's result.
TEST_F(DownloadRoadAttackWindow, APackageReplacedByOneWithoutALengthIsNoDownload) {
  constexpr qint64 kReplacedAt = 5 * kRangeSize;
  Publish(PatternBytes(20 * kRangeSize + 300));
  const QByteArray next = OtherPackage(20 * kRangeSize + 300);
  auto replaced = std::make_shared<std::atomic<bool>>(false);
  Script([this, next, replaced](const HttpRequest& request, HttpReply& reply) {
    if (request.Method == "HEAD" && *replaced) {
      reply.OmitContentLength = true;
      reply.Close = true;
    }
    if (request.Method != "GET" || FirstByte(request) != kReplacedAt || replaced->exchange(true)) return;
    ReplaceFile(PackagePath(), next);
    reply = PackageFileReply(PackagePath().toStdString(), request);  // If-Range names the old one: 200
  });
  OpenWindow();
  Download();
  EXPECT_EQ(Heads(), 2);
  ASSERT_EQ(boxes.Boxes.size(), 1u);
  EXPECT_EQ(boxes.Boxes[0].Text.toStdString(),
            "Download of pkg.bin failed: the package changed on the server, and its new length is not given.");
  EXPECT_TRUE(shell.Opened.isEmpty());  // no completion action
}
