// The registered message "QNAPPLYSHOWED" has one number in every process of the session:
// checked with several real processes registering at once, in different orders.
#include <gtest/gtest.h>

#include <QCoreApplication>
#include <QMap>
#include <QProcess>
#include <QRegularExpression>
#include <QTemporaryDir>
#include <memory>

#include "fileutils/QnOpenFileRegistry.h"
#include "platform/os/RegisteredMessages.h"

namespace {

constexpr char kNamesVariable[] = "QUARNELL_TEST_REGISTER";

// Starts this test program as a child that registers `names` in order ("@startup" runs
// the module start-up, which registers "QNAPPLYSHOWED") in the session of `runtimeFolder`.
std::unique_ptr<QProcess> startRegistering(const QStringList& names, const QString& runtimeFolder) {
  auto child = std::make_unique<QProcess>();
  QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
  environment.insert("XDG_RUNTIME_DIR", runtimeFolder);
  environment.insert(kNamesVariable, names.join(','));
  child->setProcessEnvironment(environment);
  child->start(QCoreApplication::applicationFilePath(),
               {"--gtest_also_run_disabled_tests", "--gtest_filter=RegisteredMessageChild.DISABLED_Registers"});
  return child;
}

// The numbers a finished child printed, by case-folded name.
QMap<QString, quint32> numbersOf(QProcess& child) {
  EXPECT_TRUE(child.waitForFinished(60000));
  QMap<QString, quint32> numbers;
  static const QRegularExpression line(R"(^message (\S+) (\d+)$)", QRegularExpression::MultilineOption);
  for (auto match = line.globalMatch(QString::fromUtf8(child.readAllStandardOutput())); match.hasNext();) {
    const auto m = match.next();
    numbers.insert(m.captured(1).toCaseFolded(), m.captured(2).toUInt());
  }
  return numbers;
}

}  // namespace

// Runs only as the child of the test below.
TEST(RegisteredMessageChild, DISABLED_Registers) {
  for (const QString& name : qEnvironmentVariable(kNamesVariable).split(',', Qt::SkipEmptyParts)) {
    if (name == "@startup") {
      OpenFileRegistryStartUp();
      printf("message QNAPPLYSHOWED %u\n", ApplyShowedMessage);
      OpenFileRegistryShutDown();
    } else {
      printf("message %s %u\n", qPrintable(name), RegisterWindowMessage(name));
    }
  }
}

TEST(RegisteredMessages, OneNumberPerNameInEveryProcessOfTheSession) {
  QTemporaryDir session;
  const QList<QStringList> orders = {
      {"@startup", "Alpha", "Beta"},
      {"Beta", "Gamma", "@startup"},
      {"gamma", "qnapplyshowed", "alpha"},
      {"Delta", "Gamma", "Beta", "Alpha", "@startup"},
  };
  std::vector<std::unique_ptr<QProcess>> children;
  for (const QStringList& names : orders) children.push_back(startRegistering(names, session.path()));
  QMap<QString, quint32> agreed;
  for (size_t i = 0; i < children.size(); ++i) {
    const QMap<QString, quint32> numbers = numbersOf(*children[i]);
    EXPECT_EQ(numbers.size(), orders[int(i)].size());
    for (auto it = numbers.begin(); it != numbers.end(); ++it) {
      EXPECT_GE(it.value(), 0xC000u);
      EXPECT_LE(it.value(), 0xFFFFu);
      EXPECT_EQ(agreed.value(it.key(), it.value()), it.value()) << it.key().toStdString() << " differs in child " << i;
      agreed.insert(it.key(), it.value());
    }
  }
  ASSERT_EQ(agreed.size(), 5);
  const QList<quint32> distinct = agreed.values();
  EXPECT_EQ(QSet<quint32>(distinct.begin(), distinct.end()).size(), 5);

  // A process that starts later in the same session gets the same number.
  auto later = startRegistering({"@startup"}, session.path());
  EXPECT_EQ(numbersOf(*later).value("qnapplyshowed"), agreed.value("qnapplyshowed"));
}
