#ifndef SUPPORT_FILE_DEBUG_LOG_H
#define SUPPORT_FILE_DEBUG_LOG_H

#include <cstdint>
#include <cstdio>
#include <string>

#include "support/log.h"

namespace vdk {

// A log file that is split into numbered parts (name.0000 .. name.9998) when it reaches a
// threshold, keeping at most a given number of files. Opened on the first write.
class FileDebugLog : public LogIntf {
public:
    // openExisting: write only to a file that already exists. threshold 0: never split.
    // maxFileCount below 1: keep every part.
    FileDebugLog(bool active, bool openExisting, const char* fileName, unsigned int threshold, int maxFileCount);
    ~FileDebugLog() override;

    void DoWrite(const char* text, bool flag) override;
    void DoStart() override {}
    void DoStop() override {}
    void BeforeLog() override;
    virtual void DoSplit();
    virtual void OpenLog();

    void CheckLogParts();
    void ResetSizeDone();
    void SetSizeDone(unsigned int size) { sizeDone_ = size; }
    void AddSizeDone(unsigned int size) { sizeDone_ += size; }
    bool ShouldSplit() const { return threshold_ != 0 && sizeDone_ >= threshold_; }
    int GetMaxFileCount() const { return maxFileCount_; }
    const std::string& GetFileName() const { return fileName_; }
    std::string GetLogCurrentTime() const { return GetCurrentTimeForLog(); }

    // name + "." + four digits.
    static std::string PartName(const std::string& fileName, int number);

private:
    bool openExisting_;
    FILE* stream_ = nullptr;
    std::string fileName_;
    int nextPart_ = 0;
    unsigned int threshold_;
    int maxFileCount_;
    unsigned int sizeDone_ = 0;
};

class FileDebugLogSynchronized : public FileDebugLog {
public:
    FileDebugLogSynchronized(bool active, bool openExisting, const char* fileName, unsigned int threshold,
                             int maxFileCount);
    void LogRawStr(const char* text, int level, bool flag) override;
    void DoStart() override {}
    void DoStop() override {}
    void DoSplit() override;
    void OpenLog() override;

private:
    LogMutex mutex_;
};

}  // namespace vdk

#endif
