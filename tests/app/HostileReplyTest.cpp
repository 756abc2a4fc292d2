// A download service and package server that lie: names that climb out of the folder,
// schemes other than http(s), and range replies that do not match what was asked. Nothing
// may be written outside the folder, nothing opened or started, and the message must say
// what was wrong.
#include <unistd.h>
#include <QDir>
#include <QDirIterator>
#include <QElapsedTimer>
#include <QFileInfo>
#include <cstring>
#include <mutex>
#include <nlohmann/json.hpp>

#include "settings/QnSharedFolders.h"
#include "tests/app/MainFormFixture.h"
#include "tests/support/Replies.h"
#include "tools/DemoDownloadService.h"

namespace {

// A package that the shell would start if the completion ran: its name has no extension.
QByteArray ScriptPackage(qint64 size) {
  QByteArray bytes = "#!/bin/sh\n" + PatternBytes(size);
  bytes.truncate(static_cast<qsizetype>(size));
  return bytes;
}

std::string JsonString(const std::string& text) { return nlohmann::json(text).dump(); }

class HostileFixture : public MainFormFixture {
 protected:
  // Serves `content` at /packages/pkg with HEAD and honest ranges, unless `lie` rewrites
  // the reply to GET number `get` (1-based).
  void Serve(const std::string& reply, QByteArray content,
             std::function<void(int get, const HttpRequest&, HttpReply&)> lie = {}) {
    boxes.Boxes.clear();
    shell.Opened.clear();
    gets = 0;
    StartService(reply, [this, content, lie](const HttpRequest& request) {
      HttpReply answer;
      if (request.Method == "HEAD") {
        answer.Body = std::string(static_cast<std::size_t>(content.size()), '\0');
        return answer;
      }
      std::uint64_t first = 0, last = 0;
      if (ParseByteRange(request.Header("Range"), content.size(), first, last))
        answer = PartialReply(content, first, last);
      else
        answer.Body = content.toStdString();
      int number;
      {
        std::lock_guard lock(mutex);
        number = ++gets;
      }
      if (lie) lie(number, request, answer);
      return answer;
    });
    MakeForm();
    ShowAndRunStart();
  }

  QString Folder() const { return root.Path() + "Quarnell/Download/"; }

  // Every file under the system root, but the settings the start-up may make.
  QStringList FilesUnderRoot() const {
    QStringList files;
    QDirIterator walk(root.Path(), QDir::Files | QDir::Hidden | QDir::System, QDirIterator::Subdirectories);
    while (walk.hasNext()) files << walk.next();
    files.sort();
    return files;
  }

  // The window is still there to be used or closed, and nothing went to the shell.
  void ExpectNothingHandedOn() {
    EXPECT_TRUE(shell.Opened.isEmpty()) << shell.Opened.join(",").toStdString();
    EXPECT_FALSE(form->isHidden());
    application->ProcessMessages();
    EXPECT_FALSE(application->Terminated());
  }

  std::mutex mutex;
  int gets = 0;
};

}  // namespace

TEST_F(HostileFixture, ANameThatIsNotABareFileNameIsRefusedBeforeAnythingIsFetched) {
  struct Case {
    std::string name;  // as the reply carries it
    QString shown;     // as the message shows it
    QString reason;
  };
  const Case cases[] = {
      {"../../victim.txt", "../../victim.txt", "the name holds a folder separator"},
      {"..\\..\\victim.txt", "..\\..\\victim.txt", "the name holds a folder separator"},
      {"/tmp/elsewhere", "/tmp/elsewhere", "the name holds a folder separator"},
      {"sub/pkg", "sub/pkg", "the name holds a folder separator"},
      {".", ".", "the name is a folder reference"},
      {"..", "..", "the name is a folder reference"},
      {"", "", "the name is empty"},
      {std::string("pkg\0.txt", 8), "pkg\\x00.txt", "the name holds a control character"},
      {"pkg\n.txt", "pkg\\x0a.txt", "the name holds a control character"},
      {"setup\xe2\x80\xae"
       "fdp.sh",
       "setup" + QString(QChar(0x202E)) + "fdp.sh", "the name holds a character that reorders the text shown"},
      {"pkg\xe2\x81\xa6"
       ".zip",
       "pkg" + QString(QChar(0x2066)) + ".zip", "the name holds a character that reorders the text shown"},
      {std::string(256, 'a'), QString(256, 'a'), "the name is longer than 255 bytes"},
      {std::string(128, 'a') + "\xc3\xa9" + std::string(126, 'a'), QString(128, 'a') + QChar(0xE9) + QString(126, 'a'),
       "the name is longer than 255 bytes"},
  };
  const QByteArray victim = "the user's own file\n";
  for (const char* operation : {"salva", "installa"}) {
    for (const Case& c : cases) {
      SCOPED_TRACE(std::string(operation) + " " + c.shown.toStdString());
      root.Write("victim.txt", victim);
      const QStringList before = FilesUnderRoot();
      Serve(R"({"DownloadUrl":"{base}/packages/pkg","DownloadFileName":)" + JsonString(c.name) +
                R"(,"TipoOperazione":")" + operation + "\"}",
            ScriptPackage(50000));
      EXPECT_EQ(boxes.Texts(), QStringList{"The file name \"" + c.shown + "\" was refused: " + c.reason + "."});
      EXPECT_EQ(gets, 0);
      for (const HttpRequest& request : service->Requests()) EXPECT_NE(request.Method, "HEAD");
      EXPECT_EQ(ReadFile(root.Path() + "victim.txt"), victim);
      EXPECT_EQ(FilesUnderRoot(), before);
      ExpectNothingHandedOn();
    }
  }
}

TEST_F(HostileFixture, ALongestBareNameIsAccepted) {
  const std::string name = std::string(127, 'a') + "\xc3\xa9" + std::string(126, 'a');  // 255 bytes
  Serve(R"({"DownloadUrl":"{base}/packages/pkg","DownloadFileName":)" + JsonString(name) + "}", ScriptPackage(1000));
  form->ButtonSalva->click();
  EXPECT_TRUE(boxes.Boxes.empty()) << boxes.Texts().join("|").toStdString();
  EXPECT_EQ(ReadFile(Folder() + QString::fromStdString(name)), ScriptPackage(1000));
}

TEST_F(HostileFixture, OnlyHttpAndHttpsAreFetched) {
  // Any byte a refused protocol sent would reach this listener.
  LoopbackHttpServer bystander([](const HttpRequest&) { return HttpReply(); });
  const std::string local = "127.0.0.1:" + std::to_string(bystander.Port());
  for (const std::string& url :
       std::vector<std::string>{"file:///etc/passwd", "dict://" + local + "/d:passwd", "gopher://" + local + "/x",
                                "ftp://" + local + "/passwd", "scp://" + local + "/etc/passwd"}) {
    SCOPED_TRACE(url);
    Serve(R"({"DownloadUrl":)" + JsonString(url) + R"(,"DownloadFileName":"passwd","TipoOperazione":"installa"})",
          ScriptPackage(100));
    EXPECT_EQ(boxes.Texts(), QStringList{"File passwd non trovato!!!"});
    EXPECT_EQ(bystander.ConnectionCount(), 0);
    EXPECT_FALSE(QFileInfo::exists(Folder() + "passwd"));
    ExpectNothingHandedOn();
  }

  // The service's own URL: the query fails like an unreachable one.
  boxes.Boxes.clear();
  MakeForm(QStringLiteral("file:///etc/passwd"));
  ShowAndRunStart();
  ASSERT_EQ(boxes.Boxes.size(), 1u);
  EXPECT_EQ(boxes.Boxes[0].Kind, MessageKind::Error);
  EXPECT_TRUE(boxes.Boxes[0].Text.contains("Protocol \"file\" not supported")) << boxes.Boxes[0].Text.toStdString();
  EXPECT_TRUE(form->DownloadUrl().isEmpty());
}

TEST_F(HostileFixture, RangeRepliesMustBeWhatWasAsked) {
  constexpr qint64 kLength = 100000;
  // One range at a time, so that the lie always meets the same ranges before it: every
  // reply is checked by the same code whatever the number in flight.
  CommonSettings = std::make_unique<TQngIniFile>(root.Path() + "qngcommon.ini");
  CommonSettings->ScriviValore(kCommonSection, "DownloadConnections", "1");
  struct ResetSettings {
    ~ResetSettings() { CommonSettings.reset(); }
  } resetSettings;
  struct Case {
    const char* name;
    std::function<void(int get, const HttpRequest&, HttpReply&)> lie;
    qint64 bytesKept;  // the good ranges before the lie
    QString message;   // after "Download of pkg failed at "
  };
  const Case cases[] = {
      {"oversized 206",
       [](int get, const HttpRequest&, HttpReply& r) {
         if (get == 2) r.Body += std::string(40000, 'x');
       },
       32768, "bytes=32768-65535: The reply is larger than 32768 bytes."},
      {"1,000,000 bytes with 200 for a HEAD of 100,000",
       [](int get, const HttpRequest&, HttpReply& r) {
         if (get != 1) return;
         r = HttpReply();
         r.Body = std::string(1000000, 'x');
       },
       -1, "bytes=0-32767: The reply is larger than 100000 bytes."},
      {"undersized 200",
       [](int get, const HttpRequest&, HttpReply& r) {
         if (get != 1) return;
         r = HttpReply();
         r.Body = std::string(50000, 'x');
       },
       -1, "bytes=0-32767: the whole-file reply holds 50000 bytes instead of 100000."},
      {"wrong Content-Range",
       [](int get, const HttpRequest&, HttpReply& r) {
         if (get == 3) r.Headers = {{"Content-Range", "bytes 0-32767/100000"}};
       },
       65536,
       "bytes=65536-98303: the reply's Content-Range is \"bytes 0-32767/100000\" instead of "
       "\"bytes 65536-98303/100000\"."},
      {"no Content-Range",
       [](int get, const HttpRequest&, HttpReply& r) {
         if (get == 2) r.Headers.clear();
       },
       32768, "bytes=32768-65535: the reply's Content-Range is \"\" instead of \"bytes 32768-65535/100000\"."},
      {"undersized 206",
       [](int get, const HttpRequest&, HttpReply& r) {
         if (get == 2) r.Body.resize(1000);
       },
       32768, "bytes=32768-65535: the reply holds 1000 bytes instead of 32768."},
      {"the same range repeated",
       [](int, const HttpRequest&, HttpReply& r) {
         r.Headers = {{"Content-Range", "bytes 0-32767/100000"}};
         r.Body = ScriptPackage(kLength).left(32768).toStdString();
       },
       32768,
       "bytes=32768-65535: the reply's Content-Range is \"bytes 0-32767/100000\" instead of "
       "\"bytes 32768-65535/100000\"."},
      {"a length other than the HEAD's",
       [](int get, const HttpRequest&, HttpReply& r) {
         if (get != 4) return;
         r.Headers = {{"Content-Range", "bytes 98304-99999/100001"}};
       },
       98304,
       "bytes=98304-100000: the reply's Content-Range is \"bytes 98304-99999/100001\" instead of "
       "\"bytes 98304-99999/100000\"."},
      {"no content",
       [](int get, const HttpRequest&, HttpReply& r) {
         if (get != 1) return;
         r = HttpReply();
         r.Status = 204;
         r.Reason = "No Content";
       },
       -1, "bytes=0-32767: the reply has status 204 instead of 206."},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    QFile::remove(Folder() + "pkg");
    Serve(R"({"DownloadUrl":"{base}/packages/pkg","DownloadFileName":"pkg"})", ScriptPackage(kLength), c.lie);
    form->ButtonSalvaEInstalla->click();
    ASSERT_EQ(boxes.Boxes.size(), 1u);
    EXPECT_TRUE(boxes.Boxes[0].Text.startsWith("Download of pkg failed at " + c.message))
        << boxes.Boxes[0].Text.toStdString();
    if (c.bytesKept < 0)
      EXPECT_FALSE(QFileInfo::exists(Folder() + "pkg"));
    else
      EXPECT_EQ(ReadFile(Folder() + "pkg"), ScriptPackage(kLength).left(c.bytesKept));
    EXPECT_FALSE(QFileInfo(Folder() + "pkg").isExecutable());
    ExpectNothingHandedOn();
  }
}

TEST_F(HostileFixture, AnEndlessRangeIsCutAtWhatWasAsked) {
  for (int endlessGet : {1, 2}) {
    SCOPED_TRACE(endlessGet);
    QFile::remove(Folder() + "pkg");
    Serve(R"({"DownloadUrl":"{base}/packages/pkg","DownloadFileName":"pkg"})", ScriptPackage(100000),
          // By the range asked, not the order of arrival: several ranges are in flight.
          [endlessGet](int, const HttpRequest& request, HttpReply& r) {
            const std::string endlessRange = "bytes=" + std::to_string((endlessGet - 1) * 32768) + '-';
            if (request.Header("Range").rfind(endlessRange, 0) != 0) return;
            r.Body.clear();
            r.Source = BodySource{std::uint64_t{1} << 40, [](std::uint64_t, char* out, std::size_t max) {
                                    std::memset(out, 'x', max);
                                    return max;
                                  }};
          });
    QElapsedTimer clock;
    clock.start();
    form->ButtonSalvaEInstalla->click();
    EXPECT_LT(clock.elapsed(), 10000);
    ASSERT_EQ(boxes.Boxes.size(), 1u);
    const QString text = boxes.Boxes[0].Text;
    EXPECT_TRUE(text.endsWith("The reply is larger than 32768 bytes.")) << text.toStdString();
    EXPECT_EQ(ReadFile(Folder() + "pkg"), ScriptPackage(100000).left((endlessGet - 1) * 32768));
    ExpectNothingHandedOn();
    service->Stop();
  }
}

TEST_F(HostileFixture, WhatHadThePackagesNameIsReplacedNeverWrittenThrough) {
  // In the shared download folder anyone may leave a link or a file of their own at the
  // package's name; the download must go to a new file of ours.
  const QByteArray victim = "the user's own file\n";
  for (const char* kind : {"symbolic link", "hard link", "dangling link"}) {
    SCOPED_TRACE(kind);
    root.Write("victim.txt", victim);
    Serve(R"({"DownloadUrl":"{base}/packages/pkg","DownloadFileName":"pkg"})", ScriptPackage(50000));
    const QString target = Folder() + "pkg";
    QFile::remove(target);
    const QString victimPath = root.Path() + "victim.txt";
    if (std::strcmp(kind, "symbolic link") == 0) {
      ASSERT_TRUE(QFile::link(victimPath, target));
    } else if (std::strcmp(kind, "hard link") == 0) {
      ASSERT_EQ(::link(QFile::encodeName(victimPath).constData(), QFile::encodeName(target).constData()), 0);
    } else {
      ASSERT_TRUE(QFile::link(root.Path() + "made-elsewhere", target));
    }
    form->ButtonSalva->click();
    EXPECT_TRUE(boxes.Boxes.empty()) << boxes.Texts().join("|").toStdString();
    EXPECT_EQ(ReadFile(victimPath), victim);
    EXPECT_FALSE(QFileInfo::exists(root.Path() + "made-elsewhere"));
    EXPECT_FALSE(QFileInfo(target).isSymLink());
    EXPECT_EQ(ReadFile(target), ScriptPackage(50000));
    service->Stop();
  }
}

TEST_F(HostileFixture, AHugeAnnouncedLengthLetsNoWholeFileReplyIntoMemory) {
  // The HEAD announces 300 MiB; the GET ignores Range and sends 200 without end.
  const auto endless = [](std::uint64_t, char* out, std::size_t max) {
    std::memset(out, 'x', max);
    return max;
  };
  StartService(R"({"DownloadUrl":"{base}/packages/pkg","DownloadFileName":"pkg"})",
               [endless](const HttpRequest& request) {
                 HttpReply answer;
                 answer.Source = BodySource{std::uint64_t{300} << 20, endless};
                 if (request.Method == "HEAD") answer.SendBody = false;
                 return answer;
               });
  MakeForm();
  ShowAndRunStart();
  QElapsedTimer clock;
  clock.start();
  form->ButtonSalva->click();
  EXPECT_LT(clock.elapsed(), 10000);
  ASSERT_EQ(boxes.Boxes.size(), 1u);
  EXPECT_EQ(boxes.Boxes[0].Text.toStdString(),
            "Download of pkg failed at bytes=0-32767: The reply is larger than 32768 bytes.");
  EXPECT_FALSE(QFileInfo::exists(Folder() + "pkg"));
  ExpectNothingHandedOn();
  service->Stop();
}

TEST_F(HostileFixture, ALengthBeyondTheFreeSpaceIsRefusedBeforeAnyRange) {
  // A petabyte announced and served in honest ranges would fill the disk before failing.
  StartService(R"({"DownloadUrl":"{base}/packages/pkg","DownloadFileName":"pkg"})", [](const HttpRequest&) {
    HttpReply answer;
    answer.Source = BodySource{std::uint64_t{1} << 50, [](std::uint64_t, char* out, std::size_t max) {
                                 std::memset(out, 'x', max);
                                 return max;
                               }};
    answer.SendBody = false;
    return answer;
  });
  MakeForm();
  ShowAndRunStart();
  form->ButtonSalvaEInstalla->click();
  ASSERT_EQ(boxes.Boxes.size(), 1u);
  const std::string text = boxes.Boxes[0].Text.toStdString();
  EXPECT_EQ(text.rfind("Download of pkg failed: it needs 1125899906842624 bytes, but only ", 0), 0u) << text;
  for (const HttpRequest& request : service->Requests()) EXPECT_NE(request.Method, "GET");
  EXPECT_FALSE(QFileInfo::exists(Folder() + "pkg"));
  ExpectNothingHandedOn();
}
