#include "preview/MidiSequencer.h"

#include <algorithm>
#include <cstring>
#include <vector>

namespace tonaro {

namespace {

constexpr uint32_t kHeaderLength = 6;
constexpr uint32_t kTrackOffset = 14;
constexpr uint32_t kFirstEventOffset = 22;

uint32_t BigEndian32(const uint8_t* p) {
    return uint32_t(p[0]) << 24 | uint32_t(p[1]) << 16 | uint32_t(p[2]) << 8 | p[3];
}
uint32_t BigEndian16(const uint8_t* p) {
    return uint32_t(p[0]) << 8 | p[1];
}

// Ticks to milliseconds as MulDiv does it: 64-bit product, rounded to nearest.
int64_t TicksToMs(uint32_t ticks, uint32_t tempo, uint32_t division) {
    const uint64_t divisor = uint64_t(division) * 1000;
    return int64_t((uint64_t(ticks) * tempo + divisor / 2) / divisor);
}

}  // namespace

bool CMidiSequencer::Start(const uint8_t* data, uint32_t length) {
    data_ = data;
    length_ = data ? length : 0;
    pos_ = 0;
    framesRendered_ = 0;
    ticks_ = 0;
    nextEventMs_ = 0;
    tempo_ = 500000;
    tempoMs_ = 0;
    tempoTicks_ = 0;
    division_ = kDefaultDivision;
    runningStatus_ = 0;
    ended_ = true;
    if (length_ < kFirstEventOffset || std::memcmp(data_, "MThd", 4) != 0 || BigEndian32(data_ + 4) != kHeaderLength ||
        std::memcmp(data_ + kTrackOffset, "MTrk", 4) != 0 || BigEndian32(data_ + kTrackOffset + 4) == 0) {
        return false;
    }
    const uint32_t division = BigEndian16(data_ + 12);
    // A zero or SMPTE division is timed at 480 ticks per quarter note.
    division_ = (division == 0 || (division & 0x8000)) ? kDefaultDivision : division;
    pos_ = kFirstEventOffset;
    ended_ = false;
    if (!ReadVarLen(ticks_)) ended_ = true;
    return true;
}

uint32_t CMidiSequencer::Fill(void* buffer, uint32_t bytes) {
    if (ended_ || AtEnd()) return 0;
    uint8_t* out = static_cast<uint8_t*>(buffer);
    uint32_t frames = bytes / kBytesPerFrame;
    uint32_t done = 0;
    while (frames > 0) {
        if (!ended_ && Advance(uint32_t(framesRendered_ * 1000 / kSampleRate)) == 0) ended_ = true;
        const uint32_t n = std::min(frames, kChunkFrames);
        synth_.Render(out + done * kBytesPerFrame, n);
        framesRendered_ += n;
        done += n;
        frames -= n;
    }
    return done * kBytesPerFrame;
}

int CMidiSequencer::Advance(uint32_t nowMs) {
    while (!AtEnd()) {
        nextEventMs_ = TicksToMs(ticks_ - tempoTicks_, tempo_, division_) + tempoMs_;
        if (nextEventMs_ > int64_t(nowMs)) return 1;
        if (!PlayEvent()) return 0;
        uint32_t delta = 0;
        if (!ReadVarLen(delta)) return 0;
        ticks_ += delta;
    }
    return 0;
}

bool CMidiSequencer::PlayEvent() {
    uint8_t byte = 0;
    if (!ReadByte(byte)) return false;
    const bool statusRead = (byte & 0x80) != 0;
    if (statusRead) {
        runningStatus_ = byte;
    } else {
        --pos_;  // the byte is the first data byte under the running status
    }
    const uint8_t status = runningStatus_;
    const uint8_t type = status >= 0xF0 ? status : status & 0xF0;
    if (!(type & 0x80)) return false;  // data before any status
    switch (type) {
        case 0x80:
        case 0x90:
        case 0xA0:
        case 0xB0:
        case 0xC0:
        case 0xD0:
        case 0xE0:
            return PlayChannelMessage(status, type);
        case 0xF0:
            return PlaySystemExclusive();
        case 0xF7: {
            uint32_t n = 0;
            return ReadVarLen(n) && Skip(n);
        }
        case 0xFF:
            return PlayMeta();
        default:
            return false;  // unsupported status ends the song
    }
}

bool CMidiSequencer::PlayChannelMessage(uint8_t status, uint8_t type) {
    uint8_t message[3] = {status, 0, 0};
    const uint32_t length = (type == 0xC0 || type == 0xD0) ? 2 : 3;
    for (uint32_t i = 1; i < length; ++i)
        if (!ReadByte(message[i])) return false;
    synth_.WriteMessage(message, length);
    return true;
}

bool CMidiSequencer::PlaySystemExclusive() {
    uint32_t n = 0;
    if (!ReadVarLen(n) || n > length_ - pos_) return false;
    std::vector<uint8_t> message(size_t(n) + 1);
    message[0] = 0xF0;
    std::copy_n(data_ + pos_, n, message.begin() + 1);
    synth_.WriteMessage(message.data(), n + 1);
    return Skip(n);
}

bool CMidiSequencer::PlayMeta() {
    uint8_t type = 0;
    uint32_t n = 0;
    if (!ReadByte(type) || !ReadVarLen(n)) return false;
    if (type == 0x2F && n == 0) return false;  // End of Track
    if (type == 0x51 && n == 3) {
        if (length_ - pos_ < 3) return false;
        tempo_ = uint32_t(data_[pos_]) << 16 | uint32_t(data_[pos_ + 1]) << 8 | data_[pos_ + 2];
        tempoTicks_ = ticks_;
        tempoMs_ = nextEventMs_;
    }
    return Skip(n);
}

bool CMidiSequencer::ReadByte(uint8_t& value) {
    if (pos_ >= length_) return false;
    value = data_[pos_++];
    return true;
}

bool CMidiSequencer::ReadVarLen(uint32_t& value) {
    value = 0;
    for (int i = 0; i < 4; ++i) {
        uint8_t byte = 0;
        if (!ReadByte(byte)) return false;
        value = (value << 7) | (byte & 0x7F);
        if (!(byte & 0x80)) return true;
    }
    return true;
}

bool CMidiSequencer::Skip(uint32_t count) {
    if (count > length_ - pos_) return false;
    pos_ += count;
    return true;
}

}  // namespace tonaro
