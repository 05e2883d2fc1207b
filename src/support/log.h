#ifndef SUPPORT_LOG_H
#define SUPPORT_LOG_H

#include <atomic>
#include <memory>
#include <string>
#include <thread>

#include "support/mutex.h"

namespace vdk {

// A log formats message lines and hands them to its writer (DoWrite). It writes only while
// active and drops messages whose level is above its own. A log never reports failures.
class LogIntf {
public:
    enum TimePrecision { eMillisec = 0, eMicrosec = 1, eNanosec = 2 };

    LogIntf() = default;
    LogIntf(bool active, bool timeStamp, bool threadId, bool processId);
    virtual ~LogIntf() = default;

    LogIntf(const LogIntf&) = delete;
    LogIntf& operator=(const LogIntf&) = delete;

    // Builds "{pid.tid} " (as set), level - 1 blanks of indent (as set), the text and "\n"
    // (as set), and passes the line on.
    virtual void LogStr(const char* text, int level);
    virtual void LogStr(const std::string& text, int level);
    // Writes the text as it is; the flag has no effect.
    virtual void LogRawStr(const char* text, int level, bool flag);
    virtual void DoWrite(const char* text, bool flag) = 0;
    virtual void DoStart() = 0;
    virtual void DoStop() = 0;
    virtual void BeforeLog() = 0;

    void SetActive(bool active);
    bool IsActive() const { return active_; }
    void SetAppendNewline(bool on) { appendNewline_ = on; }
    void SetTimeStamp(bool on) { timeStamp_ = on; }
    void SetThreadId(bool on) { threadId_ = on; }
    void SetProcessId(bool on) { processId_ = on; }
    void SetIndent(bool on) { indent_ = on; }
    void SetLevel(int level) { level_ = level; }
    int GetLevel() const { return level_; }
    void SetTimePrecision(TimePrecision precision) { precision_ = precision; }
    TimePrecision GetTimePrecision() const { return precision_; }

    // Local time "dd.mm.yyyy hh:mm:ss.fraction", day and hour padded with a blank.
    std::string GetCurrentTimeForLog() const;
    static std::string GetCurrentTimeMillisec();
    static std::string GetCurrentTimeMicrosec();
    static std::string GetCurrentTimeNanosec();

protected:
    bool active_ = false;
    bool appendNewline_ = true;
    bool timeStamp_ = false;
    bool threadId_ = false;
    bool processId_ = false;
    bool indent_ = false;
    int level_ = 0;
    TimePrecision precision_ = eMillisec;
};

// Writes nothing.
class NullLog : public LogIntf {
public:
    void DoWrite(const char*, bool) override {}
    void DoStart() override {}
    void DoStop() override {}
    void BeforeLog() override {}
};

// Standard output; the time stamp is followed by ". ".
class ConsoleLog : public LogIntf {
public:
    explicit ConsoleLog(bool active);
    void DoWrite(const char* text, bool flag) override;
    void DoStart() override {}
    void DoStop() override {}
    void BeforeLog() override {}
    std::string GetLogCurrentTime() const { return GetCurrentTimeForLog(); }
};

// Appends each line and one "\n" to "DebuggerLog.log" in the current directory.
class DebuggerLog : public LogIntf {
public:
    DebuggerLog(bool active, const std::string& prefix);
    void DoWrite(const char* text, bool flag) override;
    void DoStart() override {}
    void DoStop() override {}
    void BeforeLog() override {}
    std::string GetLogCurrentTime() const { return GetCurrentTimeForLog(); }

private:
    std::string prefix_;
};

// The mutex of a synchronized log: made by the process-wide mutex factory (a plain POSIX
// mutex when no generator is installed yet). A thread that already holds it passes
// through, so a locked operation may call another locked one whatever mutex kind the
// factory makes.
class LogMutex {
public:
    explicit LogMutex(const char* name);

    class Hold {
    public:
        explicit Hold(LogMutex& mutex);
        ~Hold();
        Hold(const Hold&) = delete;
        Hold& operator=(const Hold&) = delete;

    private:
        LogMutex& mutex_;
        bool locked_;
    };

private:
    std::unique_ptr<MutexIntf> mutex_;
    std::atomic<std::thread::id> owner_;
};

class ConsoleLogSynchronized : public ConsoleLog {
public:
    explicit ConsoleLogSynchronized(bool active);
    void DoWrite(const char* text, bool flag) override;
    void DoStart() override {}
    void DoStop() override {}

private:
    LogMutex mutex_;
};

}  // namespace vdk

#endif
