#include "tools/mcp_process_probe.h"

#include <signal.h>

#include <cerrno>
#include <sstream>
#include <string>
#include <thread>

#include "core/process.h"

namespace velmor::testing {
namespace {

// Lines of "pid pgid stat" (or the given columns) for every process.
std::string process_table(const char* columns = "pid=,pgid=,stat=") {
  core::ProcessSpec spec;
  spec.program = "ps";
  spec.args = {"-A", "-o", columns};
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

std::vector<pid_t> descendants(pid_t pid) {
  std::vector<std::pair<long, long>> links;  // (pid, parent) of live processes
  std::istringstream table(process_table("pid=,ppid=,stat="));
  long p = 0, parent = 0;
  std::string stat;
  while (table >> p >> parent >> stat)
    if (stat.empty() || stat[0] != 'Z') links.emplace_back(p, parent);
  std::vector<pid_t> found;
  std::vector<long> frontier = {pid};
  while (!frontier.empty()) {
    long next = frontier.back();
    frontier.pop_back();
    for (auto [child, parent_pid] : links)
      if (parent_pid == next) {
        found.push_back(static_cast<pid_t>(child));
        frontier.push_back(child);
      }
  }
  return found;
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
