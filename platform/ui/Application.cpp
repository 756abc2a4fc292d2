#include "platform/ui/Application.h"

#include <QApplication>
#include <QEvent>
#include <QWidget>

#include "platform/base/Dialogs.h"

namespace {

Application* currentApplication = nullptr;

// The quit request travels through the queue like any message, so that it takes
// effect only when some pump reaches it.
const QEvent::Type QuitRequestEvent = static_cast<QEvent::Type>(QEvent::registerEventType());

}  // namespace

Application::Application(const QString& title) : FTitle(title) {
  QApplication::setApplicationName(title);
  QApplication::setQuitOnLastWindowClosed(false);
  currentApplication = this;
}

Application::~Application() {
  if (currentApplication == this) currentApplication = nullptr;
}

Application* Application::Instance() { return currentApplication; }

void Application::SetMainForm(QWidget* form) {
  if (FMainForm) FMainForm->removeEventFilter(this);
  FMainForm = form;
  if (form) form->installEventFilter(this);
}

int Application::Run() {
  if (FMainForm) FMainForm->show();
  ProcessMessages();  // a quit request taken before the loop would otherwise be lost
  if (FTerminated) return 0;
  return QApplication::exec();
}

void Application::ProcessMessages() {
  QCoreApplication::sendPostedEvents();
  QCoreApplication::processEvents(QEventLoop::AllEvents);
}

void Application::Terminate() { QCoreApplication::postEvent(this, new QEvent(QuitRequestEvent)); }

void Application::ShowException(const std::exception& error) { ShowErrorBox(QString::fromUtf8(error.what())); }

void Application::EnableMainWindow(bool enabled) {
  if (FMainForm) FMainForm->setEnabled(enabled);
}

bool Application::event(QEvent* event) {
  if (event->type() != QuitRequestEvent) return QObject::event(event);
  FTerminated = true;
  QCoreApplication::exit(0);
  return true;
}

bool Application::eventFilter(QObject* watched, QEvent* event) {
  if (watched == FMainForm && event->type() == QEvent::Close) Terminate();
  return QObject::eventFilter(watched, event);
}
