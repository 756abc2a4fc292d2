#include <gtest/gtest.h>

#include <QDir>
#include <QFileInfo>

#include "platform/base/Exception.h"
#include "platform/base/NumberFormat.h"
#include "settings/_QngIniFile.h"
#include "tests/support/Fakes.h"
#include "tests/support/TempFolder.h"

namespace {

class QngIniFileTest : public ::testing::Test {
 protected:
  QngIniFileTest() : ini(temp.Path() + "s.ini") { SetDecimalSeparator('.'); }
  TempFolder temp;
  TQngIniFile ini;
};

}  // namespace

TEST_F(QngIniFileTest, NameIsResolvedAgainstTheUserSettingsFolder) {
  UserSettingsFolder = "/home/u/Documents/Quarnell/impostazioni/Prog";
  EXPECT_EQ(TQngIniFile("").NomeFileIni(), "/home/u/Documents/Quarnell/impostazioni/qngconf.ini");
  EXPECT_EQ(TQngIniFile("x.ini").NomeFileIni(), "/home/u/Documents/Quarnell/impostazioni/x.ini");
  UserSettingsFolder = "/media/usb/Prog/";
  EXPECT_EQ(TQngIniFile("").NomeFileIni(), "/media/usb/Prog/qngconf.ini");
  EXPECT_EQ(TQngIniFile("/etc/q.ini").NomeFileIni(), "/etc/q.ini");
  UserSettingsFolder.clear();
}

TEST_F(QngIniFileTest, TypedValues) {
  EXPECT_EQ(ini.LeggiValore("", "k", "x"), "x");
  ini.ScriviValore("", "k", "v");
  EXPECT_FALSE(QFileInfo::exists(ini.NomeFileIni()));  // an empty section writes nothing

  ini.ScriviBool("S", "b", true);
  EXPECT_EQ(ini.LeggiValore("S", "b", ""), "-1");
  struct BoolCase {
    const char* stored;
    bool defaultValue, expected;
  };
  for (const BoolCase& c : {BoolCase{"-1", false, true}, BoolCase{"tRuE", false, true}, BoolCase{"2", false, true},
                            BoolCase{"0", true, false}, BoolCase{"FALSE", true, false}, BoolCase{"yes", true, true},
                            BoolCase{"yes", false, false}, BoolCase{"0.5", false, true}}) {
    SCOPED_TRACE(c.stored);
    ini.ScriviValore("S", "b", c.stored);
    EXPECT_EQ(ini.LeggiBool("S", "b", c.defaultValue), c.expected);
  }
  EXPECT_TRUE(ini.LeggiBool("S", "missing", true));

  ini.ScriviFloat("S", "f", 1.5);
  EXPECT_EQ(ini.LeggiValore("S", "f", ""), "1.5");
  EXPECT_DOUBLE_EQ(ini.LeggiFloat("S", "f", 0), 1.5);
  ini.ScriviValore("S", "f", "1,5");
  EXPECT_DOUBLE_EQ(ini.LeggiFloat("S", "f", 7.25), 7.25);
  ini.ScriviFloat("S", "f", 1e20);
  EXPECT_EQ(ini.LeggiValore("S", "f", ""), "1E20");
  EXPECT_EQ(ini.LeggiFloat("S", "f", 0), 1e20);

  ini.ScriviInteger("S", "i", -42);
  EXPECT_EQ(ini.LeggiInteger("S", "i", 0), -42);
  ini.ScriviValore("S", "i", "12abc");
  EXPECT_EQ(ini.LeggiInteger("S", "i", 5), 5);
  ini.ScriviValore("S", "big", QString(3000, 'a'));
  EXPECT_EQ(ini.LeggiValore("S", "big", "").size(), 2047);
  ini.ScriviValore("S", "empty", "");
  EXPECT_EQ(ini.LeggiValore("S", "empty", "d"), "");  // the key stays, empty
}

TEST_F(QngIniFileTest, CommentsSurviveSingleWritesButNotSectionChanges) {
  temp.Write("s.ini", "; keep me\n[A]\nx=1\n[B]\ny=2\n");
  ini.ScriviValore("A", "x", "3");
  EXPECT_TRUE(ReadFile(ini.NomeFileIni()).contains("; keep me"));
  EXPECT_EQ(ini.EliminaChiave("A", "nothing"), "");
  EXPECT_FALSE(ReadFile(ini.NomeFileIni()).contains("; keep me"));
  ini.EliminaSezione("b");
  QStringList list{"stale"};
  ini.LeggiValoriSezione("B", list);
  EXPECT_TRUE(list.isEmpty());
  ini.LeggiChiaviSezione("A", list);
  EXPECT_EQ(list, QStringList{"x"});
  EXPECT_TRUE(ini.EsisteSezione("a"));
  EXPECT_EQ(ReadFile(ini.NomeFileIni()), "[A]\r\nx=3\r\n\r\n");
}

TEST_F(QngIniFileTest, RenameCopyAndMerge) {
  temp.Write("s.ini", "[A]\nu=1=2\nv=x\n[Empty]\n[B]\nv=old\nw=keep\n");
  ini.RinominaSezione("A", "B");
  QStringList lines;
  ini.LeggiValoriSezione("B", lines);
  EXPECT_EQ(lines, (QStringList{"v=x", "w=keep", "u=1=2"}));
  EXPECT_FALSE(ini.EsisteSezione("A"));
  const QByteArray before = ReadFile(ini.NomeFileIni());
  ini.RinominaSezione("Empty", "C");
  ini.RinominaSezione("Missing", "C");
  EXPECT_EQ(ReadFile(ini.NomeFileIni()), before);

  EXPECT_FALSE(ini.EsportaFileIni(ini.NomeFileIni()));
  const QString existing = temp.Write("exists.ini", "keep");
  EXPECT_FALSE(ini.EsportaFileIni(existing));
  EXPECT_EQ(ReadFile(existing), "keep");
  EXPECT_TRUE(ini.EsportaFileIni(temp.Path() + "copy.ini"));
  EXPECT_EQ(ReadFile(temp.Path() + "copy.ini"), before);

  const QString other = temp.Write("other.ini", "[B]\nw=fromOther\nnew=1\n[Z]\nz=z\n");
  EXPECT_FALSE(ini.ImportaFileIni(temp.Path() + "missing.ini"));
  EXPECT_TRUE(ini.ImportaFileIni(other));
  EXPECT_EQ(ini.LeggiValore("B", "w", ""), "fromOther");
  EXPECT_EQ(ini.LeggiValore("B", "u", ""), "1=2");
  EXPECT_EQ(ini.LeggiValore("Z", "z", ""), "z");
}

TEST_F(QngIniFileTest, RegistryImportAndExport) {
  const RegistryFolder location(temp.Path() + "registry");
  Registry key;
  ASSERT_TRUE(key.OpenKey(HKEY_CURRENT_USER, "Software\\K", true));
  key.WriteString("a", "x");
  key.WriteBinaryData("b", QByteArray("\x00\x1F", 2));
  key.WriteInteger("c", 7);
  key.WriteExpandString("e", "%HOME%/x");
  key.WriteInteger("neg", -1);
  key.WriteString("", "default value");
  ASSERT_TRUE(key.OpenKey(HKEY_CURRENT_USER, "Software\\K\\S", true));
  key.WriteString("d", "y");
  key.CloseKey();

  ini.ImportaDaRegistro(HKEY_CURRENT_USER, "Software\\K");
  EXPECT_EQ(ini.LeggiValore("Software\\K", "a", ""), "x");
  EXPECT_TRUE(ReadFile(ini.NomeFileIni()).contains("\r\nb= 01F\r\n"));  // the blank is stored; reads trim it
  EXPECT_EQ(ini.LeggiValore("Software\\K", "c", ""), "7");
  EXPECT_EQ(ini.LeggiValore("Software\\K", "e", ""), "%HOME%/x");
  EXPECT_EQ(ini.LeggiValore("Software\\K", "neg", ""), "-1");
  EXPECT_EQ(ini.LeggiValore("Software\\K\\S", "d", ""), "y");
  ini.ImportaDaRegistro(HKEY_CURRENT_USER, "Software\\Missing");  // nothing, no error

  ini.EsportaSuRegistro(HKEY_LOCAL_MACHINE, "Mirror");
  Registry mirror;
  ASSERT_TRUE(mirror.OpenKeyReadOnly(HKEY_LOCAL_MACHINE, "Mirror\\Software\\K"));
  EXPECT_EQ(mirror.GetDataType("c"), RegistryDataType::String);
  EXPECT_EQ(mirror.ReadString("b"), "01F");
  EXPECT_THROW(mirror.WriteString("x", "y"), Exception);  // read-only key
}

TEST_F(QngIniFileTest, AWriteIntoAMissingFolderGivesUpQuietly) {
  const TQngIniFile lost(temp.Path() + "no/such/folder/s.ini");
  lost.ScriviValore("S", "k", "v");  // 100 attempts, no error
  EXPECT_FALSE(QFileInfo::exists(temp.Path() + "no"));
}

TEST_F(QngIniFileTest, ASettingsFileThatIsALinkStaysALink) {
  // Settings kept elsewhere and linked in: every write goes to the file the link names, also
  // when that file is not made yet or is reached through a second link.
  QDir(temp.Path()).mkdir("kept");
  struct Case {
    const char* name;
    QString linkTo;    // what the link at the settings name points to
    QString realFile;  // where the values must land
  };
  const Case cases[] = {
      {"to an existing file", temp.Write("kept/a.ini", "[S]\r\nold=1\r\n"), temp.Path() + "kept/a.ini"},
      {"to a file not made yet", temp.Path() + "kept/b.ini", temp.Path() + "kept/b.ini"},
      {"to a link to a file not made yet", temp.Path() + "second.ini", temp.Path() + "kept/c.ini"},
  };
  ASSERT_TRUE(QFile::link(temp.Path() + "kept/c.ini", temp.Path() + "second.ini"));
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    const QString linkPath = temp.Path() + "linked.ini";
    QFile::remove(linkPath);
    ASSERT_TRUE(QFile::link(c.linkTo, linkPath));
    const TQngIniFile linked(linkPath);
    linked.ScriviValore("S", "k", "v");
    linked.EliminaChiave("S", "none");  // a whole-file rewrite
    EXPECT_EQ(QFileInfo(linkPath).symLinkTarget(), c.linkTo);
    EXPECT_EQ(TQngIniFile(c.realFile).LeggiValore("S", "k", "missing"), "v");
    EXPECT_EQ(linked.LeggiValore("S", "k", "missing"), "v");
  }
  // A loop of links is an error, not a file put in the loop's place.
  ASSERT_TRUE(QFile::link(temp.Path() + "loop2.ini", temp.Path() + "loop1.ini"));
  ASSERT_TRUE(QFile::link(temp.Path() + "loop1.ini", temp.Path() + "loop2.ini"));
  EXPECT_THROW(TQngIniFile(temp.Path() + "loop1.ini").EliminaChiave("S", "k"), Exception);
  EXPECT_TRUE(QFileInfo(temp.Path() + "loop1.ini").isSymLink());
  EXPECT_TRUE(QFileInfo(temp.Path() + "loop2.ini").isSymLink());
}
