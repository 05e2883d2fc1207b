#include "tru2/date_time.h"

#include <gtest/gtest.h>

#include "tru2/exception.h"

namespace {

using tru::DateTime;

TEST(DateTimeTest, SecondsAndFieldsRoundTrip)
{
    struct Case { unsigned y, mo, d, h, mi, s; long seconds; } cases[] = {
        {1970, 1, 1, 0, 0, 0, 0},
        {1972, 2, 29, 0, 0, 0, 68169600},
        {1972, 12, 31, 12, 0, 0, 94651200},
        {1973, 1, 1, 0, 0, 0, 94694400},
        {1973, 12, 31, 12, 0, 0, 126187200},
        {2000, 2, 29, 23, 59, 59, 951868799},
        {2038, 1, 1, 0, 0, 0, 2145916800},
        {2038, 1, 19, 3, 14, 7, 2147483647},
    };
    for (const auto& c : cases) {
        const DateTime fields(c.y, c.mo, c.d, c.h, c.mi, c.s);
        EXPECT_EQ(fields.AsTime_t(), c.seconds) << c.y << "-" << c.mo << "-" << c.d;
        const DateTime fromSeconds(c.seconds);
        EXPECT_EQ(fromSeconds.year, c.y);
        EXPECT_EQ(fromSeconds.month, c.mo);
        EXPECT_EQ(fromSeconds.day, c.d);
        EXPECT_EQ(fromSeconds.hour, c.h);
        EXPECT_EQ(fromSeconds.minute, c.mi);
        EXPECT_EQ(fromSeconds.second, c.s);
    }
    // The whole unsigned 32-bit range: 2100 is no leap year.
    const DateTime late(4107542400L);  // 2100-03-01
    EXPECT_EQ(late.year, 2100);
    EXPECT_EQ(late.month, 3);
    EXPECT_EQ(late.day, 1);
}

TEST(DateTimeTest, OutOfRangeFieldsThrow)
{
    for (const DateTime& t : {DateTime(1969, 12, 31, 0, 0, 0), DateTime(2039, 1, 1, 0, 0, 0),
                              DateTime(2000, 0, 1, 0, 0, 0), DateTime(2000, 13, 1, 0, 0, 0)}) {
        try {
            t.AsTime_t();
            ADD_FAILURE() << t.year << "-" << t.month;
        } catch (const tru::Exception& e) {
            EXPECT_EQ(e.GetCode(), tru::ERROR_INTERNAL);
        }
        EXPECT_THROW(t.AsTm(), tru::Exception);
    }
}

TEST(DateTimeTest, TmHttpTextAndEquality)
{
    const struct tm epoch = DateTime(1970, 1, 1, 0, 0, 0).AsTm();
    EXPECT_EQ(epoch.tm_wday, 4);
    EXPECT_EQ(epoch.tm_yday, 0);
    EXPECT_EQ(epoch.tm_year, 70);
    EXPECT_EQ(epoch.tm_mon, 0);
    const struct tm leap = DateTime(1972, 12, 31, 0, 0, 0).AsTm();
    EXPECT_EQ(leap.tm_yday, 365);
    EXPECT_EQ(leap.tm_wday, 0);  // a Sunday

    EXPECT_EQ(DateTime(1970, 1, 1, 0, 0, 0).AsHTTPTime(), "Thu, 01 Jan 1970 00:00:00 GMT");
    EXPECT_EQ(DateTime(2021, 3, 4, 5, 6, 7).AsHTTPTime(), "Thu, 04 Mar 2021 05:06:07 GMT");

    EXPECT_TRUE(DateTime(1970, 1, 32, 0, 0, 0) == DateTime(1970, 2, 1, 0, 0, 0));
    EXPECT_TRUE(DateTime(1970, 1, 1, 0, 0, 60) == DateTime(1970, 1, 1, 0, 1, 0));
    EXPECT_FALSE(DateTime(1970, 1, 1, 0, 0, 1) == DateTime(1970, 1, 1, 0, 0, 0));
    EXPECT_TRUE(DateTime(1900, 1, 1, 0, 0, 0) == DateTime(1900, 1, 1, 0, 0, 0)) << "equal fields, no conversion";
}

}  // namespace
