#include <gtest/gtest.h>

#include <QElapsedTimer>
#include <thread>

#include "platform/net/WinInet.h"
#include "tests/support/Fakes.h"
#include "tests/support/RawReplyServer.h"
#include "tests/support/Replies.h"
#include "tests/support/TempFolder.h"
#include "tools/LoopbackHttpServer.h"

using namespace wininet;

namespace {

// The three handles of one request, closed in reverse order.
struct OpenRequest {
  HINTERNET Session = 0, Connection = 0, Request = 0;

  OpenRequest(const QString& host, quint16 port, const QString& verb, const QString& target,
              const QString& agent = "probe", const QString& version = "HTTP/1.1") {
    Session = InternetOpenW(agent, INTERNET_OPEN_TYPE_PRECONFIG, {}, {}, 0);
    Connection = InternetConnectW(Session, host, port, {}, {}, INTERNET_SERVICE_HTTP, 0, 0);
    Request = HttpOpenRequestW(Connection, verb, target, version, {}, {}, INTERNET_FLAG_RELOAD, 0);
  }
  ~OpenRequest() {
    for (HINTERNET handle : {Request, Connection, Session})
      if (handle) InternetCloseHandle(handle);
  }
  // The whole body, read `piece` bytes at a time; false when a read fails.
  bool ReadAll(QByteArray& body, quint32 piece = 32768) const {
    QByteArray buffer(piece, Qt::Uninitialized);
    for (;;) {
      quint32 read = 0;
      if (!InternetReadFile(Request, buffer.data(), piece, read)) return false;
      if (read == 0) return true;
      body.append(buffer.constData(), read);
    }
  }
};

HttpReply reply(std::string body, std::vector<std::pair<std::string, std::string>> headers = {}) {
  HttpReply answer;
  answer.Body = std::move(body);
  answer.Headers = std::move(headers);
  return answer;
}

}  // namespace

TEST(WinInet, ARequestFromOpenToTheLastByte) {
  const QByteArray payload = PatternBytes(1 << 20);  // several times what the layer holds before pausing
  LoopbackHttpServer server([&](const HttpRequest&) {
    return reply(payload.toStdString(), {{"Set-Cookie", "a=1; Path=/"}, {"Set-Cookie", "b=2"}, {"X-Note", "kept"}});
  });
  OpenRequest open("127.0.0.1", server.Port(), "POST", "/form.php?x=1", "agent/1.0");
  ASSERT_NE(open.Request, 0u);
  ASSERT_TRUE(HttpSendRequestW(open.Request, "Content-Type: text/plain\r\nX-Extra: 7", "body=1"));

  quint32 length = 0;
  ASSERT_TRUE(HttpQueryInfoNumber(open.Request, HTTP_QUERY_CONTENT_LENGTH | HTTP_QUERY_FLAG_NUMBER, length));
  EXPECT_EQ(length, quint32(payload.size()));
  QStringList cookies;
  QString value;
  quint32 index = 0;
  while (HttpQueryInfoText(open.Request, HTTP_QUERY_SET_COOKIE, value, index, 10000)) cookies << value;
  EXPECT_EQ(GetLastError(), ERROR_HTTP_HEADER_NOT_FOUND);
  EXPECT_EQ(cookies, (QStringList{"a=1; Path=/", "b=2"}));
  QString raw;
  quint32 rawIndex = 0;
  ASSERT_TRUE(HttpQueryInfoText(open.Request, HTTP_QUERY_RAW_HEADERS_CRLF, raw, rawIndex, 10000));
  EXPECT_TRUE(raw.startsWith("HTTP/1.1 200 OK\r\n")) << raw.toStdString();
  EXPECT_TRUE(raw.contains("\r\nX-Note: kept\r\n"));
  EXPECT_TRUE(raw.endsWith("\r\n\r\n"));
  rawIndex = 0;
  EXPECT_FALSE(HttpQueryInfoText(open.Request, HTTP_QUERY_RAW_HEADERS_CRLF, raw, rawIndex, 20));
  EXPECT_EQ(GetLastError(), ERROR_INSUFFICIENT_BUFFER);

  QByteArray body;
  ASSERT_TRUE(open.ReadAll(body, 1000));
  EXPECT_EQ(body, payload);

  const HttpRequest request = server.Requests().at(0);
  EXPECT_EQ(request.Target, "/form.php?x=1");
  EXPECT_EQ(request.Body, "body=1");
  EXPECT_EQ(request.Header("User-Agent"), "agent/1.0");
  EXPECT_EQ(request.Header("X-Extra"), "7");
  EXPECT_EQ(request.Header("Content-Type"), "text/plain");
  EXPECT_EQ(request.Header("Expect"), "");
}

TEST(WinInet, ContentLengthThatIsNoNumberIsNotFound) {
  for (const char* value : {"abc", "-5", "12abc"}) {
    RawReplyServer server(std::string("HTTP/1.0 200 OK\r\nContent-Length: ") + value + "\r\n\r\nhello");
    OpenRequest open("127.0.0.1", quint16(server.Port()), "GET", "/");
    const bool sent = HttpSendRequestW(open.Request, {}, {});
    if (!sent) {
      EXPECT_EQ(GetLastError(), ERROR_HTTP_INVALID_SERVER_RESPONSE) << value;  // refused on the way in
      continue;
    }
    quint32 length = 99;
    EXPECT_FALSE(HttpQueryInfoNumber(open.Request, HTTP_QUERY_CONTENT_LENGTH | HTTP_QUERY_FLAG_NUMBER, length))
        << value;
    EXPECT_EQ(GetLastError(), ERROR_HTTP_HEADER_NOT_FOUND);
    EXPECT_EQ(length, 99u);
  }
}

TEST(WinInet, FailuresCarryTheirErrorNumbers) {
  EXPECT_FALSE(HttpSendRequestW(0x7777, {}, {}));
  EXPECT_EQ(GetLastError(), ERROR_INVALID_HANDLE);
  EXPECT_EQ(InternetConnectW(0x7777, "h", 80, {}, {}, INTERNET_SERVICE_HTTP, 0, 0), 0u);
  EXPECT_EQ(GetLastError(), ERROR_INVALID_HANDLE);
  EXPECT_FALSE(InternetCloseHandle(0x7777));

  // Text that would add lines to the request is refused before anything is sent.
  EXPECT_EQ(InternetOpenW("agent\r\nX-Evil: 1", INTERNET_OPEN_TYPE_PRECONFIG, {}, {}, 0), 0u);
  EXPECT_EQ(GetLastError(), ERROR_INVALID_PARAMETER);
  {
    LoopbackHttpServer server([](const HttpRequest&) { return reply("never"); });
    OpenRequest open("127.0.0.1", server.Port(), "GET", "/");
    for (const QString& headers :
         {QString("X-A: 1\rX-Evil: 2"), QString("X-A: 1\nX-Evil: 2"), QString("X-A: 1") + QChar(0)}) {
      EXPECT_FALSE(HttpSendRequestW(open.Request, headers, {}));
      EXPECT_EQ(GetLastError(), ERROR_HTTP_INVALID_HEADER);
    }
    EXPECT_TRUE(server.Requests().empty());
  }

  struct Case {
    QString host;
    quint16 port;
    quint32 error;
  };
  for (const Case& c : {Case{"127.0.0.1", quint16(UnusedLoopbackPort()), ERROR_INTERNET_CANNOT_CONNECT},
                        Case{"name.invalid", 80, ERROR_INTERNET_NAME_NOT_RESOLVED}}) {
    OpenRequest open(c.host, c.port, "GET", "/");
    EXPECT_FALSE(HttpSendRequestW(open.Request, {}, {}));
    EXPECT_EQ(GetLastError(), c.error) << c.host.toStdString();
  }
}

TEST(WinInet, ClosingTheSessionEndsABlockedRead) {
  LoopbackHttpServer server([](const HttpRequest&) { return StalledReply(1000, 10, 10000); });
  OpenRequest open("127.0.0.1", server.Port(), "GET", "/");
  ASSERT_TRUE(HttpSendRequestW(open.Request, {}, {}));
  char buffer[100];
  quint32 read = 0;
  ASSERT_TRUE(InternetReadFile(open.Request, buffer, sizeof buffer, read));
  EXPECT_EQ(read, 10u);
  std::thread closer([&] {
    std::this_thread::sleep_for(std::chrono::milliseconds(100));
    InternetCloseHandle(open.Session);
    open.Session = 0;
  });
  QElapsedTimer clock;
  clock.start();
  EXPECT_FALSE(InternetReadFile(open.Request, buffer, sizeof buffer, read));
  EXPECT_EQ(GetLastError(), ERROR_INTERNET_OPERATION_CANCELLED);
  EXPECT_LT(clock.elapsed(), 2000);
  closer.join();
  server.Stop();
}

TEST(WinInet, TheReceiveTimeOutCountsSilenceOnTheClock) {
  FakeClock clock;
  clock.RealWaitMs = 2;
  LoopbackHttpServer server([](const HttpRequest&) { return StalledReply(1000, 10, 10000); });
  quint32 previous = 0;
  ASSERT_TRUE(InternetQueryOptionDword(0, INTERNET_OPTION_RECEIVE_TIMEOUT, previous));
  ASSERT_TRUE(InternetSetOptionDword(0, INTERNET_OPTION_RECEIVE_TIMEOUT, 2000));
  OpenRequest open("127.0.0.1", server.Port(), "GET", "/");
  ASSERT_TRUE(HttpSendRequestW(open.Request, {}, {}));
  QByteArray body;
  QElapsedTimer realTime;
  realTime.start();
  const qint64 start = clock.NowMs();
  EXPECT_FALSE(open.ReadAll(body));
  EXPECT_EQ(GetLastError(), ERROR_INTERNET_TIMEOUT);
  EXPECT_EQ(body, QByteArray(10, 'a'));
  EXPECT_GE(clock.NowMs() - start, 2000);
  EXPECT_LT(realTime.elapsed(), 2000);
  InternetSetOptionDword(0, INTERNET_OPTION_RECEIVE_TIMEOUT, previous);
  server.Stop();
}

TEST(WinInet, ConnectedStateFollowsTheNetwork) {
  FakeNetworkState network;
  quint32 state = 0;
  for (const bool up : {true, false}) {
    network.IsConnected = up;
    ASSERT_TRUE(InternetQueryOptionDword(0, INTERNET_OPTION_CONNECTED_STATE, state));
    EXPECT_EQ(state, up ? INTERNET_STATE_CONNECTED : INTERNET_STATE_DISCONNECTED);
  }
}

TEST(WinInet, CrackUrl) {
  struct Case {
    QString url;
    quint32 flags;
    QString scheme, host;
    quint16 port;
    QString path, extra;
  };
  const Case cases[] = {
      {"http://example.test/a/b.php?x=1", 0, "http", "example.test", 80, "/a/b.php", "?x=1"},
      {"HTTPS://user:pw@example.test:8443/p", 0, "https", "example.test", 8443, "/p", ""},
      {"https://example.test", 0, "https", "example.test", 443, "", ""},
      {"http://h/caf%C3%A9?q=a%20b", ICU_ESCAPE, "http", "h", 80, QString::fromUtf8("/caf\xc3\xa9"), "?q=a b"},
      {"http://h/caf%C3%A9?q=a%20b", 0, "http", "h", 80, "/caf%C3%A9", "?q=a%20b"},
      {"http://h?only", 0, "http", "h", 80, "", "?only"},
  };
  for (const Case& c : cases) {
    UrlComponents parts;
    ASSERT_TRUE(InternetCrackUrlW(c.url, c.flags, parts)) << c.url.toStdString();
    EXPECT_EQ(parts.Scheme, c.scheme);
    EXPECT_EQ(parts.HostName, c.host);
    EXPECT_EQ(parts.Port, c.port);
    EXPECT_EQ(parts.UrlPath, c.path);
    EXPECT_EQ(parts.ExtraInfo, c.extra);
  }
  struct Refused {
    QString url;
    quint32 error;
  };
  for (const Refused& c :
       {Refused{"ftp://h/x", ERROR_INTERNET_UNRECOGNIZED_SCHEME},
        Refused{"no scheme", ERROR_INTERNET_UNRECOGNIZED_SCHEME},
        Refused{"http://h:99999/x", ERROR_INTERNET_INVALID_URL}, Refused{"http:///x", ERROR_INTERNET_INVALID_URL}}) {
    UrlComponents parts;
    EXPECT_FALSE(InternetCrackUrlW(c.url, 0, parts)) << c.url.toStdString();
    EXPECT_EQ(GetLastError(), c.error) << c.url.toStdString();
  }
}
