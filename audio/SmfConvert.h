#pragma once

#include <cstdint>
#include <vector>

namespace tonaro {

class CProgressState;

// Merges the tracks of a format-1 SMF held in `bytes` into the one track of a format-0 SMF in
// `out`. Events of equal time come out ordered by channel (system and meta events count as
// channel 0), within a channel by track, within a track in file order. Reports 0-10 % while
// reading, 10-70 % while merging and 70-100 % while writing, of the current progress range; the
// last step of the merge, joining the channels, runs together with the writing.
// Result code: 0, 1 malformed header or chunk, 8 malformed event, 6 cancelled, 3 out of memory.
int ConvertToFormat0(const uint8_t* bytes, uint32_t size, std::vector<uint8_t>& out, CProgressState& progress);

}  // namespace tonaro
