#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <span>

namespace mevo {

// Reads score sequence bytes front to back, never past the end: every read that would run
// out of bytes returns nothing.
class ScoreCursor {
public:
    explicit ScoreCursor(std::span<const std::uint8_t> bytes) : bytes_(bytes) {}

    // No bytes left, or the four zero bytes that end a sequence.
    bool atEnd() const
    {
        const auto rest = bytes_.subspan(pos_);
        return rest.empty() ||
               (rest.size() >= 4 && rest[0] == 0 && rest[1] == 0 && rest[2] == 0 && rest[3] == 0);
    }

    std::optional<std::uint8_t> byte()
    {
        if (pos_ >= bytes_.size()) {
            return std::nullopt;
        }
        return bytes_[pos_++];
    }

    // A duration or gate time: b < 0x80 alone, else ((b & 0x7F) << 7) + b2 + 128.
    std::optional<std::uint32_t> time()
    {
        const auto b = byte();
        if (!b || *b < 0x80) {
            return b;
        }
        const auto b2 = byte();
        if (!b2) {
            return std::nullopt;
        }
        return ((std::uint32_t{*b} & 0x7F) << 7) + *b2 + 128;
    }

    std::optional<std::span<const std::uint8_t>> take(std::size_t n)
    {
        if (n > bytes_.size() - pos_) {
            return std::nullopt;
        }
        const auto part = bytes_.subspan(pos_, n);
        pos_ += n;
        return part;
    }

private:
    std::span<const std::uint8_t> bytes_;
    std::size_t pos_ = 0;
};

} // namespace mevo
