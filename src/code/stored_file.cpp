#include "code/stored_file.h"

#include <system_error>

#include "core/files.h"
#include "mind/mind.h"

namespace velmor::code {

Result<void> write_list_file(const std::filesystem::path& file, const std::string& text,
                             const std::string& label) {
  auto dir = file.parent_path();
  if (!dir.empty()) {
    std::error_code ec;
    std::filesystem::create_directories(dir, ec);
    if (ec) return fail(Error::config(label + " dir " + dir.string() + ": " + ec.message()));
  }
  mind::keep_unreadable_aside(file);
  // Replaced through a temporary sibling rather than rewritten in place, so
  // a crash mid-write can never leave a torn list that reads as empty.
  auto written = core::write_file_atomic(file, text);
  if (!written) {
    std::string why = written.error().message();
    std::string prefix = "write " + file.string() + ": ";
    if (why.starts_with(prefix)) why.erase(0, prefix.size());
    return fail(Error::config(label + " write " + file.string() + ": " + why));
  }
  return {};
}

}  // namespace velmor::code
