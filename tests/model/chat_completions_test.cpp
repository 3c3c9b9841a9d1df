#include <gtest/gtest.h>

#include <nlohmann/json.hpp>

#include "model_fixture.h"

namespace velmor::model {
namespace {

using ChatCompletions = ModelTest;

TEST_F(ChatCompletions, SendsSystemFirstImagesAsPartsAndNothingElse) {
  auto c = client();
  c.set_prompt_cache_key("velmor-cli");  // not part of this format
  fake_.push_text("  done  ", testing::FakeUsage{12, 4, 5});
  std::vector<Message> conversation = {
      {Role::User, "look", std::string("iVBO")},
      {Role::Assistant, "seen", std::string("AAAA")},  // assistants never send images
      {Role::User, "next", std::nullopt},
  };
  auto reply = c.chat("be brief", conversation);
  ASSERT_TRUE(reply) << reply.error().to_string();
  EXPECT_EQ(reply->text, "done");
  EXPECT_EQ(reply->usage.input_tokens, 12u);
  EXPECT_EQ(reply->usage.cached_tokens, 0u);
  EXPECT_EQ(reply->usage.output_tokens, 5u);
  EXPECT_FALSE(reply->usage.estimated);

  auto sent = fake_.requests();
  ASSERT_EQ(sent.size(), 1u);
  EXPECT_EQ(sent[0].method, "POST");
  EXPECT_EQ(sent[0].path, "/v1/chat/completions");
  EXPECT_EQ(sent[0].header("content-type"), "application/json");
  EXPECT_EQ(sent[0].header("authorization"), std::nullopt);
  EXPECT_EQ(sent[0].body,
            R"({"messages":[{"content":"be brief","role":"system"},)"
            R"({"content":[{"image_url":{"url":"data:image/png;base64,iVBO"},"type":"image_url"},)"
            R"({"text":"look","type":"text"}],"role":"user"},)"
            R"({"content":"seen","role":"assistant"},{"content":"next","role":"user"}],)"
            R"("model":"fake-model"})");
}

TEST_F(ChatCompletions, SendsTheKeyOnlyWhenOneIsConfigured) {
  Config config = fake_.config();
  config.llm_api_key = "sk-local";
  auto c = ModelClient::from_config(config).value();
  fake_.push_text("a");
  ASSERT_TRUE(c.chat("s", user("u")));
  EXPECT_EQ(fake_.requests()[0].header("authorization"), "Bearer sk-local");
}

TEST_F(ChatCompletions, ReplyWithoutUsageIsEstimatedFromWhatWasSent) {
  auto c = client();
  fake_.push_text("four");
  auto reply = c.chat("s", user("u")).value();
  std::string body = fake_.requests()[0].body;
  EXPECT_TRUE(reply.usage.estimated);
  EXPECT_EQ(reply.usage.input_tokens, (body.size() + 3) / 4);
  EXPECT_EQ(reply.usage.output_tokens, 1u);
  EXPECT_EQ(reply.usage.cached_tokens, 0u);
}

TEST_F(ChatCompletions, UsageNumbersOfAnyJsonNumberType) {
  struct Case {
    const char* usage;
    std::uint64_t input, output;
  } cases[] = {
      {R"({"prompt_tokens":7,"completion_tokens":3})", 7, 3},
      {R"({"prompt_tokens":7.9,"completion_tokens":3.2})", 7, 3},
      {R"({"prompt_tokens":-7,"completion_tokens":"3"})", 0, 0},
      {R"({"completion_tokens":18446744073709551615})", 0, 18446744073709551615u},
      {R"({})", 0, 0},
  };
  auto c = client();
  for (const auto& cs : cases) {
    SCOPED_TRACE(cs.usage);
    fake_.push_status(200, std::string(R"({"choices":[{"message":{"content":"ok"}}],"usage":)") + cs.usage + "}");
    auto reply = c.chat("s", user("u"));
    ASSERT_TRUE(reply) << reply.error().to_string();
    EXPECT_EQ(reply->usage.input_tokens, cs.input);
    EXPECT_EQ(reply->usage.output_tokens, cs.output);
    EXPECT_FALSE(reply->usage.estimated);
  }
}

TEST_F(ChatCompletions, BadRepliesGiveTheirOwnTexts) {
  struct Case {
    int status;
    std::string body;
    std::string message;  // the 401 one has no ChatGPT hint
  } cases[] = {
      {200, "not json", "llm response was not json: "},
      {200, R"({"choices":[]})", "llm returned no content"},
      {200, R"({"choices":[{"message":{"content":"  \n "}}]})", "llm returned no content"},
      {200, R"({"choices":[{"message":{"content":null}}]})", "llm returned no content"},
      {200, R"([1,2])", "llm returned no content"},
      {401, R"({"error":"bad key"})", R"(compatible http 401: {"error":"bad key"})"},
  };
  auto c = client();
  for (const auto& cs : cases) {
    SCOPED_TRACE(cs.body);
    expect_chat_fails(c, cs.status, cs.body, cs.message);
  }
  EXPECT_EQ(fake_.request_count(), std::size(cases));  // one POST per call, no retries
}

TEST_F(ChatCompletions, ErrorStatusKeepsExactly180CharactersOfBody) {
  auto c = client();
  // Multi-byte characters: the cut counts characters, not bytes.
  std::string body;
  for (int i = 0; i < 500; ++i) body += "é";
  for (int i = 0; i < 500; ++i) body += "x";
  fake_.push_status(500, body, "text/plain");
  auto reply = c.chat("s", user("u"));
  ASSERT_FALSE(reply);
  std::string expected = "compatible http 500: ";
  for (int i = 0; i < 180; ++i) expected += "é";
  EXPECT_EQ(reply.error().message(), expected);
}

TEST_F(ChatCompletions, TransportAndReadFailuresNameTheProvider) {
  Config config = fake_.config();
  {
    testing::FakeProvider closed;
    config.llm_api_url = closed.url();
  }  // nothing listens there any more
  auto refused = ModelClient::from_config(config).value().chat("s", user("u"));
  ASSERT_FALSE(refused);
  EXPECT_EQ(refused.error().kind(), ErrorKind::Inference);
  EXPECT_TRUE(refused.error().message().starts_with("compatible: ")) << refused.error().message();

  auto c = client();
  fake_.push_cut(R"({"choices":[{"message":)");
  auto cut = c.chat("s", user("u"));
  ASSERT_FALSE(cut);
  EXPECT_EQ(cut.error().kind(), ErrorKind::Inference);
  EXPECT_TRUE(cut.error().message().starts_with("compatible read: ")) << cut.error().message();
}

TEST_F(ChatCompletions, TextThatIsNotValidUtf8IsSentRepaired) {
  auto c = client();
  fake_.push_text("ok");
  auto reply = c.chat("s", user("bad \xff byte"));
  ASSERT_TRUE(reply) << reply.error().to_string();
  auto sent = fake_.requests()[0].json();
  EXPECT_EQ(sent["messages"][1]["content"], "bad \xEF\xBF\xBD byte");
}

}  // namespace
}  // namespace velmor::model
