#include "tools/mcp_process_probe.h"

#include <signal.h>

#include <cerrno>
#include <sstream>
#include <string>
#include <thread>

#include "core/process.h"

namespace velmor::testing {
namespace {

// Lines of "pid pgid stat" for every process.
std::string process_table() {
  core::ProcessSpec spec;
  spec.program = "ps";
  spec.args = {"-A", "-o", "pid=,pgid=,stat="};
  auto run = core::run_capture(spec, std::chrono::seconds(10));
  return run ? run->out : std::string();
}

}  // namespace

bool process_alive(pid_t pid) {
  if (::kill(pid, 0) != 0 && errno == ESRCH) return false;
  std::istringstream table(process_table());
  long p = 0, g = 0;
  std::string stat;
  while (table >> p >> g >> stat)
    if (p == pid) return stat.empty() || stat[0] != 'Z';
  return false;
}

std::vector<pid_t> group_members(pid_t pgid) {
  std::vector<pid_t> members;
  std::istringstream table(process_table());
  long p = 0, g = 0;
  std::string stat;
  while (table >> p >> g >> stat)
    if (g == pgid && (stat.empty() || stat[0] != 'Z')) members.push_back(static_cast<pid_t>(p));
  return members;
}

bool wait_gone(pid_t pid, std::chrono::milliseconds limit) {
  auto deadline = std::chrono::steady_clock::now() + limit;
  while (process_alive(pid)) {
    if (std::chrono::steady_clock::now() > deadline) return false;
    std::this_thread::sleep_for(std::chrono::milliseconds(50));
  }
  return true;
}

}  // namespace velmor::testing
