#include "tools/desktop.h"

#include <algorithm>
#include <array>
#include <charconv>
#include <cmath>
#include <limits>
#include <thread>

#include <fmt/format.h>

#include "core/utf8.h"
#include "tools/browser_args.h"
#include "tools/page_reading.h"

namespace velmor::tools {
namespace {

using nlohmann::json;

constexpr std::array<std::string_view, 11> kCommands = {
    "screenshot", "left_click", "right_click", "double_click", "move_cursor", "type_text",
    "press_key",  "hotkey",     "scroll",      "scroll_up",    "scroll_down"};

constexpr std::int64_t kMaxCoordinate = 20000;
constexpr std::size_t kMaxTypedChars = 2000;
constexpr std::size_t kMaxHotkeys = 4;
constexpr std::size_t kAnswerChars = 2000;

std::string compact(const json& value) {
  return value.dump(-1, ' ', false, json::error_handler_t::replace);
}

const json* member(const json& args, const char* name) {
  if (!args.is_object()) return nullptr;
  auto it = args.find(name);
  return it == args.end() ? nullptr : &*it;
}

std::string_view string_or_empty(const json* value) {
  return value && value->is_string() ? std::string_view(value->get_ref<const std::string&>())
                                     : std::string_view{};
}

Result<void> check_args(std::string_view command, const json& args) {
  if (command == "left_click" || command == "right_click" || command == "double_click" ||
      command == "move_cursor") {
    auto read = [&](const char* name) {
      const json* v = member(args, name);
      return v ? as_i64(*v) : std::nullopt;
    };
    auto xv = read("x");
    auto yv = read("y");
    if (!xv || !yv) return fail(Error::computer("click needs numeric x and y"));
    const std::int64_t x = *xv;
    const std::int64_t y = *yv;
    auto inside = [](std::int64_t v) { return v >= 0 && v <= kMaxCoordinate; };
    if (!inside(x) || !inside(y))
      return fail(Error::computer(fmt::format("coordinates {},{} are outside 0..=20000", x, y)));
  } else if (command == "type_text") {
    const json* text = member(args, "text");
    std::size_t n = text && text->is_string() ? core::char_count(text->get_ref<const std::string&>()) : 0;
    if (n < 1 || n > kMaxTypedChars)
      return fail(Error::computer("type_text needs a text value up to 2000 characters"));
  } else if (command == "press_key") {
    return check_key_name(string_or_empty(member(args, "key")));
  } else if (command == "hotkey") {
    const json* keys = member(args, "keys");
    if (!keys || !keys->is_array()) return fail(Error::computer("hotkey needs a keys array"));
    if (keys->empty() || keys->size() > kMaxHotkeys)
      return fail(Error::computer("hotkey accepts 1 to 4 keys"));
    for (const auto& key : *keys) VELMOR_TRY(check_key_name(string_or_empty(&key)));
  }
  return {};
}

// The image in a screenshot answer: the first string among the usual
// members, looking into nested `result` members.
std::optional<std::string_view> find_image(const json& answer) {
  const json* current = &answer;
  while (current->is_object()) {
    for (const char* name : {"image_data", "base64", "screenshot", "data"}) {
      auto it = current->find(name);
      if (it != current->end() && it->is_string()) return it->get_ref<const std::string&>();
    }
    auto result = current->find("result");
    if (result == current->end()) break;
    if (result->is_string()) return result->get_ref<const std::string&>();
    current = &*result;
  }
  return std::nullopt;
}

}  // namespace

Desktop::Desktop(std::string url, std::chrono::milliseconds settle)
    : url_(std::move(url)), settle_(settle) {}

Result<const CuaClient*> Desktop::cua() {
  if (client_) return &*client_;
  CuaClient client(url_);
  if (auto up = client.status(); !up)
    return fail(Error::computer(fmt::format(
        "Cua computer server is not running at {}. Start it yourself when you want the desktop "
        "driven: pip install \"cua-computer-server[driver]\" && python -m computer_server. velmor "
        "does not start it. ({})",
        client.base(), up.error().long_form())));
  auto size = client.cmd("get_screen_size", json::object());
  screen_ = size ? compact(*size) : "(unknown)";
  client_ = std::move(client);
  return &*client_;
}

Result<Image> Desktop::screenshot() {
  const CuaClient* client = VELMOR_TRY(cua());
  auto answer = VELMOR_TRY(client->cmd("screenshot", json::object()));
  auto found = find_image(answer);
  std::string data = found ? bare_b64(*found) : std::string{};
  // An empty image would only hide from the model that nothing was seen.
  if (data.empty())
    return fail(Error::computer("the computer server sent no image. Check that it is running."));
  return Image{"image/png", std::move(data)};
}

Result<ToolResult> Desktop::call(const ToolCall& call) {
  if (std::ranges::find(kCommands, call.name) == kCommands.end())
    return fail(Error::computer(fmt::format("blocked desktop command `{}`", call.name)));
  if (call.name == "screenshot") {
    auto image = VELMOR_TRY(screenshot());
    return ToolResult{"screenshot taken", std::nullopt, std::move(image)};
  }
  VELMOR_TRY(check_args(call.name, call.args));
  const CuaClient* client = VELMOR_TRY(cua());
  auto answer = VELMOR_TRY(client->cmd(call.name, call.args));
  std::this_thread::sleep_for(settle_);
  ToolResult result;
  result.text = truncate(compact(answer), kAnswerChars);
  if (auto image = screenshot()) result.image = std::move(*image);
  return result;
}

Result<void> check_key_name(std::string_view name) {
  auto allowed = [](unsigned char c) {
    return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') ||
           c == '+' || c == '-' || c == '_';
  };
  if (name.empty() || name.size() > 32 || !std::ranges::all_of(name, allowed))
    return fail(Error::computer(fmt::format("rejected key name `{}`", name)));
  return {};
}

std::optional<std::int64_t> as_i64(const json& value) {
  using Limits = std::numeric_limits<std::int64_t>;
  if (value.is_number_unsigned()) {
    auto u = value.get<std::uint64_t>();
    return u > static_cast<std::uint64_t>(Limits::max()) ? Limits::max()
                                                         : static_cast<std::int64_t>(u);
  }
  if (value.is_number_integer()) return value.get<std::int64_t>();
  if (value.is_number_float()) {
    double d = std::trunc(value.get<double>());
    if (std::isnan(d)) return std::nullopt;
    // 2^63 is exact as a double; anything at or above it saturates.
    if (d >= 9223372036854775808.0) return Limits::max();
    if (d <= static_cast<double>(Limits::min())) return Limits::min();
    return static_cast<std::int64_t>(d);
  }
  if (value.is_string()) {
    std::string_view s = value.get_ref<const std::string&>();
    if (s.starts_with('+')) {
      s.remove_prefix(1);
      if (s.starts_with('-')) return std::nullopt;
    }
    std::int64_t out = 0;
    auto [end, ec] = std::from_chars(s.data(), s.data() + s.size(), out);
    if (s.empty() || ec != std::errc{} || end != s.data() + s.size()) return std::nullopt;
    return out;
  }
  return std::nullopt;
}

}  // namespace velmor::tools
