#include "tests/support/Fakes.h"

RecordingMessageBoxes::RecordingMessageBoxes() {
  SetMessageBoxHandler([this](MessageKind kind, const QString& title, const QString& text) {
    Boxes.push_back({kind, title, text});
  });
}

RecordingMessageBoxes::~RecordingMessageBoxes() { SetMessageBoxHandler({}); }

QStringList RecordingMessageBoxes::Texts() const {
  QStringList texts;
  for (const RecordedBox& box : Boxes) texts << box.Text;
  return texts;
}
