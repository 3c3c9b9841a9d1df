// The process environment. Reads return only values that are valid UTF-8;
// writes are not synchronised with other threads reading the environment,
// so callers serialise them (the app does through its request handling).
#pragma once

#include <map>
#include <optional>
#include <string>

namespace velmor::core {

// The variable's value when set and valid UTF-8.
std::optional<std::string> get_env(const std::string& name);
// True when the variable is set at all (valid UTF-8 or not).
bool env_is_set(const std::string& name);
void set_env(const std::string& name, const std::string& value);
void unset_env(const std::string& name);
// Every variable of this process, by name.
std::map<std::string, std::string> environment_snapshot();

}  // namespace velmor::core
