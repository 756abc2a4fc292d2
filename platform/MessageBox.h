// Modal message boxes with an OK button. Tests replace the handler to record instead of showing.
#pragma once

#include <QString>
#include <functional>

enum class MessageKind { Information, Error };

using MessageBoxHandler = std::function<void(MessageKind kind, const QString& title, const QString& text)>;

// Shows `text` in a modal box titled with the application's name.
void ShowMessage(const QString& text);
// Shows `text` in a modal error box titled with the application's name.
void ShowErrorBox(const QString& text);

// Asks `text` in a modal box with OK and Cancel; true for OK.
bool AskConfirmation(const QString& text);

// Installs a handler for every box; an empty handler restores the real boxes.
void SetMessageBoxHandler(MessageBoxHandler handler);
// Installs the answerer of confirmations; an empty one restores the real box.
void SetConfirmationHandler(std::function<bool(const QString& text)> handler);
