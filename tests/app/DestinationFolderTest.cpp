// The default download folder that this user cannot use: the box at start-up says which
// folder and why, in place of a bare file error at the first download.
#include <grp.h>
#include <sys/wait.h>
#include <unistd.h>

#include <QDir>
#include <QFile>
#include <functional>
#include <string>

#include "app/DestinationFolder.h"
#include "tests/app/MainFormFixture.h"

namespace {

constexpr uid_t kNobody = 65534;

// Runs `check` as a user without privileges: here when this process is one, else in a child
// that gives up root for the nobody account (root may write anywhere). Returns its answer.
std::string asUnprivilegedUser(const std::function<std::string()>& check) {
  if (geteuid() != 0) return check();
  int channel[2];
  if (pipe(channel) != 0) return "no pipe";
  const pid_t child = fork();
  if (child == 0) {
    close(channel[0]);
    const bool dropped = setgroups(0, nullptr) == 0 && setgid(kNobody) == 0 && setuid(kNobody) == 0;
    const std::string answer = dropped ? check() : "cannot give up root";
    [[maybe_unused]] const ssize_t written = write(channel[1], answer.data(), answer.size());
    _exit(0);
  }
  close(channel[1]);
  std::string answer;
  char buffer[4096];
  for (ssize_t got; (got = read(channel[0], buffer, sizeof buffer)) > 0;) answer.append(buffer, std::size_t(got));
  close(channel[0]);
  waitpid(child, nullptr, 0);
  return answer;
}

void setMode(const QString& path, QFileDevice::Permissions permissions) {
  ASSERT_TRUE(QFile::setPermissions(path, permissions)) << path.toStdString();
}

constexpr QFileDevice::Permissions kReadOnly = QFileDevice::ReadOwner | QFileDevice::ExeOwner | QFileDevice::ReadGroup |
                                               QFileDevice::ExeGroup | QFileDevice::ReadOther | QFileDevice::ExeOther;
constexpr QFileDevice::Permissions kOwnerWrites = kReadOnly | QFileDevice::WriteOwner;

}  // namespace

TEST_F(MainFormFixture, UsableDefaultFolderShowsNoBox) {
  MakeForm("http://127.0.0.1:9/none");
  EXPECT_TRUE(QDir(root.Path() + "Quarnell/Download").exists());
  EXPECT_TRUE(boxes.Boxes.empty());
}

TEST_F(MainFormFixture, DefaultFolderBlockedByAFileIsNamedAtStartUp) {
  root.Write("Quarnell", "not a folder");
  MakeForm("http://127.0.0.1:9/none");
  const QString folder = root.Path() + "Quarnell/Download/";
  EXPECT_EQ(form->PercorsoDest(), folder);  // still the default: the user may pick another
  ASSERT_EQ(boxes.Boxes.size(), 1u);
  EXPECT_EQ(boxes.Boxes[0].Kind, MessageKind::Error);
  const QString text = boxes.Boxes[0].Text;
  EXPECT_TRUE(text.contains("\"" + folder + "\"")) << text.toStdString();
  EXPECT_TRUE(text.contains("\"" + root.Path() + "Quarnell\" non è una cartella")) << text.toStdString();
  EXPECT_TRUE(text.contains("pulsante \"...\"")) << text.toStdString();
}

// What a normal user meets without the package's shared folders: a root they may not write
// in, or a download folder that belongs to someone else.
TEST_F(MainFormFixture, UnwritableDefaultFolderSaysWhereAndWhy) {
  setMode(QDir::cleanPath(root.Path()), kOwnerWrites);  // the unprivileged user must reach in
  struct Case {
    QString name;
    bool downloadFolderExists;  // else the system root itself is locked
    QString expectedReason;     // "%1": the locked folder
  };
  const Case cases[] = {
      {"root-not-writable", false, "l'utente attuale non ha il permesso di scrivere in \"%1\""},
      {"folder-not-writable", true, "l'utente attuale non ha il permesso di scrivervi"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name.toStdString());
    const QString systemRoot = root.Path() + c.name;
    const QString download = systemRoot + "/Quarnell/Download/";
    ASSERT_TRUE(QDir().mkpath(c.downloadFolderExists ? download : systemRoot));
    setMode(systemRoot, kOwnerWrites);
    const QString locked = c.downloadFolderExists ? QDir::cleanPath(download) : systemRoot;
    setMode(locked, kReadOnly);
    const std::string text = asUnprivilegedUser([&] {
      boxes.Boxes.clear();
      ReportUnusableDownloadFolder(download);
      return boxes.Boxes.size() == 1 ? boxes.Boxes[0].Text.toStdString() : std::string("no single box");
    });
    setMode(locked, kOwnerWrites);  // so that the test's folder can be removed
    EXPECT_NE(text.find('"' + download.toStdString() + '"'), std::string::npos) << text;
    EXPECT_NE(text.find(QString(c.expectedReason).replace("%1", locked).toStdString()), std::string::npos) << text;
  }
}
