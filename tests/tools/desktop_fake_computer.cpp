#include "desktop_fake_computer.h"

#include <stdexcept>

namespace velmor::testing {

using nlohmann::json;

FakeComputer::FakeComputer(int port) {
  replies_["get_screen_size"] = {200, R"({"height":900,"width":1440})"};
  replies_["screenshot"] = {
      200, std::string("data: {\"success\": true, \"image_data\": \"data:image/png;base64,") +
               kImage + "\"}\n\n"};

  server_.Get("/status", [this](const httplib::Request&, httplib::Response& res) {
    std::lock_guard lock(mutex_);
    ++status_checks_;
    res.status = status_reply_;
    res.set_content(R"({"status":"ok"})", "application/json");
  });
  server_.Post("/cmd", [this](const httplib::Request& req, httplib::Response& res) {
    Received got;
    got.at = std::chrono::steady_clock::now();
    got.content_type = req.get_header_value("Content-Type");
    // ordered_json keeps the members in the order they arrived.
    auto body = nlohmann::ordered_json::parse(req.body, nullptr, false);
    if (body.is_object()) {
      for (const auto& [key, value] : body.items()) got.member_order.push_back(key);
      got.command = body.value("command", "");
      if (body.contains("params")) got.params = json::parse(body["params"].dump());
    }
    std::lock_guard lock(mutex_);
    auto it = replies_.find(got.command);
    Reply reply = it == replies_.end() ? Reply{200, R"({"success":true})"} : it->second;
    received_.push_back(std::move(got));
    res.status = reply.status;
    res.set_content(reply.body, "text/event-stream");
  });

  port_ = port == 0 ? server_.bind_to_any_port("127.0.0.1")
                    : (server_.bind_to_port("127.0.0.1", port) ? port : -1);
  if (port_ <= 0) throw std::runtime_error("fake computer server could not listen");
  thread_ = std::thread([this] { server_.listen_after_bind(); });
  // stop() before the accept loop runs would be lost and the join would hang.
  for (int i = 0; i < 400 && !server_.is_running(); ++i)
    std::this_thread::sleep_for(std::chrono::milliseconds(5));
}

FakeComputer::~FakeComputer() {
  server_.stop();
  thread_.join();
}

void FakeComputer::answer(const std::string& command, Reply reply) {
  std::lock_guard lock(mutex_);
  replies_[command] = std::move(reply);
}

void FakeComputer::status_reply(int status) {
  std::lock_guard lock(mutex_);
  status_reply_ = status;
}

std::vector<FakeComputer::Received> FakeComputer::received() const {
  std::lock_guard lock(mutex_);
  return received_;
}

std::vector<std::string> FakeComputer::commands() const {
  std::vector<std::string> out;
  for (const auto& r : received()) out.push_back(r.command);
  return out;
}

int FakeComputer::status_checks() const {
  std::lock_guard lock(mutex_);
  return status_checks_;
}

}  // namespace velmor::testing
