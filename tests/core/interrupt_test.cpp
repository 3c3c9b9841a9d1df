#include "core/interrupt.h"

#include <gtest/gtest.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <thread>

#include "support/temp_dir.h"

namespace velmor::core {
namespace {

TEST(Interrupt, RunsCleanupThenExits130) {
  velmor::testing::TempDir dir;
  auto marker = dir / "cleaned";
  pid_t pid = ::fork();
  ASSERT_GE(pid, 0);
  if (pid == 0) {
    install_interrupt_handler([&] { std::ofstream(marker) << "yes"; });
    // A second install must not replace the first clean-up.
    install_interrupt_handler([] { std::_Exit(5); });
    ::kill(::getpid(), SIGINT);
    for (int i = 0; i < 500; ++i) std::this_thread::sleep_for(std::chrono::milliseconds(10));
    std::_Exit(0);
  }
  int status = 0;
  ASSERT_EQ(::waitpid(pid, &status, 0), pid);
  ASSERT_TRUE(WIFEXITED(status));
  EXPECT_EQ(WEXITSTATUS(status), 130);
  EXPECT_TRUE(std::filesystem::exists(marker));
}

}  // namespace
}  // namespace velmor::core
