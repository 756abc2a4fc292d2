#include "platform/ui/StyleManager.h"

#include <QApplication>
#include <QFile>
#include <QPalette>
#include <QStyle>
#include <QStyleFactory>
#include <QTextStream>
#include <memory>

#include "platform/base/Exception.h"

namespace {

bool systemDialogsStyled = true;

// A style is two resources named after it: "<name>.palette" (lines "Role=#rrggbb")
// and "<name>.qss", the style sheet.
QString resourceStem(const QString& name) {
  QString stem = name.toLower();
  stem.replace(QLatin1Char(' '), QLatin1Char('-'));
  return QStringLiteral(":/styles/") + stem;
}

QPalette::ColorRole roleNamed(const QString& role) {
  // Laid out as a table by hand.
  // clang-format off
  static const QHash<QString, QPalette::ColorRole> roles = {
      {"Window", QPalette::Window},         {"WindowText", QPalette::WindowText},
      {"Base", QPalette::Base},             {"AlternateBase", QPalette::AlternateBase},
      {"Text", QPalette::Text},             {"Button", QPalette::Button},
      {"ButtonText", QPalette::ButtonText}, {"Highlight", QPalette::Highlight},
      {"HighlightedText", QPalette::HighlightedText}, {"ToolTipBase", QPalette::ToolTipBase},
      {"ToolTipText", QPalette::ToolTipText}, {"PlaceholderText", QPalette::PlaceholderText},
      {"Light", QPalette::Light},           {"Mid", QPalette::Mid},
      {"Dark", QPalette::Dark},             {"Shadow", QPalette::Shadow}};
  // clang-format on
  return roles.value(role, QPalette::NoRole);
}

QPalette readPalette(QFile& file) {
  const std::unique_ptr<QStyle> fusion(QStyleFactory::create(QStringLiteral("Fusion")));
  QPalette palette = fusion->standardPalette();
  QTextStream lines(&file);
  while (!lines.atEnd()) {
    const QStringList pair = lines.readLine().split(QLatin1Char('='));
    if (pair.size() != 2) continue;
    const QPalette::ColorRole role = roleNamed(pair[0].trimmed());
    if (role != QPalette::NoRole) palette.setColor(role, QColor(pair[1].trimmed()));
  }
  palette.setColor(QPalette::Disabled, QPalette::ButtonText, palette.color(QPalette::Mid));
  palette.setColor(QPalette::Disabled, QPalette::WindowText, palette.color(QPalette::Mid));
  palette.setColor(QPalette::Disabled, QPalette::Text, palette.color(QPalette::Mid));
  return palette;
}

}  // namespace

// The resources live in this static library; naming them keeps the linker from dropping them.
static void loadStyleResources() { Q_INIT_RESOURCE(styles); }

namespace StyleManager {

void Activate(const QString& name) {
  loadStyleResources();
  QFile paletteFile(resourceStem(name) + QStringLiteral(".palette"));
  QFile sheetFile(resourceStem(name) + QStringLiteral(".qss"));
  if (!paletteFile.open(QIODevice::ReadOnly) || !sheetFile.open(QIODevice::ReadOnly))
    throw Exception(QStringLiteral("Style '%1' not found.").arg(name));
  QApplication::setStyle(QStringLiteral("Fusion"));
  QApplication::setPalette(readPalette(paletteFile));
  qApp->setStyleSheet(QString::fromUtf8(sheetFile.readAll()));
}

bool SystemDialogsStyled() { return systemDialogsStyled; }

void SetSystemDialogsStyled(bool styled) { systemDialogsStyled = styled; }

}  // namespace StyleManager
