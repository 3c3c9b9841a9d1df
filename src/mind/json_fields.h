// Internal to the mind: strict, typed reading of one JSON object's fields,
// shared by the stored records and the model's reflection. Not part of the
// module's public face.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include <nlohmann/json.hpp>

namespace velmor::mind::detail {

enum class Need { Required, Optional };

// Reads fields of `value` into typed slots and remembers the first problem
// (not an object, a required key missing, a value of the wrong type). A
// missing optional key leaves its slot's default untouched.
class Fields {
 public:
  explicit Fields(const nlohmann::json& value);

  bool ok() const { return error_.empty(); }
  const std::string& error() const { return error_; }

  void get(const char* key, std::string& out, Need need);
  void get(const char* key, std::optional<std::string>& out);  // null or missing: none
  void get(const char* key, double& out, Need need);
  void get(const char* key, std::uint32_t& out, Need need);
  void get(const char* key, std::uint64_t& out, Need need);
  void get(const char* key, bool& out, Need need);
  void get(const char* key, std::vector<std::string>& out, Need need);
  // The raw value, or null when it is missing (an error when required).
  const nlohmann::json* find(const char* key, Need need);
  // Records a problem found by the caller in a nested value.
  void fail(std::string why);

 private:
  const nlohmann::json* object_ = nullptr;
  std::string error_;
};

}  // namespace velmor::mind::detail
