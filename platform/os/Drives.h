// Removable media: whether the file system that holds a path sits on a block device that
// the system marks removable (a USB stick, a memory card). Tests install a fake.
#pragma once

#include <QString>

#include "platform/base/Service.h"

class RemovableMedia : public Service<RemovableMedia> {
 public:
  virtual ~RemovableMedia() = default;
  // False for an empty path and whenever the answer cannot be found out.
  virtual bool Holds(const QString& path) const = 0;

  // The system's own answer (os/<system>/Drives.cpp).
  static RemovableMedia& Default();
};

// RemovableMedia::Current().Holds(path).
bool IsOnRemovableDrive(const QString& path);
