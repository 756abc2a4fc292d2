// Several ranges in flight over several connections: replies that come back out of order
// are held and written in order, a server that will not take the extra connections gets
// fewer, a failure that may pass is asked again after its wait, and one that will not is
// reported with the range it hit.
#include <QDateTime>
#include <QElapsedTimer>
#include <QLocale>
#include <algorithm>
#include <set>

#include "tests/app/PackageServerFixture.h"

namespace {

using namespace std::chrono_literals;

// How many ranges the download keeps in flight or held once the first has come back.
int windowFor(int connections) { return connections == 1 ? 1 : 16; }

HttpReply statusReply(int status, const std::string& reason, const std::string& retryAfter = {}) {
  HttpReply reply;
  reply.Status = status;
  reply.Reason = reason;
  reply.Body = reason;
  if (!retryAfter.empty()) reply.Headers = {{"Retry-After", retryAfter}};
  return reply;
}

// What the package server saw of the GETs, noted from the connections' threads.
struct GetLog {
  std::mutex Mutex;
  std::vector<qint64> Asked;          // first bytes, in the order the GETs arrived
  std::vector<qint64> FileSizeAtGet;  // the file's size when each arrived
  std::vector<qint64> Answered;       // first bytes, in the order their replies went out
  std::vector<qint64> ClockAtGet;     // Clock::Current() when each arrived
  std::set<int> Connections;
  int Busy = 0;
  int MostBusy = 0;

  void Clear() {
    std::lock_guard lock(Mutex);
    Asked.clear();
    FileSizeAtGet.clear();
    Answered.clear();
    ClockAtGet.clear();
    Connections.clear();
    MostBusy = 0;
  }
};

class RangesInFlight : public PackageServerFixture {
 protected:
  std::vector<qint64> AskedOf(qint64 first) {
    std::lock_guard lock(log.Mutex);
    std::vector<qint64> times;
    for (std::size_t i = 0; i < log.Asked.size(); ++i)
      if (log.Asked[i] == first) times.push_back(log.ClockAtGet[i]);
    return times;
  }
  // Notes a GET as it arrives (its reply is then on its way unless `late` holds it).
  void Note(const HttpRequest& request, std::chrono::milliseconds late = 0ms) {
    const qint64 first = FirstByte(request);
    {
      std::lock_guard lock(log.Mutex);
      log.Asked.push_back(first);
      log.FileSizeAtGet.push_back(TargetSize());
      log.ClockAtGet.push_back(Clock::Current().NowMs());
      log.Connections.insert(request.ConnectionId);
      log.MostBusy = std::max(log.MostBusy, ++log.Busy);
    }
    std::this_thread::sleep_for(late);
    std::lock_guard lock(log.Mutex);
    --log.Busy;
    log.Answered.push_back(first);
  }

  GetLog log;
};

}  // namespace

TEST_F(RangesInFlight, RepliesComeBackOutOfOrderYetTheFileIsAlwaysAPrefixOfWholeRanges) {
  for (int connections : {4, 1}) {
    SCOPED_TRACE(connections);
    SetConnections(connections);
    QFile::remove(TargetPath());
    Publish(PatternBytes(40 * kRangeSize + 1000));
    log.Clear();
    Script([this](const HttpRequest& request, HttpReply&) {
      if (request.Method != "GET") return;
      // Every fourth range is late, so that the ones after it overtake it.
      Note(request, FirstByte(request) / kRangeSize % 4 == 1 ? 60ms : 0ms);
    });
    OpenWindow();
    WatchTheFile();
    Download();

    EXPECT_EQ(Target(), package);
    EXPECT_TRUE(boxes.Boxes.empty()) << boxes.Texts().join('|').toStdString();
    EXPECT_EQ(shell.Opened, QStringList{root.Path() + "Quarnell/Download/"});
    EXPECT_TRUE(fileFaults.empty()) << fileFaults.front();
    EXPECT_GT(fileSizesSeen.size(), 3u) << "the file was hardly seen while it grew";
    std::lock_guard lock(log.Mutex);
    ASSERT_EQ(log.Asked.size(), 41u);  // each range once
    EXPECT_EQ(log.Asked[0], 0);
    for (std::size_t i = 0; i < log.Asked.size(); ++i) {
      // The first range goes alone; no range is asked further than the window ahead of the
      // file, so memory holds at most the window.
      if (i > 0) {
        EXPECT_GE(log.FileSizeAtGet[i], kRangeSize) << "GET " << i << " came before the first range was in";
      }
      EXPECT_LT(log.Asked[i], log.FileSizeAtGet[i] + windowFor(connections) * kRangeSize) << "GET " << i;
    }
    if (connections == 1) {
      // One range at a time on one connection, each asked once the one before is in the file.
      EXPECT_EQ(log.Connections.size(), 1u);
      EXPECT_EQ(log.MostBusy, 1);
      EXPECT_EQ(log.FileSizeAtGet, log.Asked);
    } else {
      EXPECT_GT(log.Connections.size(), 1u);
      EXPECT_LE(log.Connections.size(), 4u);
      EXPECT_GT(log.MostBusy, 1);
      EXPECT_FALSE(std::is_sorted(log.Answered.begin(), log.Answered.end()));
    }
  }
}

// A server that lets one connection in at a time, while it is busy, and refuses the others
// with "busy" or by closing them: the download falls back to fewer connections instead of
// failing or spending the ranges' retries.
TEST_F(RangesInFlight, AServerRefusingTheExtraConnectionsGetsFewer) {
  struct Case {
    const char* name;
    std::function<void(HttpReply&)> refuse;
  };
  const Case cases[] = {
      {"503", [](HttpReply& r) { r = statusReply(503, "Service Unavailable"); }},
      {"closed",
       [](HttpReply& r) {
         r.DropAfterBytes = 0;
         r.Close = true;
       }},
  };
  FakeClock clock;  // the waits before the retries pass at once
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    QFile::remove(TargetPath());
    Publish(PatternBytes(24 * kRangeSize));
    std::mutex mutex;
    int first = 0;  // the connection of the first GET
    int busy = 0;
    int refused = 0;
    Script([&](const HttpRequest& request, HttpReply& reply) {
      if (request.Method != "GET") return;
      {
        std::lock_guard lock(mutex);
        if (first == 0) first = request.ConnectionId;
        if (request.ConnectionId != first && busy > 0) {
          ++refused;
          c.refuse(reply);
          return;
        }
        if (request.ConnectionId != first) return;
        ++busy;
      }
      std::this_thread::sleep_for(15ms);
      std::lock_guard lock(mutex);
      --busy;
    });
    OpenWindow();
    Download();
    EXPECT_TRUE(boxes.Boxes.empty()) << boxes.Texts().join('|').toStdString();
    EXPECT_EQ(Target(), package);
    EXPECT_EQ(shell.Opened, QStringList{root.Path() + "Quarnell/Download/"});
    std::lock_guard lock(mutex);
    EXPECT_GT(refused, 0);  // the road under test was taken
  }
}

// One range fails once, the others go through. It is asked again, once, after the wait the
// reply asked for (within 30 s), else after 0.5 s; the clock is a fake one, so the waits are
// exact and cost no time.
TEST_F(RangesInFlight, AFailureThatMayPassIsAskedAgainAfterItsWait) {
  const auto inThreeSeconds = [] {
    return QLocale::c()
        .toString(QDateTime::currentDateTimeUtc().addSecs(3), QStringLiteral("ddd, dd MMM yyyy hh:mm:ss 'GMT'"))
        .toStdString();
  };
  struct Case {
    const char* name;
    std::function<void(HttpReply&)> fail;
    qint64 leastWaitMs;
    qint64 mostWaitMs;
  };
  const Case cases[] = {
      {"dropped midway",
       [](HttpReply& r) {
         r.DropAfterBytes = 1000;
         r.Close = true;
       },
       500, 1500},
      {"503, Retry-After: 1", [](HttpReply& r) { r = statusReply(503, "Service Unavailable", "1"); }, 1000, 2000},
      {"503 without Retry-After", [](HttpReply& r) { r = statusReply(503, "Service Unavailable"); }, 500, 1500},
      {"503, Retry-After: an HTTP-date 3 s ahead",
       [&](HttpReply& r) { r = statusReply(503, "Service Unavailable", inThreeSeconds()); }, 2000, 4000},
      {"429, Retry-After: 120 is cut to 30 s", [](HttpReply& r) { r = statusReply(429, "Too Many Requests", "120"); },
       30000, 31000},
      {"429, Retry-After: nonsense", [](HttpReply& r) { r = statusReply(429, "Too Many Requests", "soon"); }, 500,
       1500},
      {"502", [](HttpReply& r) { r = statusReply(502, "Bad Gateway"); }, 500, 1500},
      {"504", [](HttpReply& r) { r = statusReply(504, "Gateway Timeout"); }, 500, 1500},
      {"500", [](HttpReply& r) { r = statusReply(500, "Internal Server Error"); }, 500, 1500},
      {"408", [](HttpReply& r) { r = statusReply(408, "Request Timeout"); }, 500, 1500},
  };
  constexpr qint64 kFailing = 2 * kRangeSize;
  FakeClock clock;
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    QFile::remove(TargetPath());
    Publish(PatternBytes(12 * kRangeSize + 77));
    log.Clear();
    Script([&](const HttpRequest& request, HttpReply& reply) {
      if (request.Method != "GET") return;
      const bool firstTime = AskedOf(FirstByte(request)).empty();
      Note(request);
      if (FirstByte(request) == kFailing && firstTime) c.fail(reply);
    });
    OpenWindow();
    Download();
    EXPECT_TRUE(boxes.Boxes.empty()) << boxes.Texts().join('|').toStdString();
    EXPECT_EQ(Target(), package);
    const std::vector<qint64> asked = AskedOf(kFailing);
    ASSERT_EQ(asked.size(), 2u);
    EXPECT_GE(asked[1] - asked[0], c.leastWaitMs);
    EXPECT_LE(asked[1] - asked[0], c.mostWaitMs);
  }
}

// 404 and 416 will not pass: the range is asked once, the message names it, and the file
// keeps whole ranges before it.
TEST_F(RangesInFlight, AFailureThatWillNotPassIsReportedWithItsRange) {
  struct Case {
    int status;
    const char* reason;
  };
  constexpr qint64 kFailing = 2 * kRangeSize;
  for (const Case& c : {Case{404, "Not Found"}, Case{416, "Range Not Satisfiable"}}) {
    SCOPED_TRACE(c.status);
    QFile::remove(TargetPath());
    Publish(PatternBytes(12 * kRangeSize));
    log.Clear();
    Script([&](const HttpRequest& request, HttpReply& reply) {
      if (request.Method != "GET") return;
      Note(request);
      if (FirstByte(request) == kFailing) reply = statusReply(c.status, c.reason);
    });
    OpenWindow();
    Download();
    ASSERT_EQ(boxes.Boxes.size(), 1u);
    EXPECT_EQ(boxes.Boxes[0].Text, QStringLiteral("Download of pkg.bin failed at bytes=65536-98303: the reply has "
                                                  "status %1 instead of 206.")
                                       .arg(c.status));
    EXPECT_EQ(AskedOf(kFailing).size(), 1u);
    const QByteArray kept = Target();
    EXPECT_LE(kept.size(), kFailing);
    EXPECT_EQ(kept.size() % kRangeSize, 0);
    EXPECT_EQ(kept, package.left(kept.size()));
    EXPECT_TRUE(shell.Opened.isEmpty());
  }
}

// On one connection nothing else is in flight: every failure is a retry, and the sixth
// failure of the same range is the last, after waits of 0.5, 1, 2, 4 and 8 s.
TEST_F(RangesInFlight, ARangeThatKeepsFailingIsGivenUpAfterFiveRetries) {
  constexpr qint64 kFailing = 2 * kRangeSize;
  SetConnections(1);
  Publish(PatternBytes(6 * kRangeSize));
  FakeClock clock;
  Script([&](const HttpRequest& request, HttpReply& reply) {
    if (request.Method != "GET") return;
    Note(request);
    if (FirstByte(request) == kFailing) reply = statusReply(503, "Service Unavailable");
  });
  OpenWindow();
  Download();
  ASSERT_EQ(boxes.Boxes.size(), 1u);
  EXPECT_EQ(boxes.Boxes[0].Text,
            "Download of pkg.bin failed at bytes=65536-98303: the reply has status 503 instead of 206.");
  EXPECT_EQ(Target(), package.left(kFailing));
  const std::vector<qint64> asked = AskedOf(kFailing);
  ASSERT_EQ(asked.size(), 6u);
  for (std::size_t retry = 1; retry < asked.size(); ++retry) {
    const qint64 wait = 500 << (retry - 1);
    EXPECT_GE(asked[retry] - asked[retry - 1], wait) << "retry " << retry;
    EXPECT_LE(asked[retry] - asked[retry - 1], wait + 500) << "retry " << retry;
  }
}

// The window stays alive while the download waits to ask again: a close ends the wait at
// once, quietly, with the ranges before the failed one in the file. Real time here: the
// wait the server asks for is 30 s.
TEST_F(RangesInFlight, ClosingTheWindowDuringARetryWaitStopsAtOnce) {
  constexpr qint64 kFailing = 2 * kRangeSize;
  SetConnections(1);
  Publish(PatternBytes(6 * kRangeSize));
  Script([&](const HttpRequest& request, HttpReply& reply) {
    if (request.Method != "GET") return;
    Note(request);
    if (FirstByte(request) == kFailing) reply = statusReply(503, "Service Unavailable", "30");
  });
  OpenWindow();
  QElapsedTimer elapsed;
  elapsed.start();
  QTimer::singleShot(300, form.get(), [this] { form->close(); });
  Download();
  EXPECT_LT(elapsed.elapsed(), 5000);
  EXPECT_TRUE(application->Terminated());
  EXPECT_TRUE(boxes.Boxes.empty()) << boxes.Texts().join('|').toStdString();
  EXPECT_TRUE(shell.Opened.isEmpty());
  EXPECT_EQ(AskedOf(kFailing).size(), 1u);
  EXPECT_EQ(Target(), package.left(kFailing));
  const std::optional<ResumeRecord> record = LoadResumeRecord(TargetPath());
  ASSERT_TRUE(record);
  EXPECT_EQ(record->Good, kFailing);
}
