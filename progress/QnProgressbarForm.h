// The progress window: a translucent green band across the screen for operations that
// block the user-interface thread, with caption, optional title, a thin bar or (for an
// unknown total) a busy animation drawn by a ticker thread, and an optional cancel button.
// Cycles nest; the main window is disabled while one runs. User-interface thread only,
// but for the ticker.
#pragma once

#include <QColor>
#include <QElapsedTimer>
#include <QWidget>
#include <atomic>
#include <functional>
#include <memory>
#include <thread>
#include <vector>

#include "lang/TsiLang.h"
#include "platform/ui/ThreadedSurface.h"

class QLabel;
class QPushButton;

// One saved state of an outer cycle.
class TProgressBarState {
 public:
  QString Title;
  QString Caption;
  qint32 MaxValue = 0;
  qint32 Position = 0;
};

class TProgressBarStateList {
 public:
  void AddState(const QString& ATitle, const QString& ACaption, qint32 AMaxValue, qint32 APosition);
  TProgressBarState* GetState(qint32 AIndex) const;
  int Count() const { return static_cast<int>(FStates.size()); }
  void DeleteLast() { FStates.pop_back(); }

 private:
  std::vector<std::unique_ptr<TProgressBarState>> FStates;
};

// The ticker: calls OnRepaint every 20 ms until told to end; joined by its owner.
class TMyWorkerThread {
 public:
  TMyWorkerThread() = default;
  ~TMyWorkerThread() { Terminate(); }
  std::function<void(QObject* sender)> OnRepaint;
  void Start();
  // Asks the thread to end and waits for it.
  void Terminate();

 private:
  std::atomic<bool> FTerminated{false};
  std::thread FThread;
};

// A flat bar: lime on the band's colour, no border, no text.
class TFlatProgressBar : public QWidget {
  Q_OBJECT
 public:
  using QWidget::QWidget;
  qint32 Max() const { return FMax; }
  void SetMax(qint32 max);
  qint32 Position() const { return FPosition; }
  // Kept within 0 and the maximum; painted at once.
  void SetPosition(qint32 position);

 protected:
  void paintEvent(QPaintEvent*) override;

 private:
  qint32 FMax = 0;
  qint32 FPosition = 0;
};

struct TShapeColours {
  QColor Pen;
  QColor Brush;
};

class TFormQnProgressBar : public QWidget {
  Q_OBJECT

 public:
  TFormQnProgressBar();
  ~TFormQnProgressBar() override;

  QWidget* PanelBody = nullptr;
  QLabel* cxLabelProgressBar = nullptr;
  QWidget* PanelBottom = nullptr;
  TShapeColours d1, d2, d3, d4, d5, d6;
  QWidget* PaintBoxProgress = nullptr;
  TFlatProgressBar* ProgressBar = nullptr;
  QLabel* cxLabelTitle = nullptr;
  TsiLang siLang1;
  QPushButton* BtnCancel = nullptr;

  qint32 nLevel = -1;
  QElapsedTimer StopWatchProcessMessages;

  QString ProgressCaption() const;
  void SetProgressCaption(const QString& text);
  QString ProgressTitle() const;
  void SetProgressTitle(const QString& text);

  void Initialize();
  // Begins a cycle. The band is on the screen, painted and faded in when this returns:
  // it waits for the display to expose it (at most half a second), pumping the queue
  // without user input meanwhile; the window may be freed by a handler run then.
  void Start(const QString& ATitle, const QString& AText, double AMax);
  void StepIt(const QString& AText);
  void StepValue(const QString& AText, double AValue);
  void Stop();
  void BtnCancelClick();

  bool FlagCancelled() const { return FlagCancel; }
  qint32 AnimationPhase() const { return MyPosition; }
  bool HasTicker() const { return static_cast<bool>(MyWorkerThread); }

  // One frame of the busy animation; runs on the ticker thread.
  void PaintBusyAnimation(QObject* Sender);

 protected:
  bool event(QEvent* event) override;
  bool eventFilter(QObject* watched, QEvent* event) override;

 private:
  void FormCreate();
  void stayAboveMainWindow();
  bool isExposed() const;
  bool bringOnScreen();
  void FadeIn();
  void FadeOut();
  void centreCaption();
  void publishState();
  void publishStripGeometry();

  TProgressBarStateList ProgressBarStateList;
  bool FlagCancel = false;
  std::unique_ptr<TMyWorkerThread> MyWorkerThread;
  std::atomic<qint32> MyPosition{0};
  int DefaultHeight = 0;
  std::unique_ptr<ThreadedSurface> FStripSurface;
  // What a frame reads, published by the user-interface thread.
  std::atomic<bool> FShownForFrames{false};
  std::atomic<bool> FBarShown{false};
  std::atomic<int> FWindowWidth{0};
};

extern TFormQnProgressBar* ProgressForm;
extern qint32 ProgressMargin;

// The window's routines. StepProgress pumps the queue at most every 3 seconds while the
// cancel button is shown; a handler run then may end the last cycle (it answers true).
void StartProgress(const QString& ATitle, const QString& AText, qint32 AMax, bool AShowCancel);
void StartProgress(const QString& AText, qint32 AMax, bool AShowCancel);
void StartProgress(const QString& AText, qint32 AMax);
bool StepProgress(const QString& AText);
bool StepProgressValue(qint32 AValue);
void StopProgress();

// Placement helpers, in screen pixels.
enum TPlaceAnchor { paTopLeft, paBottomLeft, paMiddleLeft, paCenter, paTopCenter, paBottomRight, paTopRight };
bool GetVisibleWindowRect(const QWidget* window, QRect& rect);
qint32 TaskbarHeight();
void PlaceWindowAt(QWidget* window, int X, int Y, TPlaceAnchor anchor);
void PlaceWindow(QWidget* window, const QWidget* control, TPlaceAnchor anchor, int DX = 0, int DY = 0);
void PlaceWindow(QWidget* window, TPlaceAnchor anchor);
void PlaceLabel(QWidget* label, const QWidget* parent, TPlaceAnchor anchor, int DX, int DY);
void PlaceLabel(QWidget* label, TPlaceAnchor anchor, int DX, int DY);
bool IsMouseOverControl(const QWidget* control);

// The six dots' centres for a phase and a window width (the frame's geometry).
std::vector<int> BusyDotCentres(qint32 phase, int width);
