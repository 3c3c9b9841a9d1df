// A language-model provider on loopback for tests: a cpp-httplib server on
// an ephemeral port of 127.0.0.1 that answers every POST from a scripted
// queue, first in first out, and records every request it receives.
//
//   FakeProvider fake;                       // serves http://127.0.0.1:{port}/v1
//   fake.push_texts({R"({"action":"done"})", "thanks"});
//   auto client = ModelClient::from_config(fake.config());   // compatible
//   ... client->chat(system, messages) ...
//   EXPECT_EQ(fake.requests()[0].path, "/v1/chat/completions");
//
// For the real binary: run_velmor({"ask", "hi"}, {.env = fake.env()}).
//
// A text reply takes the wire shape of the path asked: ".../chat/completions"
// (choices), ".../messages" (content blocks), ".../responses" (output parts,
// or an event stream of deltas and a completion event when the request body
// has "stream": true). Raw replies (status, events, cut) answer any path.
// With the queue empty, or a text reply asked for on another path, the fake
// answers 500 with a body that says so. All members are thread-safe.
#pragma once

#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <deque>
#include <map>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <string_view>
#include <thread>
#include <utility>
#include <vector>

#include <nlohmann/json.hpp>

#include "core/config.h"

namespace httplib {
class Server;
struct Request;
struct Response;
}  // namespace httplib

namespace velmor::testing {

// Token counts a scripted reply reports, written in each format's own
// terms (for the messages format, input minus cached is the uncached part).
struct FakeUsage {
  std::uint64_t input = 0;  // all prompt tokens, cached ones included
  std::uint64_t cached = 0;
  std::uint64_t output = 0;
};

// One request as the fake received it.
struct FakeRequest {
  std::string method;
  std::string path;  // without the query
  std::vector<std::pair<std::string, std::string>> headers;  // names lower-cased
  std::string body;  // the raw bytes

  // The first header of that name (any case), if present.
  std::optional<std::string> header(std::string_view name) const;
  // The body parsed as JSON; a discarded value when it is not JSON.
  nlohmann::json json() const;
};

class FakeProvider {
 public:
  // Starts serving before returning; `base_path` is what url() ends with.
  explicit FakeProvider(std::string base_path = "/v1");
  ~FakeProvider();  // stops the server and joins its thread
  FakeProvider(const FakeProvider&) = delete;
  FakeProvider& operator=(const FakeProvider&) = delete;

  // "http://127.0.0.1:{port}{base_path}": the base URL to configure.
  std::string url() const;
  // "http://127.0.0.1:{port}", for other paths (a token endpoint).
  std::string root_url() const;
  int port() const { return port_; }

  // A successful reply with this text and, optionally, token counts; without
  // them the reply has no usage member at all.
  FakeProvider& push_text(std::string text, std::optional<FakeUsage> usage = std::nullopt);
  // One push_text per element, in order, without usage.
  FakeProvider& push_texts(const std::vector<std::string>& texts);
  // Exactly this status and body.
  FakeProvider& push_status(int status, std::string body,
                            std::string content_type = "application/json");
  // Status 200 with this text as a "text/event-stream" body, as is.
  FakeProvider& push_events(std::string stream);
  // Status 200 announcing more bytes than it sends: `partial` goes out and
  // the connection is dropped, so the client fails while reading the body.
  FakeProvider& push_cut(std::string partial);

  // Every request so far, in arrival order (copies).
  std::vector<FakeRequest> requests() const;
  std::size_t request_count() const;
  // Scripted replies not yet used.
  std::size_t pending() const;
  // Waits until at least `count` requests arrived; false on timeout.
  bool wait_for_requests(std::size_t count,
                         std::chrono::milliseconds timeout = std::chrono::seconds(10)) const;

  // Environment variables that point velmor at this fake for `provider`
  // ("compatible", "openai", "xai", "anthropic" or "chatgpt"): the provider
  // choice, base URL, a key and the model "fake-model". For "chatgpt" the
  // token endpoint is root_url() + "/oauth/token"; the sign-in file itself
  // is the test's to write.
  std::map<std::string, std::string> env(std::string_view provider = "compatible") const;
  // Sets the same settings on `config`, leaving its other fields alone.
  void configure(core::Config& config, std::string_view provider = "compatible") const;
  // A default Config configured for `provider`.
  core::Config config(std::string_view provider = "compatible") const;

 private:
  struct Reply {
    enum class Kind { Text, Status, Events, Cut } kind = Kind::Text;
    int status = 200;
    std::string body;  // the text, or the raw body
    std::string content_type;
    std::optional<FakeUsage> usage;
  };
  void serve(const httplib::Request& request, httplib::Response& response);

  std::string base_path_;
  int port_ = 0;
  std::unique_ptr<httplib::Server> server_;
  std::thread thread_;
  mutable std::mutex mutex_;
  mutable std::condition_variable arrived_;
  std::deque<Reply> queue_;
  std::vector<FakeRequest> requests_;
};

}  // namespace velmor::testing
