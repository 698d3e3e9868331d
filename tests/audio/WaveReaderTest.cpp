#include <gtest/gtest.h>

#include "audio/File.h"
#include "audio/WaveItem.h"
#include "audio/WaveReader.h"
#include "audio/WaveTestFiles.h"

namespace tonaro {
namespace {

using test::Bytes;
using test::Chunk;
using test::FmtBody;
using test::FmtFields;
using test::PcmFields;
using test::Riff;

const Bytes kFrames(400, 0x10);  // 200 mono 16-bit frames
const Bytes kFmt = Chunk("fmt ", FmtBody(PcmFields(1, 8000, 16)));

int Check(const Bytes& bytes) {
    CMemoryFile file(bytes);
    WaveFileInfo info;
    return ReadWaveFile(file, info);
}

struct RefusedCase {
    const char* name;
    Bytes file;
};

Bytes WithRiffId(const char* id) {
    Bytes file = Riff({kFmt, Chunk("data", kFrames)});
    std::copy_n(id, 4, file.begin());
    return file;
}

Bytes Truncated(Bytes file, size_t length) {
    file.resize(length);
    return file;
}

TEST(WaveCheck, RefusesMalformedFilesWithoutReadingOutside) {
    const RefusedCase cases[] = {
        {"empty", {}},
        {"shorter than the RIFF header", {'R', 'I', 'F', 'F', 4, 0, 0}},
        {"not RIFF", WithRiffId("RIFX")},
        {"zero RIFF size", Riff({kFmt, Chunk("data", kFrames)}, 0)},
        {"not WAVE", Chunk("RIFF", Bytes{'A', 'V', 'I', ' '})},
        {"no fmt", Riff({Chunk("data", kFrames)})},
        {"data before fmt only", Riff({Chunk("data", kFrames), kFmt})},
        {"no data", Riff({kFmt})},
        {"fmt shorter than the PCM fields",
         Riff({Chunk("fmt ", FmtBody(PcmFields(1, 8000, 16), 14)), Chunk("data", kFrames)})},
        {"fmt cut by the end of the file", Truncated(Riff({kFmt}), 12 + 8 + 10)},
        {"fmt size past the end", Riff({Chunk("fmt ", 0xFFFFFFFF, FmtBody(PcmFields(1, 8000, 16)))})},
        {"enormous chunk before fmt", Riff({Chunk("LIST", 0xFFFFFFF0, {1, 2, 3, 4}), kFmt, Chunk("data", kFrames)})},
        {"chunk before data past the end", Riff({kFmt, Chunk("junk", 0x7FFFFFFF, {}), Chunk("data", kFrames)})},
        {"data size past the end", Riff({kFmt, Chunk("data", 401, kFrames)})},
        {"enormous data size", Riff({kFmt, Chunk("data", 0xFFFFFFFF, kFrames)})},
        {"zero data size", Riff({kFmt, Chunk("data", 0, kFrames)})},
        {"data shorter than one block",
         Riff({Chunk("fmt ", FmtBody(PcmFields(2, 8000, 16))), Chunk("data", Bytes(3, 0))})},
        {"chunk header cut by the end", Truncated(Riff({kFmt, Chunk("data", kFrames)}), 12 + 24 + 5)},
        // No pad byte is skipped after an odd chunk, so the next identifier is read one byte early.
        {"padded odd chunk before fmt", Riff({Chunk("LIST", 3, {1, 2, 3, 0}), kFmt, Chunk("data", kFrames)})},
    };
    for (const RefusedCase& c : cases) {
        EXPECT_EQ(Check(c.file), 1) << c.name;
        CWaveItem item;
        CMemoryFile file(c.file);
        EXPECT_EQ(item.Load(file), 1) << c.name;
        EXPECT_EQ(item.GetPayloadSize(), 0u) << c.name;
    }
}

TEST(WaveCheck, RefusesFormatsOtherThanPlainPcmAtTheFourRates) {
    const FmtFields refused[] = {
        PcmFields(1, 12000, 16),    PcmFields(1, 16000, 8),
        PcmFields(1, 44100, 24),    {17, 1, 8000, 4055, 256, 4},  // IMA ADPCM
        {3, 1, 8000, 32000, 4, 32},                               // floating point
        PcmFields(3, 8000, 16),                                   // three channels
        {1, 1, 8000, 16000, 4, 16},                               // block align not channels × bits / 8
        {1, 1, 8000, 0, 2, 16},                                   // no average byte rate
    };
    for (const FmtFields& fields : refused) {
        EXPECT_EQ(Check(Riff({Chunk("fmt ", FmtBody(fields)), Chunk("data", Bytes(1200, 0))})), 1)
            << fields.tag << " " << fields.channels << " " << fields.rate << " " << fields.bits;
    }
}

TEST(WaveCheck, WalksUnknownOddAndEmptyChunksAndLongFmt) {
    WaveFileInfo info;
    // Twenty empty chunks, an unpadded odd chunk, an fmt of 40 bytes, a chunk between fmt and data,
    // and a chunk after the data.
    std::vector<Bytes> chunks(20, Chunk("empt", {}));
    chunks.push_back(Chunk("odd ", {7, 7, 7}));
    chunks.push_back(Chunk("fmt ", FmtBody(PcmFields(2, 22050, 8), 40)));
    chunks.push_back(Chunk("LIST", {1, 2, 3, 4}));
    chunks.push_back(Chunk("data", Bytes(6, 128)));
    chunks.push_back(Chunk("cue ", {0, 0}));
    CMemoryFile file(Riff(chunks));
    ASSERT_EQ(ReadWaveFile(file, info), 0);
    EXPECT_EQ(info.format, (WaveFormat{1, 2, 22050, 44100, 2, 8, 0}));
    EXPECT_EQ(info.dataSize, 6u);
    EXPECT_EQ(info.dataOffset, 12u + 20 * 8 + 11 + 48 + 12 + 8);
}

// A file whose PCM is `seconds` long at the given shape, filled with a ramp so encoding has work.
Bytes RampWave(uint16_t channels, uint32_t rate, uint16_t bits, double seconds) {
    const FmtFields fields = PcmFields(channels, rate, bits);
    Bytes samples(size_t(seconds * fields.avgBytes));
    for (size_t i = 0; i < samples.size(); ++i) samples[i] = uint8_t(i * 7);
    return test::PcmWave(fields, samples);
}

TEST(WaveLoad, KeepsAtMostSeventeenSecondsAndEncodesAtTheFileRate) {
    CWaveItem item;
    CMemoryFile file(RampWave(1, 22050, 16, 30));
    ASSERT_EQ(item.Load(file), 0);
    EXPECT_EQ(item.GetPcmSize(), 17u * 44100);
    EXPECT_EQ(item.GetPcmFormat(), (WaveFormat{1, 1, 22050, 44100, 2, 16, 0}));
    EXPECT_EQ(item.GetFileRate(), 22050u);
    EXPECT_EQ(item.GetOutputRate(), 22050u);
    EXPECT_EQ(item.GetVolume(), 0);
    EXPECT_EQ(item.IsShortened(), 0);
    // 374850 frames in blocks of 1017: 369 blocks of 512 bytes.
    EXPECT_EQ(item.GetPayloadSize(), 369u * 512);
}

TEST(WaveFit, CutsTwoSecondsOfStereoToThirtyOneBlocks) {
    CWaveItem item;
    CMemoryFile file(RampWave(2, 44100, 16, 2));
    ASSERT_EQ(item.Load(file), 0);
    EXPECT_EQ(item.GetPayloadSize(), 44u * 2048);  // 88200 frames, 2041 per block
    ASSERT_EQ(item.FitToSize(63876), 0);
    EXPECT_EQ(item.GetPayloadSize(), 63488u);
    EXPECT_EQ(item.IsShortened(), 1);
    EXPECT_EQ(item.GetPlayTime(), 1434u);  // 63488 × 1000 / 44251
    EXPECT_EQ(item.GetRecordSize(), 38u + 48 + 63488);
}

TEST(WaveFit, LeavesDataThatFitsAndRefusesTinyLimitsOrNoData) {
    CWaveItem item;
    EXPECT_EQ(item.FitToSize(63876), 8);
    CMemoryFile file(RampWave(1, 8000, 8, 0.2));
    ASSERT_EQ(item.Load(file), 0);
    EXPECT_EQ(item.GetPayloadSize(), 1024u);  // 1600 frames: 4 blocks of 256
    EXPECT_EQ(item.FitToSize(85), 4);
    EXPECT_EQ(item.FitToSize(63876), 0);
    EXPECT_EQ(item.GetPayloadSize(), 1024u);
    EXPECT_EQ(item.IsShortened(), 0);
    // 86 + 600 bytes of room: two whole blocks.
    EXPECT_EQ(item.FitToSize(686), 0);
    EXPECT_EQ(item.GetPayloadSize(), 512u);
    EXPECT_EQ(item.IsShortened(), 1);
}

TEST(WavePlayTime, IsAtLeastOneSecond) {
    CWaveItem item;
    CMemoryFile file(RampWave(1, 11025, 16, 0.2));
    ASSERT_EQ(item.Load(file), 0);
    EXPECT_EQ(item.GetPlayTime(), 1000u);
}

TEST(WavePayload, IsAFortyEightByteRiffHeaderAndTheData) {
    CWaveItem item;
    const Bytes adpcm(63744, 0x5A);
    AdpcmWaveFormat format;
    format.wave = {17, 1, 8000, 4055, 256, 4, 2};
    format.samplesPerBlock = 505;
    ASSERT_TRUE(item.SetAdpcm(format, adpcm.data(), uint32_t(adpcm.size())));
    CMemoryFile out;
    ASSERT_EQ(item.WritePayload(out), 0);
    // RIFF size 63784 = 0xF928, data size 63744 = 0xF900.
    const Bytes expected = {'R',  'I',  'F', 'F', 0x28, 0xF9, 0x00, 0x00, 'W',  'A',  'V', 'E', 'f',  'm',  't', ' ',
                            20,   0,    0,   0,   17,   0,    1,    0,    0x40, 0x1F, 0,   0,   0xD7, 0x0F, 0,   0,
                            0x00, 0x01, 4,   0,   2,    0,    0xF9, 0x01, 'd',  'a',  't', 'a', 0x00, 0xF9, 0,   0};
    ASSERT_EQ(out.Bytes().size(), 63792u);
    EXPECT_EQ(Bytes(out.Bytes().begin(), out.Bytes().begin() + 48), expected);
    EXPECT_EQ(out.Bytes()[48], 0x5A);
}

}  // namespace
}  // namespace tonaro
