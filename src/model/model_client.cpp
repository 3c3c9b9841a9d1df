#include <algorithm>
#include <mutex>

#include "core/environment.h"
#include "core/utf8.h"
#include "model/model.h"
#include "model/wire.h"

namespace velmor::model {
namespace {

using namespace std::chrono_literals;
using wire::json;

constexpr std::chrono::seconds kConnectTimeout = 15s;
constexpr std::uint64_t kShortestRequestSecs = 180;
// Far beyond any real call, and small enough that the milliseconds handed
// to libcurl cannot overflow.
constexpr std::uint64_t kLongestRequestSecs = 10ull * 365 * 24 * 3600;

constexpr std::string_view kOpenAiApiUrl = "https://api.openai.com/v1";

std::optional<std::string> trimmed_key(const std::optional<std::string>& value) {
  if (!value) return std::nullopt;
  std::string t(core::trim(*value));
  if (t.empty()) return std::nullopt;
  return t;
}

Error unset(std::string_view variable) { return Error::config(std::string(variable) + " is unset"); }

std::string without_trailing_slashes(std::string url) {
  while (url.ends_with('/')) url.pop_back();
  return url;
}

std::string chatgpt_base_url() {
  if (auto url = core::get_env("VELMOR_CHATGPT_API_URL"); url && !core::trim(*url).empty()) return *url;
  return std::string(kOpenAiApiUrl);
}

}  // namespace

struct ModelClient::CacheKey {
  mutable std::mutex mutex;
  std::optional<std::string> value;
};

ModelClient::ModelClient(Provider provider, std::string base_url, std::string model,
                         std::optional<std::string> api_key, const Config& config)
    : provider_(provider),
      base_url_(without_trailing_slashes(std::move(base_url))),
      model_(std::move(model)),
      api_key_(std::move(api_key)),
      config_(config),
      connect_timeout_(kConnectTimeout),
      request_timeout_(std::chrono::seconds(
          std::clamp(config.llm_timeout_secs, kShortestRequestSecs, kLongestRequestSecs))),
      cache_key_(std::make_unique<CacheKey>()) {}

ModelClient::ModelClient(ModelClient&&) noexcept = default;
ModelClient& ModelClient::operator=(ModelClient&&) noexcept = default;
ModelClient::~ModelClient() = default;

Result<ModelClient> ModelClient::from_config(const Config& config) {
  Provider provider = VELMOR_TRY(pick_provider(config));
  // The providers whose key is required.
  auto keyed = [&](const std::optional<std::string>& key, std::string_view variable,
                   const std::string& url, const std::string& model) -> Result<ModelClient> {
    auto trimmed = trimmed_key(key);
    if (!trimmed) return fail(unset(variable));
    return ModelClient(provider, url, model, trimmed, config);
  };
  switch (provider) {
    case Provider::ChatGpt:
      return ModelClient(provider, chatgpt_base_url(), config.chatgpt_model, std::nullopt, config);
    case Provider::OpenAi:
      return keyed(config.openai_api_key, "OPENAI_API_KEY", config.openai_api_url, config.openai_model);
    case Provider::Xai:
      return keyed(config.xai_api_key, "XAI_API_KEY", config.xai_api_url, config.xai_model);
    case Provider::Anthropic:
      return keyed(config.anthropic_api_key, "ANTHROPIC_API_KEY", config.anthropic_api_url,
                   config.anthropic_model);
    case Provider::Compatible: {
      auto url = trimmed_key(config.llm_api_url);
      if (!url) return fail(unset("LLM_API_URL"));
      return ModelClient(provider, *url, config.llm_model, trimmed_key(config.llm_api_key), config);
    }
  }
  return fail(Error::config("unknown provider"));
}

void ModelClient::set_prompt_cache_key(std::optional<std::string> key) {
  std::lock_guard lock(cache_key_->mutex);
  cache_key_->value = std::move(key);
}

std::optional<std::string> ModelClient::prompt_cache_key() const {
  std::lock_guard lock(cache_key_->mutex);
  return cache_key_->value;
}

PriceRow ModelClient::price(ContextLength context) const {
  return price_per_million(provider_, model_, context);
}

Result<ChatReply> ModelClient::chat(const std::string& system, const std::vector<Message>& messages) {
  core::HttpRequest request;
  request.method = "POST";
  request.connect_timeout = connect_timeout_;
  request.timeout = request_timeout_;
  request.headers.emplace_back("Content-Type", "application/json");

  std::optional<std::string> bearer;
  if (provider_ == Provider::ChatGpt) {
    auto stored = ChatGptAuth::load();
    if (!stored)
      return fail(Error::config(
          "not signed in with ChatGPT. Open Settings and choose Continue with ChatGPT."));
    bearer = VELMOR_TRY(oauth::fresh_auth(*stored, config_)).access_token;
  } else if (provider_ != Provider::Anthropic) {
    bearer = api_key_;
  }
  if (bearer) request.headers.emplace_back("Authorization", "Bearer " + *bearer);

  json body;
  switch (provider_) {
    case Provider::ChatGpt:
    case Provider::OpenAi:
    case Provider::Xai:
      request.url = base_url_ + "/responses";
      body = wire::responses_body(provider_, model_, system, messages, prompt_cache_key());
      break;
    case Provider::Anthropic:
      request.headers.emplace_back("x-api-key", api_key_.value_or(""));
      request.headers.emplace_back("anthropic-version", "2023-06-01");
      request.url = base_url_ + "/messages";
      body = wire::messages_body(model_, system, messages);
      break;
    case Provider::Compatible:
      request.url = base_url_ + "/chat/completions";
      body = wire::chat_completions_body(model_, system, messages);
      break;
  }
  request.body = wire::compact(body);

  auto posted = wire::post(request);
  if (!posted) {
    if (posted.error().stage == wire::FailureStage::Transport)
      return fail(wire::http_err(provider_, posted.error().error));
    return fail(Error::inference(std::string(provider_label(provider_)) + " read: " +
                                 posted.error().error));
  }
  if (posted->status < 200 || posted->status >= 300)
    return fail(wire::http_err(provider_, posted->status, posted->body));

  switch (provider_) {
    case Provider::Anthropic: return wire::messages_reply(body, posted->body);
    case Provider::Compatible: return wire::chat_completions_reply(body, posted->body);
    default: return wire::responses_reply(provider_, body, posted->body);
  }
}

}  // namespace velmor::model
