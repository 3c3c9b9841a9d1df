#include "support/run_velmor.h"

#include <cstdlib>

#include "core/process.h"
#include "support/env_guard.h"
#include "support/temp_dir.h"

namespace velmor::testing {

std::filesystem::path velmor_binary() {
  const char* bin = std::getenv("VELMOR_BIN");
  return bin ? bin : "velmor";
}

VelmorRun run_velmor(const std::vector<std::string>& args, const VelmorOptions& options) {
  TempDir scratch;
  core::ProcessSpec spec;
  spec.program = velmor_binary().string();
  spec.args = args;
  spec.cwd = options.cwd.empty() ? scratch.path() : options.cwd;
  for (const char* name : kSettingVariables) spec.env_remove.push_back(name);
  // A home of its own unless the test names one, so no run reads the
  // developer's real files.
  spec.env_set["VELMOR_HOME"] = (scratch.path() / "home").string();
  for (const auto& [k, v] : options.env) spec.env_set[k] = v;
  VelmorRun run;
  auto result = core::run_capture(spec, options.timeout);
  if (!result) {
    run.err = result.error().to_string();
    return run;
  }
  run.exit_code = result->status.code;
  run.out = std::move(result->out);
  run.err = std::move(result->err);
  return run;
}

}  // namespace velmor::testing
