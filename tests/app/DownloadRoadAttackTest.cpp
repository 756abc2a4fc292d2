// The download road against servers and folders that do not play along: a server refusing
// some ranges while others already arrived, an HTTP-date Retry-After, a name in the
// download folder that is no file.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <QDateTime>
#include <QElapsedTimer>
#include <QFile>
#include <chrono>
#include <future>
#include <map>
#include <mutex>
#include <set>
#include <thread>

#include "app/PackageFile.h"
#include "app/RangedDownload.h"
#include "app/RetryRules.h"
#include "platform/net/HttpClient.h"
#include "tests/support/TempFolder.h"
#include "tools/DemoDownloadService.h"
#include "tools/LoopbackHttpServer.h"

namespace {

// A package server that answers chosen ranges (by first byte) once with 503 and the given
// Retry-After, at once; every other range a moment later, so that the refusals arrive while
// the rest are still in flight.
struct RefusingServer {
  QByteArray Content;
  std::map<std::uint64_t, std::string> RefuseOnce;  // first byte -> Retry-After

  std::mutex Mutex;
  std::set<std::uint64_t> Refused;

  HttpReply Answer(const HttpRequest& request) {
    std::uint64_t first = 0, last = 0;
    HttpReply reply;
    if (!ParseByteRange(request.Header("Range"), Content.size(), first, last)) {
      reply.Status = 416;
      reply.Reason = "Range Not Satisfiable";
      return reply;
    }
    {
      std::lock_guard lock(Mutex);
      const auto refusal = RefuseOnce.find(first);
      if (refusal != RefuseOnce.end() && Refused.insert(first).second) {
        reply.Status = 503;
        reply.Reason = "Service Unavailable";
        reply.Headers.emplace_back("Retry-After", refusal->second);
        return reply;
      }
    }
    std::this_thread::sleep_for(std::chrono::milliseconds(first == 0 ? 0 : 150));
    reply.Status = 206;
    reply.Reason = "Partial Content";
    reply.Headers.emplace_back("Content-Range", "bytes " + std::to_string(first) + '-' + std::to_string(last) + '/' +
                                                    std::to_string(Content.size()));
    reply.Body = Content.mid(static_cast<qsizetype>(first), static_cast<qsizetype>(last - first + 1)).toStdString();
    return reply;
  }
};

}  // namespace

// Refusals cost connections and halve the window; the ranges that arrived beyond the refused
// one are held meanwhile, more than the smaller window allows. The refused range must still
// be asked again, and the window kept alive while its wait runs.
TEST(DownloadRoadAttack, RangesRefusedWhileOthersArriveAreAskedAgainAndTheWaitPumps) {
  struct Case {
    const char* name;
    std::map<std::uint64_t, std::string> refuseOnce;
  };
  const Case cases[] = {
      {"the range the file waits for", {{kRangeSize, "1"}}},
      // The range behind it may be asked at once, but the window is full: the wait is for the first.
      {"it with a long wait, the next with none", {{kRangeSize, "2"}, {2 * kRangeSize, "0"}}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    TempFolder folder;
    RefusingServer package;
    package.Content = PatternBytes(20 * kRangeSize + 1234);
    package.RefuseOnce = c.refuseOnce;
    LoopbackHttpServer server([&package](const HttpRequest& request) { return package.Answer(request); });

    HttpClient client;
    PackageFile file(folder.Path() + "pkg.bin");
    const PackageSource source{
        QString::fromStdString(server.BaseUrl() + "/pkg.bin"), "pkg.bin", package.Content.size(), {}};
    RangedDownload download(client, file, source, 4);
    QElapsedTimer elapsed;
    elapsed.start();
    download.Stopping = [&] { return elapsed.elapsed() > 20000; };  // a download that cannot go on
    int pumps = 0;
    download.Pump = [&] { ++pumps; };

    EXPECT_TRUE(download.Run() == RangedDownload::End::Complete) << "the download could not go on";
    EXPECT_TRUE(ReadFile(file.Path()) == package.Content);
    EXPECT_GT(pumps, 0);
    server.Stop();
  }
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
      {"Sun, 10 Mar 2024 12:00:07 +0000", 7000},
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
