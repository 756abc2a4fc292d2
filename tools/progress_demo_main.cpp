// quarnell-progress-demo: the progress band over a user-interface thread that blocks right
// after starting it, as the archive manager and the file copy do, for a person to look at:
// four seconds of busy animation, then a nested cycle whose bar fills step by step.
#include <QApplication>
#include <thread>

#include "lang/QnLangGlobalDataModule.h"
#include "progress/QnProgressbarForm.h"

int main(int argc, char* argv[]) {
  QApplication toolkit(argc, argv);
  LangStartUp();
  StartProgress(QStringLiteral("Attendere..."), QStringLiteral("Estrazione del pacchetto in corso..."), 0, false);
  std::this_thread::sleep_for(std::chrono::seconds(4));  // the blocked operation: only the ticker draws
  StartProgress(QStringLiteral("Copia dei file"), 10, true);
  for (int step = 1; step <= 10; ++step) {
    std::this_thread::sleep_for(std::chrono::milliseconds(300));
    StepProgress(QStringLiteral("Copia del file %1 di 10").arg(step));
  }
  StopProgress();
  StopProgress();
  LangShutDown();
  return 0;
}
