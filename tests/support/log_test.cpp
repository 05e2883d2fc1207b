#include "support/file_debug_log.h"
#include "support/global_log.h"
#include "support/log.h"

#include <gtest/gtest.h>

#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <set>
#include <sstream>
#include <thread>
#include <vector>

#include "support/file.h"
#include "support/os_services.h"
#include "support/properties.h"

namespace {

using vdk::File;
using vdk::LogIntf;

// Keeps what reaches the writer.
class RecordingLog : public LogIntf {
public:
    RecordingLog() : LogIntf(true, false, false, false) {}
    void DoWrite(const char* text, bool) override { lines.push_back(text); }
    void DoStart() override { ++starts; }
    void DoStop() override { ++stops; }
    void BeforeLog() override {}
    std::vector<std::string> lines;
    int starts = 0;
    int stops = 0;
};

// Local time stamp "dd.mm.yyyy hh:mm:ss." and the given number of fraction digits; day and
// hour may start with a blank.
bool IsTimeStamp(const std::string& text, size_t fractionDigits)
{
    const std::string shape = "_9.99.9999 _9:99:99.";
    if (text.size() != shape.size() + fractionDigits)
        return false;
    for (size_t i = 0; i < text.size(); ++i) {
        const char want = i < shape.size() ? shape[i] : '9';
        const bool digit = text[i] >= '0' && text[i] <= '9';
        if ((want == '9' && !digit) || (want == '_' && !digit && text[i] != ' ') ||
            (want != '9' && want != '_' && text[i] != want))
            return false;
    }
    return true;
}

std::string ReadFile(const std::string& path)
{
    std::ifstream in(path);
    std::ostringstream out;
    out << in.rdbuf();
    return out.str();
}

TEST(LogTest, LevelFilterPrefixAndIndent)
{
    RecordingLog log;
    log.SetLevel(5);
    log.LogStr("kept", 3);
    log.LogStr("dropped", 6);
    log.LogStr(std::string("at level"), 5);
    EXPECT_EQ(log.lines, (std::vector<std::string>{"kept\n", "at level\n"}));

    log.lines.clear();
    log.SetThreadId(true);
    log.SetProcessId(true);
    log.SetIndent(true);
    log.LogStr("x", 3);
    std::ostringstream expected;
    expected << "{" << vdk::GetPid() << "." << std::hex << vdk::GetThreadId() << "}   x\n";
    ASSERT_EQ(log.lines.size(), 1u);
    EXPECT_EQ(log.lines[0], expected.str());

    log.lines.clear();
    log.SetProcessId(false);
    log.SetIndent(false);
    log.SetAppendNewline(false);
    log.LogStr(nullptr, 1);
    std::ostringstream tidOnly;
    tidOnly << "{." << std::hex << vdk::GetThreadId() << "} ";
    EXPECT_EQ(log.lines, (std::vector<std::string>{tidOnly.str()}));
}

TEST(LogTest, InactiveLogWritesNothingAndSwitchingCallsStartStopOnce)
{
    RecordingLog log;
    log.SetActive(false);
    EXPECT_EQ(log.stops, 1);
    log.SetActive(false);
    EXPECT_EQ(log.stops, 1);
    log.LogStr("x", 0);
    log.LogRawStr("y", 0, false);
    EXPECT_TRUE(log.lines.empty());
    log.SetActive(true);
    log.SetActive(true);
    EXPECT_EQ(log.starts, 1);
}

TEST(LogTest, TimeStampPrecisions)
{
    EXPECT_TRUE(IsTimeStamp(LogIntf::GetCurrentTimeMillisec(), 3)) << LogIntf::GetCurrentTimeMillisec();
    EXPECT_TRUE(IsTimeStamp(LogIntf::GetCurrentTimeMicrosec(), 6)) << LogIntf::GetCurrentTimeMicrosec();
    EXPECT_TRUE(IsTimeStamp(LogIntf::GetCurrentTimeNanosec(), 9)) << LogIntf::GetCurrentTimeNanosec();
    EXPECT_FALSE(IsTimeStamp("1.02.2024 10:00:00.123", 3));
    RecordingLog log;
    log.SetTimePrecision(LogIntf::eNanosec);
    EXPECT_TRUE(IsTimeStamp(log.GetCurrentTimeForLog(), 9));
    log.SetTimePrecision(LogIntf::eMicrosec);
    EXPECT_TRUE(IsTimeStamp(log.GetCurrentTimeForLog(), 6));
}

TEST(LogTest, ConsoleLogPrintsStampAndText)
{
    vdk::ConsoleLog log(true);
    log.SetLevel(1);
    testing::internal::CaptureStdout();
    log.LogStr("hello", 1);
    const std::string out = testing::internal::GetCapturedStdout();
    ASSERT_GT(out.size(), 23u);
    EXPECT_TRUE(IsTimeStamp(out.substr(0, 23), 3)) << out;
    EXPECT_EQ(out.substr(23), ". hello\n");
}

class LogFileTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        char tmpl[] = "/tmp/zr-log-test-XXXXXX";
        ASSERT_NE(mkdtemp(tmpl), nullptr);
        dir_ = tmpl;
        name_ = dir_ + "/app.log";
        vdk::MutexFactory::DestroyInstance();
    }
    void TearDown() override
    {
        vdk::MutexFactory::DestroyInstance();
        std::system(("rm -rf '" + dir_ + "'").c_str());
    }
    void Write(const std::string& path, const std::string& content) { std::ofstream(path) << content; }

    std::string dir_;
    std::string name_;
};

TEST_F(LogFileTest, FileAtThresholdSplitsWhenOpened)
{
    Write(name_, std::string(100, 'o'));
    vdk::FileDebugLog log(true, false, name_.c_str(), 100, 0);
    log.SetTimeStamp(false);
    log.LogStr("new", 0);
    EXPECT_EQ(ReadFile(File::MergeFilePath(dir_.c_str(), "app.log.0000")), std::string(100, 'o'));
    EXPECT_EQ(ReadFile(name_), "new\n");
}

TEST_F(LogFileTest, SplitPrunesOldestPartsToTheMaximum)
{
    for (int n = 0; n <= 4; ++n)
        Write(vdk::FileDebugLog::PartName(name_, n), "part");
    Write(name_, std::string(10, 'c'));
    vdk::FileDebugLog log(true, false, name_.c_str(), 10, 3);
    log.SetTimeStamp(false);
    log.LogStr("x", 0);
    std::vector<File::FileInfo> files;
    File::FindAllFilesInDirectory(dir_.c_str(), files, false, false);
    std::set<std::string> names;
    for (const auto& f : files)
        names.insert(f.name);
    EXPECT_EQ(names, (std::set<std::string>{"app.log", "app.log.0000", "app.log.0004"}));
    EXPECT_EQ(ReadFile(vdk::FileDebugLog::PartName(name_, 0)), std::string(10, 'c'));
}

TEST_F(LogFileTest, LinesSplitAcrossPartsAtTheThreshold)
{
    vdk::FileDebugLog log(true, false, name_.c_str(), 8, 0);
    log.SetTimeStamp(false);
    for (const char* text : {"aaa", "bbb", "ccc"})
        log.LogStr(text, 0);
    // A line that would bring the file to 8 bytes goes to a fresh file.
    EXPECT_EQ(ReadFile(vdk::FileDebugLog::PartName(name_, 0)), "aaa\n");
    EXPECT_EQ(ReadFile(vdk::FileDebugLog::PartName(name_, 1)), "bbb\n");
    EXPECT_EQ(ReadFile(name_), "ccc\n");
}

TEST_F(LogFileTest, OpenOnlyExistingFileWritesNothingWhenMissing)
{
    {
        vdk::FileDebugLog log(true, true, name_.c_str(), 0, 0);
        log.LogStr("x", 0);
    }
    EXPECT_FALSE(File::IsFileExist(name_.c_str()));
    Write(name_, "");
    vdk::FileDebugLog log(true, true, name_.c_str(), 0, 0);
    log.SetTimeStamp(false);
    log.LogStr("y", 0);
    EXPECT_EQ(ReadFile(name_), "y\n");
}

TEST_F(LogFileTest, DebuggerLogAppendsToFixedFileInCurrentDirectory)
{
    char old[4096];
    ASSERT_NE(getcwd(old, sizeof old), nullptr);
    ASSERT_EQ(chdir(dir_.c_str()), 0);
    {
        vdk::DebuggerLog log(true, "pre: ");
        log.SetTimeStamp(false);
        log.LogStr("one", 0);
        log.LogRawStr("two", 0, false);
    }
    EXPECT_EQ(ReadFile("DebuggerLog.log"), "pre: one\n\npre: two\n");
    ASSERT_EQ(chdir(old), 0);
}

TEST_F(LogFileTest, SynchronizedFileLogKeepsEveryLineWithNonRecursiveMutexes)
{
    // Flags 0: the factory makes plain, non-recursive mutexes; the locked write calls the
    // locked split and open on the same thread.
    vdk::MutexFactory::Instance().SetFlags(0);
    vdk::MutexLinuxFactory::RegisterFactory();
    {
        vdk::FileDebugLogSynchronized log(true, false, name_.c_str(), 200, 0);
        log.SetTimeStamp(false);
        std::vector<std::thread> threads;
        for (int t = 0; t < 4; ++t)
            threads.emplace_back([&log, t] {
                for (int i = 0; i < 50; ++i)
                    log.LogStr("t" + std::to_string(t) + "-" + std::to_string(i), 0);
            });
        for (auto& th : threads)
            th.join();
    }
    std::vector<File::FileInfo> files;
    File::FindAllFilesInDirectory(dir_.c_str(), files, false, false);
    std::multiset<std::string> lines;
    for (const auto& f : files) {
        std::istringstream in(ReadFile(f.path));
        for (std::string line; std::getline(in, line);)
            lines.insert(line);
    }
    EXPECT_EQ(lines.size(), 200u);
    for (int t = 0; t < 4; ++t)
        for (int i = 0; i < 50; ++i)
            EXPECT_EQ(lines.count("t" + std::to_string(t) + "-" + std::to_string(i)), 1u);
    EXPECT_GT(files.size(), 2u) << "the threshold split the log";
}

TEST_F(LogFileTest, SynchronizedLogsWorkBeforeAnyGeneratorIsInstalled)
{
    vdk::ConsoleLogSynchronized console(false);
    vdk::FileDebugLogSynchronized file(true, false, name_.c_str(), 0, 0);
    file.SetTimeStamp(false);
    file.LogStr("ok", 0);
    EXPECT_EQ(ReadFile(name_), "ok\n");
}

class GlobalLogTest : public ::testing::Test {
protected:
    void SetUp() override { vdk::GlobalLog::Cleanup(); }
    void TearDown() override { vdk::GlobalLog::Cleanup(); }
};

TEST_F(GlobalLogTest, InitializeMakesOneInactiveNullLogAndCleanupResets)
{
    char folder[] = "/tmp/zr-global-log-XXXXXX";
    ASSERT_NE(mkdtemp(folder), nullptr);
    const std::string never = std::string(folder) + "/never.log";
    vdk::Properties config;
    config.Parse("LogFileName=" + never + "\nLogMode=true\nLogLevel=9\nTimePrecision=nanosecond");
    vdk::GlobalLog::Initialize(config);
    LogIntf* first = vdk::GlobalLog::Get();
    ASSERT_NE(first, nullptr);
    EXPECT_NE(dynamic_cast<vdk::NullLog*>(first), nullptr);
    EXPECT_FALSE(first->IsActive());
    EXPECT_EQ(first->GetTimePrecision(), LogIntf::eNanosec);
    EXPECT_FALSE(File::IsFileExist(never.c_str()));
    std::remove(never.c_str());
    rmdir(folder);

    vdk::GlobalLog::Initialize();
    EXPECT_EQ(vdk::GlobalLog::Get(), first);
    EXPECT_EQ(first->GetTimePrecision(), LogIntf::eMillisec);

    vdk::GlobalLog::Cleanup();
    EXPECT_EQ(vdk::GlobalLog::Get(), nullptr);
    vdk::GlobalLog::Initialize();
    EXPECT_NE(vdk::GlobalLog::Get(), nullptr);
}

TEST_F(GlobalLogTest, PrecisionWords)
{
    struct Case { const char* text; LogIntf::TimePrecision precision; } cases[] = {
        {"nanosecond", LogIntf::eNanosec}, {"NANO", LogIntf::eMillisec}, {"millis", LogIntf::eMillisec},
        {"micro", LogIntf::eMicrosec}, {"", LogIntf::eMillisec}, {"nan", LogIntf::eMillisec},
    };
    for (const auto& c : cases)
        EXPECT_EQ(vdk::GlobalLog::ParsePrecision(c.text), c.precision) << c.text;
    vdk::Properties none;
    vdk::GlobalLog::Initialize(none);
    EXPECT_EQ(vdk::GlobalLog::Get()->GetTimePrecision(), LogIntf::eMillisec);
}

}  // namespace
