// The file name the service gives the package is a stranger's text: only a bare name may
// become a path in the destination folder.
#pragma once

#include <QString>

// Why `name` may not be used as the package's file name, or empty text when it may: it must
// be non-empty, at most 255 bytes in UTF-8, not "." or "..", and hold no "/", "\", control
// character (NUL included) or bidirectional mark, embedding, override or isolate.
QString FileNameRefusal(const QString& name);
