// Window messages registered by name: every caller that registers the same name (compared
// without regard to case) gets the same identifier, from 0xC000 to 0xFFFF, in this process
// and in every other process of the user's session. The numbers given out are kept in a
// table in the user's runtime folder, read and extended under a lock file; when that folder
// cannot be used, the number is derived from the name alone (still the same everywhere).
// Safe to call from any thread and from several processes at once.
#pragma once

#include <QString>

quint32 RegisterWindowMessage(const QString& name);
