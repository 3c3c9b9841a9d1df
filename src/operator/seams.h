// The job loop's side effects, each behind one small interface with one
// real implementation (real_seams.cpp), so the loop runs in tests without
// a browser, a desktop server, coding agents or real waiting.
#pragma once

#include <nlohmann/json.hpp>

#include <chrono>
#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "code/code.h"
#include "core/config.h"
#include "core/error.h"
#include "model/chat_model.h"
#include "model/model.h"
#include "operator/observer.h"
#include "tools/browser.h"
#include "tools/desktop.h"
#include "tools/tool_types.h"

namespace velmor::op {

// Where a job gets its browser, and where a session keeps one between jobs.
class BrowserSource {
 public:
  virtual ~BrowserSource() = default;
  virtual std::unique_ptr<tools::BrowserTool> fresh() = 0;
  // The browser parked under `key` with the address it was on.
  virtual std::optional<tools::ParkedBrowser> take_parked(const std::string& key) = 0;
  virtual void park(const std::string& key, std::unique_ptr<tools::BrowserTool> browser,
                    std::optional<std::string> url) = 0;
  virtual void drop_parked(const std::string& key) = 0;
  // True when the Chrome extension is connected.
  virtual bool bridge_connected() = 0;
};

// Token counts of work done for the job outside its own model calls (the
// built-in coder). Thread-safe.
class SideUsage {
 public:
  void add(const model::TokenUse& use) {
    std::lock_guard lock(mutex_);
    use_ += use;
  }
  // Everything added since the last take; resets to zero.
  model::TokenUse take() {
    std::lock_guard lock(mutex_);
    return std::exchange(use_, model::TokenUse{});
  }

 private:
  std::mutex mutex_;
  model::TokenUse use_;
};

// Coding runs inside an allowed repository.
class CodingRuns {
 public:
  virtual ~CodingRuns() = default;
  // A coding agent's run on a fresh branch.
  virtual Result<code::CoderResult> delegate_run(const code::Coder& coder, const code::Repo& repo,
                                                 const std::string& instruction,
                                                 Observer& observer) = 0;
  // The built-in coder; its model calls are added to `side`.
  virtual Result<code::CoderResult> native_run(const code::Repo& repo,
                                               const std::string& instruction,
                                               Observer& observer, SideUsage& side) = 0;
  // status, diff, log or test.
  virtual Result<std::string> inspect(const code::Repo& repo, const std::string& what,
                                      Observer& observer) = 0;
  // Push and open a pull request.
  virtual Result<std::string> ship(const std::string& folder, const std::string& title,
                                   const std::string& body) = 0;
};

// A plugin tool as the system prompt lists it.
struct PluginToolInfo {
  std::string name;
  std::string description;
  bool irreversible = false;
};

// The plugin registry's tools.
class PluginTools {
 public:
  virtual ~PluginTools() = default;
  virtual std::vector<PluginToolInfo> list() = 0;
  virtual Result<nlohmann::json> describe(const std::string& tool) = 0;
  // True when the tool asks the person first.
  virtual bool is_gated(const std::string& tool) = 0;
  virtual Result<std::string> call(const std::string& tool, const nlohmann::json& arguments) = 0;
};

// Waiting between model attempts.
class Sleeper {
 public:
  virtual ~Sleeper() = default;
  virtual void sleep(std::chrono::milliseconds duration) = 0;
};

// Everything an Operator reaches outside itself.
struct Seams {
  std::shared_ptr<model::ChatModel> model;
  // The price of the configured model, for the spend cap.
  std::function<model::PriceRow(model::ContextLength)> price;
  // Sets the model's prompt cache key; may be empty.
  std::function<void(std::optional<std::string>)> set_cache_key;
  std::shared_ptr<BrowserSource> browsers;
  // Creates the desktop client on first use.
  std::function<std::unique_ptr<tools::DesktopTool>()> desktop;
  std::shared_ptr<CodingRuns> coding;
  std::shared_ptr<PluginTools> plugins;
  std::shared_ptr<Sleeper> sleeper;
};

// The seams of the real system: the model client built from `config` (its
// error is returned), the browser tool with its parking, the desktop
// client, and the coding and plugin tools this build has.
Result<Seams> real_seams(const Config& config);

}  // namespace velmor::op
