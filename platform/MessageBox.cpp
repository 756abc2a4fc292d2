#include "platform/MessageBox.h"

#include <QApplication>
#include <QMessageBox>

namespace {

MessageBoxHandler& installedHandler() {
  static MessageBoxHandler handler;
  return handler;
}

void showBox(MessageKind kind, const QString& text) {
  const QString title = QApplication::applicationName();
  if (installedHandler()) {
    installedHandler()(kind, title, text);
    return;
  }
  QWidget* owner = QApplication::activeWindow();
  if (kind == MessageKind::Error)
    QMessageBox::critical(owner, title, text, QMessageBox::Ok);
  else
    QMessageBox::information(owner, title, text, QMessageBox::Ok);
}

}  // namespace

void ShowMessage(const QString& text) { showBox(MessageKind::Information, text); }

void ShowErrorBox(const QString& text) { showBox(MessageKind::Error, text); }

void SetMessageBoxHandler(MessageBoxHandler handler) { installedHandler() = std::move(handler); }
