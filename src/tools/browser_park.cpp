#include <algorithm>

#include "tools/browser.h"

namespace velmor::tools {

BrowserPark::BrowserPark(Clock now) : now_(std::move(now)) {}

BrowserPark& BrowserPark::global() {
  static BrowserPark park;
  return park;
}

std::vector<BrowserPark::Entry> BrowserPark::remove_locked(const std::string* key) {
  auto now = now_();
  std::vector<Entry> removed;
  auto gone = [&](const Entry& e) {
    // Exactly 1200 seconds old is still kept.
    return (key && e.key == *key) || now - e.parked_at > kExpiry;
  };
  for (auto& e : entries_)
    if (gone(e)) removed.push_back(std::move(e));
  std::erase_if(entries_, [](const Entry& e) { return !e.parked.browser; });
  return removed;
}

namespace {

// Closing can wait on a browser server: never under the park's lock.
void close_each(std::vector<std::unique_ptr<BrowserTool>> browsers) {
  for (auto& browser : browsers) browser->close();
}

template <class Entries>
std::vector<std::unique_ptr<BrowserTool>> browsers_of(Entries& entries) {
  std::vector<std::unique_ptr<BrowserTool>> out;
  for (auto& e : entries)
    if (e.parked.browser) out.push_back(std::move(e.parked.browser));
  return out;
}

}  // namespace

void BrowserPark::park(const std::string& key, std::unique_ptr<BrowserTool> browser,
                       std::optional<std::string> url) {
  if (!browser || !browser->started()) return;
  std::vector<Entry> removed;
  {
    std::lock_guard lock(mutex_);
    removed = remove_locked(&key);
    entries_.push_back(Entry{key, ParkedBrowser{std::move(browser), std::move(url)}, now_()});
  }
  close_each(browsers_of(removed));
}

std::optional<ParkedBrowser> BrowserPark::take(const std::string& key) {
  std::vector<Entry> expired;
  std::optional<ParkedBrowser> taken;
  {
    std::lock_guard lock(mutex_);
    expired = remove_locked(nullptr);
    auto it = std::find_if(entries_.begin(), entries_.end(),
                           [&](const Entry& e) { return e.key == key; });
    if (it != entries_.end()) {
      taken = std::move(it->parked);
      entries_.erase(it);
    }
  }
  close_each(browsers_of(expired));
  return taken;
}

void BrowserPark::drop(const std::string& key) {
  if (auto parked = take(key)) parked->browser->close();
}

void BrowserPark::close_all() {
  std::vector<Entry> all;
  {
    std::lock_guard lock(mutex_);
    all.swap(entries_);
  }
  close_each(browsers_of(all));
}

std::size_t BrowserPark::size() {
  std::lock_guard lock(mutex_);
  return entries_.size();
}

void park_browser(const std::string& key, std::unique_ptr<BrowserTool> browser,
                  std::optional<std::string> url) {
  BrowserPark::global().park(key, std::move(browser), std::move(url));
}

std::optional<ParkedBrowser> take_parked_browser(const std::string& key) {
  return BrowserPark::global().take(key);
}

void drop_parked_browser(const std::string& key) { BrowserPark::global().drop(key); }

void close_parked_browsers() { BrowserPark::global().close_all(); }

}  // namespace velmor::tools
