// The browser tool: one browser action at a time for a job, on the built-in
// browser (the Playwright MCP server under npx) or the person's own Chrome
// (through the extension bridge), chosen on first use. Also the parking of
// browsers between jobs of one session and the one-time installation of the
// built-in browser's engine.
#pragma once

#include <sys/types.h>

#include <chrono>
#include <filesystem>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

#include "core/error.h"
#include "tools/tool_types.h"

namespace velmor::tools {

class McpStdio;

// What the job loop drives. Browser is the one real implementation; tests
// of the job loop fake it.
class BrowserTool {
 public:
  virtual ~BrowserTool() = default;
  // One browser action (a name starting with "browser_"). Errors are of kind
  // Computer and meant for the model to read.
  virtual Result<ToolResult> call(const ToolCall& call) = 0;
  // Ends the back end; a later call starts a new one.
  virtual void close() = 0;
  // The job's focus text, which ranks the lines of long snapshots.
  virtual void set_focus(std::string focus) = 0;
  // True once a back end has been chosen (and, for the built-in browser,
  // started); a browser never started is not worth parking.
  virtual bool started() const = 0;
};

// Where the built-in browser's server keeps its files: one fresh directory
// "{base}/playwright-mcp/{pid}-{nanos}" per start, deleted on release.
std::filesystem::path default_browser_run_base();

struct BrowserOptions {
  std::filesystem::path run_base = default_browser_run_base();
};

// Thread-safe: calls and close are serialised on the browser's own lock.
// Destroying a Browser stops its server's whole process group.
class Browser final : public BrowserTool {
 public:
  explicit Browser(BrowserOptions options = {});
  ~Browser() override;
  Browser(const Browser&) = delete;
  Browser& operator=(const Browser&) = delete;

  // Guards (allowed tools, http(s) URLs, snapshot refs), argument rewriting,
  // back-end choice, then the action. A failed click, hover, type, select,
  // fill or key press succeeds with the error text and the page as it is
  // now. A failed start of the built-in browser reads "failed to start
  // Playwright MCP (`npx @playwright/mcp`). {reason}"; a missing engine
  // comes back from the server as an error naming "playwright install".
  Result<ToolResult> call(const ToolCall& call) override;
  // Asks the back end to close the page, then (built-in browser) stops the
  // server's process group and deletes its run directory.
  void close() override;
  void set_focus(std::string focus) override;
  bool started() const override;

  // The built-in browser server's process id and run directory while it
  // runs; for diagnostics and tests.
  std::optional<pid_t> server_pid() const;
  std::optional<std::filesystem::path> run_dir() const;

 private:
  enum class Backend { None, Playwright, Chrome };

  Result<void> choose();
  Result<ToolResult> call_playwright(const std::string& name, const nlohmann::json& args);
  Result<ToolResult> call_chrome(const std::string& name, const nlohmann::json& args);

  BrowserOptions options_;
  mutable std::mutex mutex_;
  Backend backend_ = Backend::None;
  std::unique_ptr<McpStdio> mcp_;
  std::string focus_;
};

// A browser kept between two jobs of one session.
struct ParkedBrowser {
  std::unique_ptr<BrowserTool> browser;
  std::optional<std::string> url;  // the page it was on
};

// Browsers parked by session key; an entry older than 1200 seconds expires.
// Thread-safe; browsers are always closed outside the lock.
class BrowserPark {
 public:
  using Clock = std::function<std::chrono::steady_clock::time_point()>;
  static constexpr std::chrono::seconds kExpiry{1200};

  explicit BrowserPark(Clock now = [] { return std::chrono::steady_clock::now(); });
  // The process-wide park (PARK).
  static BrowserPark& global();

  // Replaces (and closes) whatever `key` had; drops a never-started browser.
  void park(const std::string& key, std::unique_ptr<BrowserTool> browser,
            std::optional<std::string> url);
  std::optional<ParkedBrowser> take(const std::string& key);
  void drop(const std::string& key);
  void close_all();
  std::size_t size();

 private:
  struct Entry {
    std::string key;
    ParkedBrowser parked;
    std::chrono::steady_clock::time_point parked_at;
  };
  // Moves the expired entries (and those under `key`, when given) out.
  std::vector<Entry> remove_locked(const std::string* key);

  Clock now_;
  std::mutex mutex_;
  std::vector<Entry> entries_;
};

// The process-wide park's operations, as the job loop and the interrupt
// handler call them.
void park_browser(const std::string& key, std::unique_ptr<BrowserTool> browser,
                  std::optional<std::string> url);
std::optional<ParkedBrowser> take_parked_browser(const std::string& key);
void drop_parked_browser(const std::string& key);
// Closes every parked browser: run on interrupt so no browser server
// outlives the program.
void close_parked_browsers();

// Starts installing the built-in browser's engine on a thread of its own
// and returns at once; does nothing while an installation runs.
void install_builtin_browser();
// "" (never started), "running", "done" or "failed: {details}".
std::string browser_install_state();

}  // namespace velmor::tools
