// Looking at processes from tests: whether one still runs and which
// processes are left in a group, through ps (macOS and Linux alike).
#pragma once

#include <sys/types.h>

#include <chrono>
#include <vector>

namespace velmor::testing {

// True while `pid` exists and is not a zombie.
bool process_alive(pid_t pid);
// The live (non-zombie) processes whose process group is `pgid`.
std::vector<pid_t> group_members(pid_t pgid);
// Every live process descended from `pid` (children, their children...),
// wherever their process group or session is.
std::vector<pid_t> descendants(pid_t pid);
// Polls until `pid` is gone or `limit` passes; true when it is gone.
bool wait_gone(pid_t pid, std::chrono::milliseconds limit);

}  // namespace velmor::testing
