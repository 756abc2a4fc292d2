// Replies the network tests script on the loopback server.
#pragma once

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
