#include "platform/ui/BusyCursor.h"

#include <QCursor>
#include <QGuiApplication>

void WaitCursorIndicator::Begin() { QGuiApplication::setOverrideCursor(QCursor(Qt::WaitCursor)); }

void WaitCursorIndicator::End() { QGuiApplication::restoreOverrideCursor(); }
