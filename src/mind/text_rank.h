// Text matching shared by recall, the journal, learning and page reading:
// a word tokenizer with a small stop list and a crude stemmer, BM25 with a
// per-collection IDF table, and Jaccard overlap.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <unordered_map>
#include <vector>

namespace velmor::mind {

using TokenList = std::vector<std::string>;
using IdfTable = std::unordered_map<std::string, double>;

// The word stems of `text` in order, duplicates kept: Unicode lower-cased,
// split at every character that is not a letter or number, pieces under two
// bytes and stop words dropped, then "ing"/"ed" and a plural "s" stripped.
// A stem may be empty ("ed"). Pure; safe from any thread.
TokenList tokens(std::string_view text);
// Appends the tokens of `text` to `out`: tokens(a) then tokens(b) in one
// list without the copying.
void append_tokens(std::string_view text, TokenList& out);
// Distinct shared tokens over distinct tokens of both, in [0, 1]; 1.0 when
// both are empty.
double jaccard(const TokenList& a, const TokenList& b);
// ln((N - df + 0.5) / (df + 0.5) + 1) for every token of the collection;
// always positive.
IdfTable idf_table(const std::vector<TokenList>& documents);
// BM25 (k1 1.2, b 0.75) of `document` for `query`, each query token counted
// as often as it occurs; tokens missing from `idf` weigh 1.0. 0 when either
// list is empty. `average_length` must be positive (callers pass >= 1.0).
double bm25(const TokenList& query, const TokenList& document, const IdfTable& idf,
            double average_length);

// Documents ranked together against one query after another. The IDF table
// and the average length (at least 1.0) are worked out once; each score is
// bm25(query, documents[i], idf_table(documents), that average), computed
// over token numbers instead of texts. Immutable after construction, so
// safe to share between threads.
class Corpus {
 public:
  explicit Corpus(const std::vector<TokenList>& documents);

  std::size_t size() const { return documents_.size(); }
  double average_length() const { return average_; }
  // The BM25 score of every document for `query`, in document order.
  std::vector<double> scores(const TokenList& query) const;
  // How many distinct tokens of `query` occur in each document.
  std::vector<std::size_t> shared(const TokenList& query) const;

 private:
  // The token numbers of `query`; tokens in no document are left out.
  std::vector<std::uint32_t> numbers_of(const TokenList& query) const;

  std::unordered_map<std::string, std::uint32_t> numbers_;
  std::vector<std::vector<std::uint32_t>> documents_;
  std::vector<double> idf_;
  double average_ = 1.0;
};

}  // namespace velmor::mind
