#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <regex>
#include <set>

#include "mind_fixture.h"

namespace velmor::mind {
namespace {

namespace fs = std::filesystem;
using ::testing::HasSubstr;
using testing::fixture;
using testing::memory;
using testing::MindTest;
using testing::put;
using testing::slurp;

// Files in `dir` whose names start with `prefix`.
std::vector<fs::path> files_starting(const fs::path& dir, const std::string& prefix) {
  std::vector<fs::path> out;
  for (const auto& e : fs::directory_iterator(dir))
    if (e.path().filename().string().starts_with(prefix)) out.push_back(e.path());
  return out;
}

TEST(ReadList, RequiredKeysAloneGiveDefaults) {
  auto list = read_list<Memory>(fixture("memories_required_only.json"));
  ASSERT_EQ(list.size(), 1u);
  EXPECT_EQ(list[0].id, "m_0123456789");
  EXPECT_EQ(list[0].kind, "preference");
  EXPECT_EQ(list[0].text, "Prefers aisle seats");
  EXPECT_EQ(list[0].created_at, "2025-03-01T09:15:02.123456+00:00");
  EXPECT_EQ(list[0].confidence, 0.0);
  EXPECT_FALSE(list[0].source_session);
  EXPECT_FALSE(list[0].last_used);
  EXPECT_EQ(list[0].uses, 0u);
}

TEST(ReadList, OlderProcedureReadsWithDefaultsInAnyKeyOrder) {
  auto list = read_list<Procedure>(fixture("procedures_older_build.json"));
  ASSERT_EQ(list.size(), 1u);
  EXPECT_EQ(list[0].title, "Book a flight");
  EXPECT_EQ(list[0].steps.size(), 3u);
  EXPECT_TRUE(list[0].sites.empty());
  EXPECT_EQ(list[0].successes, 0u);
  EXPECT_EQ(list[0].failures, 0u);
  EXPECT_TRUE(list[0].runs.empty());
  EXPECT_FALSE(list[0].demoted);
}

TEST(ReadList, AnythingUndecodableIsAnEmptyList) {
  velmor::testing::TempDir dir;
  const std::string good =
      R"({"id":"m_1","kind":"fact","text":"Works at Dunmore","created_at":"2025-01-01T00:00:00+00:00")";
  const struct {
    const char* name;
    std::string text;
  } cases[] = {
      {"missing created_at", slurp(fixture("memories_missing_created_at.json"))},
      {"duplicate key", slurp(fixture("memories_duplicate_key.json"))},
      {"not JSON", slurp(fixture("memories_not_json.json"))},
      {"an object, not a list", good + "}"},
      {"one bad element among good ones", "[" + good + "}, " + good + ",\"uses\":-1}]"},
      {"uses beyond 32 bits", "[" + good + ",\"uses\":4294967296}]"},
      {"uses as a float", "[" + good + ",\"uses\":1.0}]"},
      {"confidence as text", "[" + good + ",\"confidence\":\"high\"}]"},
      {"session as a number", "[" + good + ",\"source_session\":7}]"},
      {"not UTF-8", "[" + good + ",\"source_session\":\"s_\xff\"}]"},
      {"truncated", "[" + good + "}, {\"id\": \"m_2\""},
      {"empty", ""},
  };
  for (const auto& c : cases) {
    put(dir / "memories.json", c.text);
    EXPECT_TRUE(read_list<Memory>(dir / "memories.json").empty()) << c.name;
  }
  put(dir / "memories.json", "[" + good + ",\"uses\":4294967295,\"unknown\":[1,2]}]");
  EXPECT_EQ(read_list<Memory>(dir / "memories.json").at(0).uses, 4294967295u);
  EXPECT_TRUE(read_list<Memory>(dir / "missing.json").empty());
}

TEST(ReadList, ReadsWellFormedJsonOfAnyLayoutAndRefusesTheRest) {
  velmor::testing::TempDir dir;
  auto text_of = [&](const std::string& file) -> std::optional<std::string> {
    testing::put(dir / "memories.json", file);
    auto list = read_list<Memory>(dir / "memories.json");
    if (list.empty()) return std::nullopt;
    return list[0].text;
  };
  auto with_text = [](const std::string& json_text, const std::string& extra = "") {
    return "[{\"id\":\"m_1\",\"kind\":\"fact\",\"created_at\":\"t\",\"text\":" + json_text + extra +
           "}]";
  };
  const struct {
    std::string file;
    std::optional<std::string> text;
  } cases[] = {
      {with_text(R"("plain")"), "plain"},
      {" \r\n\t" + with_text(R"("spaced")") + " \n", "spaced"},
      {with_text(R"("q\"b\\s\/n\nt\tu\u00e9\u65e5")"), "q\"b\\s/n\nt\tu\u00e9\u65e5"},
      {with_text(R"("\ud83d\ude00 smile")"), "\U0001F600 smile"},
      {with_text("\"Zürich 東京 \xF0\x9F\x98\x80\""), "Zürich 東京 \U0001F600"},
      {with_text(R"("x")", R"(,"confidence":-1.5e-1,"uses":0)"), "x"},
      {with_text(R"("x")", R"(,"extra":{"a":[1,2.5,true,false,null,{"b":"c"}]})"), "x"},
      {with_text(R"("x")", ",\"confidence\":0"), "x"},
      // Refused: broken strings, numbers, literals and structure.
      {with_text(R"("\ud83d alone")"), std::nullopt},
      {with_text(R"("\ude00")"), std::nullopt},
      {with_text(R"("\x41")"), std::nullopt},
      {with_text("\"tab\tinside\""), std::nullopt},
      {with_text("\"overlong \xC0\xAF\""), std::nullopt},
      {with_text("\"surrogate \xED\xA0\x80\""), std::nullopt},
      {with_text("\"cut \xE6\x97\""), std::nullopt},
      {with_text(R"("x")", R"(,"confidence":01)"), std::nullopt},
      {with_text(R"("x")", R"(,"confidence":1.)"), std::nullopt},
      {with_text(R"("x")", R"(,"confidence":.5)"), std::nullopt},
      {with_text(R"("x")", R"(,"confidence":+1)"), std::nullopt},
      {with_text(R"("x")", R"(,"confidence":1e999)"), std::nullopt},
      {with_text(R"("x")", R"(,"uses":-0)"), std::nullopt},
      {with_text(R"("x")", R"(,"uses":18446744073709551616)"), std::nullopt},
      {with_text(R"("x")", R"(,"extra":tru)"), std::nullopt},
      {with_text(R"("x")", R"(,"extra":{"a":1,"a":2})"), std::nullopt},
      {with_text(R"("x")", R"(,)"), std::nullopt},
      {with_text(R"("x")") + ",", std::nullopt},
      {with_text(R"("x")") + " []", std::nullopt},
      {with_text(R"("x")", ",\"extra\":" + std::string(300, '[') + std::string(300, ']')),
       std::nullopt},
  };
  for (const auto& c : cases) EXPECT_EQ(text_of(c.file), c.text) << c.file;
}

TEST_F(MindTest, WriteListIsPrettyInDeclarationOrderWithoutTrailingNewline) {
  Memory m = memory("m_0123456789", "site", "google.com: type the date and press Enter", 0.7,
                    "2025-03-01T09:15:02+00:00");
  m.last_used = "2025-03-02T10:00:00.5+00:00";
  m.uses = 3;
  store(std::vector<Memory>{m});
  EXPECT_EQ(slurp(mind_.memories_file()),
            "[\n"
            "  {\n"
            "    \"id\": \"m_0123456789\",\n"
            "    \"kind\": \"site\",\n"
            "    \"text\": \"google.com: type the date and press Enter\",\n"
            "    \"confidence\": 0.7,\n"
            "    \"source_session\": null,\n"
            "    \"created_at\": \"2025-03-01T09:15:02+00:00\",\n"
            "    \"last_used\": \"2025-03-02T10:00:00.5+00:00\",\n"
            "    \"uses\": 3\n"
            "  }\n"
            "]");
  store(std::vector<Memory>{});
  EXPECT_EQ(slurp(mind_.memories_file()), "[]");
  EXPECT_FALSE(fs::exists(mind_.dir() / "memories.json.tmp"));
}

TEST_F(MindTest, ProceduresAndJournalRoundTrip) {
  Procedure p = testing::procedure("p_0000000001", "Book a flight", "flying somewhere",
                                   {"open the airline site", "pick the cheapest fare"}, 2);
  p.sites = {"flights.example.com"};
  p.failures = 1;
  p.source_session = "s_1";
  p.runs = {{"2025-01-02T00:00:00+00:00", 12, 0.25, "s_1"},
            {"2025-01-03T00:00:00+00:00", 8, 0.125, std::nullopt}};
  p.demoted = true;
  store(std::vector<Procedure>{p});
  auto back = procedures();
  ASSERT_EQ(back.size(), 1u);
  EXPECT_EQ(back[0].sites, p.sites);
  EXPECT_EQ(back[0].successes, 2u);
  EXPECT_EQ(back[0].failures, 1u);
  ASSERT_EQ(back[0].runs.size(), 2u);
  EXPECT_EQ(back[0].runs[1].steps, 8u);
  EXPECT_EQ(back[0].runs[1].usd, 0.125);
  EXPECT_FALSE(back[0].runs[1].session);
  EXPECT_TRUE(back[0].demoted);
  EXPECT_THAT(slurp(mind_.procedures_file()), HasSubstr("\"runs\": [\n"));

  // Whatever the writer escapes, the reader takes back.
  Memory odd = memory("m_odd", "fact", "bell\x07 \"quoted\" back\\slash tab\t é 日本 \U0001F600", 1e-05);
  store(std::vector<Memory>{odd});
  ASSERT_EQ(mind_.memories().size(), 1u);
  EXPECT_EQ(mind_.memories()[0].text, odd.text);
  EXPECT_EQ(mind_.memories()[0].confidence, 1e-05);

  JournalEntry e{"j_0000000001", "s_1", "Flights to Boston", "2025-01-02T00:00:00+00:00",
                 "browse", "Found three fares", "report-1.md"};
  store(std::vector<JournalEntry>{e});
  auto journal = mind_.journal();
  ASSERT_EQ(journal.size(), 1u);
  EXPECT_EQ(journal[0].report, "report-1.md");
  EXPECT_EQ(journal[0].gist, "Found three fares");
}

TEST_F(MindTest, NonJsonFileIsKeptAsideWithAMessageNamingBothPaths) {
  const std::string original = slurp(fixture("memories_not_json.json"));
  put(mind_.memories_file(), original);
  ::testing::internal::CaptureStderr();
  store(std::vector<Memory>{memory("m_1", "fact", "Works at Dunmore")});
  const std::string err = ::testing::internal::GetCapturedStderr();

  auto aside = files_starting(mind_.dir(), "memories.unreadable-");
  ASSERT_EQ(aside.size(), 1u);
  EXPECT_TRUE(std::regex_match(aside[0].filename().string(),
                               std::regex(R"(memories\.unreadable-\d+\.json)")));
  EXPECT_EQ(slurp(aside[0]), original);
  EXPECT_EQ(err, mind_.memories_file().string() + " could not be read; kept as " +
                     aside[0].string() + "\n");
  auto now = mind_.memories();
  ASSERT_EQ(now.size(), 1u);
  EXPECT_EQ(now[0].id, "m_1");
}

TEST_F(MindTest, BlankFileIsSimplyOverwritten) {
  put(mind_.memories_file(), "  \n\t ");
  ::testing::internal::CaptureStderr();
  store(std::vector<Memory>{memory("m_1", "fact", "Works at Dunmore")});
  EXPECT_EQ(::testing::internal::GetCapturedStderr(), "");
  EXPECT_TRUE(files_starting(mind_.dir(), "memories.unreadable-").empty());
  EXPECT_EQ(mind_.memories().size(), 1u);
}

TEST_F(MindTest, JsonThatIsNotAListOfRecordsIsAlsoKeptAsideByTheWriter) {
  // Reading such a file gives nothing, so the next write would otherwise
  // replace everything in it.
  const std::string original = slurp(fixture("memories_missing_created_at.json"));
  put(mind_.memories_file(), original);
  keep_unreadable_aside(mind_.memories_file());  // JSON: left alone by itself
  EXPECT_EQ(slurp(mind_.memories_file()), original);

  ::testing::internal::CaptureStderr();
  store(std::vector<Memory>{memory("m_1", "fact", "Works at Dunmore")});
  EXPECT_THAT(::testing::internal::GetCapturedStderr(), HasSubstr("could not be read; kept as"));
  auto aside = files_starting(mind_.dir(), "memories.unreadable-");
  ASSERT_EQ(aside.size(), 1u);
  EXPECT_EQ(slurp(aside[0]), original);
}

TEST_F(MindTest, WriteErrorsAreConfigErrorsNamingTheirPath) {
  put(home_ / "blocker", "a file where a directory should be");
  auto dir_error = write_list(home_ / "blocker" / "memory" / "memories.json", std::vector<Memory>{});
  ASSERT_FALSE(dir_error);
  EXPECT_EQ(dir_error.error().kind(), ErrorKind::Config);
  EXPECT_THAT(dir_error.error().message(),
              ::testing::StartsWith("memory dir " + (home_ / "blocker" / "memory").string() + ": "));

  fs::create_directories(mind_.memories_file());  // rename over a directory fails
  auto write_error = write_list(mind_.memories_file(), std::vector<Memory>{});
  ASSERT_FALSE(write_error);
  EXPECT_EQ(write_error.error().kind(), ErrorKind::Config);
  const std::string prefix = "memory write " + mind_.memories_file().string() + ": ";
  EXPECT_THAT(write_error.error().message(), ::testing::StartsWith(prefix));
  EXPECT_GT(write_error.error().message().size(), prefix.size());
}

TEST(Clip, CutsByCharactersWithoutAMark) {
  const struct {
    const char* text;
    std::size_t n;
    const char* want;
  } cases[] = {
      {"abcdef", 4, "abcd"}, {"abcd", 4, "abcd"}, {"ab", 4, "ab"},
      {"héllo", 4, "héll"},  {"日本語テキスト", 3, "日本語"}, {"", 0, ""},
      {"abc", 0, ""},
  };
  for (const auto& c : cases) EXPECT_EQ(clip(c.text, c.n), c.want) << c.text;
}

TEST(ShortId, IsPrefixUnderscoreAndTenHexDigits) {
  std::set<std::string> seen;
  for (int i = 0; i < 50; ++i) {
    auto id = short_id("p");
    EXPECT_TRUE(std::regex_match(id, std::regex("p_[0-9a-f]{10}"))) << id;
    seen.insert(id);
  }
  EXPECT_EQ(seen.size(), 50u);
}

TEST_F(MindTest, ForgetRemovesMemoriesBeforeProcedures) {
  store(std::vector<Memory>{memory("x_1", "fact", "one"), memory("m_2", "fact", "two"),
                            memory("x_1", "fact", "one again")});
  store(std::vector<Procedure>{testing::procedure("x_1", "Shared id", "never", {"step"})});

  EXPECT_EQ(mind_.forget("x_1"), true);
  ASSERT_EQ(mind_.memories().size(), 1u);
  EXPECT_EQ(procedures().size(), 1u);
  EXPECT_EQ(mind_.forget("x_1"), true);
  EXPECT_TRUE(procedures().empty());

  const std::string before = slurp(mind_.memories_file());
  EXPECT_EQ(mind_.forget("x_1"), false);
  EXPECT_EQ(slurp(mind_.memories_file()), before);
  EXPECT_FALSE(fs::exists(mind_.journal_file()));
}

TEST_F(MindTest, JournalForgetAndForgetAll) {
  store(std::vector<JournalEntry>{{"j_1", "s_1", "A", "2025-01-01T00:00:00+00:00", "browse", "a", {}},
                                  {"j_2", "s_2", "B", "2025-01-02T00:00:00+00:00", "browse", "b", {}}});
  store(std::vector<Memory>{memory("j_1", "fact", "a memory that shares the id")});
  EXPECT_EQ(mind_.journal_forget("j_1"), true);
  EXPECT_EQ(mind_.journal_forget("j_1"), false);
  EXPECT_EQ(mind_.journal().size(), 1u);
  EXPECT_EQ(mind_.memories().size(), 1u);

  ASSERT_TRUE(mind_.forget_all());
  EXPECT_EQ(slurp(mind_.memories_file()), "[]");
  EXPECT_EQ(slurp(mind_.procedures_file()), "[]");
  EXPECT_EQ(slurp(mind_.journal_file()), "[]");
}

}  // namespace
}  // namespace velmor::mind
