#include "progress/QnProgressSink.h"

#include "progress/QnProgressbarForm.h"

void TQnProgressWindowSink::Start(const QString& text, qint32 max) { StartProgress(text, max); }

bool TQnProgressWindowSink::Step(const QString& text) { return StepProgress(text); }

bool TQnProgressWindowSink::StepValue(qint32 value) { return StepProgressValue(value); }

void TQnProgressWindowSink::Stop() { StopProgress(); }
