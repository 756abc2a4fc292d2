#include <gtest/gtest.h>

#include "platform/ini/IniFile.h"
#include "platform/base/TextCodec.h"
#include "tests/support/TempFolder.h"

using namespace ini;

TEST(IniFile, SingleValueReadsMatchNamesWithoutCaseAndCutAt2047) {
  TempFolder temp;
  const QString path = temp.Write("a.ini", "top=ignored\r\n[Main]\r\n ; note\r\n Key = value \r\nq=\"quoted\"\r\nlong=" +
                                               QByteArray(3000, 'x') + "\r\n[Other]\r\nkey=other\r\n");
  EXPECT_EQ(ReadProfileString(path, "main", "KEY", "d"), "value");
  EXPECT_EQ(ReadProfileString(path, "Main", "q", "d"), "quoted");
  EXPECT_EQ(ReadProfileString(path, "Main", "long", "d"), QString(2047, 'x'));
  EXPECT_EQ(ReadProfileString(path, "Other", "key", "d"), "other");
  EXPECT_EQ(ReadProfileString(path, "Main", "missing", "d"), "d");
  EXPECT_EQ(ReadProfileString(path, "nosection", "key", "d"), "d");
  EXPECT_EQ(ReadProfileString(temp.Path() + "none.ini", "Main", "key", "d"), "d");
}

TEST(IniFile, SingleValueWritesKeepEveryOtherByte) {
  TempFolder temp;
  const QByteArray original = "; header comment\n[Main]\nkey=old\n; inside\nother = 1\n\n[Last]\nz=9";
  const QString path = temp.Write("a.ini", original);
  ASSERT_TRUE(WriteProfileString(path, "MAIN", "Key", "new"));
  EXPECT_EQ(ReadFile(path), QByteArray(original).replace("key=old", "Key=new"));
  ASSERT_TRUE(WriteProfileString(path, "Main", "added", "a"));
  EXPECT_EQ(ReadFile(path), "; header comment\n[Main]\nKey=new\n; inside\nother = 1\nadded=a\n\n[Last]\nz=9");
  ASSERT_TRUE(WriteProfileString(path, "New", "k", "v"));
  EXPECT_TRUE(ReadFile(path).endsWith("z=9\n[New]\nk=v\n"));

  const QString fresh = temp.Path() + "fresh.ini";
  ASSERT_TRUE(WriteProfileString(fresh, "S", "k", "v"));
  EXPECT_EQ(ReadFile(fresh), "[S]\r\nk=v\r\n");  // no byte-order mark
  EXPECT_FALSE(WriteProfileString(temp.Path() + "no/folder/x.ini", "S", "k", "v"));
}

TEST(IniFile, EncodingsAreReadAndWrittenBackInTheirOwnForm) {
  TempFolder temp;
  const QString text = QString::fromUtf8("[Sezione]\r\nnome=caff\xc3\xa8 \xe2\x82\xac\r\n");
  for (TextEncoding encoding : {TextEncoding::Utf16LittleEndian, TextEncoding::Utf16BigEndian, TextEncoding::Utf8,
                                TextEncoding::Windows1252}) {
    SCOPED_TRACE(static_cast<int>(encoding));
    const QString path = temp.Write("e.ini", EncodeText(text, encoding));
    EXPECT_EQ(ReadProfileString(path, "sezione", "NOME", ""), QString::fromUtf8("caff\xc3\xa8 \xe2\x82\xac"));
    ASSERT_TRUE(WriteProfileString(path, "Sezione", "altro", QString::fromUtf8("\xc3\xa0")));
    const DecodedText back = DecodeText(ReadFile(path));
    EXPECT_EQ(back.Encoding, encoding);
    EXPECT_EQ(back.Text, text + QString::fromUtf8("altro=\xc3\xa0\r\n"));
  }
  // Every Windows-1252 byte survives a read and a rewrite.
  QByteArray all;
  for (int b = 1; b < 256; ++b)
    if (b != '\r' && b != '\n') all += char(b);
  EXPECT_EQ(EncodeText(DecodeText(all).Text, TextEncoding::Windows1252), all);
}

TEST(IniFile, WholeFileLoadNormalisesAndSaveRewrites) {
  TempFolder temp;
  const QString path = temp.Write("w.ini", "before=1\n; comment\n[ A ]\n  k  =  v = w \n\nplain line\n[B]\n;x\n[A]\nk2=2\n");
  IniDocument document = IniDocument::Load(path);
  ASSERT_EQ(document.Sections().size(), 3u);
  EXPECT_EQ(document.Sections()[0].Name, "A");
  EXPECT_EQ(document.Sections()[0].Lines, (QStringList{"k=v = w", "plain line"}));
  EXPECT_TRUE(document.Sections()[1].Lines.isEmpty());
  EXPECT_EQ(document.Value("a", "K"), "v = w");
  document.SetValue("B", "n", "1");
  document.EraseKey("A", "plain line");
  document.Save(path);
  EXPECT_EQ(ReadFile(path), "[A]\r\nk=v = w\r\n\r\n[B]\r\nn=1\r\n\r\n[A]\r\nk2=2\r\n\r\n");
}

TEST(IniFile, BadInputGivesADefinedResult) {
  TempFolder temp;
  const struct {
    const char* name;
    QByteArray bytes;
  } cases[] = {
      {"garbage", PatternBytes(100000)},
      {"lone mark", "\xFF\xFE"},
      {"lone utf8 mark", "\xEF\xBB\xBF"},
      {"megabyte line", "[S]\nk=" + QByteArray(1 << 20, 'm') + "\n"},
      {"nul bytes", QByteArray("[S]\nk=a\0b\n", 11)},
      {"header without bracket", "[S\nk=v\n[T]\nk=t\n"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    const QString path = temp.Write("bad.ini", c.bytes);
    const QString value = ReadProfileString(path, "S", "k", "d");
    EXPECT_LE(value.size(), kMaxProfileValueLength);
    IniDocument::Load(path);
    EXPECT_TRUE(WriteProfileString(path, "T", "k", "new"));
    EXPECT_EQ(ReadProfileString(path, "T", "k", "d"), "new");
  }
}
