// Text matching shared by recall, the journal, learning and page reading:
// a word tokenizer with a small stop list and a crude stemmer, BM25 with a
// per-collection IDF table, and Jaccard overlap.
#pragma once

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

}  // namespace velmor::mind
