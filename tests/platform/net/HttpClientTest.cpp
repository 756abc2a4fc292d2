#include <gtest/gtest.h>

#include <QElapsedTimer>

#include "platform/base/Exception.h"
#include "platform/net/HttpClient.h"
#include "platform/net/HttpForm.h"
#include "tests/support/Fakes.h"
#include "tests/support/RawReplyServer.h"
#include "tests/support/Replies.h"
#include "tests/support/TempFolder.h"
#include "tools/LoopbackHttpServer.h"

namespace {

QString url(const LoopbackHttpServer& server, const std::string& path) {
  return QString::fromStdString(server.BaseUrl() + path);
}

}  // namespace

TEST(HttpClient, HeadAndRangedGetsShareOneConnectionAndSendCookiesBack) {
  LoopbackHttpServer server([](const HttpRequest& request) {
    HttpReply reply = TextReply(std::string(100, 'x'));
    if (request.Method == "HEAD") reply.Headers = {{"Set-Cookie", "session=abc; Path=/"}};
    return reply;
  });
  HttpClient client;
  EXPECT_EQ(client.Head(url(server, "/p")), 100);
  QByteArray body;
  client.Get(url(server, "/p"), "bytes=0-9", body);
  client.Get(url(server, "/p"), "bytes=10-19", body);
  EXPECT_EQ(body.size(), 100);

  const auto requests = server.Requests();
  ASSERT_EQ(requests.size(), 3u);
  EXPECT_EQ(server.ConnectionCount(), 1);
  EXPECT_EQ(requests[0].Method, "HEAD");
  for (const auto& request : requests) {
    EXPECT_EQ(request.Version, "HTTP/1.1");
    EXPECT_EQ(request.Header("Accept"), "text/html,application/xhtml+xml,application/xml;q=0.9,*/*;q=0.8");
    EXPECT_EQ(request.Header("User-Agent"), "Mozilla/3.0 (compatible; Indy Library)");
  }
  EXPECT_EQ(requests[0].Header("Range"), "");
  EXPECT_EQ(requests[1].Header("Range"), "bytes=0-9");
  EXPECT_EQ(requests[2].Header("Range"), "bytes=10-19");
  EXPECT_EQ(requests[1].Header("Cookie"), "session=abc");
  EXPECT_EQ(requests[2].Header("Cookie"), "session=abc");
}

TEST(HttpClient, HeadWithoutContentLengthAnswersMinusOne) {
  LoopbackHttpServer server([](const HttpRequest&) {
    HttpReply reply = TextReply("");
    reply.OmitContentLength = true;
    reply.Close = true;
    return reply;
  });
  HttpClient client;
  EXPECT_EQ(client.Head(url(server, "/p")), -1);
}

TEST(HttpClient, ErrorStatusesAndRedirectsRaiseTheStatusLine) {
  LoopbackHttpServer server([](const HttpRequest& request) {
    if (request.Target == "/moved") {
      HttpReply reply = TextReply("", 302, "Found");
      reply.Headers = {{"Location", "/elsewhere"}};
      return reply;
    }
    return TextReply("missing", 404, "Not Found");
  });
  HttpClient client;
  QByteArray body;
  struct Case {
    std::string path;
    QString message;
    int code;
  };
  for (const Case& c : {Case{"/none", "HTTP/1.1 404 Not Found", 404}, Case{"/moved", "HTTP/1.1 302 Found", 302}}) {
    try {
      client.Get(url(server, c.path), {}, body);
      FAIL() << "no error for " << c.path;
    } catch (const Exception& error) {
      EXPECT_EQ(error.Message(), c.message);
      EXPECT_EQ(client.ResponseCode(), c.code);
    }
  }
  EXPECT_EQ(server.Requests().size(), 2u);  // the redirect was not followed
}

TEST(HttpClient, TransportFailuresNameTheHostAndTheReason) {
  const int freePort = UnusedLoopbackPort();
  HttpClient client;
  try {
    client.Head(QString("http://127.0.0.1:%1/p").arg(freePort));
    FAIL();
  } catch (const Exception& error) {
    EXPECT_TRUE(error.Message().startsWith(QString("Request to 127.0.0.1:%1 failed: ").arg(freePort))) << error.what();
    EXPECT_TRUE(error.Message().contains("onnect")) << error.what();
  }
  EXPECT_THROW(client.Head(""), Exception);
}

TEST(HttpClient, TransferEventsReportTheBodyAsItArrives) {
  const std::string payload(300000, 'z');
  LoopbackHttpServer server([&](const HttpRequest&) { return TextReply(payload); });
  HttpClient client;
  std::vector<qint64> counts;
  qint64 announced = -1;
  int ends = 0;
  client.OnWorkBegin = [&](WorkMode, qint64 max) { announced = max; };
  client.OnWork = [&](WorkMode, qint64 count) { counts.push_back(count); };
  client.OnWorkEnd = [&](WorkMode) { ++ends; };
  QByteArray body;
  client.Get(url(server, "/p"), {}, body);
  EXPECT_EQ(announced, 300000);
  ASSERT_FALSE(counts.empty());
  EXPECT_EQ(counts.back(), 300000);
  EXPECT_TRUE(std::is_sorted(counts.begin(), counts.end()));
  EXPECT_EQ(ends, 1);
  EXPECT_EQ(body.size(), 300000);
}

TEST(HttpClient, ASilentServerStillGivesTheCallerRegularTurns) {
  LoopbackHttpServer server([](const HttpRequest&) { return StalledReply(1000, 10, 600); });
  HttpClient client;
  int waits = 0;
  client.OnWait = [&] { ++waits; };
  QByteArray body;
  client.Get(url(server, "/p"), {}, body);
  EXPECT_EQ(body.size(), 1000);
  EXPECT_GE(waits, 5);  // about one every 50 ms of the 600 ms of silence
}

TEST(HttpClient, AMinuteOfSilenceFailsTheRequest) {
  FakeClock clock;
  LoopbackHttpServer server([](const HttpRequest&) { return StalledReply(1000, 10, 20000); });
  HttpClient client;
  client.OnWait = [&] { clock.Advance(15000); };  // the caller's turns let time pass
  QByteArray body;
  QElapsedTimer realTime;
  realTime.start();
  const qint64 start = clock.NowMs();
  try {
    client.Get(url(server, "/p"), {}, body);
    FAIL() << "no time-out";
  } catch (const Exception& error) {
    EXPECT_EQ(error.Message(), QString("Request to 127.0.0.1:%1 failed: no data for 60 seconds.").arg(server.Port()));
  }
  EXPECT_GE(clock.NowMs() - start, 60000);
  EXPECT_LT(clock.NowMs() - start, 90000);
  EXPECT_LT(realTime.elapsed(), 5000);
  server.Stop();
}

TEST(HttpClient, AContentLengthThatIsNoNumberCountsAsNone) {
  RawReplyServer server("HTTP/1.1 200 OK\r\nContent-Length: abc\r\nConnection: close\r\n\r\n");
  HttpClient client;
  try {
    EXPECT_EQ(client.Head(QString("http://127.0.0.1:%1/p").arg(server.Port())), -1);
  } catch (const Exception& error) {
    EXPECT_TRUE(error.Message().startsWith("Request to 127.0.0.1:")) << error.what();  // refused on the way in
  }
}

TEST(HttpClient, DisconnectFromAnEventEndsTheRequestAndTheConnection) {
  LoopbackHttpServer server([](const HttpRequest&) { return StalledReply(100000, 1000, 5000); });
  HttpClient client;
  client.OnWork = [&](WorkMode, qint64) { client.Disconnect(); };
  QByteArray body;
  QElapsedTimer clock;
  clock.start();
  EXPECT_THROW(client.Get(url(server, "/p"), {}, body), Exception);
  EXPECT_LT(clock.elapsed(), 3000);
  client.OnWork = nullptr;
  server.Stop();  // the stalled reply ends; the client must not reuse the dropped connection
}

TEST(HttpClient, AReplyLargerThanTheLimitFailsInsteadOfGrowing) {
  LoopbackHttpServer server([](const HttpRequest&) { return TextReply(std::string(5000, 'a')); });
  HttpClient client;
  client.SetMaxBodySize(1000);
  QByteArray body;
  EXPECT_THROW(client.Get(url(server, "/p"), {}, body), Exception);
  EXPECT_LE(body.size(), 1000);
}

TEST(HttpClient, PostSendsTheFormAsHttp10WithItsPartHeaders) {
  LoopbackHttpServer server([](const HttpRequest&) { return TextReply("{}"); });
  HttpClient client;
  HttpForm form;
  form.AddFormField("action", "Ombrevia");
  form.AddFormField("Empty", "");
  EXPECT_EQ(client.Post(url(server, "/script.php"), form), "{}");
  const HttpRequest request = server.Requests().at(0);
  EXPECT_EQ(request.Method, "POST");
  EXPECT_EQ(request.Version, "HTTP/1.0");
  const std::string type = request.Header("Content-Type");
  ASSERT_EQ(type.rfind("multipart/form-data; boundary=", 0), 0u) << type;
  const std::string boundary = type.substr(type.find('=') + 1);
  const std::string expected = "--" + boundary +
                               "\r\nContent-Disposition: form-data; name=\"action\"\r\n"
                               "Content-Type: text/plain\r\nContent-Transfer-Encoding: quoted-printable\r\n\r\n"
                               "Ombrevia\r\n--" +
                               boundary +
                               "\r\nContent-Disposition: form-data; name=\"Empty\"\r\n"
                               "Content-Type: text/plain\r\nContent-Transfer-Encoding: quoted-printable\r\n\r\n"
                               "\r\n--" +
                               boundary + "--\r\n";
  EXPECT_EQ(request.Body, expected);
}

TEST(HttpForm, QuotedPrintableEncodesWhatItMust) {
  EXPECT_EQ(QuotedPrintable("Ombrevia"), "Ombrevia");
  EXPECT_EQ(QuotedPrintable("a=b"), "a=3Db");
  EXPECT_EQ(QuotedPrintable("trailing "), "trailing=20");
  EXPECT_EQ(QuotedPrintable(QString::fromUtf8("caff\xc3\xa8").toUtf8()), "caff=C3=A8");
  const QByteArray longLine = QuotedPrintable(QByteArray(100, 'x'));
  EXPECT_EQ(longLine, QByteArray(75, 'x') + "=\r\n" + QByteArray(25, 'x'));  // soft break within 76
}
