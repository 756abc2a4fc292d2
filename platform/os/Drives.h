// Removable media: whether the file system that holds a path sits on a block device that
// the kernel marks removable (a USB stick, a memory card).
#pragma once

#include <QString>

bool IsOnRemovableDrive(const QString& path);
