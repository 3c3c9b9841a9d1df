#include <gtest/gtest.h>

#include "operator/action.h"
#include "operator/run_report.h"

namespace velmor::op {
namespace {

using nlohmann::json;

TEST(ParseAction, ReadsEveryMember) {
  auto a = parse_action(R"(Sure! {"thought":"see it","progress":"  done: x | left: y ","tool":"browser_click",
      "arguments":{"ref":"e1","element":"Go"},"irreversible":true,"answer":"  "} trailing)");
  ASSERT_TRUE(a) << a.error().to_string();
  EXPECT_EQ(a->tool, "browser_click");
  EXPECT_EQ(a->thought, "see it");
  EXPECT_EQ(a->progress, "done: x | left: y");
  EXPECT_EQ(a->arguments, (json{{"ref", "e1"}, {"element", "Go"}}));
  EXPECT_TRUE(a->irreversible);
  EXPECT_EQ(a->answer, "");
  EXPECT_FALSE(a->result);
}

TEST(ParseAction, ToolFallbacksAndDefaults) {
  struct Case {
    const char* reply;
    const char* tool;
    json arguments;
  } cases[] = {
      {R"({"action":"browser_snapshot","args":{"a":1}})", "browser_snapshot", json{{"a", 1}}},
      {R"({"done":true,"answer":"Found it"})", "done", json::object()},
      {"```json\n{\"tool\":\"done\",\"irreversible\":\"yes\"}\n```", "done", json::object()},
      {R"({"tool":"x","arguments":{"b":2},"args":{"a":1}})", "x", json{{"b", 2}}},
  };
  for (const auto& c : cases) {
    auto a = parse_action(c.reply);
    ASSERT_TRUE(a) << c.reply;
    EXPECT_EQ(a->tool, c.tool) << c.reply;
    EXPECT_EQ(a->arguments, c.arguments) << c.reply;
    EXPECT_FALSE(a->irreversible) << c.reply;
  }
}

TEST(ParseAction, FailuresAreComputerErrors) {
  for (auto [reply, why] : {std::pair{"I will click the button now.", "computer: no JSON object in reply"},
                            std::pair{R"({"thought":"hmm"})", "computer: JSON action is missing tool"},
                            std::pair{"[1,2]", "computer: JSON action is missing tool"},
                            std::pair{R"({"tool":7})", "computer: JSON action is missing tool"}}) {
    auto a = parse_action(reply);
    ASSERT_FALSE(a) << reply;
    EXPECT_EQ(a.error().to_string(), why) << reply;
  }
}

TEST(ValidResult, ShapesAndLimits) {
  auto items = [](std::size_t n) { return json(std::vector<int>(n, 1)); };
  auto rows = [](std::size_t n) { return json(std::vector<json>(n, json::array({1}))); };
  struct Case {
    json result;
    bool valid;
  } cases[] = {
      {{{"kind", "list"}, {"items", items(1)}}, true},
      {{{"kind", "links"}, {"items", items(100)}}, true},
      {{{"kind", "links"}, {"items", items(0)}}, false},
      {{{"kind", "list"}, {"items", items(101)}}, false},
      {{{"kind", "table"}, {"columns", items(12)}, {"rows", rows(200)}}, true},
      {{{"kind", "table"}, {"columns", items(13)}, {"rows", rows(1)}}, false},
      {{{"kind", "table"}, {"columns", items(2)}, {"rows", rows(201)}}, false},
      {{{"kind", "table"}, {"columns", items(2)}, {"rows", json::array({1})}}, false},
      {{{"kind", "chart"}, {"items", items(1)}}, false},
      {json::array(), false},
  };
  for (const auto& c : cases) EXPECT_EQ(valid_result(c.result), c.valid) << c.result.dump();
  auto a = parse_action(R"({"tool":"done","answer":"ok","result":{"kind":"links","items":[]}})");
  ASSERT_TRUE(a);
  EXPECT_FALSE(a->result);
  EXPECT_EQ(a->answer, "ok");
}

TEST(StepFromAction, ShortArgsClippedThoughtAndSignature) {
  Action a;
  a.tool = "browser_navigate";
  a.thought = std::string(130, 't');
  a.arguments = {{"url", "https://a.test"}, {"b", 1}};
  auto s = Step::from_action(a, "ok");
  EXPECT_EQ(s.args, "https://a.test");
  EXPECT_EQ(s.thought, std::string(120, 't') + "…");
  EXPECT_EQ(s.signature, R"(browser_navigate {"b":1,"url":"https://a.test"})");
  EXPECT_EQ(s.result, "ok");
}

}  // namespace
}  // namespace velmor::op
