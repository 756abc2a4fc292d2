// Where the library reports the progress of an operation that blocks the calling thread
// (zip extraction, file copy). The progress window installs itself as the sink at start-up;
// until then, and in programs without a user interface, the sink does nothing, so the
// library core needs no widgets.
//
// Threads: the user-interface thread.
#pragma once

#include <QString>

#include "platform/base/Service.h"

class ProgressSink : public Service<ProgressSink> {
 public:
  virtual ~ProgressSink() = default;
  // Starts a cycle (cycles nest): `max` steps, 0 for an unknown total.
  virtual void Start(const QString& text, qint32 max) = 0;
  // One step; false when the user asked to cancel.
  virtual bool Step(const QString& text) = 0;
  // Sets the position; false when the user asked to cancel.
  virtual bool StepValue(qint32 value) = 0;
  // Ends the innermost cycle.
  virtual void Stop() = 0;

  static ProgressSink& Default();
};

// A progress cycle for the lifetime of a scope, ended on every way out; shows nothing
// when `shown` is false.
class ProgressCycle {
 public:
  ProgressCycle(bool shown, const QString& text, qint32 max);
  ~ProgressCycle();
  ProgressCycle(const ProgressCycle&) = delete;
  ProgressCycle& operator=(const ProgressCycle&) = delete;

  // One step (nothing when not shown); false when the user asked to cancel.
  bool Step(const QString& text);
  // Sets the position (nothing when not shown); false when the user asked to cancel.
  bool StepValue(qint32 value);

 private:
  bool FShown;  // whether this scope started a cycle that it must stop
};

// The busy pointer while a scope runs, restored on every way out. Without a user
// interface it does nothing.
class BusyIndicator : public Service<BusyIndicator> {
 public:
  virtual ~BusyIndicator() = default;
  virtual void Begin() = 0;
  virtual void End() = 0;

  static BusyIndicator& Default();
};

class BusyScope {
 public:
  BusyScope() { BusyIndicator::Current().Begin(); }
  ~BusyScope() { BusyIndicator::Current().End(); }
  BusyScope(const BusyScope&) = delete;
  BusyScope& operator=(const BusyScope&) = delete;
};
