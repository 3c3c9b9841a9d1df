// The browser_read_page answer: the page's visible text in windows, or on a
// long page the parts that bear on a query, ranked with BM25.
#include <algorithm>

#include <fmt/format.h>

#include "core/utf8.h"
#include "mind/text_rank.h"
#include "tools/page_reading.h"

namespace velmor::tools {
namespace {

using nlohmann::json;

constexpr std::size_t kFocusAbove = 8000;
constexpr std::size_t kPartChars = 700;
constexpr std::size_t kMinParts = 4;
constexpr std::size_t kFocusBudget = 6000;
constexpr std::size_t kFocusEnough = 5400;
constexpr std::size_t kQueryChars = 160;
// A page title can be anything; a huge one must not crowd out the text.
constexpr std::size_t kTitleChars = 300;

struct PageText {
  std::string title;
  std::optional<std::string> url;
  std::string text;
  std::size_t total = 0;  // characters of text
};

std::string section_of(std::string_view raw) {
  constexpr std::string_view kResult = "### Result";
  auto at = raw.find(kResult);
  if (at == std::string_view::npos) return std::string(core::trim(raw));
  auto after = raw.substr(at + kResult.size());
  return std::string(core::trim(after.substr(0, after.find(kResult))));
}

PageText decode_page(std::string_view raw) {
  std::string decoded = section_of(raw);
  auto first_line = core::trim(std::string_view(decoded).substr(0, decoded.find('\n')));
  if (first_line.starts_with('"')) {
    auto literal = json::parse(first_line, nullptr, false);
    if (literal.is_string()) decoded = literal.get<std::string>();
  }
  PageText page;
  auto value = json::parse(decoded, nullptr, false);
  if (value.is_object()) {
    if (auto it = value.find("title"); it != value.end() && it->is_string())
      page.title = it->get<std::string>();
    if (auto it = value.find("url"); it != value.end() && it->is_string())
      page.url = it->get<std::string>();
    if (auto it = value.find("text"); it != value.end() && it->is_string())
      page.text = std::move(it->get_ref<std::string&>());
    else
      page.text = std::move(decoded);
  } else {
    page.text = std::move(decoded);
  }
  page.title = truncate(page.title, kTitleChars);
  page.total = core::char_count(page.text);
  return page;
}

struct Part {
  std::string_view text;
  std::size_t start = 0;  // in characters from the start of the page text
  std::size_t chars = 0;
};

// Consecutive lines gathered into parts of about kPartChars characters; a
// single longer line makes a part of its own.
std::vector<Part> split_parts(std::string_view text) {
  std::vector<Part> parts;
  Part current;
  std::size_t current_begin = 0;
  bool current_blank = true;
  std::size_t offset_chars = 0;
  for (std::size_t at = 0; at < text.size();) {
    auto nl = text.find('\n', at);
    auto stop = nl == std::string_view::npos ? text.size() : nl + 1;
    auto line = text.substr(at, stop - at);
    auto line_chars = core::char_count(line);
    if (!current_blank && current.chars + line_chars > kPartChars) {
      current.text = text.substr(current_begin, at - current_begin);
      parts.push_back(current);
      current = Part{{}, offset_chars, 0};
      current_begin = at;
      current_blank = true;
    }
    current.chars += line_chars;
    current_blank = current_blank && core::trim(line).empty();
    offset_chars += line_chars;
    at = stop;
  }
  current.text = text.substr(current_begin);
  if (!current_blank) parts.push_back(current);
  return parts;
}

std::optional<std::string> focused_text(const PageText& page, std::string_view query) {
  auto parts = split_parts(page.text);
  if (parts.size() < kMinParts) return std::nullopt;
  auto query_tokens = mind::tokens(query);
  if (query_tokens.empty()) return std::nullopt;
  std::vector<mind::TokenList> docs;
  docs.reserve(parts.size());
  std::size_t token_sum = 0;
  for (const auto& p : parts) {
    docs.push_back(mind::tokens(p.text));
    token_sum += docs.back().size();
  }
  auto idf = mind::idf_table(docs);
  double average = std::max(1.0, static_cast<double>(token_sum) / static_cast<double>(docs.size()));

  std::vector<std::pair<double, std::size_t>> scored;
  for (std::size_t i = 0; i < parts.size(); ++i) {
    double s = mind::bm25(query_tokens, docs[i], idf, average);
    if (s > 0) scored.emplace_back(s, i);
  }
  if (scored.empty()) return std::nullopt;
  std::ranges::stable_sort(scored, [](const auto& a, const auto& b) { return a.first > b.first; });

  std::vector<std::size_t> taken = {0};
  std::size_t taken_chars = parts[0].chars;
  for (const auto& [score, i] : scored) {
    if (taken_chars > kFocusEnough) break;
    if (i == 0 || taken_chars + parts[i].chars > kFocusBudget) continue;
    taken.push_back(i);
    taken_chars += parts[i].chars;
  }
  std::ranges::sort(taken);

  std::string out = fmt::format(
      "### Page text (focused)\n- Title: {}\n- {} characters in all; showing the {} parts that "
      "bear on: {}\n- For the whole page in order, call browser_read_page with {{\"start\": 0}}; "
      "browser_read_page with {{\"query\": \"…\"}} focuses on something else.\n",
      page.title, page.total, taken.size(), truncate(core::trim(query), kQueryChars));
  for (std::size_t k = 0; k < taken.size(); ++k) {
    const auto& p = parts[taken[k]];
    if (k > 0 && taken[k] != taken[k - 1] + 1) out += "\n[…]\n";
    out += fmt::format("\n[chars {}–{}]\n{}\n", p.start, p.start + p.chars, core::trim(p.text));
  }
  const auto& last = parts[taken.back()];
  if (last.start + last.chars < page.total) out += "\n[…]\n";
  // A first part made of one enormous line could not be shown whole.
  if (core::char_count(out) > kObservationChars) return std::nullopt;
  return out;
}

std::string window_text(const PageText& page, std::size_t start) {
  const std::size_t s = std::min(start, page.total);
  auto header = [&](std::size_t end) {
    return fmt::format("### Page text\n- Title: {}\n- Characters {}–{} of {}\n\n", page.title, s,
                       end, page.total);
  };
  auto more = [](std::size_t end) {
    return fmt::format(
        "\n\n(more text follows. Call browser_read_page with {{\"start\": {}}} for the next part.)",
        end);
  };
  // Header, window and continuation line together must fit what the job
  // loop shows, or the model never learns where to continue. Sizing with
  // the total's digits leaves room for any end offset.
  const std::size_t remaining = page.total - s;
  const std::size_t header_chars = core::char_count(header(page.total));
  std::size_t window = remaining;
  if (header_chars + remaining > kObservationChars)
    window = kObservationChars - header_chars - core::char_count(more(page.total));
  const std::size_t end = s + window;

  auto from = core::byte_offset_of_char(page.text, s);
  auto to = from + core::byte_offset_of_char(std::string_view(page.text).substr(from), window);
  std::string out = header(end);
  out.append(page.text, from, to - from);
  if (end < page.total) out += more(end);
  return out;
}

std::optional<std::size_t> start_arg(const json& args) {
  if (!args.is_object()) return std::nullopt;
  auto it = args.find("start");
  if (it == args.end()) return std::nullopt;
  if (it->is_number_unsigned()) return it->get<std::size_t>();
  if (it->is_number_integer() && it->get<std::int64_t>() >= 0)
    return static_cast<std::size_t>(it->get<std::int64_t>());
  return std::nullopt;
}

std::string query_arg(const json& args) {
  if (!args.is_object()) return {};
  auto it = args.find("query");
  if (it == args.end() || !it->is_string()) return {};
  const auto& q = it->get_ref<const std::string&>();
  return core::trim(q).empty() ? std::string{} : q;
}

}  // namespace

ToolResult page_text_result(std::string_view raw, const json& args, std::string_view focus) {
  auto page = decode_page(raw);
  auto start = start_arg(args);
  std::string query = query_arg(args);
  std::string_view wanted = query.empty() ? focus : std::string_view(query);

  ToolResult result;
  result.url = page.url;
  if (!start && page.total > kFocusAbove && !core::trim(wanted).empty()) {
    if (auto focused = focused_text(page, wanted)) {
      result.text = std::move(*focused);
      return result;
    }
  }
  result.text = window_text(page, start.value_or(0));
  return result;
}

}  // namespace velmor::tools
