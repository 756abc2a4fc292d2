#include <QElapsedTimer>
#include <QFileInfo>
#include <QGuiApplication>
#include <QTimer>
#include <mutex>

#include "app/DownloadLock.h"
#include "app/GradientProgressBar.h"
#include "settings/QnSharedFolders.h"
#include "tests/app/MainFormFixture.h"
#include "tests/support/Replies.h"
#include "tools/DemoDownloadService.h"

namespace {

const char* const kQueryReply = R"({"DownloadUrl":"{base}/packages/pkg.bin","DownloadFileName":"pkg.bin"})";

// A package server with scripted faults. It notes, when each GET arrives, how many bytes
// the target file held at that moment.
struct PackageServer {
  QByteArray Content;
  QString TargetPath;
  int HeadStatus = 200;
  bool HeadWithoutLength = false;
  int IgnoreRangeFrom = 0;  // from this GET on (1-based) the whole package is sent with 200
  std::function<void(int get, HttpReply& reply)> Tweak;

  std::mutex Mutex;
  int Gets = 0;
  std::vector<qint64> FileSizeAtGet;  // -1: no file yet

  void Reset() {
    std::lock_guard lock(Mutex);
    HeadStatus = 200;
    HeadWithoutLength = false;
    IgnoreRangeFrom = 0;
    Tweak = nullptr;
    Gets = 0;
    FileSizeAtGet.clear();
  }

  HttpReply Answer(const HttpRequest& request) {
    if (request.Method == "HEAD") {
      HttpReply reply = withCookie(TextReply(std::string(static_cast<std::size_t>(Content.size()), '\0'), HeadStatus,
                                             HeadStatus == 200 ? "OK" : "Not Found"));
      reply.OmitContentLength = HeadWithoutLength;
      if (HeadWithoutLength) reply.Close = true;
      return reply;
    }
    int get;
    {
      std::lock_guard lock(Mutex);
      get = ++Gets;
      const QFileInfo target(TargetPath);
      FileSizeAtGet.push_back(target.exists() ? target.size() : -1);
    }
    std::uint64_t first = 0, last = 0;
    const bool ranged = !(IgnoreRangeFrom && get >= IgnoreRangeFrom) &&
                        ParseByteRange(request.Header("Range"), Content.size(), first, last);
    HttpReply reply = withCookie(ranged ? PartialReply(Content, first, last) : TextReply(Content.toStdString()));
    if (Tweak) Tweak(get, reply);
    return reply;
  }

  static HttpReply withCookie(HttpReply reply) {
    reply.Headers.emplace_back("Set-Cookie", "pkgsession=42; Path=/");
    return reply;
  }
};

class DownloadFixture : public MainFormFixture {
 protected:
  void TearDown() override {
    MainFormFixture::TearDown();
    CommonSettings.reset();
  }

  // Starts the service with `package`, makes the window and applies the query's reply. One
  // connection by default: the road where each range waits for the one before.
  void Prepare(qint64 size, int connections = 1) {
    CommonSettings = std::make_unique<TQngIniFile>(root.Path() + "qngcommon.ini");
    CommonSettings->ScriviValore(kCommonSection, "DownloadConnections", QString::number(connections));
    package.Reset();
    labelsAtWork.clear();
    positions.clear();
    onWork = nullptr;
    package.Content = PatternBytes(size);
    package.TargetPath = root.Path() + "Quarnell/Download/pkg.bin";
    QFile::remove(package.TargetPath);
    StartService(kQueryReply, [this](const HttpRequest& request) { return package.Answer(request); });
    MakeForm();
    ShowAndRunStart();
    ASSERT_EQ(form->DownloadFileName(), "pkg.bin");
    // Record what the window shows as the ranges arrive, after its own handler.
    auto work = form->IdHTTP1->OnWork;
    form->IdHTTP1->OnWork = [this, work](WorkMode mode, qint64 count) {
      work(mode, count);
      positions.push_back(form->cxProgressBar1->Position());
      labelsAtWork << form->LabelAvanzamento->text();
      if (onWork) onWork();
    };
  }

  std::vector<std::string> RangesAsked() const {
    std::vector<std::string> ranges;
    for (const HttpRequest& request : service->Requests())
      if (request.Method == "GET") ranges.push_back(request.Header("Range"));
    return ranges;
  }

  QByteArray Target() const { return ReadFile(package.TargetPath); }

  PackageServer package;
  int GetsSoFar() {
    std::lock_guard lock(package.Mutex);
    return package.Gets;
  }

  QStringList labelsAtWork;
  std::vector<double> positions;
  std::function<void()> onWork;
};

}  // namespace

TEST_F(DownloadFixture, FetchesConsecutiveRangesAndAppendsEachToTheFile) {
  Prepare(100000);
  form->ButtonSalva->click();

  EXPECT_EQ(RangesAsked(), (std::vector<std::string>{"bytes=0-32767", "bytes=32768-65535", "bytes=65536-98303",
                                                     "bytes=98304-100000"}));
  EXPECT_EQ(package.FileSizeAtGet, (std::vector<qint64>{-1, 32768, 65536, 98304}));
  EXPECT_EQ(Target(), package.Content);
  EXPECT_EQ(labelsAtWork, QStringList(labelsAtWork.size(), "Download... pkg.bin"));
  EXPECT_EQ(form->LabelAvanzamento->text(), "Download... pkg.bin");
  EXPECT_EQ(boxes.Boxes.size(), 0u);

  // One connection for HEAD and every range (the query has its own), the cookie sent back.
  const auto requests = service->Requests();
  for (const HttpRequest& request : requests) {
    if (request.Target == "/web_download/GetUrlDownload.php") continue;
    EXPECT_EQ(request.ConnectionId, requests.back().ConnectionId);
    if (request.Method == "GET") {
      EXPECT_EQ(request.Header("Cookie"), "pkgsession=42");
    }
  }
  EXPECT_EQ(service->ConnectionCount(), 2);

  // The bar runs once over the whole package.
  EXPECT_TRUE(std::is_sorted(positions.begin(), positions.end()));
  EXPECT_DOUBLE_EQ(form->cxProgressBar1->Position(), 100);

  // "Salva": the folder goes to the shell and the window closes.
  EXPECT_EQ(shell.Opened, QStringList{root.Path() + "Quarnell/Download/"});
  EXPECT_TRUE(form->isHidden());
  application->ProcessMessages();
  EXPECT_TRUE(application->Terminated());
}

TEST_F(DownloadFixture, LastRangeEndsAtTheLengthItself) {
  struct Case {
    qint64 size;
    std::vector<std::string> ranges;
  };
  for (const Case& c :
       {Case{32768, {"bytes=0-32768"}}, Case{32769, {"bytes=0-32767", "bytes=32768-32769"}}, Case{1, {"bytes=0-1"}}}) {
    SCOPED_TRACE(c.size);
    Prepare(c.size);
    form->ButtonSalva->click();
    EXPECT_EQ(RangesAsked(), c.ranges);
    EXPECT_EQ(Target(), package.Content);
  }
}

TEST_F(DownloadFixture, FailuresKeepExactlyTheGoodRanges) {
  FakeClock clock;  // the retries' waits pass at once
  // A fault on every GET from the third on: a permanent one ends the download at once, a
  // transient one after the retries.
  const auto fromThirdGet = [](std::function<void(HttpReply&)> fault) {
    return [fault](PackageServer& p) {
      p.Tweak = [fault](int get, HttpReply& r) {
        if (get >= 3) fault(r);
      };
    };
  };
  const auto status = [](int code, const char* reason) {
    return [code, reason](HttpReply& r) {
      r = HttpReply();
      r.Status = code;
      r.Reason = reason;
    };
  };
  struct Case {
    const char* name;
    std::function<void(PackageServer&)> script;
    qint64 bytesKept;       // -1: no file at all
    QString boxStartsWith;  // the message or error box shown
    int gets;               // GETs sent in all
  };
  const Case cases[] = {
      {"HEAD 404", [](PackageServer& p) { p.HeadStatus = 404; }, -1, "File pkg.bin non trovato!!!", 0},
      {"GET 404, never asked again", fromThirdGet(status(404, "Not Found")), 65536,
       "Download of pkg.bin failed at bytes=65536-98303: the reply has status 404 instead of 206.", 3},
      {"GET 500 on every try", fromThirdGet(status(500, "Internal Server Error")), 65536,
       "Download of pkg.bin failed at bytes=65536-98303: the reply has status 500 instead of 206.", 8},
      {"dropped in the range on every try", fromThirdGet([](HttpReply& r) { r.DropAfterBytes = 1000; }), 65536,
       "Download of pkg.bin failed at bytes=65536-98303: Request to 127.0.0.1:", 8},
      {"short 206 on every try", fromThirdGet([](HttpReply& r) {
         r.Headers.emplace_back("Content-Length", std::to_string(r.Body.size()));
         r.OmitContentLength = true;
         r.Body.resize(500);
         r.Close = true;
       }),
       65536, "Download of pkg.bin failed at bytes=65536-98303: Request to 127.0.0.1:", 8},
      {"empty 206", fromThirdGet([](HttpReply& r) { r.Body.clear(); }), 65536,
       "Download of pkg.bin failed at bytes=65536-98303: the reply holds 0 bytes instead of 32768.", 3},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    boxes.Boxes.clear();
    Prepare(100000);
    c.script(package);
    form->ButtonSalva->click();
    ASSERT_EQ(boxes.Boxes.size(), 1u);
    EXPECT_TRUE(boxes.Boxes[0].Text.startsWith(c.boxStartsWith)) << boxes.Boxes[0].Text.toStdString();
    EXPECT_EQ(GetsSoFar(), c.gets);
    if (c.bytesKept < 0)
      EXPECT_FALSE(QFileInfo::exists(package.TargetPath));
    else
      EXPECT_EQ(Target(), package.Content.left(c.bytesKept));
    EXPECT_TRUE(shell.Opened.isEmpty());  // no completion action after a failure
    EXPECT_FALSE(form->isHidden());
    EXPECT_EQ(QGuiApplication::overrideCursor(), nullptr);
  }
}

TEST_F(DownloadFixture, HeadWithoutLengthSendsNoGetAndLeavesAnExistingFile) {
  Prepare(100000);
  package.HeadWithoutLength = true;
  root.Write("Quarnell/Download/pkg.bin", "left here earlier");
  form->ButtonSalva->click();
  EXPECT_TRUE(RangesAsked().empty());
  EXPECT_EQ(Target(), "left here earlier");
  EXPECT_EQ(shell.Opened, QStringList{root.Path() + "Quarnell/Download/"});  // completion still runs
}

TEST_F(DownloadFixture, AServerIgnoringRangeNeverCorruptsThePackage) {
  // From the first GET: its whole package ends the download. From a later one: the whole
  // package for one range means a fresh start, whose first GET then brings it all.
  struct Case {
    int from;
    std::size_t gets;
    int heads;
  };
  for (const Case c : {Case{1, 1, 1}, Case{2, 3, 2}}) {
    SCOPED_TRACE(c.from);
    Prepare(100000);
    package.IgnoreRangeFrom = c.from;
    form->ButtonSalva->click();
    EXPECT_TRUE(boxes.Boxes.empty());
    EXPECT_EQ(Target(), package.Content);
    EXPECT_EQ(RangesAsked().size(), c.gets);
    int heads = 0;
    for (const HttpRequest& request : service->Requests()) heads += request.Method == "HEAD";
    EXPECT_EQ(heads, c.heads);
  }
}

TEST_F(DownloadFixture, UnwritableFolderAndEmptyNameAreReported) {
  Prepare(1000);
  form->SetPercorsoDest(root.Path() + "no/such/folder");
  form->ButtonSalva->click();
  ASSERT_EQ(boxes.Boxes.size(), 1u);
  EXPECT_TRUE(boxes.Boxes[0].Text.startsWith("Cannot create file \"" + root.Path() + "no/such/folder/pkg.bin\""))
      << boxes.Boxes[0].Text.toStdString();

  boxes.Boxes.clear();
  StartService(R"({"DownloadUrl":"http://127.0.0.1:1/x","DownloadFileName":""})");
  MakeForm();
  ShowAndRunStart();
  form->ButtonSalva->click();
  // An empty name is refused before anything is asked of the network.
  EXPECT_EQ(boxes.Texts(), QStringList{"The file name \"\" was refused: the name is empty."});
}

TEST_F(DownloadFixture, ClosingDuringTheThirdRangeKeepsTwoRangesQuietly) {
  Prepare(10 * 32768);
  package.Tweak = [](int get, HttpReply& r) {
    if (get != 3) return;
    r.StallAfterBytes = 1000;  // then nothing for a long while
    r.StallMilliseconds = 20000;
  };
  bool timerRanDuringSilence = false;
  bool closeScheduled = false;
  onWork = [&] {
    if (closeScheduled || GetsSoFar() < 3) return;
    closeScheduled = true;
    // The close comes while the server is silent: only the waiting pump can deliver it.
    QTimer::singleShot(300, form.get(), [&] {
      timerRanDuringSilence = true;
      form->close();
    });
  };
  QElapsedTimer clock;
  clock.start();
  form->ButtonSalva->click();
  EXPECT_LT(clock.elapsed(), 5000);
  EXPECT_TRUE(timerRanDuringSilence);
  EXPECT_TRUE(application->Terminated());
  EXPECT_EQ(Target(), package.Content.left(65536));
  EXPECT_TRUE(boxes.Boxes.empty());
  EXPECT_TRUE(shell.Opened.isEmpty());
  service->Stop();
}

TEST_F(DownloadFixture, ClicksDuringADownloadStartNoSecondOne) {
  Prepare(5 * 32768);
  onWork = [&] {
    form->ButtonSalva->click();
    form->ButtonSalvaEInstalla->click();
  };
  form->ButtonSalva->click();
  int heads = 0;
  for (const HttpRequest& request : service->Requests()) heads += request.Method == "HEAD";
  EXPECT_EQ(heads, 1);
  EXPECT_EQ(Target(), package.Content);
  EXPECT_EQ(shell.Opened.size(), 1);
}

TEST_F(DownloadFixture, ASecondWindowDownloadingIntoTheSameFileIsRefused) {
  Prepare(100000);
  {
    // What another process's download holds, for the same file by another spelling.
    const DownloadLock otherWindow(root.Path() + "Quarnell/../Quarnell/Download//pkg.bin");
    ASSERT_TRUE(otherWindow.Held());
    form->ButtonSalva->click();
    EXPECT_EQ(boxes.Texts(),
              QStringList{package.TargetPath + " is already being downloaded by another window of this program."});
    EXPECT_TRUE(RangesAsked().empty());
    EXPECT_FALSE(QFileInfo::exists(package.TargetPath));
  }
  form->ButtonSalva->click();  // once it is over, the file is this window's
  EXPECT_EQ(Target(), package.Content);
}
