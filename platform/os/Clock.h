// Monotonic time for time-outs and waits. Library code asks Clock::Current() instead of the
// system, so that tests of time-outs move a fake clock instead of sleeping.
//
// Threads: every method may be called from any thread.
#pragma once

#include <QtGlobal>

#include "platform/base/Service.h"

class Clock : public Service<Clock> {
 public:
  virtual ~Clock() = default;
  // Milliseconds since an arbitrary fixed point; never goes back.
  virtual qint64 NowMs() const = 0;
  // Lets `ms` milliseconds pass (a fake clock advances instead of sleeping).
  virtual void SleepMs(qint64 ms) = 0;

  // The system's steady clock.
  static Clock& Default();
};
