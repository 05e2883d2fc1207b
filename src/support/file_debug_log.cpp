#include "support/file_debug_log.h"

#include "support/file.h"
#include "support/vdk_exception.h"

namespace vdk {

namespace {
constexpr int kOpenAttempts = 1000;
constexpr int kPartNumbers = 9999;  // parts 0000 to 9998
constexpr int kCountedParts = 10000;
}  // namespace

FileDebugLog::FileDebugLog(bool active, bool openExisting, const char* fileName, unsigned int threshold,
                           int maxFileCount)
    : LogIntf(active, true, false, false), openExisting_(openExisting), fileName_(fileName ? fileName : ""),
      threshold_(threshold), maxFileCount_(maxFileCount)
{
    appendNewline_ = false;
}

FileDebugLog::~FileDebugLog()
{
    if (stream_)
        fclose(stream_);
}

std::string FileDebugLog::PartName(const std::string& fileName, int number)
{
    char digits[8];
    snprintf(digits, sizeof digits, "%04d", number);
    return fileName + "." + digits;
}

void FileDebugLog::DoWrite(const char* text, bool)
{
    if (!active_)
        return;
    OpenLog();
    if (!stream_)
        return;
    std::string line = timeStamp_ ? GetLogCurrentTime() + " " : std::string();
    line += text ? text : "";
    line += "\n";
    const unsigned int length = static_cast<unsigned int>(line.size());
    AddSizeDone(length);
    if (ShouldSplit()) {
        DoSplit();
        AddSizeDone(length);
    }
    if (!stream_)
        return;  // the file could not be reopened after the split: the line is dropped
    fputs(line.c_str(), stream_);
    fflush(stream_);
}

void FileDebugLog::BeforeLog()
{
    if (ShouldSplit())
        DoSplit();
}

void FileDebugLog::OpenLog()
{
    if (stream_ || !active_)
        return;
    if (openExisting_ && !File::IsFileExist(fileName_.c_str()))
        return;
    for (int k = 0; k < kOpenAttempts && !stream_; ++k) {
        const std::string candidate = k == 0 ? fileName_ : fileName_ + "." + std::to_string(k) + ".log";
        stream_ = fopen(candidate.c_str(), "a");
        if (stream_)
            fileName_ = candidate;
    }
    if (!stream_)
        return;
    ResetSizeDone();
    if (ShouldSplit())
        DoSplit();
}

void FileDebugLog::DoSplit()
{
    if (!active_ || !stream_)
        return;
    CheckLogParts();
    fclose(stream_);
    stream_ = nullptr;

    // A free part name; after a full pass over the numbers the name reached is replaced.
    std::string part;
    for (int tries = 0; tries < kPartNumbers; ++tries) {
        part = PartName(fileName_, nextPart_);
        nextPart_ = nextPart_ >= kPartNumbers - 1 ? 0 : nextPart_ + 1;
        if (!File::IsFileExist(part.c_str()))
            break;
    }
    File::RenameFile(fileName_.c_str(), part.c_str(), true);
    stream_ = fopen(fileName_.c_str(), "a");
    sizeDone_ = 0;
}

void FileDebugLog::CheckLogParts()
{
    if (maxFileCount_ < 1)
        return;
    int count = 0;
    for (int n = 0; n < kCountedParts; ++n)
        if (File::IsFileExist(PartName(fileName_, n).c_str()))
            ++count;
    // Leave room for the part the split is about to add.
    for (int n = 0; n < kCountedParts && count + 1 >= maxFileCount_ && count > 0; ++n) {
        const std::string part = PartName(fileName_, n);
        if (File::IsFileExist(part.c_str()) && File::EraseFile(part.c_str()))
            --count;
    }
}

void FileDebugLog::ResetSizeDone()
{
    try {
        sizeDone_ = File::GetFileSize(fileName_.c_str());
    } catch (const FileException&) {
        // The count stays as it was.
    }
}

FileDebugLogSynchronized::FileDebugLogSynchronized(bool active, bool openExisting, const char* fileName,
                                                   unsigned int threshold, int maxFileCount)
    : FileDebugLog(active, openExisting, fileName, threshold, maxFileCount), mutex_("FileDebugLogSynchronized")
{
}

void FileDebugLogSynchronized::LogRawStr(const char* text, int level, bool flag)
{
    LogMutex::Hold hold(mutex_);
    FileDebugLog::LogRawStr(text, level, flag);
}

void FileDebugLogSynchronized::DoSplit()
{
    LogMutex::Hold hold(mutex_);
    FileDebugLog::DoSplit();
}

void FileDebugLogSynchronized::OpenLog()
{
    LogMutex::Hold hold(mutex_);
    FileDebugLog::OpenLog();
}

}  // namespace vdk
