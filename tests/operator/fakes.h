// Fakes for the job loop's seams and a harness that runs an Operator over
// them with its own home directory. Everything answers at once and records
// what it was given.
#pragma once

#include <gtest/gtest.h>

#include <deque>
#include <functional>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include "operator/operator.h"
#include "support/env_guard.h"
#include "support/temp_dir.h"

namespace velmor::op::testing {

struct ModelCall {
  std::string system;
  std::vector<model::Message> messages;
};

// Answers from a script, first in first out; an empty script is an error.
class ScriptedModel final : public model::ChatModel {
 public:
  void reply(std::string text, model::TokenUse usage = {10, 0, 5, false}) {
    script_.push_back(model::ChatReply{std::move(text), usage});
  }
  void failure(std::string message) { script_.push_back(std::unexpected(Error::inference(message))); }
  Result<model::ChatReply> chat(const std::string& system, const std::vector<model::Message>& messages) override {
    calls.push_back({system, messages});
    if (script_.empty()) return fail(Error::inference("script is empty"));
    auto next = std::move(script_.front());
    script_.pop_front();
    return next;
  }
  std::size_t pending() const { return script_.size(); }
  std::vector<ModelCall> calls;

 private:
  std::deque<Result<model::ChatReply>> script_;
};

// What one fake browser was asked; outlives the browser, which the job owns.
struct BrowserLog {
  std::vector<tools::ToolCall> calls;
  std::vector<std::string> focuses;  // the focus at each call
  int closed = 0;
};

// A browser whose answer to each call comes from `answer`.
class FakeBrowser final : public tools::BrowserTool {
 public:
  using Answer = std::function<Result<tools::ToolResult>(const tools::ToolCall&)>;
  FakeBrowser(Answer answer, std::shared_ptr<BrowserLog> log) : answer_(std::move(answer)), log_(std::move(log)) {}
  Result<tools::ToolResult> call(const tools::ToolCall& call) override {
    started_ = true;
    log_->calls.push_back(call);
    log_->focuses.push_back(focus_);
    return answer_(call);
  }
  void close() override {
    ++log_->closed;
    started_ = false;
  }
  void set_focus(std::string focus) override { focus_ = std::move(focus); }
  bool started() const override { return started_; }

 private:
  Answer answer_;
  std::shared_ptr<BrowserLog> log_;
  std::string focus_;
  bool started_ = false;
};

// Hands out FakeBrowsers that share one answer function (by default a page
// at https://shop.test/ whose text names the tool) and keeps parked ones by
// key. `made` holds the log of every browser handed out.
class FakeBrowsers final : public BrowserSource {
 public:
  std::unique_ptr<tools::BrowserTool> fresh() override {
    made.push_back(std::make_shared<BrowserLog>());
    return std::make_unique<FakeBrowser>([this](const tools::ToolCall& c) { return answer(c); }, made.back());
  }
  std::optional<tools::ParkedBrowser> take_parked(const std::string& key) override {
    auto it = parked.find(key);
    if (it == parked.end()) return std::nullopt;
    auto p = std::move(it->second);
    parked.erase(it);
    return p;
  }
  void park(const std::string& key, std::unique_ptr<tools::BrowserTool> browser,
            std::optional<std::string> url) override {
    parked[key] = tools::ParkedBrowser{std::move(browser), std::move(url)};
  }
  void drop_parked(const std::string& key) override {
    dropped.push_back(key);
    parked.erase(key);
  }
  bool bridge_connected() override { return bridge; }

  FakeBrowser::Answer answer = [](const tools::ToolCall& c) -> Result<tools::ToolResult> {
    return tools::ToolResult{"page after " + c.name, "https://shop.test/", std::nullopt};
  };
  std::vector<std::shared_ptr<BrowserLog>> made;
  std::map<std::string, tools::ParkedBrowser> parked;
  std::vector<std::string> dropped;
  bool bridge = false;
};

// Records its calls into `calls` (shared, since the job owns the desktop)
// and answers with a screenshot.
class FakeDesktop final : public tools::DesktopTool {
 public:
  explicit FakeDesktop(std::shared_ptr<std::vector<tools::ToolCall>> calls) : calls_(std::move(calls)) {}
  Result<tools::ToolResult> call(const tools::ToolCall& call) override {
    calls_->push_back(call);
    return tools::ToolResult{"{\"ok\":true}", std::nullopt, tools::Image{"image/png", "UE5H"}};
  }
  Result<tools::Image> screenshot() override { return tools::Image{"image/png", "UE5H"}; }

 private:
  std::shared_ptr<std::vector<tools::ToolCall>> calls_;
};

class FakeCoding final : public CodingRuns {
 public:
  Result<code::CoderResult> delegate_run(const code::Coder& coder, const code::Repo& repo,
                                         const std::string& instruction, Observer&) override {
    runs.push_back(coder.id + " " + repo.name + ": " + instruction);
    return run_result;
  }
  Result<code::CoderResult> native_run(const code::Repo& repo, const std::string& instruction,
                                       Observer&, SideUsage& side) override {
    runs.push_back("native " + repo.name + ": " + instruction);
    side.add(native_usage);
    return run_result;
  }
  Result<std::string> inspect(const code::Repo& repo, const std::string& what, Observer&) override {
    inspected.push_back(repo.name + " " + what);
    return inspect_output;
  }
  Result<std::string> ship(const std::string& folder, const std::string& title, const std::string& body) override {
    shipped.push_back(folder + "|" + title + "|" + body);
    return std::string("opened https://git.test/pr/1");
  }
  code::CoderResult run_result{"native", "changed the footer", " 1 file changed", "velmor/footer", 7, true};
  Result<std::string> inspect_output = std::string("ran\nexit 0\n");
  model::TokenUse native_usage{100, 0, 50, false};
  std::vector<std::string> runs, inspected, shipped;
};

class FakePlugins final : public PluginTools {
 public:
  std::vector<PluginToolInfo> list() override { return tools; }
  Result<nlohmann::json> describe(const std::string& tool) override {
    return nlohmann::json{{"name", tool}, {"args", {"q"}}};
  }
  bool is_gated(const std::string& tool) override { return tool == "mail_send"; }
  Result<std::string> call(const std::string& tool, const nlohmann::json& args) override {
    called.push_back(tool + " " + args.dump());
    return std::string("plugin said ok");
  }
  std::vector<PluginToolInfo> tools;
  std::vector<std::string> called;
};

class NoSleep final : public Sleeper {
 public:
  void sleep(std::chrono::milliseconds d) override { slept.push_back(d); }
  std::vector<std::chrono::milliseconds> slept;
};

struct ActionEvent {
  std::string mode, text, tool;
  std::optional<std::string> detail;
};

// Records everything; stops when `stop_at` calls of should_stop were made
// and hands out queued steers one per call.
class RecordingObserver final : public Observer {
 public:
  void action(const std::string& mode, const std::string& text, const std::string& tool,
              const std::optional<std::string>& detail) override {
    actions.push_back({mode, text, tool, detail});
  }
  void screen(const std::string&, const std::string& mime, const std::string& data) override {
    screens.push_back(mime + " " + data);
  }
  void note(const std::string& source, const std::string& text) override {
    notes.push_back(source + ": " + text);
  }
  void location(const std::string& url) override { locations.push_back(url); }
  bool should_stop() override { return ++stop_checks > stop_after; }
  std::optional<std::string> take_steer() override {
    if (steers.empty()) return std::nullopt;
    auto s = steers.front();
    steers.pop_front();
    return s;
  }
  std::vector<std::string> tools() const {
    std::vector<std::string> out;
    for (const auto& a : actions) out.push_back(a.tool);
    return out;
  }

  std::vector<ActionEvent> actions;
  std::vector<std::string> screens, notes, locations;
  std::deque<std::string> steers;
  int stop_checks = 0;
  int stop_after = 1 << 30;
};

// A home directory, an empty PATH (only the native coder is installed) and
// an Operator over the fakes above.
class LoopHarness : public ::testing::Test {
 protected:
  LoopHarness() {
    env.set("VELMOR_HOME", home.path().string());
    env.set("HOME", home.path().string());
    env.set("PATH", (home / "bin").string());
    env.keep("VELMOR_BROWSER");
  }

  Operator make_operator() {
    Seams seams;
    seams.model = model;
    seams.price = [](model::ContextLength) { return model::PriceRow{1.0, 0.1, 10.0}; };
    seams.set_cache_key = [this](std::optional<std::string> key) { cache_keys.push_back(key.value_or("")); };
    seams.browsers = browsers;
    seams.desktop = [this] {
      desktop_made = true;
      return std::make_unique<FakeDesktop>(desktop_calls);
    };
    seams.coding = coding;
    seams.plugins = plugins;
    seams.sleeper = sleeper;
    return Operator(config, observer, std::move(seams));
  }

  // Runs `task` straight through the job loop.
  RunReport run(const std::string& task, RunOptions options = {}) {
    options.observer = observer;
    auto op = make_operator();
    return op.run_task(task, conversation, options, session);
  }

  // A JSON action reply.
  static std::string act(const std::string& tool, nlohmann::json args = nlohmann::json::object(),
                         const std::string& thought = "thinking", const std::string& progress = "") {
    nlohmann::json reply{{"tool", tool}, {"arguments", args}, {"thought", thought}};
    if (!progress.empty()) reply["progress"] = progress;
    return reply.dump();
  }
  static std::string done(const std::string& answer, const std::string& thought = "finished") {
    return nlohmann::json{{"tool", "done"}, {"answer", answer}, {"thought", thought}}.dump();
  }
  // The last message of the model's call `i` (the turn message).
  std::string turn(std::size_t i) const { return model->calls.at(i).messages.back().text; }

  velmor::testing::TempDir home;
  velmor::testing::CleanEnv env;
  Config config;
  std::shared_ptr<ScriptedModel> model = std::make_shared<ScriptedModel>();
  std::shared_ptr<FakeBrowsers> browsers = std::make_shared<FakeBrowsers>();
  std::shared_ptr<FakeCoding> coding = std::make_shared<FakeCoding>();
  std::shared_ptr<FakePlugins> plugins = std::make_shared<FakePlugins>();
  std::shared_ptr<NoSleep> sleeper = std::make_shared<NoSleep>();
  std::shared_ptr<RecordingObserver> observer = std::make_shared<RecordingObserver>();
  std::shared_ptr<std::vector<tools::ToolCall>> desktop_calls = std::make_shared<std::vector<tools::ToolCall>>();
  bool desktop_made = false;
  std::vector<std::string> cache_keys;
  std::string conversation;
  std::optional<std::string> session;
};

}  // namespace velmor::op::testing
