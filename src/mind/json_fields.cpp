#include "mind/json_fields.h"

#include <limits>

namespace velmor::mind::detail {

using nlohmann::json;

Fields::Fields(const json& value) {
  if (value.is_object())
    object_ = &value;
  else
    error_ = std::string("expected an object, found ") + value.type_name();
}

void Fields::fail(std::string why) {
  if (error_.empty()) error_ = std::move(why);
}

const json* Fields::find(const char* key, Need need) {
  if (!object_) return nullptr;
  auto it = object_->find(key);
  if (it == object_->end()) {
    if (need == Need::Required) fail(std::string("missing field `") + key + "`");
    return nullptr;
  }
  return &*it;
}

namespace {

std::string wrong_type(const char* key, const char* expected, const json& v) {
  return std::string("invalid type for `") + key + "`: expected " + expected + ", found " +
         v.type_name();
}

}  // namespace

void Fields::get(const char* key, std::string& out, Need need) {
  const json* v = find(key, need);
  if (!v) return;
  if (!v->is_string()) return fail(wrong_type(key, "a string", *v));
  out = v->get_ref<const std::string&>();
}

void Fields::get(const char* key, std::optional<std::string>& out) {
  const json* v = find(key, Need::Optional);
  if (!v || v->is_null()) {
    out.reset();
    return;
  }
  if (!v->is_string()) return fail(wrong_type(key, "a string or null", *v));
  out = v->get_ref<const std::string&>();
}

void Fields::get(const char* key, double& out, Need need) {
  const json* v = find(key, need);
  if (!v) return;
  if (!v->is_number()) return fail(wrong_type(key, "a number", *v));
  out = v->get<double>();
}

void Fields::get(const char* key, std::uint64_t& out, Need need) {
  const json* v = find(key, need);
  if (!v) return;
  if (!v->is_number_unsigned()) return fail(wrong_type(key, "an unsigned integer", *v));
  out = v->get<std::uint64_t>();
}

void Fields::get(const char* key, std::uint32_t& out, Need need) {
  std::uint64_t wide = out;
  get(key, wide, need);
  if (!ok()) return;
  if (wide > std::numeric_limits<std::uint32_t>::max())
    return fail(std::string("`") + key + "` is out of range for a 32-bit count");
  out = static_cast<std::uint32_t>(wide);
}

void Fields::get(const char* key, bool& out, Need need) {
  const json* v = find(key, need);
  if (!v) return;
  if (!v->is_boolean()) return fail(wrong_type(key, "a boolean", *v));
  out = v->get<bool>();
}

void Fields::get(const char* key, std::vector<std::string>& out, Need need) {
  const json* v = find(key, need);
  if (!v) return;
  if (!v->is_array()) return fail(wrong_type(key, "a list of strings", *v));
  std::vector<std::string> items;
  items.reserve(v->size());
  for (const auto& item : *v) {
    if (!item.is_string()) return fail(wrong_type(key, "a list of strings", *v));
    items.push_back(item.get_ref<const std::string&>());
  }
  out = std::move(items);
}

}  // namespace velmor::mind::detail
