// A computer-use server on loopback that records every command it gets and
// answers each with a reply the test chose.
#pragma once

#include <httplib.h>

#include <chrono>
#include <map>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include <nlohmann/json.hpp>

namespace velmor::testing {

class FakeComputer {
 public:
  struct Received {
    std::string command;
    nlohmann::json params;
    std::vector<std::string> member_order;  // the body's top-level keys as sent
    std::string content_type;
    std::chrono::steady_clock::time_point at;
  };
  struct Reply {
    int status = 200;
    std::string body;
  };

  // Listens on `port` (0 picks a free one) until destroyed.
  explicit FakeComputer(int port = 0);
  ~FakeComputer();
  FakeComputer(const FakeComputer&) = delete;
  FakeComputer& operator=(const FakeComputer&) = delete;

  int port() const { return port_; }
  std::string url() const { return "http://127.0.0.1:" + std::to_string(port_); }

  // The reply to `command` from now on; unset commands answer
  // {"success": true}, get_screen_size and screenshot answer a screen.
  void answer(const std::string& command, Reply reply);
  void status_reply(int status);

  std::vector<Received> received() const;
  std::vector<std::string> commands() const;
  int status_checks() const;

  static constexpr const char* kImage = "iVBORw0KGgoAAAANSUhEUg==";

 private:
  httplib::Server server_;
  std::thread thread_;
  int port_ = 0;
  mutable std::mutex mutex_;
  std::map<std::string, Reply> replies_;
  std::vector<Received> received_;
  int status_checks_ = 0;
  int status_reply_ = 200;
};

}  // namespace velmor::testing
