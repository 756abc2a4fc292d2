// Replies the network tests script on the loopback server.
#pragma once

#include <QByteArray>
#include <cstdint>
#include <string>

#include "tools/LoopbackHttpServer.h"

inline HttpReply TextReply(std::string body, int status = 200, std::string reason = "OK") {
  HttpReply reply;
  reply.Status = status;
  reply.Reason = std::move(reason);
  reply.Body = std::move(body);
  return reply;
}

// `size` bytes of which the first `before` come at once, the rest after `silenceMs` of silence.
inline HttpReply StalledReply(std::size_t size, std::uint64_t before, int silenceMs) {
  HttpReply reply = TextReply(std::string(size, 'a'));
  reply.StallAfterBytes = before;
  reply.StallMilliseconds = silenceMs;
  return reply;
}

// The 206 a server honouring Range sends for bytes `first` to `last` of `content`.
inline HttpReply PartialReply(const QByteArray& content, std::uint64_t first, std::uint64_t last) {
  HttpReply reply =
      TextReply(content.mid(static_cast<qsizetype>(first), static_cast<qsizetype>(last - first + 1)).toStdString(), 206,
                "Partial Content");
  reply.Headers = {{"Content-Range", "bytes " + std::to_string(first) + '-' + std::to_string(last) + '/' +
                                         std::to_string(content.size())}};
  return reply;
}
