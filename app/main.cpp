// ombrevia-download: start-up in the fixed order, the message loop, shut-down in reverse.
#include <QApplication>

#include "app/DownloadServerSetting.h"
#include "app/ModuleList.h"
#include "app/OmbreviaMainForm.h"
#include "fileutils/_QnFileUtils.h"
#include "lang/QnLangGlobalDataModule.h"
#include "platform/base/NumberFormat.h"
#include "platform/ui/Application.h"
#include "platform/ui/BusyCursor.h"
#include "platform/ui/MessageBox.h"
#include "platform/ui/StyleManager.h"
#include "progress/QnProgressSink.h"
#include "settings/QnSharedFolders.h"
#include "settings/_QnProductManager.h"
#include "web/_QnWebUtils.h"

int main(int argc, char* argv[]) {
  QApplication toolkit(argc, argv);
  // The library core reaches the boxes, the busy pointer and the progress window through these.
  WidgetDialogs dialogs;
  const ScopedService<Dialogs> dialogsInForce(dialogs);
  WaitCursorIndicator waitCursor;
  const ScopedService<BusyIndicator> waitCursorInForce(waitCursor);
  TQnProgressWindowSink progressWindow;
  const ScopedService<ProgressSink> progressWindowInForce(progressWindow);
  ModuleList modules;
  // The library's modules in their fixed order.
  modules.Start(LangStartUp, LangShutDown);
  modules.Start(OpenFileRegistryStartUp, OpenFileRegistryShutDown);
  modules.Start([] { ProductList = std::make_unique<TQnQuarnellProductList>(); }, [] { ProductList.reset(); });
  modules.Start(SettingsStartUp, SettingsShutDown);
  modules.Start([] { SetDecimalSeparator(QLatin1Char('.')); }, nullptr);
  modules.Start([] { HttpManager = std::make_unique<TQnHttpManager>(); }, [] { HttpManager.reset(); });

  Application application(QStringLiteral("ombrevia-download"));
  application.RunHandler([] { StyleManager::Activate(QStringLiteral("Charcoal Dark Slate")); });
  TMainFormDownloadSetup form(DownloadServiceUrl());
  MainFormDownloadSetup = &form;
  application.SetMainForm(&form);
  return application.Run();
}
