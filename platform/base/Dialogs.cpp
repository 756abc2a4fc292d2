#include "platform/base/Dialogs.h"

#include <QCoreApplication>
#include <cstdio>

namespace {

// Without a user interface nobody can answer: say it on the error stream, decline questions.
class ConsoleDialogs final : public Dialogs {
 public:
  void Show(MessageKind, const QString& title, const QString& text) override {
    std::fprintf(stderr, "%s: %s\n", qUtf8Printable(title), qUtf8Printable(text));
  }
  bool Confirm(const QString& title, const QString& text) override {
    Show(MessageKind::Information, title, text);
    return false;
  }
};

QString applicationTitle() { return QCoreApplication::applicationName(); }

}  // namespace

Dialogs& Dialogs::Default() {
  static ConsoleDialogs console;
  return console;
}

void ShowMessage(const QString& text) { Dialogs::Current().Show(MessageKind::Information, applicationTitle(), text); }

void ShowErrorBox(const QString& text) { Dialogs::Current().Show(MessageKind::Error, applicationTitle(), text); }

bool AskConfirmation(const QString& text) { return Dialogs::Current().Confirm(applicationTitle(), text); }
