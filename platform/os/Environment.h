// The machine the program runs on: system root, documents, own executable, word size.
// Code asks Environment::Current(); tests install a fake (platform/base/Service.h).
#pragma once

#include <QString>

#include "platform/base/Service.h"

class Environment : public Service<Environment> {
 public:
  virtual ~Environment() = default;

  // The root that the maker's folder layout hangs from, ending with "/".
  // QUARNELL_ROOT overrides the default "/opt/".
  virtual QString SystemRoot() const = 0;
  // The user's documents folder, without a trailing "/".
  virtual QString DocumentsFolder() const = 0;
  // Full path of the running executable.
  virtual QString ExecutablePath() const = 0;
  // True on a 64-bit system.
  virtual bool Is64BitSystem() const = 0;

  // The real machine.
  static Environment& Default();
};

// The real machine.
class SystemEnvironment final : public Environment {
 public:
  QString SystemRoot() const override;
  QString DocumentsFolder() const override;
  QString ExecutablePath() const override;
  bool Is64BitSystem() const override;
};
