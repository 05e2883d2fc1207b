#include "converters.h"

#include <cstdio>
#include <sstream>

#include "support/vdk_exception.h"

namespace vdk {

namespace {

template <typename T>
bool Extract(const std::string& text, T& value) {
    std::istringstream in(text);
    in >> value;
    return !in.fail() && !in.bad();
}

bool BeginsWithMinus(const std::string& text) {
    const size_t at = text.find_first_not_of(" \t\n\r\f\v");
    return at != std::string::npos && text[at] == '-';
}

std::string FormatMs(int64_t milliseconds, const char* format) {
    const int64_t seconds = milliseconds / 1000;
    const int hours = static_cast<int>(seconds / 3600);
    const int minutes = static_cast<int>((seconds % 3600) / 60);
    const int secs = static_cast<int>(seconds % 60);
    const int ms = static_cast<int>(milliseconds % 1000);
    char text[64];
    std::snprintf(text, sizeof text, format, hours, minutes, secs, ms);
    return text;
}

}  // namespace

int Converters::StringToInt(const std::string& text) {
    int value = 0;
    if (!Extract(text, value))
        throw Exception("Unable to parse int from \"" + text + "\"");
    return value;
}

uint64_t Converters::StringToSize(const std::string& text) {
    // Stream extraction would turn "-1" into a huge size.
    uint64_t value = 0;
    if (BeginsWithMinus(text) || !Extract(text, value))
        throw Exception("Unable to parse size_t from \"" + text + "\"");
    return value;
}

int Converters::StringToCount(const std::string& text) {
    if (BeginsWithMinus(text))
        throw Exception("Unable to parse int from \"" + text + "\"");
    return StringToInt(text);
}

int Converters::StringToInt(const std::string& text, int defaultValue) {
    std::istringstream in(text);
    int value = defaultValue;
    in >> value;
    return value;
}

unsigned Converters::StringToUInt(const std::string& text, unsigned defaultValue) {
    std::istringstream in(text);
    unsigned value = defaultValue;
    in >> value;
    return value;
}

unsigned long Converters::StringToUnsignedLong(const std::string& text, unsigned long defaultValue) {
    std::istringstream in(text);
    unsigned long value = defaultValue;
    in >> value;
    return value;
}

std::string UnsignedToString(unsigned value) { return std::to_string(value); }
std::string UnsignedLongToString(unsigned long value) { return std::to_string(value); }

std::string TimeCounterValue::GetAsStr() const { return FormatMs(value_, "%d:%.02d:%.02d.%03d"); }

std::string TimeCounterValue::GetAverageTimeAsStr(int count) const {
    return FormatMs(count != 0 ? value_ / count : 0, "%d:%.02d:%.02d.%.03d");
}

void TimeCounter::Start() {
    if (started_)
        throw Exception("TimeCounter already started");
    gettimeofday(&start_, nullptr);
    started_ = true;
    ran_ = true;
}

void TimeCounter::Stop() {
    if (!started_)
        throw Exception("TimeCounter not started");
    gettimeofday(&stop_, nullptr);
    started_ = false;
}

int64_t TimeCounter::Get() const {
    timeval end = stop_;
    if (started_)
        gettimeofday(&end, nullptr);
    return (static_cast<int64_t>(end.tv_sec) - start_.tv_sec) * 1000 + end.tv_usec / 1000 - start_.tv_usec / 1000;
}

}  // namespace vdk
