// Whole-file reads and writes. Stored files are always replaced whole: the
// new content goes to a temporary sibling that is then renamed over the old
// file, so a reader sees the old file or the new one, never a torn one.
#pragma once

#include <filesystem>
#include <string>
#include <string_view>

#include "core/error.h"

namespace velmor::core {

namespace fs = std::filesystem;

// The whole file; errors name the path ("read {path}: {reason}").
Result<std::string> read_file(const fs::path& path);
enum class FileAccess { Normal, OwnerOnly };

// Writes `contents` to "{path}.tmp", flushes it and renames it over `path`.
// Parent directories are created. OwnerOnly files are 0600 from their first
// byte. Errors read "write {path}: {reason}".
Result<void> write_file_atomic(const fs::path& path, std::string_view contents,
                               FileAccess access = FileAccess::Normal);
// Sets permissions to owner read and write only (0600).
Result<void> set_owner_only(const fs::path& path);
// Creates `dir` and its parents; "create {dir}: {reason}" on failure.
Result<void> create_dirs(const fs::path& dir);

}  // namespace velmor::core
