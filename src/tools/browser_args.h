// The browser tool's guards and argument rewriting: which tools the model
// may call, the URL and snapshot-ref rules, and the rewriting of loosely
// formed model arguments into the shapes the back ends expect. Pure and
// thread-safe.
#pragma once

#include <array>
#include <string>
#include <string_view>

#include <nlohmann/json.hpp>

#include "core/error.h"

namespace velmor::tools {

// The browser tools the model may call, in the order messages list them.
inline constexpr std::array<std::string_view, 14> kBrowserTools = {
    "browser_read_page",     "browser_find",      "browser_navigate", "browser_navigate_back",
    "browser_snapshot",      "browser_click",     "browser_hover",    "browser_type",
    "browser_fill_form",     "browser_select_option", "browser_press_key", "browser_wait_for",
    "browser_tabs",          "browser_take_screenshot"};

// Fails with "blocked browser tool `{name}`. Allowed: {list}" for any other
// name (browser_evaluate included).
Result<void> check_allowed_tool(std::string_view name);
// browser_navigate's own `url` (trimmed) must start with http:// or
// https:// and be at most 2000 bytes.
Result<void> check_navigate_url(const nlohmann::json& args);
// Click, hover, type and select need a `ref` of 1 to 64 ASCII letters,
// digits, '-' or '_'; other tools pass.
Result<void> check_snapshot_ref(std::string_view name, const nlohmann::json& args);

// The arguments rewritten into the exact member names and shapes the back
// ends take (ref from `selector`, `submit` from `press_enter`, seconds for
// `time`, ...). Always an object; the tool name is never changed.
nlohmann::json normalize_browser_args(std::string_view name, const nlohmann::json& args);

// The built-in browser's server names the element `target`: `ref` moves
// there unless a `target` is already given.
void fix_ref(nlohmann::json& args);

// The page shown after a failed action: whole up to `limit` characters,
// else the lines that fit below it followed by "…\n".
std::string clip_page_lines(std::string_view page, std::size_t limit);

// Base64 data without surrounding blanks or a PNG/JPEG "data:" prefix.
std::string bare_b64(std::string_view s);

}  // namespace velmor::tools
