// Mutexes over the application's callbacks: the library re-takes its mutexes on one thread,
// so only the outermost Lock and Unlock may reach a callback.
#include <gtest/gtest.h>


#include "ckbase/exception.h"
#include "cryptoki/library_frame.h"

namespace {

struct Calls {
    int created = 0, destroyed = 0, locked = 0, unlocked = 0;
    bool held = false;
};
Calls gCalls;

CK_RV Create(CK_VOID_PTR_PTR mutex) {
    *mutex = &gCalls;
    ++gCalls.created;
    return CKR_OK;
}
CK_RV Destroy(CK_VOID_PTR) {
    ++gCalls.destroyed;
    return CKR_OK;
}
// Non-recursive: a second lock by the holder is an error.
CK_RV Lock(CK_VOID_PTR) {
    if (gCalls.held) return CKR_MUTEX_BAD;
    gCalls.held = true;
    ++gCalls.locked;
    return CKR_OK;
}
CK_RV Unlock(CK_VOID_PTR) {
    if (!gCalls.held) return CKR_MUTEX_NOT_LOCKED;
    gCalls.held = false;
    ++gCalls.unlocked;
    return CKR_OK;
}

TEST(ApplicationMutexTest, ReentryIsCountedNotPassedOn) {
    gCalls = Calls();
    CK_C_INITIALIZE_ARGS args = {Create, Destroy, Lock, Unlock, 0, nullptr};
    zrck::AppMultithreadSup callbacks(args);
    zrck::MutexCryptokiFactory::SetupFactory(&callbacks);
    {
        std::unique_ptr<vdk::MutexIntf> mutex(zrck::MutexCryptokiFactory::GenerateLocalMutex("test", 1));
        EXPECT_EQ(1, gCalls.created);
        mutex->Lock();
        mutex->Lock();
        mutex->Unlock();
        EXPECT_TRUE(gCalls.held);
        mutex->Unlock();
        EXPECT_FALSE(gCalls.held);
        EXPECT_EQ(1, gCalls.locked);
        EXPECT_EQ(1, gCalls.unlocked);
        // Unlocking a mutex this thread does not hold is refused, not passed on.
        EXPECT_THROW(mutex->Unlock(), zrck::Exception);
        EXPECT_EQ(1, gCalls.unlocked);
    }
    EXPECT_EQ(1, gCalls.destroyed);
    zrck::MutexCryptokiFactory::SetupFactory(nullptr);
}

TEST(ApplicationMutexTest, CallbackFailuresBecomeTheirCodes) {
    CK_C_INITIALIZE_ARGS args = {[](CK_VOID_PTR_PTR) -> CK_RV { return CKR_HOST_MEMORY; }, Destroy, Lock, Unlock, 0,
                                 nullptr};
    zrck::AppMultithreadSup callbacks(args);
    zrck::MutexCryptokiFactory::SetupFactory(&callbacks);
    try {
        delete zrck::MutexCryptokiFactory::GenerateLocalMutex("test", 1);
        ADD_FAILURE() << "no exception";
    } catch (const zrck::Exception& e) {
        EXPECT_EQ(CKR_HOST_MEMORY, e.GetCode());
    }
    zrck::MutexCryptokiFactory::SetupFactory(nullptr);
}

}  // namespace
