// CK_DATE and CK_ZR_DATETIME from broken-down and calendar time.
#include "cryptoki/names/ck_names.h"

#include <cstdio>
#include <cstring>

#include "support/string_utils.h"

namespace zrck {

namespace {

static_assert(sizeof(CK_ZR_DATETIME) == 14, "YYYYMMDDhhmmss without terminator");

// The first N characters of number written with at least N digits.
template <size_t N>
void CopyNumberField(long number, CK_CHAR (&field)[N]) {
    char text[24];
    std::snprintf(text, sizeof text, "%0*ld", static_cast<int>(N), number);
    std::memcpy(field, text, N);
}

}  // namespace

void CkDate::ConvertTmToCkDate(const tm& time, CK_DATE& date) {
    if (time.tm_year < 1) {
        std::memset(&date, ' ', sizeof date);
        return;
    }
    // long: tm_year near INT_MAX must not overflow
    CopyNumberField(static_cast<long>(time.tm_year) + 1900, date.year);
    CopyNumberField(static_cast<long>(time.tm_mon) + 1, date.month);
    CopyNumberField(time.tm_mday, date.day);
}

CK_ZR_DATETIME ConvertToCkZrDateTime(time_t instant) {
    CK_ZR_DATETIME result;
    std::memset(&result, ' ', sizeof result);
    const tm local = vdk::LocalTime(instant);
    if (local.tm_mday == 0)
        return result;  // no local time for the instant: LocalTime gives a zeroed tm
    const long year = static_cast<long>(local.tm_year) + 1900;
    if (year < 0 || year > 9999)
        return result;  // would not fit four characters and shift every later field
    char text[32];
    std::snprintf(text, sizeof text, "%.04ld%.02d%.02d%.02d%.02d%.02d", year, local.tm_mon + 1,
                  local.tm_mday, local.tm_hour, local.tm_min, local.tm_sec);
    std::memcpy(&result, text, sizeof result);
    return result;
}

CK_ZR_DATETIME GetCurrentDateTimeAsZR() {
    return ConvertToCkZrDateTime(std::time(nullptr));
}

}  // namespace zrck
