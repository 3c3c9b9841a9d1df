// Snapshot files the browser server writes into its run directory. Targets
// come from page text the model can influence, so a file is read only when
// its real path lies inside the run directory.
#include <algorithm>
#include <fstream>
#include <iterator>

#include "core/utf8.h"
#include "tools/page_reading.h"
#include "tools/page_reading_lines.h"

namespace velmor::tools {
namespace {

namespace fs = std::filesystem;

constexpr std::size_t kMaxTargetBytes = 512;
constexpr std::uintmax_t kMaxSnapshotBytes = 262144;
constexpr std::size_t kSnapshotChars = 8000;

bool is_snapshot_name(std::string_view s) { return s.ends_with(".yml") || s.ends_with(".yaml"); }

bool has_snapshot_extension(const fs::path& p) {
  auto ext = p.extension();
  return ext == ".yml" || ext == ".yaml";
}

// Markdown link targets ending in .yml or .yaml, in order, each once.
std::vector<std::string> linked_snapshots(std::string_view text) {
  std::vector<std::string> targets;
  std::size_t from = 0;
  while (true) {
    auto open = text.find("](", from);
    if (open == std::string_view::npos) break;
    auto close = text.find(')', open + 2);
    if (close == std::string_view::npos) break;
    std::string target(core::trim(text.substr(open + 2, close - open - 2)));
    if (is_snapshot_name(target) && std::ranges::find(targets, target) == targets.end())
      targets.push_back(std::move(target));
    from = close + 1;
  }
  return targets;
}

// True when the text holds a snapshot of its own: a fenced yaml block with
// content, or accessibility-tree lines carrying refs.
bool has_inline_snapshot(std::string_view text) {
  bool in_yaml = false;
  for (auto line : page_lines::split(text)) {
    auto stripped = page_lines::indent_stripped(line);
    if (in_yaml) {
      if (stripped.starts_with("```")) {
        in_yaml = false;
      } else if (!core::trim(stripped).empty()) {
        return true;
      }
      continue;
    }
    if (stripped.starts_with("```yaml") || stripped.starts_with("```yml")) {
      in_yaml = true;
    } else if (stripped.starts_with("- ") && stripped.find("[ref=") != std::string_view::npos) {
      return true;
    }
  }
  return false;
}

// The most recently modified snapshot file in the run directory or its
// ".playwright-mcp" folder; on equal times the one listed later.
std::optional<fs::path> newest_snapshot(const fs::path& dir) {
  std::error_code ec;
  // Absolute, so that read_snapshot does not join the path to dir again.
  auto run_dir = fs::absolute(dir, ec);
  if (ec) return std::nullopt;
  std::vector<fs::path> dirs = {run_dir};
  if (fs::is_directory(run_dir / ".playwright-mcp", ec)) dirs.push_back(run_dir / ".playwright-mcp");
  std::optional<fs::path> best;
  fs::file_time_type best_time{};
  for (const auto& folder : dirs) {
    fs::directory_iterator it(folder, ec);
    if (ec) continue;
    for (; it != fs::directory_iterator(); it.increment(ec)) {
      if (ec) break;
      std::error_code entry_ec;
      if (!it->is_regular_file(entry_ec) || !has_snapshot_extension(it->path())) continue;
      auto when = it->last_write_time(entry_ec);
      if (entry_ec) continue;
      if (!best || when >= best_time) {
        best = it->path();
        best_time = when;
      }
    }
  }
  return best;
}

bool lies_inside(const fs::path& path, const fs::path& dir) {
  auto [dir_end, path_at] = std::mismatch(dir.begin(), dir.end(), path.begin(), path.end());
  return dir_end == dir.end() && path_at != path.end();
}

std::optional<std::string> read_limited(const fs::path& path) {
  std::ifstream in(path, std::ios::binary);
  if (!in) return std::nullopt;
  std::string contents;
  contents.resize(kMaxSnapshotBytes + 1);
  in.read(contents.data(), static_cast<std::streamsize>(contents.size()));
  if (in.bad()) return std::nullopt;
  contents.resize(static_cast<std::size_t>(in.gcount()));
  // The file may have grown since its size was checked.
  if (contents.size() > kMaxSnapshotBytes) return std::nullopt;
  return contents;
}

}  // namespace

std::optional<std::string> read_snapshot(const fs::path& run_dir, std::string_view target) {
  auto t = core::trim(target);
  constexpr std::string_view kQuotes = "\"'<>";
  auto first = t.find_first_not_of(kQuotes);
  if (first == std::string_view::npos) return std::nullopt;
  t = t.substr(first, t.find_last_not_of(kQuotes) - first + 1);
  if (t.empty() || t.size() > kMaxTargetBytes) return std::nullopt;
  if (t.find('\n') != std::string_view::npos || t.find('\0') != std::string_view::npos)
    return std::nullopt;
  if (t.find("://") != std::string_view::npos) {
    if (!t.starts_with("file://")) return std::nullopt;
    t.remove_prefix(7);
  }
  fs::path path;
  if (t.starts_with('/')) {
    path = fs::path(std::string(t));
  } else {
    while (t.starts_with("./")) t.remove_prefix(2);
    path = run_dir / std::string(t);
  }

  std::error_code ec;
  auto real_dir = fs::canonical(run_dir, ec);
  if (ec) return std::nullopt;
  auto real_path = fs::canonical(path, ec);
  if (ec || !lies_inside(real_path, real_dir)) return std::nullopt;
  if (!has_snapshot_extension(real_path)) return std::nullopt;
  if (!fs::is_regular_file(real_path, ec)) return std::nullopt;
  auto size = fs::file_size(real_path, ec);
  if (ec || size > kMaxSnapshotBytes) return std::nullopt;
  auto contents = read_limited(real_path);
  if (!contents || !core::is_valid_utf8(*contents)) return std::nullopt;
  return truncate(*contents, kSnapshotChars);
}

std::string inline_snapshots(std::string_view text, const fs::path& run_dir) {
  std::string extra;
  auto append = [&](const std::string& contents) {
    extra += "\n\n### Accessibility snapshot\n";
    extra += contents;
  };
  for (const auto& target : linked_snapshots(text))
    if (auto contents = read_snapshot(run_dir, target)) append(*contents);

  // Older snapshot files from earlier pages stay in the run directory, so
  // the newest one is only a stand-in when this answer has none of its own.
  bool mentions = text.find("Snapshot") != std::string_view::npos ||
                  text.find(".yml") != std::string_view::npos;
  if (extra.empty() && mentions && !has_inline_snapshot(text)) {
    if (auto newest = newest_snapshot(run_dir))
      if (auto contents = read_snapshot(run_dir, newest->string())) append(*contents);
  }
  if (extra.empty()) return std::string(text);
  std::string out(text);
  out += extra;
  return out;
}

}  // namespace velmor::tools
