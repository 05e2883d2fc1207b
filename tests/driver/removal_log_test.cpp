#include <gtest/gtest.h>

#include "driver/removal_log.h"

namespace {

// A listing read before a removal must learn of it; one read after it, or a removal of
// another ID, must not; and what no listing can need is not kept.
TEST(RemovalLogTest, ReportsOnlyRemovalsAfterTheReadBegan) {
    qel::RemovalLog log;
    log.Note(7);  // no listing under way: nothing to keep
    {
        qel::RemovalLog::Reading early(log);
        log.Note(5);
        qel::RemovalLog::Reading late(log);
        log.Note(6);
        EXPECT_TRUE(early.Removed(5));
        EXPECT_TRUE(early.Removed(6));
        EXPECT_FALSE(early.Removed(7));
        EXPECT_FALSE(late.Removed(5));
        EXPECT_TRUE(late.Removed(6));
        EXPECT_FALSE(late.Removed(8));
    }
    qel::RemovalLog::Reading next(log);
    EXPECT_FALSE(next.Removed(5));
    EXPECT_FALSE(next.Removed(6));
}

}  // namespace
