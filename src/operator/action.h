// One model reply of a job, parsed from the JSON action protocol.
#pragma once

#include <nlohmann/json.hpp>

#include <optional>
#include <string>

#include "core/error.h"

namespace velmor::op {

struct Action {
  std::string tool;
  std::string thought;
  std::string progress;  // trimmed
  nlohmann::json arguments = nlohmann::json::object();
  bool irreversible = false;
  std::string answer;  // trimmed
  std::optional<nlohmann::json> result;  // only a valid list, links or table result
};

// The action in a reply, or a Computer error saying why there is none
// ("no JSON object in reply", "JSON action is missing tool").
Result<Action> parse_action(const std::string& reply);

// True for {"kind":"list"|"links","items":[1..100]} and
// {"kind":"table","columns":[1..12],"rows":[1..200 arrays]}.
bool valid_result(const nlohmann::json& result);

// A string member of `args`, or empty text when missing or not a string.
std::string string_arg(const nlohmann::json& args, const char* key);

}  // namespace velmor::op
