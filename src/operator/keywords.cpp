// Clipping and the keyword tests of routing.
#include <initializer_list>

#include "core/utf8.h"
#include "operator/operator.h"

namespace velmor::op {

namespace {

bool contains_any(std::string_view message, std::initializer_list<std::string_view> words) {
  std::string lower = core::to_lower(message);
  for (auto w : words)
    if (lower.find(w) != std::string::npos) return true;
  return false;
}

}  // namespace

std::string clip(std::string_view text, std::size_t n) {
  if (core::char_count(text) <= n) return std::string(text);
  return std::string(core::prefix_chars(text, n)) + "…";
}

std::string clip_tail(std::string_view text, std::size_t n) {
  if (core::char_count(text) <= n) return std::string(text);
  return "…" + std::string(core::suffix_chars(text, n));
}

Intent fallback_intent(std::string_view message) {
  bool task = contains_any(
      message, {"find", "search", "look up", "compare", "book", "buy", "order", "check", "cancel",
                "fill", "download", "open ", "go to", "visit", "browse", "sign up", "apply",
                "watch for", "track", "price", "cheapest", "http://", "https://", "on my mac",
                "on my screen"});
  return task ? Intent::Task : Intent::Chat;
}

bool looks_like_code_request(std::string_view message) {
  return contains_any(
      message, {"code", "script", "function", "program", "repo", "repository", "refactor",
                "compile", "debug", "unit test", "pull request", "python", "javascript",
                "typescript", "rust", "swift", "java", "sql", "html", "css", "api endpoint",
                "bug in", "stack trace", "write an app", "build an app", "write a website",
                "build a website"});
}

bool refers_to_past_work(std::string_view message) {
  return contains_any(
      message, {"last time", "earlier", "before", "previous", "yesterday", "last week", "again",
                "what did you find", "what did you", "remind me", "that research", "the research",
                "that report", "the report", "you found", "you did", "continue", "pick up where",
                "where we left", "same as", "like last"});
}

}  // namespace velmor::op
