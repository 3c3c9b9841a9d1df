#include <algorithm>
#include <cmath>

#include "core/clock.h"
#include "core/utf8.h"
#include "mind/mind.h"

namespace velmor::mind {
namespace {

constexpr std::size_t kMaxMemories = 600;
constexpr std::size_t kMaxProcedures = 200;
constexpr std::size_t kMaxRuns = 50;
constexpr std::size_t kMemoriesPerReflection = 8;
constexpr std::size_t kMaxMemoryChars = 300;
constexpr std::size_t kMaxProcedureSteps = 20;

bool known_kind(std::string_view kind) {
  return kind == "profile" || kind == "preference" || kind == "fact" || kind == "outcome" ||
         kind == "site";
}

// The model's confidence as stored for a new memory.
double new_confidence(double given) {
  if (std::isnan(given)) given = 0.7;
  return std::clamp(given, 0.05, 1.0);
}

// Outcomes go first, then the least sure, then the oldest.
void evict_memories(std::vector<Memory>& memories) {
  if (memories.size() <= kMaxMemories) return;
  std::stable_sort(memories.begin(), memories.end(), [](const Memory& a, const Memory& b) {
    const bool a_outcome = a.kind == "outcome";
    const bool b_outcome = b.kind == "outcome";
    if (a_outcome != b_outcome) return a_outcome;
    if (a.confidence != b.confidence) return a.confidence < b.confidence;
    return a.created_at < b.created_at;
  });
  memories.erase(memories.begin(),
                 memories.begin() + static_cast<std::ptrdiff_t>(memories.size() - kMaxMemories));
}

// The least successful go first, then the oldest.
void evict_procedures(std::vector<Procedure>& procedures) {
  if (procedures.size() <= kMaxProcedures) return;
  std::stable_sort(procedures.begin(), procedures.end(),
                   [](const Procedure& a, const Procedure& b) {
                     if (a.successes != b.successes) return a.successes < b.successes;
                     return a.created_at < b.created_at;
                   });
  procedures.erase(procedures.begin(),
                   procedures.begin() +
                       static_cast<std::ptrdiff_t>(procedures.size() - kMaxProcedures));
}

template <class T>
const T* find_id(const std::vector<T>& items, const std::string& id) {
  auto it = std::find_if(items.begin(), items.end(), [&](const T& x) { return x.id == id; });
  return it == items.end() ? nullptr : &*it;
}

std::string trimmed(std::string_view s) { return std::string(core::trim(s)); }

}  // namespace

Result<Absorbed> Mind::absorb(const Reflection& reflection,
                              const std::optional<std::string>& source_session) const {
  Absorbed out;
  const std::size_t count = std::min(reflection.memories.size(), kMemoriesPerReflection);
  for (std::size_t n = 0; n < count; ++n) {
    const NewMemory& entry = reflection.memories[n];
    const std::string text = trimmed(entry.text);
    if (text.empty() || core::char_count(text) > kMaxMemoryChars || looks_secret(text)) continue;
    const std::string kind = known_kind(entry.kind) ? entry.kind : "fact";
    if (kind == "site" && !host_of_note(text)) continue;

    std::lock_guard hold(MIND_LOCK);
    auto stored = memories();
    const TokenList t = tokens(text);
    auto same = std::find_if(stored.begin(), stored.end(), [&](const Memory& m) {
      return m.kind == kind && jaccard(tokens(m.text), t) >= 0.75;
    });
    std::string id;
    if (same != stored.end()) {
      same->confidence = std::min(std::max(same->confidence, entry.confidence) + 0.1, 1.0);
      if (text.size() > same->text.size()) same->text = text;
      id = same->id;
    } else {
      Memory m;
      m.id = id = short_id("m");
      m.kind = kind;
      m.text = text;
      m.confidence = new_confidence(entry.confidence);
      m.source_session = source_session;
      m.created_at = core::rfc3339_now();
      stored.push_back(std::move(m));
      evict_memories(stored);
    }
    VELMOR_TRY(write_list(memories_file(), stored));
    // A new memory can lose its place at once when the list is full of
    // surer ones; it is then not reported as kept.
    if (const Memory* kept = find_id(stored, id)) out.memories.push_back(*kept);
  }

  const auto& given = reflection.procedure;
  if (!given) return out;
  const std::string title = trimmed(given->title);
  if (title.empty() || given->steps.empty() || given->steps.size() > kMaxProcedureSteps)
    return out;
  std::vector<std::string> steps;
  for (const auto& raw : given->steps) {
    std::string step = trimmed(raw);
    if (step.empty() || looks_secret(step)) continue;
    steps.push_back(clip(step, 240));
  }
  if (steps.empty()) return out;

  std::lock_guard hold(MIND_LOCK);
  auto procedures = read_list<Procedure>(procedures_file());
  const TokenList t = tokens(title + " " + given->when);
  auto same = std::find_if(procedures.begin(), procedures.end(), [&](const Procedure& p) {
    return jaccard(tokens(p.title + " " + p.when), t) >= 0.6;
  });
  std::string id;
  if (same != procedures.end()) {
    same->steps = std::move(steps);
    ++same->successes;
    for (const auto& site : given->sites)
      if (std::find(same->sites.begin(), same->sites.end(), site) == same->sites.end())
        same->sites.push_back(site);
    same->last_used = core::rfc3339_now();
    id = same->id;
  } else {
    Procedure p;
    p.id = id = short_id("p");
    p.title = clip(title, 120);
    p.when = clip(core::trim(given->when), 240);
    p.steps = std::move(steps);
    for (const auto& site : given->sites) p.sites.push_back(clip(core::trim(site), 80));
    p.successes = 1;
    p.source_session = source_session;
    p.created_at = core::rfc3339_now();
    procedures.push_back(std::move(p));
    evict_procedures(procedures);
  }
  VELMOR_TRY(write_list(procedures_file(), procedures));
  if (const Procedure* kept = find_id(procedures, id)) out.procedure = *kept;
  return out;
}

Result<std::optional<Improvement>> Mind::record_run(std::string_view procedure_id,
                                                    std::uint64_t steps,
                                                    const std::optional<std::string>& session,
                                                    double usd) const {
  std::lock_guard hold(MIND_LOCK);
  auto procedures = read_list<Procedure>(procedures_file());
  auto it = std::find_if(procedures.begin(), procedures.end(),
                         [&](const Procedure& p) { return p.id == procedure_id; });
  if (it == procedures.end()) return std::nullopt;
  Procedure& p = *it;

  // A cost that is not a number would be stored as null and make the whole
  // file unreadable on the next read.
  if (!std::isfinite(usd)) usd = 0.0;
  p.runs.push_back({core::rfc3339_now(), steps, usd, session});
  if (p.runs.size() > kMaxRuns)
    p.runs.erase(p.runs.begin(),
                 p.runs.begin() + static_cast<std::ptrdiff_t>(p.runs.size() - kMaxRuns));

  if (p.runs.size() >= 4) {
    double later = 0.0;
    for (std::size_t i = 1; i < p.runs.size(); ++i) later += static_cast<double>(p.runs[i].steps);
    later /= static_cast<double>(p.runs.size() - 1);
    p.demoted = later >= static_cast<double>(p.runs.front().steps);
  }

  Improvement improvement{p.id,  p.title, p.runs.size(),          steps,
                          usd,   p.runs.front().steps, p.runs.front().usd};
  VELMOR_TRY(write_list(procedures_file(), procedures));
  return improvement;
}

}  // namespace velmor::mind
