#include <gtest/gtest.h>

#include <QApplication>
#include <QLabel>
#include <QPushButton>
#include <thread>

#include "lang/QnLangGlobalDataModule.h"
#include "platform/ui/Application.h"
#include "progress/QnProgressbarForm.h"
#include "tests/support/Fakes.h"

namespace {

class ProgressWindow : public ::testing::Test {
 protected:
  ProgressWindow() {
    LangStartUp();
    application.SetMainForm(&mainWindow);
    mainWindow.show();
  }
  ~ProgressWindow() override {
    while (ProgressForm) StopProgress();
    LangShutDown();
  }
  FakeScreen screen;
  Application application{"test"};
  QWidget mainWindow;
};

}  // namespace

TEST_F(ProgressWindow, AnUnknownTotalShowsTheBandWithTheAnimationAndDisablesTheMainWindow) {
  StartProgress("", 0);
  ASSERT_NE(ProgressForm, nullptr);
  EXPECT_TRUE(ProgressForm->isVisible());
  EXPECT_EQ(ProgressForm->ProgressCaption(), "");
  EXPECT_TRUE(ProgressForm->cxLabelTitle->isHidden());
  EXPECT_TRUE(ProgressForm->ProgressBar->isHidden());
  EXPECT_TRUE(ProgressForm->BtnCancel->isHidden());
  EXPECT_TRUE(ProgressForm->HasTicker());
  EXPECT_FALSE(mainWindow.isEnabled());
  EXPECT_EQ(ProgressForm->width(), 1920);
  EXPECT_EQ(ProgressForm->height(), 250);
  EXPECT_EQ(ProgressForm->y(), (1080 - 250) / 2);
  EXPECT_EQ(QGuiApplication::overrideCursor()->shape(), Qt::WaitCursor);
  StopProgress();
  EXPECT_EQ(ProgressForm, nullptr);
  EXPECT_TRUE(mainWindow.isEnabled());
  EXPECT_EQ(QGuiApplication::overrideCursor(), nullptr);
}

TEST_F(ProgressWindow, NestedCyclesSaveAndRestoreTheOuterState) {
  StartProgress("Titolo", "first", 10, false);
  for (int i = 0; i < 3; ++i) EXPECT_TRUE(StepProgress(""));
  StartProgress("second", 0);
  EXPECT_EQ(ProgressForm->ProgressCaption(), "second");
  EXPECT_EQ(ProgressForm->nLevel, 1);
  StopProgress();
  ASSERT_NE(ProgressForm, nullptr);
  EXPECT_EQ(ProgressForm->ProgressCaption(), "first");
  EXPECT_EQ(ProgressForm->ProgressTitle(), "Titolo");
  EXPECT_EQ(ProgressForm->ProgressBar->Max(), 10);
  EXPECT_EQ(ProgressForm->ProgressBar->Position(), 3);
  EXPECT_TRUE(ProgressForm->ProgressBar->isVisible());
  EXPECT_TRUE(ProgressForm->HasTicker());  // lives until the outermost stop
  StopProgress();
  EXPECT_EQ(ProgressForm, nullptr);
}

TEST_F(ProgressWindow, StepValueKeepsTheBarWithinItsRange) {
  StartProgress("x", 10);
  ProgressForm->StepValue("", 0);
  EXPECT_EQ(ProgressForm->ProgressBar->Position(), 1);
  ProgressForm->StepValue("", 25);
  EXPECT_EQ(ProgressForm->ProgressBar->Position(), 10);
  EXPECT_TRUE(StepProgressValue(5));
  EXPECT_EQ(ProgressForm->ProgressBar->Position(), 5);
}

TEST_F(ProgressWindow, ALongCaptionWrapsAndTheBandNeverGetsLower) {
  StartProgress(QString(40, 'W') + " " + QString(60, 'W'), 0);
  EXPECT_TRUE(ProgressForm->cxLabelProgressBar->wordWrap());
  EXPECT_EQ(ProgressForm->cxLabelProgressBar->width(), 800);
  const int tall = ProgressForm->height();
  StartProgress(QString("Elaborazione dei file ").repeated(60), 0);
  EXPECT_GT(ProgressForm->height(), tall);
  const int taller = ProgressForm->height();
  StartProgress("short", 0);
  EXPECT_EQ(ProgressForm->height(), taller);
}

TEST_F(ProgressWindow, ACancelClickIsNoticedAtTheNextPump) {
  StartProgress("copy", 100, true);
  EXPECT_TRUE(ProgressForm->BtnCancel->isVisible());
  EXPECT_EQ(ProgressForm->BtnCancel->text(), "Interrompi");
  QMetaObject::invokeMethod(ProgressForm->BtnCancel, "click", Qt::QueuedConnection);  // a click waiting in the queue
  EXPECT_TRUE(StepProgress(""));                                                      // the queue is not pumped yet
  std::this_thread::sleep_for(std::chrono::milliseconds(3100));
  EXPECT_FALSE(StepProgress(""));  // pumped: the click arrives
  EXPECT_FALSE(StepProgress(""));
  EXPECT_FALSE(StepProgressValue(3));
}

TEST_F(ProgressWindow, AHandlerRunByTheStepsPumpMayEndTheLastCycle) {
  // A copy with a cancel button; meanwhile a handler waiting in the queue (the main window
  // closing, say) ends every cycle. The copy steps on and ends its own cycle as usual.
  StartProgress("copy", 100, true);
  ASSERT_TRUE(StepProgress("file 1"));
  QMetaObject::invokeMethod(
      qApp,
      [] {
        while (ProgressForm) StopProgress();
      },
      Qt::QueuedConnection);
  std::this_thread::sleep_for(std::chrono::milliseconds(3100));
  EXPECT_TRUE(StepProgress("file 2"));  // pumped: the handler ran and freed the window
  EXPECT_EQ(ProgressForm, nullptr);
  EXPECT_EQ(QGuiApplication::overrideCursor(), nullptr);
  EXPECT_TRUE(StepProgress("file 3"));
  EXPECT_FALSE(StepProgressValue(4));
  StopProgress();
  EXPECT_TRUE(mainWindow.isEnabled());
}

TEST_F(ProgressWindow, TheBandSitsAboveTheTaskbarWhereverItIs) {
  struct Case {
    QRect available;
    int taskbar;
  };
  for (const Case& c : {Case{{0, 0, 1920, 1040}, 40}, Case{{0, 0, 1920, 1080}, 0}, Case{{60, 0, 1860, 1080}, 1080}}) {
    screen.Available = c.available;
    EXPECT_EQ(TaskbarHeight(), c.taskbar);
  }
  QWidget window;
  window.resize(1920, 300);
  screen.Available = {0, 0, 1920, 1040};
  PlaceWindowAt(&window, 0, 900, paTopLeft);
  EXPECT_EQ(window.y(), 1040 - 300);  // moved up to end at the taskbar
  screen.Available = {60, 0, 1860, 1080};
  PlaceWindow(&window, paCenter);
  EXPECT_EQ(window.y(), 0);  // a side taskbar counts the screen's whole height
  QWidget parent;
  parent.resize(200, 100);
  QLabel label(&parent);
  label.resize(50, 21);
  PlaceLabel(&label, paCenter, 0, 0);
  EXPECT_EQ(label.pos(), QPoint(75, 40));  // round(10.5) is 10: halves to even
  PlaceLabel(&label, paBottomRight, -5, 0);
  EXPECT_EQ(label.pos(), QPoint(145, 79));
}

TEST_F(ProgressWindow, WithoutAWindowStepsAnswerAtOnce) {
  EXPECT_TRUE(StepProgress("x"));
  EXPECT_FALSE(StepProgressValue(1));
  StopProgress();
  EXPECT_EQ(ProgressForm, nullptr);
}

TEST_F(ProgressWindow, TheLanguageSwitchesTheButton) {
  StartProgress("x", 10, true);
  DataModuleQnLangGlobal->siLangDispatcherGlobal->SetActiveLanguage(2);
  EXPECT_EQ(ProgressForm->BtnCancel->text(), "Stop");
  DataModuleQnLangGlobal->siLangDispatcherGlobal->SetActiveLanguage(3);
  EXPECT_EQ(ProgressForm->BtnCancel->text(), "Interrompi");
}

TEST(BusyAnimation, DotCentres) {
  struct Case {
    int phase, width;
    std::vector<int> centres;
  };
  const Case cases[] = {
      {0, 1000, {-85, -65, -45, -25, -13, 0}},  // trailing dots start left of the strip
      {45, 1000, {289, 305, 320, 335, 344, 354}},  {90, 1000, {493, 496, 498, 499, 500, 500}},
      {91, 1000, {506, 503, 501, 500, 500, 500}},  // just past the middle: trailing dots ahead
      {179, 1000, {907, 927, 946, 966, 978, 991}}, {45, 500, {144, 152, 160, 168, 172, 177}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.phase);
    EXPECT_EQ(BusyDotCentres(c.phase, c.width), c.centres);
  }
}
