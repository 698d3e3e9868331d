#pragma once

#include <cstdint>
#include <initializer_list>
#include <vector>

#include "audio/Endian.h"

namespace tonaro::test {

using Bytes = std::vector<uint8_t>;

// Delta 0, End of Track.
inline const Bytes kEndOfTrack = {0x00, 0xFF, 0x2F, 0x00};

// Joins byte tables into one.
inline Bytes Join(std::initializer_list<Bytes> parts) {
    Bytes out;
    for (const Bytes& part : parts) out.insert(out.end(), part.begin(), part.end());
    return out;
}

// An SMF: "MThd", length 6, format, track count, division, then each track as an "MTrk" chunk
// with its true length. `declaredTracks` overrides the count written into the header.
inline Bytes MakeSmf(uint16_t format, uint16_t division, std::initializer_list<Bytes> tracks,
                     int declaredTracks = -1) {
    Bytes out = {'M', 'T', 'h', 'd', 0, 0, 0, 6, 0, 0, 0, 0, 0, 0};
    PutBe16(&out[8], format);
    PutBe16(&out[10], uint16_t(declaredTracks >= 0 ? declaredTracks : int(tracks.size())));
    PutBe16(&out[12], division);
    for (const Bytes& track : tracks) {
        const size_t at = out.size();
        out.insert(out.end(), {'M', 'T', 'r', 'k', 0, 0, 0, 0});
        PutBe32(&out[at + 4], uint32_t(track.size()));
        out.insert(out.end(), track.begin(), track.end());
    }
    return out;
}

// The 22 bytes a format-0 file with one track of `trackLength` bytes starts with.
inline Bytes Format0Header(uint16_t division, uint32_t trackLength) {
    Bytes out = MakeSmf(0, division, {Bytes{}});
    PutBe32(&out[18], trackLength);
    return out;
}

}  // namespace tonaro::test
