#include <gtest/gtest.h>

#include <nlohmann/json.hpp>

#include "model_fixture.h"

namespace velmor::model {
namespace {

using Messages = ModelTest;

TEST_F(Messages, AnthropicRequestIsExact) {
  auto c = client("anthropic");
  c.set_prompt_cache_key("velmor-cli");  // not part of this format
  fake_.push_text("fine", testing::FakeUsage{50, 30, 6});
  std::vector<Message> conversation = {
      {Role::User, "look", std::string("iVBO")},
      {Role::Assistant, "seen", std::string("AAAA")},
  };
  auto reply = c.chat("be brief", conversation);
  ASSERT_TRUE(reply) << reply.error().to_string();
  EXPECT_EQ(reply->text, "fine");
  EXPECT_EQ(reply->usage.input_tokens, 50u);
  EXPECT_EQ(reply->usage.cached_tokens, 30u);
  EXPECT_EQ(reply->usage.output_tokens, 6u);

  auto sent = fake_.requests().at(0);
  EXPECT_EQ(sent.path, "/v1/messages");
  EXPECT_EQ(sent.header("content-type"), "application/json");
  EXPECT_EQ(sent.header("x-api-key"), "fake-key");
  EXPECT_EQ(sent.header("anthropic-version"), "2023-06-01");
  EXPECT_EQ(sent.header("authorization"), std::nullopt);
  EXPECT_EQ(sent.body,
            R"({"max_tokens":4096,"messages":[)"
            R"({"content":[{"source":{"data":"iVBO","media_type":"image/png","type":"base64"},"type":"image"},)"
            R"({"text":"look","type":"text"}],"role":"user"},)"
            R"({"content":"seen","role":"assistant"}],"model":"fake-model","system":"be brief"})");
}

TEST_F(Messages, TextBlocksJoinWithoutSeparatorAndCacheCountsAddUp) {
  auto c = client("anthropic");
  fake_.push_status(200, R"({"content":[{"type":"text","text":" Hel"},{"type":"tool_use","text":"x"},)"
                         R"({"type":"text","text":"lo "}],"usage":{"input_tokens":10,)"
                         R"("cache_read_input_tokens":200,"cache_creation_input_tokens":30,"output_tokens":4}})");
  auto reply = c.chat("s", user("u"));
  ASSERT_TRUE(reply) << reply.error().to_string();
  EXPECT_EQ(reply->text, "Hello");
  EXPECT_EQ(reply->usage.input_tokens, 240u);
  EXPECT_EQ(reply->usage.cached_tokens, 200u);
  EXPECT_EQ(reply->usage.output_tokens, 4u);
  EXPECT_FALSE(reply->usage.estimated);

  fake_.push_status(200, R"({"content":[{"type":"text","text":"no usage"}]})");
  EXPECT_TRUE(c.chat("s", user("u")).value().usage.estimated);
}

TEST_F(Messages, FailuresHaveTheirOwnTexts) {
  struct Case {
    int status;
    const char* body;
    const char* message;
  } cases[] = {
      {200, R"({"type":"error","error":{"type":"overloaded_error","message":"Overloaded"}})", "anthropic: Overloaded"},
      {200, R"({"content":[{"type":"text","text":"   "}]})", "anthropic returned no text"},
      {200, R"({"content":[]})", "anthropic returned no text"},
      {200, "{", "anthropic response was not json: "},
      {401, R"({"error":{"message":"invalid x-api-key"}})", R"(anthropic http 401: {"error":{"message":"invalid x-api-key"}})"},
  };
  auto c = client("anthropic");
  for (const auto& cs : cases) {
    SCOPED_TRACE(cs.body);
    expect_chat_fails(c, cs.status, cs.body, cs.message);
  }
}

}  // namespace
}  // namespace velmor::model
