#include "settings/stored_settings.h"

#include <array>

#include "common/names.h"
#include "settings/settings.h"

namespace talvane {
namespace {

using names::kSettingsSection;

// Scrambled values are read whole: cut at the usual length, a long password would come back
// as garbage. Names are read back cut, as the settings file has always been read.
constexpr std::array<StoredKeyRule, 6> kRules = {{
    {kSettingsSection, "UserName", false, kMaxNameLength},
    {kSettingsSection, "Password", true, kMaxSecretLength},
    {kSettingsSection, "ZipPassword", true, kMaxSecretLength},
    {kSettingsSection, "DefaultConfig", false, kMaxNameLength},
    {kSettingsSection, "DefaultPath", false, kMaxNameLength},
    {"Security", "PublicKey", false, kIniValueLimit},
}};

}  // namespace

const StoredKeyRule& RuleOf(StoredKey key) {
    return kRules.at(static_cast<std::size_t>(key));
}

std::optional<std::string> FindStored(std::string_view file, StoredKey key) {
    const StoredKeyRule& rule = RuleOf(key);
    auto value = FindIniValue(file, rule.section, rule.name,
                              rule.scrambled ? std::string::npos : rule.maxLength);
    if (value && rule.scrambled && !value->empty()) *value = UnscrambleString(*value);
    return value;
}

std::string ReadStored(std::string_view file, StoredKey key) {
    return FindStored(file, key).value_or(std::string());
}

bool WriteStored(std::string_view file, StoredKey key, std::string_view value) {
    const StoredKeyRule& rule = RuleOf(key);
    if (value.size() > rule.maxLength) return false;
    return WriteIniValue(file, rule.section, rule.name,
                         rule.scrambled ? ScrambleString(value) : std::string(value));
}

}  // namespace talvane
