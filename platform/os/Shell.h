// The desktop shell's "open": a folder or document goes to the user's file browser or
// the program registered for it; an executable file is started. Tests install a recorder.
#pragma once

#include <QString>

#include "platform/base/Service.h"

class Shell : public Service<Shell> {
 public:
  virtual ~Shell() = default;

  // Hands `path` to the shell; whatever happens is not reported.
  virtual void Open(const QString& path) = 0;

  // Copies the folder `source` with everything in it, replacing existing files. Like the
  // desktop's file operation: into an existing folder `dest` as a sub-folder named after
  // `source`, otherwise as `dest` itself. True when everything was copied.
  virtual bool CopyFolder(const QString& source, const QString& dest);

  // The desktop's shell.
  static Shell& Default();
};

// Whether the file at `path` is a program the system can start: an ELF executable or a
// script that begins with "#!". False when it cannot be read.
bool IsProgramFile(const QString& path);

// Opens through xdg-open; starts executable programs detached so that they outlive the
// program. A document is opened even when it carries an execute bit.
class DesktopShell final : public Shell {
 public:
  void Open(const QString& path) override;
};
