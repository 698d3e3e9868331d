#include "audio/LegacyCodePage.h"

#include <iconv.h>

#include <atomic>
#include <cstdlib>
#include <optional>

namespace tonaro {

namespace {

std::atomic<int> g_selected{-1};

const char* IconvName(LegacyCodePage codePage) {
    return codePage == LegacyCodePage::ShiftJis ? "CP932" : "CP1252";
}

LegacyCodePage FromLocale() {
    for (const char* variable : {"LC_ALL", "LC_CTYPE", "LANG"}) {
        const char* value = std::getenv(variable);
        if (value && *value) return std::string_view(value).starts_with("ja") ? LegacyCodePage::ShiftJis
                                                                             : LegacyCodePage::Windows1252;
    }
    return LegacyCodePage::Windows1252;
}

// Converts `input` whole; nullopt when iconv refuses any part of it.
class CIconv {
public:
    CIconv(const char* to, const char* from) : handle_(iconv_open(to, from)) {}
    ~CIconv() {
        if (handle_ != iconv_t(-1)) iconv_close(handle_);
    }
    CIconv(const CIconv&) = delete;
    CIconv& operator=(const CIconv&) = delete;

    std::optional<std::string> Convert(std::string_view input) {
        if (handle_ == iconv_t(-1)) return std::nullopt;
        iconv(handle_, nullptr, nullptr, nullptr, nullptr);
        std::string out(input.size() * 4 + 8, '\0');
        char* in = const_cast<char*>(input.data());
        size_t inLeft = input.size();
        char* outPtr = out.data();
        size_t outLeft = out.size();
        if (iconv(handle_, &in, &inLeft, &outPtr, &outLeft) == size_t(-1) || inLeft != 0) return std::nullopt;
        if (iconv(handle_, nullptr, nullptr, &outPtr, &outLeft) == size_t(-1)) return std::nullopt;
        out.resize(out.size() - outLeft);
        return out;
    }

private:
    iconv_t handle_;
};

// Length of the UTF-8 sequence that starts at `text[0]`, or 0 when it is not a valid one.
size_t Utf8SequenceLength(std::string_view text) {
    const auto lead = static_cast<unsigned char>(text[0]);
    const size_t length = lead < 0x80 ? 1 : (lead >> 5) == 0x6 ? 2 : (lead >> 4) == 0xE ? 3 : (lead >> 3) == 0x1E ? 4 : 0;
    if (length == 0 || length > text.size()) return 0;
    for (size_t i = 1; i < length; ++i)
        if ((static_cast<unsigned char>(text[i]) & 0xC0) != 0x80) return 0;
    return length;
}

}  // namespace

LegacyCodePage CurrentLegacyCodePage() {
    const int selected = g_selected.load();
    return selected < 0 ? FromLocale() : LegacyCodePage(selected);
}

void SelectLegacyCodePage(LegacyCodePage codePage) { g_selected.store(int(codePage)); }

std::vector<LegacyChar> EncodeLegacyChars(std::string_view utf8, LegacyCodePage codePage) {
    CIconv converter(IconvName(codePage), "UTF-8");
    std::vector<LegacyChar> chars;
    while (!utf8.empty()) {
        const size_t length = Utf8SequenceLength(utf8);
        const std::string_view piece = utf8.substr(0, length ? length : 1);
        const auto legacy = length ? converter.Convert(piece) : std::nullopt;
        chars.push_back({piece, legacy && !legacy->empty() ? *legacy : std::string("?")});
        utf8.remove_prefix(piece.size());
    }
    return chars;
}

std::string EncodeLegacy(std::string_view utf8, LegacyCodePage codePage) {
    std::string bytes;
    for (const auto& c : EncodeLegacyChars(utf8, codePage)) bytes += c.legacy;
    return bytes;
}

std::string DecodeLegacy(std::string_view legacy, LegacyCodePage codePage) {
    CIconv converter("UTF-8", IconvName(codePage));
    std::string text;
    while (!legacy.empty()) {
        // A lead byte of Shift_JIS takes its trail byte with it.
        size_t length = 1;
        const auto lead = static_cast<unsigned char>(legacy[0]);
        if (codePage == LegacyCodePage::ShiftJis && legacy.size() >= 2 &&
            ((lead >= 0x81 && lead <= 0x9F) || (lead >= 0xE0 && lead <= 0xFC)))
            length = 2;
        const auto decoded = converter.Convert(legacy.substr(0, length));
        text += decoded ? *decoded : std::string("?");
        legacy.remove_prefix(length);
    }
    return text;
}

}  // namespace tonaro
