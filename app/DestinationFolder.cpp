#include "app/DestinationFolder.h"

#include <QLineEdit>

#include "app/OmbreviaMainForm.h"
#include "platform/os/Environment.h"
#include "platform/base/Paths.h"
#include "platform/ui/StyleManager.h"

QString GetDefaultDownloadFolder() {
  const QString folder = paths::IncludeTrailingPathDelimiter(Environment::Current().SystemRoot()) +
                         QStringLiteral("Quarnell/Download/");
  if (!paths::DirectoryExists(folder)) paths::ForceDirectories(folder);
  return folder;
}

void TMainFormDownloadSetup::ButtonSelectFolderClick(QObject*) {
  const StyleManager::SystemDialogRestylingOff platformLook;
  const QString typed = EditDestFolder->text();
  const QString initial = !typed.isEmpty() && paths::DirectoryExists(typed) ? typed : GetDefaultDownloadFolder();
  FileOpenDialog1->SetFileName(initial);
  if (!FileOpenDialog1->FileName().isEmpty()) FileOpenDialog1->SetDefaultFolder(FileOpenDialog1->FileName());
  if (FileOpenDialog1->Execute(this)) EditDestFolder->setText(FileOpenDialog1->FileName());
  // Also after a cancel, so that a folder typed into the box takes effect.
  SetPercorsoDest(EditDestFolder->text());
}
