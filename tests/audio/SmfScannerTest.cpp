#include <gtest/gtest.h>

#include "audio/SmfScanner.h"
#include "audio/SmfFixture.h"

namespace tonaro {
namespace {

using test::Bytes;

struct ScanCase {
    const char* name;
    Bytes bytes;
    int events;  // complete events before the last result
    SmfScanResult last;
};

class SmfScannerCases : public ::testing::TestWithParam<ScanCase> {};

TEST_P(SmfScannerCases, StopsWithinTheBytes) {
    const ScanCase& c = GetParam();
    // Copied into a buffer of exactly the scanned size, so the sanitizer sees any read past it.
    std::unique_ptr<uint8_t[]> bytes(new uint8_t[c.bytes.size()]);
    std::copy(c.bytes.begin(), c.bytes.end(), bytes.get());
    CSmfScanner scanner(bytes.get(), 0, uint32_t(c.bytes.size()));
    SmfEvent event;
    int events = 0;
    SmfScanResult result;
    while ((result = scanner.Next(event)) == SmfScanResult::kEvent) ++events;
    EXPECT_EQ(events, c.events);
    EXPECT_EQ(result, c.last);
}

INSTANTIATE_TEST_SUITE_P(
    Scanner, SmfScannerCases,
    ::testing::Values(
        ScanCase{"RunningStatusAndEndOfTrack", {0x00, 0x90, 0x3C, 0x40, 0x10, 0x3C, 0x00, 0x00, 0xFF, 0x2F, 0x00}, 2,
                 SmfScanResult::kEndOfTrack},
        ScanCase{"OneDataByteForProgramChange", {0x00, 0xC0, 0x05, 0x00, 0xD0, 0x10, 0x00, 0xFF, 0x2F, 0x00}, 2,
                 SmfScanResult::kEndOfTrack},
        ScanCase{"MetaOfLengthOneIsNoEnd", {0x00, 0xFF, 0x2F, 0x01, 0x00}, 1, SmfScanResult::kPastEnd},
        ScanCase{"TruncatedDelta", {0x00, 0x90, 0x3C, 0x40, 0x81}, 1, SmfScanResult::kPastEnd},
        ScanCase{"DeltaWithoutEvent", {0x00, 0x90, 0x3C, 0x40, 0x00}, 1, SmfScanResult::kPastEnd},
        ScanCase{"TruncatedChannelData", {0x00, 0x90, 0x3C}, 0, SmfScanResult::kPastEnd},
        ScanCase{"SysExLengthPastEnd", {0x00, 0xF0, 0x05, 0x7E, 0x7F}, 0, SmfScanResult::kPastEnd},
        ScanCase{"TruncatedSysExLength", {0x00, 0xF0, 0x85}, 0, SmfScanResult::kPastEnd},
        ScanCase{"MetaWithoutType", {0x00, 0xFF}, 0, SmfScanResult::kPastEnd},
        ScanCase{"HugeMetaLength", {0x00, 0xFF, 0x01, 0x8F, 0xFF, 0xFF, 0x7F, 'a'}, 0, SmfScanResult::kPastEnd},
        ScanCase{"FiveByteQuantity", {0x80, 0x80, 0x80, 0x80, 0x00, 0x90, 0x3C, 0x40}, 0, SmfScanResult::kMalformed},
        ScanCase{"UnknownStatus", {0x00, 0x90, 0x3C, 0x40, 0x00, 0xF4, 0x00}, 1, SmfScanResult::kMalformed},
        ScanCase{"DataBeforeAnyStatus", {0x00, 0x3C, 0x40}, 0, SmfScanResult::kNoStatus},
        ScanCase{"Empty", {}, 0, SmfScanResult::kPastEnd}),
    [](const auto& info) { return std::string(info.param.name); });

TEST(SmfScanner, RunningStatusAfterMetaReadsTheTypeFromTheDataByte) {
    // FF becomes the running status like any status byte: "00 2F 00" is a second meta event.
    const Bytes bytes = {0x00, 0xFF, 0x01, 0x01, 'x', 0x00, 0x2F, 0x00};
    CSmfScanner scanner(bytes.data(), 0, uint32_t(bytes.size()));
    SmfEvent event;
    ASSERT_EQ(scanner.Next(event), SmfScanResult::kEvent);
    ASSERT_EQ(scanner.Next(event), SmfScanResult::kEndOfTrack);
    EXPECT_TRUE(event.runningStatus);
    EXPECT_EQ(event.body, 6u);
    EXPECT_EQ(event.end, 8u);
}

TEST(SmfScanner, AppendQuantityWritesSevenBitGroups) {
    const std::pair<uint32_t, Bytes> cases[] = {
        {0x00, {0x00}},
        {0x7F, {0x7F}},
        {0x80, {0x81, 0x00}},
        {0x3FFF, {0xFF, 0x7F}},
        {0x0FFFFFFF, {0xFF, 0xFF, 0xFF, 0x7F}},
        {0xFFFFFFFF, {0x8F, 0xFF, 0xFF, 0xFF, 0x7F}},
    };
    for (const auto& [value, expected] : cases) {
        Bytes out;
        AppendQuantity(out, value);
        EXPECT_EQ(out, expected) << value;
    }
}

}  // namespace
}  // namespace tonaro
