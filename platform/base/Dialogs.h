// The library's modal questions and messages (an OK box, an error box, an OK/Cancel
// question), reached through a service so that the library core needs no widgets. The user
// interface installs the real boxes at start-up; without one, messages go to the standard
// error stream and every question is answered Cancel. Tests install a recorder.
//
// Threads: the user-interface thread, as the boxes are modal.
#pragma once

#include <QString>

#include "platform/base/Service.h"

enum class MessageKind { Information, Error };

class Dialogs : public Service<Dialogs> {
 public:
  virtual ~Dialogs() = default;
  // Shows `text` modally in a box titled `title` with an OK button.
  virtual void Show(MessageKind kind, const QString& title, const QString& text) = 0;
  // Asks `text` modally with OK and Cancel; true for OK.
  virtual bool Confirm(const QString& title, const QString& text) = 0;

  static Dialogs& Default();
};

// Shows `text` in a box titled with the application's name.
void ShowMessage(const QString& text);
// Shows `text` in an error box titled with the application's name.
void ShowErrorBox(const QString& text);
// Asks `text` with OK and Cancel; true for OK.
bool AskConfirmation(const QString& text);
