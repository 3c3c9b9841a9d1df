#include <gtest/gtest.h>

#include "mind/mind.h"
#include "operator/fakes.h"

namespace velmor::op {
namespace {

using testing::LoopHarness;

const std::string kDecisionPrompt =
    "Decide whether the newest message asks velmor to DO something on a computer (a task), is conversation "
    "(chat), or asks for software to be written or changed (code). Reply with one JSON object only: "
    "{\"kind\":\"task\"|\"chat\"|\"code\"}.\ncode: write a script, program, function, app or website; fix, "
    "refactor or review source code; set up a dev environment; anything whose deliverable is code. Not: using a "
    "website, filling a form, or reading a page that happens to be technical.\ntask: find, compare, book, buy, "
    "check, cancel, fill in, download, open a site or app, search a site, read a page, watch for something, "
    "anything that needs a browser or the Mac. Also an answer to a question velmor asked while doing a task.\n"
    "chat: greetings, thanks, questions velmor can answer from general knowledge or memory, questions about what "
    "velmor can do, questions about something velmor already did, small talk.\nWhen in doubt, task.";

const std::string kChatPrompt =
    "You are velmor, an assistant on this person's Mac that does long computer jobs for them: it uses the browser "
    "and their apps for as long as a job takes, saves its place as it goes, and remembers how they like things. "
    "Right now you are chatting, not working. Reply in plain sentences, one to three unless asked for more. A "
    "greeting gets a short greeting back. If they are describing a job they want done, say you can do it and ask "
    "only what you truly need to start. If they ask about a job you already did (what you found, where something "
    "was), answer from the conversation above, which holds your report; do not fill gaps from general knowledge. "
    "If the detail is not there, say so and offer to run the job again. If you know their name, use it when it is "
    "natural, not every message. When they tell you something about themselves, acknowledge it in a few words; it "
    "is kept for next time without you saying so. Never describe your internals (memory files, models, tools, "
    "snapshots). Do not quote your notes about them; use them quietly.";

class Routing : public LoopHarness {
 protected:
  Result<RunReport> handle(const std::string& message, RunOptions options = {}) {
    options.observer = observer;
    auto op = make_operator();
    return op.handle(message, conversation, options, session);
  }
};

TEST_F(Routing, DecisionCallAndKeywordFallback) {
  conversation = std::string(1300, 'c');
  model->reply("Sounds like you want a table booked!");  // prose: the keywords decide
  model->reply(done("Booked for 8pm."));
  auto report = handle("Please book a table for two " + std::string(1200, 'x'));
  ASSERT_TRUE(report);
  EXPECT_EQ(std::get<Done>(report->outcome).answer, "Booked for 8pm.");
  EXPECT_EQ(report->mode, "browse");
  EXPECT_EQ(model->calls[0].system, kDecisionPrompt);
  EXPECT_EQ(model->calls[0].messages.size(), 1u);
  EXPECT_EQ(model->calls[0].messages[0].text,
            "Recent conversation:\n…" + std::string(1200, 'c') + "\n\nNewest message:\nPlease book a table for two " +
                std::string(1200 - 28, 'x') + "…");
  EXPECT_EQ(cache_keys, (std::vector<std::string>{"velmor-cli"}));
  // The decision's tokens are in the report with the job's.
  EXPECT_EQ(report->tokens.input_tokens, 20u);
}

TEST_F(Routing, DecisionWordsAndTheirLimits) {
  struct Case {
    std::string decision, message;
    std::string mode;  // "chat" or the job's
  } cases[] = {
      {R"({"kind":"chat"})", "book me a table", "chat"},
      {R"(```json
{"kind":"task"}
```)", "hello there", "browse"},
      {R"({"kind":"code"})", "fix the login page", "browse"},  // no code keyword: a task
      {R"({"kind":"maybe"})", "thanks!", "chat"},
      {R"({"type":"task"})", "thanks!", "chat"},
  };
  for (const auto& c : cases) {
    model = std::make_shared<testing::ScriptedModel>();
    model->reply(c.decision);
    model->reply(c.mode == "chat" ? "You're welcome." : done("ok"));
    auto report = handle(c.message);
    ASSERT_TRUE(report) << c.decision;
    EXPECT_EQ(report->mode, c.mode) << c.decision;
    EXPECT_EQ(model->pending(), 0u) << c.decision;
  }
}

TEST_F(Routing, CodeWithoutAnInstalledCoderAnswersWithoutAnotherCall) {
  env.set("VELMOR_CODER", "claude");
  model->reply(R"({"kind":"code"})");
  auto report = handle("refactor the python script");
  ASSERT_TRUE(report);
  EXPECT_EQ(std::get<Done>(report->outcome).answer,
            "I can take coding jobs, but not yet on this Mac. claude is set as the coder in Settings but is not "
            "installed on this Mac.");
  EXPECT_EQ(model->calls.size(), 1u);
  EXPECT_EQ(report->mode, "chat");
}

TEST_F(Routing, ResumedSkipsTheDecisionAndFailedDecisionFallsBack) {
  session = "s_9";
  RunOptions resumed;
  resumed.resumed = true;
  model->reply(done("ok"));
  model->reply(R"({"memories":[]})");  // a resumed job is learned from even after one step
  auto report = handle("thanks", resumed);
  ASSERT_TRUE(report);
  EXPECT_EQ(model->calls.size(), 2u);
  EXPECT_EQ(model->calls[0].system.substr(0, 20), "You are velmor, doin");
  EXPECT_EQ(report->tokens.input_tokens, 20u);
  EXPECT_EQ(cache_keys, (std::vector<std::string>{"velmor-s_9"}));

  model->failure("compatible: connection refused");
  model->reply("Hi!");
  ::testing::internal::CaptureStderr();
  report = handle("hello");
  std::string err = ::testing::internal::GetCapturedStderr();
  EXPECT_EQ(err, "classify failed (inference: compatible: connection refused); using keyword fallback\n");
  ASSERT_TRUE(report);
  EXPECT_EQ(std::get<Done>(report->outcome).answer, "Hi!");
}

TEST_F(Routing, ChatReplyUsesMemoryJournalAndTheConversation) {
  mind::Reflection r;
  r.memories.push_back({"profile", "Name: Yorrin", 0.9});
  ASSERT_TRUE(mind::Mind(home / "memory").absorb(r, std::nullopt));
  conversation = "velmor: Hello again.\nUser: find me a kettle\nunder 40 dollars\nvelmor: Found two.\nstray";
  model->reply(R"({"kind":"chat"})");
  model->reply("  The cheaper one was 35 dollars.  ");
  auto report = handle("what did you find?");
  ASSERT_TRUE(report);
  EXPECT_EQ(std::get<Done>(report->outcome).answer, "The cheaper one was 35 dollars.");
  EXPECT_EQ(report->steps, 0u);
  EXPECT_EQ(report->split, TokenSplit{});
  const auto& call = model->calls[1];
  EXPECT_EQ(call.system, kChatPrompt +
                             "\n\nWhat you know about this person (use quietly, do not recite):\n- [profile] Name: "
                             "Yorrin\n\n");
  ASSERT_EQ(call.messages.size(), 3u);
  EXPECT_EQ(call.messages[0].role, model::Role::User);
  EXPECT_EQ(call.messages[0].text, "find me a kettle\nunder 40 dollars");
  EXPECT_EQ(call.messages[1].role, model::Role::Assistant);
  EXPECT_EQ(call.messages[1].text, "Found two.\nstray");
  EXPECT_EQ(call.messages[2].text, "what did you find?");
  EXPECT_EQ(mind::Mind(home / "memory").memories()[0].uses, 1u);  // marked as used
}

TEST_F(Routing, ChatAboutThemselvesIsReflectedOn) {
  model->reply(R"({"kind":"chat"})");
  model->reply("Noted!");
  model->reply(R"({"memories":[{"kind":"preference","text":"Eats vegetarian","confidence":0.8}]})");
  auto report = handle("I'm vegetarian these days");
  ASSERT_TRUE(report);
  EXPECT_EQ(report->remembered, (std::vector<std::string>{"preference: Eats vegetarian"}));
  EXPECT_EQ(report->tokens.input_tokens, 30u);
  EXPECT_NE(model->calls[2].messages[0].text.find("The person said:\nI'm vegetarian these days"), std::string::npos);

  model->reply(R"({"kind":"chat"})");
  model->reply("Nice!");
  report = handle("Went swimming this morning");
  ASSERT_TRUE(report);
  EXPECT_TRUE(report->remembered.empty());
  EXPECT_EQ(model->pending(), 0u);
  EXPECT_EQ(model->calls.size(), 5u);
}

TEST_F(Routing, FailedChatCallIsTheError) {
  model->reply(R"({"kind":"chat"})");
  model->failure("compatible http 500: down");
  auto report = handle("hi");
  ASSERT_FALSE(report);
  EXPECT_EQ(report.error().to_string(), "inference: compatible http 500: down");
}

}  // namespace
}  // namespace velmor::op
