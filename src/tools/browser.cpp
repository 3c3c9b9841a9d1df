#include "tools/browser.h"

#include "core/environment.h"
#include "core/utf8.h"
#include "tools/bridge.h"
#include "tools/browser_args.h"
#include "tools/browser_playwright.h"
#include "tools/mcp_stdio.h"
#include "tools/page_reading.h"

namespace velmor::tools {
namespace {

using nlohmann::json;

// The whole visible text of the page, as browser_read_page pages through it.
constexpr const char* kPageScript =
    "() => { const t = document.body ? document.body.innerText : ''; return "
    "JSON.stringify({title: document.title, url: location.href, length: t.length, text: "
    "t.slice(0, 60000)}); }";

constexpr std::size_t kSnapshotChars = 12000;
constexpr std::size_t kPageNowChars = 6000;
constexpr int kChromeActionSeconds = 90;
constexpr int kChromeDoneSeconds = 5;
// A wedged server must not hold up closing (an interrupt closes every
// parked browser); the process group is stopped either way.
constexpr std::chrono::seconds kCloseReplyTimeout{10};

// Actions whose failure still shows the model the page, so it can retry.
bool is_page_action(const std::string& name) {
  return name == "browser_click" || name == "browser_hover" || name == "browser_type" ||
         name == "browser_select_option" || name == "browser_fill_form" ||
         name == "browser_press_key";
}

std::string string_member(const json& v, const char* key) {
  if (!v.is_object()) return "";
  auto it = v.find(key);
  return it != v.end() && it->is_string() ? it->get<std::string>() : "";
}

std::optional<Image> take_screenshot(McpStdio& mcp) {
  auto shot = mcp.request("tools/call", json{{"name", "browser_take_screenshot"},
                                             {"arguments", {{"type", "jpeg"}}}});
  if (!shot || !shot->is_object()) return std::nullopt;
  auto content = shot->find("content");
  if (content == shot->end() || !content->is_array()) return std::nullopt;
  for (const auto& part : *content) {
    if (!part.is_object() || string_member(part, "type") != "image") continue;
    auto data = part.find("data");
    if (data == part.end() || !data->is_string()) continue;
    auto mime = part.find("mimeType");
    return Image{mime != part.end() && mime->is_string() ? mime->get<std::string>() : "image/jpeg",
                 data->get<std::string>()};
  }
  return std::nullopt;
}

}  // namespace

std::filesystem::path default_browser_run_base() {
  return std::filesystem::path(VELMOR_SOURCE_ROOT) / ".data";
}

Browser::Browser(BrowserOptions options) : options_(std::move(options)) {}

// Releasing the client stops the server's group; no browser_close is sent,
// so dropping a browser never waits on its server.
Browser::~Browser() = default;

void Browser::set_focus(std::string focus) {
  std::lock_guard lock(mutex_);
  focus_ = std::move(focus);
}

bool Browser::started() const {
  std::lock_guard lock(mutex_);
  return backend_ != Backend::None;
}

std::optional<pid_t> Browser::server_pid() const {
  std::lock_guard lock(mutex_);
  if (!mcp_) return std::nullopt;
  return mcp_->pid();
}

std::optional<std::filesystem::path> Browser::run_dir() const {
  std::lock_guard lock(mutex_);
  if (!mcp_) return std::nullopt;
  return mcp_->work_dir();
}

Result<ToolResult> Browser::call(const ToolCall& call) {
  std::lock_guard lock(mutex_);
  VELMOR_TRY(check_allowed_tool(call.name));
  if (call.name == "browser_navigate") VELMOR_TRY(check_navigate_url(call.args));
  json args = normalize_browser_args(call.name, call.args);
  VELMOR_TRY(check_snapshot_ref(call.name, args));
  VELMOR_TRY(choose());
  switch (backend_) {
    case Backend::Playwright: return call_playwright(call.name, args);
    case Backend::Chrome: return call_chrome(call.name, args);
    case Backend::None: break;
  }
  return fail(Error::computer("internal error: entered unreachable code: choose() sets a backend"));
}

Result<void> Browser::choose() {
  if (backend_ != Backend::None) return {};
  if (core::get_env("VELMOR_BROWSER") != "playwright" && Bridge::global().connected()) {
    backend_ = Backend::Chrome;
    return {};
  }
  mcp_ = VELMOR_TRY(start_playwright(options_.run_base));
  backend_ = Backend::Playwright;
  return {};
}

Result<ToolResult> Browser::call_playwright(const std::string& name, const json& args) {
  McpStdio& mcp = *mcp_;
  const auto& dir = mcp.work_dir();
  if (name == "browser_find") {
    std::string text = VELMOR_TRY(mcp.call_tool("browser_snapshot", json::object()));
    std::string snapshot = inline_snapshots(text, dir);
    return ToolResult{find_in_snapshot(snapshot, string_member(args, "query")),
                      page_url(snapshot), std::nullopt};
  }
  if (name == "browser_read_page") {
    std::string raw =
        VELMOR_TRY(mcp.call_tool("browser_evaluate", json{{"function", kPageScript}}));
    return page_text_result(raw, args, focus_);
  }

  json arguments = args;
  fix_ref(arguments);
  if (name == "browser_fill_form" && arguments.contains("fields") &&
      arguments["fields"].is_array())
    for (auto& field : arguments["fields"]) fix_ref(field);

  auto done = mcp.call_tool(name, arguments);
  if (!done) {
    if (!is_page_action(name)) return fail(std::move(done).error());
    auto now = mcp.call_tool("browser_snapshot", json::object());
    std::string page = now ? inline_snapshots(*now, dir) : std::string();
    ToolResult failed;
    failed.text = done.error().to_string();
    if (!core::trim(page).empty())
      failed.text += "\n\n### Page now (after the failed attempt)\n" +
                     clip_page_lines(page, kPageNowChars);
    return failed;
  }
  ToolResult result;
  result.text = focus_snapshot(truncate(inline_snapshots(*done, dir), kSnapshotChars), focus_);
  result.url = page_url(result.text);
  result.image = take_screenshot(mcp);
  return result;
}

Result<ToolResult> Browser::call_chrome(const std::string& name, const json& args) {
  json reply = VELMOR_TRY(Bridge::global().call(name, args, kChromeActionSeconds));
  std::string text = string_member(reply, "text");
  if (name == "browser_read_page") return page_text_result(text, args, focus_);
  ToolResult result;
  if (reply.is_object() && reply.contains("url") && reply["url"].is_string())
    result.url = reply["url"].get<std::string>();
  std::string shot = string_member(reply, "screenshot");
  if (!shot.empty()) result.image = Image{"image/png", bare_b64(shot)};
  result.text = focus_snapshot(truncate(text, kSnapshotChars), focus_);
  return result;
}

void Browser::close() {
  std::lock_guard lock(mutex_);
  if (backend_ == Backend::Chrome) {
    (void)Bridge::global().call("browser_done", json::object(), kChromeDoneSeconds);
  } else if (backend_ == Backend::Playwright && mcp_) {
    mcp_->set_reply_timeout(kCloseReplyTimeout);
    (void)mcp_->call_tool("browser_close", json::object());
    mcp_.reset();
  }
  backend_ = Backend::None;
}

}  // namespace velmor::tools
