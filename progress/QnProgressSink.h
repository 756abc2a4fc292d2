// The progress window as the library core's progress sink: installed at start-up, it turns
// the core's reports into StartProgress, StepProgress, StepProgressValue and StopProgress.
#pragma once

#include "platform/base/ProgressSink.h"

class TQnProgressWindowSink final : public ProgressSink {
 public:
  void Start(const QString& text, qint32 max) override;
  bool Step(const QString& text) override;
  bool StepValue(qint32 value) override;
  void Stop() override;
};
