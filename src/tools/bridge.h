// The meeting point between the browser tool's Chrome back end and the
// person's Chrome extension. One per process; thread-safe.
#pragma once

#include <nlohmann/json.hpp>

#include <string>

#include "core/error.h"

namespace velmor::tools {

class Bridge {
 public:
  // The process-wide bridge, created on first use.
  static Bridge& global();

  // True while an extension polls or was heard from in the last seconds.
  bool connected();
  // Hands one action to the extension and waits up to `limit_seconds` for
  // its result. Fails with the not-connected message when no extension is
  // there, and with "chrome: {error}" when the extension reports one.
  Result<nlohmann::json> call(const std::string& name, const nlohmann::json& arguments,
                              int limit_seconds);

 private:
  Bridge() = default;
};

}  // namespace velmor::tools
