#include "tru2/nix/semaphore.h"

#include "tru2/exception.h"

#include <gtest/gtest.h>

#include <sys/stat.h>
#include <unistd.h>

#include <string>

namespace {

constexpr tru::TResult kErrorInternal = tru::ERROR_INTERNAL;

class SemaphoreTest : public ::testing::Test {
protected:
    void SetUp() override { nix::Semaphore::Unlink(name_.c_str()); }
    void TearDown() override { nix::Semaphore::Unlink(name_.c_str()); }
    const std::string name_ = "/zr-semaphore-test-" + std::to_string(getpid());
};

TEST_F(SemaphoreTest, OperationsOnClosedSemaphoreFail)
{
    nix::Semaphore sem(name_.c_str());
    EXPECT_FALSE(sem.IsOpen());
    EXPECT_EQ(sem.WaitAndOwn(0), kErrorInternal);
    EXPECT_EQ(sem.Release(), kErrorInternal);
    try {
        nix::Semaphore::Guard guard(sem, 0);
        ADD_FAILURE() << "guard over a closed semaphore";
    } catch (const tru::Exception& e) {
        EXPECT_EQ(e.GetCode(), kErrorInternal);
    }
}

TEST_F(SemaphoreTest, CreatedOwnerOnlyAndActsAsBinaryLockAcrossHandles)
{
    nix::Semaphore first(name_.c_str());
    ASSERT_EQ(first.CreateShared(), 0u);
    EXPECT_EQ(first.CreateShared(), kErrorInternal) << "second open of one wrapper";

    struct stat st {};
    ASSERT_EQ(stat(("/dev/shm/sem." + name_.substr(1)).c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 0777, 0600u);

    nix::Semaphore second(name_.c_str());
    ASSERT_EQ(second.CreateShared(), 0u);
    ASSERT_EQ(first.WaitAndOwn(0), 0u);
    sem_t* raw = sem_open(name_.c_str(), 0);
    ASSERT_NE(raw, SEM_FAILED);
    EXPECT_NE(sem_trywait(raw), 0) << "held by first, so not free";
    EXPECT_EQ(first.Release(), 0u);
    EXPECT_EQ(sem_trywait(raw), 0);
    sem_post(raw);
    {
        nix::Semaphore::Guard guard(second, 0);
        EXPECT_NE(sem_trywait(raw), 0) << "held by the guard";
    }
    EXPECT_EQ(sem_trywait(raw), 0) << "released by the guard";
    sem_post(raw);
    sem_close(raw);
}

}  // namespace
