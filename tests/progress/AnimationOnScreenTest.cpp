// The progress band on a real X display, with the calling thread blocked right after the
// band is started, as the bulk operations do; what the display shows is read back from it.
#include <gtest/gtest.h>
#include <xcb/xcb.h>

#include <QApplication>
#include <QProcess>
#include <QWindow>
#include <algorithm>
#include <chrono>
#include <cstring>
#include <thread>
#include <vector>

#include "lang/QnLangGlobalDataModule.h"
#include "platform/ui/Application.h"
#include "platform/ui/Screen.h"
#include "progress/QnProgressbarForm.h"

namespace {

using Clock = std::chrono::steady_clock;
using std::chrono::milliseconds;

constexpr QRgb kBand = 0xD1F4CC;
constexpr QRgb kLeadingDot = 0x15440F;
constexpr QRgb kBar = 0x00FF00;
constexpr int kRadius = 4;

QRgb rgbAt(const QImage& image, int x, int y) { return image.pixel(x, y) & 0xFFFFFF; }

double shareOf(const QImage& image, QRgb colour) {
  if (image.isNull()) return 0;
  qint64 matching = 0;
  for (int y = 0; y < image.height(); ++y)
    for (int x = 0; x < image.width(); ++x) matching += rgbAt(image, x, y) == colour;
  return double(matching) / (qint64(image.width()) * image.height());
}

// The smallest rectangle around the pixels of `colour` (or, with `other`, of any colour but it).
QRect extentOf(const QImage& image, QRgb colour, bool other = false) {
  QRect extent;
  for (int y = 0; y < image.height(); ++y)
    for (int x = 0; x < image.width(); ++x)
      if ((rgbAt(image, x, y) == colour) != other) extent |= QRect(x, y, 1, 1);
  return extent;
}

// A client of the display of the test's own: it reads back the screen and plays another
// application.
class XClient {
 public:
  XClient() : FConnection(xcb_connect(nullptr, nullptr)) {
    FRoot = xcb_setup_roots_iterator(xcb_get_setup(FConnection)).data->root;
  }
  ~XClient() { xcb_disconnect(FConnection); }
  XClient(const XClient&) = delete;
  XClient& operator=(const XClient&) = delete;

  // Where a window is on the screen, in the display's pixels.
  QRect WindowRect(WId window) const {
    const auto id = static_cast<xcb_window_t>(window);
    xcb_get_geometry_reply_t* geometry =
        xcb_get_geometry_reply(FConnection, xcb_get_geometry(FConnection, id), nullptr);
    xcb_translate_coordinates_reply_t* origin =
        xcb_translate_coordinates_reply(FConnection, xcb_translate_coordinates(FConnection, id, FRoot, 0, 0), nullptr);
    QRect rect;
    if (geometry && origin) rect = QRect(origin->dst_x, origin->dst_y, geometry->width, geometry->height);
    free(geometry);
    free(origin);
    return rect;
  }

  // What the screen shows in `rect`.
  QImage Grab(const QRect& rect) const {
    xcb_get_image_reply_t* reply =
        xcb_get_image_reply(FConnection,
                            xcb_get_image(FConnection, XCB_IMAGE_FORMAT_Z_PIXMAP, FRoot, static_cast<int16_t>(rect.x()),
                                          static_cast<int16_t>(rect.y()), static_cast<uint16_t>(rect.width()),
                                          static_cast<uint16_t>(rect.height()), ~0u),
                            nullptr);
    if (!reply) return {};
    QImage image = QImage(xcb_get_image_data(reply), rect.width(), rect.height(), QImage::Format_RGB32).copy();
    free(reply);
    return image;
  }

  // The 32-bit items of a window's property (none when it has no such property).
  std::vector<uint32_t> Property(WId window, const char* name) const {
    std::vector<uint32_t> items;
    xcb_get_property_reply_t* reply =
        xcb_get_property_reply(FConnection,
                               xcb_get_property(FConnection, 0, static_cast<xcb_window_t>(window), Atom(name),
                                                XCB_GET_PROPERTY_TYPE_ANY, 0, 64),
                               nullptr);
    if (reply && reply->format == 32) {
      const auto* values = static_cast<const uint32_t*>(xcb_get_property_value(reply));
      items.assign(values, values + xcb_get_property_value_length(reply) / 4);
    }
    free(reply);
    return items;
  }

  xcb_atom_t Atom(const char* name) const {
    xcb_intern_atom_reply_t* reply = xcb_intern_atom_reply(
        FConnection, xcb_intern_atom(FConnection, 0, static_cast<uint16_t>(std::strlen(name)), name), nullptr);
    const xcb_atom_t atom = reply ? reply->atom : XCB_NONE;
    free(reply);
    return atom;
  }

  // A window of this client over `rect`, with the input focus.
  xcb_window_t CoverAndFocus(const QRect& rect) {
    const xcb_window_t window = xcb_generate_id(FConnection);
    const uint32_t background = 0x0000FF;
    xcb_create_window(FConnection, XCB_COPY_FROM_PARENT, window, FRoot, static_cast<int16_t>(rect.x()),
                      static_cast<int16_t>(rect.y()), static_cast<uint16_t>(rect.width()),
                      static_cast<uint16_t>(rect.height()), 0, XCB_WINDOW_CLASS_INPUT_OUTPUT, XCB_COPY_FROM_PARENT,
                      XCB_CW_BACK_PIXEL, &background);
    xcb_map_window(FConnection, window);
    Focus(window);
    return window;
  }

  void Unmap(xcb_window_t window) {
    xcb_unmap_window(FConnection, window);
    Sync();
  }

  // What a window manager does when the user clicks a window.
  void Focus(WId window) {
    xcb_set_input_focus(FConnection, XCB_INPUT_FOCUS_PARENT, static_cast<xcb_window_t>(window), XCB_CURRENT_TIME);
    Sync();
  }

 private:
  void Sync() { free(xcb_get_input_focus_reply(FConnection, xcb_get_input_focus(FConnection), nullptr)); }

  xcb_connection_t* FConnection;
  xcb_window_t FRoot = XCB_NONE;
};

// The band and its animation strip as the screen shows them.
struct BandOnScreen {
  QImage Band;
  QImage Strip;
};

BandOnScreen look(const XClient& display) {
  return {display.Grab(display.WindowRect(ProgressForm->winId())),
          display.Grab(display.WindowRect(ProgressForm->PaintBoxProgress->winId()))};
}

// The window's opacity as a compositing manager reads it, in 255ths (255 without the property).
int opacityOf(const XClient& display, WId window) {
  const std::vector<uint32_t> opacity = display.Property(window, "_NET_WM_WINDOW_OPACITY");
  return opacity.empty() ? 255 : qRound(opacity[0] / double(0xFFFFFFFFu) * 255);
}

int columnsOf(const QImage& image, QRgb colour) {
  int columns = 0;
  for (int x = 0; x < image.width(); ++x) {
    bool found = false;
    for (int y = 0; y < image.height() && !found; ++y) found = rgbAt(image, x, y) == colour;
    columns += found;
  }
  return columns;
}

class ProgressOnScreen : public ::testing::Test {
 protected:
  ProgressOnScreen() { LangStartUp(); }
  ~ProgressOnScreen() override {
    while (ProgressForm) StopProgress();
    LangShutDown();
  }
};

// Run once more at a scale factor of 2 by ProgressOnScreen.AtScaleFactorTwo.
class BandOverABlockedThread : public ProgressOnScreen {};

}  // namespace

TEST_F(BandOverABlockedThread, TheBandIsOnTheScreenAtOnceAndTheDotsMove) {
  struct Case {
    const char* name;
    QString title, text;
    qint32 max;
    bool cancel;
  };
  const Case cases[] = {
      {"empty caption, unknown total", "", "", 0, false},
      {"title, unknown total, cancel button", "Attendere...", "Estrazione del pacchetto in corso...", 0, true},
      {"known total, no cancel button (the archive manager)", "", "Compressione di setup.zip", 10, false},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    XClient display;
    const auto called = Clock::now();
    StartProgress(c.title, c.text, c.max, c.cancel);
    const auto started = Clock::now();
    // From here on this thread is the blocked operation: it only looks at the screen.
    EXPECT_LT(started - called, milliseconds(1500));  // the wait for the display is bounded
    std::this_thread::sleep_until(started + milliseconds(100));
    const BandOnScreen first = look(display);
    std::this_thread::sleep_until(started + milliseconds(250));
    const BandOnScreen second = look(display);
    EXPECT_GT(shareOf(first.Band, kBand), 0.8);
    EXPECT_GT(shareOf(second.Band, kBand), 0.8);
    EXPECT_EQ(opacityOf(display, ProgressForm->winId()), 220);  // faded in, for a compositing display
    if (c.max == 0) {
      EXPECT_FALSE(first.Strip == second.Strip) << "the dots did not move";
      EXPECT_LT(shareOf(second.Strip, kBand), 1.0);
    } else {
      EXPECT_EQ(columnsOf(second.Band, kBar), 0);
      EXPECT_TRUE(StepProgressValue(c.max / 2));  // painted at once, with nothing pumped
      const double filled = double(columnsOf(look(display).Band, kBar)) / second.Band.width();
      EXPECT_NEAR(filled, 0.5, 0.01);
    }
    StopProgress();
    EXPECT_EQ(ProgressForm, nullptr);
  }
}

TEST_F(BandOverABlockedThread, TheDotsSpanTheStripAtTheScreensPixelRatio) {
  StartProgress("Attendere...", 0);
  XClient display;
  const qreal ratio = ProgressForm->devicePixelRatioF();
  const QString scale = qEnvironmentVariable("QT_SCALE_FACTOR", QStringLiteral("1"));
  EXPECT_EQ(ratio, scale.toDouble());
  const QRect strip = display.WindowRect(ProgressForm->PaintBoxProgress->winId());
  ASSERT_EQ(strip.size(), (QSizeF(ProgressForm->PaintBoxProgress->size()) * ratio).toSize());
  const int width = ProgressForm->width();
  const int centreLine = RoundHalfEven(ProgressForm->PaintBoxProgress->height() / 2.0) - 4;
  int samples = 0, rightmost = 0;
  const auto until = Clock::now() + milliseconds(8000);  // a loaded machine ticks slower
  while (Clock::now() < until && ProgressForm->AnimationPhase() < 130) {
    std::this_thread::sleep_for(milliseconds(40));
    const int phase = ProgressForm->AnimationPhase();
    const QImage shown = display.Grab(strip);
    if (phase < 2 || ProgressForm->AnimationPhase() != phase) continue;  // a frame came in between
    // The screen shows this phase's frame or, while it is being put there, the one before.
    const std::vector<int> now = BusyDotCentres(phase, width), before = BusyDotCentres(phase - 1, width);
    if (std::min(now[5], before[5]) < kRadius + 1 || std::max(now[5], before[5]) > width - kRadius - 1) continue;
    SCOPED_TRACE(phase);
    const QRect leading = extentOf(shown, kLeadingDot);
    ASSERT_FALSE(leading.isEmpty());
    const double x = (leading.left() + leading.right() + 1) / 2.0, y = (leading.top() + leading.bottom() + 1) / 2.0;
    const double tolerance = ratio + 1;
    EXPECT_TRUE(std::abs(x - now[5] * ratio) <= tolerance || std::abs(x - before[5] * ratio) <= tolerance)
        << "leading dot at " << x << ", expected " << before[5] * ratio << " or " << now[5] * ratio;
    EXPECT_NEAR(y, centreLine * ratio, tolerance);
    // Nothing else on the strip: no dot left behind by an earlier frame.
    int left = width, right = 0;
    for (const std::vector<int>* centres : {&now, &before}) {
      left = std::min(left, *std::min_element(centres->begin(), centres->end()));
      right = std::max(right, *std::max_element(centres->begin(), centres->end()));
    }
    const QRect drawn = extentOf(shown, kBand, true);
    EXPECT_GE(drawn.left(), (left - kRadius - 1) * ratio - 1);
    EXPECT_LE(drawn.right(), (right + kRadius + 1) * ratio + 1);
    rightmost = std::max(rightmost, leading.right());
    ++samples;
  }
  EXPECT_GE(samples, 10);
  EXPECT_GT(rightmost, strip.width() * 0.55);  // past the middle: the dots cross the whole strip
}

TEST_F(BandOverABlockedThread, TheDotsStopBehindAnotherApplicationsWindow) {
  StartProgress("Attendere...", 0);
  XClient display, otherApplication;
  std::this_thread::sleep_for(milliseconds(100));
  const int moving = ProgressForm->AnimationPhase();
  std::this_thread::sleep_for(milliseconds(100));
  EXPECT_NE(ProgressForm->AnimationPhase(), moving);
  const xcb_window_t cover = otherApplication.CoverAndFocus(display.WindowRect(ProgressForm->winId()));
  std::this_thread::sleep_for(milliseconds(60));  // a frame under way ends
  const int stopped = ProgressForm->AnimationPhase();
  std::this_thread::sleep_for(milliseconds(300));
  EXPECT_EQ(ProgressForm->AnimationPhase(), stopped);
  otherApplication.Unmap(cover);
  otherApplication.Focus(ProgressForm->winId());  // the band in front again
  std::this_thread::sleep_for(milliseconds(200));
  EXPECT_NE(ProgressForm->AnimationPhase(), stopped);
}

TEST_F(ProgressOnScreen, AtScaleFactorTwo) {
  QProcess child;
  QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
  environment.insert(QStringLiteral("QT_SCALE_FACTOR"), QStringLiteral("2"));
  child.setProcessEnvironment(environment);
  child.setProcessChannelMode(QProcess::MergedChannels);
  child.start(QCoreApplication::applicationFilePath(), {QStringLiteral("--gtest_filter=BandOverABlockedThread.*")});
  ASSERT_TRUE(child.waitForFinished(120000));
  const QByteArray output = child.readAll();
  EXPECT_EQ(child.exitCode(), 0) << output.toStdString();
  EXPECT_TRUE(output.contains("[  PASSED  ] 3 tests")) << output.toStdString();
}

TEST_F(ProgressOnScreen, TheBandBelongsToTheMainWindowAndNotAboveEveryApplication) {
  XClient display;
  const xcb_atom_t above = display.Atom("_NET_WM_STATE_ABOVE");
  {
    StartProgress("no main window", 0);
    const std::vector<uint32_t> state = display.Property(ProgressForm->winId(), "_NET_WM_STATE");
    EXPECT_EQ(std::count(state.begin(), state.end(), above), 0);
    StopProgress();
  }
  Application application("test");
  QWidget main;
  main.resize(400, 300);
  application.SetMainForm(&main);
  main.show();
  const auto until = Clock::now() + milliseconds(2000);
  while (!main.windowHandle()->isExposed() && Clock::now() < until) QCoreApplication::processEvents();
  StartProgress("main window", 0);
  const std::vector<uint32_t> state = display.Property(ProgressForm->winId(), "_NET_WM_STATE");
  EXPECT_EQ(std::count(state.begin(), state.end(), above), 0);
  EXPECT_EQ(display.Property(ProgressForm->winId(), "WM_TRANSIENT_FOR"),
            std::vector<uint32_t>{static_cast<uint32_t>(main.winId())});
  EXPECT_FALSE(main.isEnabled());
  StopProgress();
  EXPECT_TRUE(main.isEnabled());
}

TEST_F(ProgressOnScreen, AHandlerRunWhileTheBandAppearsMayEndTheCycle) {
  // The wait for the display pumps the queue (without user input): what is waiting runs.
  QMetaObject::invokeMethod(
      qApp,
      [] {
        while (ProgressForm) StopProgress();
      },
      Qt::QueuedConnection);
  StartProgress("x", 0);
  EXPECT_EQ(ProgressForm, nullptr);
  EXPECT_TRUE(StepProgress("y"));
  StopProgress();
}

TEST_F(ProgressOnScreen, NoFrameWhileABarIsShownOrTheWindowIsHidden) {
  StartProgress("outer", 0);
  StartProgress("inner", 10);  // a known total: the strip stays empty
  std::this_thread::sleep_for(milliseconds(60));
  const int phase = ProgressForm->AnimationPhase();
  std::this_thread::sleep_for(milliseconds(200));
  EXPECT_EQ(ProgressForm->AnimationPhase(), phase);
  StopProgress();
  std::this_thread::sleep_for(milliseconds(200));
  EXPECT_NE(ProgressForm->AnimationPhase(), phase);  // goes on from where it stopped
  ProgressForm->hide();
  std::this_thread::sleep_for(milliseconds(60));
  const int hiddenPhase = ProgressForm->AnimationPhase();
  std::this_thread::sleep_for(milliseconds(200));
  EXPECT_EQ(ProgressForm->AnimationPhase(), hiddenPhase);
  StopProgress();
  EXPECT_EQ(ProgressForm, nullptr);  // the ticker was joined with the window
}
