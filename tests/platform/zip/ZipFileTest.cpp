// The zip reader/writer on its own, cross-checked with Info-ZIP both ways, and fed the
// archives no honest tool writes.
#include "platform/zip/ZipFile.h"

#include <gtest/gtest.h>

#include <QDir>
#include <QFileInfo>
#include <QStorageInfo>

#include "platform/base/Exception.h"
#include "tests/platform/zip/HandZip.h"
#include "tests/platform/zip/ZipTestTools.h"
#include "tests/support/TempFolder.h"

namespace {

using infozip::RunTool;

}  // namespace

TEST(ZipFile, InfoZipReadsWhatItWritesAndItReadsWhatInfoZipWrites) {
  TempFolder temp;
  struct File {
    QString name;
    QByteArray content;
  };
  const File files[] = {
      {"empty", ""},
      {"one", "x"},
      {"random.bin", PatternBytes(300000)},
      {"zeros/many.bin", QByteArray(3 << 20, '\0')},  // deflates to far less than its block
      {QString::fromUtf8("d\xc3\xa8j\xc3\xa0/caf\xc3\xa9.txt"), "caf\xc3\xa9"},
  };
  ZipFile zip;
  zip.Open(temp.Path() + "ours.zip", ZipMode::Write);
  QStringList names;
  for (const File& f : files) {
    zip.Add(temp.Write("src/" + f.name, f.content), f.name);
    names << f.name;
  }
  zip.Close();
  ASSERT_TRUE(infozip::TestPasses(temp.Path() + "ours.zip"));
  EXPECT_EQ(infozip::Names(temp.Path() + "ours.zip"), names);
  ASSERT_EQ(RunTool("unzip", {"-q", temp.Path() + "ours.zip", "-d", temp.Path() + "by-unzip"}).code, 0);
  for (const File& f : files)
    EXPECT_EQ(ReadFile(temp.Path() + "by-unzip/" + f.name), f.content) << f.name.toStdString();

  // Info-ZIP's own archive, deflated and stored, read and extracted here.
  for (const QString& level : {QStringLiteral("-6"), QStringLiteral("-0")}) {
    SCOPED_TRACE(level.toStdString());
    const QString archive = temp.Path() + "theirs" + level + ".zip";
    ASSERT_EQ(RunTool("zip", {"-qr", level, archive, "."}, temp.Path() + "src").code, 0);
    zip.Open(archive, ZipMode::Read);
    QStringList read;
    for (int i = 0; i < zip.FileCount(); ++i) read << zip.FileName(i);
    EXPECT_EQ(read, infozip::Names(archive));
    const QString out = temp.Path() + "out" + level;
    zip.ExtractAll(out);
    zip.Close();
    for (const File& f : files) EXPECT_EQ(ReadFile(out + "/" + f.name), f.content) << f.name.toStdString();
  }
}

TEST(ZipFile, HoldsAndReadsBackEveryEntryCountTheFormatAllows) {
  // Written by another tool (this writer's own 65,535 entries are checked with the
  // manager's SaveFiles): small empty entries, no zip64 record.
  TempFolder temp;
  const QString empty = temp.Write("empty", "");
  const QString archive = temp.Path() + "full.zip";
  ASSERT_EQ(RunTool("python3", {"-c",
                                "import sys, zipfile\n"
                                "with zipfile.ZipFile(sys.argv[1], 'w') as z:\n"
                                "    for i in range(65535): z.writestr(str(i), '')\n",
                                archive})
                .code,
            0);
  ASSERT_TRUE(infozip::TestPasses(archive));
  ZipFile zip;

  // 0xFFFF in the end record is a count here, not a zip64 marker.
  zip.Open(archive, ZipMode::ReadWrite);
  ASSERT_EQ(zip.FileCount(), 65535);
  EXPECT_EQ(zip.FileName(65534), "65534");
  const qint64 sizeBefore = QFileInfo(archive).size();
  EXPECT_TRUE(ErrorOf([&] { zip.Add(empty, "one too many"); }).contains("65,535 entries"));
  EXPECT_EQ(QFileInfo(archive).size(), sizeBefore);  // refused before a byte was written
  zip.Close();
  EXPECT_TRUE(infozip::TestPasses(archive));
  zip.Open(archive, ZipMode::Read);
  EXPECT_EQ(zip.FileCount(), 65535);
  zip.Close();

  // With a zip64 locator before the end record, the same all-ones count is a marker.
  handzip::Builder builder;
  builder.Put("a.txt", "a");
  QByteArray zip64 = builder.Finish({}, 0xFFFF);
  QByteArray locator;
  bytes::append32(locator, zipformat::kZip64LocatorSignature);
  locator += QByteArray(16, '\0');
  zip64.insert(zip64.size() - zipformat::kEndOfDirectorySize, locator);
  EXPECT_TRUE(ErrorOf([&] { zip.Open(temp.Write("zip64.zip", zip64), ZipMode::Read); }).contains("zip64"));
}

TEST(ZipFile, UpdateKeepsTheArchiveComment) {
  TempFolder temp;
  temp.Write("src/a.txt", "alpha");
  const QString archive = temp.Path() + "c.zip";
  const QByteArray comment = "Release 7.2\nbuilt for the field";
  ASSERT_EQ(RunTool("zip", {"-qz", archive, "a.txt"}, temp.Path() + "src", comment + "\n.\n").code, 0);
  const QByteArray original = ReadFile(archive);

  ZipFile zip;
  zip.Open(archive, ZipMode::ReadWrite);
  zip.Close();
  EXPECT_EQ(ReadFile(archive), original);  // opened and closed: the same bytes

  zip.Open(archive, ZipMode::ReadWrite);
  zip.Add(temp.Write("b.txt", "beta"), "b.txt");
  zip.Close();
  EXPECT_TRUE(infozip::TestPasses(archive));
  EXPECT_EQ(infozip::Names(archive), (QStringList{"a.txt", "b.txt"}));
  EXPECT_EQ(infozip::Comment(archive).trimmed(), QString::fromUtf8(comment));
}

TEST(ZipFile, EntriesThatShareOrOverlapTheirDataAreRefused) {
  TempFolder temp;
  // Twenty records on one deflated block: 20 x 10 MiB from about 10 KiB.
  const QString sharedBomb = temp.Write("shared.zip", handzip::SharedBlockBomb(20, 10 << 20));

  // An entry whose stored data holds the next entry, header and all.
  const handzip::Entry inner = handzip::MakeEntry("inner.bin", QByteArray(1 << 20, 'i'));
  handzip::Builder nested;
  handzip::Record& outer = nested.Put("outer.bin", handzip::LocalHeader(inner.record) + inner.data, false);
  handzip::Record innerRecord = inner.record;
  innerRecord.offset = outer.offset + zipformat::kLocalHeaderSize + outer.name.size();
  nested.records.push_back(innerRecord);
  const QString nestedBomb = temp.Write("nested.zip", nested.Finish());

  struct Case {
    const char* name;
    QString archive;
    const char* message;
  };
  const Case cases[] = {
      {"records sharing one block", sharedBomb, "overlap (they share their data)"},
      {"data holding the next entry", nestedBomb, "overlaps the next entry"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    const QString out = temp.Path() + "out-" + c.name;
    ZipFile zip;
    EXPECT_TRUE(ErrorOf([&] {
                  zip.Open(c.archive, ZipMode::Read);
                  zip.ExtractAll(out);
                }).contains(c.message));
    EXPECT_TRUE(IsEmptyFolder(out));               // refused before the first file
    EXPECT_FALSE(infozip::TestPasses(c.archive));  // Info-ZIP refuses them too
  }
}

TEST(ZipFile, LocalHeadersMustAgreeWithTheDirectory) {
  TempFolder temp;
  struct Case {
    const char* name;
    void (*change)(handzip::Record&);
    const char* message;
  };
  const Case cases[] = {
      {"other name", [](handzip::Record& r) { r.name = "b.txt"; }, "names another entry"},
      {"other method", [](handzip::Record& r) { r.method = 0; }, "another compression method"},
      {"other size", [](handzip::Record& r) { r.uncompressedSize += 1; }, "other sizes"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    handzip::Builder builder;
    builder.Put("a.txt", QByteArray(1000, 'a'));
    c.change(builder.records.back());  // the directory now says something else
    const QString archive = temp.Write(QString(c.name) + ".zip", builder.Finish());
    ZipFile zip;
    zip.Open(archive, ZipMode::Read);
    EXPECT_TRUE(ErrorOf([&] { zip.ExtractAll(temp.Path() + "out"); }).contains(c.message));
    EXPECT_TRUE(IsEmptyFolder(temp.Path() + "out"));
  }
}

TEST(ZipFile, ExtractionStaysWithinItsLimitAndTheFreeSpace) {
  TempFolder temp;
  handzip::Builder builder;
  for (const char* name : {"a", "b", "c"}) builder.Put(name, PatternBytes(100000));
  const QString archive = temp.Write("three.zip", builder.Finish());
  ZipFile zip;
  zip.Open(archive, ZipMode::Read);
  zip.SetExtractLimit(250000);
  EXPECT_TRUE(ErrorOf([&] {
                zip.ExtractAll(temp.Path() + "limited");
              }).contains("would write 300000 bytes, more than the limit of 250000 bytes"));
  EXPECT_TRUE(IsEmptyFolder(temp.Path() + "limited"));
  zip.Extract("b", temp.Path() + "limited");  // one entry fits
  EXPECT_EQ(ReadFile(temp.Path() + "limited/b"), PatternBytes(100000));
  zip.SetExtractLimit(300000);
  zip.ExtractAll(temp.Path() + "limited");
  EXPECT_EQ(ReadFile(temp.Path() + "limited/c"), PatternBytes(100000));
  zip.Close();

  // Entries that claim almost 4 GiB each, more in all than the disk has free.
  const qint64 free = QStorageInfo(temp.Path()).bytesAvailable();
  ASSERT_GT(free, 0);
  handzip::Builder huge;
  for (qint64 claimed = 0; claimed <= free; claimed += 0xFFFFFFFE) {
    handzip::Entry entry = handzip::MakeEntry(QByteArray::number(claimed), "tiny");
    entry.record.uncompressedSize = 0xFFFFFFFE;
    huge.Put(entry);
  }
  ZipFile unlimited;
  unlimited.Open(temp.Write("huge.zip", huge.Finish()), ZipMode::Read);
  EXPECT_TRUE(ErrorOf([&] { unlimited.ExtractAll(temp.Path() + "huge"); }).contains("bytes are free in"));
  EXPECT_TRUE(IsEmptyFolder(temp.Path() + "huge"));
}

TEST(ZipFile, AnArchiveIsNotAddedToItselfUnderAnyName) {
  TempFolder temp;
  const QString archive = temp.Path() + "self.zip";
  const QString other = temp.Path() + "same-file.zip";
  ZipFile zip;
  zip.Open(archive, ZipMode::Write);
  zip.Add(temp.Write("a.txt", "alpha"), "a.txt");
  ASSERT_TRUE(QFile::link(archive, temp.Path() + "link.zip"));
  ASSERT_EQ(RunTool("ln", {archive, other}).code, 0);  // a second name of the same file
  for (const QString& name : {archive, temp.Path() + "link.zip", other})
    EXPECT_TRUE(ErrorOf([&] { zip.Add(name, "again"); }).contains("cannot add the archive to itself"))
        << name.toStdString();
  zip.Close();
  EXPECT_TRUE(infozip::TestPasses(archive));
  EXPECT_EQ(infozip::Names(archive), QStringList{"a.txt"});
}
