// The application object: message loop, message pump, the terminate request and the
// top-level error box. Closing the main window posts a quit request; the terminating
// flag becomes set when a pump (the loop's or ProcessMessages) takes that request.
//
// One instance at a time, made on the user-interface thread after the QApplication.
#pragma once

#include <QObject>
#include <QPointer>
#include <QString>
#include <QWidget>
#include <exception>

class Application final : public QObject {
  Q_OBJECT

 public:
  // Initialises the application object; `title` titles the error box and every message box.
  explicit Application(const QString& title);
  ~Application() override;

  // The instance in force (nullptr before one is made).
  static Application* Instance();

  QString Title() const { return FTitle; }

  // The main window: closing it asks the application to terminate.
  void SetMainForm(QWidget* form);
  QWidget* MainForm() const { return FMainForm; }

  // Shows the main window and runs the message loop until the quit request is taken.
  int Run();
  // Processes every pending message, the quit request included.
  void ProcessMessages();
  // Posts the quit request to the message queue.
  void Terminate();
  // True once a pump has taken the quit request.
  bool Terminated() const { return FTerminated; }

  // The top-level handler: shows the error's text in a modal error box.
  void ShowException(const std::exception& error);

  // Runs `work` as an event handler: an error it raises reaches the top-level handler
  // instead of unwinding into the toolkit.
  template <typename Work>
  void RunHandler(Work&& work) {
    try {
      work();
    } catch (const std::exception& error) {
      ShowException(error);
    }
  }

  // Enables or disables the main window (while a modal operation runs).
  void EnableMainWindow(bool enabled);

 protected:
  bool event(QEvent* event) override;
  bool eventFilter(QObject* watched, QEvent* event) override;

 private:
  QString FTitle;
  QPointer<QWidget> FMainForm;
  bool FTerminated = false;
};
