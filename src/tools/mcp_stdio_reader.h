// The reading side of an MCP client: a thread that turns the server's
// standard output into messages (line or Content-Length framed) and hands
// them over through an unbounded channel. Internal to the tools module.
#pragma once

#include <chrono>
#include <condition_variable>
#include <deque>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <string_view>
#include <thread>
#include <variant>

#include <nlohmann/json.hpp>

#include "core/error.h"

namespace velmor::tools {

// A parsed message, or the reader's last word ("{name} closed", ...).
struct McpFailure {
  std::string text;
};
using McpIncoming = std::variant<nlohmann::json, McpFailure>;

// One producer (the reader thread), one consumer (the client). Thread-safe.
class McpChannel {
 public:
  // False once the consumer has gone.
  bool send(McpIncoming item);
  // The producer is done; the consumer sees what is queued, then the end.
  void close();
  void release_consumer();
  // The next item; nullopt when the deadline passes or the channel is
  // closed and drained.
  std::optional<McpIncoming> receive_until(std::chrono::steady_clock::time_point deadline);

 private:
  std::mutex mutex_;
  std::condition_variable ready_;
  std::deque<McpIncoming> items_;
  bool closed_ = false;
  bool consumer_gone_ = false;
};

// Owns the server's standard output and the thread reading it. Destroying
// it wakes the thread, joins it and closes the descriptor.
class McpReader {
 public:
  // Starts the thread "mcp-{name}" reading `stdout_fd`, which it now owns.
  static Result<std::unique_ptr<McpReader>> start(std::string name, int stdout_fd);
  ~McpReader();
  McpReader(const McpReader&) = delete;
  McpReader& operator=(const McpReader&) = delete;

  McpChannel& channel() { return channel_; }

 private:
  McpReader(std::string name, int stdout_fd, int wake_read, int wake_write);
  void run();

  std::string name_;
  int fd_;
  int wake_read_;
  int wake_write_;
  McpChannel channel_;
  std::thread thread_;
};

// Names the calling thread, cut to what the platform allows.
void set_current_thread_name(std::string_view name);

}  // namespace velmor::tools
