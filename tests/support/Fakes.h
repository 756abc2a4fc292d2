// Fakes of the platform services: they record what the code under test asked for, and
// install themselves for the lifetime of the fake.
#pragma once

#include <QString>
#include <QStringList>
#include <vector>

#include "platform/Environment.h"
#include "platform/FolderPicker.h"
#include "platform/MessageBox.h"
#include "platform/Screen.h"
#include "platform/Shell.h"

class FakeEnvironment final : public Environment {
 public:
  FakeEnvironment() { Environment::SetCurrent(this); }
  ~FakeEnvironment() override { Environment::SetCurrent(nullptr); }

  QString SystemRoot() const override { return Root; }
  QString DocumentsFolder() const override { return Documents; }
  QString ExecutablePath() const override { return Executable; }
  bool Is64BitSystem() const override { return Is64Bit; }

  QString Root = QStringLiteral("/opt/");
  QString Documents;
  QString Executable = QStringLiteral("/usr/bin/ombrevia-download");
  bool Is64Bit = true;
};

class RecordingShell final : public Shell {
 public:
  RecordingShell() { Shell::SetCurrent(this); }
  ~RecordingShell() override { Shell::SetCurrent(nullptr); }
  void Open(const QString& path) override { Opened << path; }
  QStringList Opened;
};

struct RecordedBox {
  MessageKind Kind;
  QString Title;
  QString Text;
};

class RecordingMessageBoxes {
 public:
  RecordingMessageBoxes();
  ~RecordingMessageBoxes();
  QStringList Texts() const;
  std::vector<RecordedBox> Boxes;
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
  FakeScreen() { Screen::SetCurrent(this); }
  ~FakeScreen() override { Screen::SetCurrent(nullptr); }
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
};
