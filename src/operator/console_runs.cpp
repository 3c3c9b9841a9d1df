// The console runs `velmor ask` and `velmor run`, their observer and the
// printing of a report.
#include <fmt/format.h>

#include "core/console.h"
#include "operator/operator.h"

namespace velmor::op {

namespace {

struct OutcomeText {
  std::string operator()(const Done& d) const { return d.answer; }
  std::string operator()(const Stopped& s) const { return "Paused. " + s.summary; }
  std::string operator()(const StepLimit& s) const { return "Paused. " + s.summary; }
  std::string operator()(const NeedsPerson& n) const { return "[" + n.kind + "] " + n.question; }
};

}  // namespace

void Printer::action(const std::string& mode, const std::string& text, const std::string& tool,
                     const std::optional<std::string>& detail) {
  if (detail)
    core::print_err(fmt::format("[{}] {} {}  \u2014 {}\n", mode, tool, *detail, text));
  else
    core::print_err(fmt::format("[{}] {}  \u2014 {}\n", mode, tool, text));
}

void Printer::location(const std::string& url) { core::print_err("[page] " + url + "\n"); }

void print_report(const RunReport& report) {
  core::print_out(std::visit(OutcomeText{}, report.outcome) + "\n");
  core::print_err(fmt::format("\nmode={} steps={} tokens in={} out={}{}\n", report.mode, report.steps,
                              report.tokens.input_tokens, report.tokens.output_tokens,
                              report.tokens.estimated ? " (estimated)" : ""));
  for (const auto& text : report.remembered) core::print_err("remembered: " + text + "\n");
}

Result<int> run_ask(const Config& config, const std::string& message) {
  RunOptions options;
  options.observer = std::make_shared<Quiet>();
  auto report = VELMOR_TRY_CTX(Agent::handle_with(config, message, "", options, std::nullopt),
                               "handling message");
  print_report(report);
  return 0;
}

Result<int> run_job(const Config& config, const std::string& task) {
  auto printer = std::make_shared<Printer>();
  auto op = VELMOR_TRY_CTX(Operator::create(config, printer), "running job");
  RunOptions options;
  options.observer = printer;
  options.resumed = true;
  auto report = VELMOR_TRY_CTX(op.handle(task, "", options, std::nullopt), "running job");
  print_report(report);
  return 0;
}

}  // namespace velmor::op
