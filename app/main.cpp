// ombrevia-download: start-up in the fixed order, the message loop, shut-down in reverse.
#include <QApplication>

#include "app/DownloadServerSetting.h"
#include "app/ModuleList.h"
#include "app/OmbreviaMainForm.h"
#include "fileutils/_QnFileUtils.h"
#include "lang/QnLangGlobalDataModule.h"
#include "platform/Application.h"
#include "platform/NumberFormat.h"
#include "platform/StyleManager.h"
#include "settings/QnSharedFolders.h"
#include "settings/_QnProductManager.h"
#include "web/_QnWebUtils.h"

int main(int argc, char* argv[]) {
  QApplication toolkit(argc, argv);
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
