#include <gtest/gtest.h>

#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>
#include <QDir>
#include <QFile>
#include <atomic>
#include <thread>

#include "platform/base/Exception.h"
#include "platform/base/TextFile.h"
#include "tests/support/TempFolder.h"

namespace {

struct stat statusOf(const QString& path) {
  struct stat status {};
  EXPECT_EQ(::stat(QFile::encodeName(path).constData(), &status), 0);
  return status;
}

bool appendLine(DecodedText& content, const QString& line) {
  content.Text += line + "\r\n";
  return true;
}

}  // namespace

TEST(TextFile, MissingUnreadableAndSpecialFiles) {
  TempFolder temp;
  EXPECT_FALSE(textfile::Read(temp.Path() + "missing.ini").has_value());
  EXPECT_FALSE(textfile::Read(temp.Path() + "no/folder/missing.ini").has_value());
  EXPECT_THROW(textfile::Read(temp.Path()), Exception);  // a folder
  const QString fifo = temp.Path() + "fifo";
  ASSERT_EQ(::mkfifo(QFile::encodeName(fifo).constData(), 0600), 0);
  EXPECT_THROW(textfile::Read(fifo), Exception);  // at once: no writer is waited for
  EXPECT_THROW(textfile::Update(fifo, [](DecodedText&) { return true; }), Exception);
  EXPECT_THROW(textfile::Update(temp.Path() + "no/folder/x.ini", [](DecodedText&) { return true; }), Exception);
}

TEST(TextFile, UpdateReplacesTheFileAndKeepsItsModeEncodingAndLinks) {
  TempFolder temp;
  const QString path = temp.Path() + "s.ini";
  textfile::Update(path, [](DecodedText& content) { return appendLine(content, "[S]"); });
  EXPECT_EQ(ReadFile(path), "[S]\r\n");  // made from nothing: no mark

  temp.Write("u.ini", EncodeText("[U]\r\n", TextEncoding::Utf16LittleEndian));
  ASSERT_EQ(::chmod(QFile::encodeName(temp.Path() + "u.ini").constData(), 0640), 0);
  const ino_t before = statusOf(temp.Path() + "u.ini").st_ino;
  ASSERT_TRUE(QFile::link(temp.Path() + "u.ini", temp.Path() + "link.ini"));
  textfile::Update(temp.Path() + "link.ini", [](DecodedText& content) { return appendLine(content, "k=v"); });
  EXPECT_TRUE(QFileInfo(temp.Path() + "link.ini").isSymLink());
  EXPECT_EQ(ReadFile(temp.Path() + "u.ini"), EncodeText("[U]\r\nk=v\r\n", TextEncoding::Utf16LittleEndian));
  const struct stat after = statusOf(temp.Path() + "u.ini");
  EXPECT_NE(after.st_ino, before);  // replaced whole, not rewritten
  EXPECT_EQ(after.st_mode & 07777, 0640u);

  // A change that raises, or declines, leaves the file as it was.
  EXPECT_THROW(textfile::Update(path,
                                [](DecodedText& content) -> bool {
                                  content.Text = "lost";
                                  throw Exception("no");
                                }),
               Exception);
  textfile::Update(path, [](DecodedText& content) {
    content.Text = "lost";
    return false;
  });
  EXPECT_EQ(ReadFile(path), "[S]\r\n");
}

TEST(TextFile, AnUpdateWaitsForTheLockAndSeesTheHoldersChange) {
  TempFolder temp;
  const QString path = temp.Write("s.ini", "a\r\n");
  const int holder = ::open(QFile::encodeName(path).constData(), O_RDONLY);
  ASSERT_EQ(::flock(holder, LOCK_EX), 0);
  std::atomic<bool> done{false};
  std::thread writer([&] {
    textfile::Update(path, [](DecodedText& content) { return appendLine(content, "c"); });
    done = true;
  });
  std::this_thread::sleep_for(std::chrono::milliseconds(50));
  EXPECT_FALSE(done);
  // The holder replaces the file (as our writers do) before it lets go.
  temp.Write("next.ini", "a\r\nb\r\n");
  ASSERT_EQ(::rename(QFile::encodeName(temp.Path() + "next.ini").constData(), QFile::encodeName(path).constData()), 0);
  ::close(holder);
  writer.join();
  EXPECT_EQ(ReadFile(path), "a\r\nb\r\nc\r\n");
}

TEST(TextFile, WhatKilledWritersLeftIsClearedByTheNextWrite) {
  TempFolder temp;
  const QString path = temp.Write("s.ini", "a\r\n");
  temp.Write(".s.ini.abcdef.tmp", "half");
  temp.Write(".s.ini.keep", "not ours");
  temp.Write(".other.ini.abcdef.tmp", "another file's");
  textfile::Update(path, [](DecodedText& content) { return appendLine(content, "b"); });
  QStringList names = QDir(temp.Path()).entryList(QDir::Files | QDir::Hidden);
  names.sort();
  EXPECT_EQ(names, (QStringList{".other.ini.abcdef.tmp", ".s.ini.keep", "s.ini"}));
}
