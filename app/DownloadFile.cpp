// The ranged download: HEAD for the size, then consecutive 32 KiB ranges, each appended
// to the package file as it arrives, with the progress bar over the whole package.
#include <QLabel>

#include "app/GradientProgressBar.h"
#include "app/OmbreviaMainForm.h"
#include "app/PackageFile.h"
#include "platform/ui/Application.h"
#include "platform/base/ProgressSink.h"
#include "platform/base/Exception.h"
#include "platform/base/Dialogs.h"
#include "platform/base/Paths.h"
#include "platform/os/Clock.h"

namespace {

constexpr qint64 kRangeSize = 32768;
constexpr int kPartialContent = 206;
constexpr qint64 kPumpIntervalMs = 15;

bool terminating() { return Application::Instance()->Terminated(); }

// The last range ends at the length itself: servers read a last position past the end as the end.
QByteArray rangeHeader(qint64 start, qint64 length) {
  const qint64 end = start + kRangeSize < length ? start + kRangeSize - 1 : length;
  return "bytes=" + QByteArray::number(start) + '-' + QByteArray::number(end);
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

  const QString targetPath = paths::IncludeTrailingPathDelimiter(FPercorsoDest) + FDownloadFileName;
  try {
    FExpectedLength = IdHTTP1->Head(FDownloadUrl);
  } catch (const std::exception&) {
    if (terminating()) return;  // the user closed the window: not an error
    ShowMessage(QStringLiteral("File ") + FDownloadFileName + QStringLiteral(" non trovato!!!"));
    return;
  }
  if (!receiveRanges(targetPath, FExpectedLength) || terminating()) return;
  runCompletionActions(Installa, targetPath);
}

bool TMainFormDownloadSetup::receiveRanges(const QString& targetPath, qint64 expectedLength) {
  PackageFile package(targetPath);
  QByteArray range;  // only the range in flight is held in memory
  while (package.Size() < expectedLength) {
    const qint64 start = package.Size();
    const QByteArray header = rangeHeader(start, expectedLength);
    FBytesBeforeRange = start;
    try {
      IdHTTP1->Get(FDownloadUrl, header, range);
    } catch (const std::exception&) {
      if (terminating()) return false;  // dropped for a stop by the user
      throw;
    }
    if (terminating()) return false;  // what this GET added is not written
    if (IdHTTP1->ResponseCode() == kPartialContent)
      package.Append(range);
    else
      package.Replace(range);  // the server ignored Range and sent the whole package
    if (package.Size() <= start)
      throw Exception(QStringLiteral("The server sent no new data for %1 of %2.")
                          .arg(QString::fromLatin1(header), FDownloadFileName));
  }
  return true;
}

double TMainFormDownloadSetup::progressPosition(qint64 receivedInRange) const {
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
