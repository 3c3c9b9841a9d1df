#include "tools/browser_playwright.h"

#include <unistd.h>

#include <chrono>
#include <string>

#include <fmt/format.h>

#include "core/environment.h"

namespace velmor::tools {
namespace {

namespace fs = std::filesystem;

// Keys and tokens of the system itself: the server runs pages from the web
// and must not be able to read them.
constexpr const char* kSecretVariables[] = {
    "XAI_API_KEY",    "LLM_API_KEY",    "OPENAI_API_KEY",      "ANTHROPIC_API_KEY",
    "QUV_API_KEY",    "QDRANT_API_KEY", "VELMOR_PAIRING_CODE", "VELMOR_UI_TOKEN"};

bool env_is(const char* name, const char* value) { return core::get_env(name) == value; }

}  // namespace

core::ProcessSpec playwright_spec(const fs::path& run_dir) {
  core::ProcessSpec spec;
  spec.program = "npx";
  spec.args = {"--yes",        "--quiet",        "@playwright/mcp@latest", "--isolated",
               "--output-dir", run_dir.string(), "--file-paths",           "absolute",
               "--timeout-action", "15000"};
  if (!env_is("VELMOR_BROWSER_HEADED", "1")) spec.args.push_back("--headless");
  if (env_is("VELMOR_BROWSER_NO_SANDBOX", "1")) spec.args.push_back("--no-sandbox");
  spec.cwd = run_dir;
  spec.env_set = {{"PLAYWRIGHT_MCP_OUTPUT_DIR", run_dir.string()},
                  {"PLAYWRIGHT_MCP_FILE_PATHS", "absolute"},
                  {"NPM_CONFIG_UPDATE_NOTIFIER", "false"},
                  {"NO_UPDATE_NOTIFIER", "1"}};
  spec.env_remove.assign(std::begin(kSecretVariables), std::end(kSecretVariables));
  spec.stdin_mode = core::Stdio::Pipe;
  spec.stdout_mode = core::Stdio::Pipe;
  spec.stderr_mode = core::Stdio::Inherit;
  return spec;
}

Result<std::unique_ptr<McpStdio>> start_playwright(const fs::path& run_base) {
  auto nanos = std::chrono::duration_cast<std::chrono::nanoseconds>(
                   std::chrono::system_clock::now().time_since_epoch())
                   .count();
  fs::path dir = run_base / "playwright-mcp" / fmt::format("{}-{}", ::getpid(), nanos);
  std::error_code ec;
  fs::create_directories(dir, ec);
  if (ec)
    return fail(
        Error::computer(fmt::format("playwright output dir {}: {}", dir.string(), ec.message())));
  auto remove_dir = [&] {
    std::error_code ignored;
    fs::remove_all(dir, ignored);
  };

  auto child = core::Process::spawn(playwright_spec(dir));
  if (!child) {
    remove_dir();
    return fail(Error::computer("failed to start Playwright MCP (`npx @playwright/mcp`). " +
                                child.error().to_string()));
  }
  // The pipes were asked for; the checks keep this start's own words.
  if (child->stdin_fd() < 0 || child->stdout_fd() < 0) {
    bool no_stdin = child->stdin_fd() < 0;
    child->stop_group();
    remove_dir();
    return fail(Error::computer(no_stdin ? "playwright mcp stdin missing"
                                         : "playwright mcp stdout missing"));
  }
  auto client = McpStdio::attach("Playwright MCP", std::move(*child), dir, RemoveWorkDir::Yes);
  if (!client) {
    remove_dir();
    return fail(client.error());
  }
  // A failed handshake releases the client, which stops the server and
  // deletes the run directory.
  VELMOR_TRY((*client)->initialize());
  return std::move(*client);
}

}  // namespace velmor::tools
