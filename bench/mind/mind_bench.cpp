// Recall and the journal lookup at the list caps: 600 memories, 200
// procedures of 10 steps (with recorded runs) and 200 journal entries, all
// re-read and re-ranked on every call as in a real job.
#include <benchmark/benchmark.h>
#include <fmt/format.h>
#include <stdlib.h>

#include <filesystem>
#include <random>
#include <string>
#include <vector>

#include "mind/mind.h"

namespace {

namespace fs = std::filesystem;
using namespace velmor::mind;

const std::vector<std::string> kWords = {
    "flight", "Boston",  "Oslo",     "hotel",    "cheapest", "window",  "aisle",   "seat",
    "train",  "booking", "invoice",  "Dropbox",  "calendar", "meeting", "dentist", "grocery",
    "order",  "parcel",  "tracking", "refund",   "airline",  "fare",    "weekend", "return",
    "search", "results", "filter",   "price",    "date",     "combobox", "banner", "cookie",
    "accept", "reject",  "checkout", "payment",  "receipt",  "folder",  "report",  "summary",
    "compare", "review", "rating",   "stars",    "distance", "station", "platform", "ticket",
    "Marrowby", "Yorrin", "employer", "Dunmore", "timezone", "morning", "evening", "budget",
    "dollars", "euros",  "monthly",  "electricity", "bill",  "library", "renew",   "loan"};
const std::vector<std::string> kKinds = {"profile", "preference", "fact", "fact",
                                         "fact",    "outcome",    "site", "site"};

std::string sentence(std::mt19937& rng, int words) {
  std::uniform_int_distribution<std::size_t> pick(0, kWords.size() - 1);
  std::string out;
  for (int i = 0; i < words; ++i) {
    if (i > 0) out += i % 7 == 0 ? ", " : " ";
    out += kWords[pick(rng)];
  }
  return out;
}

struct BenchMind {
  fs::path dir;
  Mind mind{""};

  BenchMind() {
    std::string pattern = (fs::temp_directory_path() / "velmor-bench-XXXXXX").string();
    if (!::mkdtemp(pattern.data())) throw std::runtime_error("mkdtemp failed");
    dir = pattern;
    mind = Mind(dir / "memory");
    std::mt19937 rng(7);
    std::uniform_int_distribution<int> length(8, 30);

    std::vector<Memory> memories;
    for (int i = 0; i < 600; ++i) {
      Memory m;
      m.id = short_id("m");
      m.kind = kKinds[static_cast<std::size_t>(i) % kKinds.size()];
      m.text = m.kind == "site" ? fmt::format("site{}.example.com: {}", i % 40, sentence(rng, length(rng)))
                                : sentence(rng, length(rng));
      m.text = clip(m.text, 300);
      m.confidence = 0.05 + (i % 20) * 0.05;
      m.created_at = fmt::format("2025-0{}-1{}T09:15:02.123456+00:00", 1 + i % 9, i % 10);
      m.last_used = m.created_at;
      m.uses = static_cast<std::uint32_t>(i % 13);
      memories.push_back(std::move(m));
    }
    (void)write_list(mind.memories_file(), memories);

    std::vector<Procedure> procedures;
    for (int i = 0; i < 200; ++i) {
      Procedure p;
      p.id = short_id("p");
      p.title = sentence(rng, 5);
      p.when = sentence(rng, 14);
      for (int s = 0; s < 10; ++s) p.steps.push_back(sentence(rng, 9));
      p.sites = {fmt::format("site{}.example.com", i % 40), "www.google.com"};
      p.successes = static_cast<std::uint32_t>(1 + i % 5);
      p.failures = static_cast<std::uint32_t>(i % 3);
      p.created_at = "2025-02-11T08:00:00+00:00";
      for (int r = 0; r < 10; ++r)
        p.runs.push_back({"2025-03-01T09:15:02+00:00", static_cast<std::uint64_t>(20 - r), 0.12, "s_0123456789abcdef"});
      procedures.push_back(std::move(p));
    }
    (void)write_list(mind.procedures_file(), procedures);

    std::vector<JournalEntry> journal;
    for (int i = 0; i < 200; ++i)
      journal.push_back({short_id("j"), fmt::format("s_{:016}", i), clip(sentence(rng, 8), 120),
                         fmt::format("2025-03-{:02}T10:00:{:02}+00:00", 1 + i % 28, i % 60),
                         "browse", clip(sentence(rng, 120), 1500), "report.md"});
    (void)write_list(mind.journal_file(), journal);
  }
  ~BenchMind() {
    std::error_code ec;
    fs::remove_all(dir, ec);
  }
};

BenchMind& bench_mind() {
  static BenchMind instance;
  return instance;
}

const char* kQuery = "Find the cheapest flights from Boston to Oslo next weekend, aisle seat please";

void BM_Recall(benchmark::State& state) {
  const Mind& mind = bench_mind().mind;
  for (auto _ : state) {
    auto recall = mind.recall(kQuery, 12, 3);
    benchmark::DoNotOptimize(recall);
  }
}
BENCHMARK(BM_Recall)->Unit(benchmark::kMillisecond);

void BM_JournalFor(benchmark::State& state) {
  const Mind& mind = bench_mind().mind;
  for (auto _ : state) {
    auto entries = mind.journal_for(kQuery, 3, "s_me");
    benchmark::DoNotOptimize(entries);
  }
}
BENCHMARK(BM_JournalFor)->Unit(benchmark::kMillisecond);

// Where recall's time goes: reading the two files alone.
void BM_ReadListsOnly(benchmark::State& state) {
  const Mind& mind = bench_mind().mind;
  for (auto _ : state) {
    auto memories = mind.memories();
    auto procedures = read_list<Procedure>(mind.procedures_file());
    benchmark::DoNotOptimize(memories);
    benchmark::DoNotOptimize(procedures);
  }
}
BENCHMARK(BM_ReadListsOnly)->Unit(benchmark::kMillisecond);

}  // namespace
