// The mind's stored records and the way their lists are read and written:
// one JSON array per file, replaced whole through a temporary sibling, so a
// reader sees the old list or the new one, never a torn one.
#pragma once

#include <cstdint>
#include <filesystem>
#include <mutex>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include <nlohmann/json.hpp>

#include "core/error.h"

namespace velmor::mind {

// One remembered fact. `kind` is "profile", "preference", "fact", "outcome"
// or "site" ("host: note").
struct Memory {
  std::string id;
  std::string kind;
  std::string text;
  double confidence = 0.0;
  std::optional<std::string> source_session;
  std::string created_at;
  std::optional<std::string> last_used;
  std::uint32_t uses = 0;
};

// One use of a procedure by a job.
struct Run {
  std::string at;
  std::uint64_t steps = 0;
  double usd = 0.0;
  std::optional<std::string> session;
};

// A learned way of doing a kind of job, with its most recent runs (oldest
// first). A demoted procedure is never recalled.
struct Procedure {
  std::string id;
  std::string title;
  std::string when;
  std::vector<std::string> steps;
  std::vector<std::string> sites;
  std::uint32_t successes = 0;
  std::uint32_t failures = 0;
  std::optional<std::string> source_session;
  std::string created_at;
  std::optional<std::string> last_used;
  std::vector<Run> runs;
  bool demoted = false;
};

// One finished job; at most one per session.
struct JournalEntry {
  std::string id;
  std::string session;
  std::string title;
  std::string at;
  std::string mode;
  std::string gist;
  std::optional<std::string> report;
};

// What one recorded run of a procedure shows against its oldest stored run.
struct Improvement {
  std::string procedure;  // procedure id
  std::string title;
  std::uint64_t run = 0;  // runs now stored
  std::uint64_t steps = 0;
  double usd = 0.0;
  std::uint64_t first_steps = 0;
  double first_usd = 0.0;
};

// The stored form: fields in declaration order, optional texts as null.
void to_json(nlohmann::ordered_json& j, const Memory& m);
void to_json(nlohmann::ordered_json& j, const Run& r);
void to_json(nlohmann::ordered_json& j, const Procedure& p);
void to_json(nlohmann::ordered_json& j, const JournalEntry& e);
// The same records for answers the system builds (keys sorted).
void to_json(nlohmann::json& j, const Memory& m);
void to_json(nlohmann::json& j, const Procedure& p);
void to_json(nlohmann::json& j, const JournalEntry& e);
// {"first_steps", "first_usd", "procedure", "run", "steps", "title", "usd"}.
void to_json(nlohmann::json& j, const Improvement& i);

// Held by every read-modify-write of a mind file, from its read to its
// write. Plain reads do not take it. Taken after a session hub's locks.
extern std::mutex MIND_LOCK;

// The list stored at `path`, for T one of Memory, Procedure, JournalEntry.
// Never fails: a missing file, text that is not UTF-8 or not JSON, a
// duplicate key, a missing required key or a wrongly typed value all give
// an empty list (nothing is salvaged).
template <class T>
std::vector<T> read_list(const std::filesystem::path& path);

// Writes `items` as pretty JSON (two-space indentation, no trailing newline,
// "[]" when empty) to "{path}.tmp" and renames it over `path`, creating the
// directory first. A current file that cannot be read back as such a list
// is moved aside first (keep_unreadable_aside). Errors are kind Config:
// "memory dir {parent}: ...", "memory encode: ...", "memory write {path}: ...".
template <class T>
Result<void> write_list(const std::filesystem::path& path, const std::vector<T>& items);

// Moves a file that is neither blank nor JSON to
// "{stem}.unreadable-{unix seconds}.json" and says so on standard error.
// Does nothing otherwise, or when the move fails.
void keep_unreadable_aside(const std::filesystem::path& path);

// "{prefix}_" and 10 random lowercase hexadecimal digits.
std::string short_id(std::string_view prefix);

// The first `n` characters of `text` (all of it when shorter); no mark.
std::string clip(std::string_view text, std::size_t n);

}  // namespace velmor::mind
