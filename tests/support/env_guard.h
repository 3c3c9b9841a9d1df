// Sets and unsets environment variables for one test and puts every one it
// touched back as it was.
#pragma once

#include <map>
#include <optional>
#include <string>

namespace velmor::testing {

class EnvGuard {
 public:
  EnvGuard() = default;
  ~EnvGuard();
  EnvGuard(const EnvGuard&) = delete;
  EnvGuard& operator=(const EnvGuard&) = delete;
  void set(const std::string& name, const std::string& value);
  void unset(const std::string& name);
  // Remembers a variable that code under test may change, to restore it.
  void keep(const std::string& name);

 private:
  std::map<std::string, std::optional<std::string>> saved_;
};

// Variables that choose or configure a model provider, the home and other
// settings: tests start from none of them set.
inline constexpr const char* kSettingVariables[] = {
    "QDRANT_URL", "QDRANT_API_KEY", "VELMOR_GRAPH", "VELMOR_TENANT", "QUV_API_KEY", "QUV_API_URL",
    "QUV_MODEL", "LLM_API_URL", "OPENAI_BASE_URL", "LLM_API_BASE", "LLM_API_KEY", "OPENAI_API_KEY",
    "LLM_MODEL", "OPENAI_MODEL", "LLM_TIMEOUT_SECS", "QUV_TIMEOUT_SECS", "XAI_API_KEY",
    "XAI_API_URL", "XAI_MODEL", "CUA_URL", "MODEL_PROVIDER", "OPENAI_API_URL",
    "ANTHROPIC_API_KEY", "ANTHROPIC_API_URL", "ANTHROPIC_MODEL", "CHATGPT_MODEL",
    "OPENAI_CLIENT_ID", "VELMOR_HOME", "VELMOR_CODER", "VELMOR_JOB_BUDGET_USD",
    "VELMOR_SESSION_MAX_STEPS", "VELMOR_AUTH_HOME", "VELMOR_CHATGPT_API_URL", "VELMOR_BROWSER"};

// An EnvGuard that starts with every setting variable unset.
class CleanEnv : public EnvGuard {
 public:
  CleanEnv();
};

}  // namespace velmor::testing
