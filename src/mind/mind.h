// The mind: what velmor learns across jobs (memories, procedures with their
// runs, a journal of finished jobs), how it is recalled for a new message,
// and how a finished job is learned from.
//
// Mind holds only the directory; every operation reads the file it needs
// afresh and writes the whole list back, so any number of Mind values may
// exist at once. Writers hold MIND_LOCK around each read-modify-write;
// readers take no lock and see each file whole.
#pragma once

#include <cstdint>
#include <filesystem>
#include <iosfwd>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include <nlohmann/json.hpp>

#include "core/config.h"
#include "core/error.h"
#include "mind/records.h"
#include "mind/text_rank.h"
#include "model/chat_model.h"

namespace velmor::mind {

// What a recall found, best first.
struct Recall {
  std::vector<Memory> memories;
  std::vector<Procedure> procedures;

  // "What you know about this person ..." and one "- [{kind}] {text}" line
  // per memory; empty when no memory was recalled.
  std::string memories_prompt() const;
  // The best procedure's steps and sites, the others' titles, and the first
  // recalled outcome; empty when there is none of these.
  std::string plan_prompt() const;
};

// A memory the model proposes to keep.
struct NewMemory {
  std::string kind;
  std::string text;
  double confidence = 0.7;
};

// A procedure the model proposes to keep.
struct NewProcedure {
  std::string title;
  std::string when;
  std::vector<std::string> steps;
  std::vector<std::string> sites;
};

// The model's answer to "what is worth keeping".
struct Reflection {
  std::vector<NewMemory> memories;
  std::optional<NewProcedure> procedure;
  std::string note;  // for the caller; the mind does not use it
};

// A reflection and what its model call cost.
struct Reflected {
  Reflection reflection;
  model::TokenUse usage;
};

// What absorb stored: each created or strengthened memory as stored, in the
// reflection's order, and the procedure created or strengthened, if any.
struct Absorbed {
  std::vector<Memory> memories;
  std::optional<Procedure> procedure;
};

// A finished job as the session driver hands it to the journal. Title and
// result are trimmed and clipped here (120 and 1500 characters).
struct FinishedJob {
  std::string session;
  std::string title;
  std::string mode;    // the run's mode; "chat" runs are not journaled
  std::string result;  // the reply given to the person
  std::optional<std::string> report;  // report file name, when one was written
};

class Mind {
 public:
  explicit Mind(std::filesystem::path dir) : dir_(std::move(dir)) {}
  // {home}/memory, with the home of Config::home_dir(). Not created here.
  static Mind open_default();

  const std::filesystem::path& dir() const { return dir_; }
  std::filesystem::path memories_file() const { return dir_ / "memories.json"; }
  std::filesystem::path procedures_file() const { return dir_ / "procedures.json"; }
  std::filesystem::path journal_file() const { return dir_ / "journal.json"; }

  // The stored lists (procedures: read_list of procedures_file()). Never fail.
  std::vector<Memory> memories() const;
  std::vector<JournalEntry> journal() const;

  // Deletes every memory with `id`, or else every procedure with it. False
  // (nothing written) when neither has it; a write error otherwise.
  Result<bool> forget(std::string_view id) const;
  // Deletes every journal entry with `id`; false when there is none.
  Result<bool> journal_forget(std::string_view id) const;
  // Empties memories, procedures and journal, stopping at the first error.
  Result<void> forget_all() const;

  // The memories and procedures that bear on `query`, best first: profile
  // and preference memories always, facts and outcomes that share words,
  // site notes whose host the query names, procedures that share at least
  // two words (one for a query of one or two words) and are not demoted.
  // Never fails; takes no lock.
  Recall recall(std::string_view query, std::size_t max_memories,
                std::size_t max_procedures) const;
  // Counts a use of every recalled memory and stamps last_used on them and
  // on the recalled procedures. Nothing happens for an empty recall.
  Result<void> mark_used(const Recall& recall) const;
  // The notes of site memories for `host` or a parent domain of it, at most
  // 6, best first. Never fails.
  std::vector<std::string> site_notes(std::string_view host) const;

  // Stores a reflection: at most its first 8 memories (empty, over 300
  // characters, secret-looking or host-less site notes are skipped; similar
  // ones are strengthened instead of repeated) and its procedure. Each
  // memory and the procedure is one hold of MIND_LOCK. Fails only on a
  // write, keeping what was already written.
  Result<Absorbed> absorb(const Reflection& reflection,
                          const std::optional<std::string>& source_session) const;
  // Appends a run to the procedure `procedure_id` (keeping 50), demotes it
  // when its later runs are on average no cheaper in steps than the first,
  // and undoes that when they are. None when no procedure has the id.
  Result<std::optional<Improvement>> record_run(std::string_view procedure_id,
                                                std::uint64_t steps,
                                                const std::optional<std::string>& session,
                                                double usd) const;

  // Journal entries worth showing for `query`, newest first, at most
  // `limit`: the two newest of other sessions and the best matches. Chat
  // entries and those of `exclude_session` never appear. Never fails.
  std::vector<JournalEntry> journal_for(std::string_view query, std::size_t limit,
                                        const std::optional<std::string>& exclude_session) const;
  // The journal text shown to the model; empty for no entries. Detailed
  // shows whole results and report files, brief clips each to 160.
  static std::string journal_prompt(const std::vector<JournalEntry>& entries, bool detailed);
  // Appends the entry of a finished job under MIND_LOCK, replacing the
  // session's earlier entry and keeping the newest 200. A "chat" run is
  // skipped (none). Returns the stored entry.
  Result<std::optional<JournalEntry>> journal_append(const FinishedJob& job) const;
  // How much cheaper repeated procedures got, demotions and uses by kind:
  // {"demoted_procedures", "fewer_steps_pct", "repeat_runs",
  //  "repeated_procedures", "usd_saved", "uses_by_kind"}. Never fails.
  nlohmann::json repeat_savings() const;

 private:
  std::filesystem::path dir_;
};

// The host of a browser address ("https://user@Sub.Example.com:8080/x" gives
// "sub.example.com"); none without "://" or without a dot.
std::optional<std::string> host_of(std::string_view url);
// The host a "host: note" text is about, without scheme, "www." or path;
// none unless it is a dotted run of ASCII letters, digits and "-".
std::optional<std::string> host_of_note(std::string_view text);

// The JSON value in a model reply: the whole reply without code fences, or
// else the text from its first "{" to its last "}". None when neither parses.
std::optional<nlohmann::json> extract_json(std::string_view reply);
// True for text that mentions passwords, codes or keys, holds 12 or more
// digits in a row (single spaces or hyphens between them allowed), or holds
// a 32-byte token of letters, digits, "-" and "_" with a digit in it.
bool looks_secret(std::string_view text);

// Asks the model what is worth keeping from a finished job. `steps_text`
// holds one line per step. Errors: the model's own, or kind Inference
// "reflection was not JSON" / "reflection shape: {why}".
Result<Reflected> reflect(model::ChatModel& client, std::string_view task,
                          std::string_view steps_text, std::string_view result);
// The same for a chat turn, asking only for durable facts about the person.
Result<Reflected> reflect_chat(model::ChatModel& client, std::string_view said,
                               std::string_view reply);

// The `velmor memory` action: lists memories and procedures, or with
// `forget` deletes one memory or procedure by id, or everything for "all".
// Writes to `out`. Fails with "no memory or procedure with id {id}" when
// nothing has the id, or with a write error; adds no context words.
Result<void> memory_command(const Config& config, const std::optional<std::string>& forget,
                            std::ostream& out);

}  // namespace velmor::mind
