// The component over whole requests: events on every pass, workers that always end, the
// reply limit, and what goes on the wire.
#include <gtest/gtest.h>
#include <zlib.h>

#include <QFile>
#include <atomic>
#include <stdexcept>
#include <thread>

#include "platform/base/Exception.h"
#include "tests/support/Fakes.h"
#include "tests/support/RawReplyServer.h"
#include "tests/support/Replies.h"
#include "tools/LoopbackHttpServer.h"
#include "web/IEHTTP3.h"
#include "web/_QnWebUtils.h"
#include "web/iiehttp3_funcs.h"

namespace {

// A body that never ends in a test's time (made on demand); `offset` follows the server's reading.
HttpReply endlessReply(std::atomic<std::uint64_t>& offset, bool announced = true,
                       std::uint64_t length = 10'000'000'000ull) {
  HttpReply reply;
  reply.Source = BodySource{length, [&offset](std::uint64_t at, char* out, std::size_t max) {
                              offset = at + max;
                              memset(out, 'z', max);
                              return max;
                            }};
  reply.OmitContentLength = !announced;
  reply.Close = !announced;
  return reply;
}

QString at(const LoopbackHttpServer& server, const QString& path) {
  return QString::fromStdString(server.BaseUrl()) + path;
}

// The most memory this process has held, in bytes.
qint64 peakMemory() {
  QFile status("/proc/self/status");
  status.open(QIODevice::ReadOnly);
  for (const QByteArray& line : status.readAll().split('\n'))
    if (line.startsWith("VmHWM:")) return line.mid(6).trimmed().split(' ').value(0).toLongLong() * 1024;
  return 0;
}

QByteArray gzipOf(const QByteArray& piece, int repeats) {
  z_stream z{};
  deflateInit2(&z, 9, Z_DEFLATED, 15 + 16, 9, Z_DEFAULT_STRATEGY);
  QByteArray gz, out(1 << 16, Qt::Uninitialized);
  for (int round = 0; round < repeats; ++round) {
    z.next_in = reinterpret_cast<Bytef*>(const_cast<char*>(piece.constData()));
    z.avail_in = static_cast<uInt>(piece.size());
    const int flush = round == repeats - 1 ? Z_FINISH : Z_NO_FLUSH;
    do {
      z.next_out = reinterpret_cast<Bytef*>(out.data());
      z.avail_out = static_cast<uInt>(out.size());
      deflate(&z, flush);
      gz.append(out.constData(), out.size() - z.avail_out);
    } while (z.avail_out == 0);
  }
  deflateEnd(&z);
  return gz;
}

}  // namespace

TEST(TIEHTTPEvents, EveryRequestFiresOnPacketReadWithTheFinalCount) {
  for (const std::size_t size : {std::size_t(79), std::size_t(300000), std::size_t(0)}) {
    LoopbackHttpServer server([&](const HttpRequest&) { return TextReply(std::string(size, 'p')); });
    TIEHTTP http;
    std::vector<qint32> counts;
    http.OnPacketRead = [&](TIEHTTP* sender) { counts.push_back(sender->bytes_read_total); };
    for (int request = 0; request < 25; ++request) {
      counts.clear();
      http.ExecuteURL(at(server, "/p"));
      ASSERT_FALSE(counts.empty()) << size << " bytes, request " << request;
      EXPECT_EQ(counts.back(), qint32(size)) << size << " bytes, request " << request;
      EXPECT_EQ(http.debug_total_packet_events, qint32(counts.size()));
    }
  }
}

TEST(TIEHTTPEvents, TheFirstTimerCheckFiresAtOnceAndAStopFromItAlwaysCancels) {
  FakeClock clock;
  LoopbackHttpServer server([](const HttpRequest&) { return TextReply("quick"); });
  TIEHTTP http;
  http.TimerIntervalSeconds = 1;
  int timers = 0;
  http.OnTimer = [&](TIEHTTP*) { ++timers; };
  http.ExecuteURL(at(server, "/t"));
  EXPECT_GE(timers, 1);  // a fast request, and the component's first check
  EXPECT_EQ(http.result_sl, QStringList{"quick"});

  http.OnTimer = [](TIEHTTP* sender) { sender->StopRequest(false); };
  for (int request = 0; request < 10; ++request) {
    clock.Advance(2000);  // the interval has passed: the first pass fires the timer
    http.ExecuteURL(at(server, "/t"));
    EXPECT_TRUE(http.Canceled()) << "request " << request;
    EXPECT_TRUE(http.result_raw.isEmpty());
    EXPECT_EQ(http.working_status, 0);
  }
}

TEST(TIEHTTPEvents, TheWorkerAndTheWakeUpEventAreVisibleWhileARequestRuns) {
  LoopbackHttpServer server([](const HttpRequest&) { return TextReply("x"); });
  TIEHTTP http;
  bool seen = false;
  http.OnPacketRead = [&](TIEHTTP* sender) {
    seen = sender->event_handle != nullptr && sender->ie_thread != std::thread::id() &&
           sender->ie_thread != std::this_thread::get_id();
  };
  http.ExecuteURL(at(server, "/p"));
  EXPECT_TRUE(seen);
  EXPECT_EQ(http.event_handle, nullptr);
  EXPECT_EQ(http.ie_thread, std::thread::id());
  EXPECT_TRUE(http.ie_thread_finished);
}

TEST(TIEHTTPEvents, AThrowingHandlerEndsTheWorkersTransfer) {
  struct Case {
    const char* name;
    std::function<void(TIEHTTP&)> arm;
  };
  const Case cases[] = {
      {"OnPacketRead",
       [](TIEHTTP& http) {
         http.OnPacketRead = [](TIEHTTP* sender) {
           if (sender->debug_total_packet_events >= 3) throw std::runtime_error("handler failed");
         };
       }},
      {"OnTimer",
       [](TIEHTTP& http) {
         http.TimerIntervalSeconds = 1;
         http.OnTimer = [](TIEHTTP*) { throw std::runtime_error("handler failed"); };
       }},
  };
  for (const Case& c : cases) {
    std::atomic<std::uint64_t> offset{0};
    LoopbackHttpServer server([&](const HttpRequest&) { return endlessReply(offset); });
    TIEHTTP http;
    c.arm(http);
    EXPECT_THROW(http.ExecuteURL(at(server, "/endless")), std::runtime_error) << c.name;
    EXPECT_EQ(http.working_status, 0);
    // The worker stops reading: the server's position stays put.
    std::this_thread::sleep_for(std::chrono::milliseconds(300));
    const std::uint64_t settled = offset;
    std::this_thread::sleep_for(std::chrono::milliseconds(300));
    EXPECT_EQ(offset.load(), settled) << c.name;
    EXPECT_LT(settled, 100u << 20) << c.name;
    server.Stop();
  }
}

TEST(TIEHTTPEventsDeathTest, ExitRightAfterAStopATimeOutOrADestroyIsClean) {
  GTEST_FLAG_SET(death_test_style, "threadsafe");
  // The process ends while the worker still closes its handles: the exit handlers must not
  // pull anything from under it.
  for (const char* ending : {"stop", "timeout", "destroy"}) {
    EXPECT_EXIT(
        {
          // Exit handlers that take a moment, registered before anything the request makes:
          // they run after that is destroyed, while the worker is still busy.
          std::atexit([] { std::this_thread::sleep_for(std::chrono::milliseconds(300)); });
          std::atomic<std::uint64_t> offset{0};
          LoopbackHttpServer server([&](const HttpRequest&) {
            HttpReply reply = endlessReply(offset);
            reply.StallAfterBytes = 100000;
            reply.StallMilliseconds = std::string(ending) == "timeout" ? 10000 : 0;
            return reply;
          });
          FakeClock* clock = std::string(ending) == "timeout" ? new FakeClock : nullptr;
          auto http = std::make_unique<TIEHTTP>();
          http->Timeout = 5;
          http->OnPacketRead = [&](TIEHTTP* sender) {
            if (sender->bytes_read_total < 50000) return;
            if (std::string(ending) == "stop") sender->StopRequest(false);
            if (std::string(ending) == "destroy") http.reset();
          };
          http->ExecuteURL(at(server, "/endless"));
          (void)clock;
          std::exit(0);
        },
        ::testing::ExitedWithCode(0), "")
        << ending;
  }
}

TEST(TIEHTTPLimit, OneLimitBoundsTheWholeReply) {
  const qint64 limit = 16 << 20;
  std::atomic<std::uint64_t> offset{0};
  const QByteArray zerosBomb = gzipOf(QByteArray(1 << 20, '\0'), 64);            // 64 MiB of zeros
  const QByteArray linesBomb = gzipOf(QByteArray("a\n").repeated(1 << 19), 16);  // 16 MiB of "a" lines
  LoopbackHttpServer server([&](const HttpRequest& request) {
    if (request.Target == "/zeros") return TextReply(zerosBomb.toStdString());
    if (request.Target == "/lines") return TextReply(linesBomb.toStdString());
    if (request.Target == "/announced") return endlessReply(offset, true, 3'000'000'000ull);
    if (request.Target == "/unannounced") return endlessReply(offset, false);
    return TextReply(std::string(1 << 20, 'f'));
  });
  ASSERT_TRUE(zerosBomb.startsWith(QByteArray("\x1F\x8B\x08\x00\x00\x00\x00\x00", 8)));
  TIEHTTP http;
  http.MaxReplyBytes = limit;
  const qint64 peakBefore = peakMemory();
  for (const char* path : {"/zeros", "/lines", "/announced", "/unannounced"}) {
    try {
      http.ExecuteURL(at(server, path));
      FAIL() << "no error for " << path;
    } catch (const Exception& error) {
      EXPECT_EQ(error.Message(), "tiehttp error: The reply is larger than the limit of 16777216 bytes.") << path;
    }
    EXPECT_TRUE(http.result_raw.isEmpty()) << path;
    EXPECT_TRUE(http.result_sl.isEmpty()) << path;
  }
  EXPECT_LT(peakMemory() - peakBefore, qint64(256) << 20);
  http.ExecuteURL(at(server, "/fits"));  // a megabyte is well within the limit
  EXPECT_EQ(http.result_raw.size(), 1 << 20);
  EXPECT_EQ(TIEHTTP().MaxReplyBytes, kDefaultMaxReplyBytes);
  server.Stop();
}

TEST(TIEHTTPWire, OnlyTheHeadersAskedForGoOut) {
  const std::string reply = "HTTP/1.1 200 OK\r\nContent-Length: 2\r\nSet-Cookie: c=1\r\n\r\nok";
  RawReplyServer server(reply);
  TIEHTTP http;
  http.AddRequestHeader("X-Empty", "");
  http.ExecuteURL(QString("http://127.0.0.1:%1/w.php?q=1").arg(server.Port()));
  EXPECT_EQ(http.result_sl, QStringList{"ok"});
  EXPECT_EQ(http.cookies, QStringList{"c=1"});
  const std::vector<std::string> requests = server.Requests();
  ASSERT_EQ(requests.size(), 1u);
  EXPECT_EQ(requests[0], "GET /w.php?q=1 HTTP/1.0\r\nHost: 127.0.0.1:" + std::to_string(server.Port()) +
                             "\r\nUser-Agent: tiehttp\r\nX-Empty:\r\n\r\n");
}

TEST(TIEHTTPWire, AReplyThatIsNotHttpAndAFailureBeforeTheHeaders) {
  LoopbackHttpServer good([](const HttpRequest&) {
    HttpReply reply = TextReply("fine");
    reply.Headers = {{"Set-Cookie", "kept=1"}};
    return reply;
  });
  TIEHTTP http;
  http.ExecuteURL(at(good, "/p"));
  ASSERT_EQ(http.cookies, QStringList{"kept=1"});
  RawReplyServer garbage("SSH-2.0-not-a-web-server\r\n\r\n");
  try {
    http.ExecuteURL(QString("http://127.0.0.1:%1/p").arg(garbage.Port()));
    FAIL();
  } catch (const Exception& error) {
    EXPECT_EQ(error.Message(), "wininet error # 12152 : (Invalid HTTP Server Response)");
  }
  EXPECT_EQ(http.cookies, QStringList{"kept=1"});  // no headers arrived: the last ones stay
  EXPECT_EQ(http.response_headers.value(0), "HTTP/1.1 200 OK");

  http.SetURL("http://127.0.0.1:99999/x");
  EXPECT_EQ(http.error_msg, "tiehttp: Invalid URL. Error - 12005 = The URL is invalid.");
}

TEST(TIEHTTPWire, AnIpv6LiteralReachesItsServer) {
  std::unique_ptr<RawReplyServer> server;
  try {
    server = std::make_unique<RawReplyServer>("HTTP/1.0 200 OK\r\nContent-Length: 7\r\n\r\nover v6", true);
  } catch (const std::runtime_error&) {
    GTEST_SKIP() << "no IPv6 loopback on this machine";
  }
  TIEHTTP http;
  http.ExecuteURL(QString("http://[::1]:%1/six").arg(server->Port()));
  EXPECT_EQ(http.result_sl, QStringList{"over v6"});
  ASSERT_EQ(server->Requests().size(), 1u);
  EXPECT_EQ(server->Requests()[0].rfind("GET /six HTTP/1.0\r\nHost: [::1]:", 0), 0u) << server->Requests()[0];
}

TEST(TIEHTTPWire, LineBreaksInHeadersAreRefused) {
  LoopbackHttpServer server([](const HttpRequest&) { return TextReply("never"); });
  TIEHTTP http;
  for (const auto& [name, value] : {std::pair<QString, QString>{"X-A", "1\r\nX-Evil: 2"},
                                    {"X-A\nX-Evil", "2"},
                                    {"X-A", "1\rX"},
                                    {"X-A", QString("1") + QChar(0) + "2"}})
    EXPECT_THROW(http.AddRequestHeader(name, value), Exception) << name.toStdString();
  EXPECT_TRUE(http.request_headers.isEmpty());

  struct Case {
    std::function<void(TIEHTTP&)> spoil;
    QString message;
  };
  const Case cases[] = {
      {[](TIEHTTP& h) { h.http_agent_string = "agent\r\nX-Evil: 1"; },
       "tiehttp error: A header line contains CR, LF or NUL: agent X-Evil"},
      {[](TIEHTTP& h) { h.request_headers << "X-A: 1\r\nX-Evil: 2"; },
       "tiehttp error: A header line contains CR, LF or NUL: X-A"},
      {[](TIEHTTP& h) {
         h.SetRequestMethod("POST");
         h.content_type = "text/plain\nX-Evil: 1";
       },
       "tiehttp error: A header line contains CR, LF or NUL: Content-Type"},
  };
  for (const Case& c : cases) {
    TIEHTTP spoilt;
    c.spoil(spoilt);
    try {
      spoilt.ExecuteURL(at(server, "/h"));
      FAIL() << c.message.toStdString();
    } catch (const Exception& error) {
      EXPECT_EQ(error.Message(), c.message);
    }
  }
  EXPECT_TRUE(server.Requests().empty());
}

TEST(TIEHTTPWire, CharactersOutsideTheBmpAreEncodedAsTheirUtf8Bytes) {
  EXPECT_EQ(EncodeUrlQuery(QString::fromUtf8("?e=\xF0\x9F\x98\x80&x=\xC3\xA9")), "?e=%F0%9F%98%80&x=%C3%A9");
  LoopbackHttpServer server([](const HttpRequest&) { return TextReply("ok"); });
  TIEHTTP http;
  http.ExecuteURL(at(server, QString::fromUtf8("/q?e=\xF0\x9F\x98\x80")));
  EXPECT_EQ(server.Requests().at(0).Target, "/q?e=%F0%9F%98%80");
}

TEST(ScriptCallManager, BothTransportsReturnAnErrorPageAsTextAndSendNoExtraHeaders) {
  LoopbackHttpServer server([](const HttpRequest&) {
    HttpReply reply = TextReply("<h1>Not here</h1>", 404, "Not Found");
    reply.Headers = {{"Content-Type", "text/html"}};
    return reply;
  });
  TQnHttpManager manager;
  for (const bool viaComponent : {true, false}) {
    manager.FlagIEHTTP = viaComponent;
    manager.PhpScriptAddParam("k", "v");
    EXPECT_EQ(manager.PhpScriptExecute(at(server, "/missing.php")),
              viaComponent ? "<h1>Not here</h1>\r\n" : "<h1>Not here</h1>")
        << viaComponent;
  }
  const HttpRequest platform = server.Requests().back();
  std::vector<std::string> names;
  for (const auto& [name, value] : platform.Headers) names.push_back(name);
  EXPECT_EQ(names, (std::vector<std::string>{"Host", "Content-Type", "Content-Length"})) << platform.Raw;
}
