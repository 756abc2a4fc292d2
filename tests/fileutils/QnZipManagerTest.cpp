#include <gtest/gtest.h>

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QProcess>

#include "fileutils/_QnFileUtils.h"
#include "platform/base/Exception.h"
#include "tests/platform/zip/HandZip.h"
#include "tests/platform/zip/ZipTestTools.h"
#include "tests/support/TempFolder.h"

namespace {

using infozip::RunTool;
using infozip::TestPasses;

// A small tree of mixed files, sub-folders and a UTF-8 name.
void makeTree(const TempFolder& temp, const QString& under) {
  temp.Write(under + "/setup", "#!/bin/sh\necho installed\n");
  QFile::setPermissions(temp.Path() + under + "/setup", QFileDevice::ReadOwner | QFileDevice::WriteOwner |
                                                            QFileDevice::ExeOwner | QFileDevice::ReadGroup);
  temp.Write(under + "/data/lib.bin", PatternBytes(300000));
  temp.Write(under + "/data/empty.txt", "");
  temp.Write(under + QString::fromUtf8("/d\xc3\xa8j\xc3\xa0/caf\xc3\xa9.txt"), QByteArray(5000, 'z'));
}

QStringList treeFiles(const QString& folder) {
  QStringList files;
  QDir root(folder);
  const QStringList all = root.entryList(QDir::Files, QDir::Name);
  for (const QString& f : all) files << f;
  for (const QString& sub : root.entryList(QDir::Dirs | QDir::NoDotAndDotDot, QDir::Name))
    for (const QString& f : treeFiles(folder + "/" + sub)) files << sub + "/" + f;
  return files;
}

void expectSameTree(const QString& expected, const QString& actual) {
  const QStringList files = treeFiles(expected);
  ASSERT_EQ(treeFiles(actual), files);
  for (const QString& f : files) EXPECT_EQ(ReadFile(actual + "/" + f), ReadFile(expected + "/" + f)) << f.toStdString();
}

}  // namespace

TEST(QnZipManager, NotAnArchiveAnswersFalseAndStillMakesTheFolder) {
  TempFolder temp;
  const QString notZip = temp.Write("x.zip", "plain text, no end record");
  QStringList names{"stale"};
  EXPECT_FALSE(UnzipFile(notZip, temp.Path() + "out/deeper", false));
  EXPECT_TRUE(QDir(temp.Path() + "out/deeper").exists());
  EXPECT_FALSE(GetZipFileList(notZip, names));
  EXPECT_TRUE(names.isEmpty());
  EXPECT_EQ(GetFirstZipFileName(notZip), "");
  EXPECT_EQ(GetFirstZipFileName(temp.Path() + "missing.zip"), "");
}

TEST(QnZipManager, ArchivesMadeByInfoZipExtractByteForByte) {
  TempFolder temp;
  makeTree(temp, "src");
  struct Case {
    const char* name;
    QStringList zipArguments;
    bool streamed;  // through stdout: entries carry data descriptors
  };
  const Case cases[] = {
      {"deflated", {"-q", "-r"}, false},
      {"stored", {"-q", "-r", "-0"}, false},
      {"streamed with data descriptors", {"-q", "-r", "-fz-"}, true},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    const QString archive = temp.Path() + c.name + QString(".zip");
    if (c.streamed) {
      QProcess zip;
      zip.setWorkingDirectory(temp.Path() + "src");
      zip.setStandardOutputFile(archive);
      zip.start("zip", c.zipArguments + QStringList{"-", "."});
      ASSERT_TRUE(zip.waitForFinished(60000));
    } else {
      ASSERT_EQ(RunTool("zip", c.zipArguments + QStringList{archive, "."}, temp.Path() + "src").code, 0);
    }
    QStringList names;
    ASSERT_TRUE(GetZipFileList(archive, names));
    QStringList expectedNames = infozip::Names(archive);
    EXPECT_EQ(names, expectedNames);
    const QString out = temp.Path() + "out-" + c.name;
    ASSERT_TRUE(UnzipFile(archive, out, false));  // no trailing separator: into that folder
    expectSameTree(temp.Path() + "src", out);
    EXPECT_TRUE(QFileInfo(out + "/setup").isExecutable());
  }
}

TEST(QnZipManager, SaveFilesWritesWhatInfoZipAccepts) {
  TempFolder temp;
  makeTree(temp, "src");
  const QStringList files{temp.Path() + "src/setup", temp.Path() + "src/data/lib.bin",
                          temp.Path() + "src/data/empty.txt"};
  TQnZipManager manager;
  ASSERT_TRUE(manager.SaveFiles(files, temp.Path(), temp.Path() + "new.zip", false));
  EXPECT_TRUE(TestPasses(temp.Path() + "new.zip"));
  EXPECT_EQ(infozip::Names(temp.Path() + "new.zip"), (QStringList{"setup", "lib.bin", "empty.txt"}));
  ASSERT_EQ(RunTool("unzip", {"-q", temp.Path() + "new.zip", "-d", temp.Path() + "byunzip"}).code, 0);
  EXPECT_EQ(ReadFile(temp.Path() + "byunzip/lib.bin"), PatternBytes(300000));
  EXPECT_TRUE(QFileInfo(temp.Path() + "byunzip/setup").isExecutable());

  // An empty list still writes a valid archive; a missing file reaches the caller.
  EXPECT_FALSE(manager.SaveFiles({}, {}, temp.Path() + "empty.zip", false));
  EXPECT_TRUE(ZipFile::IsValid(temp.Path() + "empty.zip"));
  EXPECT_EQ(GetFirstZipFileName(temp.Path() + "empty.zip"), "");
  EXPECT_THROW(manager.SaveFiles({files[0], temp.Path() + "nope", files[1]}, {}, temp.Path() + "part.zip", false),
               Exception);
  EXPECT_EQ(infozip::Names(temp.Path() + "part.zip"), QStringList{"setup"});
}

TEST(QnZipManager, ExtractionMakesFoldersAndReplacesExistingFiles) {
  TempFolder temp;
  temp.Write("src/Setup/setup", "new setup");
  temp.Write("src/Setup/data/lib.dll", "lib");
  ASSERT_EQ(RunTool("zip", {"-q", "-r", temp.Path() + "p.zip", "Setup"}, temp.Path() + "src").code, 0);
  EXPECT_EQ(GetFirstZipFileName(temp.Path() + "p.zip"), "Setup/");
  const QString existing = temp.Write("P/Setup/setup", "an older file, newer on disk");
  QFile::setPermissions(existing, QFileDevice::ReadOwner);  // read-only: replaced all the same
  ASSERT_TRUE(UnzipFile(temp.Path() + "p.zip", temp.Path() + "P/", false));
  EXPECT_EQ(ReadFile(temp.Path() + "P/Setup/setup"), "new setup");
  EXPECT_EQ(ReadFile(temp.Path() + "P/Setup/data/lib.dll"), "lib");
}

TEST(QnZipManager, UpdateReplacesAndRemovesEntriesByCompaction) {
  TempFolder temp;
  const QString a = temp.Write("a/x.txt", "first content");
  const QString b = temp.Write("b/x.txt", "second, longer content");
  const QString archive = temp.Path() + "u.zip";
  TQnZipManager manager;
  manager.Open(archive);
  manager.AddFile(a);
  manager.Close();
  manager.Open(archive);
  manager.AddFile(b);  // replaces x.txt
  manager.Close();
  EXPECT_EQ(infozip::Names(archive), QStringList{"x.txt"});
  EXPECT_TRUE(TestPasses(archive));
  manager.Open(archive);
  manager.ExtractFile("x.txt", temp.Path() + "check");
  manager.Close();
  EXPECT_EQ(ReadFile(temp.Path() + "check/x.txt"), "second, longer content");

  // Three entries; removing the middle one shortens the file by exactly its block.
  const QString one = temp.Write("one.bin", PatternBytes(10000));
  const QString two = temp.Write("two.bin", PatternBytes(20000));
  const QString three = temp.Write("three.bin", PatternBytes(30000));
  ASSERT_TRUE(manager.SaveFiles({one, two, three}, {}, temp.Path() + "t.zip", false));
  ZipFile reader;
  reader.Open(temp.Path() + "t.zip", ZipMode::Read);
  const quint32 secondAt = reader.Records()[1].LocalHeaderOffset;
  const quint32 thirdAt = reader.Records()[2].LocalHeaderOffset;
  const qint64 sizeBefore = QFileInfo(temp.Path() + "t.zip").size();
  const qint64 directoryEntry = reader.Records()[1].Serialized().size();
  reader.Close();
  manager.Open(temp.Path() + "t.zip");
  manager.DeleteFile("C:\\somewhere\\TWO.BIN");  // ASCII case does not matter; the path is cut off
  manager.Close();
  EXPECT_EQ(QFileInfo(temp.Path() + "t.zip").size(), sizeBefore - (thirdAt - secondAt) - directoryEntry);
  reader.Open(temp.Path() + "t.zip", ZipMode::Read);
  ASSERT_EQ(reader.FileCount(), 2);
  EXPECT_EQ(reader.Records()[1].LocalHeaderOffset, secondAt);
  reader.Close();
  EXPECT_TRUE(TestPasses(temp.Path() + "t.zip"));

  // Removing the last entry moves nothing: the file is cut at its local header.
  manager.Open(temp.Path() + "t.zip");
  manager.DeleteFile("three.bin");
  manager.DeleteFile("not-there.bin");
  manager.Close();
  EXPECT_EQ(infozip::Names(temp.Path() + "t.zip"), QStringList{"one.bin"});
  ASSERT_TRUE(UnzipFile(temp.Path() + "t.zip", temp.Path() + "t", false));
  EXPECT_EQ(ReadFile(temp.Path() + "t/one.bin"), PatternBytes(10000));
}

TEST(QnZipManager, HostileArchivesAreRefusedWithoutWritingOutside) {
  TempFolder temp;
  struct Case {
    const char* name;
    QByteArray placeholder, hostile;  // same length: the stored name is patched in place
  };
  const Case names[] = {
      {"parent", "zz/x", "../x"},
      {"absolute", "abcdef", "/tmp/x"},
      {"nested climb", "abcdefghi", "a/../../x"},
  };
  for (const Case& c : names) {
    SCOPED_TRACE(c.name);
    const QString file = temp.Write(QString("in/") + c.placeholder, "payload");
    const QString archive = temp.Path() + c.name + QString(".zip");
    ASSERT_EQ(RunTool("zip", {"-q", archive, QString(c.placeholder)}, temp.Path() + "in").code, 0);
    QByteArray bytes = ReadFile(archive);
    bytes.replace(c.placeholder, c.hostile);
    temp.Write(QString(c.name) + ".zip", bytes);
    const QString destination = temp.Path() + "dest/" + c.name;
    try {
      UnzipFile(archive, destination, false);
      FAIL() << "accepted";
    } catch (const Exception& error) {
      EXPECT_TRUE(error.Message().contains(QString(c.hostile))) << error.what();
    }
    EXPECT_FALSE(QFileInfo::exists(temp.Path() + "dest/x"));
    EXPECT_FALSE(QFileInfo::exists(temp.Path() + "x"));
    QFile::remove(file);
  }
  EXPECT_FALSE(QFileInfo::exists("/tmp/x"));

  // A link entry pointing out is written as a plain file, never as a link.
  QDir().mkpath(temp.Path() + "links");
  QFile::link("../../outside-target", temp.Path() + "links/evil");
  ASSERT_EQ(RunTool("zip", {"-q", "-y", temp.Path() + "link.zip", "evil"}, temp.Path() + "links").code, 0);
  ASSERT_TRUE(UnzipFile(temp.Path() + "link.zip", temp.Path() + "linkdest", false));
  EXPECT_FALSE(QFileInfo(temp.Path() + "linkdest/evil").isSymLink());
  EXPECT_EQ(ReadFile(temp.Path() + "linkdest/evil"), "../../outside-target");
}

TEST(QnZipManager, DamagedArchivesGiveClearErrors) {
  TempFolder temp;
  const QString data = temp.Write("in/data.bin", PatternBytes(100000));
  ASSERT_EQ(RunTool("zip", {"-q", temp.Path() + "good.zip", "data.bin"}, temp.Path() + "in").code, 0);
  const QByteArray good = ReadFile(temp.Path() + "good.zip");
  const qsizetype central = good.indexOf(QByteArray("PK\x01\x02", 4));
  const qsizetype end = good.lastIndexOf(QByteArray("PK\x05\x06", 4));

  QByteArray wrongCrc = good;  // in both headers: only the data can tell
  wrongCrc[central + 16] = static_cast<char>(wrongCrc[central + 16] ^ 0x5a);
  wrongCrc[14] = static_cast<char>(wrongCrc[14] ^ 0x5a);
  QByteArray centralCrcOnly = good;
  centralCrcOnly[central + 16] = static_cast<char>(centralCrcOnly[central + 16] ^ 0x5a);
  QByteArray pastEnd = good;
  pastEnd[end + 19] = '\x7f';  // directory offset far beyond the file
  QByteArray offsetOut = good;
  offsetOut[central + 45] = '\x70';  // local header offset beyond the data
  QByteArray corruptData = good;
  corruptData[200] = static_cast<char>(corruptData[200] ^ 0xff);
  QByteArray truncatedEntry = good.left(1000) + good.mid(central);  // directory kept, data cut

  struct Case {
    const char* name;
    QByteArray bytes;
    const char* message;
  };
  const Case cases[] = {
      {"wrong crc", wrongCrc, "CRC-32 mismatch"},
      {"headers disagree", centralCrcOnly, "local header gives other sizes or another CRC-32"},
      {"directory past the end", pastEnd, "points past the end of the file"},
      {"offset outside", offsetOut, "points past the archive's data"},
      {"corrupt data", corruptData, "data.bin"},
      {"truncated entry", truncatedEntry, "points past the end of the file"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    const QString archive = temp.Write(QString(c.name) + ".zip", c.bytes);
    try {
      UnzipFile(archive, temp.Path() + "out", false);
      FAIL() << "accepted";
    } catch (const Exception& error) {
      EXPECT_TRUE(error.Message().contains(c.message)) << error.what();
    }
    EXPECT_FALSE(QFileInfo::exists(temp.Path() + "out/data.bin"));  // nothing corrupt left behind
  }
  EXPECT_FALSE(UnzipFile(temp.Write("cut.zip", good.left(good.size() / 2)), temp.Path() + "out", false));
}

TEST(QnZipManager, NamesWithANulAreRefusedAndNeverWriteThroughALink) {
  TempFolder temp;
  const QString victim = temp.Write("outside/victim.txt", "must stay as it is");
  QDir().mkpath(temp.Path() + "dest");
  ASSERT_TRUE(QFile::link(victim, temp.Path() + "dest/prelink"));
  struct Case {
    const char* name;
    QByteArray stored;  // a path cut at the NUL would name "good" or the link
    const char* shown;
  };
  const Case cases[] = {
      {"cut short to a plain name", QByteArray("good\0.txt", 9), "good\\x00.txt"},
      {"cut short to a link", QByteArray("prelink\0", 8), "prelink\\x00"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    handzip::Builder builder;
    builder.Put("first.txt", "before the hostile entry");
    builder.Put(c.stored, "payload");
    const QString archive = temp.Write(QString(c.name) + ".zip", builder.Finish());
    const QByteArray original = ReadFile(archive);
    EXPECT_TRUE(ErrorOf([&] { UnzipFile(archive, temp.Path() + "dest", false); }).contains(c.shown));
    EXPECT_EQ(ReadFile(victim), "must stay as it is");
    EXPECT_EQ(QDir(temp.Path() + "dest").entryList(QDir::AllEntries | QDir::NoDotAndDotDot | QDir::System),
              QStringList{"prelink"});  // refused before the first file
    EXPECT_EQ(ReadFile(archive), original);
    EXPECT_TRUE(TestPasses(archive));  // the data is sound: only the name is refused
  }
}

TEST(QnZipManager, AnArchiveIsNeverAddedToItself) {
  TempFolder temp;
  const QString a = temp.Write("a.txt", "alpha");
  const QString archive = temp.Path() + "self.zip";
  TQnZipManager manager;
  manager.Open(archive);
  manager.AddFile(a);
  EXPECT_TRUE(ErrorOf([&] { manager.AddFile(archive); }).contains("cannot add the archive to itself"));
  manager.Close();
  EXPECT_TRUE(TestPasses(archive));
  EXPECT_EQ(infozip::Names(archive), QStringList{"a.txt"});

  // SaveFiles refuses before the target is emptied, whether it exists yet or not, under any
  // spelling of its path.
  const QByteArray before = ReadFile(archive);
  const QString respelled = temp.Path() + "sub/../self.zip";
  QDir().mkpath(temp.Path() + "sub");
  for (const QString& target : {archive, respelled}) {
    EXPECT_TRUE(ErrorOf([&] { manager.SaveFiles({a, archive}, {}, target, false); }).contains("to itself"));
    EXPECT_EQ(ReadFile(archive), before);
  }
  EXPECT_TRUE(TestPasses(archive));
  const QString fresh = temp.Path() + "fresh.zip";
  EXPECT_TRUE(ErrorOf([&] { manager.SaveFiles({a, fresh}, {}, fresh, false); }).contains("to itself"));
  EXPECT_FALSE(QFileInfo::exists(fresh));
}

TEST(QnZipManager, SaveFilesWritesEveryEntryCountTheFormatAllowsAndRefusesOneMore) {
  TempFolder temp;
  const QString empty = temp.Write("e", "");
  const QString archive = temp.Path() + "full.zip";
  TQnZipManager manager;
  ASSERT_TRUE(manager.SaveFiles(QStringList(65535, empty), {}, archive, false));
  EXPECT_TRUE(TestPasses(archive));
  QStringList names;
  ASSERT_TRUE(GetZipFileList(archive, names));
  EXPECT_EQ(names.size(), 65535);
  EXPECT_EQ(GetFirstZipFileName(archive), "e");

  // One more through AddFile: refused, and the archive stays whole.
  manager.Open(archive);
  EXPECT_TRUE(ErrorOf([&] { manager.AddFile(temp.Write("f", "")); }).contains("65,535 entries"));
  manager.Close();
  EXPECT_TRUE(TestPasses(archive));
  ASSERT_TRUE(GetZipFileList(archive, names));
  EXPECT_EQ(names.size(), 65535);

  // 65,536 files: refused before the archive is made (the files need not even exist).
  EXPECT_TRUE(ErrorOf([&] {
                manager.SaveFiles(QStringList(65536, temp.Path() + "missing"), {}, temp.Path() + "over.zip", false);
              }).contains("cannot hold 65536 files"));
  EXPECT_FALSE(QFileInfo::exists(temp.Path() + "over.zip"));
}

TEST(QnZipManager, ZipBombsAndOversizeExtractionsAreStopped) {
  TempFolder temp;
  const QString bombArchive = temp.Write("bomb.zip", handzip::SharedBlockBomb(20, 10 << 20, ".bin"));
  EXPECT_TRUE(ErrorOf([&] { UnzipFile(bombArchive, temp.Path() + "bomb", false); }).contains("zip bomb"));
  EXPECT_TRUE(IsEmptyFolder(temp.Path() + "bomb"));
  EXPECT_FALSE(TestPasses(bombArchive));  // Info-ZIP refuses it as well

  // A limit the caller sets: the whole archive is refused, a single entry that fits is not.
  temp.Write("src/a.bin", PatternBytes(60000));
  temp.Write("src/b.bin", PatternBytes(60000));
  const QString archive = temp.Path() + "two.zip";
  ASSERT_EQ(RunTool("zip", {"-q", archive, "a.bin", "b.bin"}, temp.Path() + "src").code, 0);
  TQnZipManager manager;
  manager.SetExtractLimit(100000);
  EXPECT_TRUE(ErrorOf([&] {
                manager.ExtractFiles(archive, temp.Path() + "limited", false);
              }).contains("more than the limit of 100000 bytes"));
  EXPECT_TRUE(IsEmptyFolder(temp.Path() + "limited"));
  manager.Open(archive);
  manager.ExtractFile("b.bin", temp.Path() + "limited");
  manager.Close();
  EXPECT_EQ(ReadFile(temp.Path() + "limited/b.bin"), PatternBytes(60000));
  EXPECT_TRUE(TestPasses(archive));
}

TEST(QnZipManager, AHardLinkInTheDestinationIsReplacedNotWrittenThrough) {
  TempFolder temp;
  temp.Write("src/file.txt", "from the archive");
  const QString archive = temp.Path() + "h.zip";
  ASSERT_EQ(RunTool("zip", {"-q", archive, "file.txt"}, temp.Path() + "src").code, 0);
  const QString victim = temp.Write("outside/victim.txt", "must stay as it is");
  QDir().mkpath(temp.Path() + "dest");
  ASSERT_EQ(RunTool("ln", {victim, temp.Path() + "dest/file.txt"}).code, 0);
  ASSERT_TRUE(UnzipFile(archive, temp.Path() + "dest", false));
  EXPECT_EQ(ReadFile(temp.Path() + "dest/file.txt"), "from the archive");
  EXPECT_EQ(ReadFile(victim), "must stay as it is");
  EXPECT_TRUE(TestPasses(archive));
}

TEST(QnZipManager, UpdateKeepsTheArchiveComment) {
  TempFolder temp;
  temp.Write("src/a.txt", "alpha");
  temp.Write("src/b.txt", "beta");
  const QString archive = temp.Path() + "c.zip";
  ASSERT_EQ(RunTool("zip", {"-qz", archive, "a.txt", "b.txt"}, temp.Path() + "src", "kept across updates\n.\n").code,
            0);
  TQnZipManager manager;
  manager.Open(archive);
  manager.AddFile(temp.Write("c.txt", "gamma"));
  manager.DeleteFile("a.txt");
  manager.Close();
  EXPECT_TRUE(TestPasses(archive));
  EXPECT_EQ(infozip::Names(archive), (QStringList{"b.txt", "c.txt"}));
  EXPECT_EQ(infozip::Comment(archive).trimmed(), "kept across updates");
}

TEST(QnZipManager, NestedEntriesAreReachedWithForwardSlashesHoweverTheyAreStored) {
  TempFolder temp;
  const QString archive = temp.Path() + "nested.zip";
  ASSERT_EQ(RunTool("python3", {"-c",
                                "import sys, zipfile\n"
                                "with zipfile.ZipFile(sys.argv[1], 'w', zipfile.ZIP_DEFLATED) as z:\n"
                                "    z.writestr('Win\\\\Setup\\\\setup.bin', 'stored with backslashes')\n"
                                "    z.writestr('sub/', '')\n"
                                "    z.writestr('sub/rand.bin', 'stored with slashes')\n"
                                "    z.writestr('top.txt', 'at the top')\n",
                                archive})
                .code,
            0);
  const QStringList listed{"Win/Setup/setup.bin", "sub/", "sub/rand.bin", "top.txt"};
  QStringList names;
  ASSERT_TRUE(GetZipFileList(archive, names));
  EXPECT_EQ(names, listed);

  // The first name is where the whole extraction put that file.
  ASSERT_TRUE(UnzipFile(archive, temp.Path() + "all", false));
  EXPECT_EQ(ReadFile(temp.Path() + "all/" + GetFirstZipFileName(archive)), "stored with backslashes");

  TQnZipManager manager;
  manager.Open(archive);
  manager.ExtractFile("sub/rand.bin", temp.Path() + "one");
  manager.ExtractFile("win/setup/SETUP.BIN", temp.Path() + "one");  // ASCII case does not matter
  EXPECT_EQ(ReadFile(temp.Path() + "one/sub/rand.bin"), "stored with slashes");
  EXPECT_EQ(ReadFile(temp.Path() + "one/Win/Setup/setup.bin"), "stored with backslashes");

  // A file named like a nested entry is added at the top and leaves the nested one alone.
  manager.AddFile(temp.Write("elsewhere/rand.bin", "added at the top"));
  manager.DeleteFile("Win/Setup/setup.bin");
  manager.DeleteFile("sub/rand.bin");
  manager.Close();
  EXPECT_TRUE(TestPasses(archive));
  EXPECT_EQ(infozip::Names(archive), (QStringList{"sub/", "top.txt", "rand.bin"}));
  ASSERT_EQ(RunTool("unzip", {"-q", archive, "-d", temp.Path() + "check"}).code, 0);
  EXPECT_EQ(ReadFile(temp.Path() + "check/rand.bin"), "added at the top");
  EXPECT_EQ(ReadFile(temp.Path() + "check/top.txt"), "at the top");
}
