// The desktop tool: screenshots, clicks, typing, keys and scrolling on the
// Mac through the separately installed computer-use server.
#pragma once

#include <chrono>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

#include <nlohmann/json.hpp>

#include "core/error.h"
#include "tools/cua_client.h"
#include "tools/tool_types.h"

namespace velmor::tools {

// What the job loop drives the desktop through; Desktop is the real one.
class DesktopTool {
 public:
  virtual ~DesktopTool() = default;
  // One desktop action; the result holds a short text and, when one could
  // be taken, a fresh screenshot. Errors are kind Computer.
  virtual Result<ToolResult> call(const ToolCall& call) = 0;
  // A screenshot of the whole screen as ("image/png", base64).
  virtual Result<Image> screenshot() = 0;
};

// Talks to the server at `url` (CUA_URL). The first use checks that the
// server runs; until a check succeeds every use checks again, so a server
// started later is picked up without a restart. Not thread-safe: one job
// drives a desktop at a time.
class Desktop final : public DesktopTool {
 public:
  // How long the screen is given to settle after an action before the
  // screenshot; tests shorten it.
  static constexpr std::chrono::milliseconds kSettle{350};

  explicit Desktop(std::string url, std::chrono::milliseconds settle = kSettle);

  // Runs one of screenshot, left_click, right_click, double_click,
  // move_cursor, type_text, press_key, hotkey, scroll, scroll_up and
  // scroll_down with the model's arguments passed through unchanged, after
  // checking them. A failed screenshot after the action only drops the image.
  Result<ToolResult> call(const ToolCall& call) override;
  // Fails with "the computer server sent no image. Check that it is
  // running." when the answer holds no image.
  Result<Image> screenshot() override;
  // The client, created (after the status check) on first use. Fails with
  // the not-running message naming the base URL.
  Result<const CuaClient*> cua();

  const std::string& url() const { return url_; }
  // The server's get_screen_size answer as compact JSON, "(unknown)" when
  // it gave none, empty before the first use.
  const std::string& screen() const { return screen_; }

 private:
  std::string url_;
  std::string screen_;
  std::optional<CuaClient> client_;
  std::chrono::milliseconds settle_;
};

// Accepts 1 to 32 bytes of ASCII letters, digits, "+", "-" and "_"; else
// "rejected key name `{name}`".
Result<void> check_key_name(std::string_view name);

// A number as an integer (fractions cut toward zero, saturating at the
// 64-bit range) or a string holding a signed decimal integer (none on
// overflow); anything else gives none.
std::optional<std::int64_t> as_i64(const nlohmann::json& value);

}  // namespace velmor::tools
