#ifndef TRU2_DATE_TIME_H
#define TRU2_DATE_TIME_H

#include <cstdint>
#include <ctime>
#include <string>

namespace tru {

// Broken-down UTC time, year to second.
class DateTime {
public:
    // Stored as given (each cut to 16 bits), unchecked.
    DateTime(unsigned int year, unsigned int month, unsigned int day, unsigned int hour, unsigned int minute,
             unsigned int second);
    // Seconds since 1970-01-01 00:00:00 UTC, taken as an unsigned 32-bit count.
    explicit DateTime(long seconds);
    virtual ~DateTime() = default;

    void Set(long seconds);

    // Seconds since 1970; throws tru::Exception(ERROR_INTERNAL) for a year outside 1970..2038
    // or a month outside 1..12. Day, hour, minute and second simply add up.
    long AsTime_t() const;
    struct tm AsTm() const;            // throws as AsTime_t
    std::string AsHTTPTime() const;    // "Thu, 01 Jan 1970 00:00:00 GMT" in the C locale
    // Equal fields, or the same instant.
    bool operator==(const DateTime& other) const;
    bool operator!=(const DateTime& other) const { return !(*this == other); }

    uint16_t year;
    uint16_t month;
    uint16_t day;
    uint16_t hour;
    uint16_t minute;
    uint16_t second;

    static const uint16_t ciDaysInMonth[12];
};

}  // namespace tru

#endif
