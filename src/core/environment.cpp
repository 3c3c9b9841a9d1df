#include "core/environment.h"

#include <cstdlib>

#include "core/utf8.h"

extern char** environ;

namespace velmor::core {

std::optional<std::string> get_env(const std::string& name) {
  const char* v = std::getenv(name.c_str());
  if (v == nullptr) return std::nullopt;
  std::string value(v);
  if (!is_valid_utf8(value)) return std::nullopt;
  return value;
}

bool env_is_set(const std::string& name) { return std::getenv(name.c_str()) != nullptr; }

void set_env(const std::string& name, const std::string& value) {
  ::setenv(name.c_str(), value.c_str(), 1);
}

void unset_env(const std::string& name) { ::unsetenv(name.c_str()); }

std::map<std::string, std::string> environment_snapshot() {
  std::map<std::string, std::string> out;
  for (char** e = environ; e != nullptr && *e != nullptr; ++e) {
    std::string entry(*e);
    auto eq = entry.find('=');
    if (eq == std::string::npos) continue;
    out.emplace(entry.substr(0, eq), entry.substr(eq + 1));
  }
  return out;
}

}  // namespace velmor::core
