#include <gtest/gtest.h>

#include "audio/ByteBlock.h"
#include "audio/WaveItem.h"
#include "audio/WaveTestFiles.h"

namespace tonaro {
namespace {

using test::Bytes;

// Refuses every allocation above 1000 bytes while installed.
class ScopedSmallMemory {
public:
    ScopedSmallMemory() {
        CByteBlock::SetAllocationGate([](size_t size) { return size <= 1000; });
    }
    ~ScopedSmallMemory() { CByteBlock::SetAllocationGate(nullptr); }
};

TEST(WaveMemory, FailedAllocationsKeepWhatTheItemHad) {
    CWaveItem item;
    const Bytes pcm(4000, 0x22);  // 2000 frames of 16-bit mono at 11025 Hz
    ASSERT_TRUE(item.SetPcm({1, 1, 11025, 22050, 2, 16, 0}, pcm.data(), uint32_t(pcm.size())));
    ASSERT_TRUE(item.EncodeAdpcm());
    ASSERT_EQ(item.GetPayloadSize(), 1024u);
    {
        ScopedSmallMemory gate;
        EXPECT_EQ(item.ConvertPcm(8000, 0, 16), 3);
        EXPECT_FALSE(item.EncodeAdpcm());
        EXPECT_FALSE(item.DecodeAdpcm());
    }
    EXPECT_EQ(item.GetPcmSize(), 4000u);
    EXPECT_EQ(item.GetPcmFormat().samplesPerSec, 11025u);
    EXPECT_EQ(item.GetPayloadSize(), 1024u);
    EXPECT_EQ(item.GetOutputRate(), 11025u);
}

TEST(WaveMemory, LoadRefusesWhenThePcmCannotBeHeld) {
    ScopedSmallMemory gate;
    CWaveItem item;
    CMemoryFile file(test::PcmWave(test::PcmFields(1, 8000, 16), Bytes(2000, 0)));
    EXPECT_EQ(item.Load(file), 1);
    EXPECT_EQ(item.GetPcmSize(), 0u);
}

}  // namespace
}  // namespace tonaro
