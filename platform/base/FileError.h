// The one text of a failed file operation, built here and nowhere else:
//   Cannot <open|read|write|create> file "<path>". <the system's reason>
#pragma once

#include <QFileDevice>
#include <QString>

#include "platform/base/Exception.h"

enum class FileAction { Open, Read, Write, Create };

// The exception for `action` on `path` failing for `reason`.
Exception FileError(FileAction action, const QString& path, const QString& reason);
// The same, with the file's own name and last error.
Exception FileError(FileAction action, const QFileDevice& file);
