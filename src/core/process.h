// Child processes: each leads a process group of its own and is stopped as
// a group, so helpers it starts (a browser under npx, say) go with it.
// A Process owns its child: destroying one that still runs stops the group
// and reaps it.
#pragma once

#include <sys/types.h>

#include <chrono>
#include <filesystem>
#include <map>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "core/error.h"

namespace velmor::core {

enum class Stdio { Pipe, Inherit, Null };

struct ProcessSpec {
  // A path, or a name looked up on the child's PATH.
  std::string program;
  std::vector<std::string> args;
  std::optional<std::filesystem::path> cwd;
  // Added to (or replacing in) the parent's environment.
  std::map<std::string, std::string> env_set;
  // Removed from the child's environment.
  std::vector<std::string> env_remove;
  Stdio stdin_mode = Stdio::Pipe;
  Stdio stdout_mode = Stdio::Pipe;
  Stdio stderr_mode = Stdio::Inherit;
};

struct ExitStatus {
  int code = -1;    // exit code, or -1 when ended by a signal
  int signal = 0;   // the signal that ended it, or 0
  bool success() const { return code == 0; }
};

class Process {
 public:
  // Starts the child. Fails with "{program}: {reason}" when it cannot be
  // found or executed.
  static Result<Process> spawn(const ProcessSpec& spec);

  Process(Process&& other) noexcept;
  Process& operator=(Process&& other) noexcept;
  Process(const Process&) = delete;
  Process& operator=(const Process&) = delete;
  ~Process();

  pid_t pid() const { return pid_; }
  // -1 when that stream is not piped (or was closed).
  int stdin_fd() const { return stdin_fd_; }
  int stdout_fd() const { return stdout_fd_; }
  int stderr_fd() const { return stderr_fd_; }

  // Writes all of `bytes` to the child's standard input.
  Result<void> write_stdin(std::string_view bytes);
  void close_stdin();
  // Hands the read end of standard output to the caller, who closes it.
  int release_stdout();

  // The exit status once the child has ended, without blocking.
  std::optional<ExitStatus> try_wait();
  // Blocks until the child ends.
  ExitStatus wait();
  // SIGTERM to the whole group, up to `grace` for the child to end, then
  // SIGKILL to the group, then reaps the child. Safe to call twice.
  void stop_group(std::chrono::milliseconds grace = std::chrono::milliseconds(2000));
  bool running() const { return pid_ > 0 && !status_; }

 private:
  Process() = default;
  void close_fds();

  pid_t pid_ = -1;
  int stdin_fd_ = -1;
  int stdout_fd_ = -1;
  int stderr_fd_ = -1;
  std::optional<ExitStatus> status_;
};

struct CapturedRun {
  ExitStatus status;
  std::string out;
  std::string err;
  bool timed_out = false;
};

// Runs the child to its end (or `timeout`, when the group is stopped) with
// standard input closed, collecting both outputs.
Result<CapturedRun> run_capture(ProcessSpec spec, std::chrono::milliseconds timeout);

// Resolves a program name against a PATH value; nullopt when not found.
std::optional<std::filesystem::path> find_program(std::string_view name, std::string_view path_env);

}  // namespace velmor::core
