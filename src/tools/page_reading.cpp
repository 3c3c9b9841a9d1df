#include "tools/page_reading.h"

#include <utf8proc.h>

#include <array>

#include "core/utf8.h"
#include "tools/page_reading_lines.h"

namespace velmor::tools {

namespace page_lines {

std::vector<std::string_view> split(std::string_view text) {
  std::vector<std::string_view> lines;
  std::size_t begin = 0;
  while (begin < text.size()) {
    auto end = text.find('\n', begin);
    auto stop = end == std::string_view::npos ? text.size() : end;
    auto line = text.substr(begin, stop - begin);
    if (line.ends_with('\r')) line.remove_suffix(1);
    lines.push_back(line);
    if (end == std::string_view::npos) break;
    begin = end + 1;
  }
  return lines;
}

std::string_view indent_stripped(std::string_view line) {
  auto first = line.find_first_not_of(" \t");
  return first == std::string_view::npos ? std::string_view{} : line.substr(first);
}

void lower_into(std::string_view line, std::string& out) {
  out.clear();
  const auto* bytes = reinterpret_cast<const utf8proc_uint8_t*>(line.data());
  for (std::size_t i = 0; i < line.size();) {
    unsigned char c = bytes[i];
    if (c < 0x80) {
      out += static_cast<char>(c >= 'A' && c <= 'Z' ? c - 'A' + 'a' : c);
      ++i;
      continue;
    }
    utf8proc_int32_t cp = -1;
    auto n = utf8proc_iterate(bytes + i, static_cast<utf8proc_ssize_t>(line.size() - i), &cp);
    if (n <= 0) {
      out += static_cast<char>(c);
      ++i;
      continue;
    }
    utf8proc_uint8_t buf[4];
    auto len = utf8proc_encode_char(utf8proc_tolower(cp), buf);
    out.append(reinterpret_cast<const char*>(buf), static_cast<std::size_t>(len));
    i += static_cast<std::size_t>(n);
  }
}

}  // namespace page_lines

std::string truncate(std::string_view text, std::size_t limit) {
  auto head = core::prefix_chars(text, limit);
  if (head.size() == text.size()) return std::string(text);
  std::string out(head);
  out += "…";
  return out;
}

std::optional<std::string> page_url(std::string_view snapshot) {
  constexpr std::string_view kPrefix = "- Page URL:";
  for (auto line : page_lines::split(snapshot)) {
    auto trimmed = core::trim(line);
    if (trimmed.size() < 11 || !trimmed.starts_with(kPrefix)) continue;
    auto url = core::trim(trimmed.substr(kPrefix.size()));
    if (!url.empty()) return std::string(url);
  }
  return std::nullopt;
}

std::string brief_args(const nlohmann::json& args) {
  constexpr std::size_t kLimit = 160;
  auto compact = [&] {
    return truncate(args.dump(-1, ' ', false, nlohmann::json::error_handler_t::replace), kLimit);
  };
  if (args.is_null()) return {};
  if (!args.is_object()) return compact();
  if (args.empty()) return {};
  constexpr std::array<const char*, 7> kTelling = {"url",  "text",  "key",     "element",
                                                   "time", "query", "question"};
  for (const char* name : kTelling) {
    auto it = args.find(name);
    if (it != args.end() && it->is_string()) return truncate(it->get_ref<const std::string&>(), kLimit);
  }
  return compact();
}

}  // namespace velmor::tools
