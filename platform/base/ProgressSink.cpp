#include "platform/base/ProgressSink.h"

namespace {

class SilentProgress final : public ProgressSink {
 public:
  void Start(const QString&, qint32) override {}
  bool Step(const QString&) override { return true; }
  bool StepValue(qint32) override { return true; }
  void Stop() override {}
};

class NoBusyIndicator final : public BusyIndicator {
 public:
  void Begin() override {}
  void End() override {}
};

}  // namespace

ProgressSink& ProgressSink::Default() {
  static SilentProgress silent;
  return silent;
}

BusyIndicator& BusyIndicator::Default() {
  static NoBusyIndicator none;
  return none;
}

ProgressCycle::ProgressCycle(bool shown, const QString& text, qint32 max) : FShown(shown) {
  if (FShown) ProgressSink::Current().Start(text, max);
}

ProgressCycle::~ProgressCycle() {
  if (FShown) ProgressSink::Current().Stop();
}

bool ProgressCycle::Step(const QString& text) { return !FShown || ProgressSink::Current().Step(text); }

bool ProgressCycle::StepValue(qint32 value) { return !FShown || ProgressSink::Current().StepValue(value); }
