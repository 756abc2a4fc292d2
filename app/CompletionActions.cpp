// What follows a complete download: open the folder, or install the package.
#include <QLabel>

#include "app/GradientProgressBar.h"
#include "app/OmbreviaMainForm.h"
#include "fileutils/_QnFileUtils.h"
#include "platform/base/Paths.h"
#include "platform/os/Shell.h"
#include "platform/ui/Application.h"
#include "platform/zip/ZipFile.h"

#include <unistd.h>
#include <QFileInfo>

namespace {

// The download folder is shared by every local user: a program someone else put there, or a
// link to one, must not be started in the name of the user who downloads. Ours is what we
// extracted or what this user put there.
bool ownProgramFile(const QString& path) {
  const QFileInfo info(path);
  return paths::FileExists(path) && !info.isSymLink() && info.ownerId() == ::geteuid();
}

}  // namespace

void TMainFormDownloadSetup::runCompletionActions(bool Installa, const QString& targetPath) {
  if (Installa)
    installPackage(targetPath);
  else
    Shell::Current().Open(FPercorsoDest);
  if (!Application::Instance()->Terminated()) close();
}

void TMainFormDownloadSetup::installPackage(const QString& targetPath) {
  LabelAvanzamento->setText(QStringLiteral("Sto estraendo...") + FDownloadFileName);
  LabelAvanzamento->repaint();
  QString setupPath;
  if (paths::FileExists(targetPath)) {
    cxProgressBar1->SetPosition(0);
    setupPath = paths::ChangeFileExt(targetPath, paths::ExecutableExtension());
    const QString packageFolder = paths::ExtractFilePath(targetPath);
    if (paths::ExtractFileExt(targetPath).compare(QLatin1String(".zip"), Qt::CaseInsensitive) == 0 &&
        UnzipFile(targetPath, packageFolder, false))
      setupPath = packageFolder + ZipEntryTargetName(GetFirstZipFileName(targetPath));  // as extracted
  }
  if (setupPath.isEmpty() || !ownProgramFile(setupPath)) {
    Shell::Current().Open(targetPath);  // the program registered for the package's type
    return;
  }
  if (Application::Instance()->Terminated()) return;  // the window is already closing
  cxProgressBar1->SetPosition(0);
  LabelAvanzamento->setText(QStringLiteral("Sto installando...") + FDownloadFileName);
  // Only a program is made executable; anything else goes to the program registered for it.
  if (IsProgramFile(setupPath)) paths::AddOwnerExecutePermission(setupPath);
  Shell::Current().Open(setupPath);
}
