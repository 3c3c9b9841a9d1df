#include "tools/bridge.h"

namespace velmor::tools {

Bridge& Bridge::global() {
  static Bridge bridge;
  return bridge;
}

// No extension routes are served yet, so no extension is ever heard from:
// the browser tool always falls back to the built-in browser.
bool Bridge::connected() { return false; }

Result<nlohmann::json> Bridge::call(const std::string&, const nlohmann::json&, int) {
  return fail(Error::computer(
      "the Chrome extension is not connected. Open Chrome with the velmor extension, or use "
      "the built-in browser."));
}

}  // namespace velmor::tools
