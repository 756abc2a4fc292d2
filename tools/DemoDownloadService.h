// The demo download service: answers the query script with a JSON reply naming one package
// from its folder, and serves that folder's files with HEAD and byte ranges.
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
  HttpReply packageReply(const HttpRequest& request, const std::string& name) const;

  std::string FPackageFolder;
  std::string FPackageName;
  std::string FOperation;
  std::unique_ptr<LoopbackHttpServer> FServer;
};

// Reads "bytes=S-E" (E may be missing) against a body of `length` bytes; a last position
// past the end reads as the end. False for anything else or a start past the end.
bool ParseByteRange(const std::string& header, std::uint64_t length, std::uint64_t& first, std::uint64_t& last);
