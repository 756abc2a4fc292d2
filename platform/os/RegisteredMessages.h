// Window messages registered by name: every caller in the process that registers the same
// name (compared without regard to case) gets the same identifier, from 0xC000 up.
// Safe to call from any thread.
#pragma once

#include <QString>

quint32 RegisterWindowMessage(const QString& name);
