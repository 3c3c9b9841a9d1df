#include "core/error.h"

namespace velmor::core {
namespace {

const char* kind_prefix(ErrorKind kind) {
  switch (kind) {
    case ErrorKind::Qdrant: return "qdrant: ";
    case ErrorKind::Config: return "config: ";
    case ErrorKind::Schema: return "schema: ";
    case ErrorKind::NotFound: return "not found: ";
    case ErrorKind::Inference: return "inference: ";
    case ErrorKind::Computer: return "computer: ";
    case ErrorKind::Other: return "";
  }
  return "";
}

}  // namespace

Error Error::context(std::string words) const& { return Error(*this).context(std::move(words)); }

Error Error::context(std::string words) && {
  Error outer(ErrorKind::Other, std::move(words));
  outer.causes_.reserve(causes_.size() + 1);
  outer.causes_.push_back(to_string());
  for (auto& c : causes_) outer.causes_.push_back(std::move(c));
  outer.root_kind_ = root_kind();
  return outer;
}

std::string Error::to_string() const { return kind_prefix(kind_) + message_; }

std::string Error::long_form() const {
  std::string out = to_string();
  for (const auto& c : causes_) {
    out += ": ";
    out += c;
  }
  return out;
}

std::string Error::report() const {
  std::string out = "Error: " + to_string() + "\n";
  if (!causes_.empty()) {
    out += "\nCaused by:\n";
    for (const auto& c : causes_) out += "    " + c + "\n";
  }
  return out;
}

}  // namespace velmor::core
