#include "operator/run_report.h"

#include "core/utf8.h"
#include "operator/action.h"
#include "operator/operator.h"
#include "tools/page_reading.h"

namespace velmor::op {

Step Step::from_action(const Action& action, std::string result) {
  return {action.tool, tools::brief_args(action.arguments), clip(action.thought, 120),
          std::move(result), action.tool + " " + action.arguments.dump(-1, ' ', false, nlohmann::json::error_handler_t::replace)};
}

TokenSplit& TokenSplit::operator+=(const TokenSplit& other) {
  system += other.system;
  memory += other.memory;
  log += other.log;
  observation += other.observation;
  steps += other.steps;
  return *this;
}

nlohmann::json TokenSplit::to_json() const {
  return {{"system", system}, {"memory", memory}, {"log", log}, {"observation", observation},
          {"steps", steps}};
}

std::string summarize(const std::string& progress, const std::vector<Step>& steps) {
  auto note = core::trim(progress);
  if (!note.empty()) return std::string(note);
  if (steps.empty()) return "Nothing done yet.";
  const Step& last = steps.back();
  return last.args.empty() ? "Last step: " + last.tool : "Last step: " + last.tool + " " + last.args;
}

}  // namespace velmor::op
