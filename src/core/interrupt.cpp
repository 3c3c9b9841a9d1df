#include "core/interrupt.h"

#include <signal.h>

#include <cstdio>
#include <cstdlib>
#include <mutex>
#include <thread>

namespace velmor::core {

void install_interrupt_handler(std::function<void()> cleanup) {
  static std::once_flag once;
  std::call_once(once, [&cleanup] {
    sigset_t set;
    sigemptyset(&set);
    sigaddset(&set, SIGINT);
    pthread_sigmask(SIG_BLOCK, &set, nullptr);
    std::thread([set, cleanup = std::move(cleanup)] {
      int sig = 0;
      while (sigwait(&set, &sig) != 0 || sig != SIGINT) {
      }
      try {
        if (cleanup) cleanup();
      } catch (...) {
        // Nothing may stop the process from ending on an interrupt.
      }
      std::fflush(stdout);
      std::fflush(stderr);
      // Other threads are still running: skip static destructors.
      std::_Exit(130);
    }).detach();
  });
}

}  // namespace velmor::core
