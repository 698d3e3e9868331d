#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <unordered_map>
#include <unordered_set>

namespace tonaro {

// Lower-cases an entry name (UTF-8) as the installation compares names: the letters of ASCII and
// of the Windows-1252 code page; other characters are kept.
std::string LowerCaseName(std::string_view utf8);

// Chooses the file names of one installation run. Entries whose names differ only in letter case
// share one name: they get the suffixes -001, -002, ... in list order, each keeping its own
// letters. A file name is never handed out twice in a run, so no entry overwrites another's file.
class CInstallNamer {
public:
    static constexpr uint32_t kSuffixLimit = 1000;

    // First pass: called once for every checked entry.
    void Count(std::string_view name);
    // The file name, without extension, for the next entry called `name` that is written with
    // `extension`; nothing when the suffixes up to 999 are used up.
    std::optional<std::string> NextFileName(std::string_view name, std::string_view extension);

private:
    bool Take(std::string_view fileName, std::string_view extension);

    std::unordered_map<std::string, uint32_t> counts_;
    std::unordered_map<std::string, uint32_t> nextSuffix_;
    std::unordered_set<std::string> taken_;  // lower-cased file names, extension included
};

}  // namespace tonaro
