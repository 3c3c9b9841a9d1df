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

TokenList tokens(std::string_view text);
double jaccard(const TokenList& a, const TokenList& b);
IdfTable idf_table(const std::vector<TokenList>& documents);
double bm25(const TokenList& query, const TokenList& document, const IdfTable& idf,
            double average_length);

}  // namespace velmor::mind
