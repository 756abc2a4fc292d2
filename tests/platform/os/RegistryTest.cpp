#include <gtest/gtest.h>

#include <QDir>

#include "platform/base/Exception.h"
#include "platform/os/Registry.h"
#include "tests/support/Fakes.h"
#include "tests/support/TempFolder.h"

TEST(Registry, LivesWhereTheLocationSays) {
  EXPECT_TRUE(RegistryLocation::Default().Folder().endsWith("/quarnell-registry"));
  TempFolder temp;
  const RegistryFolder location(temp.Path() + "store");
  Registry key;
  EXPECT_FALSE(key.OpenKeyReadOnly(HKEY_CURRENT_USER, "Software\\Q"));
  EXPECT_FALSE(QDir(temp.Path() + "store").exists());  // reading makes nothing
  ASSERT_TRUE(key.OpenKey(HKEY_CURRENT_USER, "Software\\Q", true));
  key.WriteString("s", "text");
  key.WriteExpandString("e", "%HOME%");
  key.WriteBinaryData("b", QByteArray("\x00\xFF", 2));
  key.WriteInteger("i", -7);
  key.WriteString("S", "again");  // names ignore case: replaced in place
  EXPECT_TRUE(QFileInfo::exists(temp.Path() + "store/HKEY_CURRENT_USER.json"));
  Registry reader;
  ASSERT_TRUE(reader.OpenKeyReadOnly(HKEY_CURRENT_USER, "software\\q"));
  EXPECT_EQ(reader.GetValueNames(), (QStringList{"s", "e", "b", "i"}));
  EXPECT_EQ(reader.ReadString("s"), "again");
  EXPECT_EQ(reader.GetDataType("e"), RegistryDataType::ExpandString);
  EXPECT_EQ(reader.ReadBinaryData("b"), QByteArray("\x00\xFF", 2));
  EXPECT_EQ(reader.ReadInteger("i"), -7);
  EXPECT_THROW(reader.WriteString("x", "y"), Exception);  // opened for reading
}

TEST(Registry, KeysOpenAtOnceNeverWriteBackAStaleRoot) {
  TempFolder temp;
  const RegistryFolder location(temp.Path());
  Registry a, b, sameAsA;
  ASSERT_TRUE(a.OpenKey(HKEY_LOCAL_MACHINE, "K\\A", true));
  ASSERT_TRUE(b.OpenKey(HKEY_LOCAL_MACHINE, "K\\B", true));
  ASSERT_TRUE(sameAsA.OpenKey(HKEY_LOCAL_MACHINE, "K\\A", false));
  a.WriteString("x", "1");
  b.WriteString("y", "2");
  sameAsA.WriteString("z", "3");
  a.WriteString("w", "4");
  EXPECT_EQ(a.GetValueNames(), (QStringList{"x", "z", "w"}));
  EXPECT_EQ(b.ReadString("y"), "2");
  Registry parent;
  ASSERT_TRUE(parent.OpenKeyReadOnly(HKEY_LOCAL_MACHINE, "K"));
  EXPECT_EQ(parent.GetKeyNames(), (QStringList{"A", "B"}));
}

TEST(Registry, ADamagedRootFileIsAnErrorAndStaysAsItIs) {
  TempFolder temp;
  const RegistryFolder location(temp.Path());
  Registry open;
  ASSERT_TRUE(open.OpenKey(HKEY_CURRENT_USER, "K", true));
  for (const QByteArray& damaged :
       {QByteArray("{\"keys\": {\"K\": "), QByteArray("[1, 2]"), QByteArray("\xFF\xFE garbage")}) {
    SCOPED_TRACE(damaged.toStdString());
    const QString path = temp.Write("HKEY_CURRENT_USER.json", damaged);
    Registry key;
    EXPECT_THROW(key.OpenKeyReadOnly(HKEY_CURRENT_USER, "K"), Exception);
    EXPECT_THROW(key.OpenKey(HKEY_CURRENT_USER, "K", true), Exception);
    try {
      open.WriteString("v", "lost");
      ADD_FAILURE() << "the write went through";
    } catch (const Exception& error) {
      EXPECT_EQ(error.Message(), "Failed to set data for 'v'");
    }
    EXPECT_EQ(ReadFile(path), damaged);
  }
  // An empty file is an empty root, not a damaged one.
  temp.Write("HKEY_CURRENT_USER.json", "");
  Registry key;
  EXPECT_TRUE(key.OpenKey(HKEY_CURRENT_USER, "New", true));
  key.WriteInteger("n", 1);
  EXPECT_EQ(key.ReadInteger("n"), 1);
}
