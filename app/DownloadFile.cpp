// The ranged download: HEAD for the size, then consecutive 32 KiB ranges, each checked
// against what was asked and appended to the package file as it arrives, with the
// progress bar over the whole package.
#include <QFileInfo>
#include <QLabel>
#include <QRegularExpression>
#include <QStorageInfo>

#include "app/DownloadServerSetting.h"
#include "app/GradientProgressBar.h"
#include "app/OmbreviaMainForm.h"
#include "app/PackageFile.h"
#include "app/SafeFileName.h"
#include "platform/base/Dialogs.h"
#include "platform/base/Exception.h"
#include "platform/base/Paths.h"
#include "platform/base/ProgressSink.h"
#include "platform/os/Clock.h"
#include "platform/ui/Application.h"

namespace {

constexpr qint64 kRangeSize = 32768;
constexpr int kOk = 200;
constexpr int kPartialContent = 206;
constexpr qint64 kPumpIntervalMs = 15;
// A whole-file reply is held in memory until it is complete: only a package this small may
// come that way; a larger one must come in ranges, whatever length the HEAD announced.
constexpr qint64 kMaxWholeReplyBytes = 256 * 1024 * 1024;

bool terminating() { return Application::Instance()->Terminated(); }

// The last range asks up to the length itself: servers read a last position past the end as the end.
qint64 askedRangeEnd(qint64 start, qint64 length) {
  return start + kRangeSize < length ? start + kRangeSize - 1 : length;
}

QByteArray rangeHeader(qint64 start, qint64 length) {
  return "bytes=" + QByteArray::number(start) + '-' + QByteArray::number(askedRangeEnd(start, length));
}

// `text` with control characters made visible, for a message about a stranger's name.
QString printable(const QString& text) {
  QString shown;
  for (const QChar c : text)
    shown += c.unicode() < 0x20 || c.unicode() == 0x7F
                 ? QStringLiteral("\\x%1").arg(c.unicode(), 2, 16, QLatin1Char('0'))
                 : QString(c);
  return shown;
}

// True when `contentRange` is exactly "bytes first-last/length" ("*" allowed for the length).
bool contentRangeMatches(const QByteArray& contentRange, qint64 first, qint64 last, qint64 length) {
  static const QRegularExpression form(QStringLiteral("^bytes (\\d{1,18})-(\\d{1,18})/(\\d{1,18}|\\*)$"));
  const QRegularExpressionMatch match = form.match(QString::fromLatin1(contentRange.trimmed()));
  if (!match.hasMatch()) return false;
  return match.captured(1).toLongLong() == first && match.captured(2).toLongLong() == last &&
         (match.captured(3) == QLatin1String("*") || match.captured(3).toLongLong() == length);
}

}  // namespace

void TMainFormDownloadSetup::DownloadFile(QObject*, bool Installa) {
  if (FDownloading) return;  // a click handled inside a progress event of the running download
  FDownloading = true;
  struct DownloadingReset {
    bool& flag;
    ~DownloadingReset() { flag = false; }
  } downloadingReset{FDownloading};
  const BusyScope busy;

  const QString nameRefusal = FileNameRefusal(FDownloadFileName);
  if (!nameRefusal.isEmpty()) {
    ShowMessage(QStringLiteral("The file name \"%1\" was refused: %2.").arg(printable(FDownloadFileName), nameRefusal));
    return;
  }
  const QString targetPath = paths::IncludeTrailingPathDelimiter(FPercorsoDest) + FDownloadFileName;
  IdHTTP1->SetTransportSecurity({CaCertificatesSetting()});
  try {
    FExpectedLength = IdHTTP1->Head(FDownloadUrl);
  } catch (const TransportSecurityError&) {
    throw;  // the user must learn which host could not be trusted, and why
  } catch (const std::exception&) {
    if (terminating()) return;  // the user closed the window: not an error
    ShowMessage(QStringLiteral("File ") + FDownloadFileName + QStringLiteral(" non trovato!!!"));
    return;
  }
  requireRoomFor(FExpectedLength);
  if (!receiveRanges(targetPath, FExpectedLength) || terminating()) return;
  if (!packageTrusted(targetPath)) return;
  runCompletionActions(Installa, targetPath);
}

// The announced length is the server's word: a package larger than the free space would
// fill the (shared) disk range by range before failing.
void TMainFormDownloadSetup::requireRoomFor(qint64 length) const {
  const QStorageInfo storage(FPercorsoDest);
  if (length > 0 && storage.isValid() && storage.bytesAvailable() >= 0 && length > storage.bytesAvailable())
    throw Exception(QStringLiteral("Download of %1 failed: it needs %2 bytes, but only %3 bytes are free in %4.")
                        .arg(FDownloadFileName)
                        .arg(length)
                        .arg(storage.bytesAvailable())
                        .arg(storage.rootPath()));
}

Exception TMainFormDownloadSetup::rangeError(const QByteArray& range, const QString& what) const {
  return Exception(
      QStringLiteral("Download of %1 failed at %2: %3").arg(FDownloadFileName, QString::fromLatin1(range), what));
}

bool TMainFormDownloadSetup::receiveRanges(const QString& targetPath, qint64 expectedLength) {
  PackageFile package(targetPath);
  QByteArray range;  // only the range in flight is held in memory
  while (package.Size() < expectedLength) {
    const qint64 start = package.Size();
    const qint64 last = std::min(askedRangeEnd(start, expectedLength), expectedLength - 1);
    const QByteArray header = rangeHeader(start, expectedLength);
    FBytesBeforeRange = start;
    const qint64 rangeLength = last - start + 1;
    // A server that ignores Range may answer with the whole package; a 206 is held to the range.
    IdHTTP1->SetMaxBodySize(expectedLength <= kMaxWholeReplyBytes ? expectedLength : rangeLength, rangeLength);
    try {
      IdHTTP1->Get(FDownloadUrl, header, range);
    } catch (const std::exception& failure) {
      if (terminating()) return false;  // dropped for a stop by the user
      throw rangeError(header, QString::fromUtf8(failure.what()));
    }
    if (terminating()) return false;  // what this GET added is not written
    if (IdHTTP1->ResponseCode() == kPartialContent) {
      const QByteArray contentRange = IdHTTP1->ResponseHeader("Content-Range");
      if (!contentRangeMatches(contentRange, start, last, expectedLength))
        throw rangeError(header, QStringLiteral("the reply's Content-Range is \"%1\" instead of \"bytes %2-%3/%4\".")
                                     .arg(QString::fromLatin1(contentRange))
                                     .arg(start)
                                     .arg(last)
                                     .arg(expectedLength));
      if (range.size() != rangeLength)
        throw rangeError(header,
                         QStringLiteral("the reply holds %1 bytes instead of %2.").arg(range.size()).arg(rangeLength));
      package.Append(range);
    } else if (IdHTTP1->ResponseCode() == kOk) {
      if (range.size() != expectedLength)
        throw rangeError(
            header,
            QStringLiteral("the whole-file reply holds %1 bytes instead of %2.").arg(range.size()).arg(expectedLength));
      package.Replace(range);  // the server ignored Range and sent the whole package
    } else {
      throw rangeError(header, QStringLiteral("the reply has status %1 instead of 206.").arg(IdHTTP1->ResponseCode()));
    }
  }
  // Checked on disk: what the completion actions will hand on is the file, not our count.
  const qint64 onDisk = QFileInfo(targetPath).size();
  if (expectedLength > 0 && onDisk != expectedLength)
    throw Exception(QStringLiteral("Download of %1 failed: the file holds %2 bytes instead of the announced %3.")
                        .arg(FDownloadFileName)
                        .arg(onDisk)
                        .arg(expectedLength));
  return true;
}

double TMainFormDownloadSetup::progressPosition(qint64 receivedInRange) const {
  if (FFetchingSignature) return 100;
  if (FExpectedLength > 0) return static_cast<double>((FBytesBeforeRange + receivedInRange) * 100) / FExpectedLength;
  if (WorkCountMax > 0) return static_cast<double>(receivedInRange * 100) / WorkCountMax;
  return 0;
}

void TMainFormDownloadSetup::pumpAndStopWhenTerminating() {
  Application::Instance()->ProcessMessages();
  FLastPumpMs = Clock::Current().NowMs();
  if (terminating()) IdHTTP1->Disconnect();
}

// Every range raises several transfer events; pumping on each would cost a trip to the
// window system per range. Pumping every kPumpIntervalMs keeps the window alive and a
// close still stops the transfer at once.
void TMainFormDownloadSetup::pumpWhenDue() {
  if (Clock::Current().NowMs() - FLastPumpMs >= kPumpIntervalMs)
    pumpAndStopWhenTerminating();
  else if (terminating())
    IdHTTP1->Disconnect();
}

void TMainFormDownloadSetup::IdHTTP1WorkBegin(QObject*, WorkMode, qint64 AWorkCountMax) {
  if (IdHTTP1->ResponseCode() != kPartialContent) FBytesBeforeRange = 0;  // a whole body starts over
  WorkCountMax = AWorkCountMax;
  cxProgressBar1->SetMax(100);
  cxProgressBar1->SetPosition(progressPosition(0));
  const QString label = QStringLiteral("Download... ") + FDownloadFileName;
  if (LabelAvanzamento->text() != label) LabelAvanzamento->setText(label);  // once per download
  pumpWhenDue();
}

void TMainFormDownloadSetup::IdHTTP1Work(QObject*, WorkMode, qint64 AWorkCount) {
  cxProgressBar1->SetPosition(progressPosition(AWorkCount));
  pumpWhenDue();
}

void TMainFormDownloadSetup::IdHTTP1WorkEnd(QObject*, WorkMode) {
  cxProgressBar1->SetPosition(FExpectedLength > 0 ? progressPosition(WorkCountMax) : 100);
  pumpWhenDue();
}
