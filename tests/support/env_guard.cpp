#include "support/env_guard.h"

#include <cstdlib>

namespace velmor::testing {

EnvGuard::~EnvGuard() {
  for (const auto& [name, value] : saved_) {
    if (value)
      ::setenv(name.c_str(), value->c_str(), 1);
    else
      ::unsetenv(name.c_str());
  }
}

void EnvGuard::keep(const std::string& name) {
  if (saved_.count(name)) return;
  const char* v = std::getenv(name.c_str());
  saved_[name] = v ? std::optional<std::string>(v) : std::nullopt;
}

void EnvGuard::set(const std::string& name, const std::string& value) {
  keep(name);
  ::setenv(name.c_str(), value.c_str(), 1);
}

void EnvGuard::unset(const std::string& name) {
  keep(name);
  ::unsetenv(name.c_str());
}

CleanEnv::CleanEnv() {
  for (const char* name : kSettingVariables) unset(name);
}

}  // namespace velmor::testing
