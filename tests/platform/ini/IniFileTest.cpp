#include <gtest/gtest.h>

#include "platform/base/Exception.h"
#include "platform/base/TextCodec.h"
#include "platform/ini/IniFile.h"
#include "tests/support/TempFolder.h"

using namespace ini;

TEST(IniFile, SingleValueReadsMatchNamesWithoutCaseAndCutAt2047) {
  TempFolder temp;
  const QString path = temp.Write(
      "a.ini", "top=ignored\r\n[Main]\r\n ; note\r\n Key = value \r\nq=\"quoted\"\r\nlong=" + QByteArray(3000, 'x') +
                   "\r\n[Other]\r\nkey=other\r\n");
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
  EXPECT_EQ(ReadFile(path), QByteArray(original).replace("key=old", "key=new"));
  ASSERT_TRUE(WriteProfileString(path, "Main", "added", "a"));
  EXPECT_EQ(ReadFile(path), "; header comment\n[Main]\nkey=new\n; inside\nother = 1\nadded=a\n\n[Last]\nz=9");
  ASSERT_TRUE(WriteProfileString(path, "New", "k", "v"));
  EXPECT_TRUE(ReadFile(path).endsWith("z=9\n[New]\nk=v\n"));

  const QString fresh = temp.Path() + "fresh.ini";
  ASSERT_TRUE(WriteProfileString(fresh, "S", "k", "v"));
  EXPECT_EQ(ReadFile(fresh), "[S]\r\nk=v\r\n");  // no byte-order mark
  EXPECT_THROW(WriteProfileString(temp.Path() + "no/folder/x.ini", "S", "k", "v"), Exception);
}

TEST(IniFile, EncodingsAreReadAndWrittenBackInTheirOwnForm) {
  TempFolder temp;
  const QString text = QString::fromUtf8("[Sezione]\r\nnome=caff\xc3\xa8 \xe2\x82\xac\r\n");
  for (TextEncoding encoding :
       {TextEncoding::Utf16LittleEndian, TextEncoding::Utf16BigEndian, TextEncoding::Utf8, TextEncoding::Windows1252}) {
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
  const QString path =
      temp.Write("w.ini", "before=1\n; comment\n[ A ]\n  k  =  v = w \n\nplain line\n[B]\n;x\n[A]\nk2=2\n");
  const IniDocument document = IniDocument::Load(path);
  ASSERT_EQ(document.Sections().size(), 3u);
  EXPECT_EQ(document.Sections()[0].Name, "A");
  EXPECT_EQ(document.Sections()[0].Lines, (QStringList{"k=v = w", "plain line"}));
  EXPECT_TRUE(document.Sections()[1].Lines.isEmpty());
  EXPECT_EQ(document.Value("a", "K"), "v = w");
  IniDocument::Update(path, [](IniDocument& edited) {
    edited.SetValue("B", "n", "1");
    edited.EraseKey("A", "plain line");
  });
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

// What the Windows profile functions answer for files and names a user or another program
// may produce. The expected results follow the documented behaviour of
// GetPrivateProfileString / WritePrivateProfileString (case-insensitive names, blanks
// around names and values ignored, one pair of quotes taken off, trailing blanks of the
// default dropped, the buffer limit) and how those functions read headers, comments and
// repeated sections.
TEST(IniFile, ReadsAsTheProfileFunctionsDo) {
  TempFolder temp;
  const struct {
    const char* what;
    QByteArray file;
    QString section, key, defaultValue, expected;
  } cases[] = {
      {"plain header", "[A]\r\nk=1\r\n[B] ; note\r\nk=2\r\n[C\r\nk=3\r\n", "A", "k", "d", "1"},
      {"text after the bracket", "[A]\r\nk=1\r\n[B] ; note\r\nk=2\r\n[C\r\nk=3\r\n", "B", "k", "d", "2"},
      {"no closing bracket", "[A]\r\nk=1\r\n[B] ; note\r\nk=2\r\n[C\r\nk=3\r\n", "C", "k", "d", "3"},
      {"name ends at the first bracket", "[x]y]\r\nk=1\r\n", "x", "k", "d", "1"},
      {"a section name with a bracket is never found", "[x]y]\r\nk=1\r\n", "x]y", "k", "d", "d"},
      {"blanks around everything", "  [ S ]  \r\n  k  =  v  \r\n", "S", "k", "d", "v"},
      {"names given with blanks", "[S]\r\nk=v\r\n", " s ", " K\t", "d", "v"},
      {"first of two sections", "[S]\r\na=1\r\n[T]\r\n[S]\r\na=2\r\nb=3\r\n", "s", "a", "d", "1"},
      {"a later section of the name is not seen", "[S]\r\na=1\r\n[T]\r\n[S]\r\na=2\r\nb=3\r\n", "S", "b", "d", "d"},
      {"comment lines are no keys", "[S]\r\n;k=1\r\nk=2\r\n", "S", "k", "d", "2"},
      {"a key that is a comment", "[S]\r\n;k=1\r\n", "S", ";k", "d", "d"},
      {"value keeps later equals signs", "[S]\r\na=b=c\r\n", "S", "a", "d", "b=c"},
      {"a key with an equals sign", "[S]\r\na=b=c\r\n", "S", "a=b", "d", "d"},
      {"double quotes", "[S]\r\nq=\"x y\"\r\n", "S", "q", "d", "x y"},
      {"single quotes", "[S]\r\nq= 'z' \r\n", "S", "q", "d", "z"},
      {"an unpaired quote stays", "[S]\r\nq=\"x\r\n", "S", "q", "d", "\"x"},
      {"an empty value is a value", "[S]\r\nk=\r\n", "S", "k", "d", ""},
      {"a line without equals is no key", "[S]\r\nplain\r\n", "S", "plain", "d", "d"},
      {"lines before the first section", "k=0\r\n[S]\r\n", "S", "k", "d", "d"},
      {"default loses trailing blanks", "", "S", "k", " d \t ", " d"},
      {"default cut like a value", "", "S", "k", QString(3000, 'x') + "  ", QString(2047, 'x')},
      {"bare LF and CR line ends", "[S]\nk=lf\r[T]\rk=cr\n", "T", "k", "d", "cr"},
      {"empty section name", "[]\r\nk=1\r\n", "", "k", "d", "d"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.what);
    const QString path = temp.Write("read.ini", c.file);
    EXPECT_EQ(ReadProfileString(path, c.section, c.key, c.defaultValue), c.expected);
  }
  const QString utf16 = temp.Write("utf16.ini", EncodeText(QString::fromUtf8("[Sezione]\r\n città = \"Forlì\" \r\n"),
                                                           TextEncoding::Utf16LittleEndian));
  EXPECT_EQ(ReadProfileString(utf16, "SEZIONE", QString::fromUtf8("CITTÀ"), "d"), QString::fromUtf8("Forlì"));
}

TEST(IniFile, WritesAsTheProfileFunctionsDoAndRefuseWhatCouldNotBeReadBack) {
  TempFolder temp;
  const struct {
    const char* what;
    QByteArray before;
    QString section, key, value;
    bool written;
    QByteArray after;
  } cases[] = {
      {"header with a note", "[A]\r\nk=1\r\n[B] ; note\r\nk=2\r\n", "B", "k", "9", true,
       "[A]\r\nk=1\r\n[B] ; note\r\nk=9\r\n"},
      {"header without bracket", "[C\r\nk=3\r\n", "c", "k", "4", true, "[C\r\nk=4\r\n"},
      {"names given with blanks", "[S]\r\nk=1\r\n", " S ", " k ", "2", true, "[S]\r\nk=2\r\n"},
      {"the key keeps its spelling", "[S]\r\nKey = 1\r\n", "s", "KEY", "2", true, "[S]\r\nKey=2\r\n"},
      {"the first of two sections", "[S]\r\na=1\r\n[S]\r\nb=2\r\n", "S", "b", "3", true,
       "[S]\r\na=1\r\nb=3\r\n[S]\r\nb=2\r\n"},
      {"comments stay", "; c\r\n[S]\r\n; d\r\nk=1\r\n", "S", "n", "2", true, "; c\r\n[S]\r\n; d\r\nk=1\r\nn=2\r\n"},
      {"a new file", "", "S", "k", "v", true, "[S]\r\nk=v\r\n"},
      {"a value with CR LF", "[S]\r\nk=1\r\n", "S", "k", "x\r\n[Evil]\r\nk=y", false, "[S]\r\nk=1\r\n"},
      {"a value with LF", "[S]\r\nk=1\r\n", "S", "k", "x\nnew=1", false, "[S]\r\nk=1\r\n"},
      {"a comment for a key", "[S]\r\n", "S", ";k", "1", false, "[S]\r\n"},
      {"a key with an equals sign", "[S]\r\n", "S", "a=b", "1", false, "[S]\r\n"},
      {"a key that looks like a header", "[S]\r\n", "S", "[x", "1", false, "[S]\r\n"},
      {"a section with a bracket", "[S]\r\n", "a]b", "k", "1", false, "[S]\r\n"},
      {"a section with a line break", "[S]\r\n", "a\nb", "k", "1", false, "[S]\r\n"},
      {"a blank key", "[S]\r\n", "S", "  ", "1", false, "[S]\r\n"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.what);
    const QString path = temp.Path() + "write.ini";
    QFile::remove(path);
    if (!c.before.isEmpty()) temp.Write("write.ini", c.before);
    EXPECT_EQ(WriteProfileString(path, c.section, c.key, c.value), c.written);
    EXPECT_EQ(ReadFile(path), c.after);
    // Writing the same again changes nothing: no name is ever written twice.
    WriteProfileString(path, c.section, c.key, c.value);
    EXPECT_EQ(ReadFile(path), c.after);
  }
  const QString utf16 = temp.Write("utf16.ini", EncodeText("[S]\r\nk=1\r\n", TextEncoding::Utf16BigEndian));
  ASSERT_TRUE(WriteProfileString(utf16, "s", "K", QString::fromUtf8("è")));
  EXPECT_EQ(ReadFile(utf16), EncodeText(QString::fromUtf8("[S]\r\nk=è\r\n"), TextEncoding::Utf16BigEndian));
}

TEST(IniFile, WholeFileOperationsSeeWhatSingleValuesSee) {
  TempFolder temp;
  const QString path = temp.Write("w.ini", "[A]\r\nk=1\r\n[B] ; note\r\nk=2\r\n[C\r\nk=3\r\n[A]\r\nk=4\r\nx=5\r\n");
  const IniDocument document = IniDocument::Load(path);
  EXPECT_EQ(document.Value("B", "k"), "2");
  EXPECT_EQ(document.Value(" c ", " K "), "3");
  EXPECT_EQ(document.Value("A", "x"), "");  // only in the second [A]
  EXPECT_TRUE(document.IsFirstOfItsName(document.Sections()[0]));
  EXPECT_FALSE(document.IsFirstOfItsName(document.Sections()[3]));

  // A deleted key stays deleted: the second [A] never comes into view.
  IniDocument::Update(path, [](IniDocument& edited) { edited.EraseKey("a", "K"); });
  EXPECT_EQ(ReadProfileString(path, "A", "k", "gone"), "gone");
  IniDocument::Update(path, [](IniDocument& edited) {
    EXPECT_TRUE(edited.SetValue("b", "K", "9"));
    EXPECT_FALSE(edited.SetValue("B", "v", "a\r\n[Evil]"));
    EXPECT_FALSE(edited.SetValue("B", "a=b", "1"));
  });
  EXPECT_EQ(ReadFile(path), "[A]\r\n\r\n[B]\r\nk=9\r\n\r\n[C]\r\nk=3\r\n\r\n[A]\r\nk=4\r\nx=5\r\n\r\n");
  // Deleting a section takes every section of its name, so none comes back.
  IniDocument::Update(path, [](IniDocument& edited) { edited.EraseSection("A"); });
  EXPECT_EQ(ReadProfileString(path, "A", "x", "gone"), "gone");
}
