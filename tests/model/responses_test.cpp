#include <gtest/gtest.h>

#include <thread>

#include <nlohmann/json.hpp>

#include "model_fixture.h"

namespace velmor::model {
namespace {

using Responses = ModelTest;

const std::vector<Message> kWithImage = {
    {Role::User, "look", std::string("iVBO")},
    {Role::Assistant, "seen", std::string("AAAA")},
};

TEST_F(Responses, OpenAiRequestIsExact) {
  auto c = client("openai");
  c.set_prompt_cache_key("velmor-s_1");
  fake_.push_text("answer", testing::FakeUsage{100, 40, 7});
  auto reply = c.chat("be brief", kWithImage);
  ASSERT_TRUE(reply) << reply.error().to_string();
  EXPECT_EQ(reply->text, "answer");
  EXPECT_EQ(reply->usage.input_tokens, 100u);
  EXPECT_EQ(reply->usage.cached_tokens, 40u);
  EXPECT_EQ(reply->usage.output_tokens, 7u);
  EXPECT_FALSE(reply->usage.estimated);

  auto sent = fake_.requests().at(0);
  EXPECT_EQ(sent.path, "/v1/responses");
  EXPECT_EQ(sent.header("Content-Type"), "application/json");
  EXPECT_EQ(sent.header("Authorization"), "Bearer fake-key");
  EXPECT_EQ(sent.header("x-api-key"), std::nullopt);
  EXPECT_EQ(sent.body,
            R"({"input":[{"content":"be brief","role":"system"},)"
            R"({"content":[{"detail":"high","image_url":"data:image/png;base64,iVBO","type":"input_image"},)"
            R"({"text":"look","type":"input_text"}],"role":"user"},)"
            R"({"content":"seen","role":"assistant"}],)"
            R"("model":"fake-model","prompt_cache_key":"velmor-s_1","store":false,"stream":false})");
}

TEST_F(Responses, XaiNeverSendsThePromptCacheKey) {
  auto c = client("xai");
  c.set_prompt_cache_key("velmor-cli");
  fake_.push_text("ok");
  ASSERT_TRUE(c.chat("sys", user("hi")));
  auto sent = fake_.requests().at(0);
  EXPECT_EQ(sent.header("authorization"), "Bearer fake-key");
  EXPECT_EQ(sent.body,
            R"({"input":[{"content":"sys","role":"system"},{"content":"hi","role":"user"}],)"
            R"("model":"fake-model","store":false,"stream":false})");
}

TEST_F(Responses, OpenAiWithoutCacheKeySendsNone) {
  auto c = client("openai");
  fake_.push_text("ok");
  ASSERT_TRUE(c.chat("sys", user("hi")));
  EXPECT_FALSE(fake_.requests().at(0).json().contains("prompt_cache_key"));
}

TEST_F(Responses, ReplyTextComesFromOutputTextOrTheOutputParts) {
  struct Case {
    const char* name;
    const char* body;
    const char* expected;  // nullptr: "openai returned no output text"
  } cases[] = {
      {"top-level text, trimmed", R"({"output_text":"  top  ","output":[{"content":[{"type":"output_text","text":"part"}]}]})",
       "top"},
      {"blank top-level text falls back to the parts",
       R"({"output_text":"  ","output":[{"content":[{"type":"output_text","text":"Hel"},{"type":"refusal","text":"no"}]},)"
       R"({"type":"reasoning"},{"content":[{"type":"text","text":"lo "}]}]})",
       "Hello"},
      {"parts only", R"({"output":[{"content":[{"type":"output_text","text":" a"},{"type":"output_text","text":"b "}]}]})",
       "ab"},
      {"nothing usable", R"({"output":[{"content":[{"type":"refusal","text":"no"}]}]})", nullptr},
      {"no output at all", R"({"status":"completed"})", nullptr},
      {"not an object", R"("text")", nullptr},
  };
  auto c = client("openai");
  for (const auto& cs : cases) {
    SCOPED_TRACE(cs.name);
    fake_.push_status(200, cs.body);
    auto reply = c.chat("s", user("u"));
    if (cs.expected) {
      ASSERT_TRUE(reply) << reply.error().to_string();
      EXPECT_EQ(reply->text, cs.expected);
      EXPECT_TRUE(reply->usage.estimated);  // none of these bodies has usage
    } else {
      ASSERT_FALSE(reply);
      EXPECT_EQ(reply.error().message(), "openai returned no output text");
    }
  }
}

TEST_F(Responses, UsageNumbersAndMissingParts) {
  auto c = client("xai");
  fake_.push_status(200, R"({"output_text":"ok","usage":{"input_tokens":9.7,"input_tokens_details":{"cached_tokens":4}}})");
  auto reply = c.chat("s", user("u")).value();
  EXPECT_EQ(reply.usage.input_tokens, 9u);
  EXPECT_EQ(reply.usage.cached_tokens, 4u);
  EXPECT_EQ(reply.usage.output_tokens, 0u);
  EXPECT_FALSE(reply.usage.estimated);

  fake_.push_status(200, R"({"output_text":"ok","usage":null})");
  EXPECT_TRUE(c.chat("s", user("u")).value().usage.estimated);
}

TEST_F(Responses, FailuresNameTheProvider) {
  struct Case {
    const char* label;
    int status;
    const char* body;
    const char* message;  // exact, or a prefix when it ends in ": "
  } cases[] = {
      {"openai", 200, R"({"error":{"message":"model overloaded"},"output_text":"x"})", "openai: model overloaded"},
      {"xai", 200, R"({"error":{"message":"bad"}})", "xai: bad"},
      {"openai", 200, "<html>", "openai response was not json: "},
      {"xai", 429, "slow down", "xai http 429: slow down"},
      {"openai", 401, "subscription_sharing_usage_limit_exceeded", "openai http 401: subscription_sharing_usage_limit_exceeded"},
  };
  for (const auto& cs : cases) {
    SCOPED_TRACE(cs.body);
    auto c = client(cs.label);
    expect_chat_fails(c, cs.status, cs.body, cs.message);
  }
}

TEST_F(Responses, OneClientServesSeveralThreadsAtOnce) {
  auto c = client("openai");
  constexpr int kThreads = 6;
  for (int i = 0; i < kThreads; ++i) fake_.push_text("reply");
  std::vector<std::thread> threads;
  std::vector<int> ok(kThreads, 0);  // not vector<bool>: its bits share bytes
  for (int i = 0; i < kThreads; ++i)
    threads.emplace_back([&, i] {
      c.set_prompt_cache_key("velmor-" + std::to_string(i));
      auto reply = c.chat("s", user("u" + std::to_string(i)));
      ok[i] = reply && reply->text == "reply";
    });
  for (auto& t : threads) t.join();
  for (int i = 0; i < kThreads; ++i) EXPECT_TRUE(ok[i]) << i;
  EXPECT_EQ(fake_.request_count(), static_cast<std::size_t>(kThreads));
  for (const auto& r : fake_.requests())
    EXPECT_TRUE(r.json().value("prompt_cache_key", "").starts_with("velmor-")) << r.body;
}

}  // namespace
}  // namespace velmor::model
