#include <gtest/gtest.h>

#include "platform/base/Paths.h"
#include "tests/support/TempFolder.h"

using namespace paths;

TEST(Paths, TrailingDelimiterIsAddedOnlyWhenMissing) {
  EXPECT_EQ(IncludeTrailingPathDelimiter("/opt/x"), "/opt/x/");
  EXPECT_EQ(IncludeTrailingPathDelimiter("/opt/x/"), "/opt/x/");
  EXPECT_EQ(IncludeTrailingPathDelimiter("/"), "/");
  EXPECT_EQ(IncludeTrailingPathDelimiter(""), "/");
}

TEST(Paths, NamesAndExtensions) {
  struct Case {
    QString path, bare, folder, extension, withExe;
  };
  const Case cases[] = {
      {"/a/b/pkg.zip", "pkg.zip", "/a/b/", ".zip", "/a/b/pkg"},
      {"/a/b/setup", "setup", "/a/b/", "", "/a/b/setup"},
      {"/a/b.d/setup", "setup", "/a/b.d/", "", "/a/b.d/setup"},
      {"pkg.tar.gz", "pkg.tar.gz", "", ".gz", "pkg.tar"},
      {"/a/b/", "", "/a/b/", "", "/a/b/"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.path.toStdString());
    EXPECT_EQ(ExtractBareName(c.path), c.bare);
    EXPECT_EQ(ExtractFilePath(c.path), c.folder);
    EXPECT_EQ(ExtractFileExt(c.path), c.extension);
    EXPECT_EQ(ChangeFileExt(c.path, ""), c.withExe);
  }
  EXPECT_EQ(ChangeFileExt("/a/setup", ".exe"), "/a/setup.exe");
}

TEST(Paths, FolderAndFileTests) {
  TempFolder temp;
  const QString file = temp.Write("f.txt", "x");
  EXPECT_TRUE(FileExists(file));
  EXPECT_FALSE(FileExists(temp.Path()));  // a folder is not a file
  EXPECT_TRUE(DirectoryExists(temp.Path()));
  EXPECT_FALSE(DirectoryExists(file));
  EXPECT_TRUE(ForceDirectories(temp.Path() + "a/b/c"));
  EXPECT_TRUE(DirectoryExists(temp.Path() + "a/b/c"));
  EXPECT_FALSE(ForceDirectories(file + "/under-a-file"));
}
