// The engine installation against stand-ins for npm and npx.
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <cstdlib>
#include <fstream>
#include <thread>

#include <nlohmann/json.hpp>

#include "core/files.h"
#include "support/env_guard.h"
#include "support/temp_dir.h"
#include "tools/browser.h"

namespace velmor::tools {
namespace {

using nlohmann::json;

std::filesystem::path fake_bin() {
  return std::filesystem::path(VELMOR_TOOLS_FIXTURES) / "fake_bin";
}

class Install : public ::testing::Test {
 protected:
  void SetUp() override {
    // Without the stand-ins the real npx would run, and reach the network.
    ASSERT_TRUE(std::filesystem::exists(fake_bin() / "npx")) << fake_bin();
    env_.set("PATH", fake_bin().string() + ":" + std::string(std::getenv("PATH")));
    env_.set("FAKE_NPX_LOG", (tmp_ / "npx.log").string());
    env_.set("FAKE_NPM_LOG", (tmp_ / "npm.log").string());
    env_.set("FAKE_NPX_INSTALL_SECONDS", "0.2");
    env_.unset("FAKE_NPX_MODE");
    env_.unset("FAKE_NPM_VERSION");
  }
  // Every test leaves the process-wide installation finished.
  void TearDown() override { finished(); }

  std::string finished() {
    auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(60);
    while (browser_install_state() == "running" && std::chrono::steady_clock::now() < deadline)
      std::this_thread::sleep_for(std::chrono::milliseconds(20));
    return browser_install_state();
  }

  std::vector<json> npx_runs() {
    std::vector<json> runs;
    std::ifstream in(tmp_ / "npx.log");
    for (std::string line; std::getline(in, line);) runs.push_back(json::parse(line)["argv"]);
    return runs;
  }

  velmor::testing::TempDir tmp_;
  velmor::testing::EnvGuard env_;
};

TEST_F(Install, InstallsTheEngineTheServerDependsOnOnce) {
  env_.set("FAKE_NPX_INSTALL_SECONDS", "1.5");
  install_builtin_browser();
  EXPECT_EQ(browser_install_state(), "running");
  install_builtin_browser();  // ignored while the first runs
  EXPECT_EQ(finished(), "done");
  EXPECT_EQ(npx_runs(), (std::vector<json>{{"--yes", "playwright@1.2.3", "install", "chromium"}}));
  auto npm = core::read_file(tmp_ / "npm.log");
  ASSERT_TRUE(npm);
  EXPECT_EQ(*npm, "view @playwright/mcp@latest dependencies.playwright-core\n");
}

TEST_F(Install, UnreadableVersionFallsBackToLatest) {
  env_.set("FAKE_NPM_VERSION", "npm warn something");
  install_builtin_browser();
  EXPECT_EQ(finished(), "done");
  ASSERT_EQ(npx_runs().size(), 1u);
  EXPECT_EQ(npx_runs()[0][1], "playwright@latest");
}

TEST_F(Install, FailureKeepsTheLastLinesOfTheErrorOutput) {
  env_.set("FAKE_NPX_MODE", "install-fails");
  install_builtin_browser();
  EXPECT_EQ(finished(), "failed: line two  Error: no space left");
  // A new request after a failure runs again.
  env_.unset("FAKE_NPX_MODE");
  install_builtin_browser();
  EXPECT_EQ(finished(), "done");
}

TEST_F(Install, MissingNpxSaysWhereNodeIs) {
  std::filesystem::create_directories(tmp_ / "bin");
  std::filesystem::create_symlink(fake_bin() / "npm", tmp_ / "bin" / "npm");
  env_.set("PATH", (tmp_ / "bin").string() + ":/nonexistent");
  install_builtin_browser();
  EXPECT_EQ(finished(),
            "failed: could not run npx (npx: No such file or directory (os error 2)). Install Node "
            "from https://nodejs.org/en/download.");
}

}  // namespace
}  // namespace velmor::tools
