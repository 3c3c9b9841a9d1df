// Starting the built-in browser: the Playwright MCP server under npx, in a
// fresh run directory, without the system's secrets in its environment.
// Internal to the tools module.
#pragma once

#include <filesystem>
#include <memory>

#include "core/error.h"
#include "core/process.h"
#include "tools/mcp_stdio.h"

namespace velmor::tools {

// The npx command line, working directory and environment for a server
// writing into `run_dir`, as the browser flags in the environment ask.
core::ProcessSpec playwright_spec(const std::filesystem::path& run_dir);

// Creates a run directory under `{run_base}/playwright-mcp`, starts the
// server there and performs the handshake. On failure nothing is left
// running and the run directory is gone.
Result<std::unique_ptr<McpStdio>> start_playwright(const std::filesystem::path& run_base);

}  // namespace velmor::tools
