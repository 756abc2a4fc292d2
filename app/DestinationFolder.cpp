#include "app/DestinationFolder.h"

#include <QDir>
#include <QFileInfo>
#include <QLineEdit>

#include "app/OmbreviaMainForm.h"
#include "platform/base/Dialogs.h"
#include "platform/base/Paths.h"
#include "platform/os/Environment.h"
#include "platform/ui/StyleManager.h"

QString GetDefaultDownloadFolder() {
  const QString folder =
      paths::IncludeTrailingPathDelimiter(Environment::Current().SystemRoot()) + QStringLiteral("Quarnell/Download/");
  if (!paths::DirectoryExists(folder)) paths::ForceDirectories(folder);
  return folder;
}

namespace {

// Why `folder` cannot take a download, in the words of the box; "" when it can.
QString whyUnusable(const QString& folder) {
  const QFileInfo info(folder);
  if (info.isDir())
    return info.isWritable() ? QString() : QStringLiteral("l'utente attuale non ha il permesso di scrivervi");
  // The nearest part of the path that exists is what refused the new folder.
  QString part = QDir::cleanPath(folder);
  while (!QFileInfo::exists(part) && part != QFileInfo(part).path()) part = QFileInfo(part).path();
  const QFileInfo nearest(part);
  if (!nearest.isDir()) return QStringLiteral("\"%1\" non è una cartella").arg(part);
  if (!nearest.isWritable())
    return QStringLiteral("l'utente attuale non ha il permesso di scrivere in \"%1\"").arg(part);
  return QStringLiteral("il sistema non ne ha permesso la creazione");
}

}  // namespace

void ReportUnusableDownloadFolder(const QString& folder) {
  const QString why = whyUnusable(folder);
  if (why.isEmpty()) return;
  ShowErrorBox(QStringLiteral("I pacchetti scaricati non possono essere salvati nella cartella \"%1\": %2.\n\n"
                              "Scegliere un'altra cartella con il pulsante \"...\" oppure chiedere "
                              "all'amministratore di installare il pacchetto ombrevia-download, che crea "
                              "le cartelle condivise in cui ogni utente può scrivere.")
                   .arg(QDir::toNativeSeparators(folder), why));
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
