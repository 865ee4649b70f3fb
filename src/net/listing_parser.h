#pragma once
// Parser for the folder listings FTP servers send: MLSD facts (RFC 3659), Unix
// "ls -l" lines and Windows/IIS (DOS) lines. Pure functions, no I/O.
#include <cstdint>
#include <string_view>
#include <vector>

#include "net/listing.h"

namespace talvane::net {

// One MLSD line ("type=file;size=12;modify=20240102030405; name"). False for
// lines that name no entry (the folder itself, its parent, malformed lines).
bool ParseMlsdLine(std::string_view line, ListingEntry& out);

// One LIST line in Unix or DOS form. Times without a year are placed in the
// latest year that does not put them more than a day after `nowUtc`. Listing
// times are taken as UTC. False for "total" lines, "." and "..", and garbage.
bool ParseListLine(std::string_view line, std::int64_t nowUtc, ListingEntry& out);

// Whole listing text (CRLF or LF lines); `mlsd` selects the MLSD grammar.
// Parsing stops after `maxEntries` entries.
std::vector<ListingEntry> ParseListing(std::string_view text, bool mlsd, std::int64_t nowUtc,
                                       std::size_t maxEntries = SIZE_MAX);

// Days since 1970-01-01 of a proleptic Gregorian date.
std::int64_t DaysFromCivil(std::int64_t y, unsigned m, unsigned d);

}  // namespace talvane::net
