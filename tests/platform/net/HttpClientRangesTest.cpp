// The ranges in flight of HttpClient against servers on 127.0.0.1: the loopback server for
// HTTP/1.1 with scripted faults, and nginx for HTTP/2 over TLS.
#include <gtest/gtest.h>

#include <QElapsedTimer>
#include <QProcess>
#include <QStandardPaths>
#include <QUrl>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <functional>
#include <limits>
#include <map>
#include <optional>
#include <set>
#include <thread>

#include "platform/base/Exception.h"
#include "platform/net/HttpClient.h"
#include "tests/support/Fakes.h"
#include "tests/support/RawReplyServer.h"
#include "tests/support/Replies.h"
#include "tests/support/TempFolder.h"
#include "tests/support/TestCertificates.h"
#include "tools/LoopbackHttpServer.h"

namespace {

using Outcome = RangeReply::Outcome;

constexpr qint64 kRangeSize = 4096;

QString url(const LoopbackHttpServer& server, const std::string& path) {
  return QString::fromStdString(server.BaseUrl() + path);
}

QByteArray contentRange(qint64 first, qint64 last, qint64 length) {
  return QStringLiteral("bytes %1-%2/%3").arg(first).arg(last).arg(length).toLatin1();
}

// "bytes=first-last" into `first` and `last`; false for any other form.
bool parseRange(const std::string& header, qint64& first, qint64& last) {
  return std::sscanf(header.c_str(), "bytes=%lld-%lld", &first, &last) == 2;
}

// What a server that honours Range answers from `package`: the asked part as a 206, the whole
// package as a 200 when no Range was asked, and a 416 for a range outside it.
HttpReply packageReply(const QByteArray& package, const HttpRequest& request) {
  if (request.Header("Range").empty()) return TextReply(package.toStdString());
  qint64 first = 0, last = 0;
  if (!parseRange(request.Header("Range"), first, last) || first > last || last >= package.size()) {
    HttpReply reply = TextReply("", 416, "Range Not Satisfiable");
    reply.Headers = {{"Content-Range", "bytes */" + std::to_string(package.size())}};
    return reply;
  }
  HttpReply reply = TextReply(package.mid(first, last - first + 1).toStdString(), 206, "Partial Content");
  reply.Headers = {{"Content-Range", contentRange(first, last, package.size()).toStdString()}};
  return reply;
}

RangeRequest rangeRequest(const QString& url, qint64 first, qint64 last, qint64 tag) {
  RangeRequest request;
  request.Url = url;
  request.Range = QStringLiteral("bytes=%1-%2").arg(first).arg(last).toLatin1();
  request.Tag = tag;
  return request;
}

// The `index`th range of kRangeSize bytes of a package of `length` bytes (the last one may
// be shorter), tagged with a number unlike its position so that a mix-up shows.
struct Part {
  qint64 first, last, tag;
};
Part partOf(int index, qint64 length) {
  const qint64 first = index * kRangeSize;
  return {first, std::min(first + kRangeSize, length) - 1, 1000 + index};
}

// packageReply, going silent for 20 s after `stallAfter` body bytes when `stalls`.
HttpReply packageReplyStalling(const QByteArray& package, const HttpRequest& request, bool stalls,
                               std::uint64_t stallAfter) {
  HttpReply reply = packageReply(package, request);
  if (stalls) {
    reply.StallAfterBytes = stallAfter;
    reply.StallMilliseconds = 20000;
  }
  return reply;
}

// WaitForRanges until nothing is in flight; every reply in the order they came.
std::vector<RangeReply> waitForAll(HttpClient& client) {
  std::vector<RangeReply> all;
  while (client.RangesInFlight() > 0) {
    std::vector<RangeReply> some = client.WaitForRanges();
    EXPECT_FALSE(some.empty()) << "WaitForRanges returned with ranges still in flight and none ended";
    if (some.empty()) break;
    all.insert(all.end(), some.begin(), some.end());
  }
  return all;
}

// The replies by tag; a tag that came back twice fails the test.
std::map<qint64, RangeReply> byTag(const std::vector<RangeReply>& replies) {
  std::map<qint64, RangeReply> tagged;
  for (const RangeReply& reply : replies) EXPECT_TRUE(tagged.emplace(reply.Tag, reply).second) << reply.Tag;
  return tagged;
}

void expectPart(const RangeReply& reply, const QByteArray& package, const Part& part) {
  SCOPED_TRACE(part.tag);
  EXPECT_EQ(reply.Result, Outcome::Replied) << reply.FailureText.toStdString();
  EXPECT_EQ(reply.Status, 206);
  EXPECT_EQ(reply.ContentRange, contentRange(part.first, part.last, package.size()));
  EXPECT_TRUE(reply.Body == package.mid(part.first, part.last - part.first + 1)) << "a body of " << reply.Body.size();
  EXPECT_TRUE(reply.FailureText.isEmpty());
}

}  // namespace

TEST(HttpClientRanges, RangesAnsweredOutOfOrderComeBackWholeUnderTheirTagsWithinTheConnectionLimit) {
  constexpr int kRanges = 16;
  const QByteArray package = PatternBytes(kRanges * kRangeSize - 100);
  // Each range waits its own time on the server, in a fixed scramble, so that later ones
  // overtake earlier ones on the other connections.
  const auto scrambled = [&](const HttpRequest& request) {
    qint64 first = 0, last = 0;
    parseRange(request.Header("Range"), first, last);
    std::this_thread::sleep_for(std::chrono::milliseconds(static_cast<int>(first / kRangeSize) * 7 % kRanges * 3));
    return packageReply(package, request);
  };
  // No limit set: one connection, as the header promises.
  for (const std::optional<int> limit : {std::optional<int>(), std::optional<int>(1), std::optional<int>(4)}) {
    SCOPED_TRACE(limit.value_or(0));
    LoopbackHttpServer server(scrambled);
    HttpClient client;
    if (limit) client.SetConnectionLimit(*limit);
    for (int i = 0; i < kRanges; ++i) {
      const Part part = partOf(i, package.size());
      client.StartRange(rangeRequest(url(server, "/pkg"), part.first, part.last, part.tag));
    }
    EXPECT_EQ(client.RangesInFlight(), kRanges);

    const std::map<qint64, RangeReply> replies = byTag(waitForAll(client));
    ASSERT_EQ(replies.size(), static_cast<size_t>(kRanges));
    for (int i = 0; i < kRanges; ++i) {
      const Part part = partOf(i, package.size());
      ASSERT_TRUE(replies.contains(part.tag)) << part.tag;
      expectPart(replies.at(part.tag), package, part);
    }
    EXPECT_EQ(server.Requests().size(), static_cast<size_t>(kRanges));  // none asked twice
    EXPECT_LE(server.ConnectionCount(), limit.value_or(1));
    if (limit.value_or(1) > 1) {
      EXPECT_GT(server.ConnectionCount(), 1);
    }
  }
}

TEST(HttpClientRanges, RangesTakeTheHeadsConnectionAndShareCookiesBothWays) {
  const QByteArray package = PatternBytes(3 * kRangeSize);
  LoopbackHttpServer server([&](const HttpRequest& request) {
    HttpReply reply = packageReply(package, request);
    reply.Headers.push_back({"Set-Cookie", request.Method == "HEAD" ? "session=abc; Path=/" : "ranged=yes; Path=/"});
    return reply;
  });
  HttpClient client;
  client.SetConnectionLimit(2);
  ASSERT_EQ(client.Head(url(server, "/pkg")), package.size());
  for (int i = 0; i < 3; ++i) {
    const Part part = partOf(i, package.size());
    client.StartRange(rangeRequest(url(server, "/pkg"), part.first, part.last, part.tag));
  }
  const std::map<qint64, RangeReply> replies = byTag(waitForAll(client));
  ASSERT_EQ(replies.size(), 3u);
  for (int i = 0; i < 3; ++i) expectPart(replies.at(partOf(i, package.size()).tag), package, partOf(i, package.size()));
  ASSERT_EQ(client.Head(url(server, "/pkg")), package.size());

  const std::vector<HttpRequest> requests = server.Requests();
  ASSERT_EQ(requests.size(), 5u);
  bool headsConnectionReused = false;
  for (size_t i = 1; i < 4; ++i) {
    EXPECT_NE(requests[i].Header("Cookie").find("session=abc"), std::string::npos) << requests[i].Raw;
    headsConnectionReused |= requests[i].ConnectionId == requests[0].ConnectionId;
  }
  EXPECT_TRUE(headsConnectionReused);
  EXPECT_LE(server.ConnectionCount(), 2);
  const std::string lastCookies = requests[4].Header("Cookie");
  EXPECT_NE(lastCookies.find("session=abc"), std::string::npos) << lastCookies;
  EXPECT_NE(lastCookies.find("ranged=yes"), std::string::npos) << lastCookies;
}

// Each range holds its reply to its own limits, chosen by the reply's status.
TEST(HttpClientRanges, ABodyOverTheLimitForItsStatusEndsTheRangeAsAnError) {
  const std::string body(5000, 'b');
  LoopbackHttpServer server([&](const HttpRequest& request) {
    if (request.Target == "/whole") return TextReply(body);
    HttpReply reply = TextReply(body, 206, "Partial Content");
    reply.Headers = {{"Content-Range", "bytes 0-4999/5000"}};
    return reply;
  });
  constexpr qint64 kNoLimit = std::numeric_limits<qint64>::max();
  struct Case {
    const char* path;
    qint64 maxBody, maxPartialBody;
    Outcome outcome;
  };
  const std::vector<Case> cases = {
      {"/partial", kNoLimit, 4999, Outcome::Error},
      {"/partial", 1000, 5000, Outcome::Replied},
      {"/whole", 4999, kNoLimit, Outcome::Error},
      {"/whole", 5000, 1000, Outcome::Replied},
  };
  HttpClient client;
  client.SetConnectionLimit(2);
  for (size_t i = 0; i < cases.size(); ++i) {
    RangeRequest request = rangeRequest(url(server, cases[i].path), 0, 4999, static_cast<qint64>(i));
    request.MaxBody = cases[i].maxBody;
    request.MaxPartialBody = cases[i].maxPartialBody;
    client.StartRange(request);
  }
  const std::map<qint64, RangeReply> replies = byTag(waitForAll(client));
  ASSERT_EQ(replies.size(), cases.size());
  for (size_t i = 0; i < cases.size(); ++i) {
    SCOPED_TRACE(i);
    const RangeReply& reply = replies.at(static_cast<qint64>(i));
    EXPECT_EQ(reply.Result, cases[i].outcome) << reply.FailureText.toStdString();
    if (cases[i].outcome == Outcome::Error) {
      EXPECT_EQ(reply.FailureText, "The reply is larger than 4999 bytes.");
      EXPECT_TRUE(reply.Body.isEmpty());
    } else {
      EXPECT_EQ(reply.Body.toStdString(), body);
    }
  }
}

TEST(HttpClientRanges, AnEndlessBodyIsCutAtTheRangesLimit) {
  constexpr qint64 kLimit = 1 << 20;
  constexpr std::uint64_t kEndless = 1ull << 50;
  for (const int status : {206, 200}) {
    SCOPED_TRACE(status);
    std::atomic<std::uint64_t> produced{0};
    LoopbackHttpServer server([&](const HttpRequest&) {
      HttpReply reply = TextReply("", status, status == 206 ? "Partial Content" : "OK");
      if (status == 206) reply.Headers = {{"Content-Range", contentRange(0, kEndless - 1, kEndless).toStdString()}};
      reply.Source = BodySource{kEndless, [&](std::uint64_t, char* out, std::size_t max) {
                                  std::memset(out, 'e', max);
                                  produced += max;
                                  return max;
                                }};
      return reply;
    });
    HttpClient client;
    qint64 mostReported = 0;
    client.OnWork = [&](WorkMode, qint64 count) { mostReported = std::max(mostReported, count); };
    RangeRequest request = rangeRequest(url(server, "/endless"), 0, kEndless - 1, 7);
    request.MaxBody = request.MaxPartialBody = kLimit;
    client.StartRange(request);
    const std::vector<RangeReply> replies = waitForAll(client);
    ASSERT_EQ(replies.size(), 1u);
    EXPECT_EQ(replies[0].Result, Outcome::Error);
    EXPECT_EQ(replies[0].FailureText, QStringLiteral("The reply is larger than %1 bytes.").arg(kLimit));
    EXPECT_TRUE(replies[0].Body.isEmpty());
    EXPECT_LE(mostReported, kLimit);
    server.Stop();
    // The client stopped reading: what the server could send is the limit and the socket buffers.
    EXPECT_LT(produced.load(), 64u << 20);
  }
}

TEST(HttpClientRanges, FailuresThatMayPassAreTransientAndEveryStatusComesBackAsAReply) {
  LoopbackHttpServer server([](const HttpRequest& request) {
    if (request.Target == "/dropped") {
      HttpReply reply = TextReply(std::string(5000, 'd'), 206, "Partial Content");
      reply.Headers = {{"Content-Range", "bytes 0-4999/5000"}};
      reply.DropAfterBytes = 1000;
      return reply;
    }
    if (request.Target == "/moved") {
      HttpReply reply = TextReply("", 302, "Found");
      reply.Headers = {{"Location", "/elsewhere"}};
      return reply;
    }
    if (request.Target == "/busy") {
      HttpReply reply = TextReply("busy", 503, "Service Unavailable");
      reply.Headers = {{"Retry-After", "7"}};
      return reply;
    }
    HttpReply reply = TextReply("", 416, "Range Not Satisfiable");
    reply.Headers = {{"Content-Range", "bytes */5000"}};
    return reply;
  });
  RawReplyServer notHttp("SSH-2.0-Ombrevia\r\n");
  const int closedPort = UnusedLoopbackPort();
  struct Case {
    QString url;
    Outcome outcome;
    int status;
    QByteArray body, contentRange, retryAfter;
  };
  const std::vector<Case> cases = {
      {url(server, "/dropped"), Outcome::TransientError, 206, {}, "bytes 0-4999/5000", {}},
      {QString("http://127.0.0.1:%1/p").arg(closedPort), Outcome::TransientError, 0, {}, {}, {}},
      {QString("http://127.0.0.1:%1/p").arg(notHttp.Port()), Outcome::Error, 0, {}, {}, {}},
      {url(server, "/busy"), Outcome::Replied, 503, "busy", {}, "7"},
      {url(server, "/beyond"), Outcome::Replied, 416, {}, "bytes */5000", {}},
      {url(server, "/moved"), Outcome::Replied, 302, {}, {}, {}},  // not followed
  };
  HttpClient client;
  for (size_t i = 0; i < cases.size(); ++i)
    client.StartRange(rangeRequest(cases[i].url, 0, 4999, static_cast<qint64>(i)));
  const std::map<qint64, RangeReply> replies = byTag(waitForAll(client));
  ASSERT_EQ(replies.size(), cases.size());
  for (size_t i = 0; i < cases.size(); ++i) {
    const Case& c = cases[i];
    SCOPED_TRACE(c.url.toStdString());
    const RangeReply& reply = replies.at(static_cast<qint64>(i));
    EXPECT_EQ(reply.Result, c.outcome) << reply.FailureText.toStdString();
    EXPECT_EQ(reply.Status, c.status);
    EXPECT_EQ(reply.Body, c.body);
    EXPECT_EQ(reply.ContentRange, c.contentRange);
    EXPECT_EQ(reply.RetryAfter, c.retryAfter);
    if (c.outcome == Outcome::Replied) {
      EXPECT_TRUE(reply.FailureText.isEmpty());
    } else {
      const QString host = QUrl(c.url).host() + ':' + QString::number(QUrl(c.url).port());
      EXPECT_TRUE(reply.FailureText.startsWith("Request to " + host + " failed: ")) << reply.FailureText.toStdString();
    }
  }
}

TEST(HttpClientRanges, ProgressCountsTheBodiesOfAllRangesInFlightAndSilenceGivesTurns) {
  LoopbackHttpServer server([](const HttpRequest&) {
    HttpReply reply = StalledReply(100000, 50000, 300);
    reply.Status = 206;
    return reply;
  });
  HttpClient client;
  client.SetConnectionLimit(2);
  std::vector<qint64> counts;
  int waits = 0;
  client.OnWork = [&](WorkMode mode, qint64 count) {
    EXPECT_EQ(mode, WorkMode::Read);
    counts.push_back(count);
  };
  client.OnWait = [&] { ++waits; };
  client.StartRange(rangeRequest(url(server, "/a"), 0, 99999, 1));
  client.StartRange(rangeRequest(url(server, "/b"), 0, 99999, 2));
  const std::vector<RangeReply> first = client.WaitForRanges();
  ASSERT_FALSE(first.empty());
  EXPECT_TRUE(std::is_sorted(counts.begin(), counts.end()));
  // Both stall at 50000 bytes: the count then holds both halves.
  EXPECT_NE(std::find(counts.begin(), counts.end(), 100000), counts.end()) << ::testing::PrintToString(counts);
  EXPECT_GE(waits, 2);  // about one every 50 ms of the silence
  for (const RangeReply& reply : first) EXPECT_EQ(reply.Body.size(), 100000);
  waitForAll(client);
}

TEST(HttpClientRanges, DisconnectFromAnEventDropsEveryRangeAndLeavesTheClientUsable) {
  const QByteArray package = PatternBytes(4 * kRangeSize);
  LoopbackHttpServer server([&](const HttpRequest& request) {
    return packageReplyStalling(package, request, request.Target == "/slow", 100);
  });
  HttpClient client;
  client.SetConnectionLimit(2);
  for (int i = 0; i < 4; ++i) {
    const Part part = partOf(i, package.size());
    client.StartRange(rangeRequest(url(server, "/slow"), part.first, part.last, part.tag));
  }
  client.OnWork = [&](WorkMode, qint64 count) {
    if (count > 0) client.Disconnect();
  };
  QElapsedTimer realTime;
  realTime.start();
  try {
    waitForAll(client);
    FAIL() << "the ranges were not dropped";
  } catch (const Exception& error) {
    EXPECT_EQ(error.Message(), "Connection closed.");
  }
  EXPECT_LT(realTime.elapsed(), 10000);  // not held until the stall ends
  EXPECT_EQ(client.RangesInFlight(), 0);

  client.OnWork = nullptr;
  EXPECT_EQ(client.Head(url(server, "/fast")), package.size());
  const Part part = partOf(1, package.size());
  client.StartRange(rangeRequest(url(server, "/fast"), part.first, part.last, part.tag));
  const std::vector<RangeReply> replies = waitForAll(client);
  ASSERT_EQ(replies.size(), 1u);
  expectPart(replies[0], package, part);
  server.Stop();
}

// Disconnect drops what is in flight; with nothing in flight there is nothing to drop, and
// the next ranges run as usual.
TEST(HttpClientRanges, ADisconnectWithNoRangeInFlightDoesNotEndLaterRanges) {
  const QByteArray package = PatternBytes(2 * kRangeSize);
  LoopbackHttpServer server([&](const HttpRequest& request) {
    return packageReplyStalling(package, request, request.Header("Range").empty(), 100);
  });
  HttpClient client;
  const std::vector<std::pair<const char*, std::function<void()>>> disconnects = {
      {"while idle", [&] { client.Disconnect(); }},
      {"during a single request that it ended",
       [&] {
         client.OnWork = [&](WorkMode, qint64) { client.Disconnect(); };
         QByteArray body;
         EXPECT_THROW(client.Get(url(server, "/pkg"), {}, body), Exception);
         client.OnWork = nullptr;
       }},
  };
  for (const auto& [when, disconnect] : disconnects) {
    SCOPED_TRACE(when);
    disconnect();
    const Part part = partOf(1, package.size());
    client.StartRange(rangeRequest(url(server, "/pkg"), part.first, part.last, part.tag));
    try {
      const std::vector<RangeReply> replies = waitForAll(client);
      ASSERT_EQ(replies.size(), 1u);
      expectPart(replies[0], package, part);
    } catch (const Exception& error) {
      ADD_FAILURE() << error.what();
      client.DropRanges();
    }
  }
  server.Stop();
}

TEST(HttpClientRanges, AMinuteOfSilenceEndsEveryRangeAsTransient) {
  FakeClock clock;
  LoopbackHttpServer server([](const HttpRequest&) { return StalledReply(1000, 10, 20000); });
  HttpClient client;
  client.SetConnectionLimit(2);
  client.OnWait = [&] { clock.Advance(15000); };  // the caller's turns let time pass
  for (int i = 0; i < 3; ++i) client.StartRange(rangeRequest(url(server, "/p"), 0, 999, i));  // one waits its turn
  QElapsedTimer realTime;
  realTime.start();
  const qint64 start = clock.NowMs();
  const std::vector<RangeReply> replies = client.WaitForRanges();  // one wait: they end together
  ASSERT_EQ(replies.size(), 3u);
  for (const RangeReply& reply : replies) {
    EXPECT_EQ(reply.Result, Outcome::TransientError);
    EXPECT_EQ(reply.FailureText, QString("Request to 127.0.0.1:%1 failed: no data for 60 seconds.").arg(server.Port()));
    EXPECT_TRUE(reply.Body.isEmpty());
  }
  EXPECT_EQ(byTag(replies).size(), 3u);
  EXPECT_EQ(client.RangesInFlight(), 0);
  EXPECT_GE(clock.NowMs() - start, 60000);
  EXPECT_LT(clock.NowMs() - start, 90000);
  EXPECT_LT(realTime.elapsed(), 5000);
  server.Stop();
}

TEST(HttpClientRanges, SingleRequestsAndRangesNeverOverlap) {
  const QByteArray package = PatternBytes(3 * kRangeSize);
  LoopbackHttpServer server([&](const HttpRequest& request) { return packageReply(package, request); });
  HttpClient client;
  const Part part = partOf(2, package.size());
  client.StartRange(rangeRequest(url(server, "/pkg"), part.first, part.last, part.tag));
  QByteArray body;
  EXPECT_THROW(client.Head(url(server, "/pkg")), Exception);
  EXPECT_THROW(client.Get(url(server, "/pkg"), {}, body), Exception);
  EXPECT_EQ(client.RangesInFlight(), 1);
  const std::vector<RangeReply> replies = waitForAll(client);  // the refused requests disturbed nothing
  ASSERT_EQ(replies.size(), 1u);
  expectPart(replies[0], package, part);

  std::optional<QString> refusal;
  client.OnWork = [&](WorkMode, qint64) {
    if (refusal) return;
    try {
      client.StartRange(rangeRequest(url(server, "/pkg"), part.first, part.last, part.tag));
      refusal = QString();
    } catch (const Exception& error) {
      refusal = error.Message();
    }
  };
  client.Get(url(server, "/pkg"), {}, body);
  EXPECT_TRUE(body == package);
  ASSERT_TRUE(refusal.has_value());
  EXPECT_EQ(*refusal, "The HTTP client is already busy with a request.");
  EXPECT_EQ(client.RangesInFlight(), 0);
  EXPECT_EQ(server.Requests().size(), 2u);
}

// A single request left through an exception of its caller's event handler must not stay
// on the shared connections.
TEST(HttpClientRanges, ASingleRequestLeftByAnExceptionHoldsNoConnection) {
  const QByteArray package = PatternBytes(2 * kRangeSize);
  LoopbackHttpServer server([&](const HttpRequest& request) {
    return packageReplyStalling(package, request, request.Header("Range").empty(), 1000);
  });
  HttpClient client;  // one connection to the host
  client.OnWork = [](WorkMode, qint64 count) {
    if (count > 0) throw std::runtime_error("the caller gave up");
  };
  QByteArray body;
  EXPECT_THROW(client.Get(url(server, "/pkg"), {}, body), std::runtime_error);
  client.OnWork = nullptr;
  const Part part = partOf(0, package.size());
  client.StartRange(rangeRequest(url(server, "/pkg"), part.first, part.last, part.tag));
  QElapsedTimer realTime;
  realTime.start();
  const std::vector<RangeReply> replies = waitForAll(client);
  EXPECT_LT(realTime.elapsed(), 10000);  // the abandoned GET would hold the connection for 20 s
  ASSERT_EQ(replies.size(), 1u);
  expectPart(replies[0], package, part);
  server.Stop();
}

namespace {

// nginx on 127.0.0.1 serving one file over TLS and HTTP/2, started as the current user with
// everything it writes in `folder`. Its access log holds one line per request: the
// connection's serial number, the protocol and the Range asked.
class Http2Server {
 public:
  Http2Server(const TempFolder& folder, const TestCertificates& certificates, const QByteArray& file)
      : FFolder(folder), FPort(UnusedLoopbackPort()) {
    const QString nginx = Executable();
    if (nginx.isEmpty()) return;
    folder.Write("www/pkg.bin", file);
    const QString root = folder.Path();
    folder.Write("nginx.conf", QStringLiteral(R"(daemon off;
master_process off;
pid %1nginx.pid;
error_log %1error.log;
events { worker_connections 64; }
http {
  log_format ranges '$connection $server_protocol $http_range';
  access_log %1access.log ranges;
  client_body_temp_path %1body;
  proxy_temp_path %1proxy;
  fastcgi_temp_path %1fastcgi;
  uwsgi_temp_path %1uwsgi;
  scgi_temp_path %1scgi;
  server {
    listen 127.0.0.1:%2 ssl http2;
    ssl_certificate %3;
    ssl_certificate_key %4;
    root %1www;
  }
}
)")
                                   .arg(root)
                                   .arg(FPort)
                                   .arg(certificates.Path("server.pem"), certificates.Path("server.key"))
                                   .toUtf8());
    FProcess.setProcessChannelMode(QProcess::MergedChannels);
    FProcess.start(nginx, {"-p", root, "-c", root + "nginx.conf", "-e", root + "error.log"});
    // nginx writes its pid file once it listens.
    for (int turn = 0; turn < 500 && FProcess.state() != QProcess::NotRunning; ++turn) {
      if (!ReadFile(root + "nginx.pid").trimmed().isEmpty()) return;
      FProcess.waitForFinished(10);
    }
    ADD_FAILURE() << "nginx did not start: " << FProcess.readAll().toStdString()
                  << ReadFile(root + "error.log").toStdString();
  }
  ~Http2Server() {
    if (FProcess.state() == QProcess::NotRunning) return;
    FProcess.terminate();
    if (!FProcess.waitForFinished(5000)) FProcess.kill();
    FProcess.waitForFinished(5000);
  }
  Http2Server(const Http2Server&) = delete;
  Http2Server& operator=(const Http2Server&) = delete;

  static QString Executable() { return QStandardPaths::findExecutable("nginx", {"/usr/sbin", "/usr/local/sbin"}); }
  QString Url() const { return QStringLiteral("https://127.0.0.1:%1/pkg.bin").arg(FPort); }
  int Port() const { return FPort; }
  QList<QByteArray> LogLines() const {
    const QByteArray log = ReadFile(FFolder.Path() + "access.log").trimmed();
    return log.isEmpty() ? QList<QByteArray>() : log.split('\n');
  }

 private:
  const TempFolder& FFolder;
  int FPort;
  QProcess FProcess;
};

class HttpClientRangesHttp2 : public ::testing::Test {
 protected:
  void SetUp() override {
    if (Http2Server::Executable().isEmpty()) GTEST_SKIP() << "nginx is not installed (scripts/setup.sh installs it)";
    certificates.Issue("server", "IP:127.0.0.1", 30);
  }

  TempFolder folder;
  TestCertificates certificates{folder};
  const QByteArray package = PatternBytes(16 * kRangeSize);
};

}  // namespace

// With or without a HEAD before them to open the connection, the ranges wait for it and
// share it rather than open one each.
TEST_F(HttpClientRangesHttp2, SixteenRangesShareOneConnection) {
  Http2Server server(folder, certificates, package);
  for (const bool headFirst : {true, false}) {
    SCOPED_TRACE(headFirst ? "after a HEAD" : "on a fresh client");
    const qsizetype loggedBefore = server.LogLines().size();
    HttpClient client;
    client.SetTransportSecurity({certificates.Path("ca.pem")});
    client.SetConnectionLimit(4);
    if (headFirst) {
      ASSERT_EQ(client.Head(server.Url()), package.size());
    }
    std::set<QByteArray> expectedRanges;
    for (int i = 0; i < 16; ++i) {
      const Part part = partOf(i, package.size());
      client.StartRange(rangeRequest(server.Url(), part.first, part.last, part.tag));
      expectedRanges.insert(QStringLiteral("bytes=%1-%2").arg(part.first).arg(part.last).toLatin1());
    }
    const std::map<qint64, RangeReply> replies = byTag(waitForAll(client));
    ASSERT_EQ(replies.size(), 16u);
    for (int i = 0; i < 16; ++i)
      expectPart(replies.at(partOf(i, package.size()).tag), package, partOf(i, package.size()));

    const QList<QByteArray> lines = server.LogLines().mid(loggedBefore);
    ASSERT_EQ(lines.size(), headFirst ? 17 : 16);
    const QByteArray connection = lines[0].split(' ')[0];
    std::set<QByteArray> loggedRanges;
    for (const QByteArray& line : lines) {
      const QList<QByteArray> fields = line.split(' ');
      ASSERT_EQ(fields.size(), 3) << line.toStdString();
      EXPECT_EQ(fields[0], connection) << line.toStdString();
      EXPECT_EQ(fields[1], "HTTP/2.0") << line.toStdString();
      if (fields[2] != "-") loggedRanges.insert(fields[2]);
    }
    EXPECT_EQ(loggedRanges, expectedRanges);
  }
}

TEST_F(HttpClientRangesHttp2, AnUntrustedCertificateEndsEveryRangeSayingWhy) {
  Http2Server server(folder, certificates, package);
  HttpClient client;  // the test CA is not trusted
  client.SetConnectionLimit(4);
  for (int i = 0; i < 4; ++i) {
    const Part part = partOf(i, package.size());
    client.StartRange(rangeRequest(server.Url(), part.first, part.last, part.tag));
  }
  try {
    waitForAll(client);
    FAIL() << "the certificate was not refused";
  } catch (const TransportSecurityError& error) {
    EXPECT_TRUE(error.Message().startsWith(
        QStringLiteral("The secure connection to 127.0.0.1:%1 was refused: ").arg(server.Port())))
        << error.what();
  }
  EXPECT_EQ(client.RangesInFlight(), 0);

  client.SetTransportSecurity({certificates.Path("ca.pem")});
  const Part part = partOf(3, package.size());
  client.StartRange(rangeRequest(server.Url(), part.first, part.last, part.tag));
  const std::vector<RangeReply> replies = waitForAll(client);
  ASSERT_EQ(replies.size(), 1u);
  expectPart(replies[0], package, part);
}
