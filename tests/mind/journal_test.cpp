#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <fmt/format.h>

#include "core/clock.h"
#include "mind_fixture.h"

namespace velmor::mind {
namespace {

namespace fs = std::filesystem;
using testing::memory;
using testing::MindTest;
using testing::procedure;

JournalEntry entry(std::string id, std::string session, std::string title, std::string gist,
                   int day, std::string mode = "browse") {
  return {std::move(id), std::move(session), std::move(title),
          fmt::format("2025-03-{:02}T10:00:00+00:00", day), std::move(mode), std::move(gist),
          std::nullopt};
}

std::vector<std::string> ids_of(const std::vector<JournalEntry>& items) {
  std::vector<std::string> out;
  for (const auto& e : items) out.push_back(e.id);
  return out;
}

// Ten jobs about groceries, on days 1 to 10, stored oldest first.
std::vector<JournalEntry> ten_grocery_jobs() {
  std::vector<JournalEntry> out;
  for (int day = 1; day <= 10; ++day)
    out.push_back(entry(fmt::format("j_{:02}", day), fmt::format("s_{:02}", day),
                        fmt::format("Grocery order {}", day), "Ordered milk and bread", day));
  return out;
}

TEST_F(MindTest, JournalForAlwaysShowsTheTwoNewest) {
  store(std::vector<JournalEntry>{entry("j_1", "s_other", "Renew passport", "Booked a slot", 3)});
  EXPECT_EQ(ids_of(mind_.journal_for("flights to Oslo", 3, "s_me")),
            std::vector<std::string>{"j_1"});

  store(ten_grocery_jobs());
  EXPECT_EQ(ids_of(mind_.journal_for("flights to Oslo", 3, "s_me")),
            (std::vector<std::string>{"j_10", "j_09"}));
  EXPECT_EQ(ids_of(mind_.journal_for("flights to Oslo", 1, {})), std::vector<std::string>{"j_10"});
}

TEST_F(MindTest, JournalForAddsTheBestMatchOrderedByTime) {
  auto jobs = ten_grocery_jobs();
  jobs[2] = entry("j_oslo", "s_03", "Flights to Oslo", "Cheapest flight to Oslo was 212 dollars", 3);
  jobs[5] = entry("j_bergen", "s_06", "Flights to Bergen", "Found a flight for 180 dollars", 6);
  store(jobs);
  // Both flight jobs match; Oslo matches better and fills the one free place.
  EXPECT_EQ(ids_of(mind_.journal_for("flight to Oslo again", 3, {})),
            (std::vector<std::string>{"j_10", "j_09", "j_oslo"}));
  EXPECT_EQ(ids_of(mind_.journal_for("flight to Oslo again", 4, {})),
            (std::vector<std::string>{"j_10", "j_09", "j_bergen", "j_oslo"}));
}

TEST_F(MindTest, JournalForLeavesOutThisSessionAndChats) {
  store(std::vector<JournalEntry>{
      entry("j_old", "s_a", "Flights to Oslo", "Found fares", 1),
      entry("j_mine", "s_me", "Flights to Oslo", "Found fares", 2),
      entry("j_chat", "s_b", "Flights to Oslo", "Talked about fares", 3, "chat"),
  });
  EXPECT_EQ(ids_of(mind_.journal_for("flights to Oslo", 3, "s_me")),
            std::vector<std::string>{"j_old"});
  EXPECT_EQ(ids_of(mind_.journal_for("flights to Oslo", 3, {})),
            (std::vector<std::string>{"j_mine", "j_old"}));
  EXPECT_TRUE(Mind(home_ / "nowhere").journal_for("anything", 3, {}).empty());
}

TEST(JournalPrompt, BriefAndDetailedForms) {
  auto long_job = entry("j_1", "s_1", "Research e-bikes", std::string(500, 'g'), 4);
  auto with_report = entry("j_2", "s_2", "Compare flights", "Three fares, cheapest 212", 5);
  with_report.report = "report-2025-03-05.md";
  const std::string header =
      "Jobs you did for this person earlier (other sessions, newest first). Answer questions "
      "about them from here; say which job you mean:\n";

  EXPECT_EQ(Mind::journal_prompt({}, true), "");
  EXPECT_EQ(Mind::journal_prompt({with_report, long_job}, false),
            header + "- [2025-03-05] Compare flights: Three fares, cheapest 212\n" +
                "- [2025-03-04] Research e-bikes: " + std::string(160, 'g') + "\n");
  EXPECT_EQ(Mind::journal_prompt({with_report, long_job}, true),
            header +
                "- [2025-03-05] Compare flights\n  Result: Three fares, cheapest 212\n"
                "  Report file: report-2025-03-05.md\n" +
                "- [2025-03-04] Research e-bikes\n  Result: " + std::string(500, 'g') + "\n");
  auto short_at = with_report;
  short_at.at = "2025";
  EXPECT_EQ(Mind::journal_prompt({short_at}, false),
            header + "- [2025] Compare flights: Three fares, cheapest 212\n");
}

TEST_F(MindTest, JournalAppendKeepsOneEntryPerSession) {
  auto first = mind_.journal_append({"s_1", "  Flights to Oslo  ", "browse", " Found fares ", {}});
  ASSERT_TRUE(first && *first);
  EXPECT_THAT((*first)->id, ::testing::MatchesRegex("j_[0-9a-f]{10}"));
  EXPECT_TRUE(core::parse_rfc3339((*first)->at));
  ASSERT_TRUE(mind_.journal_append({"s_2", "Groceries", "browse", "Ordered", "report.md"}));
  ASSERT_TRUE(mind_.journal_append(
      {"s_1", std::string(130, 't'), "desktop", std::string(1600, 'g'), {}}));

  auto journal = mind_.journal();
  ASSERT_EQ(journal.size(), 2u);
  EXPECT_EQ(journal[0].session, "s_2");
  EXPECT_EQ(journal[0].report, "report.md");
  EXPECT_EQ(journal[1].session, "s_1");
  EXPECT_EQ(journal[1].title, std::string(120, 't'));
  EXPECT_EQ(journal[1].gist, std::string(1500, 'g'));
  EXPECT_EQ(journal[1].mode, "desktop");

  auto chat = mind_.journal_append({"s_3", "Hello", "chat", "Hi there", {}});
  ASSERT_TRUE(chat);
  EXPECT_FALSE(*chat);
  EXPECT_EQ(mind_.journal().size(), 2u);
}

TEST_F(MindTest, JournalAppendKeepsTheNewest200) {
  std::vector<JournalEntry> full;
  for (int i = 0; i < 200; ++i)
    full.push_back(entry(fmt::format("j_{:03}", i), fmt::format("s_{:03}", i), "Job", "done", 1));
  store(full);
  auto trimmed = mind_.journal_append({"s_new", "Fresh job", "browse", "done", {}});
  ASSERT_TRUE(trimmed);
  auto journal = mind_.journal();
  ASSERT_EQ(journal.size(), 200u);
  EXPECT_EQ(journal.front().id, "j_001");
  EXPECT_EQ(journal.back().session, "s_new");
  // Replacing a session's entry makes room instead of dropping the oldest.
  ASSERT_TRUE(mind_.journal_append({"s_050", "Again", "browse", "done", {}}));
  journal = mind_.journal();
  EXPECT_EQ(journal.size(), 200u);
  EXPECT_EQ(journal.front().id, "j_001");
}

TEST_F(MindTest, RepeatSavingsSumsRepeatedProcedures) {
  auto runs = [](std::vector<std::pair<std::uint64_t, double>> list) {
    std::vector<mind::Run> out;
    for (auto [steps, usd] : list) out.push_back({"2025-01-01T00:00:00+00:00", steps, usd, {}});
    return out;
  };
  auto faster = procedure("p_1", "Find cheap flights", "flying", {"search"});
  faster.runs = runs({{20, 0.5}, {12, 0.25}, {8, 0.125}});
  auto single = procedure("p_2", "Order groceries", "hungry", {"order"});
  single.runs = runs({{30, 9.0}});
  single.demoted = true;
  store(std::vector<Procedure>{faster, single});
  std::vector<Memory> memories = {memory("m_1", "profile", "Name: Yorrin"),
                                  memory("m_2", "fact", "Works at Dunmore"),
                                  memory("m_3", "fact", "Home airport is BOS")};
  memories[0].uses = 4;
  memories[1].uses = 2;
  memories[2].uses = 5;
  store(memories);

  // S0 = 40, S1 = 20; U0 = 1.0, U1 = 0.375.
  EXPECT_EQ(mind_.repeat_savings().dump(),
            R"({"demoted_procedures":1,"fewer_steps_pct":50,"repeat_runs":2,)"
            R"("repeated_procedures":1,"usd_saved":0.625,)"
            R"("uses_by_kind":{"fact":{"count":2,"uses":7},"profile":{"count":1,"uses":4}}})");

  auto dearer = procedure("p_3", "Pay bills", "monthly", {"pay"});
  dearer.runs = runs({{10, 0.1}, {11, 0.9}});
  store(std::vector<Procedure>{dearer});
  auto savings = mind_.repeat_savings();
  EXPECT_EQ(savings["fewer_steps_pct"], 0);
  EXPECT_EQ(savings["usd_saved"], 0.0);
  EXPECT_EQ(savings["repeated_procedures"], 1);
}

TEST_F(MindTest, RepeatSavingsOfAnEmptyMindIsZero) {
  EXPECT_EQ(mind_.repeat_savings().dump(),
            R"({"demoted_procedures":0,"fewer_steps_pct":0,"repeat_runs":0,)"
            R"("repeated_procedures":0,"usd_saved":0.0,"uses_by_kind":{}})");
}

}  // namespace
}  // namespace velmor::mind
