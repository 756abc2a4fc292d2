// The download tool's one window: asks the download service which package is current,
// fetches it in 32 KiB ranges with a progress bar, then saves or installs it.
#pragma once

#include <QEvent>
#include <QWidget>
#include <limits>
#include <memory>

#include "platform/base/Exception.h"
#include "platform/net/HttpClient.h"
#include "platform/ui/FolderPicker.h"

class GradientProgressBar;
class QLabel;
class QLineEdit;
class QPushButton;

// Posted by FormShow so that the window paints before the service query blocks the thread.
inline constexpr QEvent::Type WM_START_DOWNLOAD = static_cast<QEvent::Type>(QEvent::User + 300);

class TMainFormDownloadSetup : public QWidget {
  Q_OBJECT

 public:
  // `serviceUrl` is the full URL of the download service's query script.
  explicit TMainFormDownloadSetup(const QString& serviceUrl,
                                  std::unique_ptr<FolderPicker> picker = std::make_unique<SystemFolderPicker>(),
                                  QWidget* parent = nullptr);
  ~TMainFormDownloadSetup() override;

  // Components, by the names the rest of the program and its tests use.
  GradientProgressBar* cxProgressBar1 = nullptr;
  std::unique_ptr<HttpClient> IdHTTP1;
  QLabel* LabelAvanzamento = nullptr;
  QLabel* cxImage1 = nullptr;
  QPushButton* ButtonSalva = nullptr;
  QPushButton* ButtonSalvaEInstalla = nullptr;
  QLineEdit* EditDestFolder = nullptr;
  QPushButton* ButtonSelectFolder = nullptr;
  QLabel* LabelSalvaIn = nullptr;
  QPushButton* ButtonChiudi = nullptr;
  std::unique_ptr<FolderPicker> FileOpenDialog1;

  qint64 WorkCountMax = 0;  // size announced at the start of the current transfer

  QString PercorsoDest() const { return FPercorsoDest; }
  // Always stored with a trailing separator.
  void SetPercorsoDest(const QString& folder);

  QString DownloadFileName() const { return FDownloadFileName; }
  QString DownloadUrl() const { return FDownloadUrl; }
  QString DownloadPercorsoNomeFile() const { return FDownloadPercorsoNomeFile; }
  QString TipoChiave() const { return FTipoChiave; }
  QString OSPlatform() const { return FOSPlatform; }

  // Handlers, public so that the reply (and tests) can press the buttons.
  void FormCreate();
  void WMStartDownload();
  void GetUrlDownload(QObject* Sender);
  void ButtonSalvaClick(QObject* Sender);
  void ButtonSalvaEInstallaClick(QObject* Sender);
  void ButtonSelectFolderClick(QObject* Sender);
  void ButtonChiudiClick(QObject* Sender);
  void DownloadFile(QObject* Sender, bool Installa);

  void IdHTTP1WorkBegin(QObject* ASender, WorkMode AWorkMode, qint64 AWorkCountMax);
  void IdHTTP1Work(QObject* ASender, WorkMode AWorkMode, qint64 AWorkCount);
  void IdHTTP1WorkEnd(QObject* ASender, WorkMode AWorkMode);

 protected:
  void showEvent(QShowEvent* event) override;
  void paintEvent(QPaintEvent* event) override;
  bool event(QEvent* event) override;

 private:
  void createControls();
  void centreOnScreen();
  void wireHttpClient();
  void runCompletionActions(bool Installa, const QString& targetPath);
  void installPackage(const QString& targetPath);
  enum class ReceiveEnd { Complete, Stopped, PackageChanged };
  ReceiveEnd receiveRanges(const QString& targetPath, qint64 expectedLength, const QByteArray& validator);
  // Raises Exception when the folder's disk has less free space than `length` bytes.
  void requireRoomFor(qint64 length) const;
  bool packageTrusted(const QString& targetPath);
  QString packageRefusal(const QString& targetPath);
  QByteArray fetchSignature(QString& failure);
  double progressPosition(qint64 receivedInRange) const;
  void pumpAndStopWhenTerminating();
  void pumpWhenDue();  // pumps once about 15 ms have passed since the last pump
  void closeAtEnd();

  QString FServiceUrl;
  QString FDownloadFileName;
  QString FTipoChiave;
  QString FOSPlatform;
  QString FDownloadUrl;
  QString FDownloadPercorsoNomeFile;
  QString FPercorsoDest;
  bool FStartPending = false;       // the start message came before the window was on screen
  bool FDownloading = false;        // guards against a download nested in a progress event
  qint64 FExpectedLength = -1;      // Content-Length of the HEAD reply
  qint64 FBytesBeforeRange = 0;     // package bytes written or held before the ranges in flight
  bool FFetchingSignature = false;  // the bar stays full while the signature arrives
  QString FDownloadSha256;          // the reply's "DownloadSha256", empty when it gave none
  qint64 FLastPumpMs = std::numeric_limits<qint64>::min() / 2;  // Clock time of the last pump
};

// The global main window, as the rest of the program knows it.
extern TMainFormDownloadSetup* MainFormDownloadSetup;
