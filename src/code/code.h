// Coding work happens only in repositories the person allowed and through a
// coding agent installed on this Mac. This header is the coding module's
// public face: the allowed-repository list (repos.json), the coder table
// with its detection, the per-coder statistics (coders.json), the choice of
// coder for a run, and the status the app's coding settings show.
#pragma once

#include <nlohmann/json.hpp>

#include <cstdint>
#include <expected>
#include <filesystem>
#include <map>
#include <optional>
#include <string>
#include <vector>

#include "core/error.h"

namespace velmor::code {

namespace fs = std::filesystem;

// One allowed repository. `test` and `notes` are empty when not set.
struct Repo {
  std::string name;
  std::string path;
  std::string test;
  std::string notes;

  friend bool operator==(const Repo&, const Repo&) = default;
};

// The allowed repositories kept in one JSON file. Every operation reads the
// file afresh; nothing is cached. Not synchronised: the app serialises
// writes through its request handling.
class Repos {
 public:
  explicit Repos(fs::path file) : file_(std::move(file)) {}
  // The list in "{home}/repos.json".
  static Repos open_default();

  const fs::path& file() const { return file_; }
  // Never fails: a missing, unreadable or malformed file is an empty list.
  std::vector<Repo> list() const;
  // The repository a query names: by name or path, a folder inside one,
  // or a name mentioned in a sentence. An empty query finds the only repo.
  std::optional<Repo> find(const std::string& query) const;
  // Stores the repo under its name (replacing one of the same name, the
  // new entry last). Config errors: "repo needs a name",
  // "{path} is not a folder on this Mac", and write failures.
  Result<Repo> upsert(const Repo& repo) const;
  // Replaces the whole list; a file that was not JSON is kept aside first.
  Result<void> write(const std::vector<Repo>& repos) const;

 private:
  fs::path file_;
};

// "~/x" with HOME set becomes "$HOME/x"; anything else (a lone "~" too) is
// returned unchanged.
std::string expand_home(const std::string& path);
// True when `name` is a regular file in a PATH directory, /opt/homebrew/bin
// or /usr/local/bin (the execute bit is not tested).
bool on_path(const std::string& name);
// The PATH given to coding child processes: the two Homebrew directories
// first, then the current PATH.
std::string path_with_homebrew();

// A coding agent velmor can hand work to.
struct Coder {
  std::string id;
  std::string label;
  std::string needs;
  bool installed = false;
};

// The coder table in its fixed order, installation detected now. The
// built-in coder ("native") is always installed.
std::vector<Coder> known_coders();
// VELMOR_CODER when set and not blank (unchanged), else "auto".
std::string coder_setting();

// What one coding run came to: who ran it, what it said it did, the diff
// summary and the branch the work is on.
struct CoderResult {
  std::string coder;
  std::string summary;
  std::string stat;
  std::string branch;
  std::uint64_t seconds = 0;
  bool ok = false;  // exited with status 0 and was not stopped for time
};

// Per-coder success statistics.
struct CoderStats {
  std::uint64_t runs = 0;
  std::uint64_t ok = 0;
  std::uint64_t seconds = 0;
};

// The statistics file coders.json: coder id to CoderStats.
struct CoderRecord {
  // "{home}/coders.json".
  static fs::path default_file();
  // Never fails: an unreadable or malformed file is an empty map.
  static std::map<std::string, CoderStats> load(const fs::path& file);
  // Adds one run (and one success when `ok`) and its seconds to the coder's
  // entry and rewrites the file. Errors name the step that failed.
  static Result<void> record(const fs::path& file, const std::string& id, bool ok,
                             std::uint64_t seconds);
};

// The coder for a run given the detected coders, the statistics and the
// setting: the coder named by the setting, or in "auto" mode the one with
// the best record (at least 3 runs), else the first installed agent that is
// not native, else native. Fails with the text the person is shown.
std::expected<Coder, std::string> choose_coder(const std::vector<Coder>& coders,
                                               const std::map<std::string, CoderStats>& record,
                                               const std::string& setting);
// choose_coder over known_coders(), coders.json in the home directory and
// coder_setting().
std::expected<Coder, std::string> pick_coder();

// The app's coding status: the coder table, the coder that would be picked
// (null when none), the statistics, the repositories and the setting.
nlohmann::json status();

}  // namespace velmor::code
