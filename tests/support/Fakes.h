// Fakes of the platform services: they record what the code under test asked for, and
// install themselves for the lifetime of the fake.
#pragma once

#include <QString>
#include <QStringList>
#include <algorithm>
#include <atomic>
#include <vector>

#include "platform/base/Dialogs.h"
#include "platform/net/NetworkState.h"
#include "platform/os/Clock.h"
#include "platform/os/Drives.h"
#include "platform/os/Environment.h"
#include "platform/os/Registry.h"
#include "platform/os/Shell.h"
#include "platform/ui/FolderPicker.h"
#include "platform/ui/Screen.h"

class FakeEnvironment final : public Environment {
 public:
  QString SystemRoot() const override { return Root; }
  QString DocumentsFolder() const override { return Documents; }
  QString ExecutablePath() const override { return Executable; }
  bool Is64BitSystem() const override { return Is64Bit; }

  QString Root = QStringLiteral("/opt/");
  QString Documents;
  QString Executable = QStringLiteral("/usr/bin/ombrevia-download");
  bool Is64Bit = true;

 private:
  const ScopedService<Environment> FInstalled{*this};
};

class RecordingShell final : public Shell {
 public:
  void Open(const QString& path) override { Opened << path; }
  QStringList Opened;

 private:
  const ScopedService<Shell> FInstalled{*this};
};

struct RecordedBox {
  MessageKind Kind;
  QString Title;
  QString Text;
};

// Records every box instead of showing it; questions get `ConfirmAnswer`.
class RecordingMessageBoxes final : public Dialogs {
 public:
  void Show(MessageKind kind, const QString& title, const QString& text) override {
    Boxes.push_back({kind, title, text});
  }
  bool Confirm(const QString& title, const QString& text) override {
    Questions.push_back({MessageKind::Information, title, text});
    return ConfirmAnswer;
  }
  QStringList Texts() const;
  std::vector<RecordedBox> Boxes;
  std::vector<RecordedBox> Questions;
  bool ConfirmAnswer = false;

 private:
  const ScopedService<Dialogs> FInstalled{*this};
};

// Answers Execute with a scripted choice and records what it was given.
class FakeFolderPicker final : public FolderPicker {
 public:
  bool Execute(QWidget*) override {
    ++Shown;
    ProposedName = FFileName;
    if (Choice.isEmpty()) return false;
    FFileName = Choice;
    return true;
  }
  QString Choice;  // empty: the user cancels
  QString ProposedName;
  int Shown = 0;
};

// A screen of a given size with the taskbar where a test puts it.
class FakeScreen final : public Screen {
 public:
  QRect Geometry() const override { return Full; }
  QRect AvailableGeometry() const override { return Available; }
  int PixelsPerInch() const override { return Dpi; }
  bool CursorPosition(QPoint& position) const override {
    position = Cursor;
    return true;
  }
  QRect Full{0, 0, 1920, 1080};
  QRect Available{0, 0, 1920, 1040};  // a 40-pixel taskbar at the bottom
  int Dpi = 96;
  QPoint Cursor{-1, -1};

 private:
  const ScopedService<Screen> FInstalled{*this};
};

// Answers whether a path is on removable media from a list of folders.
class FakeRemovableMedia final : public RemovableMedia {
 public:
  bool Holds(const QString& path) const override {
    for (const QString& folder : Removable)
      if (path.startsWith(folder)) return true;
    return false;
  }
  QStringList Removable;

 private:
  const ScopedService<RemovableMedia> FInstalled{*this};
};

// A clock that moves only when told: SleepMs and Advance add to Now; waits cost no real time.
class FakeClock final : public Clock {
 public:
  qint64 NowMs() const override { return Now.load(); }
  void SleepMs(qint64 ms) override { Advance(ms); }
  // A wait gives the other threads a short real moment to deliver an event; without one,
  // the whole wait passes on this clock at once (unless WaitsMoveTime is false: then only
  // the test moves the time, however slowly the machine delivers the event).
  bool WaitMs(qint64 ms, const std::function<bool(qint64 realMs)>& waitForEvent) override {
    const bool woken = waitForEvent(std::min(ms, RealWaitMs));
    if (!woken && WaitsMoveTime) Advance(ms);
    return woken;
  }
  void Advance(qint64 ms) { Now += ms; }
  std::atomic<qint64> Now{1000000};
  qint64 RealWaitMs = 20;
  bool WaitsMoveTime = true;

 private:
  const ScopedService<Clock> FInstalled{*this};
};

// A network that is up or down as the test says.
class FakeNetworkState final : public NetworkState {
 public:
  bool Connected() const override { return IsConnected; }
  std::atomic<bool> IsConnected{true};

 private:
  const ScopedService<NetworkState> FInstalled{*this};
};
