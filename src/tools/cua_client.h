// HTTP client of the computer-use server that drives the desktop. The
// server is installed and started by the person, never by velmor.
#pragma once

#include <chrono>
#include <string>
#include <string_view>

#include <nlohmann/json.hpp>

#include "core/error.h"

namespace velmor::tools {

class CuaClient {
 public:
  // `url` with every trailing "/" removed becomes the base.
  explicit CuaClient(std::string_view url);

  const std::string& base() const { return base_; }

  // GET {base}/status. Any 2xx answer means the server runs; a refused or
  // timed-out connection, or any other status, is an error of kind Other.
  Result<void> status() const;

  // POST {base}/cmd with {"command", "params"} and the answer's JSON value.
  // Errors (kind Computer): "cua {command}: {error}" when the request fails
  // or the status is not 2xx, "cua read: {error}" when the body breaks off,
  // "cua response was not json: {error}". Thread-safe.
  Result<nlohmann::json> cmd(std::string_view command, const nlohmann::json& params) const;

  static constexpr std::chrono::milliseconds kConnectTimeout{3000};
  static constexpr std::chrono::milliseconds kRequestTimeout{60000};

 private:
  std::string base_;
};

// The JSON value of a server answer: the last "data:" line that parses when
// the answer is a stream of server-sent events, else the whole body.
Result<nlohmann::json> parse_cua_reply(std::string_view body);

}  // namespace velmor::tools
