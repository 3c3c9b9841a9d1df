#include <algorithm>

#include <nlohmann/json.hpp>

#include "core/utf8.h"
#include "model/model.h"
#include "model/wire.h"

namespace velmor::model {
namespace {

bool contains(std::string_view haystack, std::string_view needle) {
  return haystack.find(needle) != std::string_view::npos;
}

std::uint64_t quarter_rounded_up(std::size_t bytes) { return (bytes + 3) / 4; }

}  // namespace

PriceRow price_per_million(Provider provider, std::string_view model, ContextLength context) {
  std::string name = core::to_lower(model);
  switch (provider) {
    case Provider::ChatGpt:
    case Provider::OpenAi:
      if (contains(name, "mini") || contains(name, "nano")) return {0.25, 0.025, 2.00};
      return {1.25, 0.125, 10.00};
    case Provider::Xai:
      if (context == ContextLength::Long) return {4.00, 1.00, 12.00};
      return {2.00, 0.50, 6.00};
    case Provider::Anthropic:
      if (contains(name, "haiku")) return {1.00, 0.10, 5.00};
      if (contains(name, "opus")) return {5.00, 0.50, 25.00};
      return {3.00, 0.30, 15.00};
    case Provider::Compatible:
      return {0, 0, 0};
  }
  return {0, 0, 0};
}

double cost(const TokenUse& use, const PriceRow& row) {
  std::uint64_t cached = std::min(use.input_tokens, use.cached_tokens);
  double uncached = static_cast<double>(use.input_tokens - cached);
  return (row.input * uncached + row.cached * static_cast<double>(cached) +
          row.output * static_cast<double>(use.output_tokens)) /
         1'000'000.0;
}

std::uint64_t estimate_tokens(std::string_view text) { return quarter_rounded_up(text.size()); }

TokenUse estimate(const nlohmann::json& body, std::size_t reply_bytes) {
  TokenUse use;
  use.input_tokens = quarter_rounded_up(wire::compact(body).size());
  use.output_tokens = quarter_rounded_up(reply_bytes);
  use.estimated = true;
  return use;
}

}  // namespace velmor::model
