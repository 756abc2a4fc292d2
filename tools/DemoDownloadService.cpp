#include "tools/DemoDownloadService.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdio>
#include <ctime>
#include <nlohmann/json.hpp>

namespace {

HttpReply plainReply(int status, const std::string& reason) {
  HttpReply reply;
  reply.Status = status;
  reply.Reason = reason;
  reply.Body = reason;
  return reply;
}

// A package file read on demand; the descriptor closes with the last reply that uses it.
BodySource fileSlice(const std::shared_ptr<int>& descriptor, std::uint64_t first, std::uint64_t length) {
  BodySource source;
  source.Length = length;
  source.Read = [descriptor, first](std::uint64_t offset, char* out, std::size_t max) -> std::size_t {
    const ssize_t got = ::pread(*descriptor, out, max, static_cast<off_t>(first + offset));
    return got > 0 ? static_cast<std::size_t>(got) : 0;
  };
  return source;
}

// Strong: any change of the file's content gives it a new modification time, a rename over
// it a new inode.
std::string entityTag(const struct stat& status) {
  char tag[80];
  std::snprintf(tag, sizeof tag, "\"%llx-%llx-%llx%08lx\"", static_cast<unsigned long long>(status.st_ino),
                static_cast<unsigned long long>(status.st_size), static_cast<unsigned long long>(status.st_mtim.tv_sec),
                static_cast<long>(status.st_mtim.tv_nsec));
  return tag;
}

// IMF-fixdate, "Sun, 06 Nov 1994 08:49:37 GMT", whatever the locale.
std::string httpDate(std::time_t when) {
  static const char* const kDays[] = {"Sun", "Mon", "Tue", "Wed", "Thu", "Fri", "Sat"};
  static const char* const kMonths[] = {"Jan", "Feb", "Mar", "Apr", "May", "Jun",
                                        "Jul", "Aug", "Sep", "Oct", "Nov", "Dec"};
  std::tm utc{};
  ::gmtime_r(&when, &utc);
  char text[40];
  std::snprintf(text, sizeof text, "%s, %02d %s %04d %02d:%02d:%02d GMT", kDays[utc.tm_wday], utc.tm_mday,
                kMonths[utc.tm_mon], utc.tm_year + 1900, utc.tm_hour, utc.tm_min, utc.tm_sec);
  return text;
}

// Whether an If-Range (empty when absent) names the version at hand: an entity tag by strong
// comparison (a weak one never matches), a date only when it is exactly Last-Modified.
bool sameVersion(const std::string& ifRange, const std::string& etag, const std::string& lastModified) {
  if (ifRange.empty()) return true;
  if (ifRange.front() == '"' || ifRange.rfind("W/", 0) == 0) return ifRange == etag;
  return ifRange == lastModified;
}

}  // namespace

bool ParseByteRange(const std::string& header, std::uint64_t length, std::uint64_t& first, std::uint64_t& last) {
  const std::string unit = "bytes=";
  if (header.compare(0, unit.size(), unit) != 0) return false;
  const std::string positions = header.substr(unit.size());
  const auto dash = positions.find('-');
  if (dash == std::string::npos || dash == 0 || positions.find(',') != std::string::npos) return false;
  char* end = nullptr;
  first = std::strtoull(positions.c_str(), &end, 10);
  if (end != positions.c_str() + dash || first >= length) return false;
  const std::string lastText = positions.substr(dash + 1);
  if (lastText.empty()) {
    last = length - 1;
    return true;
  }
  last = std::strtoull(lastText.c_str(), &end, 10);
  if (*end != '\0' || last < first) return false;
  last = std::min(last, length - 1);
  return true;
}

DemoDownloadService::DemoDownloadService(std::string packageFolder, std::string packageName, std::string operation,
                                         std::uint16_t port)
    : FPackageFolder(std::move(packageFolder)), FPackageName(std::move(packageName)), FOperation(std::move(operation)) {
  FServer = std::make_unique<LoopbackHttpServer>([this](const HttpRequest& request) { return answer(request); }, port);
}

HttpReply DemoDownloadService::answer(const HttpRequest& request) const {
  if (request.Method == "POST" && request.Target == "/web_download/GetUrlDownload.php") return queryReply();
  const std::string prefix = "/packages/";
  if ((request.Method == "GET" || request.Method == "HEAD") && request.Target.rfind(prefix, 0) == 0) {
    const std::string name = request.Target.substr(prefix.size());
    if (name.find('/') == std::string::npos && name.find("..") == std::string::npos && !name.empty())
      return PackageFileReply(FPackageFolder + "/" + name, request);
  }
  return plainReply(404, "Not Found");
}

HttpReply DemoDownloadService::queryReply() const {
  nlohmann::json reply = {{"DownloadUrl", PackageUrl()}, {"DownloadFileName", FPackageName}};
  if (!FOperation.empty()) reply["TipoOperazione"] = FOperation;
  HttpReply answer;
  answer.Headers = {{"Content-Type", "application/json; charset=utf-8"}};
  answer.Body = reply.dump();
  return answer;
}

HttpReply PackageFileReply(const std::string& path, const HttpRequest& request) {
  const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
  if (fd < 0) return plainReply(404, "Not Found");
  auto descriptor = std::shared_ptr<int>(new int(fd), [](int* owned) {
    ::close(*owned);
    delete owned;
  });
  struct stat status {};
  ::fstat(fd, &status);
  const auto size = static_cast<std::uint64_t>(status.st_size);
  const std::string etag = entityTag(status);
  const std::string lastModified = httpDate(status.st_mtim.tv_sec);

  HttpReply reply;
  reply.Headers = {{"Accept-Ranges", "bytes"},
                   {"Content-Type", "application/octet-stream"},
                   {"ETag", etag},
                   {"Last-Modified", lastModified}};
  const std::string range = request.Header("Range");
  std::uint64_t first = 0, last = size ? size - 1 : 0;
  if (!range.empty() && sameVersion(request.Header("If-Range"), etag, lastModified)) {
    if (!ParseByteRange(range, size, first, last)) {
      reply = plainReply(416, "Range Not Satisfiable");
      reply.Headers = {{"Content-Range", "bytes */" + std::to_string(size)}};
      return reply;
    }
    reply.Status = 206;
    reply.Reason = "Partial Content";
    reply.Headers.emplace_back(
        "Content-Range", "bytes " + std::to_string(first) + '-' + std::to_string(last) + '/' + std::to_string(size));
  }
  const std::uint64_t length = size == 0 ? 0 : last - first + 1;
  reply.Source = fileSlice(descriptor, first, length);
  return reply;
}
