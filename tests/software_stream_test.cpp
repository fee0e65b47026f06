// The software stream buffer behind the Linux and simulated platforms, and the events: positions,
// notifications, the volume as a gain, locks, and waits for several events at once.
#include "audio/software_stream.h"

#include <gtest/gtest.h>

#include <cmath>
#include <vector>

#include "audio/platform.h"

namespace sidtune::platform {
namespace {

class SoftwareStreamTest : public ::testing::Test {
  protected:
    SoftwareStream s;
    Event* events[3] = {createEvent(), createEvent(), createEvent()};

    void SetUp() override {
        s.data.assign(16, 0);
        for (int i = 0; i < 8; ++i) {
            const int16_t v = int16_t(1000 * (i + 1) * (i % 2 ? -1 : 1));
            s.data[2 * i] = uint8_t(uint16_t(v));
            s.data[2 * i + 1] = uint8_t(uint16_t(v) >> 8);
        }
        const PositionNotify positions[3] = {{0, events[0]}, {8, events[1]}, {kOffsetStop, events[2]}};
        ASSERT_EQ(softwareSetNotifications(s, 3, positions), 0);
    }
    void TearDown() override {
        for (Event* e : events) closeHandle(e);
    }
    std::vector<int16_t> pullSamples(uint32_t bytes) {
        std::vector<int16_t> out(bytes / 2);
        pull(s, reinterpret_cast<uint8_t*>(out.data()), bytes);
        return out;
    }
    // Which events are signalled now (each wait resets the one it reports).
    std::vector<int> pending() {
        setEvent(events[2]);  // a marker, so that the wait never blocks
        std::vector<int> out;
        for (;;) {
            const int i = waitForAny(events, 3);
            if (i == 2) break;
            out.push_back(i);
        }
        return out;
    }
};

TEST_F(SoftwareStreamTest, SilentUntilPlayingThenLoops) {
    EXPECT_EQ(pullSamples(4), std::vector<int16_t>(2, 0));
    EXPECT_EQ(s.position, 0u);
    softwarePlay(s);
    EXPECT_EQ(pending(), std::vector<int>{0});  // starting at offset 0 reaches it at once
    EXPECT_EQ(pullSamples(6), (std::vector<int16_t>{1000, -2000, 3000}));
    EXPECT_EQ(pending(), std::vector<int>{});
    EXPECT_EQ(pullSamples(4), (std::vector<int16_t>{-4000, 5000}));  // passes the middle, at byte 8
    EXPECT_EQ(pending(), std::vector<int>{1});
    EXPECT_EQ(pullSamples(10), (std::vector<int16_t>{-6000, 7000, -8000, 1000, -2000}));  // wraps
    EXPECT_EQ(pending(), std::vector<int>{0});
    EXPECT_EQ(s.position, 4u);
}

TEST_F(SoftwareStreamTest, WaitReportsTheLowestSignalledEventAndResetsOnlyIt) {
    setEvent(events[1]);
    setEvent(events[0]);
    EXPECT_EQ(waitForAny(events, 3), 0);
    EXPECT_EQ(waitForAny(events, 3), 1);
    setEvent(events[2]);
    setEvent(events[1]);
    EXPECT_EQ(waitForAny(events, 3), 1);
    EXPECT_EQ(waitForAny(events, 3), 2);
}

TEST_F(SoftwareStreamTest, StopSignalsTheStopEvent) {
    softwarePlay(s);
    pending();
    softwareStop(s);
    EXPECT_EQ(waitForAny(events, 3), 2);
    EXPECT_EQ(pullSamples(4), std::vector<int16_t>(2, 0));
}

// The gain of a volume is 10^(volume / 2000) in 1/65536, rounded; each sample is scaled by it and
// rounded to the nearest value: -6.02 dB is a gain just above a half, so 3 gives 2 and -3 gives -2.
TEST_F(SoftwareStreamTest, VolumeIsAGainOnTheDecibelScale) {
    const int16_t samples[8] = {1, -1, 3, -3, 1000, -1000, 32767, -32768};
    for (int i = 0; i < 8; ++i) {
        s.data[2 * i] = uint8_t(uint16_t(samples[i]));
        s.data[2 * i + 1] = uint8_t(uint16_t(samples[i]) >> 8);
    }
    softwarePlay(s);
    struct Case {
        int32_t volume;
        std::vector<int16_t> heard;
    };
    const Case cases[] = {
        {0, {1, -1, 3, -3, 1000, -1000, 32767, -32768}},
        {-1, {1, -1, 3, -3, 999, -999, 32730, -32730}},
        {-602, {1, -1, 2, -2, 500, -500, 16384, -16385}},
        {-2000, {0, 0, 0, 0, 100, -100, 3277, -3277}},
        {-10000, {0, 0, 0, 0, 0, 0, 0, 0}},
    };
    for (const Case& c : cases) {
        s.volume = c.volume;
        s.position = 0;
        EXPECT_EQ(pullSamples(16), c.heard) << c.volume;
    }
}

TEST_F(SoftwareStreamTest, LocksHandOutTheRangeAndWrapIntoASecondRegion) {
    void *r1, *r2;
    uint32_t n1, n2;
    ASSERT_EQ(softwareLock(s, 8, 8, &r1, &n1, &r2, &n2, 0), 0);
    EXPECT_EQ(r1, s.data.data() + 8);
    EXPECT_EQ(n1, 8u);
    EXPECT_EQ(r2, nullptr);
    EXPECT_EQ(n2, 0u);
    ASSERT_EQ(softwareLock(s, 12, 8, &r1, &n1, &r2, &n2, 0), 0);
    EXPECT_EQ(n1, 4u);
    EXPECT_EQ(r2, s.data.data());
    EXPECT_EQ(n2, 4u);
    ASSERT_EQ(softwareLock(s, 5, 3, &r1, &n1, &r2, &n2, kLockEntireBuffer), 0);
    EXPECT_EQ(r1, s.data.data());
    EXPECT_EQ(n1, 16u);
    EXPECT_NE(softwareLock(s, 16, 2, &r1, &n1, &r2, &n2, 0), 0);
    EXPECT_NE(softwareLock(s, 0, 17, &r1, &n1, &r2, &n2, 0), 0);
}

}  // namespace
}  // namespace sidtune::platform
