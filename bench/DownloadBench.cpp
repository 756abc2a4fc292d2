// Ranged download benchmark: the tool's DownloadFile against two baselines measured in
// the same run on the same loopback server — a bare libcurl loop doing the same HEAD and
// 32 KiB ranged GETs on one connection, and one plain GET. Each case runs in a child
// process so that its peak resident memory is its own.
//
//   download_bench [MiB ...]     (default: 64 512)
#include <curl/curl.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <QApplication>
#include <QElapsedTimer>
#include <QFileInfo>
#include <QPushButton>
#include <QTemporaryDir>
#include <cstdio>
#include <fstream>
#include <string>
#include <vector>

#include "app/OmbreviaMainForm.h"
#include "platform/ui/Application.h"
#include "platform/os/Environment.h"
#include "platform/base/Dialogs.h"
#include "platform/os/Shell.h"
#include "tools/DemoDownloadService.h"

namespace {

constexpr long kRange = 32768;

struct NoShell final : Shell {
  void Open(const QString&) override {}
};

struct BenchEnvironment final : Environment {
  QString Root;
  QString SystemRoot() const override { return Root; }
  QString DocumentsFolder() const override { return Root; }
  QString ExecutablePath() const override { return QStringLiteral("/bench/ombrevia-download"); }
  bool Is64BitSystem() const override { return true; }
};

size_t writeToFile(char* data, size_t size, size_t count, void* file) {
  return std::fwrite(data, size, count, static_cast<FILE*>(file)) * size;
}

// The bare ranged loop: HEAD, then ranges appended to the file on one easy handle.
void bareRangedLoop(const std::string& url, const std::string& target) {
  CURL* curl = curl_easy_init();
  curl_easy_setopt(curl, CURLOPT_URL, url.c_str());
  curl_easy_setopt(curl, CURLOPT_NOBODY, 1L);
  curl_easy_perform(curl);
  curl_off_t length = 0;
  curl_easy_getinfo(curl, CURLINFO_CONTENT_LENGTH_DOWNLOAD_T, &length);
  FILE* file = std::fopen(target.c_str(), "wb");
  curl_easy_setopt(curl, CURLOPT_HTTPGET, 1L);
  curl_easy_setopt(curl, CURLOPT_WRITEFUNCTION, writeToFile);
  curl_easy_setopt(curl, CURLOPT_WRITEDATA, file);
  for (curl_off_t start = 0; start < length; start += kRange) {
    const curl_off_t end = start + kRange < length ? start + kRange - 1 : length;
    const std::string range = std::to_string(start) + "-" + std::to_string(end);
    curl_easy_setopt(curl, CURLOPT_RANGE, range.c_str());
    curl_easy_perform(curl);
    std::fflush(file);  // like the tool: the file holds every range as soon as it is in
  }
  std::fclose(file);
  curl_easy_cleanup(curl);
}

void plainGet(const std::string& url, const std::string& target) {
  CURL* curl = curl_easy_init();
  FILE* file = std::fopen(target.c_str(), "wb");
  curl_easy_setopt(curl, CURLOPT_URL, url.c_str());
  curl_easy_setopt(curl, CURLOPT_WRITEFUNCTION, writeToFile);
  curl_easy_setopt(curl, CURLOPT_WRITEDATA, file);
  curl_easy_perform(curl);
  std::fclose(file);
  curl_easy_cleanup(curl);
}

// The tool itself: the window queries the service, then "Salva" runs DownloadFile.
void toolDownload(const std::string& serviceBase, const std::string& root) {
  int argc = 1;
  char name[] = "download_bench";
  char* argv[] = {name, nullptr};
  qputenv("QT_QPA_PLATFORM", "offscreen");
  QApplication toolkit(argc, argv);
  BenchEnvironment environment;
  environment.Root = QString::fromStdString(root) + "/";
  const ScopedService<Environment> environmentInForce(environment);
  NoShell shell;
  const ScopedService<Shell> shellInForce(shell);
  Application application(QStringLiteral("ombrevia-download"));
  TMainFormDownloadSetup form(QString::fromStdString(serviceBase + "/web_download/GetUrlDownload.php"));
  application.SetMainForm(&form);
  form.GetUrlDownload(&form);
  form.ButtonSalva->click();
}

struct Result {
  double seconds = 0;
  long peakKiB = 0;
  long long written = 0;
};

template <typename Work>
Result inChild(Work work, const std::string& target) {
  const pid_t child = fork();
  if (child == 0) {
    work();
    _exit(0);
  }
  QElapsedTimer clock;
  clock.start();
  int status = 0;
  rusage usage{};
  wait4(child, &status, 0, &usage);
  Result result;
  result.seconds = clock.nsecsElapsed() / 1e9;
  result.peakKiB = usage.ru_maxrss;
  result.written = QFileInfo(QString::fromStdString(target)).size();
  std::remove(target.c_str());
  return result;
}

void makePackage(const std::string& path, long long bytes) {
  std::ofstream out(path, std::ios::binary);
  std::vector<char> block(1 << 20);
  for (std::size_t i = 0; i < block.size(); ++i) block[i] = static_cast<char>(i * 2654435761u >> 13);
  for (long long left = bytes; left > 0; left -= static_cast<long long>(block.size()))
    out.write(block.data(), static_cast<std::streamsize>(std::min<long long>(left, block.size())));
}

void print(const char* what, long mib, const Result& r, const Result& baseline) {
  std::printf("%-22s %5ld MiB  %8.1f MiB/s  %6.2f x bare  peak %7.1f MiB  written %lld\n", what, mib,
              mib / r.seconds, baseline.seconds / r.seconds, r.peakKiB / 1024.0, r.written);
}

}  // namespace

int main(int argc, char* argv[]) {
  std::vector<long> sizes;
  for (int i = 1; i < argc; ++i) sizes.push_back(std::stol(argv[i]));
  if (sizes.empty()) sizes = {64, 512};
  curl_global_init(CURL_GLOBAL_DEFAULT);
  QTemporaryDir work;
  const std::string folder = work.path().toStdString();
  const std::string packages = folder + "/packages";
  mkdir(packages.c_str(), 0755);
  for (long mib : sizes) {
    const std::string name = "pkg" + std::to_string(mib) + ".bin";
    makePackage(packages + "/" + name, mib * 1024LL * 1024LL);
    DemoDownloadService service(packages, name, "");
    const std::string target = folder + "/Quarnell/Download/" + name;
    const std::string copy = folder + "/copy.bin";
    const Result bare = inChild([&] { bareRangedLoop(service.PackageUrl(), copy); }, copy);
    const Result whole = inChild([&] { plainGet(service.PackageUrl(), copy); }, copy);
    const Result tool = inChild([&] { toolDownload(service.BaseUrl(), folder); }, target);
    print("ombrevia DownloadFile", mib, tool, bare);
    print("bare ranged libcurl", mib, bare, bare);
    print("one plain GET", mib, whole, bare);
    std::remove((packages + "/" + name).c_str());
  }
  return 0;
}
