#include <gtest/gtest.h>

#include <sstream>

#include "mind_fixture.h"
#include "support/env_guard.h"

namespace velmor::mind {
namespace {

using testing::memory;
using testing::procedure;
using testing::slurp;

class MemoryCommand : public ::testing::Test {
 protected:
  MemoryCommand() { env_.set("VELMOR_HOME", home_.path().string()); }

  Result<void> run(const std::optional<std::string>& forget) {
    out_.str("");
    return memory_command(Config{}, forget, out_);
  }

  velmor::testing::CleanEnv env_;
  velmor::testing::TempDir home_;
  Mind mind_{home_.path() / "memory"};
  std::ostringstream out_;
};

TEST_F(MemoryCommand, ListsMemoriesAndProceduresButNotTheJournal) {
  auto m = memory("m_0123456789", "preference", "Prefers aisle seats", 0.7);
  auto sure = memory("m_abcdefabcd", "site", "google.com: type the date", 1.0);
  sure.uses = 12;
  ASSERT_TRUE(write_list(mind_.memories_file(), std::vector<Memory>{m, sure}));
  auto p = procedure("p_0123456789", "Find cheap flights", "a flight is needed",
                     {"open the flight search", "sort by price"}, 3);
  p.failures = 1;
  ASSERT_TRUE(write_list(mind_.procedures_file(), std::vector<Procedure>{p}));
  ASSERT_TRUE(mind_.journal_append({"s_1", "Secret journal title", "browse", "done", {}}));

  ASSERT_TRUE(run(std::nullopt));
  EXPECT_EQ(out_.str(), mind_.dir().string() +
                            "\n"
                            "\n2 memories\n"
                            "  m_0123456789  [preference] Prefers aisle seats  (confidence 0.70, used 0)\n"
                            "  m_abcdefabcd  [site] google.com: type the date  (confidence 1.00, used 12)\n"
                            "\n1 procedures\n"
                            "  p_0123456789  Find cheap flights  (worked 3, failed 1)\n"
                            "      when: a flight is needed\n"
                            "      1. open the flight search\n"
                            "      2. sort by price\n");
}

TEST_F(MemoryCommand, ListsAnEmptyHome) {
  ASSERT_TRUE(run(std::nullopt));
  EXPECT_EQ(out_.str(), mind_.dir().string() + "\n\n0 memories\n\n0 procedures\n");
  EXPECT_FALSE(std::filesystem::exists(mind_.dir()));
}

TEST_F(MemoryCommand, ForgetsOneEntryOrEverything) {
  ASSERT_TRUE(write_list(mind_.memories_file(),
                         std::vector<Memory>{memory("m_1", "fact", "one"), memory("m_2", "fact", "two")}));
  ASSERT_TRUE(write_list(mind_.procedures_file(),
                         std::vector<Procedure>{procedure("p_1", "Chore", "weekly", {"do it"})}));
  ASSERT_TRUE(mind_.journal_append({"s_1", "Job", "browse", "done", {}}));

  ASSERT_TRUE(run("p_1"));
  EXPECT_EQ(out_.str(), "forgot p_1\n");
  EXPECT_TRUE(read_list<Procedure>(mind_.procedures_file()).empty());

  auto missing = run("m_9");
  ASSERT_FALSE(missing);
  EXPECT_EQ(missing.error().to_string(), "no memory or procedure with id m_9");
  EXPECT_EQ(out_.str(), "");

  // Only the exact word is "everything".
  auto upper = run("ALL");
  ASSERT_FALSE(upper);
  EXPECT_EQ(upper.error().to_string(), "no memory or procedure with id ALL");
  EXPECT_EQ(mind_.memories().size(), 2u);

  ASSERT_TRUE(run("all"));
  EXPECT_EQ(out_.str(), "forgot everything in " + mind_.dir().string() + "\n");
  EXPECT_EQ(slurp(mind_.memories_file()), "[]");
  EXPECT_EQ(slurp(mind_.procedures_file()), "[]");
  EXPECT_EQ(slurp(mind_.journal_file()), "[]");
}

}  // namespace
}  // namespace velmor::mind
