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

namespace {
std::function<bool(const QString&)>& confirmationHandler() {
  static std::function<bool(const QString&)> handler;
  return handler;
}
}  // namespace

bool AskConfirmation(const QString& text) {
  if (confirmationHandler()) return confirmationHandler()(text);
  return QMessageBox::question(QApplication::activeWindow(), QApplication::applicationName(), text,
                               QMessageBox::Ok | QMessageBox::Cancel) == QMessageBox::Ok;
}

void SetConfirmationHandler(std::function<bool(const QString& text)> handler) {
  confirmationHandler() = std::move(handler);
}
