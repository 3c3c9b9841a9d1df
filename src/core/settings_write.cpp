#include <nlohmann/json.hpp>

#include <algorithm>
#include <array>
#include <fstream>
#include <sstream>
#include <vector>

#include "core/config.h"
#include "core/environment.h"
#include "core/files.h"
#include "core/utf8.h"

namespace velmor::core {
namespace {

constexpr std::array<std::string_view, 20> kSettableKeys = {
    "CUA_URL",         "QDRANT_URL",       "MODEL_PROVIDER",        "XAI_API_KEY",
    "XAI_API_URL",     "XAI_MODEL",        "QUV_API_KEY",           "QUV_API_URL",
    "QUV_MODEL",       "LLM_API_URL",      "LLM_API_KEY",           "LLM_MODEL",
    "OPENAI_API_KEY",  "OPENAI_MODEL",     "ANTHROPIC_API_KEY",     "ANTHROPIC_MODEL",
    "CHATGPT_MODEL",   "VELMOR_CODER",     "VELMOR_JOB_BUDGET_USD", "VELMOR_SESSION_MAX_STEPS"};

using Entry = std::pair<std::string, std::string>;

std::vector<Entry> read_entries(const std::filesystem::path& path) {
  std::vector<Entry> entries;
  std::ifstream in(path);
  std::string line;
  while (std::getline(in, line)) {
    auto l = trim(line);
    if (l.empty() || l.front() == '#') continue;
    auto eq = l.find('=');
    if (eq == std::string_view::npos) continue;
    entries.emplace_back(std::string(trim(l.substr(0, eq))), std::string(trim(l.substr(eq + 1))));
  }
  return entries;
}

}  // namespace

Result<void> write_settings(std::string_view request_body) {
  auto body = nlohmann::json::parse(request_body, nullptr, false);
  if (body.is_discarded()) return fail(Error::config("body must be JSON"));
  if (!body.is_object()) return fail(Error::config("body must be an object of KEY: value"));

  // nlohmann::json keeps object members in ascending key order.
  std::vector<Entry> members;
  for (const auto& [key, value] : body.items())
    if (value.is_string()) members.emplace_back(key, value.get<std::string>());

  auto home = Config::home_dir();
  {
    std::error_code ec;
    std::filesystem::create_directories(home, ec);
    if (ec) return fail(Error::config("create " + home.string() + ": " + ec.message()));
  }
  auto path = home / ".env";
  auto entries = read_entries(path);

  for (const auto& [key, value] : members) {
    if (std::find(kSettableKeys.begin(), kSettableKeys.end(), key) == kSettableKeys.end())
      return fail(Error::config("setting " + key + " is not allowed"));
    if (value.find('\n') != std::string::npos || value.find('\r') != std::string::npos)
      return fail(Error::config("setting " + key + " has a line break"));
    std::erase_if(entries, [&](const Entry& e) { return e.first == key; });
    std::string trimmed(trim(value));
    if (!trimmed.empty()) {
      entries.emplace_back(key, trimmed);
      set_env(key, trimmed);
    } else {
      unset_env(key);
    }
  }

  std::string text;
  for (const auto& [k, v] : entries) text += k + "=" + v + "\n";
  if (auto written = write_file_atomic(path, text, FileAccess::OwnerOnly); !written)
    return fail(Error::config(written.error().message()));
  (void)set_owner_only(path);
  return {};
}

}  // namespace velmor::core
