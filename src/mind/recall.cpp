#include <algorithm>
#include <unordered_set>

#include "core/clock.h"
#include "core/utf8.h"
#include "mind/mind.h"

namespace velmor::mind {
namespace {

struct Scored {
  double score;
  std::size_t index;
};

// Highest score first; equal scores keep their order in the file.
void rank(std::vector<Scored>& scored) {
  std::stable_sort(scored.begin(), scored.end(),
                   [](const Scored& a, const Scored& b) { return a.score > b.score; });
}

double memory_score(const Memory& m, double s, const std::string& lowered_query) {
  if (m.kind == "site") {
    auto host = host_of_note(m.text);
    if (!host || lowered_query.find(*host) == std::string::npos) return 0.0;
    return s + 0.5;
  }
  if (m.kind == "profile" || m.kind == "preference") return s + 100.0 + 0.2 * m.confidence;
  if (s <= 0.0) return 0.0;
  if (m.kind == "fact") return s + 0.4 + 0.2 * m.confidence;
  return s + 0.2 * m.confidence;
}

std::vector<Memory> recall_memories(std::vector<Memory> memories, const TokenList& query,
                                    std::string_view raw_query, std::size_t limit) {
  std::vector<TokenList> documents;
  documents.reserve(memories.size());
  for (const auto& m : memories) documents.push_back(tokens(m.text));
  const auto scores = Corpus(documents).scores(query);
  const std::string lowered = core::to_lower(raw_query);

  std::vector<Scored> kept;
  for (std::size_t i = 0; i < memories.size(); ++i) {
    double score = memory_score(memories[i], scores[i], lowered);
    if (score > 0.0) kept.push_back({score, i});
  }
  rank(kept);
  std::vector<Memory> out;
  for (std::size_t i = 0; i < kept.size() && i < limit; ++i)
    out.push_back(std::move(memories[kept[i].index]));
  return out;
}

TokenList procedure_document(const Procedure& p) {
  std::string head = p.title + " " + p.when + " ";
  for (std::size_t i = 0; i < p.sites.size(); ++i) {
    if (i > 0) head += ' ';
    head += p.sites[i];
  }
  TokenList doc;
  doc.reserve(16 * (p.steps.size() + 1));
  append_tokens(head, doc);
  for (const auto& step : p.steps) append_tokens(step, doc);
  return doc;
}

std::vector<Procedure> recall_procedures(std::vector<Procedure> procedures,
                                         const TokenList& query, std::size_t limit) {
  if (limit == 0) return {};
  std::vector<TokenList> documents;
  documents.reserve(procedures.size());
  for (const auto& p : procedures) documents.push_back(procedure_document(p));
  const Corpus corpus(documents);
  const auto scores = corpus.scores(query);
  const auto shared = corpus.shared(query);

  std::vector<Scored> kept;
  for (std::size_t i = 0; i < procedures.size(); ++i) {
    const auto& p = procedures[i];
    // One shared word is enough only for a very short query.
    if (p.demoted || (shared[i] < 2 && !(shared[i] == 1 && query.size() <= 2))) continue;
    const double score = scores[i] * (p.successes + 1.0) / (p.successes + p.failures + 2.0);
    if (score > 0.5) kept.push_back({score, i});
  }
  rank(kept);
  std::vector<Procedure> out;
  for (std::size_t i = 0; i < kept.size() && i < limit; ++i)
    out.push_back(std::move(procedures[kept[i].index]));
  return out;
}

bool is_host_char(char c) {
  return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') ||
         c == '-' || c == '.';
}

std::string_view cut_at(std::string_view s, std::string_view stops) {
  auto at = s.find_first_of(stops);
  return at == std::string_view::npos ? s : s.substr(0, at);
}

std::string_view drop_prefix(std::string_view s, std::string_view prefix) {
  return s.starts_with(prefix) ? s.substr(prefix.size()) : s;
}

// Where the note of "host: note" begins. A note written with the address's
// scheme ("https://host: note") must not split at the scheme's colon.
std::size_t note_colon(std::string_view text) {
  const std::string_view body = core::trim(text);
  std::size_t from = static_cast<std::size_t>(body.data() - text.data());
  const std::string head = core::to_lower_ascii(body.substr(0, 8));
  if (head.starts_with("https://"))
    from += 8;
  else if (head.starts_with("http://"))
    from += 7;
  return text.find(':', from);
}

}  // namespace

Recall Mind::recall(std::string_view query, std::size_t max_memories,
                    std::size_t max_procedures) const {
  const TokenList q = tokens(query);
  Recall out;
  out.memories = recall_memories(memories(), q, query, max_memories);
  out.procedures =
      recall_procedures(read_list<Procedure>(procedures_file()), q, max_procedures);
  return out;
}

std::string Recall::memories_prompt() const {
  if (memories.empty()) return "";
  std::string out = "What you know about this person (use quietly, do not recite):\n";
  for (const auto& m : memories) out += "- [" + m.kind + "] " + m.text + "\n";
  return out;
}

std::string Recall::plan_prompt() const {
  std::string out;
  if (!procedures.empty()) {
    const auto& best = procedures.front();
    out += "Plan from last time (\"" + best.title + "\", worked " +
           std::to_string(best.successes) + (best.successes == 1 ? " time" : " times") +
           "; follow it, skip steps that do not apply):\n";
    for (std::size_t i = 0; i < best.steps.size(); ++i)
      out += std::to_string(i + 1) + ". " + best.steps[i] + "\n";
    if (!best.sites.empty()) {
      out += "Sites: ";
      for (std::size_t i = 0; i < best.sites.size(); ++i)
        out += (i > 0 ? ", " : "") + best.sites[i];
      out += "\n";
    }
    for (std::size_t i = 1; i < procedures.size(); ++i)
      out += "Also worked once: " + procedures[i].title + " (" + procedures[i].when + ")\n";
  }
  auto outcome = std::find_if(memories.begin(), memories.end(),
                              [](const Memory& m) { return m.kind == "outcome"; });
  if (outcome != memories.end())
    out += "Last time a job like this ended with: " + outcome->text + "\n";
  return out;
}

Result<void> Mind::mark_used(const Recall& recall) const {
  if (recall.memories.empty() && recall.procedures.empty()) return {};
  std::lock_guard hold(MIND_LOCK);
  const std::string now = core::rfc3339_now();

  std::unordered_set<std::string_view> ids;
  for (const auto& m : recall.memories) ids.insert(m.id);
  auto stored = memories();
  for (auto& m : stored)
    if (ids.contains(m.id)) {
      ++m.uses;
      m.last_used = now;
    }
  VELMOR_TRY(write_list(memories_file(), stored));

  ids.clear();
  for (const auto& p : recall.procedures) ids.insert(p.id);
  auto procedures = read_list<Procedure>(procedures_file());
  for (auto& p : procedures)
    if (ids.contains(p.id)) p.last_used = now;
  return write_list(procedures_file(), procedures);
}

std::vector<std::string> Mind::site_notes(std::string_view host) const {
  const std::string lowered = core::to_lower(core::trim(host));
  const std::string_view q = drop_prefix(lowered, "www.");

  std::vector<std::string> notes;
  std::vector<Scored> matches;
  for (const auto& m : memories()) {
    if (m.kind != "site") continue;
    auto h = host_of_note(m.text);
    auto colon = note_colon(m.text);
    if (!h || colon == std::string::npos) continue;
    const bool same = q == *h;
    const bool subdomain = q.size() > h->size() && q.ends_with(*h) &&
                           q[q.size() - h->size() - 1] == '.';
    if (!same && !subdomain) continue;
    matches.push_back({m.confidence + 0.05 * m.uses, notes.size()});
    notes.emplace_back(core::trim(std::string_view(m.text).substr(colon + 1)));
  }
  rank(matches);
  std::vector<std::string> out;
  for (std::size_t i = 0; i < matches.size() && i < 6; ++i)
    out.push_back(std::move(notes[matches[i].index]));
  return out;
}

std::optional<std::string> host_of_note(std::string_view text) {
  const std::string lowered = core::to_lower(core::trim(text));
  std::string_view s = lowered;
  s = s.starts_with("https://") ? s.substr(8) : drop_prefix(s, "http://");
  s = core::trim(cut_at(s, ":"));
  s = cut_at(drop_prefix(s, "www."), "/");
  if (s.find('.') == std::string_view::npos) return std::nullopt;
  if (!std::all_of(s.begin(), s.end(), is_host_char)) return std::nullopt;
  return std::string(s);
}

std::optional<std::string> host_of(std::string_view url) {
  std::string_view s = core::trim(url);
  auto scheme = s.find("://");
  if (scheme == std::string_view::npos) return std::nullopt;
  s = cut_at(s.substr(scheme + 3), "#/?");
  if (auto at = s.rfind('@'); at != std::string_view::npos) s = s.substr(at + 1);
  s = cut_at(s, ":");
  std::string host = core::to_lower(core::trim(s));
  if (host.find('.') == std::string::npos) return std::nullopt;
  return host;
}

}  // namespace velmor::mind
