// HTTP(S) over libcurl: one request per call, no retries. Safe to call from
// several threads at once (each call has its own handle).
#pragma once

#include <chrono>
#include <functional>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "core/error.h"

namespace velmor::core {

using HttpHeaders = std::vector<std::pair<std::string, std::string>>;

struct HttpRequest {
  std::string method = "GET";  // "GET", "POST", "PUT", "DELETE"
  std::string url;
  HttpHeaders headers;
  std::string body;
  std::chrono::milliseconds connect_timeout{15000};
  std::chrono::milliseconds timeout{180000};  // the whole exchange
};

struct HttpResponse {
  long status = 0;
  HttpHeaders headers;  // names lower-cased
  std::string body;     // empty when a chunk callback consumed it
};

// Called with each piece of the body as it arrives; return false to abort.
using BodyChunk = std::function<bool(std::string_view)>;

// Sends the request. Transport failures (refused, timed out, TLS) fail with
// curl's own description; any HTTP status is a success here and is for the
// caller to judge. With `on_chunk`, the body is streamed to it instead of
// being collected.
Result<HttpResponse> http_send(const HttpRequest& request, const BodyChunk& on_chunk = {});

// "a=1&b=two%20words": application/x-www-form-urlencoded.
std::string form_encode(const std::vector<std::pair<std::string, std::string>>& fields);
std::string url_encode(std::string_view text);

}  // namespace velmor::core
