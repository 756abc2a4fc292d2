#include "progress/QnProgressbarForm.h"

#include <QApplication>
#include <QDeadlineTimer>
#include <QEvent>
#include <QLabel>
#include <QPainter>
#include <QPointer>
#include <QPushButton>
#include <QWindow>
#include <thread>

#include "lang/QnLangGlobalDataModule.h"
#include "platform/ui/Application.h"
#include "platform/ui/Screen.h"

TFormQnProgressBar* ProgressForm = nullptr;
qint32 ProgressMargin = 40;

namespace {

const QColor kBand(0xD1, 0xF4, 0xCC);
const QColor kText(0x00, 0x2B, 0x00);
constexpr int kOpacity = 220;
constexpr int kFadeStep = 30;
// How long Start waits for the display to expose the band: long enough for a window
// manager to map it, short enough not to matter when there is none that answers.
constexpr int kExposeWaitMs = 500;

int scaled(int length) { return Screen::Current().Scale(length); }

void setOpacity(QWidget* window, int alpha) { window->setWindowOpacity(alpha / 255.0); }

QFont fontOf(const QString& family, int pixels) {
  QFont result(family);
  result.setPixelSize(pixels);
  return result;
}

// The screen cursor: the hourglass, the hand, or the default (no override at all).
void setScreenCursor(Qt::CursorShape shape) {
  while (QGuiApplication::overrideCursor()) QGuiApplication::restoreOverrideCursor();
  if (shape != Qt::ArrowCursor) QGuiApplication::setOverrideCursor(QCursor(shape));
}

void enableMainWindow(bool enabled) {
  if (Application* application = Application::Instance()) application->EnableMainWindow(enabled);
}

QWidget* mainWindow() {
  Application* application = Application::Instance();
  return application ? application->MainForm() : nullptr;
}

QIcon stopIcon() {
  QImage image(32, 32, QImage::Format_ARGB32);
  image.fill(Qt::transparent);
  QPainter painter(&image);
  painter.setRenderHint(QPainter::Antialiasing);
  painter.setBrush(QColor(0x28, 0x82, 0x1C));
  painter.setPen(Qt::NoPen);
  painter.drawEllipse(2, 2, 28, 28);
  painter.setBrush(kBand);
  painter.drawRect(11, 11, 10, 10);
  return QIcon(QPixmap::fromImage(image));
}

}  // namespace

void TProgressBarStateList::AddState(const QString& ATitle, const QString& ACaption, qint32 AMaxValue,
                                     qint32 APosition) {
  auto state = std::make_unique<TProgressBarState>();
  *state = {ATitle, ACaption, AMaxValue, APosition};
  FStates.push_back(std::move(state));
}

TProgressBarState* TProgressBarStateList::GetState(qint32 AIndex) const {
  return AIndex < 0 || AIndex >= Count() ? nullptr : FStates[static_cast<size_t>(AIndex)].get();
}

void TFlatProgressBar::SetMax(qint32 max) {
  FMax = std::max(max, 0);
  SetPosition(FPosition);
}

void TFlatProgressBar::SetPosition(qint32 position) {
  FPosition = std::clamp(position, 0, FMax);
  repaint();
}

void TFlatProgressBar::paintEvent(QPaintEvent*) {
  QPainter painter(this);
  painter.fillRect(rect(), kBand);
  if (FMax > 0)
    painter.fillRect(QRect(0, 0, int(qint64(width()) * FPosition / FMax), height()), QColor(0x00, 0xFF, 0x00));
}

TFormQnProgressBar::TFormQnProgressBar() : QWidget(nullptr, Qt::Tool | Qt::FramelessWindowHint) {
  QPalette colours = palette();
  colours.setColor(QPalette::Window, kBand);
  colours.setColor(QPalette::WindowText, kText);
  colours.setColor(QPalette::Button, kBand);
  colours.setColor(QPalette::ButtonText, QColor(0x00, 0x40, 0x00));
  setPalette(colours);
  setAutoFillBackground(true);
  setStyleSheet(
      QStringLiteral("QPushButton { background-color: #D1F4CC; color: #004000; border: 1px solid #94E688; }"));
  setFont(fontOf(QStringLiteral("MS Sans Serif"), 11));
  setCursor(Qt::WaitCursor);

  PanelBody = new QWidget(this);
  cxLabelProgressBar = new QLabel(PanelBody);
  cxLabelProgressBar->setFont(fontOf(QStringLiteral("Segoe UI"), 19));
  PanelBottom = new QWidget(this);
  d1 = {QColor(0xCA, 0xF2, 0xC4), QColor(0xB0, 0xEC, 0xA8)};
  d2 = {QColor(0xCA, 0xF2, 0xC4), QColor(0x94, 0xE6, 0x88)};
  d3 = {QColor(0xCA, 0xF2, 0xC4), QColor(0x6A, 0xDC, 0x5A)};
  d4 = {QColor(0xCA, 0xF2, 0xC4), QColor(0x36, 0xAF, 0x25)};
  d5 = {QColor(0xCA, 0xF2, 0xC4), QColor(0x28, 0x82, 0x1C)};
  d6 = {QColor(0xCA, 0xF2, 0xC4), QColor(0x15, 0x44, 0x0F)};
  PaintBoxProgress = new QWidget(PanelBottom);
  PaintBoxProgress->installEventFilter(this);
  FStripSurface = std::make_unique<ThreadedSurface>(PaintBoxProgress);
  ProgressBar = new TFlatProgressBar(PanelBody);
  cxLabelTitle = new QLabel(PanelBody);
  cxLabelTitle->setFont(fontOf(QStringLiteral("Segoe UI"), 21));
  cxLabelTitle->setAlignment(Qt::AlignHCenter | Qt::AlignBottom);
  cxLabelTitle->hide();
  BtnCancel = new QPushButton(PanelBody);
  BtnCancel->setFont(fontOf(QStringLiteral("MS Sans Serif"), 13));
  BtnCancel->setCursor(Qt::PointingHandCursor);
  BtnCancel->setIcon(stopIcon());
  BtnCancel->setIconSize(QSize(32, 32));
  BtnCancel->hide();
  connect(BtnCancel, &QPushButton::clicked, this, &TFormQnProgressBar::BtnCancelClick);

  siLang1.AddProperty(BtnCancel, "text", {QStringLiteral("Interrompi"), QStringLiteral("Stop"), QString()});
  siLang1.AddProperty(BtnCancel, "toolTip", {QStringLiteral("Interrompi"), QStringLiteral("Stop"), QString()});
  siLang1.AddProperty(cxLabelProgressBar, "text",
                      {QStringLiteral("Operazione in corso..."), QStringLiteral("Processing..."), QString()});
  siLang1.AddProperty(cxLabelTitle, "text",
                      {QStringLiteral("Attendere..."), QStringLiteral("Please wait..."), QString()});
  FormCreate();
}

TFormQnProgressBar::~TFormQnProgressBar() { MyWorkerThread.reset(); }  // the ticker ends before the window

void TFormQnProgressBar::FormCreate() {
  SetGlobalLangDispatcher(&siLang1);
  DefaultHeight = scaled(250);
  nLevel = -1;
  ProgressBar->SetMax(0);
  FlagCancel = false;
  setOpacity(this, 0);
  stayAboveMainWindow();
  StopWatchProcessMessages.start();
}

// The band belongs to the main window (the window manager keeps it above that window
// and lets other applications' windows cover both), not above the whole desktop.
// Not a parent widget: the band outlives whatever happens to the main window's object.
void TFormQnProgressBar::stayAboveMainWindow() {
  QWidget* main = mainWindow();
  if (!main) return;
  main = main->window();
  main->winId();
  winId();
  windowHandle()->setTransientParent(main->windowHandle());
}

QString TFormQnProgressBar::ProgressCaption() const { return cxLabelProgressBar->text(); }

void TFormQnProgressBar::SetProgressCaption(const QString& text) {
  if (text == cxLabelProgressBar->text()) return;
  cxLabelProgressBar->setText(text);
  if (!cxLabelProgressBar->wordWrap())
    cxLabelProgressBar->adjustSize();
  else
    cxLabelProgressBar->setFixedHeight(cxLabelProgressBar->heightForWidth(cxLabelProgressBar->width()));
  centreCaption();
  repaint();
}

QString TFormQnProgressBar::ProgressTitle() const { return cxLabelTitle->text(); }

void TFormQnProgressBar::SetProgressTitle(const QString& text) {
  if (text == cxLabelTitle->text()) return;
  cxLabelTitle->setText(text);
  repaint();
}

void TFormQnProgressBar::centreCaption() {
  PlaceLabel(cxLabelProgressBar, paTopCenter, 0,
             RoundHalfEven((PanelBody->height() - cxLabelProgressBar->height()) / 2.0));
}

void TFormQnProgressBar::Initialize() {
  const Screen& screen = Screen::Current();
  const int wrapWidth = scaled(800);
  cxLabelProgressBar->adjustSize();
  if (cxLabelProgressBar->wordWrap() || cxLabelProgressBar->width() > wrapWidth) {
    cxLabelProgressBar->setWordWrap(true);
    cxLabelProgressBar->setFixedWidth(wrapWidth);
    cxLabelProgressBar->setFixedHeight(cxLabelProgressBar->heightForWidth(wrapWidth));
  }
  const int bottom = scaled(30);
  int height = cxLabelProgressBar->height() + bottom + 2 * ProgressMargin;
  if (height < DefaultHeight)
    height = DefaultHeight;
  else
    DefaultHeight = height;
  const int width = screen.Geometry().width();
  setFixedSize(width, height);
  PanelBody->setGeometry(0, 0, width, height - bottom);
  PanelBottom->setGeometry(0, height - bottom, width, bottom);
  PaintBoxProgress->setGeometry(0, 0, width, bottom);
  ProgressBar->setGeometry(0, PanelBody->height() - scaled(8), width, scaled(8));
  cxLabelTitle->setGeometry(0, 0, width, scaled(44));
  BtnCancel->setGeometry(width - scaled(23) - scaled(113), PanelBody->height() - scaled(19) - scaled(45), scaled(113),
                         scaled(45));
  PlaceWindow(this, paCenter);
  centreCaption();
  publishState();
}

void TFormQnProgressBar::Start(const QString& ATitle, const QString& AText, double AMax) {
  ++nLevel;
  if (nLevel > 0)
    ProgressBarStateList.AddState(ProgressTitle(), ProgressCaption(), ProgressBar->Max(), ProgressBar->Position());
  SetProgressCaption(AText);
  if (!ATitle.isEmpty()) {
    cxLabelTitle->show();
    SetProgressTitle(ATitle);
  }
  ProgressBar->SetMax(AMax == 0 ? 0 : static_cast<qint32>(AMax));
  ProgressBar->SetPosition(0);
  ProgressBar->setVisible(AMax != 0);
  Initialize();
  if (!bringOnScreen()) return;  // a handler run meanwhile ended the last cycle
  publishState();
  if (AMax == 0 && !MyWorkerThread) {
    MyWorkerThread = std::make_unique<TMyWorkerThread>();
    MyPosition = 0;
    MyWorkerThread->OnRepaint = [this](QObject* sender) { PaintBusyAnimation(sender); };
    MyWorkerThread->Start();
  }
  enableMainWindow(false);
}

bool TFormQnProgressBar::isExposed() const { return windowHandle() && windowHandle()->isExposed(); }

// The caller blocks right after Start, so the band must be on the screen before Start
// returns: the display's exposure arrives through the event queue, which is pumped here
// for it (user input left waiting) for a bounded time; then painted and faded in.
bool TFormQnProgressBar::bringOnScreen() {
  show();
  activateWindow();
  const QPointer<TFormQnProgressBar> alive(this);
  const QDeadlineTimer bound(kExposeWaitMs);
  while (!isExposed() && !bound.hasExpired()) {
    QCoreApplication::processEvents(QEventLoop::ExcludeUserInputEvents);
    if (!alive) return false;
    if (!isExposed()) std::this_thread::sleep_for(std::chrono::milliseconds(1));
  }
  repaint();
  if (qRound(windowOpacity() * 255) < kOpacity) FadeIn();
  return true;
}

void TFormQnProgressBar::StepIt(const QString& AText) {
  if (ProgressBar->isVisible() && ProgressBar->Position() < ProgressBar->Max())
    ProgressBar->SetPosition(ProgressBar->Position() + 1);
  if (!AText.isEmpty()) SetProgressCaption(AText);
}

void TFormQnProgressBar::StepValue(const QString& AText, double AValue) {
  ProgressBar->SetPosition(static_cast<qint32>(AValue) - 1);
  StepIt(AText);
}

void TFormQnProgressBar::Stop() {
  if (ProgressBarStateList.Count() > 0) {
    const TProgressBarState* state = ProgressBarStateList.GetState(ProgressBarStateList.Count() - 1);
    SetProgressTitle(state->Title);
    SetProgressCaption(state->Caption);
    ProgressBar->SetMax(state->MaxValue);
    ProgressBar->SetPosition(state->Position);
    ProgressBarStateList.DeleteLast();
  }
  --nLevel;
  ProgressBar->setVisible(ProgressBar->Max() > 0);
  publishState();
  if (nLevel != -1) return;
  enableMainWindow(true);
  MyWorkerThread.reset();  // told to end and waited for
  FadeOut();
  hide();
  publishState();
}

void TFormQnProgressBar::BtnCancelClick() { FlagCancel = true; }

void TFormQnProgressBar::FadeIn() {
  int alpha = 0;
  setOpacity(this, alpha);
  while (alpha < kOpacity) {
    std::this_thread::sleep_for(std::chrono::milliseconds(30));
    alpha = std::min(alpha + kFadeStep, kOpacity);
    setOpacity(this, alpha);
    repaint();
  }
}

void TFormQnProgressBar::FadeOut() {
  int alpha = kOpacity;
  setOpacity(this, alpha);
  while (alpha > 0) {
    std::this_thread::sleep_for(std::chrono::milliseconds(30));
    alpha = std::max(alpha - kFadeStep, 0);
    setOpacity(this, alpha);
  }
}

void TFormQnProgressBar::publishState() {
  FShownForFrames = isVisible();
  FBarShown = ProgressBar->isVisible();
  FWindowWidth = width();
  publishStripGeometry();
}

void TFormQnProgressBar::publishStripGeometry() {
  FStripSurface->SetGeometry(PaintBoxProgress->size(), PaintBoxProgress->devicePixelRatioF());
}

bool TFormQnProgressBar::event(QEvent* event) {
  const bool handled = QWidget::event(event);
  if (event->type() == QEvent::Show || event->type() == QEvent::Hide) publishState();
  return handled;
}

bool TFormQnProgressBar::eventFilter(QObject* watched, QEvent* event) {
  if (watched != PaintBoxProgress || event->type() != QEvent::Paint) return QWidget::eventFilter(watched, event);
  publishStripGeometry();  // a move to a screen of another pixel ratio repaints the strip
  QPainter painter(PaintBoxProgress);
  painter.fillRect(PaintBoxProgress->rect(), kBand);
  FStripSurface->PaintLastFrame(painter);  // under the ticker's lock
  return true;
}

void StartProgress(const QString& ATitle, const QString& AText, qint32 AMax, bool AShowCancel) {
  setScreenCursor(Qt::WaitCursor);
  ProgressMargin = scaled(40);
  if (!ProgressForm) ProgressForm = new TFormQnProgressBar();
  ProgressForm->BtnCancel->setVisible(AShowCancel);
  ProgressForm->Start(ATitle, AText, AMax);
}

void StartProgress(const QString& AText, qint32 AMax, bool AShowCancel) {
  StartProgress(QString(), AText, AMax, AShowCancel);
}

void StartProgress(const QString& AText, qint32 AMax) { StartProgress(QString(), AText, AMax, false); }

bool StepProgress(const QString& AText) {
  if (!ProgressForm) return true;
  ProgressForm->StepIt(AText);
  if (ProgressForm->BtnCancel->isVisible()) {
    if (ProgressForm->StopWatchProcessMessages.elapsed() > 3000) {
      ProgressForm->StopWatchProcessMessages.restart();
      QCoreApplication::processEvents();  // when a click on the cancel button can arrive
      if (!ProgressForm) return true;     // a handler run by the pump ended the last cycle
    }
    setScreenCursor(IsMouseOverControl(ProgressForm->BtnCancel) ? Qt::PointingHandCursor : Qt::WaitCursor);
  } else {
    setScreenCursor(Qt::WaitCursor);
  }
  return !ProgressForm->FlagCancelled();
}

bool StepProgressValue(qint32 AValue) {
  if (!ProgressForm) return false;
  const bool overCancel = ProgressForm->BtnCancel->isVisible() && IsMouseOverControl(ProgressForm->BtnCancel);
  setScreenCursor(overCancel ? Qt::PointingHandCursor : Qt::WaitCursor);
  ProgressForm->StepValue(QString(), AValue);
  return !ProgressForm->FlagCancelled();
}

void StopProgress() {
  setScreenCursor(Qt::ArrowCursor);
  if (!ProgressForm) return;
  ProgressForm->Stop();
  ProgressForm->BtnCancel->hide();
  if (ProgressForm->nLevel != -1) return;
  delete ProgressForm;
  ProgressForm = nullptr;
  if (Application* application = Application::Instance())
    if (QWidget* main = application->MainForm()) main->repaint();
}
