#ifndef SUPPORT_GLOBAL_LOG_H
#define SUPPORT_GLOBAL_LOG_H

#include <string>

#include "support/log.h"

namespace vdk {

class Properties;

// The process-wide log: an inactive NullLog made by the first Initialize; later calls
// change only its time precision. Cleanup removes it (also the reset between tests).
class GlobalLog {
public:
    // Only the precision has an effect; the other arguments are accepted as configured.
    static void Initialize(const std::string& fileName, bool mode, int level, unsigned int threshold,
                           int maxFileCount, LogIntf::TimePrecision precision);
    static void Initialize();
    // Keys: "LogFileName", "LogMode", "LogLevel", "LogThreshold", "LogMaxCount", "TimePrecision".
    static void Initialize(const Properties& properties);
    static void Cleanup();
    static LogIntf* Get() { return mGlobalLog; }

    // "milli..." 0, "micro..." 1, "nano..." 2, anything else 0 (case-sensitive).
    static LogIntf::TimePrecision ParsePrecision(const std::string& text);

private:
    static LogIntf* mGlobalLog;
};

}  // namespace vdk

#endif
