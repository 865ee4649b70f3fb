#pragma once
// The keys the launcher keeps in its settings file, each with its section, whether it is
// stored scrambled and how long it may be. Reads and writes go through to the file every
// time: the /setdefault dialog or another run may have changed it meanwhile.
#include <cstddef>
#include <optional>
#include <string>
#include <string_view>

namespace talvane {

enum class StoredKey { UserName, Password, ZipPassword, DefaultConfig, DefaultPath, PublicKey };

struct StoredKeyRule {
    const char* section;
    const char* name;
    bool scrambled;
    std::size_t maxLength;  // longest value a save takes; reads are cut to the same
};
const StoredKeyRule& RuleOf(StoredKey key);

// The value as the program uses it (unscrambled), cut to the key's length; nullopt when
// the key is absent.
std::optional<std::string> FindStored(std::string_view file, StoredKey key);
// As FindStored, with "" for an absent key.
std::string ReadStored(std::string_view file, StoredKey key);
// Stores `value` (scrambled where the key is); false when it is longer than the key takes
// or the file could not be written.
bool WriteStored(std::string_view file, StoredKey key, std::string_view value);

}  // namespace talvane
