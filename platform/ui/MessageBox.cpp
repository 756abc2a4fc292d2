#include "platform/ui/MessageBox.h"

#include <QApplication>
#include <QMessageBox>

void WidgetDialogs::Show(MessageKind kind, const QString& title, const QString& text) {
  QWidget* owner = QApplication::activeWindow();
  if (kind == MessageKind::Error)
    QMessageBox::critical(owner, title, text, QMessageBox::Ok);
  else
    QMessageBox::information(owner, title, text, QMessageBox::Ok);
}

bool WidgetDialogs::Confirm(const QString& title, const QString& text) {
  return QMessageBox::question(QApplication::activeWindow(), title, text, QMessageBox::Ok | QMessageBox::Cancel) ==
         QMessageBox::Ok;
}
