// A mind in a fresh temporary directory, and helpers to lay out its files.
#pragma once

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>

#include "mind/mind.h"
#include "support/temp_dir.h"

namespace velmor::mind::testing {

inline std::filesystem::path fixture(const std::string& name) {
  return std::filesystem::path(MIND_TEST_DATA) / name;
}

inline std::string slurp(const std::filesystem::path& path) {
  std::ifstream in(path, std::ios::binary);
  std::ostringstream ss;
  ss << in.rdbuf();
  return ss.str();
}

inline void put(const std::filesystem::path& path, const std::string& text) {
  std::filesystem::create_directories(path.parent_path());
  std::ofstream(path, std::ios::binary) << text;
}

inline Memory memory(std::string id, std::string kind, std::string text, double confidence = 0.5,
                     std::string created_at = "2025-01-01T00:00:00+00:00") {
  Memory m;
  m.id = std::move(id);
  m.kind = std::move(kind);
  m.text = std::move(text);
  m.confidence = confidence;
  m.created_at = std::move(created_at);
  return m;
}

inline Procedure procedure(std::string id, std::string title, std::string when,
                           std::vector<std::string> steps, std::uint32_t successes = 1) {
  Procedure p;
  p.id = std::move(id);
  p.title = std::move(title);
  p.when = std::move(when);
  p.steps = std::move(steps);
  p.successes = successes;
  p.created_at = "2025-01-01T00:00:00+00:00";
  return p;
}

class MindTest : public ::testing::Test {
 protected:
  velmor::testing::TempDir home_;
  Mind mind_{home_.path() / "memory"};

  void store(const std::vector<Memory>& items) {
    ASSERT_TRUE(write_list(mind_.memories_file(), items).has_value());
  }
  void store(const std::vector<Procedure>& items) {
    ASSERT_TRUE(write_list(mind_.procedures_file(), items).has_value());
  }
  void store(const std::vector<JournalEntry>& items) {
    ASSERT_TRUE(write_list(mind_.journal_file(), items).has_value());
  }
  std::vector<Procedure> procedures() const { return read_list<Procedure>(mind_.procedures_file()); }
};

}  // namespace velmor::mind::testing
