// The browser tool against a stand-in for npx that plays the automation
// server and records how it was started and what it was asked.
#include "tools/browser.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <cstdlib>
#include <fstream>

#include "core/utf8.h"
#include "support/env_guard.h"
#include "support/temp_dir.h"
#include "tools/mcp_process_probe.h"

namespace velmor::tools {
namespace {

using nlohmann::json;
using ::testing::ElementsAre;
using ::testing::HasSubstr;
using ::testing::StartsWith;

const char* kSecrets[] = {"XAI_API_KEY",    "LLM_API_KEY",    "OPENAI_API_KEY",
                          "ANTHROPIC_API_KEY", "QUV_API_KEY", "QDRANT_API_KEY",
                          "VELMOR_PAIRING_CODE", "VELMOR_UI_TOKEN"};

std::filesystem::path fake_bin() {
  return std::filesystem::path(VELMOR_TOOLS_FIXTURES) / "fake_bin";
}

class BrowserFake : public ::testing::Test {
 protected:
  void SetUp() override {
    // Without the stand-ins the real npx would run, and reach the network.
    ASSERT_TRUE(std::filesystem::exists(fake_bin() / "npx")) << fake_bin();
    env_.set("PATH", fake_bin().string() + ":" + std::string(std::getenv("PATH")));
    env_.set("FAKE_NPX_LOG", log_path().string());
    env_.unset("FAKE_NPX_MODE");
    env_.unset("VELMOR_BROWSER");
    env_.unset("VELMOR_BROWSER_HEADED");
    env_.unset("VELMOR_BROWSER_NO_SANDBOX");
    for (const char* secret : kSecrets) env_.set(secret, "secret-value");
    env_.set("VELMOR_HARMLESS", "passes");
  }

  std::filesystem::path log_path() const { return tmp_ / "npx.log"; }
  std::filesystem::path base() const { return tmp_ / "base"; }

  std::vector<json> log() const {
    std::vector<json> entries;
    std::ifstream in(log_path());
    for (std::string line; std::getline(in, line);) entries.push_back(json::parse(line));
    return entries;
  }
  std::vector<json> calls() const {
    std::vector<json> out;
    for (auto& e : log())
      if (e.contains("call")) out.push_back(e);
    return out;
  }

  Result<ToolResult> run(const std::string& name, json args = json::object()) {
    return browser_.call(ToolCall{name, std::move(args)});
  }

  velmor::testing::TempDir tmp_;
  velmor::testing::EnvGuard env_;
  Browser browser_{BrowserOptions{base()}};
};

TEST_F(BrowserFake, StartsTheServerWithItsFlagsAndNoSecrets) {
  env_.set("VELMOR_BROWSER_NO_SANDBOX", "1");
  ASSERT_TRUE(run("browser_navigate", {{"url", "https://example.com/"}}));
  auto dir = browser_.run_dir();
  ASSERT_TRUE(dir);
  EXPECT_EQ(dir->parent_path(), base() / "playwright-mcp");
  EXPECT_THAT(dir->filename().string(), StartsWith(std::to_string(::getpid()) + "-"));

  json start = log().front();
  EXPECT_EQ(start["argv"], json({"--yes", "--quiet", "@playwright/mcp@latest", "--isolated",
                                 "--output-dir", dir->string(), "--file-paths", "absolute",
                                 "--timeout-action", "15000", "--headless", "--no-sandbox"}));
  EXPECT_EQ(std::filesystem::canonical(start["cwd"].get<std::string>()),
            std::filesystem::canonical(*dir));
  const json& env = start["env"];
  for (const char* secret : kSecrets) EXPECT_FALSE(env.contains(secret)) << secret;
  EXPECT_EQ(env["VELMOR_HARMLESS"], "passes");
  EXPECT_EQ(env["PLAYWRIGHT_MCP_OUTPUT_DIR"], dir->string());
  EXPECT_EQ(env["PLAYWRIGHT_MCP_FILE_PATHS"], "absolute");
  EXPECT_EQ(env["NPM_CONFIG_UPDATE_NOTIFIER"], "false");
  EXPECT_EQ(env["NO_UPDATE_NOTIFIER"], "1");
}

TEST_F(BrowserFake, HeadedWhenAskedAndSandboxedByDefault) {
  env_.set("VELMOR_BROWSER_HEADED", "1");
  ASSERT_TRUE(run("browser_snapshot"));
  json argv = log().front()["argv"];
  EXPECT_EQ(std::count(argv.begin(), argv.end(), "--headless"), 0);
  EXPECT_EQ(std::count(argv.begin(), argv.end(), "--no-sandbox"), 0);
}

TEST_F(BrowserFake, ActionReadsTheSnapshotFileAndTakesAJpeg) {
  auto result = run("browser_navigate", {{"href", "http://127.0.0.1:1/"}, {"url", "http://127.0.0.1:9/a"}});
  ASSERT_TRUE(result) << result.error().to_string();
  EXPECT_EQ(result->url, "http://127.0.0.1:9/a");
  EXPECT_THAT(result->text, HasSubstr("### Accessibility snapshot\n- generic [ref=e1]:"));
  EXPECT_THAT(result->text, HasSubstr("button \"Log in\" [ref=e12]"));
  ASSERT_TRUE(result->image);
  EXPECT_EQ(result->image->mime, "image/jpeg");
  EXPECT_EQ(result->image->data, "/9j/FAKE");
  auto sent = calls();
  ASSERT_EQ(sent.size(), 2u);
  EXPECT_EQ(sent[1]["call"], "browser_take_screenshot");
  EXPECT_EQ(sent[1]["arguments"], json({{"type", "jpeg"}}));
}

TEST_F(BrowserFake, AScreenshotFailureNeverFailsTheAction) {
  env_.set("FAKE_NPX_MODE", "no-screenshot");
  auto result = run("browser_snapshot");
  ASSERT_TRUE(result) << result.error().to_string();
  EXPECT_FALSE(result->image);
  EXPECT_THAT(result->text, HasSubstr("- Page URL: about:blank"));
}

TEST_F(BrowserFake, RefsGoOutAsTargets) {
  ASSERT_TRUE(run("browser_click", {{"selector", "[ref=e12]"}}));
  ASSERT_TRUE(run("browser_fill_form",
                  {{"fields", {{{"name", "Search"}, {"ref", "e13"}, {"value", "cats"}}}}}));
  auto sent = calls();
  ASSERT_EQ(sent.size(), 4u);
  EXPECT_EQ(sent[0]["arguments"],
            json({{"selector", "[ref=e12]"}, {"element", "element e12"}, {"target", "e12"}}));
  EXPECT_EQ(sent[2]["arguments"],
            json({{"fields",
                   {{{"name", "Search"}, {"type", "textbox"}, {"target", "e13"}, {"value", "cats"}}}}}));
}

TEST_F(BrowserFake, FailedPageActionShowsThePageNow) {
  env_.set("FAKE_NPX_PAGE_CHARS", "9000");
  auto result = run("browser_click", {{"ref", "e99"}, {"element", "Ghost"}});
  ASSERT_TRUE(result) << result.error().to_string();
  const std::string marker = "\n\n### Page now (after the failed attempt)\n";
  EXPECT_THAT(result->text,
              StartsWith("computer: browser_click failed: ### Error\nError: Ref e99 not found"));
  auto at = result->text.find(marker);
  ASSERT_NE(at, std::string::npos);
  std::string page = result->text.substr(at + marker.size());
  EXPECT_THAT(page, StartsWith("### Page\n- Page URL: about:blank"));
  EXPECT_TRUE(page.ends_with("\n…\n"));
  EXPECT_LT(core::char_count(page), 6000u + 3);
  EXPECT_FALSE(result->url);
  EXPECT_FALSE(result->image);
  EXPECT_EQ(calls().back()["call"], "browser_snapshot");
}

TEST_F(BrowserFake, OtherFailuresAreReturnedAsTheyAre) {
  env_.set("FAKE_NPX_MODE", "navigate-fails");
  auto result = run("browser_navigate", {{"url", "http://127.0.0.1:9/"}});
  ASSERT_FALSE(result);
  EXPECT_EQ(result.error().to_string(),
            "computer: browser_navigate failed: ### Error\nError: net::ERR_CONNECTION_REFUSED");
}

TEST_F(BrowserFake, ReadPageRunsThePageScript) {
  env_.set("FAKE_NPX_PAGE_TEXT", "Opening hours: nine to five.");
  auto result = run("browser_read_page", {{"start", "0"}});
  ASSERT_TRUE(result) << result.error().to_string();
  EXPECT_THAT(result->text, StartsWith("### Page text\n- Title: Fake page\n"));
  EXPECT_THAT(result->text, HasSubstr("Opening hours: nine to five."));
  EXPECT_EQ(result->url, "about:blank");
  EXPECT_FALSE(result->image);
  auto sent = calls();
  ASSERT_EQ(sent.size(), 1u);
  EXPECT_EQ(sent[0]["call"], "browser_evaluate");
  EXPECT_EQ(sent[0]["arguments"],
            json({{"function",
                   "() => { const t = document.body ? document.body.innerText : ''; return "
                   "JSON.stringify({title: document.title, url: location.href, length: t.length, "
                   "text: t.slice(0, 60000)}); }"}}));
}

TEST_F(BrowserFake, FindSearchesAFreshSnapshot) {
  auto result = run("browser_find", {{"text", "log in"}});
  ASSERT_TRUE(result) << result.error().to_string();
  EXPECT_THAT(result->text, HasSubstr("button \"Log in\" [ref=e12]"));
  EXPECT_EQ(result->url, "about:blank");
  auto sent = calls();
  ASSERT_EQ(sent.size(), 1u);
  EXPECT_EQ(sent[0]["call"], "browser_snapshot");
  EXPECT_EQ(sent[0]["arguments"], json::object());
}

TEST_F(BrowserFake, GuardsRefuseBeforeAnyServerStarts) {
  struct Case {
    const char* tool;
    json args;
    const char* error;
  };
  const Case cases[] = {
      {"browser_evaluate", {{"function", "() => 1"}}, "computer: blocked browser tool `browser_evaluate`"},
      {"browser_navigate", {{"url", "file:///etc/passwd"}},
       "computer: browser_navigate only allows http and https URLs"},
      {"browser_click", {{"element", "Buy"}}, "computer: this action needs a snapshot ref such as e12"},
  };
  for (const auto& c : cases) {
    auto result = run(c.tool, c.args);
    ASSERT_FALSE(result);
    EXPECT_THAT(result.error().to_string(), StartsWith(c.error));
  }
  EXPECT_FALSE(browser_.started());
  EXPECT_TRUE(log().empty());
}

TEST_F(BrowserFake, MissingNpxLeavesNothingBehindAndIsRetried) {
  velmor::testing::TempDir empty;
  env_.set("PATH", empty.path().string());
  auto result = run("browser_snapshot");
  ASSERT_FALSE(result);
  EXPECT_EQ(result.error().to_string(),
            "computer: failed to start Playwright MCP (`npx @playwright/mcp`). npx: No such file "
            "or directory (os error 2)");
  EXPECT_FALSE(browser_.started());
  EXPECT_TRUE(std::filesystem::is_empty(base() / "playwright-mcp"));

  env_.set("PATH", fake_bin().string() + ":/usr/bin:/bin");
  EXPECT_TRUE(run("browser_snapshot"));
  EXPECT_TRUE(browser_.started());
}

TEST_F(BrowserFake, AServerThatDiesAtStartIsCleanedUp) {
  env_.set("FAKE_NPX_MODE", "exit-at-start");
  auto result = run("browser_snapshot");
  ASSERT_FALSE(result);
  // Whether the handshake was written before the child ended is a race.
  std::string error = result.error().to_string();
  EXPECT_TRUE(error.starts_with("computer: Playwright MCP closed (status=") ||
              error.starts_with("computer: mcp write: "))
      << error;
  EXPECT_FALSE(browser_.started());
  EXPECT_TRUE(std::filesystem::is_empty(base() / "playwright-mcp"));
}

TEST_F(BrowserFake, CloseStopsTheServerAndDeletesItsFiles) {
  ASSERT_TRUE(run("browser_navigate", {{"url", "https://example.com/"}}));
  pid_t server = *browser_.server_pid();
  auto dir = *browser_.run_dir();
  ASSERT_TRUE(std::filesystem::exists(dir / "page-1.yml"));
  browser_.close();
  EXPECT_EQ(calls().back()["call"], "browser_close");
  EXPECT_FALSE(browser_.started());
  EXPECT_FALSE(std::filesystem::exists(dir));
  EXPECT_TRUE(velmor::testing::group_members(server).empty());
  EXPECT_FALSE(velmor::testing::process_alive(server));

  // A later call starts afresh.
  ASSERT_TRUE(run("browser_snapshot"));
  EXPECT_NE(*browser_.run_dir(), dir);
}

TEST_F(BrowserFake, DroppingABrowserStopsItsServer) {
  pid_t server = 0;
  {
    Browser other{BrowserOptions{base()}};
    ASSERT_TRUE(other.call(ToolCall{"browser_snapshot", json::object()}));
    server = *other.server_pid();
  }
  EXPECT_FALSE(velmor::testing::process_alive(server));
  EXPECT_TRUE(std::filesystem::is_empty(base() / "playwright-mcp"));
}

}  // namespace
}  // namespace velmor::tools
