#include <gtest/gtest.h>

#include <sys/stat.h>
#include <QDir>
#include <QFileInfo>

#include "fileutils/_QnFileUtils.h"
#include "platform/base/Exception.h"
#include "platform/os/RegisteredMessages.h"
#include "progress/QnProgressSink.h"
#include "progress/QnProgressbarForm.h"
#include "tests/support/TempFolder.h"

TEST(FileCopy, CopiesInBlocksAndReportsEachOne) {
  TempFolder temp;
  const QString source = temp.Write("a.txt", PatternBytes(100000));
  TProgressNotifier notifier;
  std::vector<std::tuple<QString, qint32, quint8>> reports;
  notifier.OnNotify = [&](const QString& text, qint32 value, quint8 kind) { reports.emplace_back(text, value, kind); };
  ASSERT_TRUE(CopyFileWithProgress(source, temp.Path() + "a2.txt", false, true, &notifier));
  EXPECT_EQ(ReadFile(temp.Path() + "a2.txt"), PatternBytes(100000));
  const std::vector<std::tuple<QString, qint32, quint8>> expected = {
      {"Sto copiando il file a.txt in a2.txt", 100000, 0}, {"", 49152, 2}, {"", 98304, 2}, {"", 100000, 2}, {"", 0, 3}};
  EXPECT_EQ(reports, expected);

  reports.clear();
  const QString empty = temp.Write("empty", "");
  EXPECT_TRUE(CopyFileWithProgress(empty, temp.Path() + "empty2", false, false, &notifier));
  EXPECT_TRUE(reports.empty());  // no progress asked
  EXPECT_TRUE(QFileInfo::exists(temp.Path() + "empty2"));
}

TEST(FileCopy, RefusalsAnswerFalseAndKeepTheFiles) {
  TempFolder temp;
  const QString source = temp.Write("s", "source");
  const QString dest = temp.Write("d", "dest");
  EXPECT_FALSE(CopyFileWithProgress(source, dest, true, false));
  EXPECT_EQ(ReadFile(dest), "dest");
  EXPECT_FALSE(CopyFileWithProgress(temp.Path() + "missing", temp.Path() + "x", false, false));
  EXPECT_FALSE(QFileInfo::exists(temp.Path() + "x"));
  EXPECT_FALSE(CopyFileWithProgress(source, source, false, false));  // never onto itself
  EXPECT_FALSE(CopyFileWithProgress(source, temp.Path() + "./s", false, false));
  EXPECT_EQ(ReadFile(source), "source");
  EXPECT_THROW(CopyFileWithProgress(source, temp.Path() + "no/folder/x", false, false), Exception);
  EXPECT_TRUE(CopyFileWithProgress(source, dest, false, false));
  EXPECT_EQ(ReadFile(dest), "source");
  // The target goes before the source is looked at.
  EXPECT_FALSE(CopyFileWithProgress(temp.Path() + "missing", dest, false, false));
  EXPECT_FALSE(QFileInfo::exists(dest));
  EXPECT_EQ(QDir(temp.Path()).entryList(QDir::Files | QDir::Hidden), QStringList{"s"});  // nothing half-made
}

TEST(FileCopy, FifosAreNeitherListedNorCopied) {
  TempFolder temp;
  temp.Write("A/f", "f");
  const QString fifo = temp.Path() + "A/pipe";
  ASSERT_EQ(::mkfifo(QFile::encodeName(fifo).constData(), 0600), 0);
  QStringList names;
  ListFolderFiles(temp.Path() + "A", "*.*", names);
  EXPECT_EQ(names, QStringList{"f"});
  EXPECT_FALSE(CopyFileWithProgress(fifo, temp.Path() + "copy", false, false));  // at once, not waiting for a writer
  EXPECT_FALSE(QFileInfo::exists(temp.Path() + "copy"));
  EXPECT_TRUE(CopyFolderFiles(temp.Path() + "A/*.*", temp.Path() + "B/", false));
  EXPECT_EQ(QDir(temp.Path() + "B").entryList(QDir::Files | QDir::Hidden | QDir::System), QStringList{"f"});
}

TEST(FileCopy, ListsAndCopiesAFolderByPattern) {
  TempFolder temp;
  temp.Write("A/f1", "new f1");
  temp.Write("A/f2.TXT", "f2");
  temp.Write("A/.hidden", "h");
  temp.Write("A/sub/inner", "i");
  temp.Write("B/f1", "old f1");
  QStringList names{"stale"};
  ListFolderFiles(temp.Path() + "A", "*.*", names);
  names.sort();
  EXPECT_EQ(names, (QStringList{".hidden", "f1", "f2.TXT"}));
  ListFolderFiles(temp.Path() + "A", "*.txt", names, true);
  EXPECT_EQ(names.size(), 4);
  ListFolderFiles(temp.Path() + "A", "f?", names);
  EXPECT_EQ(names, QStringList{"f1"});

  EXPECT_FALSE(CopyFolderFiles(temp.Path() + "A/*.*", temp.Path() + "B/", true));
  EXPECT_EQ(ReadFile(temp.Path() + "B/f1"), "old f1");
  EXPECT_EQ(ReadFile(temp.Path() + "B/f2.TXT"), "f2");
  EXPECT_FALSE(QFileInfo::exists(temp.Path() + "B/sub"));
  EXPECT_TRUE(CopyFolderFiles(temp.Path() + "A/*.*", temp.Path() + "B/", false));
  EXPECT_EQ(ReadFile(temp.Path() + "B/f1"), "new f1");
  EXPECT_TRUE(CopyFolderFiles(temp.Path() + "A/*.*", temp.Path() + "C/new/", false));  // destination made
}

TEST(FileCopy, ShellFolderCopyLandsByTheDesktopsRules) {
  TempFolder temp;
  temp.Write("src/a", "a");
  temp.Write("src/deep/b", "b");
  EXPECT_FALSE(ShellCopyFolder(temp.Path() + "missing", temp.Path() + "x"));
  ASSERT_TRUE(ShellCopyFolder(temp.Path() + "src/", temp.Path() + "new/"));  // a new folder: becomes it
  EXPECT_EQ(ReadFile(temp.Path() + "new/deep/b"), "b");
  QDir().mkpath(temp.Path() + "existing");
  ASSERT_TRUE(ShellCopyFolder(temp.Path() + "src", temp.Path() + "existing"));  // an existing one: goes inside
  EXPECT_EQ(ReadFile(temp.Path() + "existing/src/a"), "a");
  EXPECT_FALSE(ShellCopyFolder(temp.Path() + "src", temp.Path() + "src/inside"));
}

TEST(OpenFileRegistry, LookUpsFindTheFirstMatch) {
  OpenFileRegistryStartUp();
  ASSERT_NE(OpenFileRegistry, nullptr);
  EXPECT_EQ(ApplyShowedMessage, RegisterWindowMessage("QNAPPLYSHOWED"));
  EXPECT_GE(ApplyShowedMessage, 0xC000u);
  TqnHandleFileObjectList& list = *OpenFileRegistry;
  list.AddFileItem(7, "Data.BIN");
  list.AddFileItem(7, "other.bin");
  EXPECT_EQ(list.GetFileItem(-1), nullptr);
  EXPECT_EQ(list.GetFileItem(2), nullptr);
  EXPECT_EQ(list.GetFileItemByHandle(7)->FileName, "Data.BIN");
  EXPECT_EQ(list.GetFileItemByName("data.bin"), list.GetFileItem(0));
  EXPECT_EQ(list.GetFileItemByName("/x/data.bin"), nullptr);
  list.DeleteFileItemByName("DATA.bin");
  EXPECT_EQ(list.GetFileItemByHandle(7)->FileName, "other.bin");
  list.DeleteFileItemByName("nothing");
  EXPECT_EQ(list.Count(), 1);
  OpenFileRegistryShutDown();
  EXPECT_EQ(OpenFileRegistry, nullptr);
}

TEST(ProgressOfBulkOperations, TheWindowIsGoneOnEveryWayOut) {
  TQnProgressWindowSink window;
  const ScopedService<ProgressSink> windowInForce(window);
  TempFolder temp;
  const QString source = temp.Write("big.bin", PatternBytes(200000));
  EXPECT_TRUE(CopyFileWithProgress(source, temp.Path() + "copy.bin", false, true));
  EXPECT_EQ(ProgressForm, nullptr);
  TQnZipManager manager;
  EXPECT_TRUE(manager.SaveFiles({source}, {}, temp.Path() + "a.zip", true));
  EXPECT_EQ(ProgressForm, nullptr);
  QByteArray damaged = ReadFile(temp.Path() + "a.zip");
  damaged[damaged.lastIndexOf(QByteArray("PK\x05\x06", 4)) + 19] = '\x7f';  // the directory points past the end
  temp.Write("damaged.zip", damaged);
  EXPECT_THROW(UnzipFile(temp.Path() + "damaged.zip", temp.Path() + "out", true), Exception);
  EXPECT_EQ(ProgressForm, nullptr);
  EXPECT_TRUE(UnzipFile(temp.Path() + "a.zip", temp.Path() + "out", true));
  EXPECT_EQ(ProgressForm, nullptr);
}
