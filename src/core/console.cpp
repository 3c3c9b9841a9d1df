#include "core/console.h"

#include <cstdio>
#include <cstdlib>
#include <mutex>

namespace velmor::core {
namespace {
std::mutex g_console_lock;
}

void print_out(std::string_view text) {
  std::lock_guard<std::mutex> lock(g_console_lock);
  std::fwrite(text.data(), 1, text.size(), stdout);
  std::fflush(stdout);
}

void print_err(std::string_view text) {
  std::lock_guard<std::mutex> lock(g_console_lock);
  if (std::fwrite(text.data(), 1, text.size(), stderr) != text.size() || std::fflush(stderr) != 0)
    std::_Exit(1);
}

}  // namespace velmor::core
