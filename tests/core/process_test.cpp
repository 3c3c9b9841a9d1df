#include "core/process.h"

#include <gtest/gtest.h>
#include <signal.h>
#include <unistd.h>

#include <thread>

#include "core/files.h"
#include "support/env_guard.h"
#include "support/temp_dir.h"

namespace velmor::core {
namespace {

using namespace std::chrono_literals;

// Live and not a zombie: an orphan killed here may wait a while for init
// to reap it, and kill(pid, 0) still answers for a zombie.
bool alive(pid_t pid) {
  if (::kill(pid, 0) != 0) return false;
  auto ps = run_capture({.program = "ps", .args = {"-o", "stat=", "-p", std::to_string(pid)}},
                        std::chrono::seconds(5));
  return ps && !ps->out.empty() && ps->out.find('Z') == std::string::npos;
}

TEST(Process, CapturesOutputExitCodeAndWorkingDirectory) {
  velmor::testing::TempDir dir;
  ProcessSpec spec{.program = "sh", .args = {"-c", "pwd; echo oops >&2; exit 3"}, .cwd = dir.path()};
  auto run = run_capture(spec, 10s);
  ASSERT_TRUE(run);
  EXPECT_EQ(run->status.code, 3);
  EXPECT_EQ(run->out, dir.path().string() + "\n");
  EXPECT_EQ(run->err, "oops\n");
}

TEST(Process, EnvironmentAdditionsAndRemovals) {
  velmor::testing::EnvGuard env;
  env.set("VELMOR_TEST_SECRET", "hunter2");
  env.set("VELMOR_TEST_KEEP", "kept");
  ProcessSpec spec{.program = "sh",
                   .args = {"-c", "echo \"${VELMOR_TEST_SECRET-unset} $VELMOR_TEST_KEEP $ADDED\""},
                   .env_set = {{"ADDED", "yes"}},
                   .env_remove = {"VELMOR_TEST_SECRET"}};
  auto run = run_capture(spec, 10s);
  ASSERT_TRUE(run);
  EXPECT_EQ(run->out, "unset kept yes\n");
}

TEST(Process, PipesStandardInputAndOutput) {
  ProcessSpec spec{.program = "cat"};
  auto proc = Process::spawn(spec);
  ASSERT_TRUE(proc);
  ASSERT_TRUE(proc->write_stdin("ping\n"));
  proc->close_stdin();
  char buf[16] = {};
  ssize_t n = ::read(proc->stdout_fd(), buf, sizeof buf);
  EXPECT_EQ(std::string(buf, n > 0 ? static_cast<std::size_t>(n) : 0), "ping\n");
  EXPECT_TRUE(proc->wait().success());
}

TEST(Process, MissingProgramIsAnError) {
  auto proc = Process::spawn({.program = "velmor-no-such-program"});
  ASSERT_FALSE(proc);
  EXPECT_NE(proc.error().message().find("velmor-no-such-program"), std::string::npos);
  auto not_exec = Process::spawn({.program = "/etc/hostname"});
  EXPECT_FALSE(not_exec);
}

TEST(Process, StopGroupEndsGrandchildrenAndSparesOthers) {
  velmor::testing::TempDir dir;
  auto pidfile = dir / "grandchild.pid";
  // The child ignores SIGTERM and starts a grandchild in its own group, as
  // npx starting a browser would.
  ProcessSpec spec{.program = "sh",
                   .args = {"-c", "trap '' TERM; sleep 300 & echo $! > " + pidfile.string() + "; wait"},
                   .stdin_mode = Stdio::Null,
                   .stdout_mode = Stdio::Null};
  auto proc = Process::spawn(spec);
  ASSERT_TRUE(proc);
  auto sibling = Process::spawn({.program = "sleep", .args = {"300"}, .stdin_mode = Stdio::Null,
                                 .stdout_mode = Stdio::Null});
  ASSERT_TRUE(sibling);
  for (int i = 0; i < 200 && !fs::exists(pidfile); ++i) std::this_thread::sleep_for(10ms);
  std::this_thread::sleep_for(50ms);
  pid_t grandchild = std::stoi(read_file(pidfile).value());
  ASSERT_TRUE(alive(grandchild));

  proc->stop_group(200ms);
  EXPECT_FALSE(proc->running());
  for (int i = 0; i < 100 && alive(grandchild); ++i) std::this_thread::sleep_for(10ms);
  EXPECT_FALSE(alive(grandchild));
  EXPECT_TRUE(alive(sibling->pid()));
  EXPECT_FALSE(sibling->try_wait());
  sibling->stop_group(100ms);
}

TEST(Process, DestroyingARunningProcessStopsIt) {
  pid_t pid;
  {
    auto proc = Process::spawn({.program = "sleep", .args = {"300"}});
    ASSERT_TRUE(proc);
    pid = proc->pid();
  }
  EXPECT_FALSE(alive(pid));
}

TEST(Process, RunCaptureStopsAtTheTimeout) {
  auto started = std::chrono::steady_clock::now();
  auto run = run_capture({.program = "sleep", .args = {"30"}}, 200ms);
  ASSERT_TRUE(run);
  EXPECT_TRUE(run->timed_out);
  EXPECT_LT(std::chrono::steady_clock::now() - started, 5s);
}

TEST(Process, FindsProgramsOnAGivenPath) {
  velmor::testing::TempDir dir;
  ASSERT_TRUE(write_file_atomic(dir / "tool", "#!/bin/sh\n"));
  EXPECT_FALSE(find_program("tool", dir.path().string()));  // not executable
  ::chmod((dir / "tool").c_str(), 0755);
  EXPECT_EQ(find_program("tool", "/nonexistent:" + dir.path().string()), dir / "tool");
}

}  // namespace
}  // namespace velmor::core
