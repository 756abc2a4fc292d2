// Path helpers with the semantics the program relies on, on the native separator "/".
#pragma once

#include <QString>

namespace paths {

// Appends "/" unless the text already ends with one; an empty text becomes "/".
QString IncludeTrailingPathDelimiter(const QString& path);

// The text after the last "/" (the whole text when there is none).
QString ExtractBareName(const QString& path);

// The folder part of a path including its trailing "/" (empty when there is none).
QString ExtractFilePath(const QString& path);

// The extension of the bare name, dot included ("" when the name has none).
QString ExtractFileExt(const QString& path);

// Replaces the bare name's extension with `extension` (dot included, may be empty), adding it where none.
QString ChangeFileExt(const QString& path, const QString& extension);

// True when a folder exists at `path` (links followed).
bool DirectoryExists(const QString& path);

// True when a file that is not a folder exists at `path` (links followed).
bool FileExists(const QString& path);

// Makes the folder and every missing parent; true when the folder exists afterwards.
bool ForceDirectories(const QString& path);

// The extension that marks a program on this platform (none on Linux).
QString ExecutableExtension();

// Gives the file's owner the right to run it; false when that could not be done.
bool AddOwnerExecutePermission(const QString& path);

}  // namespace paths
