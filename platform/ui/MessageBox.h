// The real modal boxes (QMessageBox) behind the library's Dialogs service; installed by the
// program at start-up.
#pragma once

#include "platform/base/Dialogs.h"

class WidgetDialogs final : public Dialogs {
 public:
  // Over the active window; an error box shows the critical icon.
  void Show(MessageKind kind, const QString& title, const QString& text) override;
  bool Confirm(const QString& title, const QString& text) override;
};
