// Cutting a long accessibility snapshot down to what bears on the job, and
// searching one for the model's words.
#include <utf8proc.h>

#include <algorithm>
#include <array>
#include <span>

#include <fmt/format.h>

#include "core/utf8.h"
#include "mind/text_rank.h"
#include "tools/page_reading.h"
#include "tools/page_reading_lines.h"

namespace velmor::tools {
namespace {

constexpr std::size_t kFocusMinLines = 200;
constexpr std::size_t kHeadExtra = 30;
constexpr std::size_t kMostKept = 160;
constexpr std::size_t kFindMostMatches = 60;

bool starts_with_any(std::string_view s, std::span<const std::string_view> prefixes) {
  return std::ranges::any_of(prefixes, [&](std::string_view p) { return s.starts_with(p); });
}

// Controls the model may need to act on; the second pass never drops them.
constexpr std::array<std::string_view, 14> kControls = {
    "- heading", "- button", "- combobox", "- textbox", "- tab ",    "- tab\"",     "- checkbox",
    "- radio",   "- switch", "- menuitem", "- option",  "- slider",  "- searchbox", "- spinbutton"};

// What shows the page's structure: the controls plus the server's own
// section and page lines.
constexpr std::array<std::string_view, 2> kStructure = {"- Page ", "###"};

// Most lines are links and text; the role's first letter rules them out
// before any prefix is compared.
bool may_be_control(std::string_view stripped) {
  return stripped.size() > 2 && stripped.starts_with("- ") &&
         std::string_view("hbctrsmo").find(stripped[2]) != std::string_view::npos;
}

bool is_control(std::string_view line) {
  auto stripped = page_lines::indent_stripped(line);
  return may_be_control(stripped) && starts_with_any(stripped, kControls);
}

bool is_structure(std::string_view line) {
  auto stripped = page_lines::indent_stripped(line);
  return (may_be_control(stripped) && starts_with_any(stripped, kControls)) ||
         starts_with_any(stripped, kStructure);
}

// `scratch` holds the lower-cased line between calls.
bool mentions_any(std::string_view line, const std::vector<std::string>& words,
                  std::string& scratch) {
  page_lines::lower_into(line, scratch);
  return std::ranges::any_of(words, [&](const std::string& w) {
    return scratch.find(w) != std::string::npos;
  });
}

// The query's words of two characters or more, lower-cased.
std::vector<std::string> find_terms(std::string_view query) {
  std::vector<std::string> terms;
  std::string piece;
  std::size_t piece_chars = 0;
  auto finish = [&] {
    if (piece_chars >= 2) terms.push_back(core::to_lower(piece));
    piece.clear();
    piece_chars = 0;
  };
  const auto* bytes = reinterpret_cast<const utf8proc_uint8_t*>(query.data());
  for (std::size_t i = 0; i < query.size();) {
    utf8proc_int32_t cp = -1;
    auto n = utf8proc_iterate(bytes + i, static_cast<utf8proc_ssize_t>(query.size() - i), &cp);
    auto len = n <= 0 ? std::size_t{1} : static_cast<std::size_t>(n);
    if (n > 0 && core::is_word_char(cp)) {
      piece.append(query.substr(i, len));
      ++piece_chars;
    } else {
      finish();
    }
    i += len;
  }
  finish();
  return terms;
}

}  // namespace

std::string focus_snapshot(std::string_view snapshot, std::string_view focus) {
  auto lines = page_lines::split(snapshot);
  const std::size_t total = lines.size();
  if (total <= kFocusMinLines || core::trim(focus).empty()) return std::string(snapshot);
  // An empty stem ("ing" alone) would match every line and keep them all.
  auto keywords = mind::tokens(focus);
  std::erase_if(keywords, [](const std::string& k) { return k.empty(); });
  if (keywords.empty()) return std::string(snapshot);

  std::size_t head_end = std::min(kHeadExtra, total);
  for (std::size_t i = 0; i < total; ++i) {
    auto stripped = page_lines::indent_stripped(lines[i]);
    if (stripped.starts_with("- ") && stripped.find('[') != std::string_view::npos) {
      head_end = std::min(i + kHeadExtra, total);
      break;
    }
  }

  std::vector<bool> kept(total, false);
  std::size_t kept_count = 0;
  std::string scratch;
  for (std::size_t i = 0; i < total; ++i) {
    kept[i] = i < head_end || is_structure(lines[i]) || mentions_any(lines[i], keywords, scratch);
    if (kept[i]) ++kept_count;
  }
  for (std::size_t i = total; i-- > head_end && kept_count > kMostKept;) {
    if (kept[i] && !is_control(lines[i])) {
      kept[i] = false;
      --kept_count;
    }
  }
  if (kept_count + 10 >= total) return std::string(snapshot);

  constexpr std::string_view kGap = "  … (lines not about the job left out)\n";
  std::size_t size = 256;
  for (std::size_t i = 0; i < total; ++i)
    if (kept[i]) size += lines[i].size() + 1 + (i > 0 && !kept[i - 1] ? kGap.size() : 0);
  std::string out;
  out.reserve(size);
  bool skipped = false;
  for (std::size_t i = 0; i < total; ++i) {
    if (!kept[i]) {
      skipped = true;
      continue;
    }
    if (skipped) out += kGap;
    skipped = false;
    out += lines[i];
    out += '\n';
  }
  out += fmt::format(
      "\n({} of {} lines shown; every button, field and tab is here. {} links and text lines "
      "not about the job were left out; browser_find {{\"query\"}} finds any of them.)\n",
      kept_count, total, total - kept_count);
  return out;
}

std::string find_in_snapshot(std::string_view snapshot, std::string_view query) {
  auto terms = find_terms(query);
  if (terms.empty())
    return "browser_find needs a `query`: a word or two from the element you are looking for.";
  std::string headers;
  std::vector<std::string_view> matches;
  std::string scratch;
  for (auto line : page_lines::split(snapshot)) {
    auto stripped = page_lines::indent_stripped(line);
    if (stripped.starts_with("- Page URL:") || stripped.starts_with("- Page Title:")) {
      headers += line;
      headers += '\n';
    } else if (mentions_any(line, terms, scratch)) {
      matches.push_back(line);
      if (matches.size() >= kFindMostMatches) break;
    }
  }
  if (matches.empty())
    return fmt::format(
        "{}### Find: nothing on this page mentions \"{}\". Try other words, scroll, or call "
        "browser_snapshot.",
        headers, query);
  std::string out = fmt::format("{}### Find: {} matching line(s) for \"{}\"\n", headers,
                                matches.size(), query);
  for (auto line : matches) {
    out += line;
    out += '\n';
  }
  return out;
}

}  // namespace velmor::tools
