#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <fmt/format.h>

#include <cmath>

#include "core/clock.h"
#include "mind_fixture.h"

namespace velmor::mind {
namespace {

namespace fs = std::filesystem;
using testing::memory;
using testing::MindTest;
using testing::procedure;

Reflection memories_only(std::vector<NewMemory> memories) {
  Reflection r;
  r.memories = std::move(memories);
  return r;
}

Reflection procedure_only(NewProcedure p) {
  Reflection r;
  r.procedure = std::move(p);
  return r;
}

bool has_id(const std::vector<Memory>& list, const std::string& id) {
  return std::any_of(list.begin(), list.end(), [&](const Memory& m) { return m.id == id; });
}

TEST_F(MindTest, AbsorbStoresNewMemoriesWithTheirSession) {
  auto got = mind_.absorb(memories_only({{"preference", "  Prefers aisle seats  ", 0.8},
                                         {"hobby", "Plays the cello", 0.0},
                                         {"site", "google.com: type the date, press Enter", 3.0}}),
                          "s_1");
  ASSERT_TRUE(got) << got.error().long_form();
  auto stored = mind_.memories();
  ASSERT_EQ(stored.size(), 3u);
  EXPECT_EQ(stored[0].text, "Prefers aisle seats");
  EXPECT_EQ(stored[0].confidence, 0.8);
  EXPECT_EQ(stored[0].source_session, "s_1");
  EXPECT_EQ(stored[0].uses, 0u);
  EXPECT_FALSE(stored[0].last_used);
  EXPECT_TRUE(core::parse_rfc3339(stored[0].created_at));
  EXPECT_THAT(stored[0].id, ::testing::MatchesRegex("m_[0-9a-f]{10}"));
  EXPECT_EQ(stored[1].kind, "fact");  // unknown kinds become facts
  EXPECT_EQ(stored[1].confidence, 0.05);
  EXPECT_EQ(stored[2].confidence, 1.0);
  ASSERT_EQ(got->memories.size(), 3u);
  EXPECT_EQ(got->memories[1].id, stored[1].id);
  EXPECT_FALSE(got->procedure);
}

TEST_F(MindTest, AbsorbStrengthensASimilarMemoryOfTheSameKind) {
  ASSERT_TRUE(mind_.absorb(memories_only({{"preference", "Prefers aisle seats", 0.6}}), "s_1"));
  auto again = mind_.absorb(memories_only({{"preference", "Prefers aisle seats", 0.8}}), "s_2");
  ASSERT_TRUE(again);
  auto stored = mind_.memories();
  ASSERT_EQ(stored.size(), 1u);
  EXPECT_DOUBLE_EQ(stored[0].confidence, 0.9);
  EXPECT_EQ(stored[0].source_session, "s_1");
  ASSERT_EQ(again->memories.size(), 1u);
  EXPECT_DOUBLE_EQ(again->memories[0].confidence, 0.9);

  // Jaccard 3/4: the longer wording wins; confidence stops at 1.0.
  ASSERT_TRUE(mind_.absorb(memories_only({{"preference", "Prefers aisle seats always", 0.95}}), {}));
  stored = mind_.memories();
  ASSERT_EQ(stored.size(), 1u);
  EXPECT_EQ(stored[0].text, "Prefers aisle seats always");
  EXPECT_DOUBLE_EQ(stored[0].confidence, 1.0);

  // The same words under another kind are another memory.
  ASSERT_TRUE(mind_.absorb(memories_only({{"fact", "Prefers aisle seats", 0.5}}), {}));
  EXPECT_EQ(mind_.memories().size(), 2u);
}

TEST_F(MindTest, AbsorbSkipsWhatShouldNotBeKept) {
  std::string three_hundred;
  for (int i = 0; i < 300; ++i) three_hundred += "é";  // characters, not bytes
  auto got = mind_.absorb(
      memories_only({
          {"fact", "Card 4111 1111 1111 1111 is the travel card", 0.9},
          {"fact", "Office phone is 555-123-4567", 0.9},
          {"fact", three_hundred + "x", 0.9},
          {"fact", three_hundred, 0.9},
          {"site", "somewhere: the button is blue", 0.9},
          {"fact", "   ", 0.9},
          {"preference", "Keeps the password in a notebook", 0.9},
      }),
      {});
  ASSERT_TRUE(got);
  auto stored = mind_.memories();
  ASSERT_EQ(stored.size(), 2u);
  EXPECT_EQ(stored[0].text, "Office phone is 555-123-4567");
  EXPECT_EQ(stored[1].text, three_hundred);
  EXPECT_EQ(got->memories.size(), 2u);
}

TEST_F(MindTest, AbsorbLearnsFromTheFirstEightMemoriesOnly) {
  std::vector<NewMemory> nine;
  const char* words[] = {"alpha", "bravo", "charlie", "delta", "echo",
                         "foxtrot", "golf", "hotel", "india"};
  for (const char* w : words) nine.push_back({"fact", fmt::format("Codeword {} noted", w), 0.5});
  ASSERT_TRUE(mind_.absorb(memories_only(nine), {}));
  auto stored = mind_.memories();
  ASSERT_EQ(stored.size(), 8u);
  EXPECT_EQ(stored.back().text, "Codeword hotel noted");
}

TEST_F(MindTest, The601stMemoryEvictsAnOutcomeFirst) {
  std::vector<Memory> full;
  for (int i = 0; i < 597; ++i)
    full.push_back(memory(fmt::format("m_f{:03}", i), "fact", fmt::format("Filler fact {}", i),
                          0.05, fmt::format("2024-01-01T00:00:{:02}+00:00", i % 60)));
  full.push_back(memory("m_o_sure", "outcome", "Sure outcome", 0.9, "2023-01-01T00:00:00+00:00"));
  full.push_back(memory("m_o_new", "outcome", "Newer outcome", 0.5, "2025-01-01T00:00:00+00:00"));
  full.push_back(memory("m_o_old", "outcome", "Older outcome", 0.5, "2024-06-01T00:00:00+00:00"));
  store(full);

  ASSERT_TRUE(mind_.absorb(memories_only({{"preference", "Prefers aisle seats", 0.7}}), {}));
  auto stored = mind_.memories();
  EXPECT_EQ(stored.size(), 600u);
  EXPECT_FALSE(has_id(stored, "m_o_old"));
  EXPECT_TRUE(has_id(stored, "m_o_new"));
  // The file keeps the eviction order: outcomes first, then least sure.
  EXPECT_EQ(stored.front().id, "m_o_new");

  ASSERT_TRUE(mind_.absorb(memories_only({{"preference", "Wants short answers", 0.7}}), {}));
  ASSERT_TRUE(mind_.absorb(memories_only({{"preference", "Likes trains", 0.7}}), {}));
  stored = mind_.memories();
  EXPECT_FALSE(has_id(stored, "m_o_new"));
  EXPECT_FALSE(has_id(stored, "m_o_sure"));
  // Then the least sure, oldest among equals: a filler stamped :00.
  ASSERT_TRUE(mind_.absorb(memories_only({{"preference", "Reads on paper", 0.7}}), {}));
  stored = mind_.memories();
  EXPECT_EQ(stored.size(), 600u);
  EXPECT_FALSE(has_id(stored, "m_f000"));
  EXPECT_TRUE(has_id(stored, "m_f001"));
}

TEST_F(MindTest, AMemoryEvictedAtOnceIsNotReportedAsKept) {
  std::vector<Memory> full;
  for (int i = 0; i < 600; ++i)
    full.push_back(memory(fmt::format("m_{:03}", i), "outcome", fmt::format("Outcome {}", i), 1.0));
  store(full);
  auto got = mind_.absorb(memories_only({{"outcome", "Weak new outcome", 0.3}}), {});
  ASSERT_TRUE(got);
  EXPECT_TRUE(got->memories.empty());
  EXPECT_EQ(mind_.memories().size(), 600u);
}

TEST_F(MindTest, AbsorbCreatesAProcedure) {
  auto got = mind_.absorb(procedure_only({"  Find cheap flights ",
                                          " a flight is needed ",
                                          {" open the flight search ", "", "type the password",
                                           std::string(300, 's')},
                                          {" flights.example.com ", std::string(100, 'h')}}),
                          "s_1");
  ASSERT_TRUE(got);
  ASSERT_TRUE(got->procedure);
  auto stored = procedures();
  ASSERT_EQ(stored.size(), 1u);
  const auto& p = stored[0];
  EXPECT_THAT(p.id, ::testing::MatchesRegex("p_[0-9a-f]{10}"));
  EXPECT_EQ(p.title, "Find cheap flights");
  EXPECT_EQ(p.when, "a flight is needed");
  EXPECT_EQ(p.steps, (std::vector<std::string>{"open the flight search", std::string(240, 's')}));
  EXPECT_EQ(p.sites, (std::vector<std::string>{"flights.example.com", std::string(80, 'h')}));
  EXPECT_EQ(p.successes, 1u);
  EXPECT_EQ(p.source_session, "s_1");
  EXPECT_FALSE(p.last_used);
  EXPECT_FALSE(p.demoted);
  EXPECT_EQ(got->procedure->id, p.id);
}

TEST_F(MindTest, AbsorbRefusesProceduresItCannotUse) {
  std::vector<std::string> twenty_one(21, "do a thing");
  ASSERT_TRUE(mind_.absorb(procedure_only({"Too long", "always", twenty_one, {}}), {}));
  ASSERT_TRUE(mind_.absorb(procedure_only({"   ", "always", {"do a thing"}, {}}), {}));
  ASSERT_TRUE(mind_.absorb(procedure_only({"Nothing to do", "always", {}, {}}), {}));
  auto secret = mind_.absorb(
      procedure_only({"Sign in", "always", {"type the password", "enter the otp"}, {}}), {});
  ASSERT_TRUE(secret);
  EXPECT_FALSE(secret->procedure);
  EXPECT_FALSE(fs::exists(mind_.procedures_file()));
  std::vector<std::string> twenty(20, "do a thing");
  ASSERT_TRUE(mind_.absorb(procedure_only({"Just enough", "always", twenty, {}}), {}));
  EXPECT_EQ(procedures().size(), 1u);
}

TEST_F(MindTest, AbsorbStrengthensASimilarProcedure) {
  auto p = procedure("p_1", "Find cheap flights", "a flight is needed", {"old step"}, 1);
  p.sites = {"flights.example.com"};
  p.runs = {{"2025-01-01T00:00:00+00:00", 10, 0.1, std::nullopt}};
  store(std::vector<Procedure>{p});
  // Title and when share 3 of 4 distinct words.
  auto got = mind_.absorb(procedure_only({"Find cheap flights", "a flight is needed soon",
                                          {"new step one", "new step two"},
                                          {"flights.example.com", "air.example.org"}}),
                          {});
  ASSERT_TRUE(got);
  auto stored = procedures();
  ASSERT_EQ(stored.size(), 1u);
  EXPECT_EQ(stored[0].title, "Find cheap flights");
  EXPECT_EQ(stored[0].steps, (std::vector<std::string>{"new step one", "new step two"}));
  EXPECT_EQ(stored[0].successes, 2u);
  EXPECT_EQ(stored[0].sites,
            (std::vector<std::string>{"flights.example.com", "air.example.org"}));
  EXPECT_EQ(stored[0].runs.size(), 1u);
  EXPECT_TRUE(stored[0].last_used);
  ASSERT_TRUE(got->procedure);
  EXPECT_EQ(got->procedure->successes, 2u);
}

TEST_F(MindTest, The201stProcedureEvictsTheLeastSuccessfulOldest) {
  std::vector<Procedure> full;
  for (int i = 0; i < 200; ++i) {
    full.push_back(procedure(fmt::format("p_{:03}", i), fmt::format("Chore {}", i),
                             fmt::format("errand{}", i), {"step"}, i == 7 ? 1 : 2));
  }
  store(full);
  ASSERT_TRUE(mind_.absorb(procedure_only({"Water the plants", "weekly", {"fill the can"}, {}}), {}));
  auto stored = procedures();
  EXPECT_EQ(stored.size(), 200u);
  EXPECT_FALSE(std::any_of(stored.begin(), stored.end(),
                           [](const Procedure& p) { return p.id == "p_007"; }));
  EXPECT_TRUE(std::any_of(stored.begin(), stored.end(),
                          [](const Procedure& p) { return p.title == "Water the plants"; }));
}

TEST_F(MindTest, AbsorbStopsAtAWriteError) {
  fs::create_directories(mind_.memories_file());
  Reflection r = memories_only({{"fact", "Works at Dunmore", 0.7}});
  r.procedure = NewProcedure{"Find cheap flights", "flying", {"search"}, {}};
  auto got = mind_.absorb(r, {});
  ASSERT_FALSE(got);
  EXPECT_THAT(got.error().message(), ::testing::StartsWith("memory write "));
  EXPECT_FALSE(fs::exists(mind_.procedures_file()));
}

TEST_F(MindTest, RecordRunDemotesWhenRepeatsStopGettingCheaper) {
  store(std::vector<Procedure>{procedure("p_1", "Find cheap flights", "flying", {"search"})});
  const struct {
    std::uint64_t steps;
    bool demoted;
  } runs[] = {{10, false}, {12, false}, {11, false}, {9, true}, {4, false}};
  for (std::size_t i = 0; i < std::size(runs); ++i) {
    auto got = mind_.record_run("p_1", runs[i].steps, "s_" + std::to_string(i), 0.5 + i);
    ASSERT_TRUE(got);
    ASSERT_TRUE(*got);
    EXPECT_EQ((*got)->run, i + 1);
    EXPECT_EQ((*got)->steps, runs[i].steps);
    EXPECT_EQ((*got)->usd, 0.5 + i);
    EXPECT_EQ((*got)->first_steps, 10u);
    EXPECT_EQ((*got)->first_usd, 0.5);
    EXPECT_EQ((*got)->title, "Find cheap flights");
    EXPECT_EQ(procedures()[0].demoted, runs[i].demoted) << "after run " << i + 1;
  }
  EXPECT_EQ(procedures()[0].runs.back().session, "s_4");
}

TEST_F(MindTest, RecordRunDemotesWhenTheMeanEqualsTheFirstRun) {
  store(std::vector<Procedure>{procedure("p_1", "Find cheap flights", "flying", {"search"})});
  for (std::uint64_t steps : {10, 9, 10, 11}) ASSERT_TRUE(mind_.record_run("p_1", steps, {}, 0.1));
  EXPECT_TRUE(procedures()[0].demoted);
}

TEST_F(MindTest, RecordRunKeepsFiftyRuns) {
  auto p = procedure("p_1", "Find cheap flights", "flying", {"search"});
  for (std::uint64_t i = 0; i < 50; ++i)
    p.runs.push_back({"2025-01-01T00:00:00+00:00", 100 - i, 1.0 + i, std::nullopt});
  store(std::vector<Procedure>{p});
  auto got = mind_.record_run("p_1", 5, {}, std::nan(""));
  ASSERT_TRUE(got && *got);
  EXPECT_EQ((*got)->run, 50u);
  EXPECT_EQ((*got)->first_steps, 99u);  // what was the second run
  EXPECT_EQ((*got)->first_usd, 2.0);
  EXPECT_EQ((*got)->usd, 0.0);  // a cost that is not a number is stored as 0
  auto stored = procedures();
  ASSERT_EQ(stored.size(), 1u);  // the file still reads
  EXPECT_EQ(stored[0].runs.size(), 50u);
}

TEST_F(MindTest, RecordRunForAnUnknownProcedureWritesNothing) {
  auto got = mind_.record_run("p_gone", 3, {}, 0.1);
  ASSERT_TRUE(got);
  EXPECT_FALSE(*got);
  EXPECT_FALSE(fs::exists(mind_.procedures_file()));
}

}  // namespace
}  // namespace velmor::mind
