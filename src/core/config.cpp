#include "core/config.h"

#include <filesystem>

#include "core/environment.h"
#include "core/utf8.h"

namespace velmor::core {
namespace {

std::string or_default(std::optional<std::string> v, std::string_view fallback) {
  return v ? std::move(*v) : std::string(fallback);
}

// The three settings taken exactly as set, without trimming.
std::string as_is(const char* name, std::string_view fallback) {
  return or_default(get_env(name), fallback);
}

std::uint64_t read_timeout() {
  std::optional<std::string> text = get_env("LLM_TIMEOUT_SECS");
  if (!text) text = get_env("QUV_TIMEOUT_SECS");
  if (!text) return 60;
  return parse_timeout_secs(*text).value_or(60);
}

// The working directory's .env or, failing that, the nearest parent's.
void load_nearest_dotenv() {
  std::error_code ec;
  auto dir = std::filesystem::current_path(ec);
  if (ec) return;
  while (true) {
    auto candidate = dir / ".env";
    if (std::filesystem::is_regular_file(candidate, ec)) {
      load_dotenv_file(candidate);
      return;
    }
    if (!dir.has_parent_path() || dir.parent_path() == dir) return;
    dir = dir.parent_path();
  }
}

}  // namespace

std::optional<std::string> first_nonempty(std::initializer_list<const char*> names) {
  for (const char* name : names) {
    auto v = get_env(name);
    if (!v) continue;
    auto t = trim(*v);
    if (!t.empty()) return std::string(t);
  }
  return std::nullopt;
}

std::optional<std::uint64_t> parse_timeout_secs(std::string_view text) {
  if (!text.empty() && text.front() == '+') text.remove_prefix(1);
  if (text.empty()) return std::nullopt;
  std::uint64_t value = 0;
  for (char c : text) {
    if (c < '0' || c > '9') return std::nullopt;
    auto digit = static_cast<std::uint64_t>(c - '0');
    if (value > (UINT64_MAX - digit) / 10) return std::nullopt;
    value = value * 10 + digit;
  }
  return value;
}

std::filesystem::path Config::home_dir() {
  if (auto home = get_env("VELMOR_HOME"); home && !trim(*home).empty()) return *home;
  std::string base = get_env("HOME").value_or(".");
  return std::filesystem::path(base) / "Library" / "Application Support" / "velmor";
}

Result<Config> Config::from_env() {
  load_nearest_dotenv();
  load_dotenv_file(home_dir() / ".env");

  Config c;
  c.qdrant_url = as_is("QDRANT_URL", "http://127.0.0.1:6333");
  c.qdrant_api_key = first_nonempty({"QDRANT_API_KEY"});
  c.graph = as_is("VELMOR_GRAPH", "thinkweave");
  c.tenant = as_is("VELMOR_TENANT", "default");
  c.quv_api_key = first_nonempty({"QUV_API_KEY"});
  c.quv_api_url = first_nonempty({"QUV_API_URL"});
  c.quv_model = or_default(first_nonempty({"QUV_MODEL"}), "quv-latest");
  c.llm_api_url = first_nonempty({"LLM_API_URL", "OPENAI_BASE_URL", "LLM_API_BASE"});
  c.llm_api_key = first_nonempty({"LLM_API_KEY", "OPENAI_API_KEY"});
  c.llm_model = or_default(first_nonempty({"LLM_MODEL", "OPENAI_MODEL"}), "local-heuristic");
  c.llm_timeout_secs = read_timeout();
  c.xai_api_key = first_nonempty({"XAI_API_KEY"});
  c.xai_api_url = or_default(first_nonempty({"XAI_API_URL"}), "https://api.x.ai/v1");
  c.xai_model = or_default(first_nonempty({"XAI_MODEL"}), "grok-4.7");
  c.cua_url = or_default(first_nonempty({"CUA_URL"}), "http://127.0.0.1:8000");
  c.model_provider = to_lower(or_default(first_nonempty({"MODEL_PROVIDER"}), "auto"));
  c.openai_api_key = first_nonempty({"OPENAI_API_KEY"});
  c.openai_api_url = or_default(first_nonempty({"OPENAI_API_URL"}), "https://api.openai.com/v1");
  c.openai_model = or_default(first_nonempty({"OPENAI_MODEL"}), "gpt-5.5");
  c.anthropic_api_key = first_nonempty({"ANTHROPIC_API_KEY"});
  c.anthropic_api_url =
      or_default(first_nonempty({"ANTHROPIC_API_URL"}), "https://api.anthropic.com/v1");
  c.anthropic_model = or_default(first_nonempty({"ANTHROPIC_MODEL"}), "claude-sonnet-5-5");
  c.chatgpt_model = or_default(first_nonempty({"CHATGPT_MODEL"}), "gpt-5.5");
  c.openai_client_id = or_default(first_nonempty({"OPENAI_CLIENT_ID"}), kDefaultOpenAiClientId);

  if (trim(c.qdrant_url).empty()) return fail(Error::config("QDRANT_URL is empty"));
  if (c.graph.empty()) return fail(Error::config("VELMOR_GRAPH is empty"));
  return c;
}

}  // namespace velmor::core
