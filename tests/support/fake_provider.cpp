#include "support/fake_provider.h"

#include <httplib.h>

#include <algorithm>
#include <cctype>
#include <stdexcept>

namespace velmor::testing {
namespace {

using nlohmann::json;

constexpr const char* kFakeModel = "fake-model";
constexpr const char* kFakeKey = "fake-key";

std::string lower(std::string_view text) {
  std::string out(text);
  for (char& c : out) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
  return out;
}

std::string error_body(const std::string& message) {
  return json{{"error", {{"message", "fake provider: " + message}}}}.dump();
}

json requested_model(const json& request) {
  return request.is_object() && request.contains("model") ? request["model"] : json(kFakeModel);
}

json chat_completion(const std::string& text, const std::optional<FakeUsage>& usage, const json& request) {
  json reply = {{"id", "chatcmpl-fake"},
                {"object", "chat.completion"},
                {"model", requested_model(request)},
                {"choices",
                 {{{"index", 0},
                   {"message", {{"role", "assistant"}, {"content", text}}},
                   {"finish_reason", "stop"}}}}};
  if (usage)
    reply["usage"] = {{"prompt_tokens", usage->input},
                      {"completion_tokens", usage->output},
                      {"total_tokens", usage->input + usage->output}};
  return reply;
}

json anthropic_message(const std::string& text, const std::optional<FakeUsage>& usage, const json& request) {
  json reply = {{"id", "msg_fake"},
                {"type", "message"},
                {"role", "assistant"},
                {"model", requested_model(request)},
                {"content", {{{"type", "text"}, {"text", text}}}},
                {"stop_reason", "end_turn"}};
  if (usage) {
    std::uint64_t cached = std::min(usage->cached, usage->input);
    reply["usage"] = {{"input_tokens", usage->input - cached},
                      {"cache_read_input_tokens", cached},
                      {"cache_creation_input_tokens", 0},
                      {"output_tokens", usage->output}};
  }
  return reply;
}

json response_object(const std::string& text, const std::optional<FakeUsage>& usage, const json& request) {
  json reply = {{"id", "resp_fake"},
                {"object", "response"},
                {"status", "completed"},
                {"model", requested_model(request)},
                {"output",
                 {{{"type", "message"},
                   {"role", "assistant"},
                   {"content", {{{"type", "output_text"}, {"text", text}}}}}}}};
  if (usage)
    reply["usage"] = {{"input_tokens", usage->input},
                      {"input_tokens_details", {{"cached_tokens", usage->cached}}},
                      {"output_tokens", usage->output},
                      {"total_tokens", usage->input + usage->output}};
  return reply;
}

std::string event(const json& payload) {
  return "event: " + payload["type"].get<std::string>() + "\ndata: " + payload.dump() + "\n\n";
}

// The stream a responses endpoint sends when asked to stream: the text in
// small deltas, then the completed response.
std::string response_stream(const std::string& text, const std::optional<FakeUsage>& usage,
                            const json& request) {
  std::string out = event({{"type", "response.created"}, {"response", {{"id", "resp_fake"}}}});
  for (std::size_t at = 0; at < text.size(); at += 16)
    out += event({{"type", "response.output_text.delta"}, {"delta", text.substr(at, 16)}});
  out += event({{"type", "response.completed"}, {"response", response_object(text, usage, request)}});
  return out + "data: [DONE]\n\n";
}

}  // namespace

std::optional<std::string> FakeRequest::header(std::string_view name) const {
  std::string wanted = lower(name);
  for (const auto& [k, v] : headers)
    if (k == wanted) return v;
  return std::nullopt;
}

nlohmann::json FakeRequest::json() const { return nlohmann::json::parse(body, nullptr, false); }

FakeProvider::FakeProvider(std::string base_path)
    : base_path_(std::move(base_path)), server_(std::make_unique<httplib::Server>()) {
  server_->Post(".*", [this](const httplib::Request& req, httplib::Response& res) { serve(req, res); });
  port_ = server_->bind_to_any_port("127.0.0.1");
  if (port_ <= 0) throw std::runtime_error("fake provider: cannot bind a port on 127.0.0.1");
  thread_ = std::thread([this] { server_->listen_after_bind(); });
  // stop() is ignored until the accept loop runs, so wait for it.
  for (int i = 0; i < 500 && !server_->is_running(); ++i)
    std::this_thread::sleep_for(std::chrono::milliseconds(10));
  if (!server_->is_running()) {
    thread_.detach();
    throw std::runtime_error("fake provider: server did not start");
  }
}

FakeProvider::~FakeProvider() {
  server_->stop();
  if (thread_.joinable()) thread_.join();
}

std::string FakeProvider::root_url() const { return "http://127.0.0.1:" + std::to_string(port_); }
std::string FakeProvider::url() const { return root_url() + base_path_; }

FakeProvider& FakeProvider::push_text(std::string text, std::optional<FakeUsage> usage) {
  std::lock_guard lock(mutex_);
  queue_.push_back({Reply::Kind::Text, 200, std::move(text), "application/json", usage});
  return *this;
}

FakeProvider& FakeProvider::push_texts(const std::vector<std::string>& texts) {
  for (const auto& t : texts) push_text(t);
  return *this;
}

FakeProvider& FakeProvider::push_status(int status, std::string body, std::string content_type) {
  std::lock_guard lock(mutex_);
  queue_.push_back({Reply::Kind::Status, status, std::move(body), std::move(content_type), std::nullopt});
  return *this;
}

FakeProvider& FakeProvider::push_events(std::string stream) {
  std::lock_guard lock(mutex_);
  queue_.push_back({Reply::Kind::Events, 200, std::move(stream), "text/event-stream", std::nullopt});
  return *this;
}

FakeProvider& FakeProvider::push_cut(std::string partial) {
  std::lock_guard lock(mutex_);
  queue_.push_back({Reply::Kind::Cut, 200, std::move(partial), "application/json", std::nullopt});
  return *this;
}

std::vector<FakeRequest> FakeProvider::requests() const {
  std::lock_guard lock(mutex_);
  return requests_;
}

std::size_t FakeProvider::request_count() const {
  std::lock_guard lock(mutex_);
  return requests_.size();
}

std::size_t FakeProvider::pending() const {
  std::lock_guard lock(mutex_);
  return queue_.size();
}

bool FakeProvider::wait_for_requests(std::size_t count, std::chrono::milliseconds timeout) const {
  std::unique_lock lock(mutex_);
  return arrived_.wait_for(lock, timeout, [&] { return requests_.size() >= count; });
}

void FakeProvider::serve(const httplib::Request& req, httplib::Response& res) {
  FakeRequest seen{req.method, req.path, {}, req.body};
  for (const auto& [k, v] : req.headers) seen.headers.emplace_back(lower(k), v);
  json request_body = seen.json();

  std::optional<Reply> reply;
  {
    std::lock_guard lock(mutex_);
    requests_.push_back(seen);
    if (!queue_.empty()) {
      reply = std::move(queue_.front());
      queue_.pop_front();
    }
  }
  arrived_.notify_all();

  if (!reply) {
    res.status = 500;
    res.set_content(error_body("no scripted reply left for " + req.method + " " + req.path),
                    "application/json");
    return;
  }
  switch (reply->kind) {
    case Reply::Kind::Status:
    case Reply::Kind::Events:
      res.status = reply->status;
      res.set_content(reply->body, reply->content_type);
      return;
    case Reply::Kind::Cut: {
      res.status = 200;
      auto partial = std::make_shared<std::string>(reply->body);
      res.set_content_provider(partial->size() + 1024, reply->content_type,
                               [partial](std::size_t, std::size_t, httplib::DataSink& sink) {
                                 sink.write(partial->data(), partial->size());
                                 return false;  // drops the connection
                               });
      return;
    }
    case Reply::Kind::Text: break;
  }

  const std::string& text = reply->body;
  res.status = 200;
  if (req.path.ends_with("/chat/completions")) {
    res.set_content(chat_completion(text, reply->usage, request_body).dump(), "application/json");
  } else if (req.path.ends_with("/messages")) {
    res.set_content(anthropic_message(text, reply->usage, request_body).dump(), "application/json");
  } else if (req.path.ends_with("/responses")) {
    bool stream = request_body.is_object() && request_body.value("stream", false);
    if (stream)
      res.set_content(response_stream(text, reply->usage, request_body), "text/event-stream");
    else
      res.set_content(response_object(text, reply->usage, request_body).dump(), "application/json");
  } else {
    res.status = 500;
    res.set_content(error_body("a text reply was scripted but " + req.path + " is not a model path"),
                    "application/json");
  }
}

std::map<std::string, std::string> FakeProvider::env(std::string_view provider) const {
  std::string p(provider);
  std::map<std::string, std::string> vars = {{"MODEL_PROVIDER", p}};
  if (p == "openai") {
    vars.insert({{"OPENAI_API_URL", url()}, {"OPENAI_API_KEY", kFakeKey}, {"OPENAI_MODEL", kFakeModel}});
  } else if (p == "xai") {
    vars.insert({{"XAI_API_URL", url()}, {"XAI_API_KEY", kFakeKey}, {"XAI_MODEL", kFakeModel}});
  } else if (p == "anthropic") {
    vars.insert({{"ANTHROPIC_API_URL", url()},
                 {"ANTHROPIC_API_KEY", kFakeKey},
                 {"ANTHROPIC_MODEL", kFakeModel}});
  } else if (p == "chatgpt") {
    vars.insert({{"VELMOR_CHATGPT_API_URL", url()},
                 {"VELMOR_OAUTH_TOKEN_URL", root_url() + "/oauth/token"},
                 {"CHATGPT_MODEL", kFakeModel}});
  } else {
    vars["MODEL_PROVIDER"] = "compatible";
    vars.insert({{"LLM_API_URL", url()}, {"LLM_MODEL", kFakeModel}});
  }
  return vars;
}

void FakeProvider::configure(core::Config& config, std::string_view provider) const {
  std::string p(provider);
  config.model_provider = p;
  if (p == "openai") {
    config.openai_api_url = url();
    config.openai_api_key = kFakeKey;
    config.openai_model = kFakeModel;
  } else if (p == "xai") {
    config.xai_api_url = url();
    config.xai_api_key = kFakeKey;
    config.xai_model = kFakeModel;
  } else if (p == "anthropic") {
    config.anthropic_api_url = url();
    config.anthropic_api_key = kFakeKey;
    config.anthropic_model = kFakeModel;
  } else if (p == "chatgpt") {
    // The ChatGPT base URL and token endpoint come from the environment:
    // set VELMOR_CHATGPT_API_URL and VELMOR_OAUTH_TOKEN_URL as env() gives.
    config.chatgpt_model = kFakeModel;
  } else {
    config.model_provider = "compatible";
    config.llm_api_url = url();
    config.llm_model = kFakeModel;
  }
}

core::Config FakeProvider::config(std::string_view provider) const {
  core::Config config;
  configure(config, provider);
  return config;
}

}  // namespace velmor::testing
