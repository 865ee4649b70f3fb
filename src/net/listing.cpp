#include "net/listing.h"

#include <utility>

#include "common/strings.h"

namespace talvane::net {

bool Listing::Add(ListingEntry entry) {
    if (const auto nul = entry.name.find('\0'); nul != std::string::npos) entry.name.resize(nul);
    std::string key = ToLower(entry.name);
    if (positions_.count(key)) return false;
    entries_.push_back(std::move(entry));
    positions_.emplace(std::move(key), entries_.size() - 1);
    return true;
}

const ListingEntry* Listing::Find(std::string_view name) const {
    const auto it = positions_.find(ToLower(name));
    return it == positions_.end() ? nullptr : &entries_[it->second];
}

}  // namespace talvane::net
