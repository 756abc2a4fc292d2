#include <gtest/gtest.h>

#include <httplib.h>

#include <QProcess>
#include <thread>

#include "platform/base/Exception.h"
#include "tests/support/TempFolder.h"
#include "tools/LoopbackHttpServer.h"
#include "web/IEHTTP3.h"
#include "web/_QnWebUtils.h"
#include "web/iiehttp3_funcs.h"

namespace {

const std::string kBoundary = "-----------------------------7cf87224d2020a";

std::string textPart(const std::string& name, const std::string& value) {
  return "--" + kBoundary + "\r\nContent-Disposition: form-data; name=\"" + name + "\"\r\n\r\n" + value + "\r\n";
}

std::string filePart(const std::string& name, const std::string& file, const std::string& value) {
  return "--" + kBoundary + "\r\nContent-Disposition: form-data; name=\"" + name + "\"; filename=\"" + file +
         "\"\r\nContent-Transfer-Encoding: binary\r\n\r\n" + value + "\r\n";
}

const std::string kEnd = "--" + kBoundary + "--\r\n";

struct Recorder {
  LoopbackHttpServer server{[](const HttpRequest&) {
    HttpReply reply;
    reply.Body = "ok";
    return reply;
  }};
  QString Url(const QString& path = "/up.php") const { return QString::fromStdString(server.BaseUrl()) + path; }
  HttpRequest Last() const { return server.Requests().back(); }
};

}  // namespace

TEST(Multipart, Base64AndSplitting) {
  EXPECT_EQ(Base64Encode(""), "");
  EXPECT_EQ(Base64Encode("M"), "TQ==");
  EXPECT_EQ(Base64Encode("Ma"), "TWE=");
  const QString b48 = BreakBase64Lines(Base64Encode(QByteArray(48, 'x')));
  EXPECT_EQ(b48.size(), 65);
  EXPECT_TRUE(b48.endsWith('\r'));
  const QString b45 = BreakBase64Lines(Base64Encode(QByteArray(45, 'x')));
  EXPECT_EQ(b45.size(), 60);
  EXPECT_FALSE(b45.contains('\r'));
  EXPECT_EQ(SplitRaw("", '&'), QList<QByteArray>{""});
  EXPECT_EQ(SplitRaw("a&", '&'), QList<QByteArray>{"a"});
  EXPECT_EQ(SplitRaw("a&&b", '&'), (QList<QByteArray>{"a", "", "b"}));
  EXPECT_EQ(EncodeUrlQuery("?a=%41&b=c d~"), "?a=%2541&b=c%20d~");
  // Characters beyond U+FFFF are escaped as their four UTF-8 bytes, not as two halves.
  EXPECT_EQ(EncodeUrlQuery(QStringLiteral("?q=Citt\u00e0 \U0001F600")), "?q=Citt%C3%A0%20%F0%9F%98%80");
}

TEST(Multipart, ExactBodyWithTextAndFileParts) {
  Recorder recorder;
  TempFolder temp;
  const QString file = temp.Write(QString::fromUtf8("d\xc3\xa0ta.bin"), QByteArray("\x00\x01raw", 5));
  TIEHTTP http;
  http.AddMultipartVar("early", "x");
  EXPECT_EQ(http.error_msg, "tiehttp not in multipart mode");
  EXPECT_TRUE(http.multipartVars.empty());
  http.SetMultipartPOST(true);
  EXPECT_EQ(http.RequestMethod(), "POST");
  http.AddMultipartVar("a", "1");
  http.AddMultipartVarA("bin", "bytes");
  http.AddMultipartVar(QString::fromUtf8("n\xc3\xa9"), QString::fromUtf8("caff\xc3\xa8"));
  http.AddMultipartVar("a", "2");  // replaced in place
  http.AddMultipartVarA("a", "same name, other list");
  http.AddMultipartFormFile("file", file);
  http.ExecuteURL(recorder.Url());
  const HttpRequest request = recorder.Last();
  EXPECT_EQ(request.Header("Content-Type"), "multipart/form-data; boundary=" + kBoundary);
  EXPECT_EQ(request.Body, textPart("a", "2") + textPart("n\xe9", "caff\xc3\xa8") + filePart("bin", "", "bytes") +
                              filePart("a", "", "same name, other list") +
                              filePart("file", "d\xc3\xa0ta.bin", std::string("\x00\x01raw", 5)) + kEnd);
  EXPECT_TRUE(http.multipartVars.empty());  // consumed
}

TEST(Multipart, FilesAsBase64Text) {
  TempFolder temp;
  const QByteArray bytes = PatternBytes(100);
  const QString file = temp.Write("f.bin", bytes);
  TIEHTTP http;
  const QByteArray expected = BreakBase64Lines(Base64Encode(bytes)).toLatin1();
  EXPECT_EQ(http.FileToB64String(file), expected);
  EXPECT_EQ(expected.count('\r'), 2);  // 136 characters: a break after the 64th and the 128th
  http.SetMultipartPOST(true);
  http.AddMultipartVar_B64("b64", bytes);
  http.AddMultipartFile("file", file);
  ASSERT_EQ(http.multipartVars.size(), 2u);
  EXPECT_EQ(http.multipartVars[0].v.toLatin1(), expected);
  EXPECT_EQ(http.multipartVars[1].v.toLatin1(), expected);
  EXPECT_THROW(http.AddMultipartFile("missing", temp.Path() + "none"), Exception);
  EXPECT_EQ(http.multipartVars.size(), 2u);
}

TEST(Multipart, BodyPairsAndErrors) {
  Recorder recorder;
  TIEHTTP http;
  http.SetMultipartPOST(true);
  http.SetpostStr("x=1&y=2");
  http.ExecuteURL(recorder.Url());
  EXPECT_EQ(recorder.Last().Body, filePart("x", "", "1") + filePart("y", "", "2") + kEnd);

  struct Case {
    QString postStr;
    QString message;
  };
  for (const Case& c : {Case{"x=1&y=", "tiehttp error: could not convert y= to multipart"},
                        Case{"a==b", "tiehttp error: could not convert a==b to multipart"},
                        Case{"", "tiehttp error: multipart error: no variables to post"}}) {
    SCOPED_TRACE(c.postStr.toStdString());
    const size_t before = recorder.server.Requests().size();
    http.SetpostStr(c.postStr);
    try {
      http.ExecuteURL(recorder.Url());
      FAIL();
    } catch (const Exception& error) {
      EXPECT_EQ(error.Message(), c.message);
    }
    EXPECT_EQ(recorder.server.Requests().size(), before);  // nothing sent
  }
  http.SetpostStr("=b");
  http.ExecuteURL(recorder.Url());
  EXPECT_EQ(recorder.Last().Body, filePart("", "", "b") + kEnd);
}

TEST(Multipart, ARealParserReceivesEveryFieldAndFile) {
  httplib::Server server;
  std::map<std::string, std::pair<std::string, std::string>> received;  // name -> (filename, content)
  server.Post("/up.php", [&](const httplib::Request& request, httplib::Response& response) {
    for (const auto& [name, part] : request.files) received[name] = {part.filename, part.content};
    response.set_content("stored", "text/plain");
  });
  const int port = server.bind_to_any_port("127.0.0.1");
  std::thread serving([&] { server.listen_after_bind(); });
  TempFolder temp;
  const QByteArray binary = PatternBytes(70000);
  const QString file = temp.Write("photo.jpg", binary);

  TQnHttpManager manager;
  manager.PhpScriptAddParam("user", "quarnell");
  manager.PhpScriptAddFile("asText", file);
  manager.MyIEHTTP->AddMultipartFormFile("raw", file);
  const QString url = QString("http://127.0.0.1:%1/up.php").arg(port);
  EXPECT_EQ(manager.PhpScriptExecute(url), "stored\r\n");
  server.stop();
  serving.join();

  EXPECT_EQ(received["user"].second, "quarnell");
  EXPECT_EQ(received["raw"], std::make_pair(std::string("photo.jpg"), binary.toStdString()));
  QString asText = QString::fromStdString(received["asText"].second);
  EXPECT_EQ(QByteArray::fromBase64(asText.remove('\r').toLatin1()), binary);
}

TEST(ScriptCallManager, BothTransports) {
  Recorder recorder;
  TempFolder temp;
  const QString file = temp.Write("f.txt", "file body");
  TQnHttpManager manager;

  // TIEHTTP: no field is a GET; a file before any field is not sent; a field makes a POST.
  EXPECT_EQ(manager.PhpScriptExecute(recorder.Url("/a.php")), "ok\r\n");
  EXPECT_EQ(recorder.Last().Method, "GET");
  manager.PhpScriptAddFile("f", file);
  manager.PhpScriptAddParam("k", "v");
  manager.PhpScriptExecute(recorder.Url("/b.php"));
  EXPECT_EQ(recorder.Last().Method, "POST");
  EXPECT_EQ(recorder.Last().Body, textPart("k", "v") + kEnd);
  manager.PhpScriptAddParam("k", "v");
  manager.PhpScriptAddFile("f", file);
  manager.PhpScriptExecute(recorder.Url("/c.php"));
  EXPECT_NE(recorder.Last().Body.find(BreakBase64Lines(Base64Encode("file body")).toStdString()), std::string::npos);
  EXPECT_EQ(manager.MyIEHTTP->RequestMethod(), "GET");

  // A failing call leaves multipart mode on; the next call has nothing to post.
  manager.PhpScriptAddParam("k", "v");
  EXPECT_THROW(manager.PhpScriptExecute("http://127.0.0.1:1/x"), Exception);
  try {
    manager.PhpScriptExecute(recorder.Url("/d.php"));
    FAIL();
  } catch (const Exception& error) {
    EXPECT_EQ(error.Message(), "tiehttp error: multipart error: no variables to post");
  }

  // The platform client: a multipart form with a file part; each call gets its own reply.
  manager.FlagIEHTTP = false;
  manager.PhpScriptAddParam("k", "v");
  manager.PhpScriptAddFile("f", file);
  EXPECT_EQ(manager.PhpScriptExecute(recorder.Url("/e.php")), "ok");
  const HttpRequest request = recorder.Last();
  EXPECT_EQ(request.Method, "POST");
  EXPECT_NE(request.Body.find("name=\"k\""), std::string::npos);
  EXPECT_NE(request.Body.find("filename=\"f.txt\""), std::string::npos);
  EXPECT_NE(request.Body.find("file body"), std::string::npos);
  EXPECT_EQ(manager.PhpScriptExecute(recorder.Url("/f.php")), "ok");
  EXPECT_EQ(recorder.Last().Body.find("file body"), std::string::npos);  // the fields were consumed
}

TEST(TIEHTTP, Port443UsesSecureTransportWithASelfSignedCertificate) {
  TempFolder temp;
  const QString cert = temp.Path() + "cert.pem", key = temp.Path() + "key.pem";
  QProcess openssl;
  openssl.start("openssl", {"req", "-x509", "-newkey", "rsa:2048", "-nodes", "-keyout", key, "-out", cert, "-days", "2",
                            "-subj", "/CN=some.other.name"});
  ASSERT_TRUE(openssl.waitForFinished(60000));
  ASSERT_EQ(openssl.exitCode(), 0);
  httplib::SSLServer server(cert.toUtf8().constData(), key.toUtf8().constData());
  server.Get("/s.php", [](const httplib::Request&, httplib::Response& response) {
    response.set_content("secure reply", "text/plain");
  });
  if (!server.bind_to_port("127.0.0.1", 443)) GTEST_SKIP() << "port 443 is not available to this user";
  std::thread serving([&] { server.listen_after_bind(); });
  TIEHTTP http;
  http.ExecuteURL("http://127.0.0.1:443/s.php");  // the port, not the scheme, chooses TLS
  server.stop();
  serving.join();
  EXPECT_EQ(http.result_sl, QStringList{"secure reply"});

  // The secure scheme on another port is sent in the clear.
  LoopbackHttpServer plain([](const HttpRequest&) {
    HttpReply reply;
    reply.Body = "plain";
    return reply;
  });
  http.ExecuteURL(QString("https://127.0.0.1:%1/p").arg(plain.Port()));
  EXPECT_EQ(http.result_sl, QStringList{"plain"});
}
