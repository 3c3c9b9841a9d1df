#include <gtest/gtest.h>

#include "core/files.h"
#include "core/utf8.h"
#include "mind/mind.h"
#include "operator/fakes.h"
#include "operator/job_prompt.h"

namespace velmor::op {
namespace {

using nlohmann::json;
using testing::LoopHarness;

class JobLoop : public LoopHarness {
 protected:
  mind::Mind mind() const { return mind::Mind(home / "memory"); }
  void store_site_note(const std::string& text) {
    mind::Reflection r;
    r.memories.push_back({"site", text, 0.8});
    ASSERT_TRUE(mind().absorb(r, std::nullopt));
  }
};

TEST_F(JobLoop, NavigateClickDoneReportsEveryStepAndLearns) {
  model->reply(act("browser_navigate", {{"url", "https://shop.test/"}}, "open the shop", "done: -\n  Left: find price"));
  model->reply(act("browser_click", {{"element", "Price tab"}, {"ref", "e3"}}, "see prices"));
  model->reply(done("The kettle costs 40 dollars."));
  model->reply(R"({"memories":[{"kind":"profile","text":"Name: Yorrin","confidence":0.9}],"procedure":null,"note":""})");
  auto report = run("find the kettle price");

  EXPECT_EQ(std::get<Done>(report.outcome).answer, "The kettle costs 40 dollars.");
  EXPECT_EQ(report.mode, "browse");
  EXPECT_EQ(report.steps, 3u);
  EXPECT_FALSE(report.stopped_early);
  EXPECT_EQ(observer->tools(), (std::vector<std::string>{"browser_navigate", "browser_click", "done"}));
  EXPECT_EQ(observer->actions[0].detail, "https://shop.test/");
  EXPECT_EQ(observer->actions[0].text, "open the shop");
  EXPECT_EQ(observer->locations, (std::vector<std::string>{"https://shop.test/", "https://shop.test/"}));
  ASSERT_EQ(browsers->made.size(), 1u);
  EXPECT_EQ(browsers->made[0]->calls[1].args, (json{{"element", "Price tab"}, {"ref", "e3"}}));
  EXPECT_EQ(browsers->made[0]->closed, 1);
  EXPECT_TRUE(turn(1).starts_with("Your last progress note:\ndone: -\n  Left: find price\n\n"));
  EXPECT_NE(turn(1).find("Latest observation:\npage after browser_navigate\n\n"), std::string::npos);
  // The focus is the task and the line of the progress note that says what is left.
  EXPECT_EQ(browsers->made[0]->focuses[1], "find the kettle price   Left: find price");

  // Four calls: three turns and the reflection, whose counts are in the report.
  ASSERT_EQ(model->calls.size(), 4u);
  EXPECT_EQ(report.tokens.input_tokens, 40u);
  EXPECT_EQ(report.tokens.output_tokens, 20u);
  EXPECT_EQ(report.remembered, (std::vector<std::string>{"profile: Name: Yorrin"}));
  ASSERT_EQ(mind().memories().size(), 1u);

  // The token split adds up to what was sent on the three turns.
  std::uint64_t sent = 0;
  for (std::size_t i = 0; i < 3; ++i) {
    sent += prompt_tokens(model->calls[i].system);
    for (const auto& m : model->calls[i].messages) sent += prompt_tokens(m.text);
  }
  const auto& s = report.split;
  EXPECT_EQ(s.steps, 3u);
  EXPECT_EQ(s.system + s.memory + s.log + s.observation, sent);
  EXPECT_GT(s.log, 0u);

  // The next job's prompt carries what was learned.
  observer = std::make_shared<testing::RecordingObserver>();
  model->reply(done("ok"));
  run("something else entirely");
  EXPECT_TRUE(model->calls.back().system.ends_with(
      "\n\nWhat you know about this person (use quietly, do not recite):\n- [profile] Name: Yorrin\n"));
}

TEST_F(JobLoop, ThreeUnparsableRepliesInARowEndTheJob) {
  model->reply("I think I will click the button.");
  model->reply(R"({"thought":"no tool"})");
  model->reply(act("browser_snapshot"));  // a valid reply resets the count
  model->reply("nope");
  model->reply("still nope");
  model->reply("never");
  auto report = run("check the page");
  EXPECT_EQ(std::get<Done>(report.outcome).answer,
            "I had to stop: I could not produce a valid next step three times in a row. Send the task "
            "again and I will start from the saved checkpoint.");
  EXPECT_TRUE(report.stopped_early);
  EXPECT_EQ(model->calls.size(), 6u);  // nothing learned from a job that gave up
  EXPECT_NE(turn(1).find("Latest observation:\nYour reply was not a single JSON object (computer: no JSON "
                         "object in reply). Reply with exactly one JSON object in the required shape."),
            std::string::npos);
  EXPECT_NE(turn(2).find("(computer: JSON action is missing tool)"), std::string::npos);
}

TEST_F(JobLoop, ModelFailingThreeTimesStopsWithItsError) {
  for (int i = 0; i < 3; ++i) model->failure("compatible http 500: boom");
  ::testing::internal::CaptureStderr();
  auto report = run("find a flight");
  std::string err = ::testing::internal::GetCapturedStderr();
  EXPECT_EQ(std::get<Done>(report.outcome).answer,
            "I had to stop: the model stopped answering (inference: compatible http 500: boom). "
            "Everything done so far is saved; send the task again to continue.");
  EXPECT_TRUE(report.stopped_early);
  EXPECT_NE(err.find("model call failed (attempt 1): inference: compatible http 500: boom\n"), std::string::npos);
  EXPECT_NE(err.find("model call failed (attempt 3): "), std::string::npos);
  using std::chrono::milliseconds;
  EXPECT_EQ(sleeper->slept, (std::vector<milliseconds>{milliseconds(600), milliseconds(1200), milliseconds(1800)}));
}

TEST_F(JobLoop, ExpiredSignInHasItsOwnStopAndARetryCanRecover) {
  model->failure("x");
  model->reply(done("fine"));
  ::testing::internal::CaptureStderr();
  EXPECT_EQ(std::get<Done>(run("a").outcome).answer, "fine");
  for (int i = 0; i < 3; ++i) model->failure("chatgpt: invalid_grant");
  auto report = run("b");
  ::testing::internal::GetCapturedStderr();
  EXPECT_EQ(std::get<Done>(report.outcome).answer,
            "I had to stop: your ChatGPT sign-in has expired. Open Settings and choose Continue with "
            "ChatGPT again, then send the job once more.");
}

TEST_F(JobLoop, StepLimitZeroActsAsOne) {
  model->reply(act("browser_snapshot", json::object(), "look", "done: looked | left: all"));
  RunOptions options;
  options.max_steps = 0;
  auto report = run("check", options);
  EXPECT_EQ(std::get<StepLimit>(report.outcome).summary, "done: looked | left: all");
  EXPECT_EQ(model->calls.size(), 1u);
}

TEST_F(JobLoop, StopBeforeFirstStepAndSteerHandedOverOnce) {
  observer->stop_after = 0;
  auto stopped = run("anything");
  EXPECT_EQ(std::get<Stopped>(stopped.outcome).summary, "Nothing done yet.");
  EXPECT_TRUE(model->calls.empty());

  observer = std::make_shared<testing::RecordingObserver>();
  observer->steers = {std::string(600, 's')};
  model->reply(act("browser_snapshot"));
  model->reply(done("ok"));
  run("anything");
  EXPECT_NE(turn(0).find("The person just added, mid-job: \"" + std::string(500, 's') +
                         "…\"\nFold that in and keep going.\n\n"),
            std::string::npos);
  EXPECT_EQ(turn(1).find("The person just added"), std::string::npos);
}

TEST_F(JobLoop, ThirdIdenticalActionRunsAndCarriesTheRepeatNote) {
  for (int i = 0; i < 3; ++i) model->reply(act("browser_click", {{"element", "Next"}, {"ref", "e9"}}));
  model->reply(act("browser_snapshot"));
  model->reply(done("ok"));
  run("page through");
  EXPECT_EQ(browsers->made[0]->calls.size(), 4u);
  const std::string note =
      "Note: You have sent this exact action three times. It is not working. Take a snapshot to re-read "
      "the page, try a different element or route, or ask_user if you are stuck.\n\n";
  EXPECT_EQ(turn(2).find(note), std::string::npos);
  EXPECT_NE(turn(3).find(note), std::string::npos);
  EXPECT_EQ(turn(4).find(note), std::string::npos);  // shown once
}

TEST_F(JobLoop, SiteNotesOncePerHost) {
  store_site_note("shop.test: the search box is in the footer");
  model->reply(act("browser_navigate", {{"url", "https://www.shop.test/"}}));
  model->reply(act("browser_snapshot"));
  model->reply(done("ok"));
  browsers->answer = [](const tools::ToolCall&) -> Result<tools::ToolResult> {
    return tools::ToolResult{"PAGE", "https://shop.test/a", std::nullopt};
  };
  run("buy on shop.test");
  EXPECT_EQ(observer->notes, (std::vector<std::string>{"site: Using what I know about shop.test"}));
  EXPECT_NE(turn(1).find("PAGE\n\nWhat you learned about shop.test in earlier jobs:\n- the search box is in the "
                         "footer\n\n\nNext action"),
            std::string::npos);
  EXPECT_NE(turn(2).find("Latest observation:\nPAGE\n\nNext action"), std::string::npos);
}

TEST_F(JobLoop, LongPageKeepsSignInHintAndSiteNotesWhole) {
  store_site_note("shop.test: sign in with the blue button");
  std::string page = "Please sign in. textbox \"Email\" " + std::string(20000, 'x');
  browsers->answer = [&](const tools::ToolCall&) -> Result<tools::ToolResult> {
    return tools::ToolResult{page, "https://shop.test/login", std::nullopt};
  };
  model->reply(act("browser_navigate", {{"url", "https://shop.test/login"}}));
  model->reply(done("ok"));
  run("log in to shop.test");
  const std::string guidance =
      "\n\n(This looks like a sign-in, verification-code or captcha page. Do not type credentials: call "
      "request_login {site, why} and the person will do it in this browser.)\n\nWhat you learned about "
      "shop.test in earlier jobs:\n- sign in with the blue button\n";
  std::string t = turn(1);
  auto start = t.find("Latest observation:\n") + std::string("Latest observation:\n").size();
  auto end = t.rfind("\n\nNext action as one JSON object.");
  std::string observation = t.substr(start, end - start);
  EXPECT_TRUE(observation.ends_with("…" + guidance));
  EXPECT_EQ(core::char_count(observation), 12000u);
  EXPECT_TRUE(observation.starts_with("Please sign in."));
}

TEST_F(JobLoop, ToolErrorsAreShownToTheModel) {
  struct Case {
    std::string error;
    std::string message;
  } cases[] = {
      {"Executable doesn't exist at /x/chromium", "the built-in browser is not set up yet. Open Settings or the "
                                                  "first-run steps and choose Set up built-in, or pair Chrome."},
      {"failed to start Playwright MCP (`npx @playwright/mcp`). No such file",
       "the browser helper could not start (Node/npx missing?). Install Node from https://nodejs.org/en/download "
       "and try again."},
      {std::string(500, 'e') + "\n\n### Page now (after the failed attempt)\n- button \"Go\"",
       "computer: " + std::string(390, 'e') + "…\n\n### Page now (after the failed attempt)\n- button \"Go\""},
  };
  for (const auto& c : cases) {
    model = std::make_shared<testing::ScriptedModel>();
    observer = std::make_shared<testing::RecordingObserver>();
    browsers->answer = [&](const tools::ToolCall&) -> Result<tools::ToolResult> {
      return fail(Error::computer(c.error));
    };
    model->reply(act("browser_snapshot"));
    model->reply(done("ok"));
    run("look");
    EXPECT_NE(turn(1).find("Latest observation:\ntool error: " + c.message + "\n\nNext"), std::string::npos) << c.error;
    ASSERT_GE(observer->actions.size(), 2u);
    EXPECT_EQ(observer->actions[1].tool, "error");
    EXPECT_EQ(observer->actions[1].text, "That did not work");
    EXPECT_EQ(observer->actions[1].detail, clip(c.message, 160));
  }
}

TEST_F(JobLoop, UnknownToolListsTheTools) {
  model->reply(act("browser_evaluate"));
  model->reply(done("ok"));
  auto report = run("look");
  EXPECT_NE(turn(1).find(
                "Latest observation:\n`browser_evaluate` is not a tool you have. Browser: browser_navigate, "
                "browser_read_page, browser_snapshot, browser_find, browser_click, browser_type, browser_fill_form, "
                "browser_select_option, browser_hover, browser_press_key, browser_navigate_back, browser_wait_for, "
                "browser_tabs, browser_take_screenshot. Desktop (after request_desktop): screenshot, left_click, "
                "right_click, double_click, move_cursor, type_text, press_key, hotkey, scroll, scroll_up, "
                "scroll_down. Plugins: plugin_describe, plugin_call. Code: code_run, repo_inspect, code_ship. "
                "Also: ask_user, request_login, request_desktop, done.\n\n"),
            std::string::npos);
  EXPECT_EQ(report.steps, 1u);  // only the done
}

TEST_F(JobLoop, LearningNeedsTwoStepsOrAResumeAndKeepsProceduresForLongJobs) {
  const std::string reflection =
      R"({"memories":[{"kind":"fact","text":"Home airport is MRW"}],"procedure":{"title":"Check the kettle price","when":"price checks","steps":["open shop","read price","report"]},"note":""})";
  model->reply(done("quick"));
  run("one step job");
  EXPECT_EQ(model->calls.size(), 1u);  // not reflected on

  model->reply(done("quick"));
  model->reply(reflection);
  RunOptions resumed;
  resumed.resumed = true;
  auto report = run("one step job", resumed);
  EXPECT_EQ(model->calls.size(), 3u);
  // Fewer than 6 steps, not confirmed, nothing recalled: the procedure is dropped.
  EXPECT_EQ(report.remembered, (std::vector<std::string>{"fact: Home airport is MRW"}));

  model->reply(done("quick"));
  model->reply(reflection);
  RunOptions confirmed;
  confirmed.confirmed = true;
  report = run("one step job", confirmed);
  EXPECT_EQ(report.remembered,
            (std::vector<std::string>{"fact: Home airport is MRW", "procedure: Check the kettle price"}));

  // The procedure is recalled for the next similar job and named in the report.
  model->reply(done("quick"));
  report = run("check the kettle price");
  EXPECT_EQ(report.recalled, "Check the kettle price");
  EXPECT_TRUE(report.procedure && report.procedure->starts_with("p_"));
  EXPECT_EQ(observer->notes.front(), "recall: Starting from what I learned last time: Check the kettle price");
  EXPECT_NE(model->calls.back().messages.front().text.find("Plan from last time"), std::string::npos);
}

TEST_F(JobLoop, ReflectionFailureLeavesTheAnswer) {
  model->reply(act("browser_snapshot"));
  model->reply(done("all good"));
  model->reply("not json at all");
  ::testing::internal::CaptureStderr();
  auto report = run("look twice");
  std::string err = ::testing::internal::GetCapturedStderr();
  EXPECT_EQ(std::get<Done>(report.outcome).answer, "all good");
  EXPECT_NE(err.find("reflection skipped: inference: reflection was not JSON\n"), std::string::npos);
  EXPECT_TRUE(report.remembered.empty());
}

TEST_F(JobLoop, SessionBrowserIsParkedWhenThePersonIsNeededAndTakenOverLater) {
  session = "s_1";
  model->reply(act("browser_navigate", {{"url", "https://shop.test/cart"}}));
  model->reply(act("ask_user", {{"question", "Which size?"}}));
  browsers->answer = [](const tools::ToolCall&) -> Result<tools::ToolResult> {
    return tools::ToolResult{"cart", "https://shop.test/cart", std::nullopt};
  };
  auto report = run("buy a kettle");
  EXPECT_EQ(std::get<NeedsPerson>(report.outcome).kind, "question");
  ASSERT_EQ(browsers->parked.count("s_1"), 1u);
  EXPECT_EQ(browsers->parked["s_1"].url, "https://shop.test/cart");
  EXPECT_EQ(browsers->made[0]->closed, 0);

  RunOptions next;
  next.continuation = true;
  model->reply(done("Bought the large one."));
  run("large", next);
  EXPECT_EQ(observer->notes.back(), "resume: Picking up where I stopped, still on shop.test");
  EXPECT_NE(turn(2).find("Latest observation:\nYou are continuing a job you stopped partway. The browser is still "
                         "open on https://shop.test/cart, exactly where you left it: nothing was lost. Start with "
                         "browser_snapshot (not browser_navigate) and carry on from there."),
            std::string::npos);
  EXPECT_EQ(browsers->made.size(), 1u);  // the parked one, no new browser
  EXPECT_EQ(browsers->made[0]->closed, 1);

  // A job that does not continue drops whatever the session had parked.
  model->reply(done("x"));
  run("new job");
  EXPECT_EQ(browsers->dropped, (std::vector<std::string>{"s_1", "s_1"}));
}

TEST_F(JobLoop, DesktopScreenshotGoesToTheNextTurn) {
  model->reply(act("left_click", {{"x", 10}, {"y", 20}}, "click the icon"));
  model->reply(done("clicked"));
  RunOptions options;
  options.desktop_allowed = true;
  auto report = run("open the app", options);
  EXPECT_EQ(desktop_calls->size(), 1u);
  EXPECT_EQ(report.mode, "desktop");
  EXPECT_EQ(model->calls[1].messages.back().image, "UE5H");
  EXPECT_FALSE(model->calls[0].messages.back().image);
  EXPECT_EQ(observer->screens, (std::vector<std::string>{"image/png UE5H"}));
  ASSERT_TRUE(report.final_screen);
  EXPECT_EQ(report.final_screen->data, "UE5H");
}

}  // namespace
}  // namespace velmor::op
