// The toolkit's hourglass pointer as the busy indicator of the library core.
#pragma once

#include "platform/base/ProgressSink.h"

// Nests: each Begin pushes the wait cursor, each End restores the one before.
class WaitCursorIndicator final : public BusyIndicator {
 public:
  void Begin() override;
  void End() override;
};
