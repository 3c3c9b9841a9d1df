#include "tools/browser_args.h"

#include <algorithm>
#include <charconv>
#include <cmath>
#include <initializer_list>
#include <optional>
#include <vector>

#include "core/utf8.h"

namespace velmor::tools {
namespace {

using nlohmann::json;

std::string allowed_list() {
  std::string out;
  for (auto name : kBrowserTools) {
    if (!out.empty()) out += ", ";
    out += name;
  }
  return out;
}

// The value readers: each gives nullopt when the value cannot be read.
std::optional<std::string> as_text(const json& v) {
  if (v.is_string()) return std::string(core::trim(v.get_ref<const std::string&>()));
  if (v.is_number()) return v.dump();
  if (v.is_boolean()) return v.get<bool>() ? "true" : "false";
  return std::nullopt;
}

std::optional<bool> as_flag(const json& v) {
  if (v.is_boolean()) return v.get<bool>();
  if (v.is_number_integer()) return v.get<std::int64_t>() != 0;
  if (v.is_number()) return v.get<double>() != 0.0;
  if (v.is_string()) {
    std::string s = core::to_lower(core::trim(v.get_ref<const std::string&>()));
    if (s.empty() || s == "0" || s == "no" || s == "false") return false;
    if (s == "1" || s == "yes" || s == "true") return true;
  }
  return std::nullopt;
}

std::optional<std::uint64_t> as_count(const json& v) {
  if (v.is_number_unsigned()) return v.get<std::uint64_t>();
  if (v.is_number_integer()) {
    auto n = v.get<std::int64_t>();
    if (n >= 0) return static_cast<std::uint64_t>(n);
    return std::nullopt;
  }
  if (!v.is_string()) return std::nullopt;
  std::string_view s = v.get_ref<const std::string&>();
  if (!s.empty() && s.front() == '+') s.remove_prefix(1);
  if (s.empty() || !std::all_of(s.begin(), s.end(), [](char c) { return c >= '0' && c <= '9'; }))
    return std::nullopt;
  std::uint64_t n = 0;
  auto [end, ec] = std::from_chars(s.data(), s.data() + s.size(), n);
  if (ec != std::errc() || end != s.data() + s.size()) return std::nullopt;
  return n;
}

template <class Reader>
auto first(const json& obj, std::initializer_list<const char*> keys, Reader read)
    -> decltype(read(obj)) {
  for (const char* key : keys) {
    auto it = obj.find(key);
    if (it == obj.end()) continue;
    if (auto v = read(*it)) return v;
  }
  return std::nullopt;
}

std::optional<std::string> first_text(const json& obj, std::initializer_list<const char*> keys) {
  return first(obj, keys, as_text);
}

std::string clean_ref(std::string_view s) {
  s = core::trim(s);
  auto junk = [](char c) { return c == '"' || c == '\'' || c == '[' || c == ']'; };
  while (!s.empty() && junk(s.front())) s.remove_prefix(1);
  while (!s.empty() && junk(s.back())) s.remove_suffix(1);
  if (s.substr(0, 4) == "ref=") s.remove_prefix(4);
  return std::string(core::trim(s));
}

std::optional<double> as_seconds(const json& v) {
  if (v.is_number()) return v.get<double>();
  if (!v.is_string()) return std::nullopt;
  std::string_view s = v.get_ref<const std::string&>();
  if (!s.empty() && s.front() == '+') s.remove_prefix(1);
  double t = 0;
  auto [end, ec] = std::from_chars(s.data(), s.data() + s.size(), t);
  if (s.empty() || ec != std::errc() || end != s.data() + s.size()) return std::nullopt;
  return t;
}

void put(json& out, const char* key, const std::optional<std::string>& v) {
  if (v) out[key] = *v;
}

// `element` and `ref`, shared by the tools that act on one element.
void put_target(json& out, const json& in) {
  std::optional<std::string> ref;
  if (auto raw = first_text(in, {"ref", "element_ref", "selector"})) {
    std::string cleaned = clean_ref(*raw);
    if (!cleaned.empty()) ref = cleaned;
  }
  std::optional<std::string> element = first_text(in, {"element", "description", "label", "name"});
  if (!element || element->empty()) element = ref ? std::optional("element " + *ref) : std::nullopt;
  put(out, "element", element);
  put(out, "ref", ref);
}

json fill_form_fields(const json& in) {
  json fields = json::array();
  auto it = in.find("fields");
  if (it == in.end() || !it->is_array()) return fields;
  for (const auto& field : *it) {
    if (!field.is_object()) continue;
    auto str = [&](const char* key) -> const json* {
      auto f = field.find(key);
      return f != field.end() && f->is_string() ? &*f : nullptr;
    };
    std::string ref = str("ref") ? clean_ref(str("ref")->get<std::string>()) : "";
    std::string value;
    if (auto v = field.find("value"); v != field.end()) {
      if (v->is_string()) value = v->get<std::string>();
      else if (v->is_number() || v->is_boolean()) value = *as_text(*v);
    }
    fields.push_back(json{{"name", str("name") ? str("name")->get<std::string>() : "field " + ref},
                          {"type", str("type") ? str("type")->get<std::string>() : "textbox"},
                          {"ref", ref},
                          {"value", value}});
  }
  return fields;
}

json select_values(const json& in) {
  for (const char* key : {"values", "value", "option"}) {
    auto it = in.find(key);
    if (it == in.end()) continue;
    json values = json::array();
    if (it->is_array()) {
      for (const auto& v : *it)
        if (v.is_string()) values.push_back(v);
    } else if (it->is_string()) {
      values.push_back(*it);
    } else if (it->is_number()) {
      values.push_back(it->dump());
    }
    return values;
  }
  return json::array();
}

void normalize_click(json& out, const json& in) {
  put_target(out, in);
  if (first(in, {"doubleClick", "double_click"}, as_flag).value_or(false)) out["doubleClick"] = true;
  if (auto it = in.find("button"); it != in.end()) {
    if (auto b = as_text(*it)) {
      std::string button = core::to_lower(*b);
      if (button == "left" || button == "right" || button == "middle") out["button"] = button;
    }
  }
  if (auto it = in.find("modifiers"); it != in.end() && it->is_array()) {
    static const std::vector<std::string> known = {"Alt", "Control", "ControlOrMeta", "Meta",
                                                   "Shift"};
    json kept = json::array();
    for (const auto& m : *it)
      if (m.is_string() && std::find(known.begin(), known.end(), m.get<std::string>()) != known.end())
        kept.push_back(m);
    if (!kept.empty()) out["modifiers"] = kept;
  }
}

void normalize_wait(json& out, const json& in) {
  if (auto it = in.find("time"); it != in.end()) {
    if (auto t = as_seconds(*it)) {
      double seconds = *t > 60 ? *t / 1000 : *t;
      seconds = std::clamp(seconds, 0.2, 15.0);
      out["time"] = std::isfinite(seconds) ? json(seconds) : json(nullptr);
    }
  }
  if (auto it = in.find("text"); it != in.end()) put(out, "text", as_text(*it));
  put(out, "textGone", first_text(in, {"textGone", "text_gone"}));
}

void normalize_tabs(json& out, const json& in) {
  std::string action = core::to_lower(first_text(in, {"action"}).value_or("list"));
  if (action != "new" && action != "list" && action != "close" && action != "select")
    action = "list";
  out["action"] = action;
  if (auto index = first(in, {"index"}, as_count)) out["index"] = *index;
}

}  // namespace

Result<void> check_allowed_tool(std::string_view name) {
  if (std::find(kBrowserTools.begin(), kBrowserTools.end(), name) != kBrowserTools.end()) return {};
  return fail(Error::computer("blocked browser tool `" + std::string(name) +
                              "`. Allowed: " + allowed_list()));
}

Result<void> check_navigate_url(const json& args) {
  std::string_view url;
  if (args.is_object())
    if (auto it = args.find("url"); it != args.end() && it->is_string())
      url = core::trim(it->get_ref<const std::string&>());
  if (url.substr(0, 7) != "http://" && url.substr(0, 8) != "https://")
    return fail(Error::computer("browser_navigate only allows http and https URLs"));
  if (url.size() > 2000) return fail(Error::computer("URL is too long"));
  return {};
}

Result<void> check_snapshot_ref(std::string_view name, const json& args) {
  if (name != "browser_click" && name != "browser_hover" && name != "browser_type" &&
      name != "browser_select_option")
    return {};
  auto ok = [](const std::string& ref) {
    return !ref.empty() && ref.size() <= 64 && std::all_of(ref.begin(), ref.end(), [](char c) {
      return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') ||
             c == '-' || c == '_';
    });
  };
  auto it = args.is_object() ? args.find("ref") : args.end();
  if (args.is_object() && it != args.end() && it->is_string() && ok(it->get<std::string>()))
    return {};
  return fail(Error::computer("this action needs a snapshot ref such as e12"));
}

json normalize_browser_args(std::string_view name, const json& args) {
  static const json kEmpty = json::object();
  const json& in = args.is_object() ? args : kEmpty;
  json out = in;
  if (name == "browser_click") {
    normalize_click(out, in);
  } else if (name == "browser_hover") {
    put_target(out, in);
  } else if (name == "browser_type") {
    put_target(out, in);
    put(out, "text", first_text(in, {"text", "value"}));
    if (first(in, {"submit", "press_enter", "enter"}, as_flag).value_or(false)) out["submit"] = true;
    if (first(in, {"slowly"}, as_flag).value_or(false)) out["slowly"] = true;
  } else if (name == "browser_select_option") {
    put_target(out, in);
    out["values"] = select_values(in);
  } else if (name == "browser_press_key") {
    put(out, "key", first_text(in, {"key", "keys"}));
  } else if (name == "browser_fill_form") {
    out["fields"] = fill_form_fields(in);
  } else if (name == "browser_read_page") {
    if (auto start = first(in, {"start"}, as_count)) out["start"] = *start;
    auto query = first_text(in, {"query", "about", "looking_for"});
    if (query && !query->empty()) out["query"] = *query;
  } else if (name == "browser_navigate") {
    put(out, "url", first_text(in, {"url", "href"}));
  } else if (name == "browser_wait_for") {
    normalize_wait(out, in);
  } else if (name == "browser_tabs") {
    normalize_tabs(out, in);
  } else if (name == "browser_find") {
    put(out, "query", first_text(in, {"query", "text", "element"}));
  }
  return out;
}

void fix_ref(json& args) {
  if (!args.is_object()) return;
  auto it = args.find("ref");
  if (it == args.end()) return;
  json ref = std::move(*it);
  args.erase(it);
  if (!args.contains("target")) args["target"] = std::move(ref);
}

std::string clip_page_lines(std::string_view page, std::size_t limit) {
  if (core::char_count(page) <= limit) return std::string(page);
  std::string out;
  std::size_t taken = 0;
  while (!page.empty()) {
    auto nl = page.find('\n');
    std::string_view line = page.substr(0, nl);
    page = nl == std::string_view::npos ? std::string_view() : page.substr(nl + 1);
    if (!line.empty() && line.back() == '\r') line.remove_suffix(1);
    std::size_t chars = core::char_count(line);
    if (taken + chars >= limit) break;
    out.append(line);
    out += '\n';
    taken += chars + 1;
  }
  out += "…\n";
  return out;
}

std::string bare_b64(std::string_view s) {
  s = core::trim(s);
  for (std::string_view prefix : {"data:image/png;base64,", "data:image/jpeg;base64,"}) {
    if (s.substr(0, prefix.size()) == prefix) {
      s.remove_prefix(prefix.size());
      break;
    }
  }
  return std::string(core::trim(s));
}

}  // namespace velmor::tools
