// What the tool remembers of a download that did not finish, so that the next run for the
// same package continues after the bytes known to be good instead of starting over. Kept
// in the per-user settings file as one value per package file (one locked write, so a kill
// never leaves half a record, and downloads into other files keep theirs); nothing is kept
// when the settings start-up has not run.
#pragma once

#include <QByteArray>
#include <QString>
#include <optional>

struct ResumeRecord {
  QString Path;          // the package file
  QString Url;           // where it came from
  qint64 Length = 0;     // the server's length for it
  QByteArray Validator;  // the server's strong ETag, else its Last-Modified
  qint64 Good = 0;       // the file's first bytes known to be on disk and right

  // Whether this record is for the same path, URL, length and validator as `other`.
  bool SamePackage(const ResumeRecord& other) const;
};

// The record for the package file at `path`; none when there is none or it cannot be read.
std::optional<ResumeRecord> LoadResumeRecord(const QString& path);
// Replaces the record for `record.Path`.
void SaveResumeRecord(const ResumeRecord& record);
void ForgetResumeRecord(const QString& path);
