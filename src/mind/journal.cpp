#include <algorithm>
#include <cmath>
#include <map>

#include "core/clock.h"
#include "core/utf8.h"
#include "mind/mind.h"

namespace velmor::mind {
namespace {

constexpr std::size_t kMaxJournal = 200;

struct Scored {
  double score;
  std::size_t index;
};

}  // namespace

std::vector<JournalEntry> Mind::journal_for(
    std::string_view query, std::size_t limit,
    const std::optional<std::string>& exclude_session) const {
  auto entries = journal();
  std::erase_if(entries, [&](const JournalEntry& e) {
    return e.mode == "chat" || (exclude_session && e.session == *exclude_session);
  });
  if (entries.empty()) return {};

  // The two newest are always shown: "what did you just do" rarely shares
  // words with the job itself.
  const std::size_t newest = entries.size() >= 2 ? entries.size() - 2 : 0;
  std::vector<std::size_t> picks;
  for (std::size_t i = newest; i < entries.size(); ++i) picks.push_back(i);

  std::vector<TokenList> documents;
  documents.reserve(entries.size());
  for (const auto& e : entries) documents.push_back(tokens(e.title + " " + e.gist));
  const auto scores = Corpus(documents).scores(tokens(query));

  std::vector<Scored> kept;
  for (std::size_t i = 0; i < entries.size(); ++i) {
    const bool picked = std::any_of(picks.begin(), picks.end(),
                                    [&](std::size_t p) { return entries[p].id == entries[i].id; });
    if (!picked && scores[i] > 0.0) kept.push_back({scores[i], i});
  }
  std::stable_sort(kept.begin(), kept.end(),
                   [](const Scored& a, const Scored& b) { return a.score > b.score; });
  for (std::size_t k = 0; k < kept.size() && picks.size() < limit; ++k)
    picks.push_back(kept[k].index);

  std::vector<JournalEntry> out;
  out.reserve(picks.size());
  for (auto i : picks) out.push_back(entries[i]);
  std::stable_sort(out.begin(), out.end(),
                   [](const JournalEntry& a, const JournalEntry& b) { return a.at > b.at; });
  if (out.size() > limit) out.resize(limit);
  return out;
}

std::string Mind::journal_prompt(const std::vector<JournalEntry>& entries, bool detailed) {
  if (entries.empty()) return "";
  std::string out =
      "Jobs you did for this person earlier (other sessions, newest first). Answer questions "
      "about them from here; say which job you mean:\n";
  for (const auto& e : entries) {
    const std::string date = clip(e.at, 10);
    if (!detailed) {
      out += "- [" + date + "] " + e.title + ": " + clip(e.gist, 160) + "\n";
      continue;
    }
    out += "- [" + date + "] " + e.title + "\n  Result: " + e.gist + "\n";
    if (e.report) out += "  Report file: " + *e.report + "\n";
  }
  return out;
}

Result<std::optional<JournalEntry>> Mind::journal_append(const FinishedJob& job) const {
  if (job.mode == "chat") return std::nullopt;
  JournalEntry entry;
  entry.id = short_id("j");
  entry.session = job.session;
  entry.title = clip(core::trim(job.title), 120);
  entry.mode = job.mode;
  entry.gist = clip(core::trim(job.result), 1500);
  entry.report = job.report;

  std::lock_guard hold(MIND_LOCK);
  auto entries = journal();
  std::erase_if(entries, [&](const JournalEntry& e) { return e.session == job.session; });
  entry.at = core::rfc3339_now();
  entries.push_back(entry);
  if (entries.size() > kMaxJournal)
    entries.erase(entries.begin(),
                  entries.begin() + static_cast<std::ptrdiff_t>(entries.size() - kMaxJournal));
  VELMOR_TRY(write_list(journal_file(), entries));
  return entry;
}

nlohmann::json Mind::repeat_savings() const {
  std::uint64_t s0 = 0, s1 = 0, repeated = 0, repeat_runs = 0, demoted = 0;
  double u0 = 0.0, u1 = 0.0;
  for (const auto& p : read_list<Procedure>(procedures_file())) {
    if (p.demoted) ++demoted;
    if (p.runs.size() < 2) continue;
    const Run& first = p.runs.front();
    for (std::size_t i = 1; i < p.runs.size(); ++i) {
      s0 += first.steps;
      s1 += p.runs[i].steps;
      u0 += first.usd;
      u1 += p.runs[i].usd;
    }
    ++repeated;
    repeat_runs += p.runs.size() - 1;
  }

  std::uint64_t fewer_pct = 0;
  if (s0 > 0 && s1 < s0)
    fewer_pct = static_cast<std::uint64_t>(static_cast<unsigned __int128>(s0 - s1) * 100 / s0);
  const double saved = std::max(u0 - u1, 0.0);

  std::map<std::string, std::pair<std::uint64_t, std::uint64_t>> by_kind;
  for (const auto& m : memories()) {
    auto& [count, uses] = by_kind[m.kind];
    ++count;
    uses += m.uses;
  }
  nlohmann::json kinds = nlohmann::json::object();
  for (const auto& [kind, totals] : by_kind)
    kinds[kind] = {{"count", totals.first}, {"uses", totals.second}};

  return {{"repeated_procedures", repeated},
          {"repeat_runs", repeat_runs},
          {"fewer_steps_pct", fewer_pct},
          {"usd_saved", std::isfinite(saved) ? nlohmann::json(saved) : nlohmann::json(nullptr)},
          {"demoted_procedures", demoted},
          {"uses_by_kind", std::move(kinds)}};
}

}  // namespace velmor::mind
