// The one error type of velmor, and the Result alias every fallible
// operation returns.
#pragma once

#include <expected>
#include <optional>
#include <string>
#include <utility>
#include <vector>

namespace velmor::core {

// Kinds in declaration order; each shows itself as "{kind}: {message}"
// except Other, which shows its own message.
enum class ErrorKind { Qdrant, Config, Schema, NotFound, Inference, Computer, Other };

class Error {
 public:
  Error(ErrorKind kind, std::string message) : kind_(kind), message_(std::move(message)) {}

  static Error qdrant(std::string m) { return {ErrorKind::Qdrant, std::move(m)}; }
  static Error config(std::string m) { return {ErrorKind::Config, std::move(m)}; }
  static Error schema(std::string m) { return {ErrorKind::Schema, std::move(m)}; }
  static Error not_found(std::string m) { return {ErrorKind::NotFound, std::move(m)}; }
  static Error inference(std::string m) { return {ErrorKind::Inference, std::move(m)}; }
  static Error computer(std::string m) { return {ErrorKind::Computer, std::move(m)}; }
  // A plain message with no kind of its own ("desktop app build failed").
  static Error other(std::string m) { return {ErrorKind::Other, std::move(m)}; }

  // Wraps this error under context words: the result is an Other whose text
  // is `words` and whose causes are this error's text followed by its causes.
  [[nodiscard]] Error context(std::string words) const&;
  [[nodiscard]] Error context(std::string words) &&;

  ErrorKind kind() const { return kind_; }
  // The kind of the innermost error, which decides how the app answers
  // (Config is 400, NotFound 404) even under context words.
  ErrorKind root_kind() const { return root_kind_.value_or(kind_); }
  const std::string& message() const { return message_; }
  const std::vector<std::string>& causes() const { return causes_; }

  // "config: QDRANT_URL is empty", or the message itself for Other.
  std::string to_string() const;
  // to_string() followed by ": {cause}" for each cause.
  std::string long_form() const;
  // What the command line prints: "Error: {outermost}", then a blank line,
  // "Caused by:" and each cause indented, when there are causes.
  std::string report() const;

 private:
  ErrorKind kind_;
  std::string message_;
  std::vector<std::string> causes_;
  std::optional<ErrorKind> root_kind_;
};

template <class T>
using Result = std::expected<T, Error>;

inline std::unexpected<Error> fail(Error e) { return std::unexpected<Error>(std::move(e)); }

}  // namespace velmor::core

namespace velmor {
using core::Error;
using core::ErrorKind;
using core::fail;
using core::Result;
}  // namespace velmor

// Unwraps a Result inside a function that itself returns a Result, passing
// the error up unchanged. A GNU statement expression: GCC and Clang have it.
#define VELMOR_TRY(expr)                                          \
  ({                                                              \
    auto&& velmor_try_result_ = (expr);                           \
    if (!velmor_try_result_)                                      \
      return ::std::unexpected(std::move(velmor_try_result_).error()); \
    std::move(velmor_try_result_).value();                        \
  })

// As VELMOR_TRY, adding context words to the error on the way up.
#define VELMOR_TRY_CTX(expr, words)                                             \
  ({                                                                            \
    auto&& velmor_try_result_ = (expr);                                         \
    if (!velmor_try_result_)                                                    \
      return ::std::unexpected(std::move(velmor_try_result_).error().context(words)); \
    std::move(velmor_try_result_).value();                                      \
  })
