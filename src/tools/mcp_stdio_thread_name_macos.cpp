#include <pthread.h>

#include <string>

#include "core/utf8.h"
#include "tools/mcp_stdio_reader.h"

namespace velmor::tools {

void set_current_thread_name(std::string_view name) {
  // macOS names only the calling thread, up to 63 bytes.
  std::string_view cut = core::prefix_chars(name, 63);
  while (cut.size() > 63) cut = core::prefix_chars(cut, core::char_count(cut) - 1);
  std::string owned(cut);
  pthread_setname_np(owned.c_str());
}

}  // namespace velmor::tools
