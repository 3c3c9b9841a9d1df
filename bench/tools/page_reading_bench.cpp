// Page reading on the largest inputs it meets: a 256 KiB snapshot (the most
// read_snapshot reads, and the size a long page's inline snapshot reaches)
// and a page whose visible text fills the 60,000 characters the page script
// returns. Each runs once per browser action; the budget is 2 ms.
#include <benchmark/benchmark.h>
#include <fmt/format.h>
#include <stdlib.h>

#include <filesystem>
#include <fstream>
#include <random>
#include <string>
#include <vector>

#include <nlohmann/json.hpp>

#include "tools/page_reading.h"

namespace {

namespace fs = std::filesystem;
using namespace velmor::tools;

constexpr std::size_t kSnapshotBytes = 256 * 1024;
constexpr const char* kFocus = "find the cheapest flight from Oslo to Boston on Friday";

const std::vector<std::string> kWords = {
    "flight", "Boston",  "Oslo",    "hotel",   "cheapest", "window",   "aisle",  "seat",
    "train",  "booking", "Größe",   "Zürich",  "calendar", "meeting",  "fare",   "return",
    "search", "results", "filter",  "price",   "date",     "Friday",   "review", "rating",
    "stars",  "station", "ticket",  "weekend", "luggage",  "économie", "départ", "arrival"};

std::string words(std::mt19937& rng, int n) {
  std::uniform_int_distribution<std::size_t> pick(0, kWords.size() - 1);
  std::string out;
  for (int i = 0; i < n; ++i) {
    if (i > 0) out += ' ';
    out += kWords[pick(rng)];
  }
  return out;
}

// An accessibility tree like the browser server's: mostly links and text,
// a control every so often, nested a few levels deep.
std::string make_snapshot(std::size_t bytes) {
  std::mt19937 rng(7);
  std::string out = "- Page URL: https://travel.test/search?q=oslo-boston\n- Page Title: Flights\n";
  out += "- generic [ref=e1]:\n";
  const char* roles[] = {"link", "text:", "link", "listitem", "link", "button", "text:", "combobox"};
  for (int i = 2; out.size() < bytes - 200; ++i) {
    std::string indent(2 + 2 * static_cast<std::size_t>(i % 4), ' ');
    std::string role = roles[i % 8];
    std::string line = role == "text:" ? fmt::format("{}- text: {}\n", indent, words(rng, 8))
                                       : fmt::format("{}- {} \"{}\" [ref=e{}]\n", indent, role,
                                                     words(rng, 4), i);
    out += line;
  }
  return out;
}

std::string make_page(std::size_t chars) {
  std::mt19937 rng(11);
  std::string text;
  std::size_t count = 0;
  while (count < chars) {
    std::string line = words(rng, 14) + "\n";
    std::size_t n = 0;
    for (unsigned char c : line) n += (c & 0xC0) != 0x80;
    if (count + n > chars) break;
    text += line;
    count += n;
  }
  text.append(chars - count, '.');
  nlohmann::json page = {{"title", "Flights"}, {"url", "https://travel.test/"}, {"text", text}};
  return "### Result\n" + nlohmann::json(page.dump()).dump() +
         "\n\n### Ran Playwright code\n```js\nawait page.evaluate('() => 1');\n```\n";
}

// A run directory holding the snapshot as a file, as the server leaves it.
struct RunDir {
  RunDir() {
    std::string templ = (fs::temp_directory_path() / "velmor-bench-XXXXXX").string();
    path = mkdtemp(templ.data());
    std::ofstream(path / "page-1.yml") << snapshot;
    for (int i = 0; i < 20; ++i) std::ofstream(path / fmt::format("old-{}.yml", i)) << "- text: old\n";
  }
  ~RunDir() { fs::remove_all(path); }
  std::string snapshot = make_snapshot(kSnapshotBytes);
  fs::path path;
};

RunDir& run_dir() {
  static RunDir dir;
  return dir;
}

void BM_FocusSnapshot(benchmark::State& state) {
  const auto& snapshot = run_dir().snapshot;
  for (auto _ : state) benchmark::DoNotOptimize(focus_snapshot(snapshot, kFocus));
  state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations() * snapshot.size()));
}
BENCHMARK(BM_FocusSnapshot)->Unit(benchmark::kMillisecond);

void BM_InlineSnapshotsLinkedFile(benchmark::State& state) {
  auto& dir = run_dir();
  std::string answer = "### Page\n- Page URL: https://travel.test/\n### Snapshot\n- [Snapshot](" +
                       (dir.path / "page-1.yml").string() + ")\n";
  for (auto _ : state) benchmark::DoNotOptimize(inline_snapshots(answer, dir.path));
}
BENCHMARK(BM_InlineSnapshotsLinkedFile)->Unit(benchmark::kMillisecond);

void BM_InlineSnapshotsInlineYaml(benchmark::State& state) {
  auto& dir = run_dir();
  std::string answer = "### Page\n- Page URL: https://travel.test/\n### Snapshot\n```yaml\n" +
                       dir.snapshot + "```\n";
  for (auto _ : state) benchmark::DoNotOptimize(inline_snapshots(answer, dir.path));
}
BENCHMARK(BM_InlineSnapshotsInlineYaml)->Unit(benchmark::kMillisecond);

void BM_InlineSnapshotsNewestFile(benchmark::State& state) {
  auto& dir = run_dir();
  std::string answer = "### Snapshot\nThe snapshot was saved to a file.";
  for (auto _ : state) benchmark::DoNotOptimize(inline_snapshots(answer, dir.path));
}
BENCHMARK(BM_InlineSnapshotsNewestFile)->Unit(benchmark::kMillisecond);

void BM_PageTextWindow(benchmark::State& state) {
  auto raw = make_page(60000);
  nlohmann::json args = {{"start", state.range(0)}};
  for (auto _ : state) benchmark::DoNotOptimize(page_text_result(raw, args, kFocus));
}
BENCHMARK(BM_PageTextWindow)->Arg(0)->Arg(48000)->Unit(benchmark::kMillisecond);

void BM_PageTextFocused(benchmark::State& state) {
  auto raw = make_page(60000);
  nlohmann::json args = {{"query", "cheapest flight Boston Friday"}};
  for (auto _ : state) benchmark::DoNotOptimize(page_text_result(raw, args, ""));
}
BENCHMARK(BM_PageTextFocused)->Unit(benchmark::kMillisecond);

}  // namespace
