#pragma once

#include <string>
#include <string_view>
#include <vector>

namespace tonaro {

// The byte encoding that entry names are measured, cut and written in: Shift_JIS as Windows
// extends it for a Japanese locale, Windows-1252 otherwise.
enum class LegacyCodePage { Windows1252, ShiftJis };

// One character of a UTF-8 text and its bytes in a legacy code page.
struct LegacyChar {
    std::string_view utf8;
    std::string legacy;  // "?" when the code page lacks the character
};

// The code page chosen from the locale (LC_ALL, LC_CTYPE, LANG) unless one was selected.
LegacyCodePage CurrentLegacyCodePage();
void SelectLegacyCodePage(LegacyCodePage codePage);

// Splits UTF-8 text into characters with their legacy bytes; an invalid UTF-8 byte is one "?".
std::vector<LegacyChar> EncodeLegacyChars(std::string_view utf8, LegacyCodePage codePage);
std::string EncodeLegacy(std::string_view utf8, LegacyCodePage codePage);
// Legacy bytes back to UTF-8; undecodable bytes become "?".
std::string DecodeLegacy(std::string_view legacy, LegacyCodePage codePage);

}  // namespace tonaro
