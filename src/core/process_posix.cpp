#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <mutex>
#include <thread>

#include "core/environment.h"
#include "core/process.h"

namespace velmor::core {
namespace {

// Pipes are created and the child forked under one lock so that a child
// started on another thread never inherits this child's pipe ends (macOS
// has no pipe2 with O_CLOEXEC).
std::mutex g_spawn_lock;

bool make_pipe(int fds[2]) {
  if (::pipe(fds) != 0) return false;
  ::fcntl(fds[0], F_SETFD, FD_CLOEXEC);
  ::fcntl(fds[1], F_SETFD, FD_CLOEXEC);
  return true;
}

void close_fd(int& fd) {
  if (fd >= 0) ::close(fd);
  fd = -1;
}

ExitStatus decode_status(int raw) {
  ExitStatus s;
  if (WIFEXITED(raw)) {
    s.code = WEXITSTATUS(raw);
  } else if (WIFSIGNALED(raw)) {
    s.signal = WTERMSIG(raw);
  }
  return s;
}

}  // namespace

std::optional<std::filesystem::path> find_program(std::string_view name,
                                                  std::string_view path_env) {
  if (name.find('/') != std::string_view::npos) {
    if (::access(std::string(name).c_str(), X_OK) == 0) return std::filesystem::path(name);
    return std::nullopt;
  }
  std::size_t start = 0;
  while (start <= path_env.size()) {
    auto end = path_env.find(':', start);
    if (end == std::string_view::npos) end = path_env.size();
    std::string_view dir = path_env.substr(start, end - start);
    std::filesystem::path candidate =
        std::filesystem::path(dir.empty() ? std::string_view(".") : dir) / std::string(name);
    std::error_code ec;
    if (::access(candidate.c_str(), X_OK) == 0 && !std::filesystem::is_directory(candidate, ec))
      return candidate;
    start = end + 1;
  }
  return std::nullopt;
}

Result<Process> Process::spawn(const ProcessSpec& spec) {
  // A child that dies while we write to it must give an error, not end us.
  static std::once_flag ignore_sigpipe;
  std::call_once(ignore_sigpipe, [] { ::signal(SIGPIPE, SIG_IGN); });

  auto env = environment_snapshot();
  for (const auto& name : spec.env_remove) env.erase(name);
  for (const auto& [k, v] : spec.env_set) env[k] = v;

  std::string path_env = env.count("PATH") ? env["PATH"] : "/usr/bin:/bin";
  auto resolved = find_program(spec.program, path_env);
  if (!resolved)
    return fail(Error::other(spec.program + ": No such file or directory (os error 2)"));

  // Everything the child needs is built before fork: after it only
  // async-signal-safe calls are allowed.
  std::string exe = resolved->string();
  std::vector<std::string> argv_store;
  argv_store.push_back(spec.program);
  argv_store.insert(argv_store.end(), spec.args.begin(), spec.args.end());
  std::vector<char*> argv;
  for (auto& a : argv_store) argv.push_back(a.data());
  argv.push_back(nullptr);
  std::vector<std::string> env_store;
  for (const auto& [k, v] : env) env_store.push_back(k + "=" + v);
  std::vector<char*> envp;
  for (auto& e : env_store) envp.push_back(e.data());
  envp.push_back(nullptr);
  std::string cwd = spec.cwd ? spec.cwd->string() : std::string();

  std::lock_guard<std::mutex> lock(g_spawn_lock);
  int in[2] = {-1, -1}, out[2] = {-1, -1}, err[2] = {-1, -1}, report[2] = {-1, -1};
  auto cleanup = [&] {
    for (int* p : {in, out, err, report}) {
      close_fd(p[0]);
      close_fd(p[1]);
    }
  };
  if ((spec.stdin_mode == Stdio::Pipe && !make_pipe(in)) ||
      (spec.stdout_mode == Stdio::Pipe && !make_pipe(out)) ||
      (spec.stderr_mode == Stdio::Pipe && !make_pipe(err)) || !make_pipe(report)) {
    int saved = errno;
    cleanup();
    return fail(Error::other(spec.program + ": " + std::strerror(saved)));
  }

  pid_t pid = ::fork();
  if (pid < 0) {
    int saved = errno;
    cleanup();
    return fail(Error::other(spec.program + ": " + std::strerror(saved)));
  }
  if (pid == 0) {
    ::setpgid(0, 0);
    // Signal dispositions and the mask survive exec: the parent blocks
    // SIGINT for its interrupt thread and ignores SIGPIPE.
    sigset_t none;
    sigemptyset(&none);
    ::sigprocmask(SIG_SETMASK, &none, nullptr);
    ::signal(SIGPIPE, SIG_DFL);
    ::signal(SIGINT, SIG_DFL);
    auto to_null = [](int target, int flags) {
      int fd = ::open("/dev/null", flags);
      if (fd >= 0) {
        ::dup2(fd, target);
        ::close(fd);
      }
    };
    if (spec.stdin_mode == Stdio::Pipe) ::dup2(in[0], 0);
    else if (spec.stdin_mode == Stdio::Null) to_null(0, O_RDONLY);
    if (spec.stdout_mode == Stdio::Pipe) ::dup2(out[1], 1);
    else if (spec.stdout_mode == Stdio::Null) to_null(1, O_WRONLY);
    if (spec.stderr_mode == Stdio::Pipe) ::dup2(err[1], 2);
    else if (spec.stderr_mode == Stdio::Null) to_null(2, O_WRONLY);
    if (!cwd.empty() && ::chdir(cwd.c_str()) != 0) {
      int e = errno;
      (void)!::write(report[1], &e, sizeof e);
      ::_exit(127);
    }
    ::execve(exe.c_str(), argv.data(), envp.data());
    int e = errno;
    (void)!::write(report[1], &e, sizeof e);
    ::_exit(127);
  }
  // Also set the group from the parent so that a stop sent right after
  // spawn cannot miss the child.
  ::setpgid(pid, pid);
  close_fd(report[1]);
  close_fd(in[0]);
  close_fd(out[1]);
  close_fd(err[1]);
  int child_errno = 0;
  ssize_t n;
  do {
    n = ::read(report[0], &child_errno, sizeof child_errno);
  } while (n < 0 && errno == EINTR);
  close_fd(report[0]);
  if (n == static_cast<ssize_t>(sizeof child_errno)) {
    int raw;
    ::waitpid(pid, &raw, 0);
    close_fd(in[1]);
    close_fd(out[0]);
    close_fd(err[0]);
    return fail(Error::other(spec.program + ": " + std::strerror(child_errno)));
  }

  Process p;
  p.pid_ = pid;
  p.stdin_fd_ = in[1];
  p.stdout_fd_ = out[0];
  p.stderr_fd_ = err[0];
  return p;
}

Process::Process(Process&& o) noexcept
    : pid_(o.pid_),
      stdin_fd_(o.stdin_fd_),
      stdout_fd_(o.stdout_fd_),
      stderr_fd_(o.stderr_fd_),
      status_(o.status_) {
  o.pid_ = -1;
  o.stdin_fd_ = o.stdout_fd_ = o.stderr_fd_ = -1;
}

Process& Process::operator=(Process&& o) noexcept {
  if (this != &o) {
    if (running()) stop_group();
    close_fds();
    pid_ = o.pid_;
    stdin_fd_ = o.stdin_fd_;
    stdout_fd_ = o.stdout_fd_;
    stderr_fd_ = o.stderr_fd_;
    status_ = o.status_;
    o.pid_ = -1;
    o.stdin_fd_ = o.stdout_fd_ = o.stderr_fd_ = -1;
  }
  return *this;
}

Process::~Process() {
  if (running()) stop_group();
  close_fds();
}

void Process::close_fds() {
  close_fd(stdin_fd_);
  close_fd(stdout_fd_);
  close_fd(stderr_fd_);
}

Result<void> Process::write_stdin(std::string_view bytes) {
  if (stdin_fd_ < 0) return fail(Error::other("standard input is closed"));
  std::size_t done = 0;
  while (done < bytes.size()) {
    ssize_t n = ::write(stdin_fd_, bytes.data() + done, bytes.size() - done);
    if (n < 0) {
      if (errno == EINTR) continue;
      return fail(Error::other(std::strerror(errno)));
    }
    done += static_cast<std::size_t>(n);
  }
  return {};
}

void Process::close_stdin() { close_fd(stdin_fd_); }

int Process::release_stdout() {
  int fd = stdout_fd_;
  stdout_fd_ = -1;
  return fd;
}

std::optional<ExitStatus> Process::try_wait() {
  if (status_ || pid_ <= 0) return status_;
  int raw;
  pid_t r = ::waitpid(pid_, &raw, WNOHANG);
  if (r == pid_) status_ = decode_status(raw);
  return status_;
}

ExitStatus Process::wait() {
  if (status_ || pid_ <= 0) return status_.value_or(ExitStatus{});
  int raw;
  pid_t r;
  do {
    r = ::waitpid(pid_, &raw, 0);
  } while (r < 0 && errno == EINTR);
  status_ = r == pid_ ? decode_status(raw) : ExitStatus{};
  return *status_;
}

void Process::stop_group(std::chrono::milliseconds grace) {
  if (pid_ <= 0) return;
  // Always the kill(2) call on the negative pid: never the external kill
  // program, which some procps versions misread as "every process".
  ::kill(-pid_, SIGTERM);
  auto deadline = std::chrono::steady_clock::now() + grace;
  while (!try_wait() && std::chrono::steady_clock::now() < deadline)
    std::this_thread::sleep_for(std::chrono::milliseconds(10));
  ::kill(-pid_, SIGKILL);
  if (!status_) wait();
}

Result<CapturedRun> run_capture(ProcessSpec spec, std::chrono::milliseconds timeout) {
  spec.stdin_mode = Stdio::Null;
  spec.stdout_mode = Stdio::Pipe;
  spec.stderr_mode = Stdio::Pipe;
  auto proc = VELMOR_TRY(Process::spawn(spec));
  CapturedRun run;
  int fds[2] = {proc.stdout_fd(), proc.stderr_fd()};
  std::string* sinks[2] = {&run.out, &run.err};
  bool open[2] = {true, true};
  auto deadline = std::chrono::steady_clock::now() + timeout;
  char buf[8192];
  while (open[0] || open[1]) {
    auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
        deadline - std::chrono::steady_clock::now());
    if (left.count() <= 0) {
      run.timed_out = true;
      break;
    }
    pollfd pfd[2];
    nfds_t count = 0;
    int which[2];
    for (int i = 0; i < 2; ++i)
      if (open[i]) {
        pfd[count] = {fds[i], POLLIN, 0};
        which[count++] = i;
      }
    int r = ::poll(pfd, count, static_cast<int>(left.count()));
    if (r < 0 && errno == EINTR) continue;
    if (r <= 0) continue;
    for (nfds_t k = 0; k < count; ++k) {
      if (!(pfd[k].revents & (POLLIN | POLLHUP | POLLERR))) continue;
      ssize_t n = ::read(pfd[k].fd, buf, sizeof buf);
      if (n > 0)
        sinks[which[k]]->append(buf, static_cast<std::size_t>(n));
      else if (n == 0 || errno != EINTR)
        open[which[k]] = false;
    }
  }
  if (run.timed_out)
    proc.stop_group(std::chrono::milliseconds(500));
  run.status = proc.wait();
  return run;
}

}  // namespace velmor::core
