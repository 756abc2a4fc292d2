#include <gtest/gtest.h>
#include <xcb/xcb.h>

#include <QApplication>
#include <thread>

#include "lang/QnLangGlobalDataModule.h"
#include "progress/QnProgressbarForm.h"

namespace {

// The strip's pixels as the X server has them, read over a connection of the test's own.
QByteArray stripPixels() {
  xcb_connection_t* connection = xcb_connect(nullptr, nullptr);
  const auto window = static_cast<xcb_window_t>(ProgressForm->PaintBoxProgress->winId());
  const auto width = static_cast<uint16_t>(ProgressForm->PaintBoxProgress->width());
  const auto height = static_cast<uint16_t>(ProgressForm->PaintBoxProgress->height());
  xcb_get_image_reply_t* reply = xcb_get_image_reply(
      connection, xcb_get_image(connection, XCB_IMAGE_FORMAT_Z_PIXMAP, window, 0, 0, width, height, ~0u), nullptr);
  QByteArray pixels;
  if (reply) {
    pixels = QByteArray(reinterpret_cast<const char*>(xcb_get_image_data(reply)), xcb_get_image_data_length(reply));
    free(reply);
  }
  xcb_disconnect(connection);
  return pixels;
}

void pumpFor(int milliseconds) {
  const auto until = std::chrono::steady_clock::now() + std::chrono::milliseconds(milliseconds);
  while (std::chrono::steady_clock::now() < until) {
    QCoreApplication::processEvents();
    std::this_thread::sleep_for(std::chrono::milliseconds(10));
  }
}

class AnimationOnScreen : public ::testing::Test {
 protected:
  AnimationOnScreen() { LangStartUp(); }
  ~AnimationOnScreen() override {
    while (ProgressForm) StopProgress();
    LangShutDown();
  }
};

}  // namespace

TEST_F(AnimationOnScreen, DotsMoveWhileTheUserInterfaceThreadIsBlocked) {
  StartProgress("Operazione in corso...", 0);
  pumpFor(500);  // mapped, exposed, faded in
  // From here on this thread does nothing but look: it is the blocked operation.
  const QByteArray first = stripPixels();
  std::this_thread::sleep_for(std::chrono::milliseconds(300));
  const QByteArray second = stripPixels();
  ASSERT_FALSE(first.isEmpty());
  EXPECT_NE(first, second);
  const int phase = ProgressForm->AnimationPhase();
  std::this_thread::sleep_for(std::chrono::milliseconds(200));
  EXPECT_NE(ProgressForm->AnimationPhase(), phase);
}

TEST_F(AnimationOnScreen, NoFrameWhileABarIsShownOrTheWindowIsHidden) {
  StartProgress("outer", 0);
  pumpFor(300);
  StartProgress("inner", 10);  // a known total: the strip stays empty
  pumpFor(100);
  const int phase = ProgressForm->AnimationPhase();
  std::this_thread::sleep_for(std::chrono::milliseconds(200));
  EXPECT_EQ(ProgressForm->AnimationPhase(), phase);
  StopProgress();
  pumpFor(100);
  std::this_thread::sleep_for(std::chrono::milliseconds(200));
  EXPECT_NE(ProgressForm->AnimationPhase(), phase);  // goes on from where it stopped
  ProgressForm->hide();
  pumpFor(50);
  const int hiddenPhase = ProgressForm->AnimationPhase();
  std::this_thread::sleep_for(std::chrono::milliseconds(200));
  EXPECT_EQ(ProgressForm->AnimationPhase(), hiddenPhase);
  StopProgress();
  EXPECT_EQ(ProgressForm, nullptr);  // the ticker was joined with the window
}
