#include <gtest/gtest.h>

#include <nlohmann/json.hpp>

#include "model/model.h"

namespace velmor::model {
namespace {

TEST(Pricing, RowsByProviderAndModelName) {
  struct Case {
    Provider provider;
    const char* model;
    ContextLength context;
    PriceRow expected;
  } cases[] = {
      {Provider::OpenAi, "gpt-5.5", ContextLength::Normal, {1.25, 0.125, 10.00}},
      {Provider::OpenAi, "GPT-5.5-Mini", ContextLength::Normal, {0.25, 0.025, 2.00}},
      {Provider::ChatGpt, "gpt-5-NANO", ContextLength::Long, {0.25, 0.025, 2.00}},
      {Provider::ChatGpt, "gpt-5.5", ContextLength::Normal, {1.25, 0.125, 10.00}},
      {Provider::Xai, "grok-4.7", ContextLength::Normal, {2.00, 0.50, 6.00}},
      {Provider::Xai, "grok-4.7-mini", ContextLength::Long, {4.00, 1.00, 12.00}},
      {Provider::Anthropic, "claude-haiku-4", ContextLength::Normal, {1.00, 0.10, 5.00}},
      {Provider::Anthropic, "Claude-OPUS-5", ContextLength::Normal, {5.00, 0.50, 25.00}},
      {Provider::Anthropic, "opus-and-haiku", ContextLength::Normal, {1.00, 0.10, 5.00}},
      {Provider::Anthropic, "claude-sonnet-5-5", ContextLength::Long, {3.00, 0.30, 15.00}},
      {Provider::Anthropic, "", ContextLength::Normal, {3.00, 0.30, 15.00}},
      {Provider::Compatible, "gpt-5.5-opus-mini", ContextLength::Long, {0, 0, 0}},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(std::string(provider_label(c.provider)) + " " + c.model);
    PriceRow row = price_per_million(c.provider, c.model, c.context);
    EXPECT_DOUBLE_EQ(row.input, c.expected.input);
    EXPECT_DOUBLE_EQ(row.cached, c.expected.cached);
    EXPECT_DOUBLE_EQ(row.output, c.expected.output);
  }
}

TEST(Pricing, CostSplitsCachedInputAndClampsIt) {
  PriceRow openai = price_per_million(Provider::OpenAi, "gpt-5.5");
  EXPECT_NEAR(cost({1'000'000, 400'000, 100'000, false}, openai), 1.80, 1e-12);
  // A cached count above the input is taken as the input: all input cached.
  EXPECT_NEAR(cost({1'000'000, 5'000'000, 0, false}, openai), 0.125, 1e-12);
  EXPECT_DOUBLE_EQ(cost({0, 0, 0, false}, openai), 0.0);
  EXPECT_DOUBLE_EQ(cost({123, 4, 56, true}, price_per_million(Provider::Compatible, "x")), 0.0);
  PriceRow xai_long = price_per_million(Provider::Xai, "grok", ContextLength::Long);
  EXPECT_NEAR(cost({300'000, 100'000, 10'000, false}, xai_long), 0.8 + 0.1 + 0.12, 1e-12);
}

TEST(Pricing, EstimateIsBytesOverFourRoundedUp) {
  nlohmann::json ten_bytes = {{"a", "12"}};  // {"a":"12"}
  TokenUse use = estimate(ten_bytes, 5);
  EXPECT_EQ(use.input_tokens, 3u);
  EXPECT_EQ(use.cached_tokens, 0u);
  EXPECT_EQ(use.output_tokens, 2u);
  EXPECT_TRUE(use.estimated);

  EXPECT_EQ(estimate(nlohmann::json::object(), 0).input_tokens, 1u);  // "{}"
  EXPECT_EQ(estimate(nlohmann::json::object(), 8).output_tokens, 2u);
  EXPECT_EQ(estimate_tokens(""), 0u);
  EXPECT_EQ(estimate_tokens("abcd"), 1u);
  EXPECT_EQ(estimate_tokens("abcde"), 2u);
  // Text that is not valid UTF-8 is estimated, not thrown on.
  EXPECT_EQ(estimate(nlohmann::json{{"t", "\xff"}}, 0).input_tokens, 3u);
}

TEST(TokenTotals, StayEstimatedOnceAnyPartWas) {
  TokenUse total;
  total += {10, 2, 3, false};
  EXPECT_FALSE(total.estimated);
  total += {5, 0, 1, true};
  total += {1, 1, 1, false};
  EXPECT_EQ(total.input_tokens, 16u);
  EXPECT_EQ(total.cached_tokens, 3u);
  EXPECT_EQ(total.output_tokens, 5u);
  EXPECT_TRUE(total.estimated);
}

}  // namespace
}  // namespace velmor::model
