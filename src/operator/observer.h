// The progress interface of a running job. Whoever starts a job (the
// console runs, a session) watches it through one Observer: the job reports
// every action, screenshot, note and page address, and asks before every
// step whether to stop and whether the person added anything.
#pragma once

#include <optional>
#include <string>

namespace velmor::op {

// One object per message, shared with the operator for the whole run.
// Every operation may be called from any thread (the built-in coder sends
// notes from its own); implementations with state guard it themselves.
// No operation reports a failure, and none may block: should_stop and
// take_steer answer from state already held.
class Observer {
 public:
  virtual ~Observer() = default;
  // One action of the job, or an event for the person's action log.
  virtual void action(const std::string& mode, const std::string& text, const std::string& tool,
                      const std::optional<std::string>& detail) = 0;
  // A new screenshot: MIME type and standard Base64 data.
  virtual void screen(const std::string& mode, const std::string& mime, const std::string& data) = 0;
  // A remark in plain words ("recall", "site", "coder", …).
  virtual void note(const std::string& source, const std::string& text) = 0;
  // The address the browser is now on.
  virtual void location(const std::string& url) = 0;
  // True when the job must stop before its next step.
  virtual bool should_stop() = 0;
  // What the person added while the job ran, handed over once.
  virtual std::optional<std::string> take_steer() = 0;
};

// Ignores everything; never stops, never steers.
class Quiet final : public Observer {
 public:
  void action(const std::string&, const std::string&, const std::string&,
              const std::optional<std::string>&) override {}
  void screen(const std::string&, const std::string&, const std::string&) override {}
  void note(const std::string&, const std::string&) override {}
  void location(const std::string&) override {}
  bool should_stop() override { return false; }
  std::optional<std::string> take_steer() override { return std::nullopt; }
};

}  // namespace velmor::op
