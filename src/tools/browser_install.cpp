#include <chrono>
#include <exception>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "core/process.h"
#include "core/utf8.h"
#include "tools/browser.h"
#include "tools/page_reading.h"

namespace velmor::tools {
namespace {

constexpr const char* kNodeSite = "https://nodejs.org/en/download";
constexpr std::chrono::minutes kLookupTimeout{1};
// The engine is a download of about 150 MB.
constexpr std::chrono::minutes kInstallTimeout{20};

std::mutex g_install_lock;
std::string g_install_state;  // INSTALL_STATE

void set_state(std::string state) {
  std::lock_guard lock(g_install_lock);
  g_install_state = std::move(state);
}

// The playwright-core version the server package depends on, so the engine
// installed is the one the server will look for.
std::string engine_version() {
  core::ProcessSpec spec;
  spec.program = "npm";
  spec.args = {"view", "@playwright/mcp@latest", "dependencies.playwright-core"};
  auto run = core::run_capture(spec, kLookupTimeout);
  if (!run || !core::is_valid_utf8(run->out)) return "latest";
  std::string_view v = core::trim(run->out);
  while (!v.empty() && v.front() == '"') v.remove_prefix(1);
  while (!v.empty() && v.back() == '"') v.remove_suffix(1);
  if (v.empty() || v.front() < '0' || v.front() > '9') return "latest";
  return std::string(v);
}

std::string last_lines(std::string_view text, std::size_t count) {
  std::vector<std::string_view> lines;
  while (!text.empty()) {
    auto nl = text.find('\n');
    std::string_view line = text.substr(0, nl);
    if (!line.empty() && line.back() == '\r') line.remove_suffix(1);
    lines.push_back(line);
    text = nl == std::string_view::npos ? std::string_view() : text.substr(nl + 1);
  }
  std::string out;
  for (std::size_t i = lines.size() > count ? lines.size() - count : 0; i < lines.size(); ++i) {
    if (!out.empty()) out += ' ';
    out += lines[i];
  }
  return out;
}

void run_install() {
  core::ProcessSpec spec;
  spec.program = "npx";
  spec.args = {"--yes", "playwright@" + engine_version(), "install", "chromium"};
  spec.env_set = {{"NPM_CONFIG_UPDATE_NOTIFIER", "false"}};
  auto run = core::run_capture(spec, kInstallTimeout);
  if (!run) {
    set_state("failed: could not run npx (" + run.error().to_string() + "). Install Node from " +
              kNodeSite + ".");
  } else if (!run->status.success()) {
    std::string tail = last_lines(core::to_valid_utf8(run->err), 3);
    set_state("failed: " + truncate(core::trim(tail), 300));
  } else {
    set_state("done");
  }
}

}  // namespace

void install_builtin_browser() {
  {
    std::lock_guard lock(g_install_lock);
    if (g_install_state == "running") return;
    g_install_state = "running";
  }
  try {
    std::thread([] {
      try {
        run_install();
      } catch (const std::exception& e) {
        set_state(std::string("failed: ") + e.what());
      }
    }).detach();
  } catch (const std::exception& e) {
    set_state(std::string("failed: ") + e.what());
  }
}

std::string browser_install_state() {
  std::lock_guard lock(g_install_lock);
  return g_install_state;
}

}  // namespace velmor::tools
