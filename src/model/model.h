// The model client: which provider answers, what its tokens cost, and the
// one way anything in velmor asks a language model (ModelClient::chat).
#pragma once

#include <chrono>
#include <cstddef>
#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "core/config.h"
#include "core/error.h"
#include "model/chat_model.h"
#include "model/chatgpt_auth.h"

namespace velmor::model {

enum class Provider { ChatGpt, OpenAi, Xai, Anthropic, Compatible };

// "chatgpt", "openai", "xai", "anthropic" or "compatible": the name used in
// messages, status lines and every error text of the client.
std::string_view provider_label(Provider provider);

// An explicit `model_provider` word wins (its key is checked later, by
// ModelClient::from_config); anything else chooses automatically: a stored
// ChatGPT sign-in, then the OpenAI, Anthropic and xAI keys, then a
// compatible endpoint. Fails (kind Config) with "no model configured. Open
// Settings and sign in with ChatGPT or paste a key." when nothing is set.
Result<Provider> pick_provider(const Config& config);

// List prices in dollars per million tokens.
struct PriceRow {
  double input = 0;
  double cached = 0;
  double output = 0;
};

// xAI charges more once a job's input reaches this many tokens; the job loop
// passes ContextLength::Long from then on.
inline constexpr std::uint64_t kLongContextTokens = 200'000;
enum class ContextLength { Normal, Long };

// The model name is matched case-insensitively by substring; an unknown
// model gets its provider's default row. Never fails.
PriceRow price_per_million(Provider provider, std::string_view model,
                           ContextLength context = ContextLength::Normal);

// Dollars for `use` under `row`; a cached count above the input count is
// taken as the input count.
double cost(const TokenUse& use, const PriceRow& row);

// Counts for a call the provider did not report: the compact JSON body sent
// and the reply's bytes, each divided by 4 and rounded up; estimated is set.
TokenUse estimate(const nlohmann::json& body, std::size_t reply_bytes);
// Bytes of `text` divided by 4, rounded up.
std::uint64_t estimate_tokens(std::string_view text);

// A client for one configured provider. One POST per chat call, never
// retried. chat() may run on several threads at once on one client.
// Movable, not copyable.
class ModelClient final : public ChatModel {
 public:
  // Fails with pick_provider's error, or (kind Config) "{variable} is unset"
  // when the chosen provider's required key or address is missing.
  static Result<ModelClient> from_config(const Config& config);
  ModelClient(ModelClient&&) noexcept;
  ModelClient& operator=(ModelClient&&) noexcept;
  ~ModelClient() override;

  // The reply text (trimmed, never empty) and its token counts. Failures
  // are kind Inference with texts that name the provider; a missing ChatGPT
  // sign-in and an expired one are kind Config. An expiring ChatGPT sign-in
  // is refreshed (and saved) first.
  Result<ChatReply> chat(const std::string& system, const std::vector<Message>& messages) override;

  // Sent as `prompt_cache_key` to ChatGPT and OpenAI; nullopt sends none.
  // Thread-safe.
  void set_prompt_cache_key(std::optional<std::string> key);
  std::optional<std::string> prompt_cache_key() const;

  Provider provider() const { return provider_; }
  const std::string& model() const { return model_; }
  // Without trailing "/".
  const std::string& base_url() const { return base_url_; }
  std::chrono::milliseconds connect_timeout() const { return connect_timeout_; }
  // max(llm_timeout_secs, 180 s).
  std::chrono::milliseconds request_timeout() const { return request_timeout_; }
  // This client's price row (price_per_million of its provider and model).
  PriceRow price(ContextLength context = ContextLength::Normal) const;

 private:
  struct CacheKey;
  ModelClient(Provider provider, std::string base_url, std::string model,
              std::optional<std::string> api_key, const Config& config);

  Provider provider_;
  std::string base_url_;
  std::string model_;
  std::optional<std::string> api_key_;
  Config config_;
  std::chrono::milliseconds connect_timeout_;
  std::chrono::milliseconds request_timeout_;
  std::unique_ptr<CacheKey> cache_key_;
};

}  // namespace velmor::model
