#include "tools/mcp_stdio_reader.h"

#include <fcntl.h>
#include <poll.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <exception>
#include <system_error>

#include "core/utf8.h"

namespace velmor::tools {
namespace {

constexpr std::size_t kReadChunk = 8192;

enum class Got { Ok, End, Stopped, Failed };

// Buffered reads from the server's output that a wake-up byte on a second
// descriptor can interrupt, so the owner never waits on a silent child.
class Stream {
 public:
  Stream(int fd, int wake) : fd_(fd), wake_(wake) {}

  // One line with its line feed, or the last bytes before the end of the
  // stream; End only when nothing at all is left.
  Got read_line(std::string& line) {
    line.clear();
    for (;;) {
      auto nl = buf_.find('\n', pos_);
      if (nl != std::string::npos) {
        line.append(buf_, pos_, nl + 1 - pos_);
        pos_ = nl + 1;
        return Got::Ok;
      }
      line.append(buf_, pos_);
      buf_.clear();
      pos_ = 0;
      Got got = fill();
      if (got == Got::End) return line.empty() ? Got::End : Got::Ok;
      if (got != Got::Ok) return got;
    }
  }

  Got read_exact(std::size_t n, std::string& out) {
    out.clear();
    while (out.size() < n) {
      if (pos_ == buf_.size()) {
        buf_.clear();
        pos_ = 0;
        Got got = fill();
        if (got != Got::Ok) return got;
      }
      std::size_t take = std::min(n - out.size(), buf_.size() - pos_);
      out.append(buf_, pos_, take);
      pos_ += take;
    }
    return Got::Ok;
  }

  const std::string& error() const { return error_; }

 private:
  Got fill() {
    for (;;) {
      pollfd fds[2] = {{fd_, POLLIN, 0}, {wake_, POLLIN, 0}};
      int r = ::poll(fds, 2, -1);
      if (r < 0) {
        if (errno == EINTR) continue;
        error_ = std::strerror(errno);
        return Got::Failed;
      }
      if (fds[1].revents != 0) return Got::Stopped;
      if (fds[0].revents == 0) continue;
      char chunk[kReadChunk];
      ssize_t n = ::read(fd_, chunk, sizeof chunk);
      if (n < 0) {
        if (errno == EINTR || errno == EAGAIN) continue;
        error_ = std::strerror(errno);
        return Got::Failed;
      }
      if (n == 0) return Got::End;
      buf_.append(chunk, static_cast<std::size_t>(n));
      return Got::Ok;
    }
  }

  int fd_;
  int wake_;
  std::string buf_;
  std::size_t pos_ = 0;
  std::string error_;
};

bool starts_with(std::string_view s, std::string_view prefix) {
  return s.substr(0, prefix.size()) == prefix;
}

// An unsigned decimal with at most one leading "+"; nullopt otherwise or
// on overflow.
std::optional<std::size_t> parse_length(std::string_view s) {
  if (!s.empty() && s.front() == '+') s.remove_prefix(1);
  if (s.empty()) return std::nullopt;
  std::size_t n = 0;
  for (char c : s) {
    if (c < '0' || c > '9') return std::nullopt;
    std::size_t digit = static_cast<std::size_t>(c - '0');
    if (n > (SIZE_MAX - digit) / 10) return std::nullopt;
    n = n * 10 + digit;
  }
  return n;
}

std::variant<nlohmann::json, McpFailure> parse_message(std::string_view text) {
  try {
    return nlohmann::json::parse(text);
  } catch (const std::exception& e) {
    return McpFailure{std::string("mcp json: ") + e.what()};
  }
}

}  // namespace

bool McpChannel::send(McpIncoming item) {
  std::lock_guard lock(mutex_);
  if (consumer_gone_) return false;
  items_.push_back(std::move(item));
  ready_.notify_all();
  return true;
}

void McpChannel::close() {
  std::lock_guard lock(mutex_);
  closed_ = true;
  ready_.notify_all();
}

void McpChannel::release_consumer() {
  std::lock_guard lock(mutex_);
  consumer_gone_ = true;
  items_.clear();
}

std::optional<McpIncoming> McpChannel::receive_until(
    std::chrono::steady_clock::time_point deadline) {
  std::unique_lock lock(mutex_);
  ready_.wait_until(lock, deadline, [&] { return !items_.empty() || closed_; });
  if (items_.empty()) return std::nullopt;
  McpIncoming item = std::move(items_.front());
  items_.pop_front();
  return item;
}

Result<std::unique_ptr<McpReader>> McpReader::start(std::string name, int stdout_fd) {
  int wake[2];
  if (::pipe(wake) != 0) {
    int saved = errno;
    ::close(stdout_fd);
    return fail(Error::computer(std::string("mcp reader: ") + std::strerror(saved)));
  }
  ::fcntl(wake[0], F_SETFD, FD_CLOEXEC);
  ::fcntl(wake[1], F_SETFD, FD_CLOEXEC);
  std::unique_ptr<McpReader> reader(new McpReader(std::move(name), stdout_fd, wake[0], wake[1]));
  try {
    reader->thread_ = std::thread([r = reader.get()] { r->run(); });
  } catch (const std::system_error& e) {
    return fail(Error::computer(std::string("mcp reader: ") + e.what()));
  }
  return reader;
}

McpReader::McpReader(std::string name, int stdout_fd, int wake_read, int wake_write)
    : name_(std::move(name)), fd_(stdout_fd), wake_read_(wake_read), wake_write_(wake_write) {}

McpReader::~McpReader() {
  channel_.release_consumer();
  if (thread_.joinable()) {
    char byte = 1;
    (void)!::write(wake_write_, &byte, 1);
    thread_.join();
  }
  if (fd_ >= 0) ::close(fd_);
  ::close(wake_read_);
  ::close(wake_write_);
}

void McpReader::run() {
  set_current_thread_name("mcp-" + name_);
  Stream in(fd_, wake_read_);
  // Each step returns false when the thread should end.
  auto report = [&](std::string text) {
    channel_.send(McpFailure{std::move(text)});
    return false;
  };
  auto deliver = [&](std::variant<nlohmann::json, McpFailure> parsed) {
    if (auto* failure = std::get_if<McpFailure>(&parsed)) return report(std::move(failure->text));
    return channel_.send(std::move(std::get<nlohmann::json>(parsed)));
  };
  auto step = [&]() -> bool {
    std::string line;
    switch (in.read_line(line)) {
      case Got::Stopped: return false;
      case Got::Failed: return report("mcp read: " + in.error());
      case Got::End: return report(name_ + " closed");
      case Got::Ok: break;
    }
    std::string_view text = core::trim(line);
    if (text.empty()) return true;
    if (text.front() == '{') return deliver(parse_message(text));
    if (text.size() < 15 ||
        !(starts_with(text, "Content-Length:") || starts_with(text, "content-length:")))
      return true;  // a log line on standard output
    auto length = parse_length(core::trim(text.substr(15)));
    if (!length) return report("bad MCP Content-Length: " + std::string(text));
    std::string header;
    for (;;) {
      Got got = in.read_line(header);
      if (got == Got::Stopped) return false;
      if (got == Got::Failed) return report("mcp read: " + in.error());
      if (core::trim(header).empty()) break;
    }
    std::string body;
    switch (in.read_exact(*length, body)) {
      case Got::Stopped: return false;
      case Got::Failed: return report("mcp body: " + in.error());
      case Got::End: return report("mcp body: the stream ended before the whole body");
      case Got::Ok: break;
    }
    return deliver(parse_message(body));
  };
  try {
    while (step()) {
    }
  } catch (const std::exception& e) {
    report(std::string("mcp read: ") + e.what());
  }
  ::close(fd_);
  fd_ = -1;
  channel_.close();
}

}  // namespace velmor::tools
