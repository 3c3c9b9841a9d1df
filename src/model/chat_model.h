// The conversation types every caller of a language model uses, and the
// seam through which the job loop, learning and routing reach a model:
// ModelClient is the real one, tests plug in scripted ones.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "core/error.h"

namespace velmor::model {

enum class Role { User, Assistant };

// One turn of a conversation. Only user messages carry an image: a PNG as
// standard Base64 without a data-URL prefix.
struct Message {
  Role role = Role::User;
  std::string text;
  std::optional<std::string> image;
};

// Token counts of one call or of a running total. Once any part of a total
// was estimated, the total stays estimated.
struct TokenUse {
  std::uint64_t input_tokens = 0;  // all prompt tokens, cached ones included
  std::uint64_t cached_tokens = 0;
  std::uint64_t output_tokens = 0;
  bool estimated = false;

  TokenUse& operator+=(const TokenUse& other) {
    input_tokens += other.input_tokens;
    cached_tokens += other.cached_tokens;
    output_tokens += other.output_tokens;
    estimated = estimated || other.estimated;
    return *this;
  }
};

struct ChatReply {
  std::string text;  // trimmed, never empty
  TokenUse usage;
};

// Anything that answers a system prompt and a conversation. Implementations
// are safe to call from several threads at once.
class ChatModel {
 public:
  virtual ~ChatModel() = default;
  virtual Result<ChatReply> chat(const std::string& system, const std::vector<Message>& messages) = 0;
};

}  // namespace velmor::model
