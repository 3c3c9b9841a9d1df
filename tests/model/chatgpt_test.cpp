#include <gtest/gtest.h>

#include <chrono>
#include <thread>

#include <nlohmann/json.hpp>

#include "model_fixture.h"

namespace velmor::model {
namespace {

std::uint64_t now_secs() {
  return static_cast<std::uint64_t>(
      std::chrono::duration_cast<std::chrono::seconds>(std::chrono::system_clock::now().time_since_epoch())
          .count());
}

class ChatGpt : public ModelTest {
 protected:
  ChatGpt() {
    env_.set("VELMOR_OAUTH_TOKEN_URL", fake_.root_url() + "/oauth/token");
  }

  // A sign-in that lives `secs` more seconds.
  static ChatGptAuth auth_expiring_in(std::int64_t secs) {
    return {"old-access", "old-refresh", static_cast<std::uint64_t>(static_cast<std::int64_t>(now_secs()) + secs),
            "app_123", std::string("me@example.com"), std::string("old.id.token")};
  }
};

TEST_F(ChatGpt, WithoutASignInNothingIsSent) {
  auto c = client("chatgpt");
  auto reply = c.chat("s", user("u"));
  ASSERT_FALSE(reply);
  EXPECT_EQ(reply.error().kind(), ErrorKind::Config);
  EXPECT_EQ(reply.error().message(),
            "not signed in with ChatGPT. Open Settings and choose Continue with ChatGPT.");
  EXPECT_EQ(fake_.request_count(), 0u);
}

TEST_F(ChatGpt, StreamedRequestIsExactAndCompletedResponseGivesTextAndUsage) {
  ASSERT_TRUE(auth_expiring_in(3600).save());
  auto c = client("chatgpt");
  c.set_prompt_cache_key("velmor-cli");
  fake_.push_text("a reply that streams in several deltas", testing::FakeUsage{300, 200, 9});
  std::vector<Message> conversation = {{Role::User, "look", std::string("iVBO")}};
  auto reply = c.chat("be brief", conversation);
  ASSERT_TRUE(reply) << reply.error().to_string();
  EXPECT_EQ(reply->text, "a reply that streams in several deltas");
  EXPECT_EQ(reply->usage.input_tokens, 300u);
  EXPECT_EQ(reply->usage.cached_tokens, 200u);
  EXPECT_EQ(reply->usage.output_tokens, 9u);
  EXPECT_FALSE(reply->usage.estimated);

  ASSERT_EQ(fake_.request_count(), 1u);  // no refresh for a sign-in that lives an hour
  auto sent = fake_.requests()[0];
  EXPECT_EQ(sent.path, "/v1/responses");
  EXPECT_EQ(sent.header("authorization"), "Bearer old-access");
  EXPECT_EQ(sent.header("content-type"), "application/json");
  EXPECT_EQ(sent.body,
            R"({"input":[{"content":[{"detail":"high","image_url":"data:image/png;base64,iVBO","type":"input_image"},)"
            R"({"text":"look","type":"input_text"}],"role":"user"}],"instructions":"be brief",)"
            R"("model":"fake-model","prompt_cache_key":"velmor-cli","store":false,"stream":true})");
}

TEST_F(ChatGpt, EventStreamsAreReadLineByLine) {
  struct Case {
    const char* name;
    std::string stream;
    std::string expected;  // reply text, or the error message when `fails`
    bool fails = false;
  } cases[] = {
      {"deltas without a completion event",
       "event: response.output_text.delta\r\ndata: {\"type\":\"response.output_text.delta\",\"delta\":\"Hel\"}\r\n\r\n"
       "data:{\"type\":\"response.output_text.delta\",\"delta\":\"lo\"}\n: keep-alive\ndata: not json\ndata: [DONE]\n",
       "Hello"},
      {"completion event wins over deltas",
       "data: {\"type\":\"response.output_text.delta\",\"delta\":\"draft\"}\n"
       "data: {\"type\":\"response.completed\",\"response\":{\"output_text\":\"final\"}}\n",
       "final"},
      {"incomplete response counts as final",
       "data: {\"type\":\"response.incomplete\",\"response\":{\"output\":[{\"content\":[{\"type\":\"output_text\",\"text\":\"cut short\"}]}]}}",
       "cut short"},
      {"completion listing no output keeps the streamed text",
       "data: {\"type\":\"response.output_text.delta\",\"delta\":\"streamed\"}\n"
       "data: {\"type\":\"response.completed\",\"response\":{\"output\":[]}}\n",
       "streamed"},
      {"error event with a top-level message",
       "data: {\"type\":\"response.output_text.delta\",\"delta\":\"x\"}\ndata: {\"type\":\"error\",\"message\":\"rate limited\"}\n",
       "chatgpt: rate limited", true},
      {"error event with a nested message", "data: {\"type\":\"error\",\"error\":{\"message\":\"nested\"}}\n",
       "chatgpt: nested", true},
      {"error event without a message", "data: {\"type\":\"error\"}\n", "chatgpt: stream error", true},
      {"failed response", "data: {\"type\":\"response.failed\",\"response\":{\"error\":{\"message\":\"boom\"}}}\n",
       "chatgpt: boom", true},
      {"failed response without a message", "data: {\"type\":\"response.failed\"}\n", "chatgpt: response failed",
       true},
      {"nothing usable", "event: ping\ndata: [DONE]\n\n",
       "chatgpt: stream ended without a completed response", true},
      {"completed without text", "data: {\"type\":\"response.completed\",\"response\":{\"output\":[]}}\n",
       "chatgpt returned no output text", true},
  };
  ASSERT_TRUE(auth_expiring_in(3600).save());
  auto c = client("chatgpt");
  for (const auto& cs : cases) {
    SCOPED_TRACE(cs.name);
    fake_.push_events(cs.stream);
    auto reply = c.chat("s", user("u"));
    if (cs.fails) {
      ASSERT_FALSE(reply);
      EXPECT_EQ(reply.error().kind(), ErrorKind::Inference);
      EXPECT_EQ(reply.error().message(), cs.expected);
    } else {
      ASSERT_TRUE(reply) << reply.error().to_string();
      EXPECT_EQ(reply->text, cs.expected);
      EXPECT_TRUE(reply->usage.estimated);
    }
  }
}

TEST_F(ChatGpt, ErrorStatusesCarryTheRightHint) {
  struct Case {
    int status;
    std::string body;
    std::string message;
  } cases[] = {
      {401, R"({"detail":"token expired"})",
       R"(chatgpt http 401: {"detail":"token expired"} (ChatGPT sign-in expired; sign in again from Settings))"},
      {401, R"({"error":{"code":"subscription_sharing_usage_limit_exceeded"}})",
       R"(chatgpt http 401: {"error":{"code":"subscription_sharing_usage_limit_exceeded"}} (your ChatGPT plan's )"
       R"(shared limit for apps is used up for now; wait, or paste an API key in Settings))"},
      {500, "oops", "chatgpt http 500: oops"},
  };
  ASSERT_TRUE(auth_expiring_in(3600).save());
  auto c = client("chatgpt");
  for (const auto& cs : cases) {
    expect_chat_fails(c, cs.status, cs.body, cs.message);
  }
  // The marker counts anywhere in the body, even past the 180 characters shown.
  expect_chat_fails(c, 429, std::string(300, 'x') + "subscription_sharing_usage_limit_exceeded",
                    "chatgpt http 429: " + std::string(180, 'x') +
                        " (your ChatGPT plan's shared limit for apps is used up for now; wait, or paste an "
                        "API key in Settings)");
}

TEST_F(ChatGpt, ExpiringSignInIsRefreshedSavedAndUsed) {
  ASSERT_TRUE(auth_expiring_in(119).save());
  auto c = client("chatgpt");
  fake_.push_status(200, R"({"access_token":"new-access","expires_in":7200})");
  fake_.push_text("hello");
  std::uint64_t before = now_secs();
  auto reply = c.chat("s", user("u"));
  ASSERT_TRUE(reply) << reply.error().to_string();
  EXPECT_EQ(reply->text, "hello");

  auto sent = fake_.requests();
  ASSERT_EQ(sent.size(), 2u);
  EXPECT_EQ(sent[0].path, "/oauth/token");
  EXPECT_EQ(sent[0].header("content-type"), "application/x-www-form-urlencoded");
  EXPECT_EQ(sent[0].body, "grant_type=refresh_token&refresh_token=old-refresh&client_id=app_123");
  EXPECT_EQ(sent[1].path, "/v1/responses");
  EXPECT_EQ(sent[1].header("authorization"), "Bearer new-access");

  auto saved = ChatGptAuth::load();
  ASSERT_TRUE(saved);
  EXPECT_EQ(saved->access_token, "new-access");
  EXPECT_EQ(saved->refresh_token, "old-refresh");  // the answer had none: the old one stays
  EXPECT_GE(saved->expires_at, before + 7200);
  EXPECT_LE(saved->expires_at, now_secs() + 7200);
  EXPECT_EQ(saved->client_id, "app_123");
  EXPECT_EQ(saved->email, "me@example.com");
  EXPECT_EQ(saved->id_token, "old.id.token");
}

TEST_F(ChatGpt, RefreshUsesTheConfiguredClientWhenTheStoredOneIsNotValid) {
  ChatGptAuth auth = auth_expiring_in(-10);
  auth.client_id = std::string(oauth::kDefaultClientId);
  ASSERT_TRUE(auth.save());
  for (const auto& [k, v] : fake_.env("chatgpt")) env_.set(k, v);
  Config config = fake_.config("chatgpt");
  config.openai_client_id = "app_configured";
  auto c = ModelClient::from_config(config).value();
  fake_.push_status(200, R"({"access_token":"a2","refresh_token":"r2"})");
  fake_.push_text("ok");
  ASSERT_TRUE(c.chat("s", user("u")));
  EXPECT_EQ(fake_.requests().at(0).body, "grant_type=refresh_token&refresh_token=old-refresh&client_id=app_configured");
  auto saved = ChatGptAuth::load().value();
  EXPECT_EQ(saved.refresh_token, "r2");
  EXPECT_EQ(saved.client_id, "app_configured");
}

TEST_F(ChatGpt, InvalidGrantStopsTheCallWithTheExpiryMessage) {
  ASSERT_TRUE(auth_expiring_in(0).save());
  auto c = client("chatgpt");
  fake_.push_status(400, R"({"error":"invalid_grant"})");
  auto reply = c.chat("s", user("u"));
  ASSERT_FALSE(reply);
  EXPECT_EQ(reply.error().kind(), ErrorKind::Config);
  EXPECT_EQ(reply.error().message(),
            "your ChatGPT sign-in has expired or was used from another copy of velmor. Open Settings and "
            "choose Continue with ChatGPT again.");
  EXPECT_EQ(fake_.request_count(), 1u);  // the model was never asked
  EXPECT_EQ(ChatGptAuth::load()->access_token, "old-access");
}

TEST_F(ChatGpt, ConcurrentCallsSpendTheRefreshTokenOnce) {
  ASSERT_TRUE(auth_expiring_in(5).save());
  auto c = client("chatgpt");
  fake_.push_status(200, R"({"access_token":"new-access","refresh_token":"new-refresh","expires_in":3600})");
  constexpr int kThreads = 4;
  for (int i = 0; i < kThreads; ++i) fake_.push_text("ok");
  std::vector<int> ok(kThreads, 0);
  std::vector<std::thread> threads;
  for (int i = 0; i < kThreads; ++i)
    threads.emplace_back([&, i] { ok[i] = c.chat("s", user("u")).has_value(); });
  for (auto& t : threads) t.join();
  for (int i = 0; i < kThreads; ++i) EXPECT_TRUE(ok[i]) << i;
  int token_posts = 0;
  for (const auto& r : fake_.requests()) {
    if (r.path == "/oauth/token") ++token_posts;
    else EXPECT_EQ(r.header("authorization"), "Bearer new-access");
  }
  EXPECT_EQ(token_posts, 1);
}

}  // namespace
}  // namespace velmor::model
