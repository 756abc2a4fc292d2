// Monotonic time for time-outs and waits. Library code asks Clock::Current() instead of the
// system, so that tests of time-outs move a fake clock instead of sleeping.
//
// Threads: every method may be called from any thread.
#pragma once

#include <QtGlobal>
#include <functional>

#include "platform/base/Service.h"

class Clock : public Service<Clock> {
 public:
  virtual ~Clock() = default;
  // Milliseconds since an arbitrary fixed point; never goes back.
  virtual qint64 NowMs() const = 0;
  // Lets `ms` milliseconds pass (a fake clock advances instead of sleeping).
  virtual void SleepMs(qint64 ms) = 0;
  // Waits up to `ms` of this clock's time for an event. `waitForEvent(realMs)` blocks for
  // at most `realMs` real milliseconds and answers whether an event ended the wait; its
  // answer is returned. The system clock passes `ms` straight through; a fake one waits
  // a little real time and, when nothing happened, advances by `ms`.
  virtual bool WaitMs(qint64 ms, const std::function<bool(qint64 realMs)>& waitForEvent) { return waitForEvent(ms); }

  // The system's steady clock.
  static Clock& Default();
};
