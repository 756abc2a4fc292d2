#include "platform/ui/FolderPicker.h"

#include <QApplication>
#include <QDir>
#include <QFileDialog>
#include <QStyle>

#include "platform/ui/StyleManager.h"

bool SystemFolderPicker::Execute(QWidget* owner) {
  QFileDialog dialog(owner);
  dialog.setFileMode(QFileDialog::Directory);
  dialog.setOption(QFileDialog::ShowDirsOnly);
  dialog.setDirectory(FDefaultFolder.isEmpty() ? FFileName : FDefaultFolder);
  if (!StyleManager::SystemDialogsStyled()) {
    dialog.setPalette(QApplication::style()->standardPalette());
    dialog.setStyleSheet(QStringLiteral("QWidget {}"));
  }
  if (dialog.exec() != QDialog::Accepted || dialog.selectedFiles().isEmpty()) return false;
  FFileName = QDir::cleanPath(dialog.selectedFiles().constFirst());
  return true;
}
