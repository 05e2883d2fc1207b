#include <gtest/gtest.h>
#include <unistd.h>

#include <atomic>
#include <fstream>
#include <stdexcept>
#include <string>
#include <thread>

#include "support/mutex.h"
#include "support/thread.h"
#include "support/vdk_exception.h"

namespace {

using vdk::MutexFactory;
using vdk::MutexIntf;

class MutexFactoryTest : public ::testing::Test {
protected:
    void SetUp() override { MutexFactory::DestroyInstance(); }
    void TearDown() override { MutexFactory::DestroyInstance(); }
};

// Whether the thread sleeps in the kernel (state S of /proc), as one blocked on a mutex does.
bool Sleeping(pid_t thread)
{
    std::ifstream stat("/proc/self/task/" + std::to_string(thread) + "/stat");
    std::string line;
    std::getline(stat, line);
    const size_t nameEnd = line.rfind(')');  // the state follows the command name and a space
    return nameEnd != std::string::npos && nameEnd + 2 < line.size() && line[nameEnd + 2] == 'S';
}

class CountingMutex : public MutexIntf {
public:
    std::string ToString() const override { return "counting"; }
    void DoLock() override { ++locks; }
    void DoUnlock() override { ++unlocks; }
    int locks = 0;
    int unlocks = 0;
};

TEST_F(MutexFactoryTest, RecordLifecycleAndRegistration)
{
    MutexFactory::DestroyInstance();  // no record: nothing happens
    EXPECT_EQ(nullptr, MutexFactory::GetInstance());
    EXPECT_THROW(MutexFactory::NewMutex("x"), vdk::Exception);  // creates a bare record
    ASSERT_NE(nullptr, MutexFactory::GetInstance());
    EXPECT_EQ(0u, MutexFactory::GetInstance()->GetFlags());

    MutexFactory::Instance().SetFlags(MutexFactory::FLAG_RECURSIVE);
    vdk::MutexLinuxFactory::RegisterFactory();
    EXPECT_EQ(1u, MutexFactory::Instance().GetFlags());
    EXPECT_EQ(&vdk::MutexLinuxFactory::GenerateLocalMutex, MutexFactory::Instance().GetGenerator());
    vdk::MutexNullFactory::RegisterFactory();
    EXPECT_EQ(1u, MutexFactory::Instance().GetFlags());
    EXPECT_EQ(&vdk::MutexNullFactory::GenerateLocalMutex, MutexFactory::Instance().GetGenerator());
    auto nullMutex = MutexFactory::NewMutex("StorageMutex");
    EXPECT_NE(nullptr, dynamic_cast<vdk::MutexNullFactory::NullMutex*>(nullMutex.get()));
    EXPECT_EQ("", nullMutex->ToString());

    MutexFactory::DestroyInstance();
    EXPECT_EQ(nullptr, MutexFactory::GetInstance());
    EXPECT_EQ(0u, MutexFactory::Instance().GetFlags());
    EXPECT_EQ(nullptr, MutexFactory::Instance().GetGenerator());
    nullMutex->Lock();  // mutexes made earlier outlive the record
    nullMutex->Unlock();
}

TEST_F(MutexFactoryTest, RecursiveLinuxMutexExcludesOtherThreadsUntilFullyReleased)
{
    MutexFactory::Instance().SetFlags(MutexFactory::FLAG_RECURSIVE);
    vdk::MutexLinuxFactory::RegisterFactory();
    auto mutex = MutexFactory::NewMutex("MutexForSlot");
    EXPECT_EQ("", mutex->ToString());

    mutex->Lock();
    mutex->Lock();  // re-entry on one thread does not block
    std::atomic<bool> acquired{false};
    std::atomic<pid_t> otherId{0};
    std::thread other([&] {
        otherId = gettid();
        MutexIntf::GuardNL guard(*mutex);
        acquired = true;
    });
    mutex->Unlock();
    // Until the other thread waits for the mutex, or has wrongly taken it.
    while (!acquired && (otherId == 0 || !Sleeping(otherId))) std::this_thread::yield();
    EXPECT_FALSE(acquired.load()) << "taken while still held once";
    mutex->Unlock();
    other.join();
    EXPECT_TRUE(acquired.load());
}

TEST(MutexGuardTest, GuardsLockForTheirScopeAndIgnoreNull)
{
    CountingMutex m;
    {
        MutexIntf::Guard a(m, "AddSessionObject");
        MutexIntf::GuardNL b(m);
        MutexIntf::GuardIfAvailable c(&m, "label");
        MutexIntf::GuardNLIfAvailable d(&m);
        EXPECT_EQ(4, m.locks);
        EXPECT_EQ(0, m.unlocks);
    }
    EXPECT_EQ(4, m.unlocks);
    {
        MutexIntf::GuardIfAvailable c(nullptr, "label");
        MutexIntf::GuardNLIfAvailable d(nullptr);
    }
    try {
        MutexIntf::Guard g(m, "throws");
        throw std::runtime_error("pass");
    } catch (const std::runtime_error&) {
    }
    EXPECT_EQ(5, m.locks);
    EXPECT_EQ(5, m.unlocks);
}

void* SetFlag(void* argument)
{
    static_cast<std::atomic<int>*>(argument)->store(7);
    return vdk::Thread::THREAD_OK;
}

TEST(ThreadTest, RunsStartFunctionAndJoins)
{
    std::atomic<int> value{0};
    vdk::Thread thread(&SetFlag, &value);
    thread.Join();
    EXPECT_EQ(7, value.load());
    EXPECT_THROW(thread.Join(), vdk::Exception);

    // Destroyed without Join while the thread may still be starting: the
    // thread must not read the gone object.
    std::atomic<int> other{0};
    { vdk::Thread detached(&SetFlag, &other); }
    while (other.load() != 7)
        std::this_thread::yield();
}

}  // namespace
