#include "mind/text_rank.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <set>

namespace velmor::mind {
namespace {

struct TokenCase {
  const char* text;
  TokenList want;
};

TEST(Tokens, SplitsLowercasesDropsStopWordsAndStems) {
  const TokenCase cases[] = {
      {"Please find the cheapest flights to Boston", {"cheapest", "flight", "boston"}},
      {"I'm booking", {"book"}},
      {"bus", {"bus"}},
      {"news", {"new"}},
      {"gas things", {"gas", "thing"}},
      {"ed", {""}},
      {"red bed", {"r", "b"}},
      {"Booked 3 rooms, 12 nights!", {"book", "room", "12", "night"}},
      {"flight flights FLIGHTS", {"flight", "flight", "flight"}},
      {"The THE tHe a An", {}},
      {"", {}},
      {"  ...  ", {}},
      {"snake_case-words/and.dots", {"snake", "case", "word", "dot"}},
      // Non-ASCII: Unicode lower-casing and classes; length is counted in
      // bytes, so a two-byte letter on its own survives.
      {"ÉCOLE Straße", {"école", "straße"}},
      {"Crème brûlée à Paris", {"crème", "brûlée", "à", "pari"}},
      {"naïve—café", {"naïve", "café"}},
      {"東京 2025年", {"東京", "2025年"}},
      {"Zürich’s trams", {"zürich", "tram"}},
      {"٣٤ नमस्ते", {"٣٤", "नमस्ते"}},
      {"ab\xff" "cd", {"ab", "cd"}},
  };
  for (const auto& c : cases) EXPECT_EQ(tokens(c.text), c.want) << c.text;
}

TEST(Tokens, EveryStopWordIsDropped) {
  EXPECT_TRUE(tokens("the a an and or to of in on for me my i it is be at by with from that "
                     "this as are was do does please can you your we our us then than into "
                     "find get go")
                  .empty());
  // Near misses are words like any other.
  EXPECT_EQ(tokens("there going gets"), (TokenList{"there", "go", "get"}));
}

TEST(Jaccard, ComparesDistinctTokens) {
  EXPECT_DOUBLE_EQ(jaccard({}, {}), 1.0);
  EXPECT_DOUBLE_EQ(jaccard({"a"}, {}), 0.0);
  EXPECT_DOUBLE_EQ(jaccard({"ab", "cd"}, {"cd", "ef"}), 1.0 / 3.0);
  EXPECT_DOUBLE_EQ(jaccard({"ab", "ab", "cd"}, {"cd", "ab"}), 1.0);
  EXPECT_DOUBLE_EQ(jaccard({"ab", "cd", "ef", "gh"}, {"ab", "cd", "ef"}), 0.75);
}

TEST(IdfTable, CountsDocumentsNotOccurrences) {
  auto idf = idf_table({{"x", "x", "y"}, {"y"}, {"z"}});
  ASSERT_EQ(idf.size(), 3u);
  // N = 3: df(x) = 1, df(y) = 2, df(z) = 1.
  EXPECT_DOUBLE_EQ(idf.at("x"), std::log(2.5 / 1.5 + 1));
  EXPECT_DOUBLE_EQ(idf.at("y"), std::log(1.5 / 2.5 + 1));
  EXPECT_DOUBLE_EQ(idf.at("z"), idf.at("x"));
  EXPECT_GT(idf_table({{"w"}}).at("w"), 0.0);  // a token in every document
  EXPECT_TRUE(idf_table({}).empty());
}

TEST(Bm25, ScoresTermFrequencyAgainstLength) {
  IdfTable idf = {{"ab", 2.0}};
  // Document of average length: K = 1.2, one hit scores idf * 2.2 / 2.2.
  EXPECT_DOUBLE_EQ(bm25({"ab"}, {"ab", "cd"}, idf, 2.0), 2.0);
  // Twice as long as average: K = 1.2 * (0.25 + 1.5).
  EXPECT_DOUBLE_EQ(bm25({"ab"}, {"ab", "cd"}, idf, 1.0), 2.0 * 2.2 / (2.1 + 1.0));
  // Two occurrences in the document.
  EXPECT_DOUBLE_EQ(bm25({"ab"}, {"ab", "ab"}, idf, 2.0), 2.0 * 2 * 2.2 / (1.2 + 2));
  // A repeated query token counts twice; an unknown token weighs 1.0.
  EXPECT_DOUBLE_EQ(bm25({"ab", "ab", "cd"}, {"ab", "cd"}, idf, 2.0), 2.0 + 2.0 + 1.0);
  EXPECT_DOUBLE_EQ(bm25({"ef"}, {"ab", "cd"}, idf, 2.0), 0.0);
  EXPECT_DOUBLE_EQ(bm25({}, {"ab"}, idf, 1.0), 0.0);
  EXPECT_DOUBLE_EQ(bm25({"ab"}, {}, idf, 1.0), 0.0);
}

TEST(Corpus, ScoresExactlyLikeBm25OverTheCollection) {
  const std::vector<TokenList> docs = {
      tokens("Cheapest flights from Boston to Oslo, booked twice"),
      tokens("Flights flights flights"),
      {},
      tokens("Hotel near the Oslo central station"),
      tokens("ed"),  // one empty stem
  };
  double total = 0;
  for (const auto& d : docs) total += static_cast<double>(d.size());
  const double avg = total / static_cast<double>(docs.size());
  const auto idf = idf_table(docs);
  const Corpus corpus(docs);
  EXPECT_DOUBLE_EQ(corpus.average_length(), avg);
  for (const char* query : {"flights to Oslo", "Oslo Oslo hotel", "unknown words only", "", "ed"}) {
    const auto q = tokens(query);
    const auto scores = corpus.scores(q);
    const auto shared = corpus.shared(q);
    ASSERT_EQ(scores.size(), docs.size());
    for (std::size_t i = 0; i < docs.size(); ++i) {
      EXPECT_EQ(scores[i], bm25(q, docs[i], idf, avg)) << query << " / " << i;
      std::size_t common = 0;
      for (const auto& t : std::set<std::string>(q.begin(), q.end()))
        if (std::find(docs[i].begin(), docs[i].end(), t) != docs[i].end()) ++common;
      EXPECT_EQ(shared[i], common) << query << " / " << i;
    }
  }
  // Short collections never divide by less than one token.
  EXPECT_EQ(Corpus({{}, {}}).average_length(), 1.0);
  EXPECT_EQ(Corpus({}).average_length(), 1.0);
}

}  // namespace
}  // namespace velmor::mind
