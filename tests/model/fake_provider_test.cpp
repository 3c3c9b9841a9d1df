// The fake provider is shared by the tests of later modules: its own
// behaviour is pinned here, through the real HTTP client.
#include "support/fake_provider.h"

#include <gtest/gtest.h>

#include <thread>

#include "core/http_client.h"

namespace velmor::testing {
namespace {

core::HttpResponse post(const std::string& url, const std::string& body) {
  core::HttpRequest request;
  request.method = "POST";
  request.url = url;
  request.body = body;
  request.headers = {{"Content-Type", "application/json"}, {"X-Trace", "t1"}};
  auto response = core::http_send(request);
  EXPECT_TRUE(response) << response.error().to_string();
  return response.value_or(core::HttpResponse{});
}

TEST(FakeProvider, AnswersInTheShapeOfThePathAsked) {
  FakeProvider fake;
  fake.push_text("one").push_text("two", FakeUsage{10, 4, 2}).push_text("three").push_text("four");

  auto chat = nlohmann::json::parse(post(fake.url() + "/chat/completions", R"({"model":"m"})").body);
  EXPECT_EQ(chat["choices"][0]["message"]["content"], "one");
  EXPECT_FALSE(chat.contains("usage"));

  auto messages = nlohmann::json::parse(post(fake.url() + "/messages", "{}").body);
  EXPECT_EQ(messages["content"][0]["text"], "two");
  EXPECT_EQ(messages["usage"]["input_tokens"], 6);  // uncached part
  EXPECT_EQ(messages["usage"]["cache_read_input_tokens"], 4);

  auto plain = nlohmann::json::parse(post(fake.url() + "/responses", R"({"stream":false})").body);
  EXPECT_EQ(plain["output"][0]["content"][0]["text"], "three");

  auto streamed = post(fake.url() + "/responses", R"({"stream":true})");
  EXPECT_NE(streamed.body.find("response.output_text.delta"), std::string::npos);
  EXPECT_NE(streamed.body.find("response.completed"), std::string::npos);
  bool event_stream = false;
  for (const auto& [k, v] : streamed.headers) event_stream |= k == "content-type" && v.starts_with("text/event-stream");
  EXPECT_TRUE(event_stream);
  EXPECT_EQ(fake.pending(), 0u);
}

TEST(FakeProvider, RecordsEveryRequestAndSaysWhenTheScriptRanOut) {
  FakeProvider fake("/api");
  EXPECT_EQ(fake.url(), fake.root_url() + "/api");
  fake.push_text("hi");
  auto wrong_path = post(fake.url() + "/elsewhere", "x");
  EXPECT_EQ(wrong_path.status, 500);
  EXPECT_NE(wrong_path.body.find("/api/elsewhere is not a model path"), std::string::npos);

  auto empty = post(fake.url() + "/chat/completions", R"({"a":1})");
  EXPECT_EQ(empty.status, 500);
  EXPECT_NE(empty.body.find("no scripted reply left for POST /api/chat/completions"), std::string::npos);

  auto seen = fake.requests();
  ASSERT_EQ(seen.size(), 2u);
  EXPECT_EQ(seen[0].path, "/api/elsewhere");
  EXPECT_EQ(seen[0].body, "x");
  EXPECT_EQ(seen[0].header("X-TRACE"), "t1");
  EXPECT_EQ(seen[1].json()["a"], 1);
  EXPECT_TRUE(seen[0].json().is_discarded());
}

TEST(FakeProvider, RawRepliesAnswerAnyPath) {
  FakeProvider fake;
  fake.push_status(418, "teapot", "text/plain").push_events("data: x\n\n");
  auto status = post(fake.root_url() + "/oauth/token", "");
  EXPECT_EQ(status.status, 418);
  EXPECT_EQ(status.body, "teapot");
  EXPECT_EQ(post(fake.url() + "/anything", "").body, "data: x\n\n");
}

TEST(FakeProvider, StreamsToAChunkCallbackAndCutsMidBody) {
  FakeProvider fake;
  fake.push_events(std::string(100'000, 'e')).push_cut("partial");
  core::HttpRequest request;
  request.method = "POST";
  request.url = fake.url() + "/responses";
  std::string streamed;
  auto whole = core::http_send(request, [&](std::string_view chunk) {
    streamed.append(chunk);
    return true;
  });
  ASSERT_TRUE(whole) << whole.error().to_string();
  EXPECT_EQ(whole->status, 200);
  EXPECT_TRUE(whole->body.empty());
  EXPECT_EQ(streamed, std::string(100'000, 'e'));

  std::string before_cut;
  auto cut = core::http_send(request, [&](std::string_view chunk) {
    before_cut.append(chunk);
    return true;
  });
  EXPECT_FALSE(cut);
  EXPECT_EQ(before_cut, "partial");
}

TEST(FakeProvider, WaitsBoundedForRequestsFromOtherThreads) {
  FakeProvider fake;
  EXPECT_FALSE(fake.wait_for_requests(1, std::chrono::milliseconds(50)));
  fake.push_text("x");
  std::thread sender([&] { post(fake.url() + "/chat/completions", "{}"); });
  EXPECT_TRUE(fake.wait_for_requests(1));
  sender.join();
}

TEST(FakeProvider, PointsVelmorAtItself) {
  FakeProvider fake;
  auto compatible = fake.env();
  EXPECT_EQ(compatible["MODEL_PROVIDER"], "compatible");
  EXPECT_EQ(compatible["LLM_API_URL"], fake.url());
  EXPECT_EQ(fake.env("anthropic")["ANTHROPIC_API_URL"], fake.url());
  EXPECT_EQ(fake.env("chatgpt")["VELMOR_OAUTH_TOKEN_URL"], fake.root_url() + "/oauth/token");
  core::Config config = fake.config("xai");
  EXPECT_EQ(config.model_provider, "xai");
  EXPECT_EQ(config.xai_api_url, fake.url());
  EXPECT_TRUE(config.xai_api_key);
}

}  // namespace
}  // namespace velmor::testing
