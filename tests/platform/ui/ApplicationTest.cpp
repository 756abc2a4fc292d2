#include <gtest/gtest.h>

#include <QApplication>
#include <QWidget>

#include "platform/base/Exception.h"
#include "platform/ui/Application.h"
#include "platform/ui/StyleManager.h"
#include "tests/support/Fakes.h"

TEST(Application, QuitRequestTakesEffectOnlyWhenAPumpTakesIt) {
  Application application("test");
  QWidget form;
  application.SetMainForm(&form);
  form.show();
  form.close();
  EXPECT_FALSE(application.Terminated());  // the request is still in the queue
  application.ProcessMessages();
  EXPECT_TRUE(application.Terminated());
}

TEST(Application, HandlerErrorsReachTheErrorBoxTitledWithTheApplication) {
  Application application("ombrevia-download");
  RecordingMessageBoxes boxes;
  application.RunHandler([] { throw Exception("Cannot create file \"x\"."); });
  ASSERT_EQ(boxes.Boxes.size(), 1u);
  EXPECT_EQ(boxes.Boxes[0].Kind, MessageKind::Error);
  EXPECT_EQ(boxes.Boxes[0].Title, "ombrevia-download");
  EXPECT_EQ(boxes.Boxes[0].Text, "Cannot create file \"x\".");
}

TEST(StyleManager, KnownStyleIsDarkAndUnknownOneIsAnError) {
  StyleManager::Activate("Charcoal Dark Slate");
  EXPECT_LT(QApplication::palette().color(QPalette::Window).lightness(), 60);
  EXPECT_FALSE(qApp->styleSheet().isEmpty());
  try {
    StyleManager::Activate("Windows 95");
    FAIL() << "an unknown style must raise";
  } catch (const Exception& error) {
    EXPECT_EQ(error.Message(), "Style 'Windows 95' not found.");
  }
  {
    StyleManager::SystemDialogRestylingOff off;
    EXPECT_FALSE(StyleManager::SystemDialogsStyled());
  }
  EXPECT_TRUE(StyleManager::SystemDialogsStyled());
}
