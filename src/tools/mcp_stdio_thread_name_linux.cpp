#include <pthread.h>

#include <string>

#include "core/utf8.h"
#include "tools/mcp_stdio_reader.h"

namespace velmor::tools {

void set_current_thread_name(std::string_view name) {
  // Linux takes at most 15 bytes and refuses longer names outright.
  std::string_view cut = core::prefix_chars(name, 15);
  while (cut.size() > 15) cut = core::prefix_chars(cut, core::char_count(cut) - 1);
  std::string owned(cut);
  pthread_setname_np(pthread_self(), owned.c_str());
}

}  // namespace velmor::tools
