// The ranged download: HEAD for the size and validator, then the 32 KiB ranges
// (RangedDownload.h), continuing what an earlier run left when the package is unchanged,
// with the progress bar over the whole package.
#include <QFileInfo>
#include <QLabel>
#include <QStorageInfo>
#include <algorithm>

#include "app/DownloadLock.h"
#include "app/DownloadServerSetting.h"
#include "app/GradientProgressBar.h"
#include "app/OmbreviaMainForm.h"
#include "app/PackageFile.h"
#include "app/RangedDownload.h"
#include "app/ResumeRecord.h"
#include "app/SafeFileName.h"
#include "platform/base/Dialogs.h"
#include "platform/base/Exception.h"
#include "platform/base/Paths.h"
#include "platform/base/ProgressSink.h"
#include "platform/os/Clock.h"
#include "platform/ui/Application.h"

namespace {

constexpr int kPartialContent = 206;
constexpr qint64 kPumpIntervalMs = 15;
// More than one change of package during one download is a server that cannot be followed.
constexpr int kMostStarts = 2;

bool terminating() { return Application::Instance()->Terminated(); }

// `text` with control characters made visible, for a message about a stranger's name.
QString printable(const QString& text) {
  QString shown;
  for (const QChar c : text)
    shown += c.unicode() < 0x20 || c.unicode() == 0x7F
                 ? QStringLiteral("\\x%1").arg(c.unicode(), 2, 16, QLatin1Char('0'))
                 : QString(c);
  return shown;
}

// The HEAD's strong ETag, else its Last-Modified: what If-Range may name. Empty when the
// reply gives neither in a form that may be sent back.
QByteArray validatorOf(const HttpClient& client) {
  QByteArray validator = client.ResponseHeader("ETag");
  if (validator.isEmpty() || validator.startsWith("W/")) validator = client.ResponseHeader("Last-Modified");
  constexpr qsizetype kLongestValidator = 256;
  const bool sendable = std::all_of(validator.begin(), validator.end(), [](char c) { return c >= 0x20 && c < 0x7F; });
  return sendable && validator.size() <= kLongestValidator ? validator : QByteArray();
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
  const DownloadLock onlyDownloadIntoTheFile(targetPath);
  if (!onlyDownloadIntoTheFile.Held()) {
    ShowMessage(QStringLiteral("%1 is already being downloaded by another window of this program.").arg(targetPath));
    return;
  }
  IdHTTP1->SetTransportSecurity({CaCertificatesSetting()});
  for (int start = 1;; ++start) {
    try {
      FExpectedLength = IdHTTP1->Head(FDownloadUrl);
    } catch (const TransportSecurityError&) {
      throw;  // the user must learn which host could not be trusted, and why
    } catch (const std::exception&) {
      if (terminating()) return;  // the user closed the window: not an error
      ShowMessage(QStringLiteral("File ") + FDownloadFileName + QStringLiteral(" non trovato!!!"));
      return;
    }
    // The file holds the first ranges of the package that was replaced: without a length
    // the new one is not fetched, and those ranges must not pass for the download.
    if (start > 1 && FExpectedLength <= 0)
      throw Exception(
          QStringLiteral("Download of %1 failed: the package changed on the server, and its new length is not given.")
              .arg(FDownloadFileName));
    const ReceiveEnd end = receiveRanges(targetPath, FExpectedLength, validatorOf(*IdHTTP1));
    if (end == ReceiveEnd::Stopped || terminating()) return;
    if (end == ReceiveEnd::Complete) break;
    if (start == kMostStarts)
      throw Exception(QStringLiteral("Download of %1 failed: the server answered a range with the whole package "
                                     "twice (the package changed, or the server ignores byte ranges).")
                          .arg(FDownloadFileName));
  }
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

// Continues the file an earlier run left when the record of it names this very package
// (path, URL, length and validator); any other record is dropped, and the file starts anew.
TMainFormDownloadSetup::ReceiveEnd TMainFormDownloadSetup::receiveRanges(const QString& targetPath,
                                                                         qint64 expectedLength,
                                                                         const QByteArray& validator) {
  if (expectedLength <= 0) {
    // Nothing to fetch: what the file holds goes on, unless it is known to be unfinished.
    if (LoadResumeRecord(targetPath))
      throw Exception(QStringLiteral("Download of %1 failed: the server gives no length for it, and %2 holds an "
                                     "unfinished download.")
                          .arg(FDownloadFileName, targetPath));
    return ReceiveEnd::Complete;
  }
  PackageSource source{FDownloadUrl, FDownloadFileName, expectedLength, validator};
  PackageFile package(targetPath);
  const ResumeRecord wanted{targetPath, FDownloadUrl, expectedLength, validator, 0};
  const std::optional<ResumeRecord> record = LoadResumeRecord(targetPath);
  const bool resumable =
      record && record->SamePackage(wanted) && (record->Good % kRangeSize == 0 || record->Good == expectedLength);
  if (!(resumable && package.ContinueAt(record->Good)) && record) ForgetResumeRecord(targetPath);
  requireRoomFor(expectedLength - package.Size());

  FBytesBeforeRange = package.Size();
  cxProgressBar1->SetMax(100);
  cxProgressBar1->SetPosition(progressPosition(0));
  LabelAvanzamento->setText(QStringLiteral("Download... ") + FDownloadFileName);
  RangedDownload download(*IdHTTP1, package, source, DownloadConnectionsSetting());
  download.Stopping = terminating;
  download.Pump = [this] { pumpWhenDue(); };
  download.Settled = [this](qint64 settled) {
    FBytesBeforeRange = settled;
    cxProgressBar1->SetPosition(progressPosition(0));
  };
  switch (download.Run()) {
    case RangedDownload::End::Stopped: return ReceiveEnd::Stopped;
    case RangedDownload::End::PackageChanged: ForgetResumeRecord(targetPath); return ReceiveEnd::PackageChanged;
    case RangedDownload::End::Complete: break;
  }
  // Checked on disk: what the completion actions will hand on is the file, not our count.
  const qint64 onDisk = QFileInfo(targetPath).size();
  if (onDisk != expectedLength)
    throw Exception(QStringLiteral("Download of %1 failed: the file holds %2 bytes instead of the announced %3.")
                        .arg(FDownloadFileName)
                        .arg(onDisk)
                        .arg(expectedLength));
  ForgetResumeRecord(targetPath);
  return ReceiveEnd::Complete;
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
