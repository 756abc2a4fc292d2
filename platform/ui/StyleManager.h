// Visual styles carried in the program's resources, activated by name, and the switch
// that keeps system dialogs (the folder picker) in the platform's own look.
#pragma once

#include <QString>

namespace StyleManager {

// Activates the named style for the whole application.
// Raises Exception("Style '<name>' not found.") for a name the resources do not carry.
void Activate(const QString& name);

// Whether system dialogs are drawn in the active style (on by default).
bool SystemDialogsStyled();
void SetSystemDialogsStyled(bool styled);

// Switches the restyling of system dialogs off for a scope, back on at every way out.
class SystemDialogRestylingOff {
 public:
  SystemDialogRestylingOff() { SetSystemDialogsStyled(false); }
  ~SystemDialogRestylingOff() { SetSystemDialogsStyled(true); }
  SystemDialogRestylingOff(const SystemDialogRestylingOff&) = delete;
  SystemDialogRestylingOff& operator=(const SystemDialogRestylingOff&) = delete;
};

}  // namespace StyleManager
