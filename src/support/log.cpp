#include "support/log.h"

#include <time.h>

#include <cstdio>
#include <sstream>

#include "support/os_services.h"
#include "support/string_utils.h"

namespace vdk {

namespace {

// fractionDigits: 3, 6 or 9. Seconds and fraction come from one clock reading.
std::string TimeStamp(int fractionDigits)
{
    timespec now {};
    clock_gettime(CLOCK_REALTIME, &now);
    const struct tm t = LocalTime(static_cast<long>(now.tv_sec));
    long fraction = now.tv_nsec;
    if (fractionDigits == 3)
        fraction /= 1000000;
    else if (fractionDigits == 6)
        fraction /= 1000;
    char text[64];
    snprintf(text, sizeof text, "%2d.%.02d.%.4d %2d:%.02d:%.02d.%.*ld", t.tm_mday, t.tm_mon + 1, t.tm_year + 1900,
             t.tm_hour, t.tm_min, t.tm_sec, fractionDigits, fraction);
    return text;
}

}  // namespace

LogIntf::LogIntf(bool active, bool timeStamp, bool threadId, bool processId)
    : active_(active), timeStamp_(timeStamp), threadId_(threadId), processId_(processId)
{
}

void LogIntf::LogStr(const char* text, int level)
{
    if (!active_ || level > level_)
        return;
    std::ostringstream line;
    if (threadId_ || processId_) {
        line << "{";
        if (processId_)
            line << GetPid();
        if (threadId_)
            line << "." << std::hex << GetThreadId() << std::dec;
        line << "} ";
    }
    if (indent_ && level >= 2)
        line << std::string(static_cast<size_t>(level - 1), ' ');
    if (text)
        line << text;
    if (appendNewline_)
        line << "\n";
    LogRawStr(line.str().c_str(), 0, false);
}

void LogIntf::LogStr(const std::string& text, int level) { LogStr(text.c_str(), level); }

void LogIntf::LogRawStr(const char* text, int level, bool flag)
{
    if (!active_ || level > level_)
        return;
    BeforeLog();
    DoWrite(text, flag);
}

void LogIntf::SetActive(bool active)
{
    if (active && !active_) {
        DoStart();
        active_ = true;
    } else if (!active && active_) {
        DoStop();
        active_ = false;
    }
}

std::string LogIntf::GetCurrentTimeForLog() const
{
    switch (precision_) {
    case eMicrosec: return GetCurrentTimeMicrosec();
    case eNanosec: return GetCurrentTimeNanosec();
    default: return GetCurrentTimeMillisec();
    }
}

std::string LogIntf::GetCurrentTimeMillisec() { return TimeStamp(3); }
std::string LogIntf::GetCurrentTimeMicrosec() { return TimeStamp(6); }
std::string LogIntf::GetCurrentTimeNanosec() { return TimeStamp(9); }

ConsoleLog::ConsoleLog(bool active) : LogIntf(active, true, false, false) {}

void ConsoleLog::DoWrite(const char* text, bool)
{
    if (!active_)
        return;
    std::string line = timeStamp_ ? GetLogCurrentTime() + ". " : std::string();
    line += text ? text : "";
    printf("%s", line.c_str());
    fflush(stdout);
}

DebuggerLog::DebuggerLog(bool active, const std::string& prefix) : LogIntf(active, true, false, false), prefix_(prefix) {}

void DebuggerLog::DoWrite(const char* text, bool)
{
    if (!active_)
        return;
    std::string line = prefix_;
    if (timeStamp_)
        line += GetLogCurrentTime() + " ";
    line += text ? text : "";
    FILE* file = fopen("DebuggerLog.log", "a");
    if (!file)
        return;  // no place to write: the line is dropped
    fputs(line.c_str(), file);
    fputs("\n", file);
    fclose(file);
}

LogMutex::LogMutex(const char* name)
{
    MutexFactory& factory = MutexFactory::Instance();
    if (factory.GetGenerator())
        mutex_ = MutexFactory::NewMutex(name);
    else
        mutex_.reset(new MutexLinuxFactory::LinuxMutex(name, nullptr));
}

LogMutex::Hold::Hold(LogMutex& mutex) : mutex_(mutex), locked_(false)
{
    if (mutex_.owner_.load() == std::this_thread::get_id())
        return;
    mutex_.mutex_->Lock();
    mutex_.owner_.store(std::this_thread::get_id());
    locked_ = true;
}

LogMutex::Hold::~Hold()
{
    if (!locked_)
        return;
    mutex_.owner_.store(std::thread::id());
    try {
        mutex_.mutex_->Unlock();
    } catch (...) {
        // A log never reports failures.
    }
}

ConsoleLogSynchronized::ConsoleLogSynchronized(bool active) : ConsoleLog(active), mutex_("ConsoleLogSynchronized") {}

void ConsoleLogSynchronized::DoWrite(const char* text, bool flag)
{
    LogMutex::Hold hold(mutex_);
    ConsoleLog::DoWrite(text, flag);
}

}  // namespace vdk
