#include "app/OmbreviaMainForm.h"

#include <QCoreApplication>
#include <QLabel>
#include <QLineEdit>
#include <QPixmap>
#include <QPushButton>
#include <QShowEvent>
#include <QWindow>

#include "app/DestinationFolder.h"
#include "app/GradientProgressBar.h"
#include "platform/base/Paths.h"
#include "platform/ui/Application.h"
#include "platform/ui/Screen.h"

TMainFormDownloadSetup* MainFormDownloadSetup = nullptr;

// The logo lives in this static library; naming its resources keeps the linker from dropping them.
static void loadAppResources() { Q_INIT_RESOURCE(app); }

namespace {

// Client area and control places at 96 pixels per inch; Qt's high-DPI scaling does the rest.
constexpr int kClientWidth = 506;
constexpr int kClientHeight = 155;

QPushButton* makeButton(QWidget* parent, const QString& text, const QRect& place) {
  auto* button = new QPushButton(text, parent);
  button->setGeometry(place);
  return button;
}

QLabel* makeLabel(QWidget* parent, const QString& text, const QRect& place) {
  auto* label = new QLabel(text, parent);
  label->setGeometry(place);
  return label;
}

}  // namespace

TMainFormDownloadSetup::TMainFormDownloadSetup(const QString& serviceUrl, std::unique_ptr<FolderPicker> picker,
                                               QWidget* parent)
    : QWidget(parent, Qt::Dialog | Qt::CustomizeWindowHint | Qt::WindowTitleHint | Qt::WindowCloseButtonHint |
                          Qt::MSWindowsFixedSizeDialogHint),
      IdHTTP1(std::make_unique<HttpClient>()),
      FileOpenDialog1(std::move(picker)),
      FServiceUrl(serviceUrl) {
  loadAppResources();
  createControls();
  wireHttpClient();
  FormCreate();
  centreOnScreen();
}

void TMainFormDownloadSetup::centreOnScreen() {
  const QRect screenArea = Screen::Current().Geometry();
  move(screenArea.center() - QRect(QPoint(0, 0), size()).center());
}

TMainFormDownloadSetup::~TMainFormDownloadSetup() {
  if (MainFormDownloadSetup == this) MainFormDownloadSetup = nullptr;
}

void TMainFormDownloadSetup::createControls() {
  setWindowTitle(QStringLiteral("Quarnell - download"));
  setFixedSize(kClientWidth, kClientHeight);
  QPalette colours = palette();
  colours.setColor(QPalette::Window, Qt::black);
  colours.setColor(QPalette::WindowText, Qt::white);
  setPalette(colours);
  setAutoFillBackground(true);
  // Tahoma where the system has it, else a sans face narrow enough for the fixed layout.
  QFont tahoma;
  tahoma.setFamilies({QStringLiteral("Tahoma"), QStringLiteral("Liberation Sans"), QStringLiteral("Arimo"),
                      QStringLiteral("DejaVu Sans Condensed"), QStringLiteral("Sans Serif")});
  tahoma.setPixelSize(13);
  setFont(tahoma);

  cxProgressBar1 = new GradientProgressBar(this);
  cxProgressBar1->setGeometry(128, 72, 361, 17);
  LabelAvanzamento = makeLabel(this, QStringLiteral("Download..."), QRect(128, 53, 361, 16));
  cxImage1 = makeLabel(this, QString(), QRect(6, 17, 113, 120));
  cxImage1->setAttribute(Qt::WA_TranslucentBackground);
  cxImage1->setAlignment(Qt::AlignCenter);
  cxImage1->setPixmap(
      QPixmap(QStringLiteral(":/app/logo.png")).scaled(113, 120, Qt::KeepAspectRatio, Qt::SmoothTransformation));
  ButtonSalva = makeButton(this, QStringLiteral("Salva"), QRect(147, 108, 100, 25));
  ButtonSalvaEInstalla = makeButton(this, QStringLiteral("Salva e Installa"), QRect(267, 108, 100, 25));
  EditDestFolder = new QLineEdit(this);
  EditDestFolder->setGeometry(128, 24, 321, 24);
  ButtonSelectFolder = makeButton(this, QStringLiteral("..."), QRect(460, 24, 25, 25));
  LabelSalvaIn = makeLabel(this, QStringLiteral("Salva in"), QRect(128, 8, 45, 16));
  LabelSalvaIn->adjustSize();  // sized to its text, as the layout's labels are
  ButtonChiudi = makeButton(this, QStringLiteral("Chiudi"), QRect(387, 108, 100, 25));

  // Tab order of the layout: bar, logo, Salva, Salva e Installa, folder box, "...", Chiudi.
  cxImage1->setFocusPolicy(Qt::NoFocus);
  setTabOrder(ButtonSalva, ButtonSalvaEInstalla);
  setTabOrder(ButtonSalvaEInstalla, EditDestFolder);
  setTabOrder(EditDestFolder, ButtonSelectFolder);
  setTabOrder(ButtonSelectFolder, ButtonChiudi);

  auto handler = [this](void (TMainFormDownloadSetup::*click)(QObject*), QPushButton* button) {
    connect(button, &QPushButton::clicked, this,
            [this, click, button] { Application::Instance()->RunHandler([&] { (this->*click)(button); }); });
  };
  handler(&TMainFormDownloadSetup::ButtonSalvaClick, ButtonSalva);
  handler(&TMainFormDownloadSetup::ButtonSalvaEInstallaClick, ButtonSalvaEInstalla);
  handler(&TMainFormDownloadSetup::ButtonSelectFolderClick, ButtonSelectFolder);
  handler(&TMainFormDownloadSetup::ButtonChiudiClick, ButtonChiudi);
}

void TMainFormDownloadSetup::wireHttpClient() {
  IdHTTP1->OnWorkBegin = [this](WorkMode mode, qint64 countMax) { IdHTTP1WorkBegin(this, mode, countMax); };
  IdHTTP1->OnWork = [this](WorkMode mode, qint64 count) { IdHTTP1Work(this, mode, count); };
  IdHTTP1->OnWorkEnd = [this](WorkMode mode) { IdHTTP1WorkEnd(this, mode); };
  // A silent server must not freeze the window: repaint, clicks and closing go on.
  IdHTTP1->OnWait = [this] { pumpAndStopWhenTerminating(); };
}

void TMainFormDownloadSetup::SetPercorsoDest(const QString& folder) {
  FPercorsoDest = paths::IncludeTrailingPathDelimiter(folder);
}

void TMainFormDownloadSetup::FormCreate() {
  FTipoChiave.clear();
  FOSPlatform.clear();
  FDownloadFileName.clear();
  SetPercorsoDest(GetDefaultDownloadFolder());
  if (!paths::DirectoryExists(FPercorsoDest)) paths::ForceDirectories(FPercorsoDest);
  ReportUnusableDownloadFolder(FPercorsoDest);
  EditDestFolder->setText(FPercorsoDest);
}

void TMainFormDownloadSetup::showEvent(QShowEvent* event) {
  QWidget::showEvent(event);
  if (!event->spontaneous()) QCoreApplication::postEvent(this, new QEvent(WM_START_DOWNLOAD));
}

bool TMainFormDownloadSetup::event(QEvent* event) {
  if (event->type() != WM_START_DOWNLOAD) return QWidget::event(event);
  Application::Instance()->RunHandler([this] { WMStartDownload(); });
  return true;
}

void TMainFormDownloadSetup::WMStartDownload() {
  // The query blocks the thread, so the window must be on screen first: a message that
  // arrives before the window system has exposed it waits for the first paint.
  if (!windowHandle() || !windowHandle()->isExposed()) {
    FStartPending = true;
    return;
  }
  repaint();
  GetUrlDownload(this);
}

void TMainFormDownloadSetup::paintEvent(QPaintEvent* event) {
  QWidget::paintEvent(event);
  if (!FStartPending) return;
  FStartPending = false;
  QCoreApplication::postEvent(this, new QEvent(WM_START_DOWNLOAD));
}

void TMainFormDownloadSetup::ButtonSalvaClick(QObject* Sender) { DownloadFile(Sender, false); }

void TMainFormDownloadSetup::ButtonSalvaEInstallaClick(QObject* Sender) { DownloadFile(Sender, true); }

void TMainFormDownloadSetup::ButtonChiudiClick(QObject*) { close(); }
