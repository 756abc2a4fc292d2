// Running Info-ZIP (and other tools) from a test, to cross-check archives both ways, and
// catching the error an archive operation raises.
#pragma once

#include <gtest/gtest.h>

#include <QDir>
#include <QProcess>
#include <QString>
#include <QStringList>

#include "platform/base/Exception.h"

namespace infozip {

struct Run {
  int code;
  QString output;
};

// Runs `program` to its end (two minutes at most) in `folder`; -1 when it crashed or hung.
inline Run RunTool(const QString& program, const QStringList& arguments, const QString& folder = {},
                   const QByteArray& input = {}) {
  QProcess process;
  process.setWorkingDirectory(folder);
  process.setProcessChannelMode(QProcess::MergedChannels);
  process.start(program, arguments);
  process.write(input);
  process.closeWriteChannel();
  process.waitForFinished(120000);
  return {process.exitStatus() == QProcess::NormalExit ? process.exitCode() : -1, QString::fromUtf8(process.readAll())};
}

// `unzip -t`: every entry's data inflates to its recorded size and CRC-32.
inline bool TestPasses(const QString& archive) { return RunTool("unzip", {"-tq", archive}).code == 0; }

// `zipinfo -1`: the entry names as Info-ZIP reads them.
inline QStringList Names(const QString& archive) {
  return RunTool("zipinfo", {"-1", archive}).output.split('\n', Qt::SkipEmptyParts);
}

// `unzip -z`: the archive comment as Info-ZIP reads it.
inline QString Comment(const QString& archive) { return RunTool("unzip", {"-zq", archive}).output; }

}  // namespace infozip

// True when `path` holds nothing (or does not exist).
inline bool IsEmptyFolder(const QString& path) {
  return QDir(path).entryList(QDir::AllEntries | QDir::NoDotAndDotDot | QDir::Hidden | QDir::System).isEmpty();
}

// The message of the Exception `action` raises; fails the test when it raises none.
template <class Action>
QString ErrorOf(Action action) {
  try {
    action();
  } catch (const Exception& error) {
    return error.Message();
  }
  ADD_FAILURE() << "no error";
  return {};
}
