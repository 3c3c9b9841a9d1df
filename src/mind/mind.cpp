#include "mind/mind.h"

#include <algorithm>

namespace velmor::mind {
namespace {

// Removes every item with `id` and writes the list back; false when none
// had it (nothing is written then). The caller holds MIND_LOCK.
template <class T>
Result<bool> remove_by_id(const std::filesystem::path& file, std::string_view id) {
  auto items = read_list<T>(file);
  auto removed = std::erase_if(items, [&](const T& item) { return item.id == id; });
  if (removed == 0) return false;
  VELMOR_TRY(write_list(file, items));
  return true;
}

}  // namespace

Mind Mind::open_default() { return Mind(Config::home_dir() / "memory"); }

std::vector<Memory> Mind::memories() const { return read_list<Memory>(memories_file()); }

std::vector<JournalEntry> Mind::journal() const { return read_list<JournalEntry>(journal_file()); }

Result<bool> Mind::forget(std::string_view id) const {
  std::lock_guard hold(MIND_LOCK);
  if (VELMOR_TRY(remove_by_id<Memory>(memories_file(), id))) return true;
  return remove_by_id<Procedure>(procedures_file(), id);
}

Result<bool> Mind::journal_forget(std::string_view id) const {
  std::lock_guard hold(MIND_LOCK);
  return remove_by_id<JournalEntry>(journal_file(), id);
}

Result<void> Mind::forget_all() const {
  std::lock_guard hold(MIND_LOCK);
  VELMOR_TRY(write_list(memories_file(), std::vector<Memory>{}));
  VELMOR_TRY(write_list(procedures_file(), std::vector<Procedure>{}));
  return write_list(journal_file(), std::vector<JournalEntry>{});
}

}  // namespace velmor::mind
