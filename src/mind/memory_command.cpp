#include <fmt/format.h>

#include <ostream>

#include "mind/mind.h"

namespace velmor::mind {

Result<void> memory_command(const Config&, const std::optional<std::string>& forget,
                            std::ostream& out) {
  Mind mind = Mind::open_default();
  if (forget) {
    if (*forget == "all") {
      VELMOR_TRY(mind.forget_all());
      out << "forgot everything in " << mind.dir().string() << "\n";
      return {};
    }
    if (!VELMOR_TRY(mind.forget(*forget)))
      return fail(Error::other("no memory or procedure with id " + *forget));
    out << "forgot " << *forget << "\n";
    return {};
  }

  out << mind.dir().string() << "\n";
  auto memories = mind.memories();
  out << "\n" << memories.size() << " memories\n";
  for (const auto& m : memories)
    out << fmt::format("  {}  [{}] {}  (confidence {:.2f}, used {})\n", m.id, m.kind, m.text,
                       m.confidence, m.uses);
  auto procedures = read_list<Procedure>(mind.procedures_file());
  out << "\n" << procedures.size() << " procedures\n";
  for (const auto& p : procedures) {
    out << fmt::format("  {}  {}  (worked {}, failed {})\n", p.id, p.title, p.successes,
                       p.failures);
    out << "      when: " << p.when << "\n";
    for (std::size_t i = 0; i < p.steps.size(); ++i)
      out << "      " << i + 1 << ". " << p.steps[i] << "\n";
  }
  return {};
}

}  // namespace velmor::mind
