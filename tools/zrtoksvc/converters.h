// Text-to-number converters of the command line and the millisecond stopwatch.
#pragma once

#include <sys/time.h>

#include <cstdint>
#include <string>

namespace vdk {

class Converters {
public:
    // One number from the front of the text (leading blanks skipped, rest ignored);
    // vdk::Exception "Unable to parse int from \"...\"" when there is none.
    static int StringToInt(const std::string& text);
    // As above, and a text that begins with '-' is refused ("Unable to parse size_t from").
    static uint64_t StringToSize(const std::string& text);
    // A count: refuses a leading '-' as well ("Unable to parse int from").
    static int StringToCount(const std::string& text);
    // The default for blank text, 0 for text not beginning with a number.
    static int StringToInt(const std::string& text, int defaultValue);
    static unsigned StringToUInt(const std::string& text, unsigned defaultValue);
    static unsigned long StringToUnsignedLong(const std::string& text, unsigned long defaultValue);
};

std::string UnsignedToString(unsigned value);
std::string UnsignedLongToString(unsigned long value);

// Milliseconds shown as h:mm:ss.mmm.
class TimeCounterValue {
public:
    explicit TimeCounterValue(int64_t milliseconds = 0) : value_(milliseconds) {}
    int64_t Get() const { return value_; }
    std::string GetAsStr() const;
    std::string GetAverageTimeAsStr(int count) const;

private:
    int64_t value_;
};

class TimeCounter {
public:
    void Start();  // vdk::Exception "TimeCounter already started"
    void Stop();   // vdk::Exception "TimeCounter not started"
    int64_t Get() const;
    int64_t GetTotal() const { return accumulated_ + Get(); }
    void Reset() { accumulated_ = 0; }
    // True once Start was called.
    bool HasRun() const { return ran_; }
    std::string GetAsStr() const { return TimeCounterValue(Get()).GetAsStr(); }

private:
    bool started_ = false;
    bool ran_ = false;
    int64_t accumulated_ = 0;
    timeval start_{};
    timeval stop_{};
};

}  // namespace vdk
