#include "palm/InstallNamer.h"

#include <algorithm>
#include <cstdio>

namespace tonaro {

namespace {

// Upper-case letters of Windows-1252 beyond ASCII and their lower-case partners (code points).
struct CaseRange {
    char32_t first;
    char32_t last;
    char32_t offset;
};
constexpr CaseRange kCaseRanges[] = {
    {U'A', U'Z', 0x20},
    {U'\u00C0', U'\u00D6', 0x20},
    {U'\u00D8', U'\u00DE', 0x20},
    {U'\u0152', U'\u0152', 1},
    {U'\u0160', U'\u0160', 1},
    {U'\u017D', U'\u017D', 1},
    {U'\u0178', U'\u0178', U'\u00FF' - U'\u0178'},
};

char32_t LowerCase(char32_t c) {
    for (const CaseRange& range : kCaseRanges)
        if (c >= range.first && c <= range.last) return c + range.offset;
    return c;
}

// Length of the UTF-8 sequence that starts with `lead`; 1 for a stray byte.
size_t SequenceLength(unsigned char lead) {
    if (lead >= 0xF0) return 4;
    if (lead >= 0xE0) return 3;
    if (lead >= 0xC0) return 2;
    return 1;
}

}  // namespace

std::string LowerCaseName(std::string_view utf8) {
    std::string out;
    out.reserve(utf8.size());
    for (size_t i = 0; i < utf8.size();) {
        const auto lead = static_cast<unsigned char>(utf8[i]);
        const size_t length = std::min(SequenceLength(lead), utf8.size() - i);
        // Every letter with a case here takes one or two bytes in UTF-8, and so does its partner;
        // a stray or cut byte is copied as it is.
        char32_t c = 0x80;
        if (length == 1 && lead < 0x80) c = lead;
        if (length == 2) c = char32_t(lead & 0x1F) << 6 | (static_cast<unsigned char>(utf8[i + 1]) & 0x3F);
        const char32_t lower = LowerCase(c);
        if (lower == c) {
            out.append(utf8.substr(i, length));
        } else if (lower < 0x80) {
            out += char(lower);
        } else {
            out += char(0xC0 | (lower >> 6));
            out += char(0x80 | (lower & 0x3F));
        }
        i += length;
    }
    return out;
}

void CInstallNamer::Count(std::string_view name) {
    const std::string key = LowerCaseName(name);
    ++counts_[key];
    nextSuffix_.try_emplace(key, 1);
}

bool CInstallNamer::Take(std::string_view fileName, std::string_view extension) {
    return taken_.insert(LowerCaseName(std::string(fileName) + std::string(extension))).second;
}

std::optional<std::string> CInstallNamer::NextFileName(std::string_view name, std::string_view extension) {
    const std::string key = LowerCaseName(name);
    uint32_t& suffix = nextSuffix_.try_emplace(key, 1).first->second;
    if (suffix >= kSuffixLimit) return std::nullopt;
    const auto count = counts_.find(key);
    if ((count == counts_.end() || count->second < 2) && Take(name, extension)) return std::string(name);
    while (suffix < kSuffixLimit) {
        char number[8];
        std::snprintf(number, sizeof number, "-%03u", unsigned(suffix++));
        std::string fileName = std::string(name) + number;
        if (Take(fileName, extension)) return fileName;
    }
    return std::nullopt;
}

}  // namespace tonaro
