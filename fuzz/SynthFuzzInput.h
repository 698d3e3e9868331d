#pragma once

#include <cstddef>
#include <cstdint>
#include <span>

namespace fuzzinput {

// Steps of a synthesizer input: each is an operation byte, a length byte and that many bytes
// (fewer at the end of the input). The seed maker writes the same layout.
enum class Op : std::uint8_t { kMessage = 0, kRender = 1, kStartStop = 2, kWave = 3 };

struct Step {
    Op op;
    std::uint8_t argument;
    std::span<const std::uint8_t> bytes;
};

class StepReader {
public:
    explicit StepReader(std::span<const std::uint8_t> data) : data_(data) {}

    bool next(Step& step) {
        if (data_.size() < 2) return false;
        step.op = static_cast<Op>(data_[0] & 3);
        step.argument = data_[0] >> 2;
        const std::size_t length = data_[1] < data_.size() - 2 ? data_[1] : data_.size() - 2;
        step.bytes = data_.subspan(2, length);
        data_ = data_.subspan(2 + length);
        return true;
    }

private:
    std::span<const std::uint8_t> data_;
};

}  // namespace fuzzinput
