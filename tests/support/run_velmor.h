// Runs the real velmor binary (its path comes from VELMOR_BIN, set by CTest)
// and collects what it printed.
#pragma once

#include <chrono>
#include <filesystem>
#include <map>
#include <string>
#include <vector>

namespace velmor::testing {

struct VelmorRun {
  int exit_code = -1;
  std::string out;
  std::string err;
};

struct VelmorOptions {
  std::map<std::string, std::string> env;  // added to a clean setting environment
  std::filesystem::path cwd;               // defaults to a fresh temporary directory
  std::chrono::milliseconds timeout{60000};
};

std::filesystem::path velmor_binary();
VelmorRun run_velmor(const std::vector<std::string>& args, const VelmorOptions& options = {});

}  // namespace velmor::testing
