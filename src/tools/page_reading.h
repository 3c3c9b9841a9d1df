// Turning what the browser back ends return into the text the model reads:
// snapshots written to files, long snapshots cut to what bears on the job,
// a local search over a snapshot, and the visible text of a page in windows
// or focused on a query. Lengths are in characters (Unicode scalar values).
// Every function is pure and thread-safe except inline_snapshots and
// read_snapshot, which read files inside the browser's run directory.
#pragma once

#include <cstddef>
#include <filesystem>
#include <optional>
#include <string>
#include <string_view>

#include <nlohmann/json.hpp>

#include "tools/tool_types.h"

namespace velmor::tools {

// The most characters of an observation the job loop shows the model; a
// read_page answer (header, window and continuation line) fits in it.
inline constexpr std::size_t kObservationChars = 12000;

// `text` when it has at most `limit` characters, else its first `limit`
// characters followed by "…". Never splits a character.
std::string truncate(std::string_view text, std::size_t limit);

// The first non-empty "- Page URL:" value in a snapshot, if any.
std::optional<std::string> page_url(std::string_view snapshot);

// `text` followed by the snapshot files its Markdown links point to, each
// under "### Accessibility snapshot". When the text mentions a snapshot but
// carries none inline and links none, the newest snapshot file of `run_dir`
// is appended instead. Unreadable or unsafe targets are skipped.
std::string inline_snapshots(std::string_view text, const std::filesystem::path& run_dir);

// The contents (cut to 8000 characters) of the snapshot file `target`
// names, or nullopt when the target is malformed, resolves outside
// `run_dir` (symbolic links followed), is not a .yml/.yaml regular file of
// at most 256 KiB, or is not valid UTF-8.
std::optional<std::string> read_snapshot(const std::filesystem::path& run_dir,
                                         std::string_view target);

// A snapshot of more than 200 lines reduced to its head, its controls and
// the lines that mention the focus's words, with markers where lines were
// left out; otherwise (or when little would be dropped) `snapshot` itself.
std::string focus_snapshot(std::string_view snapshot, std::string_view focus);

// The browser_find answer: the page's URL and title lines plus up to 60
// lines that mention any word of `query`, or a message saying why none.
std::string find_in_snapshot(std::string_view snapshot, std::string_view query);

// The browser_read_page answer for the page script's raw result: a window
// of the page text from `args.start`, or, on a long page read without a
// start, the parts that best match `args.query` (else `focus`). The text
// never exceeds kObservationChars; url is the page's, image is empty.
ToolResult page_text_result(std::string_view raw, const nlohmann::json& args,
                            std::string_view focus);

// The one-line summary of an action's arguments for step logs (at most 160
// characters and "…"); empty for null and for an empty object.
std::string brief_args(const nlohmann::json& args);

}  // namespace velmor::tools
