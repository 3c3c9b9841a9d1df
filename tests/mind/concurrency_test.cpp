#include <gtest/gtest.h>

#include <fmt/format.h>

#include <atomic>
#include <chrono>
#include <thread>

#include "core/files.h"
#include "mind_fixture.h"

namespace velmor::mind {
namespace {

using testing::MindTest;
using testing::procedure;

constexpr int kRounds = 20;

// One job finishing over and over: learn a memory, record a run, journal it.
void finish_jobs(const Mind& mind, const std::string& who, std::atomic<int>& failures) {
  for (int i = 0; i < kRounds; ++i) {
    Reflection r;
    r.memories = {{"fact", fmt::format("Remembered {}{} today", who, i), 0.6}};
    if (!mind.absorb(r, {})) ++failures;
    auto run = mind.record_run("p_1", 10, who, 0.1);
    if (!run || !*run) ++failures;
    if (!mind.journal_append({fmt::format("s_{}{}", who, i), "Job", "browse", "done", {}}))
      ++failures;
  }
}

TEST_F(MindTest, TwoJobsFinishingAtOnceLoseNoEntry) {
  store(std::vector<Procedure>{procedure("p_1", "Find cheap flights", "flying", {"search"})});
  std::atomic<int> failures = 0;
  std::atomic<bool> done = false;
  std::atomic<int> torn = 0;
  std::atomic<int> shrank = 0;

  // Readers take no lock; they must only ever see whole files, and a list
  // that writers only grow must never look shorter than before.
  std::thread reader([&] {
    std::size_t last = 0;
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(60);
    while (!done && std::chrono::steady_clock::now() < deadline) {
      if (auto text = core::read_file(mind_.memories_file());
          text && !nlohmann::json::accept(*text))
        ++torn;
      auto now = mind_.memories().size();
      if (now < last) ++shrank;
      last = std::max(last, now);
      std::this_thread::sleep_for(std::chrono::microseconds(200));
    }
  });
  std::thread a([&] { finish_jobs(mind_, "alpha", failures); });
  std::thread b([&] { finish_jobs(mind_, "bravo", failures); });
  a.join();
  b.join();
  done = true;
  reader.join();

  EXPECT_EQ(failures, 0);
  EXPECT_EQ(torn, 0);
  EXPECT_EQ(shrank, 0);
  EXPECT_EQ(mind_.memories().size(), 2u * kRounds);
  EXPECT_EQ(procedures().at(0).runs.size(), 2u * kRounds);
  EXPECT_EQ(mind_.journal().size(), 2u * kRounds);
}

}  // namespace
}  // namespace velmor::mind
