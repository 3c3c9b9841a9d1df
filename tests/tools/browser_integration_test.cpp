// The browser tool driving the real automation server (npx @playwright/mcp
// with the system's chromium) against pages served on 127.0.0.1.
#include <httplib.h>

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <cstdlib>
#include <regex>
#include <thread>

#include "core/environment.h"
#include "core/process.h"
#include "core/utf8.h"
#include "support/env_guard.h"
#include "support/temp_dir.h"
#include "tools/browser.h"
#include "tools/mcp_process_probe.h"

namespace velmor::tools {
namespace {

using nlohmann::json;
using ::testing::HasSubstr;
using ::testing::StartsWith;
using namespace std::chrono_literals;

std::string escape_html(const std::string& s) {
  std::string out;
  for (char c : s) {
    if (c == '<') out += "&lt;";
    else if (c == '>') out += "&gt;";
    else if (c == '&') out += "&amp;";
    else out += c;
  }
  return out;
}

std::string long_page() {
  std::string body = "<html><head><title>Long read</title></head><body><h1>Town notes</h1>";
  const char* topics[] = {"gardens and hedges", "the river ferry", "market stalls",
                          "school holidays", "the bakery on the corner", "cycling lanes"};
  for (int i = 0; i < 300; ++i) {
    body += "<p>Note " + std::to_string(i) + " is about " + topics[i % 6] +
            ", and what the neighbours said about " + topics[(i + 2) % 6] + " this week.</p>";
    if (i == 210)
      body += "<p>The lighthouse museum opens at nine and closes at five; tickets cost four "
              "coins.</p>";
  }
  return body + "</body></html>";
}

class Site {
 public:
  Site() {
    server_.Get("/", [](const httplib::Request&, httplib::Response& res) {
      res.set_content(
          "<html><head><title>Shop front</title></head><body><h1>Welcome</h1>"
          "<button onclick=\"document.getElementById('status').textContent='Button was "
          "pressed'\">Press me</button><p id=\"status\">Waiting</p>"
          "<form action=\"/search\" method=\"get\"><input name=\"q\" aria-label=\"Search "
          "query\"><button type=\"submit\">Search</button></form>"
          "<a href=\"/long\">Long read</a></body></html>",
          "text/html");
    });
    server_.Get("/search", [](const httplib::Request& req, httplib::Response& res) {
      res.set_content("<html><head><title>Results</title></head><body><p>You searched for: " +
                          escape_html(req.get_param_value("q")) + "</p></body></html>",
                      "text/html");
    });
    server_.Get("/long", [](const httplib::Request&, httplib::Response& res) {
      res.set_content(long_page(), "text/html");
    });
    port_ = server_.bind_to_any_port("127.0.0.1");
    thread_ = std::thread([this] { server_.listen_after_bind(); });
  }
  ~Site() {
    server_.stop();
    thread_.join();
  }
  std::string url(const std::string& path) const {
    return "http://127.0.0.1:" + std::to_string(port_) + path;
  }

 private:
  httplib::Server server_;
  int port_ = 0;
  std::thread thread_;
};

class BrowserReal : public ::testing::Test {
 protected:
  void SetUp() override {
    std::string path = core::get_env("PATH").value_or("/usr/bin:/bin");
    if (!core::find_program("npx", path)) GTEST_SKIP() << "npx is not installed";
    auto chromium = core::find_program("chromium", path);
    if (!chromium) chromium = core::find_program("chromium-browser", path);
    if (!chromium) GTEST_SKIP() << "chromium is not installed";
    env_.set("PLAYWRIGHT_MCP_EXECUTABLE_PATH", chromium->string());
    env_.set("VELMOR_BROWSER_NO_SANDBOX", "1");
    env_.unset("VELMOR_BROWSER");
    env_.unset("VELMOR_BROWSER_HEADED");
  }

  ToolResult ok(Browser& browser, const std::string& name, json args = json::object()) {
    auto result = browser.call(ToolCall{name, std::move(args)});
    EXPECT_TRUE(result) << name << ": " << result.error().to_string();
    return result ? *result : ToolResult{};
  }
  ToolResult ok(const std::string& name, json args = json::object()) {
    return ok(browser_, name, std::move(args));
  }

  // The ref of the first snapshot line with this role and name.
  static std::string ref_of(const std::string& snapshot, const std::string& role,
                            const std::string& name) {
    std::smatch m;
    std::regex line(role + " \"" + name + "\"[^\\n]*\\[ref=([A-Za-z0-9_-]+)\\]");
    return std::regex_search(snapshot, m, line) ? m[1].str() : "";
  }

  velmor::testing::EnvGuard env_;
  velmor::testing::TempDir tmp_;
  Site site_;
  Browser browser_{BrowserOptions{tmp_.path()}};
};

TEST_F(BrowserReal, NavigatesClicksTypesAndFinds) {
  auto page = ok("browser_navigate", {{"url", site_.url("/")}});
  EXPECT_EQ(page.url, site_.url("/"));
  // The server links its snapshot file; the text carries the file's tree.
  EXPECT_THAT(page.text, HasSubstr("### Accessibility snapshot"));
  ASSERT_TRUE(page.image);
  EXPECT_EQ(page.image->mime, "image/jpeg");
  EXPECT_FALSE(page.image->data.empty());

  auto snapshot = ok("browser_snapshot");
  EXPECT_THAT(snapshot.text, HasSubstr("heading \"Welcome\""));
  std::string button = ref_of(snapshot.text, "button", "Press me");
  std::string box = ref_of(snapshot.text, "textbox", "Search query");
  ASSERT_FALSE(button.empty()) << snapshot.text;
  ASSERT_FALSE(box.empty()) << snapshot.text;

  auto clicked = ok("browser_click", {{"ref", button}, {"element", "Press me"}});
  EXPECT_THAT(clicked.text, HasSubstr("Button was pressed"));

  auto typed = ok("browser_type", {{"selector", "[ref=" + box + "]"}, {"value", "blue shoes"},
                                   {"press_enter", "yes"}});
  EXPECT_EQ(typed.url, site_.url("/search?q=blue+shoes"));
  EXPECT_THAT(typed.text, HasSubstr("You searched for: blue shoes"));

  auto found = ok("browser_find", {{"query", "searched"}});
  EXPECT_THAT(found.text, HasSubstr("- Page URL: " + site_.url("/search?q=blue+shoes")));
  EXPECT_THAT(found.text, HasSubstr("### Find: "));
  EXPECT_THAT(found.text, HasSubstr("You searched for: blue shoes"));
  EXPECT_EQ(found.url, site_.url("/search?q=blue+shoes"));
}

TEST_F(BrowserReal, FailuresComeBackAsTextTheModelCanUse) {
  ok("browser_navigate", {{"url", site_.url("/")}});
  auto missed = ok("browser_click", {{"ref", "e999"}, {"element", "Nothing"}});
  EXPECT_THAT(missed.text, StartsWith("computer: browser_click failed: "));
  EXPECT_THAT(missed.text, HasSubstr("\n\n### Page now (after the failed attempt)\n"));
  EXPECT_THAT(missed.text, HasSubstr("button \"Press me\""));
  EXPECT_FALSE(missed.url);

  struct Refused {
    const char* tool;
    json args;
    const char* error;
  };
  const Refused refused[] = {
      {"browser_evaluate", {{"function", "() => document.cookie"}},
       "computer: blocked browser tool `browser_evaluate`. Allowed: browser_read_page, "},
      {"browser_navigate", {{"url", "file:///etc/passwd"}},
       "computer: browser_navigate only allows http and https URLs"},
      {"browser_navigate", {{"url", "chrome://settings"}},
       "computer: browser_navigate only allows http and https URLs"},
  };
  for (const auto& r : refused) {
    auto result = browser_.call(ToolCall{r.tool, r.args});
    ASSERT_FALSE(result) << r.tool;
    EXPECT_THAT(result.error().to_string(), StartsWith(r.error));
  }
}

TEST_F(BrowserReal, ReadsLongPagesInWindowsAndByQuery) {
  ok("browser_navigate", {{"url", site_.url("/long")}});
  auto first = ok("browser_read_page");
  EXPECT_THAT(first.text, StartsWith("### Page text\n- Title: Long read\n- Characters 0–"));
  EXPECT_LE(core::char_count(first.text), 12000u);
  EXPECT_EQ(first.url, site_.url("/long"));
  std::smatch m;
  ASSERT_TRUE(std::regex_search(first.text, m,
                                std::regex(R"(browser_read_page with \{"start": (\d+)\})")))
      << first.text.substr(first.text.size() - 300);
  std::string next = m[1].str();

  auto second = ok("browser_read_page", {{"start", next}});
  EXPECT_THAT(second.text, HasSubstr("- Characters " + next + "–"));

  auto focused = ok("browser_read_page", {{"query", "lighthouse museum tickets"}});
  EXPECT_THAT(focused.text, StartsWith("### Page text (focused)\n"));
  EXPECT_THAT(focused.text, HasSubstr("The lighthouse museum opens at nine"));
  EXPECT_LE(core::char_count(focused.text), 12000u);
}

// Whichever way a browser ends (closed by its job, closed because it was
// parked when the program is interrupted, or just dropped) no process the
// server started may outlive it.
TEST_F(BrowserReal, EndingABrowserLeavesNoProcessBehind) {
  auto run_and_watch = [&](Browser& browser) {
    ok(browser, "browser_navigate", {{"url", site_.url("/")}});
    auto pid = browser.server_pid();
    EXPECT_TRUE(pid);
    auto tree = velmor::testing::descendants(pid.value_or(0));
    EXPECT_GE(tree.size(), 2u) << "npx, the server and chromium are expected";
    tree.push_back(pid.value_or(0));
    return std::make_pair(tree, browser.run_dir().value_or(""));
  };
  auto expect_gone = [](const std::vector<pid_t>& tree, const std::filesystem::path& dir) {
    for (pid_t p : tree) EXPECT_TRUE(velmor::testing::wait_gone(p, 5s)) << "pid " << p;
    EXPECT_FALSE(std::filesystem::exists(dir));
  };

  auto [closed_tree, closed_dir] = run_and_watch(browser_);
  browser_.close();
  EXPECT_FALSE(browser_.started());
  expect_gone(closed_tree, closed_dir);

  auto parked = std::make_unique<Browser>(BrowserOptions{tmp_.path()});
  auto [parked_tree, parked_dir] = run_and_watch(*parked);
  park_browser("s_integration", std::move(parked), site_.url("/"));
  close_parked_browsers();
  EXPECT_FALSE(take_parked_browser("s_integration"));
  expect_gone(parked_tree, parked_dir);

  auto dropped = std::make_unique<Browser>(BrowserOptions{tmp_.path()});
  auto [dropped_tree, dropped_dir] = run_and_watch(*dropped);
  dropped.reset();
  expect_gone(dropped_tree, dropped_dir);
}

}  // namespace
}  // namespace velmor::tools
