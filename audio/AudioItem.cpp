#include "audio/AudioItem.h"

#include <algorithm>

#include "audio/LegacyCodePage.h"

namespace tonaro {

int CAudioItem::Load(CFile& /*file*/) { return kResultOk; }

int CAudioItem::WriteRecord(CFile* file) {
    if (!file) return kResultNoInput;
    WriteRecordCode(*file);
    WriteNameBlock(*file);
    return kResultOk;
}

int CAudioItem::WritePayload(CFile& /*file*/) { return kResultOk; }

int CAudioItem::WriteRecordCode(CFile& file) {
    file.Write(recordCode_.data(), recordCode_.size());
    return 1;
}

int CAudioItem::WriteNameBlock(CFile& file) {
    const auto field = NameField();
    file.Write(&headerLength_, 1);
    file.Write(&reservedA_, 1);
    file.Write(field.data(), field.size());
    file.Write(&reservedB_, 1);
    return 1;
}

void CAudioItem::SetName(std::string_view name) {
    auto chars = EncodeLegacyChars(name, CurrentLegacyCodePage());
    size_t bytes = 0;
    for (const auto& c : chars) bytes += c.legacy.size();
    while (bytes > kNameFieldBytes) {
        bytes -= chars.back().legacy.size();
        chars.pop_back();
    }
    name_.clear();
    for (const auto& c : chars) name_ += c.utf8;
    headerLength_ = kRecordHeaderLength;
}

std::array<uint8_t, CAudioItem::kNameFieldBytes> CAudioItem::NameField() const {
    std::array<uint8_t, kNameFieldBytes> field{};
    const std::string bytes = EncodeLegacy(name_, CurrentLegacyCodePage());
    std::copy_n(bytes.begin(), std::min(bytes.size(), field.size()), field.begin());
    return field;
}

void CAudioItem::CopyRecordHeader(const CAudioItem& other) {
    recordCode_ = other.recordCode_;
    headerLength_ = other.headerLength_;
    reservedA_ = other.reservedA_;
    name_ = other.name_;
    reservedB_ = other.reservedB_;
}

}  // namespace tonaro
