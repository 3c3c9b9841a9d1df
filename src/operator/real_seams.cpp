// The real side of every seam of the job loop.
#include <thread>

#include "model/model.h"
#include "operator/seams.h"
#include "tools/bridge.h"
#include "tools/browser.h"
#include "tools/desktop.h"

namespace velmor::op {

namespace {

class RealBrowsers final : public BrowserSource {
 public:
  std::unique_ptr<tools::BrowserTool> fresh() override { return std::make_unique<tools::Browser>(); }
  std::optional<tools::ParkedBrowser> take_parked(const std::string& key) override {
    return tools::take_parked_browser(key);
  }
  void park(const std::string& key, std::unique_ptr<tools::BrowserTool> browser,
            std::optional<std::string> url) override {
    tools::park_browser(key, std::move(browser), std::move(url));
  }
  void drop_parked(const std::string& key) override { tools::drop_parked_browser(key); }
  bool bridge_connected() override { return tools::Bridge::global().connected(); }
};

Error not_in_build(const std::string& tool) { return Error::other(tool + " is not available in this build"); }

// Coding runs are not part of this build yet.
class NoCodingRuns final : public CodingRuns {
 public:
  Result<code::CoderResult> delegate_run(const code::Coder&, const code::Repo&, const std::string&,
                                         Observer&) override {
    return fail(not_in_build("code_run"));
  }
  Result<code::CoderResult> native_run(const code::Repo&, const std::string&, Observer&,
                                       SideUsage&) override {
    return fail(not_in_build("code_run"));
  }
  Result<std::string> inspect(const code::Repo&, const std::string&, Observer&) override {
    return fail(not_in_build("repo_inspect"));
  }
  Result<std::string> ship(const std::string&, const std::string&, const std::string&) override {
    return fail(not_in_build("code_ship"));
  }
};

// Plugin tools are not part of this build yet.
class NoPlugins final : public PluginTools {
 public:
  std::vector<PluginToolInfo> list() override { return {}; }
  Result<nlohmann::json> describe(const std::string&) override { return fail(not_in_build("plugin_describe")); }
  bool is_gated(const std::string&) override { return false; }
  Result<std::string> call(const std::string&, const nlohmann::json&) override {
    return fail(not_in_build("plugin_call"));
  }
};

class RealSleeper final : public Sleeper {
 public:
  void sleep(std::chrono::milliseconds duration) override { std::this_thread::sleep_for(duration); }
};

}  // namespace

Result<Seams> real_seams(const Config& config) {
  auto client = std::make_shared<model::ModelClient>(VELMOR_TRY(model::ModelClient::from_config(config)));
  Seams seams;
  seams.model = client;
  seams.price = [client](model::ContextLength context) { return client->price(context); };
  seams.set_cache_key = [client](std::optional<std::string> key) { client->set_prompt_cache_key(std::move(key)); };
  seams.browsers = std::make_shared<RealBrowsers>();
  seams.desktop = [url = config.cua_url] { return std::make_unique<tools::Desktop>(url); };
  seams.coding = std::make_shared<NoCodingRuns>();
  seams.plugins = std::make_shared<NoPlugins>();
  seams.sleeper = std::make_shared<RealSleeper>();
  return seams;
}

}  // namespace velmor::op
