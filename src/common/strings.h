#pragma once
// Pure string helpers of the shared module (no disk access).
#include <string>
#include <string_view>

namespace talvane {

std::string StripPath(std::string_view sFullPathAndFileName);  // after last '\' or '/'
std::string Strip(std::string_view psLine, std::string_view psRemoveStr);
// The file a URL names: its last path part without query or fragment, its %XX
// escapes decoded. A name that would decode to a control character or a path
// separator stays as written.
std::string UrlFileName(std::string_view url);
std::string StripEndOfString(std::string_view sOriginalString, std::string_view sDelimiter,
                             bool bUseFirstDelimiter = false, bool bTrimLeading = false,
                             bool bTrimTrailing = false);
std::string StripBeginningOfString(std::string_view sOriginalString, std::string_view sDelimiter,
                                   bool bUseFirstDelimiter = false, bool bTrimLeading = false,
                                   bool bTrimTrailing = false);
std::string StripTrailingCharacters(std::string_view sOriginalString,
                                    std::string_view sTrailingCharacter);
std::string StripPreceedingCharacters(std::string_view sOriginalString,
                                      std::string_view sCharacter);

// Weighted key: a*100000 + b*1000 + c*10; fewer than 3 parts, a non-number or
// an overflow gives 0. True when candidate's key > current's.
long VersionKey(std::string_view version);
bool IsNewerVersion(std::string_view current, std::string_view candidate);
// "Talvane   v2.3.4 " (revision only when > 0). Stage/extra are appended as given.
std::string VersionLabel(std::string_view stage = {}, std::string_view extra = {});
// "2.3.4"
std::string ProgramVersionText();

std::string ToLower(std::string_view s);
// Text from servers and archives made safe for a terminal or a log: control
// characters (escape sequences included, C1 controls in UTF-8 too) become
// "\xNN"; tabs stay, and line breaks stay when `keepLineBreaks`.
std::string EscapeControls(std::string_view text, bool keepLineBreaks);
bool EqualsNoCase(std::string_view a, std::string_view b);
bool ContainsNoCase(std::string_view haystack, std::string_view needle);
std::string Trim(std::string_view s);  // blanks and tabs at both ends
// Windows wildcard match ('*', '?'), case-insensitive; "*.*" matches every name.
bool WildcardMatch(std::string_view pattern, std::string_view name);

}  // namespace talvane
