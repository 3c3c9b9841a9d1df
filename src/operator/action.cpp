#include "operator/action.h"

#include "core/utf8.h"
#include "mind/mind.h"

namespace velmor::op {

namespace {

using nlohmann::json;

bool array_of_size(const json& obj, const char* key, std::size_t most) {
  auto it = obj.find(key);
  return it != obj.end() && it->is_array() && !it->empty() && it->size() <= most;
}

}  // namespace

std::string string_arg(const json& args, const char* key) {
  if (!args.is_object()) return {};
  auto it = args.find(key);
  if (it == args.end() || !it->is_string()) return {};
  return it->get<std::string>();
}

bool valid_result(const json& result) {
  if (!result.is_object()) return false;
  auto kind = result.find("kind");
  if (kind == result.end() || !kind->is_string()) return false;
  const auto& k = kind->get_ref<const std::string&>();
  if (k == "list" || k == "links") return array_of_size(result, "items", 100);
  if (k == "table") {
    if (!array_of_size(result, "columns", 12) || !array_of_size(result, "rows", 200)) return false;
    for (const auto& row : result["rows"])
      if (!row.is_array()) return false;
    return true;
  }
  return false;
}

Result<Action> parse_action(const std::string& reply) {
  auto value = mind::extract_json(reply);
  if (!value) return fail(Error::computer("no JSON object in reply"));
  if (!value->is_object()) return fail(Error::computer("JSON action is missing tool"));
  const json& obj = *value;
  Action action;
  if (auto tool = obj.find("tool"); tool != obj.end() && tool->is_string())
    action.tool = tool->get<std::string>();
  else if (auto name = obj.find("action"); name != obj.end() && name->is_string())
    action.tool = name->get<std::string>();
  else if (obj.contains("done"))
    action.tool = "done";
  else
    return fail(Error::computer("JSON action is missing tool"));

  action.thought = string_arg(obj, "thought");
  action.progress = std::string(core::trim(string_arg(obj, "progress")));
  action.answer = std::string(core::trim(string_arg(obj, "answer")));
  if (auto args = obj.find("arguments"); args != obj.end())
    action.arguments = *args;
  else if (auto short_args = obj.find("args"); short_args != obj.end())
    action.arguments = *short_args;
  if (auto flag = obj.find("irreversible"); flag != obj.end() && flag->is_boolean())
    action.irreversible = flag->get<bool>();
  if (auto result = obj.find("result"); result != obj.end() && valid_result(*result))
    action.result = *result;
  return action;
}

}  // namespace velmor::op
