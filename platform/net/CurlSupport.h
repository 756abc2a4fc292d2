// The one-time libcurl set-up and an owned header list, for the transfer engine. Internal
// to platform/net.
#pragma once

#include <curl/curl.h>

#include <memory>
#include <mutex>

inline void InitialiseCurlOnce() {
  static std::once_flag once;
  std::call_once(once, [] { curl_global_init(CURL_GLOBAL_DEFAULT); });
}

struct CurlHeaderListDeleter {
  void operator()(curl_slist* list) const { curl_slist_free_all(list); }
};
using CurlHeaderList = std::unique_ptr<curl_slist, CurlHeaderListDeleter>;

// Appends `line` to `list`, keeping ownership in it.
inline void AppendHeader(CurlHeaderList& list, const char* line) {
  list.reset(curl_slist_append(list.release(), line));
}
