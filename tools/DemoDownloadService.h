// The demo download service: answers the query script with a JSON reply naming one package
// from its folder, and serves that folder's files as a real server does: HEAD and byte
// ranges, a strong ETag and Last-Modified, and If-Range.
#pragma once

#include <cstdint>
#include <memory>
#include <string>

#include "tools/LoopbackHttpServer.h"

class DemoDownloadService {
 public:
  // `operation` is the reply's "TipoOperazione": "", "salva" or "installa".
  DemoDownloadService(std::string packageFolder, std::string packageName, std::string operation,
                      std::uint16_t port = 0);

  std::string BaseUrl() const { return FServer->BaseUrl(); }
  std::string PackageUrl() const { return BaseUrl() + "/packages/" + FPackageName; }
  LoopbackHttpServer& Server() { return *FServer; }

 private:
  HttpReply answer(const HttpRequest& request) const;
  HttpReply queryReply() const;

  std::string FPackageFolder;
  std::string FPackageName;
  std::string FOperation;
  std::unique_ptr<LoopbackHttpServer> FServer;
};

// The reply to a GET or HEAD of the file at `path`, read as it is on disk at this moment: its
// length, a strong ETag (from its inode, size and modification time: a file written anew has
// another) and Last-Modified. A Range is answered with 206 unless an If-Range names another
// version of the file: then the whole file comes with 200, as HTTP asks. 404 when the file
// cannot be opened, 416 for a Range it cannot satisfy. Thread-safe.
HttpReply PackageFileReply(const std::string& path, const HttpRequest& request);

// Reads "bytes=S-E" (E may be missing) against a body of `length` bytes; a last position
// past the end reads as the end. False for anything else or a start past the end.
bool ParseByteRange(const std::string& header, std::uint64_t length, std::uint64_t& first, std::uint64_t& last);
