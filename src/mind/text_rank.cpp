#include "mind/text_rank.h"

#include "core/utf8.h"

#include <utf8proc.h>

#include <algorithm>
#include <array>
#include <cmath>
#include <unordered_set>

namespace velmor::mind {
namespace {

// Stop words are at most six bytes, so each fits in one integer and a piece
// is checked against all forty without comparing texts.
constexpr std::uint64_t pack(std::string_view word) {
  std::uint64_t v = 0;
  for (char c : word) v = (v << 8) | static_cast<unsigned char>(c);
  return v;
}

constexpr std::size_t kLongestStopWord = 6;
constexpr std::array<std::uint64_t, 40> kStopWords = {
    pack("the"),  pack("a"),    pack("an"),   pack("and"),    pack("or"),   pack("to"),
    pack("of"),   pack("in"),   pack("on"),   pack("for"),    pack("me"),   pack("my"),
    pack("i"),    pack("it"),   pack("is"),   pack("be"),     pack("at"),   pack("by"),
    pack("with"), pack("from"), pack("that"), pack("this"),   pack("as"),   pack("are"),
    pack("was"),  pack("do"),   pack("does"), pack("please"), pack("can"),  pack("you"),
    pack("your"), pack("we"),   pack("our"),  pack("us"),     pack("then"), pack("than"),
    pack("into"), pack("find"), pack("get"),  pack("go")};

bool is_stop_word(std::string_view word) {
  if (word.size() > kLongestStopWord) return false;
  const std::uint64_t v = pack(word);
  for (auto stop : kStopWords)
    if (stop == v) return true;
  return false;
}

constexpr double kK1 = 1.2;
constexpr double kB = 0.75;

double idf_of(double documents, double containing) {
  return std::log((documents - containing + 0.5) / (containing + 0.5) + 1.0);
}

// The length normalisation K of one document.
double length_factor(std::size_t length, double average_length) {
  return kK1 * ((1.0 - kB) + kB * static_cast<double>(length) / average_length);
}

double term_score(double idf, std::size_t tf, double k) {
  const auto f = static_cast<double>(tf);
  return idf * f * (kK1 + 1.0) / (k + f);
}

// Every word is stemmed, so this stays clear of library string compares.
void stem_into(std::string& word) {
  const std::size_t n = word.size();
  if (n >= 3 && word[n - 3] == 'i' && word[n - 2] == 'n' && word[n - 1] == 'g')
    word.resize(n - 3);
  else if (n >= 2 && word[n - 2] == 'e' && word[n - 1] == 'd')
    word.resize(n - 2);
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
  append_tokens(text, out);
  return out;
}

void append_tokens(std::string_view text, TokenList& out) {
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
    if (velmor::core::is_word_char(cp))
      append_utf8(piece, cp);
    else
      finish_piece(piece, out);
  }
  finish_piece(piece, out);
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
  for (auto& [token, count] : df) idf.emplace(token, idf_of(n, static_cast<double>(count)));
  return idf;
}

double bm25(const TokenList& query, const TokenList& document, const IdfTable& idf,
            double average_length) {
  if (query.empty() || document.empty()) return 0.0;
  const double k = length_factor(document.size(), average_length);
  double score = 0.0;
  for (const auto& q : query) {
    std::size_t tf = 0;
    for (const auto& t : document)
      if (t == q) ++tf;
    if (tf == 0) continue;
    auto it = idf.find(q);
    score += term_score(it == idf.end() ? 1.0 : it->second, tf, k);
  }
  return score;
}

Corpus::Corpus(const std::vector<TokenList>& documents) {
  documents_.reserve(documents.size());
  std::size_t all_tokens = 0;
  for (const auto& d : documents) all_tokens += d.size();
  numbers_.reserve(all_tokens / 4 + 16);
  std::vector<std::uint32_t> containing;
  std::vector<std::size_t> last_seen;  // index + 1 of the last document counted
  std::size_t total = 0;
  for (std::size_t d = 0; d < documents.size(); ++d) {
    auto& numbers = documents_.emplace_back();
    numbers.reserve(documents[d].size());
    for (const auto& token : documents[d]) {
      auto [it, added] = numbers_.try_emplace(token, static_cast<std::uint32_t>(numbers_.size()));
      if (added) {
        containing.push_back(0);
        last_seen.push_back(0);
      }
      const std::uint32_t n = it->second;
      numbers.push_back(n);
      if (last_seen[n] != d + 1) {
        last_seen[n] = d + 1;
        ++containing[n];
      }
    }
    total += numbers.size();
  }
  const auto n = static_cast<double>(documents.size());
  idf_.reserve(containing.size());
  for (auto count : containing) idf_.push_back(idf_of(n, static_cast<double>(count)));
  if (!documents.empty())
    average_ = std::max(1.0, static_cast<double>(total) / static_cast<double>(documents.size()));
}

std::vector<std::uint32_t> Corpus::numbers_of(const TokenList& query) const {
  std::vector<std::uint32_t> out;
  out.reserve(query.size());
  for (const auto& q : query)
    if (auto it = numbers_.find(q); it != numbers_.end()) out.push_back(it->second);
  return out;
}

std::vector<double> Corpus::scores(const TokenList& query) const {
  std::vector<double> out(documents_.size(), 0.0);
  if (query.empty()) return out;
  // A query token found in no document adds nothing anywhere.
  const auto q = numbers_of(query);
  for (std::size_t d = 0; d < documents_.size(); ++d) {
    const auto& doc = documents_[d];
    if (doc.empty()) continue;
    const double k = length_factor(doc.size(), average_);
    double score = 0.0;
    for (auto n : q) {
      std::size_t tf = 0;
      for (auto t : doc)
        if (t == n) ++tf;
      if (tf > 0) score += term_score(idf_[n], tf, k);
    }
    out[d] = score;
  }
  return out;
}

std::vector<std::size_t> Corpus::shared(const TokenList& query) const {
  auto q = numbers_of(query);
  std::sort(q.begin(), q.end());
  q.erase(std::unique(q.begin(), q.end()), q.end());
  std::vector<std::size_t> out(documents_.size(), 0);
  for (std::size_t d = 0; d < documents_.size(); ++d)
    for (auto n : q)
      if (std::find(documents_[d].begin(), documents_[d].end(), n) != documents_[d].end())
        ++out[d];
  return out;
}

}  // namespace velmor::mind
