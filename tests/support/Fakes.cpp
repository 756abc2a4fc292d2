#include "tests/support/Fakes.h"

QStringList RecordingMessageBoxes::Texts() const {
  QStringList texts;
  for (const RecordedBox& box : Boxes) texts << box.Text;
  return texts;
}
