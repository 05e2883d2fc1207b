// The driver's cache clock: stopped and moved on by tests, directly or through the environment,
// and never going back.
#include <gtest/gtest.h>

#include <cstdlib>

#include "driver/cache_clock.h"

namespace {

using qel::CacheClock;
using std::chrono::seconds;

constexpr const char* kVariable = "ZR_TEST_CACHE_CLOCK";

class CacheClockTest : public ::testing::Test {
protected:
    void TearDown() override {
        unsetenv(kVariable);
        CacheClock::FollowTestEnvironment();
        CacheClock::Thaw();
    }
};

TEST_F(CacheClockTest, AStampIsFreshUpToItsLifetimeOnAStoppedClock) {
    CacheClock::Freeze();
    const CacheClock::Stamp stamp = CacheClock::Now();
    EXPECT_FALSE(CacheClock::IsFresh(CacheClock::Stamp{}, seconds(5))) << "nothing cached";
    struct Row {
        seconds step;
        bool fresh;
    };
    const Row rows[] = {{seconds(0), true}, {seconds(5), true}, {seconds(1), false}};
    seconds age{0};
    for (const Row& row : rows) {
        CacheClock::Advance(row.step);
        age += row.step;
        EXPECT_EQ(CacheClock::Now() - stamp, age);
        EXPECT_EQ(CacheClock::IsFresh(stamp, seconds(5)), row.fresh) << age.count() << " s old";
    }
}

TEST_F(CacheClockTest, ARunningClockAgainKeepsWhatItWasMovedOn) {
    CacheClock::Freeze();
    const CacheClock::Stamp stopped = CacheClock::Now();
    CacheClock::Advance(seconds(10));
    CacheClock::Thaw();
    EXPECT_GE(CacheClock::Now() - stopped, seconds(10));
}

TEST_F(CacheClockTest, TheVariableStopsTheClockAtInitialisationAndOnlyMovesItOn) {
    CacheClock::Freeze();
    const CacheClock::Stamp stopped = CacheClock::Now();
    CacheClock::FollowTestEnvironment();
    EXPECT_EQ(CacheClock::Now(), stopped) << "without the variable a clock stopped directly stays";

    setenv(kVariable, "0", 1);
    CacheClock::FollowTestEnvironment();
    EXPECT_EQ(CacheClock::Now(), stopped);
    setenv(kVariable, "6", 1);
    EXPECT_EQ(CacheClock::Now() - stopped, seconds(6)) << "read again at each look";
    setenv(kVariable, "2", 1);
    EXPECT_EQ(CacheClock::Now() - stopped, seconds(6)) << "a lower value does not take it back";

    unsetenv(kVariable);
    CacheClock::FollowTestEnvironment();
    EXPECT_GE(CacheClock::Now() - stopped, seconds(6)) << "running again, from past the shift";
}

}  // namespace
