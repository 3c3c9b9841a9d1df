#include <string>

#include "core/utf8.h"
#include "model/model.h"

namespace velmor::model {
namespace {

bool is_set(const std::optional<std::string>& value) {
  return value && !core::trim(*value).empty();
}

std::optional<Provider> named_provider(std::string_view word) {
  if (word == "chatgpt") return Provider::ChatGpt;
  if (word == "openai") return Provider::OpenAi;
  if (word == "xai" || word == "grok") return Provider::Xai;
  if (word == "anthropic" || word == "claude") return Provider::Anthropic;
  if (word == "compatible" || word == "llm" || word == "ollama") return Provider::Compatible;
  return std::nullopt;
}

}  // namespace

std::string_view provider_label(Provider provider) {
  switch (provider) {
    case Provider::ChatGpt: return "chatgpt";
    case Provider::OpenAi: return "openai";
    case Provider::Xai: return "xai";
    case Provider::Anthropic: return "anthropic";
    case Provider::Compatible: return "compatible";
  }
  return "compatible";
}

Result<Provider> pick_provider(const Config& config) {
  if (auto named = named_provider(config.model_provider)) return *named;
  if (ChatGptAuth::load()) return Provider::ChatGpt;
  if (is_set(config.openai_api_key)) return Provider::OpenAi;
  if (is_set(config.anthropic_api_key)) return Provider::Anthropic;
  if (is_set(config.xai_api_key)) return Provider::Xai;
  if (is_set(config.llm_api_url)) return Provider::Compatible;
  return fail(Error::config(
      "no model configured. Open Settings and sign in with ChatGPT or paste a key."));
}

}  // namespace velmor::model
