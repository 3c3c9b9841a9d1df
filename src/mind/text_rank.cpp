#include "mind/text_rank.h"

#include <utf8proc.h>

#include <array>
#include <cmath>
#include <unordered_set>

namespace velmor::mind {
namespace {

constexpr std::array<std::string_view, 40> kStopWords = {
    "the", "a",    "an",     "and", "or",   "to",   "of",   "in",   "on",   "for",
    "me",  "my",   "i",      "it",  "is",   "be",   "at",   "by",   "with", "from",
    "that", "this", "as",    "are", "was",  "do",   "does", "please", "can", "you",
    "your", "we",  "our",    "us",  "then", "than", "into", "find", "get",  "go"};

bool is_stop_word(std::string_view word) {
  for (auto stop : kStopWords)
    if (stop == word) return true;
  return false;
}

// Letters, the marks that combine with them (so accented and Indic words stay
// whole) and every kind of number count as word characters.
bool is_word_char(utf8proc_int32_t cp) {
  switch (utf8proc_category(cp)) {
    case UTF8PROC_CATEGORY_LU: case UTF8PROC_CATEGORY_LL: case UTF8PROC_CATEGORY_LT:
    case UTF8PROC_CATEGORY_LM: case UTF8PROC_CATEGORY_LO: case UTF8PROC_CATEGORY_MN:
    case UTF8PROC_CATEGORY_MC: case UTF8PROC_CATEGORY_ND: case UTF8PROC_CATEGORY_NL:
    case UTF8PROC_CATEGORY_NO:
      return true;
    default:
      return false;
  }
}

bool ends_with(std::string_view s, std::string_view tail) {
  return s.size() >= tail.size() && s.substr(s.size() - tail.size()) == tail;
}

void stem_into(std::string& word) {
  if (ends_with(word, "ing"))
    word.resize(word.size() - 3);
  else if (ends_with(word, "ed"))
    word.resize(word.size() - 2);
  if (word.size() >= 4 && word.back() == 's') word.pop_back();
}

void finish_piece(std::string& piece, TokenList& out) {
  if (piece.size() >= 2 && !is_stop_word(piece)) {
    stem_into(piece);
    out.push_back(piece);
  }
  piece.clear();
}

void append_utf8(std::string& out, utf8proc_int32_t cp) {
  utf8proc_uint8_t buf[4];
  auto n = utf8proc_encode_char(cp, buf);
  out.append(reinterpret_cast<const char*>(buf), static_cast<std::size_t>(n));
}

}  // namespace

TokenList tokens(std::string_view text) {
  TokenList out;
  std::string piece;
  const auto* bytes = reinterpret_cast<const utf8proc_uint8_t*>(text.data());
  for (std::size_t i = 0; i < text.size();) {
    unsigned char c = bytes[i];
    if (c < 0x80) {
      // ASCII is most of what is ranked; keep it off the Unicode tables.
      if ((c >= 'a' && c <= 'z') || (c >= '0' && c <= '9'))
        piece += static_cast<char>(c);
      else if (c >= 'A' && c <= 'Z')
        piece += static_cast<char>(c - 'A' + 'a');
      else
        finish_piece(piece, out);
      ++i;
      continue;
    }
    utf8proc_int32_t cp = -1;
    auto n = utf8proc_iterate(bytes + i, static_cast<utf8proc_ssize_t>(text.size() - i), &cp);
    if (n <= 0) {
      // A byte that is not UTF-8 separates words like punctuation does.
      finish_piece(piece, out);
      ++i;
      continue;
    }
    i += static_cast<std::size_t>(n);
    cp = utf8proc_tolower(cp);
    if (is_word_char(cp))
      append_utf8(piece, cp);
    else
      finish_piece(piece, out);
  }
  finish_piece(piece, out);
  return out;
}

double jaccard(const TokenList& a, const TokenList& b) {
  if (a.empty() && b.empty()) return 1.0;
  std::unordered_set<std::string_view> sa(a.begin(), a.end());
  std::unordered_set<std::string_view> sb(b.begin(), b.end());
  std::size_t common = 0;
  for (auto t : sa)
    if (sb.contains(t)) ++common;
  std::size_t all = sa.size() + sb.size() - common;
  return static_cast<double>(common) / static_cast<double>(all);
}

IdfTable idf_table(const std::vector<TokenList>& documents) {
  std::unordered_map<std::string, std::size_t> df;
  std::unordered_set<std::string_view> seen;
  for (const auto& doc : documents) {
    seen.clear();
    for (const auto& t : doc)
      if (seen.insert(t).second) ++df[t];
  }
  const auto n = static_cast<double>(documents.size());
  IdfTable idf;
  idf.reserve(df.size());
  for (auto& [token, count] : df) {
    const auto d = static_cast<double>(count);
    idf.emplace(token, std::log((n - d + 0.5) / (d + 0.5) + 1.0));
  }
  return idf;
}

double bm25(const TokenList& query, const TokenList& document, const IdfTable& idf,
            double average_length) {
  if (query.empty() || document.empty()) return 0.0;
  constexpr double k1 = 1.2;
  constexpr double b = 0.75;
  const double k = k1 * ((1.0 - b) + b * static_cast<double>(document.size()) / average_length);
  double score = 0.0;
  for (const auto& q : query) {
    std::size_t tf = 0;
    for (const auto& t : document)
      if (t == q) ++tf;
    if (tf == 0) continue;
    auto it = idf.find(q);
    const double weight = it == idf.end() ? 1.0 : it->second;
    const auto f = static_cast<double>(tf);
    score += weight * f * (k1 + 1.0) / (k + f);
  }
  return score;
}

}  // namespace velmor::mind
