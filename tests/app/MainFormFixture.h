// A main window under test: a fresh system root, recording shell and message boxes, a
// scripted folder picker, and a real download service on 127.0.0.1.
#pragma once

#include <gtest/gtest.h>

#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <chrono>
#include <memory>
#include <thread>

#include "app/OmbreviaMainForm.h"
#include "platform/ui/Application.h"
#include "tests/support/Fakes.h"
#include "tests/support/TempFolder.h"
#include "tools/LoopbackHttpServer.h"

class MainFormFixture : public ::testing::Test {
 protected:
  MainFormFixture() { environment.Root = root.Path(); }
  // The service stops before any fixture's members go: a request still being served (a
  // range the window dropped) may run a handler that uses them.
  void TearDown() override {
    if (service) service->Stop();
  }

  // Makes the window talking to `serviceUrl` (the default: the service started by StartService).
  void MakeForm(const QString& serviceUrl = {}) {
    form.reset();
    application = std::make_unique<Application>(QStringLiteral("ombrevia-download"));  // not terminating
    auto fakePicker = std::make_unique<FakeFolderPicker>();
    picker = fakePicker.get();
    const QString url = serviceUrl.isEmpty() && service
                            ? QString::fromStdString(service->BaseUrl() + "/web_download/GetUrlDownload.php")
                            : serviceUrl;
    form = std::make_unique<TMainFormDownloadSetup>(url, std::move(fakePicker));
    application->SetMainForm(form.get());
  }

  // A service whose query script answers `body`, with "{base}" replaced by the service's
  // own base URL; other paths go to `packages` when given, else answer 404.
  void StartService(std::string body, LoopbackHttpServer::Handler packages = {}) {
    service = std::make_unique<LoopbackHttpServer>([body, packages](const HttpRequest& request) {
      if (request.Target == "/web_download/GetUrlDownload.php") {
        HttpReply reply;
        reply.Body = body;
        for (std::size_t at; (at = reply.Body.find("{base}")) != std::string::npos;)
          reply.Body.replace(at, 6, "http://" + request.Header("Host"));
        return reply;
      }
      if (packages) return packages(request);
      HttpReply missing;
      missing.Status = 404;
      missing.Reason = "Not Found";
      return missing;
    });
  }

  // Shows the window and pumps, as the message loop would, until the start message has
  // reached the service or shown a box (two seconds at most).
  void ShowAndRunStart() {
    const std::size_t requestsBefore = service ? service->Requests().size() : 0;
    form->show();
    for (int turn = 0; turn < 400; ++turn) {
      application->ProcessMessages();
      if ((service && service->Requests().size() > requestsBefore) || !boxes.Boxes.empty()) return;
      std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }
  }

  std::string ServiceUrl(const std::string& path) const { return service->BaseUrl() + path; }

  TempFolder root;
  FakeEnvironment environment;
  RecordingShell shell;
  RecordingMessageBoxes boxes;
  std::unique_ptr<Application> application;
  std::unique_ptr<LoopbackHttpServer> service;
  FakeFolderPicker* picker = nullptr;
  std::unique_ptr<TMainFormDownloadSetup> form;
};
