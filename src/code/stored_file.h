// How the coding module writes its two small lists: the directory is made,
// a file that was not JSON at all is kept aside, and the new text replaces
// the old whole. Internal to src/code.
#pragma once

#include <filesystem>
#include <string>

#include "core/error.h"

namespace velmor::code {

// Writes `text` to `file`; `label` ("repos", "coders") starts each error:
// "{label} dir {dir}: …" or "{label} write {path}: …" (kind Config).
Result<void> write_list_file(const std::filesystem::path& file, const std::string& text,
                             const std::string& label);

}  // namespace velmor::code
