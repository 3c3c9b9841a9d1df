#include <gtest/gtest.h>

#include <fstream>

#include "code/code.h"
#include "operator/fakes.h"

namespace velmor::op {
namespace {

using nlohmann::json;
using testing::LoopHarness;

class Guards : public LoopHarness {
 protected:
  std::string observation_of(std::size_t call) const {
    std::string t = turn(call);
    auto start = t.find("Latest observation:\n") + 20;
    return t.substr(start, t.rfind("\n\nNext action as one JSON object.") - start);
  }
  const NeedsPerson& needs(const RunReport& r) { return std::get<NeedsPerson>(r.outcome); }
};

TEST_F(Guards, SpendCapStopsEveryToolButDone) {
  // Each turn costs 10 in and 5 out: $0.00006 at these prices, so the cap
  // is reached on the second turn.
  RunOptions options;
  options.budget_usd = 0.0001;
  model->reply(act("browser_snapshot", json::object(), "look", "done: looked | left: buy"));
  model->reply(act("browser_snapshot"));
  auto report = run("buy", options);
  EXPECT_EQ(needs(report).kind, "budget");
  EXPECT_EQ(needs(report).question,
            "This job has used $0.00 of your plan so far (2 steps). Progress: done: looked | left: buy. Keep going?");
  EXPECT_EQ(observer->actions.back().tool, "budget");
  EXPECT_EQ(observer->actions.back().text, "Reached the spend cap for this job");
  EXPECT_EQ(observer->actions.back().detail, "$0.00");
  EXPECT_EQ(browsers->made.back()->calls.size(), 1u);

  // Past the cap a done still ends the job; a cap of 0 is no cap.
  options.budget_usd = 0.00001;
  model->reply(done("finished it"));
  EXPECT_EQ(std::get<Done>(run("x", options).outcome).answer, "finished it");
  options.budget_usd = 0;
  model->reply(act("browser_snapshot"));
  model->reply(done("finished"));
  model->reply(R"({"memories":[]})");
  EXPECT_EQ(std::get<Done>(run("x", options).outcome).answer, "finished");
}

TEST_F(Guards, ThinAnswerIsSentBackOnceAfterThreeSteps) {
  // After two steps a one-word answer ends the job.
  model->reply(act("browser_snapshot"));
  model->reply(act("browser_snapshot", {{"a", 1}}));
  model->reply(done("done"));
  model->reply(R"({"memories":[]})");
  EXPECT_EQ(std::get<Done>(run("buy milk").outcome).answer, "done");

  for (int i = 0; i < 3; ++i) model->reply(act("browser_snapshot", {{"i", i}}));
  model->reply(done("done"));
  model->reply(done("done"));
  model->reply(R"({"memories":[]})");
  observer = std::make_shared<testing::RecordingObserver>();
  auto report = run("buy milk");
  EXPECT_EQ(std::get<Done>(report.outcome).answer, "done");
  EXPECT_EQ(observer->notes, (std::vector<std::string>{"answer: Asked for the findings, not just \"done\""}));
  auto n = model->calls.size();
  EXPECT_EQ(observation_of(n - 2),
            "Not finished: your `answer` was \"done\", and that is all the person will ever see of this job. Write "
            "the findings themselves in `answer`: what you found on each page, the key facts, names and numbers, "
            "and what it adds up to, in plain sentences for the person (several paragraphs are fine). Put the "
            "sources in `result` as {\"kind\":\"links\",\"items\":[{\"title\":…,\"url\":…}]}. Then call done "
            "again. Use what you already read; do not browse more unless something is missing.");
  EXPECT_EQ(report.steps, 5u);
}

TEST_F(Guards, ResearchTasksWantFindingsUnlessALinksResultCame) {
  const std::string with_links =
      R"({"tool":"done","answer":"Two good options.","result":{"kind":"links","items":[{"title":"A","url":"https://a.test"}]}})";
  for (int i = 0; i < 3; ++i) model->reply(act("browser_snapshot", {{"i", i}}));
  model->reply(with_links);
  model->reply(R"({"memories":[]})");
  auto report = run("Compare the two kettles");
  EXPECT_EQ(std::get<Done>(report.outcome).answer, "Two good options.");
  EXPECT_EQ(report.result, json::parse(with_links)["result"]);

  for (int i = 0; i < 3; ++i) model->reply(act("browser_snapshot", {{"i", i}}));
  model->reply(done("Two good options exist, both under forty dollars."));
  model->reply(done(""));  // an empty second answer ends with the summary
  model->reply(R"({"memories":[]})");
  report = run("Compare the two kettles");
  EXPECT_EQ(std::get<Done>(report.outcome).answer, "Last step: done");
}

TEST_F(Guards, AskUserAndRequestDesktopEndTheRun) {
  model->reply(act("ask_user", json::object(), "Which date suits you?"));
  auto report = run("book a table");
  EXPECT_EQ(needs(report).kind, "question");
  EXPECT_EQ(needs(report).question, "Which date suits you?");
  EXPECT_EQ(observer->actions.back().detail, "Which date suits you?");

  model->reply(act("request_desktop", json::object(), "Numbers is a Mac app"));
  report = run("fill my spreadsheet");
  EXPECT_EQ(needs(report).question,
            "velmor wants to use the pointer and keyboard on this Mac: Numbers is a Mac app. Allow it?");
  EXPECT_EQ(observer->actions.back().tool, "request_desktop");
  EXPECT_FALSE(observer->actions.back().detail);

  RunOptions allowed;
  allowed.desktop_allowed = true;
  model->reply(act("request_desktop"));
  model->reply(done("ok"));
  run("x", allowed);
  EXPECT_EQ(observation_of(model->calls.size() - 1), "The desktop is already allowed. Use a desktop tool directly.");
}

TEST_F(Guards, RequestLoginNamesTheSiteAndTheBrowser) {
  browsers->answer = [](const tools::ToolCall&) -> Result<tools::ToolResult> {
    return tools::ToolResult{"login", "https://accounts.shop.test/in", std::nullopt};
  };
  model->reply(act("browser_navigate", {{"url", "https://accounts.shop.test/in"}}));
  model->reply(act("request_login", {{"why", "  to see orders "}}));
  auto report = run("check my orders");
  EXPECT_EQ(needs(report).kind, "login");
  EXPECT_EQ(needs(report).question,
            "accounts.shop.test needs you to sign in (to see orders), and the built-in browser is not one you can "
            "see. Connect your Chrome in Settings so velmor works in your own signed-in browser, then say you are "
            "done; or skip this site.");

  browsers->bridge = true;
  model->reply(act("request_login", {{"site", "bank.test"}}));
  report = run("check my balance");
  EXPECT_EQ(needs(report).question,
            "bank.test needs you to sign in. The page is open in the velmor window in your Chrome: sign in there "
            "(velmor never types passwords or codes), then tell me you are done and I will carry on.");
  env.set("VELMOR_BROWSER", "playwright");
  model->reply(act("request_login"));
  EXPECT_TRUE(needs(run("x")).question.starts_with("this site needs you to sign in, and the built-in"));
}

TEST_F(Guards, DesktopLockAndShellRefusal) {
  model->reply(act("left_click", {{"x", 1}, {"y", 2}}));
  model->reply(done("ok"));
  run("click");
  EXPECT_FALSE(desktop_made);
  EXPECT_EQ(observation_of(1),
            "Desktop tools need the person's OK first. Call request_desktop (with your reason in `thought`) or "
            "stay in the browser.");

  struct Case {
    std::string text;
    bool refused;
  } cases[] = {{"ls -la", true},          {"make && make install", true}, {"/usr/bin/true", true},
               {"Lsd effects", false},    {"Hello | world", true},        {"GIT status", true},
               {"echo", true},            {"a;b", false}};
  RunOptions allowed;
  allowed.desktop_allowed = true;
  for (const auto& c : cases) {
    observer = std::make_shared<testing::RecordingObserver>();
    model = std::make_shared<testing::ScriptedModel>();
    model->reply(act("type_text", {{"text", c.text}}));
    model->reply(done("ok"));
    run("type", allowed);
    bool refused = observation_of(1).starts_with(
        "Refused: that is a shell command typed into a terminal. velmor never runs commands through the "
        "desktop.");
    EXPECT_EQ(refused, c.refused) << c.text;
    EXPECT_EQ(observer->actions.front().tool, c.refused ? "error" : "type_text") << c.text;
  }
}

TEST_F(Guards, IrreversibleClicksAndKeysAskFirst) {
  struct Case {
    json reply;
    std::string observation;  // the page the model last saw
    bool held;
  } cases[] = {
      {{{"tool", "browser_click"}, {"arguments", {{"element", "Send message"}, {"ref", "e1"}}}}, "", true},
      {{{"tool", "browser_click"}, {"arguments", {{"element", "Sender settings"}, {"ref", "e1"}}}}, "", true},
      {{{"tool", "browser_click"}, {"arguments", {{"element", "Search"}, {"ref", "e1"}}}}, "", false},
      {{{"tool", "browser_click"}, {"arguments", {{"element", "Search"}}}, {"irreversible", true}}, "", true},
      {{{"tool", "browser_press_key"}, {"arguments", {{"key", "Enter"}}}}, "button \"Place Order\"", true},
      {{{"tool", "browser_press_key"}, {"arguments", {{"key", "Tab"}}}}, "button \"Place Order\"", false},
      {{{"tool", "browser_press_key"}, {"arguments", {{"key", "Enter"}}}}, "button \"Search\"", false},
  };
  for (const auto& c : cases) {
    observer = std::make_shared<testing::RecordingObserver>();
    browsers->answer = [&](const tools::ToolCall&) -> Result<tools::ToolResult> {
      return tools::ToolResult{c.observation, std::nullopt, std::nullopt};
    };
    json reply = c.reply;
    reply["thought"] = "go ahead";
    model->reply(act("browser_snapshot"));
    model->reply(reply.dump());
    model->reply(done("ok"));
    auto report = run("shop");
    EXPECT_EQ(std::holds_alternative<NeedsPerson>(report.outcome), c.held) << reply.dump();
    if (!c.held) continue;
    std::string pending = reply["tool"].get<std::string>() + " " +
                          (reply["tool"] == "browser_click" ? reply["arguments"]["element"].get<std::string>() : "Enter");
    EXPECT_EQ(needs(report).kind, "action");
    EXPECT_EQ(needs(report).question, "Before I do this: go ahead. (" + pending + ") Go ahead?");
    EXPECT_EQ(report.pending_action, pending);
    EXPECT_EQ(observer->actions.back().tool, "confirm");
    EXPECT_EQ(observer->actions.back().detail, pending);
    model = std::make_shared<testing::ScriptedModel>();
  }
}

TEST_F(Guards, OneApprovalLetsOneHeldActionThrough) {
  auto click = [](const std::string& element) {
    return act("browser_click", {{"element", element}, {"ref", "e1"}});
  };
  RunOptions approved;
  approved.confirmed = true;
  approved.approved = "browser_click Send message";
  model->reply(click("Send message"));
  model->reply(act("browser_press_key", {{"key", "Enter"}, {"element", "Send now"}}));
  auto report = run("send it", approved);
  EXPECT_EQ(browsers->made.back()->calls.size(), 1u);
  EXPECT_EQ(needs(report).kind, "action");
  EXPECT_EQ(report.pending_action, "browser_press_key Enter");

  model->reply(click("Send message"));
  model->reply(click("Send again"));
  report = run("send it", approved);
  EXPECT_EQ(report.pending_action, "browser_click Send again");

  RunOptions blanket;
  blanket.confirmed = true;
  model->reply(click("Delete account"));
  model->reply(click("Delete everything"));
  report = run("delete", blanket);
  EXPECT_EQ(browsers->made.back()->calls.size(), 1u);
  EXPECT_EQ(report.pending_action, "browser_click Delete everything");
}

TEST_F(Guards, NewRepositoryFolderIsAskedForThenAddedAndCoded) {
  auto folder = home / "code" / "shopfront";
  std::filesystem::create_directories(folder / ".git");
  json args{{"repo", "~/code/shopfront"}, {"instruction", "fix the footer"}, {"test", "make test"}};
  model->reply(act("code_run", args, "change the footer"));
  auto report = run("fix the footer of ~/code/shopfront");
  EXPECT_EQ(needs(report).question,
            "Allow velmor to work in " + folder.string() +
                "? It will be added to your repos (Settings \u2192 Coding) and the coder will only ever touch "
                "files inside it. Nothing is pushed without asking again.");
  EXPECT_TRUE(code::Repos::open_default().list().empty());

  RunOptions approved;
  approved.confirmed = true;
  approved.resumed = true;
  approved.approved = "code_run ~/code/shopfront";
  model->reply(act("code_run", args, "change the footer"));
  model->reply(done("Changed the footer on velmor/footer; tests pass."));
  model->reply(R"({"memories":[]})");
  report = run("fix the footer of ~/code/shopfront", approved);
  auto repos = code::Repos::open_default().list();
  ASSERT_EQ(repos.size(), 1u);
  EXPECT_EQ(repos[0].name, "shopfront");
  EXPECT_EQ(repos[0].test, "make test");
  EXPECT_EQ(report.mode, "code");
  EXPECT_EQ(coding->runs, (std::vector<std::string>{"native shopfront: fix the footer"}));
  EXPECT_EQ(coding->inspected, (std::vector<std::string>{"shopfront test"}));
  EXPECT_EQ(observer->notes,
            (std::vector<std::string>{"coder: Added shopfront (" + folder.string() + ") to your repos",
                                      "coder: Handing this to velmor native in shopfront",
                                      "coder: Running tests: make test"}));
  EXPECT_EQ(observation_of(model->calls.size() - 2),
            "velmor native finished in 7s (exit ok).\nBranch: velmor/footer (nothing pushed)\nChanges:\n 1 file "
            "changed\n\nWhat it said:\nchanged the footer\n\nTests (make test):\nran\nexit 0\n\n\nNext: if the tests "
            "pass, done with a plain summary (what changed, branch, test result); if not, code_run again with what "
            "failed; code_ship only if the person asked for a PR (they will be asked first).");
  // The built-in coder's tokens count toward the run.
  EXPECT_EQ(report.tokens.input_tokens, 10u * 3 + 100u);
  auto stats = code::CoderRecord::load(code::CoderRecord::default_file());
  EXPECT_EQ(stats["native"].runs, 1u);
  EXPECT_EQ(stats["native"].ok, 1u);
}

TEST_F(Guards, CodingToolsWithoutARepoSayWhatToDo) {
  model->reply(act("repo_inspect", {{"repo", "shop"}}));
  model->reply(done("ok"));
  run("look at my repo");
  EXPECT_EQ(observation_of(1),
            "No repos are set up. The person adds the folders velmor may work in under Settings \u2192 Coding "
            "\u2192 Repos. Tell them so with ask_user.");

  for (auto name : {"shop", "blog"}) {
    std::filesystem::create_directories(home / name);
    ASSERT_TRUE(code::Repos::open_default().upsert({name, (home / name).string(), "", ""}));
  }
  model = std::make_shared<testing::ScriptedModel>();
  model->reply(act("repo_inspect", {{"repo", "elsewhere"}}));
  model->reply(act("repo_inspect", {{"repo", "blog"}, {"what", "diff"}}));
  model->reply(act("code_ship", {{"repo", "blog"}}));
  model->reply(act("code_run", {{"repo", "blog"}}));
  auto report = run("tidy up");
  EXPECT_EQ(observation_of(1), "Which repo? Pass `repo` as one of: shop, blog.");
  EXPECT_EQ(observation_of(2), "ran\nexit 0\n");
  EXPECT_EQ(needs(report).kind, "action");  // shipping always asks first
  EXPECT_EQ(coding->inspected, (std::vector<std::string>{"blog diff"}));
}

TEST_F(Guards, PluginToolsDescribeAndCall) {
  model->reply(act("plugin_describe", {{"tool", "notes_add"}}, "see args"));
  model->reply(act("plugin_call", {{"tool", "notes_add"}, {"arguments", {{"text", "hi"}}}}));
  model->reply(act("plugin_call", {{"tool", "mail_send"}}));
  auto report = run("note it");
  EXPECT_EQ(observer->actions[0].detail, "notes_add");
  EXPECT_EQ(observation_of(1), "Tool notes_add:\n{\n  \"args\": [\n    \"q\"\n  ],\n  \"name\": \"notes_add\"\n}");
  EXPECT_EQ(observation_of(2), "plugin said ok");
  EXPECT_EQ(plugins->called, (std::vector<std::string>{R"(notes_add {"text":"hi"})"}));
  EXPECT_EQ(needs(report).kind, "action");  // a gated plugin tool asks first
}

}  // namespace
}  // namespace velmor::op
