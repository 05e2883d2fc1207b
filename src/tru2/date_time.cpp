#include "tru2/date_time.h"

#include "tru2/exception.h"

namespace tru {

namespace {

constexpr uint32_t kSecondsPerDay = 86400;

bool IsLeap(uint32_t year) { return (year % 4 == 0 && year % 100 != 0) || year % 400 == 0; }

uint32_t DaysInMonth(uint32_t year, uint32_t month)  // month 1..12
{
    return DateTime::ciDaysInMonth[month - 1] + (month == 2 && IsLeap(year) ? 1 : 0);
}

// Days from 1970-01-01 to the first day of the month (year 1970..2038, month 1..12).
uint32_t DaysBefore(uint32_t year, uint32_t month)
{
    const uint32_t leapDays = year <= 1972 ? 0 : (year - 1973) / 4 + 1;
    uint32_t days = (year - 1970) * 365 + leapDays;
    for (uint32_t m = 1; m < month; ++m)
        days += DaysInMonth(year, m);
    return days;
}

void CheckConvertible(const DateTime& t)
{
    if (t.year < 1970 || t.year > 2038 || t.month < 1 || t.month > 12)
        throw Exception(ERROR_INTERNAL);
}

}  // namespace

const uint16_t DateTime::ciDaysInMonth[12] = {31, 28, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};

DateTime::DateTime(unsigned int y, unsigned int mo, unsigned int d, unsigned int h, unsigned int mi, unsigned int s)
    : year(static_cast<uint16_t>(y)), month(static_cast<uint16_t>(mo)), day(static_cast<uint16_t>(d)),
      hour(static_cast<uint16_t>(h)), minute(static_cast<uint16_t>(mi)), second(static_cast<uint16_t>(s))
{
}

DateTime::DateTime(long seconds) : year(1970), month(1), day(1), hour(0), minute(0), second(0) { Set(seconds); }

void DateTime::Set(long seconds)
{
    const uint32_t total = static_cast<uint32_t>(seconds);
    uint32_t days = total / kSecondsPerDay;
    const uint32_t rest = total % kSecondsPerDay;
    hour = static_cast<uint16_t>(rest / 3600);
    minute = static_cast<uint16_t>(rest % 3600 / 60);
    second = static_cast<uint16_t>(rest % 60);

    uint32_t y = 1970;
    for (uint32_t length; days >= (length = IsLeap(y) ? 366 : 365); ++y)
        days -= length;
    uint32_t m = 1;
    for (uint32_t length; days >= (length = DaysInMonth(y, m)); ++m)
        days -= length;
    year = static_cast<uint16_t>(y);
    month = static_cast<uint16_t>(m);
    day = static_cast<uint16_t>(days + 1);
}

long DateTime::AsTime_t() const
{
    CheckConvertible(*this);
    const uint32_t seconds = DaysBefore(year, month) * kSecondsPerDay + (uint32_t(day) - 1) * kSecondsPerDay +
                             uint32_t(hour) * 3600 + uint32_t(minute) * 60 + second;
    return static_cast<long>(seconds);
}

struct tm DateTime::AsTm() const
{
    const long seconds = AsTime_t();
    struct tm out {};
    out.tm_sec = second;
    out.tm_min = minute;
    out.tm_hour = hour;
    out.tm_mday = day;
    out.tm_mon = month - 1;
    out.tm_year = year - 1900;
    out.tm_wday = static_cast<int>((seconds / kSecondsPerDay + 4) % 7);  // 1970-01-01 was a Thursday
    out.tm_yday = static_cast<int>(DaysBefore(year, month) - DaysBefore(year, 1) + day - 1);
    out.tm_isdst = 0;
    return out;
}

std::string DateTime::AsHTTPTime() const
{
    const struct tm t = AsTm();
    char text[50];
    const size_t n = strftime(text, sizeof text, "%a, %d %b %Y %H:%M:%S GMT", &t);
    if (n == 0)
        throw Exception(ERROR_INTERNAL);
    return std::string(text, n);
}

bool DateTime::operator==(const DateTime& other) const
{
    if (year == other.year && month == other.month && day == other.day && hour == other.hour &&
        minute == other.minute && second == other.second)
        return true;
    return AsTime_t() == other.AsTime_t();
}

}  // namespace tru
