// Download benchmark: the real ombrevia-download executable, on a real X server (Xvfb),
// against its baselines measured in the same run.
//
// Loopback: the demo download service on 127.0.0.1 answers the query with "salva", so the
// tool downloads and closes without a click. Beside it, a bare libcurl loop doing the same
// HEAD and 32 KiB ranged GETs on one connection, and one plain GET of the whole package.
// Links: the same service behind LinkProxy (a bandwidth and a round trip on 127.0.0.1); the
// tool beside one plain GET through the same link.
//
// Every case runs in a process of its own (the baselines are this program again, with
// --bare-ranged or --plain-get URL FILE), so its time is the whole process and its peak
// resident memory is its own. Each case runs --runs times, interleaved; the figures are the
// median and the spread [min-max].
//
//   download_bench [--tool [LABEL=]EXE ...] [--connections N,M...] [--runs N] [--no-loopback]
//                  [--no-links] [MiB ...]
//   (default: the executable built beside this bench with its default connections; loopback
//   sizes 64 512; the links use 32 MiB at 100 Mbit/s and 64 MiB at 1 Gbit/s). Several --tool
//   and --connections run interleaved, so that builds and settings can be compared on a
//   busy machine.
#include <curl/curl.h>
#include <fcntl.h>
#include <signal.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <condition_variable>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <mutex>
#include <sstream>
#include <stdexcept>
#include <string>
#include <thread>
#include <vector>

#include "bench/LinkProxy.h"
#include "tools/DemoDownloadService.h"

namespace {

namespace fs = std::filesystem;

constexpr long kRange = 32768;
constexpr int kChildTimeoutSeconds = 600;

// ---- the runs -------------------------------------------------------------------------

struct Run {
  double Seconds = 0;
  double PeakMiB = 0;
  bool Ok = false;  // exited with 0 and, where it writes one, left a byte-exact file
};

// The peak resident memory of a process's current program, in KiB (0 when gone). Unlike
// the rusage figure, it does not count what the bench held when it forked the process.
long peakKiB(pid_t process) {
  std::ifstream status("/proc/" + std::to_string(process) + "/status");
  std::string key;
  long value = 0;
  while (status >> key) {
    if (key == "VmHWM:") return (status >> value) ? value : 0;
    status.ignore(4096, '\n');
  }
  return 0;
}

// Waits for `child`, noting its peak memory as it runs; kills it after kChildTimeoutSeconds.
Run waitFor(pid_t child, std::chrono::steady_clock::time_point started) {
  std::mutex mutex;
  std::condition_variable done;
  bool finished = false;
  long peak = 0;
  std::thread watchdog([&] {
    std::unique_lock lock(mutex);
    while (!done.wait_for(lock, std::chrono::milliseconds(10), [&] { return finished; })) {
      peak = std::max(peak, peakKiB(child));  // the high-water mark only grows: sampling is enough
      if (std::chrono::steady_clock::now() - started > std::chrono::seconds(kChildTimeoutSeconds))
        ::kill(child, SIGKILL);
    }
  });
  int status = 0;
  ::waitpid(child, &status, 0);
  Run run;
  run.Seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - started).count();
  {
    const std::lock_guard lock(mutex);
    finished = true;
  }
  done.notify_all();
  watchdog.join();
  run.PeakMiB = peak / 1024.0;
  run.Ok = WIFEXITED(status) && WEXITSTATUS(status) == 0;
  return run;
}

// Runs a program with its arguments and environment, its output into `log`.
Run program(const std::vector<std::string>& command, const std::vector<std::string>& environment,
            const std::string& log) {
  std::vector<char*> argv, envp;
  for (const std::string& word : command) argv.push_back(const_cast<char*>(word.c_str()));
  argv.push_back(nullptr);
  for (const std::string& entry : environment) envp.push_back(const_cast<char*>(entry.c_str()));
  envp.push_back(nullptr);
  const int output = ::open(log.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
  const auto started = std::chrono::steady_clock::now();
  const pid_t child = ::fork();
  if (child < 0) throw std::runtime_error("fork failed");
  if (child == 0) {
    ::dup2(output, 1);
    ::dup2(output, 2);
    ::execve(argv[0], argv.data(), envp.data());
    _exit(127);
  }
  ::close(output);
  return waitFor(child, started);
}

std::vector<std::string> currentEnvironment() {
  std::vector<std::string> entries;
  for (char** entry = environ; *entry; ++entry) entries.emplace_back(*entry);
  return entries;
}

// ---- the baselines --------------------------------------------------------------------

size_t writeToFile(char* data, size_t size, size_t count, void* file) {
  return std::fwrite(data, size, count, static_cast<FILE*>(file)) * size;
}

// HEAD, then the tool's 32 KiB ranges appended to the file, all on one easy handle.
bool bareRangedLoop(const std::string& url, const std::string& target) {
  CURL* curl = curl_easy_init();
  curl_easy_setopt(curl, CURLOPT_URL, url.c_str());
  curl_easy_setopt(curl, CURLOPT_NOBODY, 1L);
  curl_easy_setopt(curl, CURLOPT_FAILONERROR, 1L);
  curl_off_t length = -1;
  bool ok = curl_easy_perform(curl) == CURLE_OK &&
            curl_easy_getinfo(curl, CURLINFO_CONTENT_LENGTH_DOWNLOAD_T, &length) == CURLE_OK && length >= 0;
  FILE* file = std::fopen(target.c_str(), "wb");
  ok = ok && file;
  curl_easy_setopt(curl, CURLOPT_HTTPGET, 1L);
  curl_easy_setopt(curl, CURLOPT_WRITEFUNCTION, writeToFile);
  curl_easy_setopt(curl, CURLOPT_WRITEDATA, file);
  for (curl_off_t start = 0; ok && start < length; start += kRange) {
    const curl_off_t end = start + kRange < length ? start + kRange - 1 : length;
    const std::string range = std::to_string(start) + "-" + std::to_string(end);
    curl_easy_setopt(curl, CURLOPT_RANGE, range.c_str());
    long status = 0;
    ok = curl_easy_perform(curl) == CURLE_OK && curl_easy_getinfo(curl, CURLINFO_RESPONSE_CODE, &status) == CURLE_OK &&
         status == 206;
    std::fflush(file);  // like the tool: the file holds every range as soon as it is in
  }
  if (file) std::fclose(file);
  curl_easy_cleanup(curl);
  return ok;
}

bool plainGet(const std::string& url, const std::string& target) {
  FILE* file = std::fopen(target.c_str(), "wb");
  if (!file) return false;
  CURL* curl = curl_easy_init();
  curl_easy_setopt(curl, CURLOPT_URL, url.c_str());
  curl_easy_setopt(curl, CURLOPT_FAILONERROR, 1L);
  curl_easy_setopt(curl, CURLOPT_WRITEFUNCTION, writeToFile);
  curl_easy_setopt(curl, CURLOPT_WRITEDATA, file);
  const bool ok = curl_easy_perform(curl) == CURLE_OK;
  std::fclose(file);
  curl_easy_cleanup(curl);
  return ok;
}

// A baseline in a process of its own (this program again), so that its peak memory is its own.
Run baseline(const std::string& mode, const std::string& url, const std::string& target, const std::string& work) {
  static const std::string self = fs::read_symlink("/proc/self/exe").string();
  return program({self, mode, url, target}, currentEnvironment(), work + "/baseline.log");
}

// ---- the package and the files --------------------------------------------------------

void patternBlock(std::vector<char>& block) {
  for (std::size_t i = 0; i < block.size(); ++i) block[i] = static_cast<char>(i * 2654435761u >> 13);
}

void makePackage(const std::string& path, long long bytes) {
  std::ofstream out(path, std::ios::binary);
  std::vector<char> block(1 << 20);
  patternBlock(block);
  for (long long left = bytes; left > 0; left -= static_cast<long long>(block.size()))
    out.write(block.data(), static_cast<std::streamsize>(std::min<long long>(left, block.size())));
}

bool sameFile(const std::string& a, const std::string& b) {
  std::ifstream left(a, std::ios::binary), right(b, std::ios::binary);
  if (!left || !right || fs::file_size(a) != fs::file_size(b)) return false;
  std::vector<char> x(1 << 20), y(1 << 20);
  while (left && right) {
    left.read(x.data(), static_cast<std::streamsize>(x.size()));
    right.read(y.data(), static_cast<std::streamsize>(y.size()));
    if (left.gcount() != right.gcount() || std::memcmp(x.data(), y.data(), static_cast<std::size_t>(left.gcount())))
      return false;
  }
  return true;
}

// A run that writes `target` counts only if the file is the package, byte for byte.
Run checked(Run run, const std::string& target, const std::string& package) {
  run.Ok = run.Ok && sameFile(target, package);
  std::error_code ignored;
  fs::remove(target, ignored);
  return run;
}

void write(const std::string& path, const std::string& text) {
  fs::create_directories(fs::path(path).parent_path());
  std::ofstream(path, std::ios::binary) << text;
}

// ---- the X server ---------------------------------------------------------------------

// An Xvfb of our own on a free display, stopped with the bench.
class Xvfb {
 public:
  explicit Xvfb(const std::string& log) {
    int fds[2];
    if (::pipe(fds) != 0) throw std::runtime_error("pipe failed");
    FPid = ::fork();
    if (FPid == 0) {
      ::close(fds[0]);
      const std::string fd = std::to_string(fds[1]);
      const int output = ::open(log.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
      ::dup2(output, 1);
      ::dup2(output, 2);
      ::execlp("Xvfb", "Xvfb", "-displayfd", fd.c_str(), "-screen", "0", "1024x768x24", "-nolisten", "tcp",
               static_cast<char*>(nullptr));
      _exit(127);
    }
    ::close(fds[1]);
    // The number and its newline come in separate writes; closing early would kill it.
    std::string number;
    char c = 0;
    while (::read(fds[0], &c, 1) == 1 && c != '\n') number += c;
    ::close(fds[0]);
    if (FPid < 0 || number.empty()) throw std::runtime_error("Xvfb did not start (is it installed?)");
    FDisplay = ":" + number;
  }
  ~Xvfb() {
    ::kill(FPid, SIGTERM);
    ::waitpid(FPid, nullptr, 0);
  }
  const std::string& Display() const { return FDisplay; }
  bool Running() const { return ::waitpid(FPid, nullptr, WNOHANG) == 0; }

 private:
  pid_t FPid = -1;
  std::string FDisplay;
};

// ---- the tool -------------------------------------------------------------------------

// A system root whose common settings name `server`, a home of its own, and an xdg-open
// that does nothing (the "salva" road opens the download folder).
struct Tool {
  std::string Label;
  std::string Exe;
  int Connections = 0;  // "DownloadConnections"; 0: the tool's default
};

struct ToolSetup {
  std::string Work;
  const Xvfb& X;

  Run Download(const Tool& tool, const std::string& server, const std::string& name, const std::string& package) const {
    if (!X.Running()) throw std::runtime_error("Xvfb has stopped; see " + Work + "/xvfb.log");
    const std::string root = Work + "/root";
    std::error_code ignored;
    fs::remove_all(root, ignored);
    std::string settings = "[SOFTWARE\\QUARNELL\\COMMON]\r\nDownloadServer=" + server + "\r\n";
    if (tool.Connections > 0) settings += "DownloadConnections=" + std::to_string(tool.Connections) + "\r\n";
    write(root + "/Quarnell/Common/qngcommon.ini", settings);
    write(Work + "/bin/xdg-open", "#!/bin/sh\nexit 0\n");
    fs::permissions(Work + "/bin/xdg-open", fs::perms::owner_all);
    fs::create_directories(Work + "/home");
    fs::permissions(Work + "/home", fs::perms::owner_all);  // also the runtime folder: owner only
    const char* path = std::getenv("PATH");
    const std::vector<std::string> environment = {
        "QUARNELL_ROOT=" + root,
        "DISPLAY=" + X.Display(),
        "QT_QPA_PLATFORM=xcb",
        "HOME=" + Work + "/home",
        "XDG_RUNTIME_DIR=" + Work + "/home",
        "PATH=" + Work + "/bin:" + (path ? path : "/usr/bin:/bin"),
    };
    const std::string log = Work + "/tool.log";
    Run run = checked(program({tool.Exe}, environment, log), root + "/Quarnell/Download/" + name, package);
    if (!run.Ok) {
      std::ifstream in(log);
      std::string line;
      std::fprintf(stderr, "the tool failed; its output:\n");
      while (std::getline(in, line)) std::fprintf(stderr, "  %s\n", line.c_str());
    }
    return run;
  }
};

// A query script for the links: names the package at the link's address, with "salva".
std::unique_ptr<LoopbackHttpServer> queryService(const std::string& packageUrl, const std::string& name) {
  return std::make_unique<LoopbackHttpServer>([packageUrl, name](const HttpRequest& request) {
    HttpReply reply;
    if (request.Target != "/web_download/GetUrlDownload.php") {
      reply.Status = 404;
      reply.Reason = "Not Found";
      return reply;
    }
    reply.Headers = {{"Content-Type", "application/json; charset=utf-8"}};
    reply.Body =
        R"({"DownloadUrl":")" + packageUrl + R"(","DownloadFileName":")" + name + R"(","TipoOperazione":"salva"})";
    return reply;
  });
}

// ---- the figures ----------------------------------------------------------------------

struct Series {
  std::string Name;
  std::vector<Run> Runs;

  std::vector<double> Seconds() const {
    std::vector<double> seconds;
    for (const Run& run : Runs) seconds.push_back(run.Seconds);
    std::sort(seconds.begin(), seconds.end());
    return seconds;
  }
  double Median() const {
    const std::vector<double> s = Seconds();
    return s.size() % 2 ? s[s.size() / 2] : (s[s.size() / 2 - 1] + s[s.size() / 2]) / 2;
  }
  double PeakMiB() const {
    double peak = 0;
    for (const Run& run : Runs) peak = std::max(peak, run.PeakMiB);
    return peak;
  }
  bool AllOk() const {
    return std::all_of(Runs.begin(), Runs.end(), [](const Run& run) { return run.Ok; });
  }
};

// The ratio of `a` to `b`, run by run (they were interleaved): median and spread.
std::vector<double> ratios(const Series& a, const Series& b) {
  std::vector<double> r;
  for (std::size_t i = 0; i < a.Runs.size() && i < b.Runs.size(); ++i)
    r.push_back(a.Runs[i].Seconds / b.Runs[i].Seconds);
  std::sort(r.begin(), r.end());
  return r;
}

double median(const std::vector<double>& sorted) {
  return sorted.size() % 2 ? sorted[sorted.size() / 2]
                           : (sorted[sorted.size() / 2 - 1] + sorted[sorted.size() / 2]) / 2;
}

void print(const Series& s, double mib, const Series& baseline, const char* baselineName) {
  const std::vector<double> seconds = s.Seconds();
  const std::vector<double> r = ratios(s, baseline);
  std::printf("  %-30s %7.2f s [%.2f-%.2f]  %7.1f MiB/s  peak %6.1f MiB  %5.2fx %s [%.2f-%.2f]  %s\n", s.Name.c_str(),
              s.Median(), seconds.front(), seconds.back(), mib / s.Median(), s.PeakMiB(), median(r), baselineName,
              r.front(), r.back(), s.AllOk() ? "ok" : "FAILED");
  std::fflush(stdout);
}

struct Options {
  std::vector<Tool> Tools;
  int Runs = 3;
  bool Loopback = true;
  bool Links = true;
  std::vector<long> Sizes;
};

Options parse(int argc, char* argv[]) {
  Options options;
  std::vector<int> connections;
  for (int i = 1; i < argc; ++i) {
    const std::string arg = argv[i];
    if (arg == "--tool" && i + 1 < argc) {
      const std::string value = argv[++i];
      const std::size_t equals = value.find('=');
      if (equals == std::string::npos)
        options.Tools.push_back({"ombrevia-download", value});
      else
        options.Tools.push_back({value.substr(0, equals), value.substr(equals + 1)});
    } else if (arg == "--connections" && i + 1 < argc) {
      std::stringstream list(argv[++i]);
      for (std::string count; std::getline(list, count, ',');) connections.push_back(std::stoi(count));
    } else if (arg == "--runs" && i + 1 < argc) {
      options.Runs = std::max(1, std::stoi(argv[++i]));
    } else if (arg == "--no-loopback") {
      options.Loopback = false;
    } else if (arg == "--no-links") {
      options.Links = false;
    } else {
      options.Sizes.push_back(std::stol(arg));
    }
  }
  if (options.Tools.empty()) options.Tools.push_back({"ombrevia-download", OMBREVIA_DOWNLOAD_EXE});
  if (!connections.empty()) {
    std::vector<Tool> each;
    for (const Tool& tool : options.Tools)
      for (int count : connections) each.push_back({tool.Label + " c=" + std::to_string(count), tool.Exe, count});
    options.Tools = each;
  }
  if (options.Sizes.empty()) options.Sizes = {64, 512};
  return options;
}

// One series per tool, named by its label.
std::vector<Series> toolSeries(const Options& options, const std::string& what) {
  std::vector<Series> series;
  for (const Tool& tool : options.Tools) series.push_back({tool.Label + what, {}});
  return series;
}

// What a run costs whatever the size: start, window, query, one range, close.
void fixedCost(const Options& options, const ToolSetup& setup, const std::string& packages) {
  const std::string name = "one-range.bin";
  const std::string package = packages + "/" + name;
  makePackage(package, kRange);
  const DemoDownloadService service(packages, name, "salva");
  std::vector<Series> runs = toolSeries(options, ", 32 KiB");
  for (int i = 0; i < options.Runs; ++i)
    for (std::size_t t = 0; t < options.Tools.size(); ++t)
      runs[t].Runs.push_back(setup.Download(options.Tools[t], service.BaseUrl(), name, package));
  std::printf("fixed cost of a run (one range), %d runs: median [min-max]\n", options.Runs);
  for (const Series& run : runs) {
    const std::vector<double> seconds = run.Seconds();
    std::printf("  %-30s %7.3f s [%.3f-%.3f]  peak %6.1f MiB  %s\n", run.Name.c_str(), run.Median(), seconds.front(),
                seconds.back(), run.PeakMiB(), run.AllOk() ? "ok" : "FAILED");
  }
  fs::remove(package);
}

void loopback(const Options& options, const ToolSetup& setup, const std::string& packages) {
  fixedCost(options, setup, packages);
  for (long mib : options.Sizes) {
    const std::string name = "pkg" + std::to_string(mib) + ".bin";
    const std::string package = packages + "/" + name;
    makePackage(package, mib * 1024LL * 1024LL);
    const DemoDownloadService service(packages, name, "salva");
    const std::string copy = setup.Work + "/copy.bin";
    Series bare{"bare ranged libcurl", {}}, whole{"one plain GET", {}};
    std::vector<Series> runs = toolSeries(options, " (Xvfb)");
    for (int i = 0; i < options.Runs; ++i) {
      bare.Runs.push_back(checked(baseline("--bare-ranged", service.PackageUrl(), copy, setup.Work), copy, package));
      whole.Runs.push_back(checked(baseline("--plain-get", service.PackageUrl(), copy, setup.Work), copy, package));
      for (std::size_t t = 0; t < options.Tools.size(); ++t)
        runs[t].Runs.push_back(setup.Download(options.Tools[t], service.BaseUrl(), name, package));
    }
    std::printf("loopback, %ld MiB, %d runs: median [min-max]\n", mib, options.Runs);
    for (const Series& run : runs) print(run, static_cast<double>(mib), bare, "bare");
    print(bare, static_cast<double>(mib), bare, "bare");
    print(whole, static_cast<double>(mib), bare, "bare");
    fs::remove(package);
  }
}

void links(const Options& options, const ToolSetup& setup, const std::string& packages) {
  struct Link {
    LinkShape Shape;
    long MiB;
  };
  for (const Link& link : {Link{{100, 20}, 32}, Link{{1000, 2}, 64}}) {
    const std::string name = "link" + std::to_string(link.MiB) + ".bin";
    const std::string package = packages + "/" + name;
    makePackage(package, link.MiB * 1024LL * 1024LL);
    DemoDownloadService service(packages, name, "");
    const LinkProxy proxy(service.Server().Port(), link.Shape);
    const std::string packageUrl = proxy.BaseUrl() + "/packages/" + name;
    const auto query = queryService(packageUrl, name);
    const std::string copy = setup.Work + "/copy.bin";
    Series whole{"one plain GET", {}};
    std::vector<Series> runs = toolSeries(options, " (Xvfb)");
    for (int i = 0; i < options.Runs; ++i) {
      whole.Runs.push_back(checked(baseline("--plain-get", packageUrl, copy, setup.Work), copy, package));
      for (std::size_t t = 0; t < options.Tools.size(); ++t)
        runs[t].Runs.push_back(setup.Download(options.Tools[t], query->BaseUrl(), name, package));
    }
    std::printf("link %.0f Mbit/s, %d ms round trip, %ld MiB, %d runs: median [min-max]\n",
                link.Shape.MegabitsPerSecond, link.Shape.RoundTripMs, link.MiB, options.Runs);
    for (const Series& run : runs) print(run, static_cast<double>(link.MiB), whole, "GET ");
    print(whole, static_cast<double>(link.MiB), whole, "GET ");
    fs::remove(package);
  }
}

}  // namespace

int main(int argc, char* argv[]) {
  if (argc == 4 && (std::strcmp(argv[1], "--bare-ranged") == 0 || std::strcmp(argv[1], "--plain-get") == 0)) {
    curl_global_init(CURL_GLOBAL_DEFAULT);
    const bool ranged = std::strcmp(argv[1], "--bare-ranged") == 0;
    return (ranged ? bareRangedLoop(argv[2], argv[3]) : plainGet(argv[2], argv[3])) ? 0 : 1;
  }
  try {
    const Options options = parse(argc, argv);
    curl_global_init(CURL_GLOBAL_DEFAULT);
    char pattern[] = "/tmp/download_bench.XXXXXX";
    if (!::mkdtemp(pattern)) throw std::runtime_error("no temporary folder");
    const std::string work = pattern;
    const std::string packages = work + "/packages";
    fs::create_directories(packages);
    {
      const Xvfb display(work + "/xvfb.log");
      const ToolSetup setup{work, display};
      for (const Tool& tool : options.Tools) std::printf("%s: %s\n", tool.Label.c_str(), tool.Exe.c_str());
      std::printf("on Xvfb %s; every process's time is its whole run, its peak its own\n", display.Display().c_str());
      if (options.Loopback) loopback(options, setup, packages);
      if (options.Links) links(options, setup, packages);
    }
    fs::remove_all(work);
  } catch (const std::exception& error) {
    std::fprintf(stderr, "download_bench: %s\n", error.what());
    return 1;
  }
  return 0;
}
