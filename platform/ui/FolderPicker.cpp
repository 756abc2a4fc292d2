#include "platform/ui/FolderPicker.h"

#include <QApplication>
#include <QDir>
#include <QFileDialog>
#include <QScopeGuard>
#include <QStyle>

#include "platform/ui/StyleManager.h"

bool SystemFolderPicker::Execute(QWidget* owner) {
  QFileDialog dialog(owner);
  dialog.setFileMode(QFileDialog::Directory);
  dialog.setOption(QFileDialog::ShowDirsOnly);
  dialog.setDirectory(FDefaultFolder.isEmpty() ? FFileName : FDefaultFolder);
  // An application style sheet reaches every widget, a dialog's own sheet cannot keep it
  // out: it is lifted while the picker is up and put back on every way out.
  const QString applicationSheet = qApp->styleSheet();
  const bool platformLook = !StyleManager::SystemDialogsStyled() && !applicationSheet.isEmpty();
  if (platformLook) qApp->setStyleSheet(QString());
  const auto restoreSheet = qScopeGuard([&] {
    if (platformLook) qApp->setStyleSheet(applicationSheet);
  });
  if (!StyleManager::SystemDialogsStyled()) dialog.setPalette(QApplication::style()->standardPalette());
  if (dialog.exec() != QDialog::Accepted || dialog.selectedFiles().isEmpty()) return false;
  FFileName = QDir::cleanPath(dialog.selectedFiles().constFirst());
  return true;
}
