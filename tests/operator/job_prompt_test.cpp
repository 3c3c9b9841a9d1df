#include <gtest/gtest.h>

#include "operator/expected_prompt.h"
#include "operator/job_prompt.h"

namespace velmor::op {
namespace {

using testing::kBareSystemPrompt;

constexpr const char* kNoCoder = "\n\nCoding: no coding agent is installed, so code changes are not possible here; never try them through the desktop. If the job needs code, ask_user and mention Settings → Coding.";
constexpr const char* kReposOpening = " A folder not listed here can be passed as an absolute path in `repo`; the person is asked once.";
constexpr const char* kDesktopAllowedStart = "\nThe person has allowed desktop control. Desktop tools: ";
constexpr const char* kDesktopAllowedEnd = ". Coordinates are screen pixels from the latest screenshot. Call screenshot to look before you click.";
constexpr const char* kChrome = "\nThe browser is the person's own Chrome, in a window of its own, signed in to their accounts. Logins are usually already done; if a page still asks for a password or a code, call request_login.";
constexpr const char* kPluginHeading = "\n\nPlugin tools (call plugin_describe {tool} once to see the arguments, then plugin_call {tool, arguments}; ones marked ✱ ask the person first):\n";

PromptSetup bare() {
  PromptSetup s;
  s.coder = "velmor native";
  return s;
}

// The text that follows the fixed rules in `prompt`.
std::string after_fixed(const std::string& prompt) {
  auto at = prompt.find("\n\nCoding:");
  return at == std::string::npos ? "" : prompt.substr(at);
}

TEST(SystemPrompt, BareJobIsFixedTextCodingDesktopAndBrowser) {
  EXPECT_EQ(system_prompt(bare()), kBareSystemPrompt);
  std::string fixed(kBareSystemPrompt);
  fixed = fixed.substr(0, fixed.find("\n\nCoding:"));
  EXPECT_EQ(std::count(fixed.begin(), fixed.end(), '\n'), 17);
}

TEST(SystemPrompt, NoCoderReposDesktopChromeAndMemories) {
  PromptSetup s;
  s.repos = {{"shop", "/code/shop", "npm test", ""}, {"blog", "/code/blog", "", ""}};
  s.desktop_allowed = true;
  s.chrome = true;
  s.memories = "What you know about this person (use quietly, do not recite):\n- [profile] Name: Yorrin\n";
  auto prompt = system_prompt(s);
  EXPECT_EQ(after_fixed(prompt),
            std::string(kNoCoder) + kDesktopAllowedStart +
                "screenshot, left_click, right_click, double_click, move_cursor, type_text, press_key, "
                "hotkey, scroll, scroll_up, scroll_down" +
                kDesktopAllowedEnd + kChrome + "\n\n" + s.memories);

  s.coder = "Codex CLI";
  prompt = system_prompt(s);
  auto coding = prompt.find("\n\nCoding: Codex CLI does the edits; you manage.");
  ASSERT_NE(coding, std::string::npos);
  EXPECT_NE(prompt.find(std::string(kReposOpening) +
                        " Repos: shop at /code/shop (tests: npm test); blog at /code/blog.\n"),
            std::string::npos);
}

TEST(SystemPrompt, PluginLinesAreMarkedAndCut) {
  PromptSetup s = bare();
  std::string exact(110, 'a'), longer(111, 'b');
  s.plugin_tools = {{"mail_send", "\n  \n  Sends mail.  \nsecond line", true},
                    {"exact", exact, false},
                    {"longer", longer, false}};
  for (int i = 0; i < 80; ++i) s.plugin_tools.push_back({"t" + std::to_string(i), "d", false});
  auto prompt = system_prompt(s);
  std::string section = std::string(kPluginHeading) + "- mail_send \u2731: Sends mail.\n- exact: " + exact +
                        "\n- longer: " + std::string(110, 'b') + "…\n";
  EXPECT_NE(prompt.find(section), std::string::npos);
  EXPECT_NE(prompt.find("- t76: d\n"), std::string::npos);
  EXPECT_EQ(prompt.find("- t77: d\n"), std::string::npos);  // 80 tools at most
}

TEST(JobMessage, AddsConversationPlanAndJournalWhenPresent) {
  EXPECT_EQ(job_message("Find a flight", " \n\t", "", ""), "Job:\nFind a flight");
  std::string conversation = std::string(1000, 'x') + std::string(1500, 'y');
  EXPECT_EQ(job_message("T", conversation, "PLAN", "JOURNAL"),
            "Job:\nT\n\nEarlier in this conversation:\n…" + std::string(1500, 'y') + "\n\nPLAN\n\nJOURNAL");
}

TEST(StepLog, ShowsLastThirtyWithTheLastTenInFull) {
  EXPECT_FALSE(step_log_message({}));
  std::vector<Step> steps;
  for (int i = 1; i <= 31; ++i) {
    std::string n = std::to_string(i);
    steps.push_back({"tool" + n, i == 21 ? "" : "args" + n, "thought" + n,
                     i == 20 ? "error: nope" : "result" + n, ""});
  }
  steps[1].args = std::string(70, 'z');
  auto log = *step_log_message(steps);
  EXPECT_TRUE(log.starts_with("What you have done so far:\n(1 earlier steps omitted)\n- tool2 " +
                              std::string(60, 'z') + "…\n- tool3 args3\n"));
  EXPECT_EQ(log.find("tool1 "), std::string::npos);
  EXPECT_NE(log.find("\n- tool20 args20 \u2717\n- tool21\n- tool22 args22 (thought22) \u2192 result22\n"), std::string::npos);
  EXPECT_TRUE(log.ends_with("- tool31 args31 (thought31) \u2192 result31\n"));
}

TEST(TurnMessage, PartsInOrderWithSteerAndObservationClipped) {
  EXPECT_EQ(turn_message("", std::nullopt, std::nullopt, "obs"),
            "Latest observation:\nobs\n\nNext action as one JSON object.");
  std::string steer(600, 's'), observation(12001, 'o');
  EXPECT_EQ(turn_message("done: a | left: b", std::string("N"), steer, observation),
            "Your last progress note:\ndone: a | left: b\n\nNote: N\n\nThe person just added, mid-job: \"" +
                std::string(500, 's') + "…\"\nFold that in and keep going.\n\nLatest observation:\n" +
                std::string(12000, 'o') + "…\n\nNext action as one JSON object.");
}

TEST(TurnSplit, AttributesEachPart) {
  std::string system(400, 's'), memories(41, 'm'), journal(9, 'j');
  std::vector<model::Message> messages{{model::Role::User, std::string(80, 'J'), std::nullopt},
                                       {model::Role::Assistant, std::string(13, 'L'), std::nullopt},
                                       {model::Role::User, "ééééé", std::nullopt}};
  auto split = turn_split(system, memories, journal, messages);
  EXPECT_EQ(split, (TokenSplit{100 - 11 + 20 - 3, 11 + 3, 4, 2, 1}));
  // Counters never go below zero when the memories outweigh the prompt.
  auto small = turn_split("ab", memories, journal, {{model::Role::User, "x", std::nullopt}});
  EXPECT_EQ(small, (TokenSplit{0, 14, 0, 1, 1}));
}

}  // namespace
}  // namespace velmor::op
