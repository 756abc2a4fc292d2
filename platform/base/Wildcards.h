// File-search wildcards with the semantics the program's users know: "*" any run of
// characters, "?" one character, letters compared without regard to case, and "*.*"
// matching every name (also one without a dot).
#pragma once

#include <QString>

bool MatchesFileMask(const QString& name, const QString& mask);
