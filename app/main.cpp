// ombrevia-download: start-up in the fixed order, the message loop, shut-down in reverse.
#include <QApplication>

#include "app/DownloadServerSetting.h"
#include "app/ModuleList.h"
#include "app/OmbreviaMainForm.h"
#include "platform/Application.h"
#include "platform/StyleManager.h"

int main(int argc, char* argv[]) {
  QApplication toolkit(argc, argv);
  ModuleList modules;
  // The library's modules join here, in this order: language module, open-file registry,
  // product list, settings start-up, number format, script-call manager.

  Application application(QStringLiteral("ombrevia-download"));
  application.RunHandler([] { StyleManager::Activate(QStringLiteral("Charcoal Dark Slate")); });
  TMainFormDownloadSetup form(DownloadServiceUrl());
  MainFormDownloadSetup = &form;
  application.SetMainForm(&form);
  return application.Run();
}
