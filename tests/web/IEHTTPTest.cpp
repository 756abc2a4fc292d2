#include <gtest/gtest.h>

#include <QElapsedTimer>
#include <QLocale>
#include <atomic>
#include <thread>

#include "platform/base/Dialogs.h"
#include "platform/base/Exception.h"
#include "tests/support/Fakes.h"
#include "tests/support/TempFolder.h"
#include "tools/LoopbackHttpServer.h"
#include "web/IEHTTP3.h"

namespace {

HttpReply textReply(std::string body, std::vector<std::pair<std::string, std::string>> headers = {}, int status = 200,
                    std::string reason = "OK") {
  HttpReply reply;
  reply.Status = status;
  reply.Reason = std::move(reason);
  reply.Body = std::move(body);
  reply.Headers = std::move(headers);
  return reply;
}

QString at(const LoopbackHttpServer& server, const QString& path) {
  return QString::fromStdString(server.BaseUrl()) + path;
}

}  // namespace

TEST(TIEHTTP, UrlRules) {
  TIEHTTP http;
  http.SetURL("127.0.0.1:8/a.php");
  EXPECT_EQ(http.URL(), "http://127.0.0.1:8/a.php");
  http.SetURL("https://127.0.0.1:8/a.php");
  EXPECT_EQ(http.URL(), "https://127.0.0.1:8/a.php");
  http.SetURL("http://127.0.0.1:8");
  EXPECT_EQ(http.error_msg, "tiehttp: Empty URL");
  http.SetURL("http://127.0.0.1:99999/x");
  EXPECT_TRUE(http.error_msg.startsWith("tiehttp: Invalid URL. Error - 12005 = ")) << http.error_msg.toStdString();
  http.SetURL("");
  try {
    http.Execute();
    FAIL();
  } catch (const Exception& error) {
    EXPECT_EQ(error.Message(), "TIEHTTP: no url in execute method");
  }
  EXPECT_THROW(http.SetRequestMethod("PUT"), Exception);
  http.SetRequestMethod("post");
  EXPECT_EQ(http.RequestMethod(), "POST");
  EXPECT_EQ(http.content_type, "application/x-www-form-urlencoded");
}

TEST(TIEHTTP, RequestTargetsBodiesAndHeaders) {
  LoopbackHttpServer server([](const HttpRequest&) { return textReply("fine"); });
  TIEHTTP http;
  http.SetgetStr("y=2");
  http.ExecuteURL(at(server, "/a.php?x=1"));
  http.SetRequestMethod("POST");
  http.SetgetStr("y=2");
  http.ExecuteURL(at(server, "/a.php?x=1"));
  http.SetRequestMethod("GET");
  http.ExecuteURL(at(server, QString::fromUtf8("/q.php?name=caff\xc3\xa9 latte")));
  http.SetRequestMethod("POST");
  http.SetURL(at(server, "/p.php"));
  http.SetpostStr("b=2");
  http.AddRequestHeader("X-A:", "1");
  http.AddRequestHeader("x-a", "2");
  http.Execute();
  http.Execute();  // the header lines go once again, not twice

  const auto requests = server.Requests();
  ASSERT_EQ(requests.size(), 5u);
  EXPECT_EQ(requests[0].Target, "/a.php?x=1&y=2");
  EXPECT_EQ(requests[0].Method, "GET");
  EXPECT_EQ(requests[0].Version, "HTTP/1.0");
  EXPECT_EQ(requests[0].Header("User-Agent"), "tiehttp");
  EXPECT_EQ(requests[1].Target, "/a.php?y=2");
  EXPECT_EQ(requests[1].Body, "x=1");
  EXPECT_EQ(requests[2].Target, "/q.php?name=caff%C3%A9%20latte");
  EXPECT_EQ(requests[3].Body, "b=2");
  EXPECT_EQ(requests[3].Header("Content-Type"), "application/x-www-form-urlencoded");
  EXPECT_EQ(http.request_headers, QStringList{"x-a: 2"});
  for (int i : {3, 4}) {
    const std::string& raw = requests[i].Raw;
    EXPECT_EQ(raw.find("x-a: 2"), raw.rfind("x-a: 2"));
    EXPECT_NE(raw.find("x-a: 2"), std::string::npos);
  }
  EXPECT_EQ(http.result_sl, QStringList{"fine"});
}

TEST(TIEHTTP, HeaderListRules) {
  TIEHTTP http;
  http.AddRequestHeader("X-A:", "1");
  http.AddRequestHeader(" x-a ", "2");
  EXPECT_EQ(http.request_headers, QStringList{"x-a: 2"});
  EXPECT_EQ(http.GetRequestHeaderIdx("X-A"), 0);
  EXPECT_EQ(http.GetRequestHeaderIdx(""), -1);
  EXPECT_EQ(http.GetRequestHeaderValue(""), "");
  http.DeleteRequestHeader("");
  EXPECT_EQ(http.request_headers.size(), 1);
  http.response_headers = QStringList{"HTTP/1.1 200 OK", "Content-Type: text/html"};
  EXPECT_EQ(http.GetResponseHeaderValue("content-type"), "text/html");
  EXPECT_EQ(http.GetResponseHeaderIdx("content-type:"), 1);
  http.DeleteRequestHeader("x-a");
  EXPECT_TRUE(http.request_headers.isEmpty());
}

TEST(TIEHTTP, ErrorPagesSizesAndCharsets) {
  LoopbackHttpServer server([](const HttpRequest& request) {
    if (request.Target == "/missing")
      return textReply("no such page", {{"Content-Type", "text/html"}}, 404, "Not Found");
    if (request.Target == "/utf8")
      return textReply("caff\xc3\xa8\r\nriga 2\n", {{"Content-Type", "text/plain; charset=utf-8"}});
    if (request.Target == "/utf16")
      return textReply(std::string("c\0i\0a\0o\0\0\0x\0", 12), {{"Content-Type", "text/plain; charset=utf-16"}});
    if (request.Target == "/ansi") return textReply("caff\xe8 \x80", {{"Content-Type", "text/plain"}});
    HttpReply custom = textReply(std::string(5000, 'c'), {{"Custom-Content-Length", "5000"}});
    custom.OmitContentLength = request.Target == "/custom" || request.Target == "/nolength";
    if (request.Target == "/nolength") custom.Headers.clear();
    custom.Close = custom.OmitContentLength;
    return custom;
  });
  TIEHTTP http;
  http.ExecuteURL(at(server, "/missing"));
  EXPECT_EQ(http.result_sl, QStringList{"no such page"});
  EXPECT_EQ(http.response_headers.value(0), "HTTP/1.1 404 Not Found");
  EXPECT_EQ(http.GetResponseHeaderValue("content-type"), "text/html");
  EXPECT_EQ(http.error, 0);
  http.ExecuteURL(at(server, "/utf8"));
  EXPECT_EQ(http.result_sl, (QStringList{QString::fromUtf8("caff\xc3\xa8"), "riga 2"}));
  http.ExecuteURL(at(server, "/utf16"));
  EXPECT_EQ(http.result_sl, QStringList{"ciao"});
  http.ExecuteURL(at(server, "/ansi"));
  EXPECT_EQ(http.result_sl, QStringList{QString::fromUtf8("caff\xc3\xa8 \xe2\x82\xac")});
  http.ExecuteURL(at(server, "/custom"));
  EXPECT_EQ(http.ContentSize, 5000u);
  EXPECT_EQ(http.bytes_read_total, 5000);
  http.ExecuteURL(at(server, "/nolength"));
  EXPECT_EQ(http.ContentSize, 1u);
  EXPECT_EQ(http.GetStringPercentage(), QString("Bytes Read: %1 \rTotal File Size: 1\rStatus: %2% done")
                                            .arg(QLocale().toString(5000), QLocale().toString(500000)));
}

TEST(TIEHTTP, TransportFailuresRaiseWinInetErrors) {
  const int freePort = UnusedLoopbackPort();
  TIEHTTP http;
  try {
    http.ExecuteURL(QString("http://127.0.0.1:%1/x").arg(freePort));
    FAIL();
  } catch (const Exception& error) {
    EXPECT_EQ(error.Message(), "wininet error # 12029 : (Cannot connect)");
  }
  try {
    http.ExecuteURL("http://name.invalid/x");
    FAIL();
  } catch (const Exception& error) {
    EXPECT_EQ(error.Message(), "wininet error # 12007 : (Service Name Not Resolved)");
  }
}

TEST(TIEHTTP, SilenceLongerThanTheTimeoutEndsTheRequestQuietly) {
  FakeClock clock;
  std::atomic<qint64> requestedAt{0};
  LoopbackHttpServer server([&](const HttpRequest&) {
    requestedAt = clock.NowMs();
    HttpReply reply = textReply(std::string(100, 'a'));
    reply.StallAfterBytes = 10;
    reply.StallMilliseconds = 6000;
    return reply;
  });
  TIEHTTP http;
  http.Timeout = 5;
  QElapsedTimer realTime;
  realTime.start();
  EXPECT_NO_THROW(http.ExecuteURL(at(server, "/slow")));
  EXPECT_EQ(http.error_code, 100);
  EXPECT_TRUE(http.result_raw.isEmpty());
  EXPECT_GE(clock.NowMs() - requestedAt, 4900);
  EXPECT_LT(clock.NowMs() - requestedAt, 6000);
  EXPECT_LT(realTime.elapsed(), 3000);  // the silence passed on the fake clock
  EXPECT_EQ(http.working_status, 0);
}

TEST(TIEHTTP, StopRequestFromAnEventCancels) {
  // A reply that never ends: 10 GB announced, produced on demand.
  LoopbackHttpServer server([](const HttpRequest&) {
    HttpReply reply;
    reply.Source = BodySource{10'000'000'000ull, [](std::uint64_t, char* out, std::size_t max) {
                                memset(out, 'z', max);
                                return max;
                              }};
    return reply;
  });
  TIEHTTP http;
  int packets = 0;
  http.OnPacketRead = [&](TIEHTTP* sender) {
    if (++packets == 3) sender->StopRequest(false);
  };
  http.ExecuteURL(at(server, "/endless"));
  EXPECT_TRUE(http.Canceled());
  EXPECT_TRUE(http.result_raw.isEmpty());
  EXPECT_GE(http.debug_total_packet_events, 3);
  server.Stop();
}

TEST(TIEHTTP, DestroyingTheComponentDuringARequestIsSafe) {
  LoopbackHttpServer server([](const HttpRequest&) {
    HttpReply reply = textReply(std::string(300000, 'a'));
    reply.StallAfterBytes = 100000;
    reply.StallMilliseconds = 300;
    return reply;
  });
  auto http = std::make_unique<TIEHTTP>();
  http->OnPacketRead = [&](TIEHTTP*) { http.reset(); };
  http->ExecuteURL(at(server, "/x"));
  EXPECT_EQ(http, nullptr);
  std::this_thread::sleep_for(std::chrono::milliseconds(500));  // the worker finishes on its own
}

TEST(TIEHTTP, OversizedHeadersLeaveThePreviousOnesOrFailCleanly) {
  LoopbackHttpServer server([](const HttpRequest& request) {
    if (request.Target == "/big") return textReply("body", {{"X-Big", std::string(50000, 'h')}});
    if (request.Target == "/huge") return textReply("body", {{"X-Huge", std::string(1 << 20, 'h')}});
    return textReply("small", {{"X-Small", "1"}});
  });
  TIEHTTP http;
  http.ExecuteURL(at(server, "/small"));
  http.ExecuteURL(at(server, "/big"));  // larger than the 10,000-byte header buffer
  EXPECT_EQ(http.GetResponseHeaderValue("x-small"), "1");
  EXPECT_EQ(http.result_sl, QStringList{"body"});
  try {
    http.ExecuteURL(at(server, "/huge"));  // more than the transport takes
    FAIL();
  } catch (const Exception& error) {
    EXPECT_TRUE(error.Message().startsWith("wininet error # ")) << error.what();
  }
}
