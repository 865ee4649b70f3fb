#pragma once
// Entry manifests: for each entry of a package where its bytes lie and what its
// content is, so that a client that holds most entries already can fetch only
// the spans of the others and check each one before it is used. A manifest is
// bound to its package by the package's size and the hash of its central
// directory with the end records, which name every entry's place and CRC.
//
// Text, one record per line, '\n' line ends:
//   talvane-entries 1
//   package <size> <directory offset> <directory sha256> <package blake2b-512>
//   <offset> <span> <crc, 8 hex> <compressed size> <size> <content sha256> <name>
// A span runs from the entry's local header to the next entry's (or to the
// directory): header, data and descriptor. Names are UTF-8 with '%' and control
// characters written as %XX. Hashes are lower-case hex. The whole package's
// BLAKE2b-512 is what its pre-hashed minisign signature signs: with it the
// package's own signature can be checked without the package.
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "zip/zip_reader.h"

namespace talvane {

struct ManifestEntry {
    std::string name;
    std::uint64_t offset = 0;
    std::uint64_t span = 0;
    std::uint32_t crc = 0;
    std::uint64_t compressedSize = 0;
    std::uint64_t size = 0;
    std::string sha256;
};

struct EntryManifest {
    std::uint64_t packageSize = 0;
    std::uint64_t directoryOffset = 0;
    std::string directorySha256;
    std::string packageBlake2b;
    std::vector<ManifestEntry> entries;  // in central directory order
};

inline constexpr std::string_view kEntriesSuffix = ".entries";

// Reads the whole package (every entry inflated and checked); nothing and a
// reason when it cannot be read.
std::optional<EntryManifest> MakeEntryManifest(const std::string& package, std::string& problem);
std::string FormatEntryManifest(const EntryManifest& manifest);
// Nothing and a reason for text that is not a whole, consistent manifest.
std::optional<EntryManifest> ParseEntryManifest(std::string_view text, std::string& problem);

// Whether `file` (a package, or a file holding at least its directory in its
// place) has the manifest's size and directory.
bool DirectoryMatches(const EntryManifest& manifest, const std::string& file);
// Content checks for an extraction: an entry passes only when its content has
// the manifest's hash for its name.
ContentSinkFor MatchManifest(const EntryManifest& manifest);

}  // namespace talvane
