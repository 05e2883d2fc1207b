#include "support/global_log.h"

#include "support/properties.h"

namespace vdk {

LogIntf* GlobalLog::mGlobalLog = nullptr;

void GlobalLog::Initialize(const std::string&, bool, int, unsigned int, int, LogIntf::TimePrecision precision)
{
    if (!mGlobalLog)
        mGlobalLog = new NullLog();
    mGlobalLog->SetTimePrecision(precision);
}

void GlobalLog::Initialize() { Initialize(std::string(), true, 5, 0, 0, LogIntf::eMillisec); }

void GlobalLog::Initialize(const Properties& properties)
{
    const LogIntf::TimePrecision precision = ParsePrecision(properties.Get("TimePrecision", "milli"));
    const unsigned int maxCount = properties.GetAsUInt("LogMaxCount", 0);
    const unsigned int threshold = properties.GetAsUInt("LogThreshold", 0x40000000);
    const int level = properties.GetAsInt("LogLevel", 5);
    const bool mode = !properties.GetAsBool("LogMode", false);
    const std::string fileName = properties.Get("LogFileName", "");
    Initialize(fileName, mode, level, threshold, static_cast<int>(maxCount), precision);
}

void GlobalLog::Cleanup()
{
    delete mGlobalLog;
    mGlobalLog = nullptr;
}

LogIntf::TimePrecision GlobalLog::ParsePrecision(const std::string& text)
{
    auto begins = [&text](const char* word) { return text.compare(0, std::char_traits<char>::length(word), word) == 0; };
    if (begins("milli"))
        return LogIntf::eMillisec;
    if (begins("micro"))
        return LogIntf::eMicrosec;
    if (begins("nano"))
        return LogIntf::eNanosec;
    return LogIntf::eMillisec;
}

}  // namespace vdk
