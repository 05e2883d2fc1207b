#include "cryptoki/names/ck_names.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <cstring>
#include <ostream>
#include <string>

namespace zrck {
namespace {

std::string Text(const CK_DATE& date) {
    return std::string(reinterpret_cast<const char*>(&date), sizeof date);
}

std::string Text(const CK_ZR_DATETIME& time) {
    return std::string(reinterpret_cast<const char*>(&time), sizeof time);
}

struct DateCase {
    const char* title;
    int year;  // tm_year
    int month; // tm_mon
    int day;
    const char* expected;
};

void PrintTo(const DateCase& c, std::ostream* os) { *os << c.title; }

const DateCase kDates[] = {
    {"year_1900_is_blank", 0, 2, 5, "        "},
    {"negative_year_is_blank", -5, 2, 5, "        "},
    {"year_1901", 1, 0, 1, "19010101"},
    {"fifth_of_march_2021", 121, 2, 5, "20210305"},
    {"december", 121, 11, 31, "20211231"},
    {"five_digit_year_cut", 8100, 0, 1, "10000101"},
};

class TmToCkDate : public ::testing::TestWithParam<DateCase> {};

TEST_P(TmToCkDate, WritesEightCharacters) {
    tm time{};
    time.tm_year = GetParam().year;
    time.tm_mon = GetParam().month;
    time.tm_mday = GetParam().day;
    CK_DATE date;
    std::memset(&date, '*', sizeof date);
    CkDate::ConvertTmToCkDate(time, date);
    EXPECT_EQ(Text(date), GetParam().expected);
}

INSTANTIATE_TEST_SUITE_P(Cases, TmToCkDate, ::testing::ValuesIn(kDates),
                         [](const auto& info) { return std::string(info.param.title); });

// Local time is the C library's: run these in UTC so the expected texts hold anywhere.
class ZrDateTime : public ::testing::Test {
protected:
    void SetUp() override {
        const char* tz = std::getenv("TZ");
        hadTz_ = tz != nullptr;
        if (hadTz_)
            oldTz_ = tz;
        setenv("TZ", "UTC", 1);
        tzset();
    }
    void TearDown() override {
        if (hadTz_)
            setenv("TZ", oldTz_.c_str(), 1);
        else
            unsetenv("TZ");
        tzset();
    }

private:
    bool hadTz_ = false;
    std::string oldTz_;
};

TEST_F(ZrDateTime, FormatsLocalTimeAsFourteenDigits) {
    EXPECT_EQ(Text(ConvertToCkZrDateTime(1614948367)), "20210305124607");
    EXPECT_EQ(Text(ConvertToCkZrDateTime(0)), "19700101000000");
    EXPECT_EQ(Text(ConvertToCkZrDateTime(253402300799)), "99991231235959");
}

TEST_F(ZrDateTime, YearBeyondFourDigitsGivesBlanks) {
    EXPECT_EQ(Text(ConvertToCkZrDateTime(253402300800)), std::string(14, ' '));
    EXPECT_EQ(Text(ConvertToCkZrDateTime(static_cast<time_t>(1) << 62)), std::string(14, ' '));
}

TEST_F(ZrDateTime, CurrentTimeLiesBetweenTwoReadings) {
    std::string before = Text(ConvertToCkZrDateTime(std::time(nullptr)));
    std::string now = Text(GetCurrentDateTimeAsZR());
    std::string after = Text(ConvertToCkZrDateTime(std::time(nullptr)));
    EXPECT_LE(before, now);
    EXPECT_LE(now, after);
}

}  // namespace
}  // namespace zrck
