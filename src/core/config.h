// The immutable settings record, read from the environment after two .env
// files have filled its gaps, and the home directory every file lives under.
#pragma once

#include <cstdint>
#include <filesystem>
#include <initializer_list>
#include <map>
#include <optional>
#include <string>
#include <string_view>

#include "core/error.h"

namespace velmor::core {

// The OAuth client identifier used until a sign-in teaches another one.
inline constexpr std::string_view kDefaultOpenAiClientId = "velmor_signin_client";

struct Config {
  std::string qdrant_url;
  std::optional<std::string> qdrant_api_key;
  std::string graph;
  std::string tenant;
  std::optional<std::string> quv_api_key;
  std::optional<std::string> quv_api_url;
  std::string quv_model;
  std::optional<std::string> llm_api_url;
  std::optional<std::string> llm_api_key;
  std::string llm_model;
  std::uint64_t llm_timeout_secs = 60;
  std::optional<std::string> xai_api_key;
  std::string xai_api_url;
  std::string xai_model;
  std::string cua_url;
  std::string model_provider;
  std::optional<std::string> openai_api_key;
  std::string openai_api_url;
  std::string openai_model;
  std::optional<std::string> anthropic_api_key;
  std::string anthropic_api_url;
  std::string anthropic_model;
  std::string chatgpt_model;
  std::string openai_client_id;

  // Loads the .env files (working directory upwards, then {home}/.env; they
  // only fill gaps), reads every field and validates. Fails only with
  // "QDRANT_URL is empty" or "VELMOR_GRAPH is empty", kind Config.
  static Result<Config> from_env();
  // VELMOR_HOME exactly as set when not blank, else
  // $HOME/Library/Application Support/velmor. Not created here.
  static std::filesystem::path home_dir();
};

// The first of `names` that is set, valid UTF-8 and not blank, trimmed.
std::optional<std::string> first_nonempty(std::initializer_list<const char*> names);

// Decimal digits with an optional leading "+", no white space, no overflow.
std::optional<std::uint64_t> parse_timeout_secs(std::string_view text);

// Loads one .env file into the environment, setting only variables that are
// not already set as valid UTF-8. Stops quietly at the first unreadable line.
void load_dotenv_file(const std::filesystem::path& path);

// The app's settings write-back: applies a JSON object of KEY: value strings
// to {home}/.env (rewritten whole, 0600) and to the process environment.
// Errors are kind Config with the texts the settings screen shows.
Result<void> write_settings(std::string_view request_body);

}  // namespace velmor::core

namespace velmor {
using core::Config;
}
