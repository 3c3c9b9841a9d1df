// The process's interrupt handler: a dedicated thread waits for SIGINT and,
// on the first one, runs the clean-up and ends the process with status 130.
#pragma once

#include <functional>

namespace velmor::core {

// Installs the handler once per process; later calls do nothing. Call it
// before any other thread starts: SIGINT is blocked in the calling thread so
// that every thread started afterwards inherits the block and only the
// handler's thread receives it.
void install_interrupt_handler(std::function<void()> cleanup);

}  // namespace velmor::core
