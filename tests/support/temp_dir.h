// A fresh directory under the system temporary directory, removed with
// everything in it when the object goes.
#pragma once

#include <filesystem>

namespace velmor::testing {

class TempDir {
 public:
  TempDir();
  ~TempDir();
  TempDir(const TempDir&) = delete;
  TempDir& operator=(const TempDir&) = delete;
  const std::filesystem::path& path() const { return path_; }
  std::filesystem::path operator/(const std::filesystem::path& rel) const { return path_ / rel; }

 private:
  std::filesystem::path path_;
};

}  // namespace velmor::testing
