// What the window costs during a download: the bar and the label repaint only when what
// they show changes, and the event loop is pumped every 15 ms or so, not on every transfer
// event, while a close still stops the download within 100 ms. Time is a fake clock moved
// by the test, so the figures do not depend on the machine's speed.
#include <QCoreApplication>
#include <QEvent>
#include <QFileInfo>
#include <QImage>
#include <QLabel>
#include <QPixmap>
#include <QPushButton>
#include <QTimer>
#include <set>

#include "app/GradientProgressBar.h"
#include "tests/app/MainFormFixture.h"
#include "tests/support/Replies.h"
#include "tools/DemoDownloadService.h"

namespace {

constexpr qint64 kRange = 32768;
const char* const kQueryReply = R"({"DownloadUrl":"{base}/packages/pkg.bin","DownloadFileName":"pkg.bin"})";

// Counts the paint events a widget receives.
class PaintCounter : public QObject {
 public:
  explicit PaintCounter(QWidget* widget) { widget->installEventFilter(this); }
  int Paints = 0;

 protected:
  bool eventFilter(QObject*, QEvent* event) override {
    if (event->type() == QEvent::Paint) ++Paints;
    return false;
  }
};

// Posted on every transfer event; its delivery shows when the event loop was pumped.
class PumpProbe : public QObject {
 public:
  static constexpr QEvent::Type kType = static_cast<QEvent::Type>(QEvent::User + 731);
  struct Posted : QEvent {
    explicit Posted(qint64 at) : QEvent(kType), At(at) {}
    qint64 At;
  };

  explicit PumpProbe(const FakeClock& clock) : FClock(clock) {}
  void Post() {
    QCoreApplication::postEvent(this, new Posted(FClock.NowMs()));
    ++PostedCount;
  }

  int PostedCount = 0;
  std::set<qint64> PumpTimes;  // fake times at which probes were delivered
  qint64 LongestWaitMs = 0;

 protected:
  bool event(QEvent* event) override {
    if (event->type() != kType) return QObject::event(event);
    const qint64 now = FClock.NowMs();
    PumpTimes.insert(now);
    LongestWaitMs = std::max(LongestWaitMs, now - static_cast<Posted*>(event)->At);
    return true;
  }

 private:
  const FakeClock& FClock;
};

class DownloadWindowCost : public MainFormFixture {
 protected:
  // Serves `size` bytes of package, shows the window, and hooks the transfer events: each
  // event of work moves the clock by `msPerEvent` and posts a probe.
  void Prepare(qint64 size, qint64 msPerEvent) {
    content = PatternBytes(size);
    targetPath = root.Path() + "Quarnell/Download/pkg.bin";
    QFile::remove(targetPath);
    StartService(kQueryReply, [this](const HttpRequest& request) { return answer(request); });
    MakeForm();
    ShowAndRunStart();
    ASSERT_EQ(form->DownloadFileName(), "pkg.bin");
    probe = std::make_unique<PumpProbe>(clock);
    auto work = form->IdHTTP1->OnWork;
    form->IdHTTP1->OnWork = [this, work, msPerEvent](WorkMode mode, qint64 count) {
      clock.Advance(msPerEvent);
      probe->Post();
      ++workEvents;
      if (onWork) onWork();
      work(mode, count);
    };
    auto wait = form->IdHTTP1->OnWait;
    form->IdHTTP1->OnWait = [this, wait] {
      ++waits;
      wait();
    };
    startMs = clock.NowMs();
  }

  HttpReply answer(const HttpRequest& request) {
    HttpReply reply;
    reply.Body = std::string(static_cast<std::size_t>(content.size()), '\0');
    if (request.Method == "HEAD") return reply;
    std::uint64_t first = 0, last = 0;
    if (!ParseByteRange(request.Header("Range"), content.size(), first, last)) {
      reply.Status = 416;
      reply.Reason = "Range Not Satisfiable";
      reply.Body.clear();
      return reply;
    }
    reply = PartialReply(content, first, last);
    if (stallFrom && first >= static_cast<std::uint64_t>(stallFrom)) {
      reply.StallAfterBytes = 1000;
      reply.StallMilliseconds = 20000;
    }
    return reply;
  }

  FakeClock clock;
  QByteArray content;
  QString targetPath;
  std::unique_ptr<PumpProbe> probe;
  std::function<void()> onWork;
  qint64 startMs = 0;
  qint64 stallFrom = 0;  // ranges from here on send 1000 bytes, then nothing for 20 s
  int workEvents = 0;
  int waits = 0;
};

TEST(GradientProgressBarTest, RepaintsOncePerPixelOfFillHoweverOftenThePositionMoves) {
  GradientProgressBar bar;
  bar.setGeometry(0, 0, 361, 17);
  bar.show();
  QCoreApplication::processEvents();
  PaintCounter counter(&bar);
  std::set<int> fills;  // the filled widths the positions stand for
  for (int step = 0; step <= 20000; ++step) {
    const double position = step * 100.0 / 20000;
    bar.SetPosition(position);
    fills.insert(static_cast<int>(359 * (position / 100)));
    QCoreApplication::sendPostedEvents();
    QCoreApplication::processEvents();
  }
  EXPECT_EQ(counter.Paints, static_cast<int>(fills.size()) - 1);  // the first fill was already shown
  EXPECT_LE(counter.Paints, 359);
  EXPECT_DOUBLE_EQ(bar.Position(), 100);

  // A position inside the same pixel, or the same maximum, paints nothing; halving the fill
  // by a new maximum does.
  bar.SetPosition(50);
  QCoreApplication::processEvents();
  const int before = counter.Paints;
  bar.SetPosition(50.1);  // 179.6 pixels, as 50 is 179.5
  bar.SetMax(100);
  QCoreApplication::processEvents();
  EXPECT_EQ(counter.Paints, before);
  bar.SetMax(200);
  QCoreApplication::processEvents();
  EXPECT_EQ(counter.Paints, before + 1);

  // What is painted follows the position: half the inside is filled, the rest is not.
  bar.SetMax(100);
  bar.SetPosition(50);
  const QImage picture = bar.grab().toImage();
  EXPECT_NE(picture.pixelColor(1 + 178, 8), picture.pixelColor(1 + 181, 8));
  EXPECT_EQ(picture.pixelColor(1 + 181, 8), picture.pixelColor(1 + 300, 8));
}

TEST_F(DownloadWindowCost, ManyRangesCostAFewPumpsAndPaints) {
  constexpr int kRanges = 200;
  // Time moves with the transfer events only, so a slow machine (a sanitizer build) that
  // lets the engine's polls run dry changes nothing in what is measured.
  clock.WaitsMoveTime = false;
  Prepare(kRanges * kRange, 1);
  PaintCounter barPaints(form->cxProgressBar1);
  PaintCounter labelPaints(form->LabelAvanzamento);
  form->ButtonSalva->click();

  EXPECT_EQ(ReadFile(targetPath), content);
  EXPECT_TRUE(boxes.Boxes.empty());
  const qint64 elapsedMs = clock.NowMs() - startMs;
  // Ranges in flight share their work events; there must still be many more than pumps.
  ASSERT_GE(workEvents, kRanges / 10);
  // One pump per 15 ms of the download, besides those for a silent server.
  const int pumps = static_cast<int>(probe->PumpTimes.size());
  EXPECT_LE(pumps, elapsedMs / 15 + 1 + waits) << workEvents << " work events";
  EXPECT_GE(pumps, elapsedMs / 15 - 1);
  // Every work event was seen by a pump within 15 ms; the last few, by the end of the download.
  EXPECT_LE(probe->LongestWaitMs, 15);
  // The bar repaints at most once per pump, the label only when its text changed.
  EXPECT_LE(barPaints.Paints, pumps + 1);
  EXPECT_LE(labelPaints.Paints, 2);
  EXPECT_EQ(form->LabelAvanzamento->text(), "Download... pkg.bin");
  EXPECT_DOUBLE_EQ(form->cxProgressBar1->Position(), 100);
}

TEST_F(DownloadWindowCost, AClosingWindowStopsTheDownloadWithin100Ms) {
  struct Case {
    const char* name;
    qint64 msPerEvent;
    qint64 stallFrom;  // 0: the server never goes silent
  };
  // A slow stream of work events (10 ms each), and a server gone silent while the clock
  // stands still: the close must not wait for the clock.
  for (const Case& c : {Case{"steady", 10, 0}, Case{"silent server, still clock", 0, 5 * kRange}}) {
    SCOPED_TRACE(c.name);
    boxes.Boxes.clear();
    shell.Opened.clear();
    stallFrom = c.stallFrom;
    // Long enough that the ranges in flight when the close comes are far from the end.
    Prepare(200 * kRange, c.msPerEvent);
    qint64 closeAskedMs = -1, lastWorkMs = -1;
    onWork = [&] {
      lastWorkMs = clock.NowMs();
      if (closeAskedMs >= 0 || QFileInfo(targetPath).size() < 3 * kRange) return;
      closeAskedMs = clock.NowMs();
      QTimer::singleShot(0, form.get(), [this] { form->close(); });
    };
    form->ButtonSalva->click();

    EXPECT_TRUE(application->Terminated());
    ASSERT_GE(closeAskedMs, 0);
    EXPECT_LE(lastWorkMs - closeAskedMs, 100);
    const QByteArray kept = ReadFile(targetPath);
    EXPECT_EQ(kept.size() % kRange, 0);  // whole ranges only
    EXPECT_EQ(kept, content.left(kept.size()));
    EXPECT_LT(kept.size(), content.size());
    EXPECT_TRUE(boxes.Boxes.empty());
    EXPECT_TRUE(shell.Opened.isEmpty());
    service->Stop();
  }
}

}  // namespace
