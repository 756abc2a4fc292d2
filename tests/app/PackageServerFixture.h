// A window downloading a package from a real package server on 127.0.0.1: the file is
// served as a real server serves it (PackageFileReply: ETag, Last-Modified, If-Range), a
// test script may change any reply, and the per-user and common settings files of a fresh
// system root are in force, so that the download remembers what it has and reads how many
// connections it may open.
#pragma once

#include <QFileInfo>
#include <QSaveFile>
#include <QTimer>
#include <mutex>
#include <optional>
#include <set>
#include <string>
#include <thread>
#include <vector>

#include "app/RangePlan.h"
#include "app/ResumeRecord.h"
#include "settings/QnSharedFolders.h"
#include "tests/app/MainFormFixture.h"
#include "tools/DemoDownloadService.h"

// Changes the reply to one request for the package (HEAD or GET), made from the file as it
// is at that moment. Runs on the connection's own thread: what it touches must be
// thread-safe. It may sleep to make the reply late.
using ReplyScript = std::function<void(const HttpRequest& request, HttpReply& reply)>;

// `size` bytes that differ from PatternBytes(size) in every byte: a new release of the package.
inline QByteArray OtherPackage(qint64 size) {
  QByteArray bytes = PatternBytes(size);
  for (char& byte : bytes) byte = static_cast<char>(~byte);
  return bytes;
}

// Replaces the file at `path` by a rename, as a release replaces the file on a server: a
// reply already under way keeps sending the old one. Any thread.
inline void ReplaceFile(const QString& path, const QByteArray& content) {
  QSaveFile file(path);
  if (!file.open(QIODevice::WriteOnly) || file.write(content) != content.size() || !file.commit())
    throw std::runtime_error("cannot write " + path.toStdString());
}

// The first byte a GET asks for; -1 without a readable Range.
inline qint64 FirstByte(const HttpRequest& request) {
  std::uint64_t first = 0, last = 0;
  return ParseByteRange(request.Header("Range"), std::uint64_t(1) << 62, first, last) ? static_cast<qint64>(first) : -1;
}

class PackageServerFixture : public MainFormFixture {
 protected:
  PackageServerFixture() {
    UserSettings = std::make_unique<TQngIniFile>(root.Path() + "qngconf.ini");
    CommonSettings = std::make_unique<TQngIniFile>(root.Path() + "qngcommon.ini");
    packages = std::make_unique<LoopbackHttpServer>([this](const HttpRequest& request) { return answer(request); });
  }
  // The server stops before any fixture's members go: a request still being served (one the
  // window dropped) may run a script that uses them.
  void TearDown() override {
    MainFormFixture::TearDown();
    packages->Stop();
  }
  ~PackageServerFixture() override {
    packages->Stop();  // before the script's captures go
    UserSettings.reset();
    CommonSettings.reset();
  }

  // Puts `content` on the server as the package.
  void Publish(const QByteArray& content) {
    package = content;
    ReplaceFile(PackagePath(), content);
  }
  QString PackagePath() const { return served.Path() + "pkg.bin"; }
  std::string PackageUrl() const { return packages->BaseUrl() + "/packages/pkg.bin"; }

  void Script(ReplyScript script) {
    std::lock_guard lock(scriptMutex);
    replyScript = std::move(script);
  }

  // "DownloadConnections" in the common settings.
  void SetConnections(int connections) {
    CommonSettings->ScriviValore(kCommonSection, "DownloadConnections", QString::number(connections));
  }

  // A new window whose query names the package; the query has run when this returns.
  void OpenWindow() {
    boxes.Boxes.clear();
    shell.Opened.clear();
    StartService(R"({"DownloadUrl":")" + PackageUrl() + R"(","DownloadFileName":"pkg.bin"})");
    MakeForm();
    ShowAndRunStart();
    ASSERT_EQ(form->DownloadFileName(), "pkg.bin");
  }

  // Downloads as the user does, with "Salva"; returns when the window's handler returns.
  void Download() { form->ButtonSalva->click(); }

  QString TargetPath() const { return root.Path() + "Quarnell/Download/pkg.bin"; }
  QByteArray Target() const { return ReadFile(TargetPath()); }
  qint64 TargetSize() const {
    const QFileInfo target(TargetPath());
    return target.exists() ? target.size() : 0;
  }

  // The package's GETs so far, in the order they arrived.
  std::vector<HttpRequest> Gets() const {
    std::vector<HttpRequest> gets;
    for (const HttpRequest& request : packages->Requests())
      if (request.Method == "GET") gets.push_back(request);
    return gets;
  }
  int Heads() const {
    int heads = 0;
    for (const HttpRequest& request : packages->Requests()) heads += request.Method == "HEAD";
    return heads;
  }

  // The body bytes the package server has sent, once the replies of a download that has
  // ended have all run out (a reply under way when the client went keeps going a moment).
  std::uint64_t SettledBodyBytes() const {
    std::uint64_t before = packages->BodyBytesSent();
    for (;;) {
      std::this_thread::sleep_for(std::chrono::milliseconds(100));
      const std::uint64_t now = packages->BodyBytesSent();
      if (now == before) return now;
      before = now;
    }
  }

  // From now on, at every transfer event of the window (the moments when no write is under
  // way), the file must be a prefix of the package made of whole ranges: what breaks that is
  // noted in `fileFaults`, every size seen since in `fileSizesSeen`. `whenSize(size)` runs
  // at each new size, when given.
  void WatchTheFile(std::function<void(qint64 size)> whenSize = {}) {
    fileSizesSeen.clear();
    const auto check = [this, whenSize] {
      const qint64 size = TargetSize();
      if (!fileSizesSeen.insert(size).second) return;  // checked when first seen at this size
      const QByteArray bytes = Target();
      if (bytes.size() % kRangeSize != 0 && bytes.size() != package.size())
        fileFaults.push_back("the file holds " + std::to_string(bytes.size()) + " bytes, not whole ranges");
      if (bytes != package.left(bytes.size()))
        fileFaults.push_back("the file's " + std::to_string(bytes.size()) + " bytes are not the package's first ones");
      if (whenSize) whenSize(bytes.size());
    };
    auto work = form->IdHTTP1->OnWork;
    form->IdHTTP1->OnWork = [work, check](WorkMode mode, qint64 count) {
      work(mode, count);
      check();
    };
    auto wait = form->IdHTTP1->OnWait;
    form->IdHTTP1->OnWait = [wait, check] {
      wait();
      check();
    };
  }

  TempFolder served;   // the server's package folder
  QByteArray package;  // as last published
  std::unique_ptr<LoopbackHttpServer> packages;
  std::vector<std::string> fileFaults;
  std::set<qint64> fileSizesSeen;

 private:
  HttpReply answer(const HttpRequest& request) {
    if (request.Target != "/packages/pkg.bin") {
      HttpReply missing;
      missing.Status = 404;
      missing.Reason = "Not Found";
      return missing;
    }
    HttpReply reply = PackageFileReply(PackagePath().toStdString(), request);
    ReplyScript script;
    {
      std::lock_guard lock(scriptMutex);
      script = replyScript;
    }
    if (script) script(request, reply);
    return reply;
  }

  std::mutex scriptMutex;
  ReplyScript replyScript;
};
