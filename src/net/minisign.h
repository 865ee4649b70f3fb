#pragma once
// Signatures in minisign's format (Ed25519): a maker signs each file with the
// stock minisign tool; the launcher checks the downloaded bytes against the
// public key in its settings before it unpacks or runs anything.
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

#include "common/result.h"

namespace talvane::net {

// The plain algorithm signs the whole file at once, so checking it needs the
// file in memory; larger files must be signed pre-hashed (minisign's default).
inline constexpr long long kMaxPlainSignedFileSize = 32LL << 20;

// What the verified trusted comment says; stock minisign writes
// "timestamp:<seconds>\tfile:<name>" (and "\thashed" when pre-hashed).
struct SignedComment {
    std::string file;  // empty when the comment names no file
    std::optional<std::uint64_t> timestamp;
};

// Checks `signature` (the text of a .minisig file) for `data` with `publicKey`
// (the base64 line of a minisign .pub file). Both the plain and the pre-hashed
// algorithm are accepted; the trusted comment's global signature must hold too.
// The error message says why a signature was refused.
Result<SignedComment> VerifyMinisign(std::string_view data, std::string_view signature,
                                     std::string_view publicKey);

// As VerifyMinisign for the file at `path`, read in pieces for the pre-hashed
// algorithm so a large package is never held in memory whole; a plain signature
// of a file above kMaxPlainSignedFileSize is refused before the file is read.
Result<SignedComment> VerifyMinisignFile(const std::string& path, std::string_view signature,
                                         std::string_view publicKey);

// As VerifyMinisign for a file known only by its BLAKE2b-512 hash (64 bytes, the
// pre-hashed algorithm's input): what an entry manifest vouches for when the
// package itself never arrives whole. A plain signature cannot be checked so.
Result<SignedComment> VerifyMinisignHash(std::string_view hash, std::string_view signature,
                                         std::string_view publicKey);

// The public key line is well formed (for a clear message at start).
bool IsMinisignPublicKey(std::string_view publicKey);

}  // namespace talvane::net
