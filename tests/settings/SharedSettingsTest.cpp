// Settings files and the registry shared with other programs: real second processes (the
// settings_writer helper), other users (through setpriv, when the tests run as root), and
// writers killed mid-write.
#include <gtest/gtest.h>

#include <grp.h>
#include <pwd.h>
#include <signal.h>
#include <sys/stat.h>
#include <unistd.h>
#include <QDir>
#include <QFileInfo>
#include <QProcess>
#include <QRandomGenerator>
#include <QRegularExpression>
#include <QThread>

#include "platform/base/Exception.h"
#include "platform/base/TextCodec.h"
#include "settings/_QngIniFile.h"
#include "tests/support/Fakes.h"
#include "tests/support/TempFolder.h"

namespace {

const QString kWriter = QStringLiteral(SETTINGS_WRITER_EXE);

bool runningAsRoot() { return ::geteuid() == 0; }

// The writer with `args`, run as the user nobody when `asNobody` (root only).
std::unique_ptr<QProcess> startWriter(const QStringList& args, bool asNobody = false) {
  auto process = std::make_unique<QProcess>();
  process->setProcessChannelMode(QProcess::ForwardedErrorChannel);
  if (asNobody)
    process->start("setpriv", QStringList{"--reuid=nobody", "--regid=nogroup", "--clear-groups", kWriter} + args);
  else
    process->start(kWriter, args);
  EXPECT_TRUE(process->waitForStarted(10000));
  return process;
}

// Its exit status, or -1 when it crashed or did not end within a minute.
int finish(QProcess& process) {
  if (!process.waitForFinished(60000) || process.exitStatus() != QProcess::NormalExit) return -1;
  return process.exitCode();
}

int runWriter(const QStringList& args, bool asNobody = false) { return finish(*startWriter(args, asNobody)); }

struct Identity {
  uid_t uid;
  gid_t gid;
  mode_t mode;
  ino_t inode;
  bool operator==(const Identity&) const = default;
};

Identity identityOf(const QString& path) {
  struct stat status {};
  EXPECT_EQ(::stat(QFile::encodeName(path).constData(), &status), 0) << path.toStdString();
  return {status.st_uid, status.st_gid, status.st_mode & 07777, status.st_ino};
}

uid_t nobodyUid() { return ::getpwnam("nobody")->pw_uid; }
gid_t nogroupGid() { return ::getgrnam("nogroup")->gr_gid; }

void setMode(const QString& path, mode_t mode) { ASSERT_EQ(::chmod(QFile::encodeName(path).constData(), mode), 0); }
void giveToNobody(const QString& path) {
  ASSERT_EQ(::chown(QFile::encodeName(path).constData(), nobodyUid(), nogroupGid()), 0);
}

// The files of a folder, hidden ones included.
QStringList filesIn(const QString& folder) {
  QStringList names = QDir(folder).entryList(QDir::Files | QDir::Hidden | QDir::System);
  names.sort();
  return names;
}

// Every key of `prefix`0..count-1 in `section` holds its number.
void expectAllKeys(const TQngIniFile& ini, const QString& section, const QString& prefix, int count) {
  int missing = 0;
  for (int i = 0; i < count; ++i)
    if (ini.LeggiValore(section, prefix + QString::number(i), "missing") != QString::number(i)) ++missing;
  EXPECT_EQ(missing, 0) << "of " << count << " keys " << prefix.toStdString();
}

}  // namespace

TEST(SharedSettings, TwoProgramsWritingAtOnceLoseNothing) {
  TempFolder temp;
  const QString path = temp.Write("shared.ini", "; kept\r\n[Other]\r\nx=1\r\n");
  {
    auto first = startWriter({"ini-write", path, "S", "a", "150"});
    auto second = startWriter({"ini-write", path, "S", "b", "150"});
    EXPECT_EQ(finish(*first), 0);
    EXPECT_EQ(finish(*second), 0);
  }
  const TQngIniFile ini(path);
  expectAllKeys(ini, "S", "a", 150);
  expectAllKeys(ini, "S", "b", 150);
  EXPECT_TRUE(ReadFile(path).startsWith("; kept\r\n[Other]\r\nx=1\r\n"));

  // Whole-file merges, with single writes going on beside them.
  {
    auto merger1 = startWriter({"ini-merge", path, temp.Path(), "ma", "60"});
    auto merger2 = startWriter({"ini-merge", path, temp.Path(), "mb", "60"});
    auto single = startWriter({"ini-write", path, "S", "c", "60"});
    EXPECT_EQ(finish(*merger1), 0);
    EXPECT_EQ(finish(*merger2), 0);
    EXPECT_EQ(finish(*single), 0);
  }
  expectAllKeys(ini, "M", "ma", 60);
  expectAllKeys(ini, "M", "mb", 60);
  expectAllKeys(ini, "S", "c", 60);
  expectAllKeys(ini, "S", "a", 150);
  EXPECT_EQ(ini.LeggiValore("Other", "x", ""), "1");
}

TEST(SharedSettings, TwoProgramsWritingTheRegistryAtOnceLoseNothing) {
  TempFolder temp;
  const QString folder = temp.Path() + "registry";
  {
    auto first = startWriter({"reg-write", folder, "Software\\T", "ra", "150"});
    auto second = startWriter({"reg-write", folder, "Software\\T", "rb", "150"});
    EXPECT_EQ(finish(*first), 0);
    EXPECT_EQ(finish(*second), 0);
  }
  const RegistryFolder location(folder);
  Registry one, two;
  ASSERT_TRUE(one.OpenKeyReadOnly(HKEY_CURRENT_USER, "Software\\T\\One"));
  ASSERT_TRUE(two.OpenKeyReadOnly(HKEY_CURRENT_USER, "Software\\T\\Two"));
  int found = 0;
  for (const QString prefix : {"ra", "rb"})
    for (int i = 0; i < 150; ++i)
      if ((i % 2 ? two : one).ReadString(prefix + QString::number(i)) == QString::number(i)) ++found;
  EXPECT_EQ(found, 300);
}

TEST(SharedSettings, AFileThatCannotBeReadIsNeverChanged) {
  TempFolder temp;
  const QByteArray original = "[S]\r\nk=v\r\n; comment\r\nz=1\r\n";
  const QString path = temp.Write("secret.ini", original);
  const QString merge = temp.Write("merge.ini", "[S]\r\nn=1\r\n");
  setMode(path, 0600);
  const Identity before = identityOf(path);
  if (runningAsRoot()) {
    // The file is root's; the writer runs as nobody in a folder where it may make files.
    setMode(temp.Path(), 0777);
    EXPECT_EQ(runWriter({"ini-delete", path, "S", "k"}, true), 2);      // the error reaches the caller
    EXPECT_EQ(runWriter({"ini-write", path, "S", "k", "3"}, true), 0);  // given up quietly
    EXPECT_EQ(runWriter({"ini-merge", path, temp.Path(), "n", "1"}, true), 2);
  } else {
    setMode(path, 0);
    const TQngIniFile ini(path);
    EXPECT_THROW(ini.EliminaChiave("S", "k"), Exception);
    EXPECT_THROW(ini.EliminaSezione("S"), Exception);
    EXPECT_THROW(ini.ImportaFileIni(merge), Exception);
    ini.ScriviValore("S", "k", "x");
    EXPECT_EQ(ini.LeggiValore("S", "k", "default"), "default");
    setMode(path, 0600);
  }
  EXPECT_EQ(identityOf(path), before);
  EXPECT_EQ(ReadFile(path), original);
}

TEST(SharedSettings, AFileInAReadOnlyFolderIsWrittenInPlace) {
  TempFolder temp;
  const QString folder = temp.Path() + "ro/";
  const QString path = temp.Write("ro/s.ini", "; note\r\n[S]\r\nk=1\r\n");
  setMode(temp.Path(), 0755);
  if (runningAsRoot()) {
    giveToNobody(path);  // nobody may write the file but not make one beside it
    setMode(folder, 0755);
  }
  const Identity before = identityOf(path);
  if (runningAsRoot()) {
    EXPECT_EQ(runWriter({"ini-write", path, "S", "n", "3"}, true), 0);
    EXPECT_EQ(runWriter({"ini-delete", path, "S", "k"}, true), 0);
  } else {
    setMode(folder, 0555);
    const TQngIniFile ini(path);
    for (int i = 0; i < 3; ++i) ini.ScriviValore("S", "n" + QString::number(i), QString::number(i));
    ini.EliminaChiave("S", "k");
    setMode(folder, 0755);
  }
  const TQngIniFile ini(path);
  expectAllKeys(ini, "S", "n", 3);
  EXPECT_EQ(ini.LeggiValore("S", "k", "deleted"), "deleted");
  EXPECT_EQ(identityOf(path), before);  // the same file, owner and mode
  EXPECT_EQ(filesIn(folder), QStringList{"s.ini"});
}

TEST(SharedSettings, AnotherUsersFileKeepsItsOwnerAndMode) {
  if (!runningAsRoot()) GTEST_SKIP() << "acting as another user needs root (setpriv)";
  TempFolder temp;
  setMode(temp.Path(), 0777);
  const QString shared = temp.Write("shared.ini", "[S]\r\nk=1\r\n");
  giveToNobody(shared);
  setMode(shared, 0664);
  const Identity sharedBefore = identityOf(shared);
  const TQngIniFile ini(shared);
  ini.ScriviValore("S", "root", "1");
  ini.EliminaChiave("S", "k");
  Identity after = identityOf(shared);
  EXPECT_EQ(after.uid, nobodyUid());
  EXPECT_EQ(after.gid, nogroupGid());
  EXPECT_EQ(after.mode, sharedBefore.mode);
  EXPECT_EQ(runWriter({"ini-write", shared, "S", "n", "2"}, true), 0);
  expectAllKeys(ini, "S", "n", 2);
  EXPECT_EQ(ini.LeggiValore("S", "root", ""), "1");

  // nobody cannot give a new file to root: it writes root's file in place.
  const QString rootFile = temp.Write("root.ini", "[S]\r\nk=1\r\n");
  setMode(rootFile, 0666);
  const Identity rootBefore = identityOf(rootFile);
  EXPECT_EQ(runWriter({"ini-write", rootFile, "S", "n", "2"}, true), 0);
  expectAllKeys(TQngIniFile(rootFile), "S", "n", 2);
  EXPECT_EQ(identityOf(rootFile), rootBefore);
  EXPECT_EQ(filesIn(temp.Path()), (QStringList{"root.ini", "shared.ini"}));
}

TEST(SharedSettings, AWriterKilledMidWriteNeverDamagesTheFiles) {
  TempFolder temp;
  QByteArray base = "[Base]\r\n";
  for (int i = 0; i < 50; ++i) base += "b" + QByteArray::number(i) + "=" + QByteArray::number(i) + "\r\n";
  const QString path = temp.Write("s.ini", base);
  const QString registry = temp.Path() + "registry";
  const RegistryFolder location(registry);
  const QRegularExpression wellFormed("^(\\[(Base|Loop|M)\\]|[bkm][0-9]+=(|[0-9]+|([a-z])\\4*)|)$");
  for (int round = 0; round < 12; ++round) {
    SCOPED_TRACE(round);
    auto writer = startWriter({"write-forever", path, registry});
    QThread::msleep(40 + QRandomGenerator::global()->bounded(80));
    ::kill(static_cast<pid_t>(writer->processId()), SIGKILL);
    writer->waitForFinished(10000);

    const QString text = DecodeText(ReadFile(path)).Text;
    for (const QString& line : text.split("\r\n")) EXPECT_TRUE(wellFormed.match(line).hasMatch()) << line.toStdString();
    expectAllKeys(TQngIniFile(path), "Base", "b", 50);
    Registry key;
    if (key.OpenKeyReadOnly(HKEY_CURRENT_USER, "Forever"))  // the root file reads: it is whole
      for (const QString& name : key.GetValueNames()) {
        const QString value = key.ReadString(name);
        EXPECT_EQ(value, QString(value.size(), value.isEmpty() ? QChar('a') : value[0]));
      }
  }
  // The next write clears what killed writers left behind.
  TQngIniFile(path).ScriviValore("Base", "b0", "0");
  EXPECT_EQ(filesIn(temp.Path()), (QStringList{"s.ini", "s.ini.merge"}));
}

TEST(SharedSettings, AFifoInPlaceOfTheFileNeitherHangsNorIsReplaced) {
  TempFolder temp;
  const QString path = temp.Path() + "fifo.ini";
  ASSERT_EQ(::mkfifo(QFile::encodeName(path).constData(), 0600), 0);
  const TQngIniFile ini(path);
  EXPECT_EQ(ini.LeggiValore("S", "k", "default"), "default");
  ini.ScriviValore("S", "k", "v");
  EXPECT_THROW(ini.EliminaChiave("S", "k"), Exception);
  struct stat status {};
  ASSERT_EQ(::stat(QFile::encodeName(path).constData(), &status), 0);
  EXPECT_TRUE(S_ISFIFO(status.st_mode));
}
