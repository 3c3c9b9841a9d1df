#include <gtest/gtest.h>

#include "core/files.h"
#include "model/model.h"
#include "model_fixture.h"

namespace velmor::model {
namespace {

using namespace std::chrono_literals;

constexpr const char* kNoModel =
    "no model configured. Open Settings and sign in with ChatGPT or paste a key.";

ChatGptAuth signed_in() { return {"access", "refresh", 4'000'000'000, "app_1", std::nullopt, std::nullopt}; }

using ProviderTest = ModelTest;

TEST_F(ProviderTest, PickFollowsTheWordThenTheAutomaticOrder) {
  struct Case {
    const char* name;
    std::string word;
    bool chatgpt_signed_in;
    std::optional<std::string> openai, anthropic, xai, llm_url;
    std::optional<Provider> expected;  // nullopt: "no model configured"
  } cases[] = {
      {"sign-in beats an OpenAI key", "auto", true, "sk-o", std::nullopt, std::nullopt, std::nullopt,
       Provider::ChatGpt},
      {"only a compatible address", "auto", false, {}, {}, {}, "http://h/v1", Provider::Compatible},
      {"grok needs no key to be chosen", "grok", false, {}, {}, {}, {}, Provider::Xai},
      {"xai word", "xai", false, {}, "sk-a", {}, {}, Provider::Xai},
      {"claude word", "claude", false, "sk-o", {}, {}, {}, Provider::Anthropic},
      {"anthropic word", "anthropic", false, {}, {}, {}, {}, Provider::Anthropic},
      {"chatgpt word without a sign-in", "chatgpt", false, "sk-o", {}, {}, {}, Provider::ChatGpt},
      {"openai word beats a sign-in", "openai", true, {}, {}, {}, {}, Provider::OpenAi},
      {"llm word", "llm", false, {}, {}, {}, {}, Provider::Compatible},
      {"ollama word", "ollama", false, {}, {}, {}, {}, Provider::Compatible},
      {"compatible word", "compatible", false, {}, {}, "sk-x", {}, Provider::Compatible},
      {"unknown word chooses automatically", "gemini", false, {}, "sk-a", "sk-x", {}, Provider::Anthropic},
      {"openai before anthropic and xai", "auto", false, "sk-o", "sk-a", "sk-x", "http://h", Provider::OpenAi},
      {"anthropic before xai", "auto", false, {}, "sk-a", "sk-x", "http://h", Provider::Anthropic},
      {"xai before a compatible address", "auto", false, {}, {}, "sk-x", "http://h", Provider::Xai},
      {"blank keys do not count", "auto", false, "  ", "\t", " ", "http://h", Provider::Compatible},
      {"nothing at all", "auto", false, {}, {}, {}, {}, std::nullopt},
      {"a blank address is nothing", "", false, {}, {}, {}, "   ", std::nullopt},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    ASSERT_TRUE(ChatGptAuth::forget());
    if (c.chatgpt_signed_in) {
      ASSERT_TRUE(signed_in().save());
    }
    Config config;
    config.model_provider = c.word;
    config.openai_api_key = c.openai;
    config.anthropic_api_key = c.anthropic;
    config.xai_api_key = c.xai;
    config.llm_api_url = c.llm_url;
    auto picked = pick_provider(config);
    if (c.expected) {
      ASSERT_TRUE(picked) << picked.error().to_string();
      EXPECT_EQ(*picked, *c.expected);
    } else {
      ASSERT_FALSE(picked);
      EXPECT_EQ(picked.error().kind(), ErrorKind::Config);
      EXPECT_EQ(picked.error().message(), kNoModel);
    }
  }
}

TEST_F(ProviderTest, UnreadableSignInFileIsNoSignIn) {
  ASSERT_TRUE(core::write_file_atomic(oauth::auth_file(), "{\"access_token\": 1"));
  Config config;
  config.model_provider = "auto";
  config.xai_api_key = "sk-x";
  EXPECT_EQ(pick_provider(config).value(), Provider::Xai);
  config.xai_api_key.reset();
  EXPECT_EQ(pick_provider(config).error().message(), kNoModel);
}

TEST(ProviderLabel, EveryProviderHasItsLabel) {
  EXPECT_EQ(provider_label(Provider::ChatGpt), "chatgpt");
  EXPECT_EQ(provider_label(Provider::OpenAi), "openai");
  EXPECT_EQ(provider_label(Provider::Xai), "xai");
  EXPECT_EQ(provider_label(Provider::Anthropic), "anthropic");
  EXPECT_EQ(provider_label(Provider::Compatible), "compatible");
}

TEST_F(ProviderTest, FromConfigTakesEachProvidersAddressKeyAndModel) {
  Config config;
  config.openai_api_url = "http://openai.test/v1///";
  config.openai_api_key = "  sk-o  ";
  config.openai_model = "gpt-o";
  config.xai_api_url = "http://xai.test/v1/";
  config.xai_api_key = "sk-x";
  config.xai_model = "grok-x";
  config.anthropic_api_url = "http://anthropic.test/v1";
  config.anthropic_api_key = "sk-a";
  config.anthropic_model = "claude-a";
  config.llm_api_url = "  http://llm.test/v1/  ";
  config.llm_model = "local";
  config.chatgpt_model = "gpt-c";

  struct Case {
    const char* word;
    Provider provider;
    const char* base_url;
    const char* model;
  } cases[] = {
      {"openai", Provider::OpenAi, "http://openai.test/v1", "gpt-o"},
      {"xai", Provider::Xai, "http://xai.test/v1", "grok-x"},
      {"anthropic", Provider::Anthropic, "http://anthropic.test/v1", "claude-a"},
      {"compatible", Provider::Compatible, "http://llm.test/v1", "local"},
      {"chatgpt", Provider::ChatGpt, "https://api.openai.com/v1", "gpt-c"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.word);
    config.model_provider = c.word;
    auto client = ModelClient::from_config(config);
    ASSERT_TRUE(client) << client.error().to_string();
    EXPECT_EQ(client->provider(), c.provider);
    EXPECT_EQ(client->base_url(), c.base_url);
    EXPECT_EQ(client->model(), c.model);
    EXPECT_EQ(client->prompt_cache_key(), std::nullopt);
  }

  env_.set("VELMOR_CHATGPT_API_URL", "http://chatgpt.test/backend//");
  config.model_provider = "chatgpt";
  EXPECT_EQ(ModelClient::from_config(config)->base_url(), "http://chatgpt.test/backend");
}

TEST_F(ProviderTest, FromConfigNamesTheMissingVariable) {
  struct Case {
    const char* word;
    const char* message;
  } cases[] = {
      {"openai", "OPENAI_API_KEY is unset"},
      {"grok", "XAI_API_KEY is unset"},
      {"claude", "ANTHROPIC_API_KEY is unset"},
      {"ollama", "LLM_API_URL is unset"},
      {"auto", kNoModel},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.word);
    Config config;
    config.model_provider = c.word;
    config.openai_api_key = " ";  // blank is as good as unset
    config.llm_api_url = "\t";
    auto client = ModelClient::from_config(config);
    ASSERT_FALSE(client);
    EXPECT_EQ(client.error().kind(), ErrorKind::Config);
    EXPECT_EQ(client.error().message(), c.message);
  }
}

TEST_F(ProviderTest, RequestTimeoutIsNeverBelowThreeMinutes) {
  struct Case {
    std::uint64_t setting;
    std::chrono::milliseconds expected;
  } cases[] = {{0, 180s}, {60, 180s}, {180, 180s}, {600, 600s}};
  for (const auto& c : cases) {
    Config config = fake_.config();
    config.llm_timeout_secs = c.setting;
    auto client = ModelClient::from_config(config).value();
    EXPECT_EQ(client.request_timeout(), c.expected) << c.setting;
    EXPECT_EQ(client.connect_timeout(), 15s);
  }
  Config config = fake_.config();
  config.llm_timeout_secs = UINT64_MAX;  // must not wrap into a negative timeout
  EXPECT_GT(ModelClient::from_config(config)->request_timeout(), 180s);
}

TEST_F(ProviderTest, PromptCacheKeyCanBeSetAndCleared) {
  auto c = client();
  c.set_prompt_cache_key("velmor-cli");
  EXPECT_EQ(c.prompt_cache_key(), "velmor-cli");
  ModelClient moved = std::move(c);
  EXPECT_EQ(moved.prompt_cache_key(), "velmor-cli");
  moved.set_prompt_cache_key(std::nullopt);
  EXPECT_EQ(moved.prompt_cache_key(), std::nullopt);
}

}  // namespace
}  // namespace velmor::model
