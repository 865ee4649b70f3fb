#pragma once
// One remote folder as the FTP session lists it: its entries in server order,
// each name once whatever its letter case.
#include <chrono>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <unordered_map>
#include <vector>

namespace talvane::net {

struct ListingEntry {
    std::string name;
    std::int64_t size = 0;
    // Whole seconds (listings carry no finer time); empty when the server gave none.
    std::optional<std::chrono::sys_seconds> modified;
    bool isFolder = false;
};

class Listing {
  public:
    // Appends `entry` (its name cut at the first NUL). False, and nothing added,
    // when a name that differs at most in letter case is already there.
    bool Add(ListingEntry entry);
    // The entry named `name`, letter case ignored; nullptr when there is none.
    const ListingEntry* Find(std::string_view name) const;

    std::size_t size() const { return entries_.size(); }
    bool empty() const { return entries_.empty(); }
    auto begin() const { return entries_.begin(); }
    auto end() const { return entries_.end(); }

  private:
    std::vector<ListingEntry> entries_;
    std::unordered_map<std::string, std::size_t> positions_;  // lower-case name -> position
};

}  // namespace talvane::net
