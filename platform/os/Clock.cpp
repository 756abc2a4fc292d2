#include "platform/os/Clock.h"

#include <chrono>
#include <thread>

namespace {

class SteadyClock final : public Clock {
 public:
  qint64 NowMs() const override {
    using namespace std::chrono;
    return duration_cast<milliseconds>(steady_clock::now().time_since_epoch()).count();
  }
  void SleepMs(qint64 ms) override {
    if (ms > 0) std::this_thread::sleep_for(std::chrono::milliseconds(ms));
  }
};

}  // namespace

Clock& Clock::Default() {
  static auto* const steady = new SteadyClock;  // never destroyed: worker threads may outlive the exit handlers
  return *steady;
}
