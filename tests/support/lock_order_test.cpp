// The lock-rank check: a lock taken against the library's order aborts, naming both locks;
// the order itself, re-entry and try-locks pass.
#include <gtest/gtest.h>

#include <memory>
#include <mutex>
#include <string>

#include "support/lock_order.h"
#include "support/mutex.h"

namespace {

using vdk::LockRank;
using vdk::MutexFactory;
using vdk::MutexIntf;

class LockOrderTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        if (!vdk::LockOrder::kChecked) GTEST_SKIP() << "built without ZR_LOCK_ORDER_CHECK";
        MutexFactory::DestroyInstance();
        MutexFactory::Instance().SetFlags(MutexFactory::FLAG_RECURSIVE);
        vdk::MutexLinuxFactory::RegisterFactory();
    }
    void TearDown() override { MutexFactory::DestroyInstance(); }

    static std::unique_ptr<MutexIntf> Named(const std::string& name) { return MutexFactory::NewMutex(name); }
};

TEST_F(LockOrderTest, LibraryMutexesGetTheirRankFromTheirName)
{
    EXPECT_EQ(Named("MutexForSlot")->Rank(), LockRank::kSlot);
    EXPECT_EQ(Named("mpOperationMutex")->Rank(), LockRank::kTokenOperation);
    EXPECT_EQ(Named("StorageMutex")->Rank(), LockRank::kStorage);
    EXPECT_EQ(Named("DoCreateMutex")->Rank(), LockRank::kUnranked) << "an application's mutex";
}

// Each row: the lock held, the lock then taken (blocking); the second is out of order.
struct Inversion {
    const char* held;
    const char* taken;
};

const Inversion kInversions[] = {
    {"StorageMutex", "mpOperationMutex"},   // the token's random generator inside a key's use
    {"mpOperationMutex", "MutexForSlot"},
    {"ObjectHolderSynchronized", "StorageMutex"},
    {"MutexForSlot", "MutexForSlot"},       // a second slot
};

TEST_F(LockOrderTest, TakingAnEarlierOrEqualRankAbortsNamingBoth)
{
    for (const Inversion& row : kInversions) {
        auto held = Named(row.held);
        auto taken = Named(row.taken);
        const std::string message = std::string("lock order violated: taking \"") + row.taken +
                                    "\" \\(rank [0-9]+\\) while holding \"" + row.held + "\"";
        EXPECT_DEATH(
            {
                MutexIntf::Guard outer(*held, "outer");
                MutexIntf::Guard inner(*taken, "inner");
            },
            message)
            << row.held << " then " << row.taken;
    }
}

TEST_F(LockOrderTest, TwoSessionCallLocksOnOneThreadAbort)
{
    vdk::RankedRecursiveMutex first(LockRank::kSessionCall, "SessionCall");
    vdk::RankedRecursiveMutex second(LockRank::kSessionCall, "SessionCall");
    EXPECT_DEATH(
        {
            std::lock_guard<vdk::RankedRecursiveMutex> own(first);
            std::lock_guard<vdk::RankedRecursiveMutex> other(second);
        },
        "taking \"SessionCall\" \\(rank 2\\) while holding \"SessionCall\"");
}

TEST_F(LockOrderTest, TheOrderReentryAndTryLocksPass)
{
    vdk::RankedRecursiveMutex session(LockRank::kSessionCall, "SessionCall");
    vdk::RankedRecursiveMutex another(LockRank::kSessionCall, "SessionCall");
    auto slot = Named("MutexForSlot");
    auto operation = Named("mpOperationMutex");
    auto storage = Named("StorageMutex");
    {
        std::lock_guard<vdk::RankedRecursiveMutex> call(session);
        MutexIntf::Guard a(*slot, "slot");
        MutexIntf::Guard b(*operation, "operation");
        MutexIntf::Guard c(*storage, "storage");
        MutexIntf::Guard again(*operation, "re-entry");  // held already: no wait
        std::unique_lock<vdk::RankedRecursiveMutex> tried(another, std::try_to_lock);
        EXPECT_TRUE(tried.owns_lock()) << "a try-lock never waits, so any order is fine";
        EXPECT_EQ(vdk::LockOrder::HeldCount(), 6);
    }
    EXPECT_EQ(vdk::LockOrder::HeldCount(), 0);
    // Released out of order, the rest still counts.
    auto first = std::make_unique<MutexIntf::Guard>(*slot, "first");
    {
        MutexIntf::Guard second(*storage, "second");
        first.reset();
        EXPECT_EQ(vdk::LockOrder::HeldCount(), 1);
    }
    EXPECT_EQ(vdk::LockOrder::HeldCount(), 0);
}

}  // namespace
