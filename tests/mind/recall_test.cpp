#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include "core/clock.h"
#include "mind_fixture.h"

namespace velmor::mind {
namespace {

namespace fs = std::filesystem;
using ::testing::Contains;
using ::testing::Not;
using testing::memory;
using testing::MindTest;
using testing::procedure;

std::vector<std::string> ids_of(const std::vector<Memory>& items) {
  std::vector<std::string> out;
  for (const auto& m : items) out.push_back(m.id);
  return out;
}

std::vector<std::string> ids_of(const std::vector<Procedure>& items) {
  std::vector<std::string> out;
  for (const auto& p : items) out.push_back(p.id);
  return out;
}

// Procedures about other things, so that shared words carry weight.
std::vector<Procedure> unrelated_procedures() {
  return {procedure("p_f1", "Renew the library loan", "a loan is due", {"open the library site"}),
          procedure("p_f2", "Pay the electricity bill", "a bill arrives", {"open the bank site"}),
          procedure("p_f3", "Order groceries", "the fridge is empty", {"open the grocery site"}),
          procedure("p_f4", "Check parcel tracking", "a parcel is late", {"open the courier site"})};
}

TEST_F(MindTest, ProfileAndPreferenceComeFirstForAnyQuery) {
  store(std::vector<Memory>{
      memory("m_fact", "fact", "Home airport is Boston Logan", 1.0),
      memory("m_outcome", "outcome", "Cheapest Boston flight was 212 dollars", 0.9),
      memory("m_name", "profile", "Name: Yorrin", 0.2),
      memory("m_other", "fact", "Keeps invoices in the Dropbox folder", 1.0),
      memory("m_pref", "preference", "Prefers aisle seats", 0.9),
      memory("m_low", "profile", "Lives in Marrowby, TL", 0.2),
  });
  auto recall = mind_.recall("cheapest flights to Boston", 12, 3);
  // Preference (confidence 0.9) beats the two profiles (0.2), which keep
  // their file order; the facts about Boston follow; the invoice fact and
  // nothing else unrelated is left out.
  EXPECT_EQ(ids_of(recall.memories),
            (std::vector<std::string>{"m_pref", "m_name", "m_low", "m_outcome", "m_fact"}));

  auto unrelated = mind_.recall("write a poem about autumn", 12, 3);
  EXPECT_EQ(ids_of(unrelated.memories), (std::vector<std::string>{"m_pref", "m_name", "m_low"}));
  EXPECT_EQ(ids_of(mind_.recall("poem", 2, 0).memories),
            (std::vector<std::string>{"m_pref", "m_name"}));
}

TEST_F(MindTest, SiteNotesAreRecalledOnlyWhenTheQueryNamesTheirHost) {
  store(std::vector<Memory>{
      memory("m_site", "site", "flights.example.com: the date fields are comboboxes", 0.5),
      memory("m_nohost", "site", "somewhere: click the blue button", 0.5),
  });
  EXPECT_EQ(ids_of(mind_.recall("Check Flights.Example.com for a fare to Oslo", 5, 0).memories),
            std::vector<std::string>{"m_site"});
  // Sharing words is not enough without the host.
  EXPECT_TRUE(mind_.recall("the date fields on flights example", 5, 0).memories.empty());
}

TEST_F(MindTest, ProcedureNeedsTwoSharedWordsUnlessTheQueryIsShort) {
  auto all = unrelated_procedures();
  all.push_back(procedure("p_train", "Compare train fares", "a rail trip is planned",
                          {"open the rail site", "search the train route", "sort the fares"}));
  store(all);
  // Three query tokens, one shared: not recalled.
  EXPECT_TRUE(mind_.recall("train timetable tomorrow", 5, 3).procedures.empty());
  // Two shared: recalled.
  EXPECT_EQ(ids_of(mind_.recall("train fares tomorrow", 5, 3).procedures),
            std::vector<std::string>{"p_train"});
  // One or two tokens, one shared: may be recalled.
  EXPECT_EQ(ids_of(mind_.recall("train", 5, 3).procedures), std::vector<std::string>{"p_train"});
  EXPECT_EQ(ids_of(mind_.recall("train timetable", 5, 3).procedures),
            std::vector<std::string>{"p_train"});
  EXPECT_TRUE(mind_.recall("train fares", 5, 0).procedures.empty());
}

TEST_F(MindTest, DemotedProcedureIsNeverRecalled) {
  auto all = unrelated_procedures();
  all.push_back(procedure("p_train", "Compare train fares", "a rail trip is planned",
                          {"search the train fares"}, 9));
  all.back().demoted = true;
  store(all);
  EXPECT_TRUE(mind_.recall("compare train fares rail trip", 5, 3).procedures.empty());
}

TEST_F(MindTest, ProcedureScoreIsWeighedBySuccessAndFailure) {
  auto all = unrelated_procedures();
  auto same = [](std::string id, std::uint32_t successes, std::uint32_t failures) {
    auto p = procedure(std::move(id), "Compare train fares", "a rail trip is planned",
                       {"search the train fares"}, successes);
    p.failures = failures;
    return p;
  };
  // Equal texts: the order can only come from (s + 1) / (s + f + 2).
  all.push_back(same("p_untried", 0, 0));    // 1/2
  all.push_back(same("p_mixed", 3, 1));      // 4/6
  all.push_back(same("p_reliable", 9, 0));   // 10/11
  store(all);
  EXPECT_EQ(ids_of(mind_.recall("compare train fares", 5, 3).procedures),
            (std::vector<std::string>{"p_reliable", "p_mixed", "p_untried"}));
}

TEST_F(MindTest, WeakProcedureMatchStaysUnderTheThreshold) {
  auto all = unrelated_procedures();
  all.push_back(procedure("p_refund", "Claim a bus fare refund", "a bus was cancelled", {"x"}));
  all.push_back(procedure("p_long", "Compare train fares", "a rail trip is planned",
                          {"open the rail site", "type the origin station", "type the destination",
                           "pick the date", "search", "sort by price", "note the three cheapest",
                           "check the return leg", "write them down", "tell the person"},
                          3));
  all.back().failures = 1;
  store(all);
  // Work out the plain BM25 score the way recall does, to check the premise.
  std::vector<TokenList> docs;
  for (const auto& p : all) {
    auto doc = tokens(p.title + " " + p.when + " ");
    for (const auto& s : p.steps)
      for (auto& t : tokens(s)) doc.push_back(t);
    docs.push_back(doc);
  }
  double total = 0;
  for (const auto& d : docs) total += static_cast<double>(d.size());
  const double s = bm25(tokens("fare"), docs.back(), idf_table(docs), total / docs.size());
  ASSERT_GT(s * 99 / 100, 0.5);
  ASSERT_LE(s * 4 / 6, 0.5);
  EXPECT_THAT(ids_of(mind_.recall("fare", 5, 3).procedures), Not(Contains("p_long")));

  all.back().successes = 98;  // weight 99/100
  all.back().failures = 0;
  store(all);
  EXPECT_THAT(ids_of(mind_.recall("fare", 5, 3).procedures), Contains("p_long"));
}

TEST_F(MindTest, EmptyFilesRecallNothing) {
  auto recall = mind_.recall("anything at all", 12, 3);
  EXPECT_TRUE(recall.memories.empty());
  EXPECT_TRUE(recall.procedures.empty());
  EXPECT_EQ(recall.memories_prompt(), "");
  EXPECT_EQ(recall.plan_prompt(), "");
}

TEST(RecallPrompts, MemoriesAndPlanTexts) {
  Recall r;
  r.memories = {memory("m_1", "profile", "Name: Yorrin"),
                memory("m_2", "outcome", "Cheapest fare was 212 dollars"),
                memory("m_3", "outcome", "An older outcome")};
  auto best = procedure("p_1", "Find cheap flights", "a flight is needed",
                        {"open the flight search", "sort by price"}, 1);
  best.sites = {"flights.example.com", "air.example.org"};
  r.procedures = {best, procedure("p_2", "Book a hotel", "a stay is needed", {"x"}, 4)};

  EXPECT_EQ(r.memories_prompt(),
            "What you know about this person (use quietly, do not recite):\n"
            "- [profile] Name: Yorrin\n"
            "- [outcome] Cheapest fare was 212 dollars\n"
            "- [outcome] An older outcome\n");
  EXPECT_EQ(r.plan_prompt(),
            "Plan from last time (\"Find cheap flights\", worked 1 time; follow it, skip steps "
            "that do not apply):\n"
            "1. open the flight search\n"
            "2. sort by price\n"
            "Sites: flights.example.com, air.example.org\n"
            "Also worked once: Book a hotel (a stay is needed)\n"
            "Last time a job like this ended with: Cheapest fare was 212 dollars\n");

  r.procedures.resize(1);
  r.procedures[0].successes = 2;
  r.procedures[0].sites.clear();
  r.memories.clear();
  EXPECT_EQ(r.plan_prompt(),
            "Plan from last time (\"Find cheap flights\", worked 2 times; follow it, skip steps "
            "that do not apply):\n"
            "1. open the flight search\n"
            "2. sort by price\n");
  r.procedures.clear();
  r.memories = {memory("m_2", "outcome", "Done in four steps")};
  EXPECT_EQ(r.plan_prompt(), "Last time a job like this ended with: Done in four steps\n");
}

TEST_F(MindTest, MarkUsedCountsMemoriesAndStampsProcedures) {
  store(std::vector<Memory>{memory("m_1", "profile", "Name: Yorrin"),
                            memory("m_2", "fact", "Home airport is Boston Logan")});
  store(std::vector<Procedure>{procedure("p_1", "Find cheap flights", "flying", {"search"}, 2)});
  Recall r;
  r.memories = {memory("m_1", "profile", "Name: Yorrin")};
  r.procedures = {procedure("p_1", "Find cheap flights", "flying", {"search"}, 2)};
  ASSERT_TRUE(mind_.mark_used(r));
  ASSERT_TRUE(mind_.mark_used(r));
  auto stored = mind_.memories();
  EXPECT_EQ(stored[0].uses, 2u);
  ASSERT_TRUE(stored[0].last_used);
  EXPECT_TRUE(core::parse_rfc3339(*stored[0].last_used));
  EXPECT_EQ(stored[1].uses, 0u);
  EXPECT_FALSE(stored[1].last_used);
  auto procs = procedures();
  EXPECT_TRUE(procs[0].last_used);
  EXPECT_EQ(procs[0].successes, 2u);
}

TEST_F(MindTest, MarkUsedWithAnEmptyRecallWritesNothing) {
  ASSERT_TRUE(mind_.mark_used(Recall{}));
  EXPECT_FALSE(fs::exists(mind_.dir()));
}

TEST_F(MindTest, SiteNotesMatchTheHostAndItsSubdomainsBestFirst) {
  std::vector<Memory> notes = {
      memory("m_1", "site", "example.com:  cookie banner: press Reject all ", 0.5),
      memory("m_2", "site", "https://www.Example.com/flights: results load after 3 s", 0.6),
      memory("m_3", "site", "another.test: unrelated", 1.0),
      memory("m_4", "site", "example.com/no-colon-here", 1.0),
      memory("m_5", "fact", "example.com: not a site note", 1.0),
  };
  notes[0].uses = 4;  // 0.5 + 0.2 beats 0.6
  for (int i = 0; i < 6; ++i)
    notes.push_back(memory("m_x" + std::to_string(i), "site", "example.com: note " + std::to_string(i), 0.1));
  store(notes);

  auto found = mind_.site_notes("  WWW.example.com ");
  ASSERT_EQ(found.size(), 6u);
  EXPECT_EQ(found[0], "cookie banner: press Reject all");
  EXPECT_EQ(found[1], "results load after 3 s");
  EXPECT_EQ(found[2], "note 0");
  EXPECT_EQ(mind_.site_notes("mail.example.com").size(), 6u);
  EXPECT_TRUE(mind_.site_notes("example.com.other.test").empty());
  EXPECT_TRUE(mind_.site_notes("notexample.com").empty());
  EXPECT_TRUE(mind_.site_notes("example.org").empty());
}

TEST(HostOf, TakesTheHostOfAnAddress) {
  const struct {
    const char* url;
    std::optional<std::string> want;
  } cases[] = {
      {"https://www.Example.com/path?q=1", "www.example.com"},
      {" http://user:pw@Sub.Example.com:8080/x ", "sub.example.com"},
      {"https://example.com#frag", "example.com"},
      {"https://example.com?x=a@b", "example.com"},
      {"https://localhost:3000/", std::nullopt},
      {"example.com/path", std::nullopt},
      {"about:blank", std::nullopt},
      {"file:///tmp/x.html", std::nullopt},
  };
  for (const auto& c : cases) EXPECT_EQ(host_of(c.url), c.want) << c.url;
}

TEST(HostOfNote, TakesTheHostASiteNoteIsAbout) {
  const struct {
    const char* text;
    std::optional<std::string> want;
  } cases[] = {
      {"google.com: on Flights, type the date", "google.com"},
      {"  HTTPS://WWW.Google.com/travel: note", "google.com"},
      {"http://shop.example.co.uk : wait for the cart", "shop.example.co.uk"},
      {"booking-site.example/path: x", "booking-site.example"},
      {"somewhere: no dot before the colon", std::nullopt},
      {"two words.com: note", std::nullopt},
      {"exämple.com: note", std::nullopt},
      {"", std::nullopt},
  };
  for (const auto& c : cases) EXPECT_EQ(host_of_note(c.text), c.want) << c.text;
}

}  // namespace
}  // namespace velmor::mind
