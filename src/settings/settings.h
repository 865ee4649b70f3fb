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
// reached through a symbolic link is written where the link points; a file we
// may not write (read-only) is left alone. A UTF-8 byte-order mark is kept.
// Returns false on failure; callers that carry on regardless may ignore it.
bool WriteIniValue(std::string_view file, std::string_view section, std::string_view key,
                   std::string_view value);

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
