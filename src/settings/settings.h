#pragma once
// The settings file (INI) and the scrambling of stored passwords.
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace talvane {

struct Session;

inline constexpr const char* kScrambleKey = "5203718";
// Values read back are cut to this many characters.
inline constexpr std::size_t kIniValueLimit = 254;

// What the launcher stores stays far below the size above which the file is not
// read at all, so that no save of ours makes the settings unreadable.
// Names that are read back whole: the user name, a set name, the tool folder.
inline constexpr std::size_t kMaxNameLength = kIniValueLimit;
// A typed password or zip password.
inline constexpr std::size_t kMaxSecretLength = 1024;
// Any value WriteIniValue takes, a scrambled secret included.
inline constexpr std::size_t kMaxValueLength = 2048;
static_assert((kMaxSecretLength + 2) / 4 * 5 + 5 + 2 <= kMaxValueLength,
              "a scrambled secret of the longest kind must be storable");

// Case-insensitive sections and keys; at most 254 characters; blanks trimmed;
// a leading UTF-8 byte-order mark ignored; anything missing reads as "".
std::string ReadIniValue(std::string_view file, std::string_view section, std::string_view key);
// As ReadIniValue, but tells an absent key (nullopt) from an empty value.
// `maxLength` cuts the value (254 by default, as ReadIniValue does).
std::optional<std::string> FindIniValue(std::string_view file, std::string_view section,
                                        std::string_view key,
                                        std::size_t maxLength = kIniValueLimit);
// Creates file/section/key as needed, edits in place keeping every other line,
// writes atomically (temporary file + rename), new files get mode 0600. A file
// reached through a symbolic link is written where the link points, but only
// when the link and its target (a regular file) belong to the running user; any
// other file we do not own, or may not write (read-only), is left alone, since
// the rewritten file would belong to us. A value longer than kMaxValueLength, or
// one that would grow the file past what is read, is refused. A UTF-8 byte-order
// mark is kept. Returns false on failure; callers that carry on regardless may ignore it.
bool WriteIniValue(std::string_view file, std::string_view section, std::string_view key,
                   std::string_view value);

// Why the settings file, which is there, cannot be read: too large, not a regular
// file (a link to nothing included), no permission. Nothing when it can be read or
// when there is none at all (the first start).
std::optional<std::string> SettingsFileProblem(std::string_view file);

// Ascii85 codec over bytes (stride: read every s-th input byte).
bool Ascii85Encode(const std::vector<std::uint8_t>& bytes, std::vector<std::uint8_t>& out,
                   bool withDelimiters, int stride = 1);
bool Ascii85Decode(const std::vector<std::uint8_t>& bytes, std::vector<std::uint8_t>& out,
                   int stride = 1);
void EmitAscii85Group(std::uint32_t word, std::vector<std::uint8_t>& out, std::size_t& position,
                      bool partial);
std::string Ascii85EncodeString(std::string_view text, bool withDelimiters = false);

std::string ScrambleString(std::string_view plain, std::string_view key = kScrambleKey);
// Text that is not valid scrambled text unscrambles to "".
std::string UnscrambleString(std::string_view stored, std::string_view key = kScrambleKey);

// Fills the session's credentials and public key; true only when the three
// credentials are non-empty.
bool LoadSettings(Session& session);

}  // namespace talvane
