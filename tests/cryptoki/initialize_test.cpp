// C_Initialize and C_Finalize: locking models, counting, and every function before them.
#include <atomic>
#include <mutex>
#include <thread>
#include <vector>

#include "module_fixture.h"

namespace {

// Application mutexes that refuse re-entry by their owner, as a plain OS mutex would deadlock.
struct AppMutex {
    std::mutex mutex;
    std::atomic<std::thread::id> owner{};
};

std::atomic<int> gCreated{0};
std::atomic<int> gLocked{0};
std::atomic<int> gReentered{0};
std::atomic<bool> gFailCreate{false};

CK_RV AppCreate(CK_VOID_PTR_PTR mutex) {
    if (gFailCreate.load()) return CKR_HOST_MEMORY;
    *mutex = new AppMutex();
    ++gCreated;
    return CKR_OK;
}
CK_RV AppDestroy(CK_VOID_PTR mutex) {
    delete static_cast<AppMutex*>(mutex);
    --gCreated;
    return CKR_OK;
}
CK_RV AppLock(CK_VOID_PTR mutex) {
    auto* m = static_cast<AppMutex*>(mutex);
    if (m->owner.load() == std::this_thread::get_id()) {
        ++gReentered;
        return CKR_MUTEX_BAD;
    }
    m->mutex.lock();
    m->owner.store(std::this_thread::get_id());
    ++gLocked;
    return CKR_OK;
}
CK_RV AppUnlock(CK_VOID_PTR mutex) {
    auto* m = static_cast<AppMutex*>(mutex);
    if (m->owner.load() != std::this_thread::get_id()) return CKR_MUTEX_NOT_LOCKED;
    m->owner.store(std::thread::id());
    m->mutex.unlock();
    return CKR_OK;
}

class InitializeTest : public ModuleTest {
protected:
    void SetUp() override {
        ModuleTest::SetUp();
        gCreated = 0;
        gLocked = 0;
        gReentered = 0;
        gFailCreate = false;
    }
    CK_C_INITIALIZE_ARGS Callbacks(int count, CK_FLAGS flags) {
        CK_C_INITIALIZE_ARGS args = {nullptr, nullptr, nullptr, nullptr, flags, nullptr};
        if (count > 0) args.CreateMutex = AppCreate;
        if (count > 1) args.DestroyMutex = AppDestroy;
        if (count > 2) args.LockMutex = AppLock;
        if (count > 3) args.UnlockMutex = AppUnlock;
        return args;
    }
};

struct LockingCase {
    int callbacks;
    CK_FLAGS flags;
    CK_RV expected;
    CK_ULONG mode;
    const char* name;
};

class LockingModelTest : public InitializeTest, public ::testing::WithParamInterface<LockingCase> {};

TEST_P(LockingModelTest, ChosenFromArguments) {
    CK_C_INITIALIZE_ARGS args = Callbacks(GetParam().callbacks, GetParam().flags);
    EXPECT_EQ(GetParam().expected, p11->C_Initialize(&args));
    if (GetParam().expected != CKR_OK) {
        // Nothing was counted: a normal C_Initialize follows.
        EXPECT_EQ(CKR_OK, p11->C_Initialize(nullptr));
        EXPECT_EQ(0u, module.lockingMode());
        return;
    }
    EXPECT_EQ(GetParam().mode, module.lockingMode());
    // Every model locks: a caller that promised one thread at a time may break the promise.
    EXPECT_TRUE(module.mutexesExclude());
    CK_SESSION_HANDLE session = Open(0);
    EXPECT_EQ(CKR_OK, p11->C_CloseSession(session));
    const bool appMutexes = GetParam().mode == 2;
    EXPECT_EQ(appMutexes, gCreated.load() > 0);
    EXPECT_EQ(appMutexes, gLocked.load() > 0);
    EXPECT_EQ(0, gReentered.load());
    EXPECT_EQ(CKR_OK, p11->C_Finalize(nullptr));
    EXPECT_EQ(0, gCreated.load());  // every application mutex destroyed again
}

INSTANTIATE_TEST_SUITE_P(
    Initialize, LockingModelTest,
    ::testing::Values(LockingCase{0, 0, CKR_OK, 0, "NoLocking"},
                      LockingCase{0, CKF_OS_LOCKING_OK, CKR_OK, 1, "OwnLocking"},
                      LockingCase{4, 0, CKR_OK, 2, "ApplicationCallbacks"},
                      LockingCase{4, CKF_OS_LOCKING_OK, CKR_OK, 3, "OwnLockingDespiteCallbacks"},
                      LockingCase{0, CKF_LIBRARY_CANT_CREATE_OS_THREADS, CKR_OK, 0, "NoThreadsNeeded"},
                      LockingCase{1, 0, CKR_ARGUMENTS_BAD, 0, "OneCallback"},
                      LockingCase{2, CKF_OS_LOCKING_OK, CKR_ARGUMENTS_BAD, 0, "TwoCallbacks"},
                      LockingCase{3, 0, CKR_ARGUMENTS_BAD, 0, "ThreeCallbacks"}),
    [](const ::testing::TestParamInfo<LockingCase>& info) { return std::string(info.param.name); });

TEST_F(InitializeTest, FailingApplicationCreateMutexUndoesTheInitialization) {
    gFailCreate = true;
    CK_C_INITIALIZE_ARGS args = Callbacks(4, 0);
    EXPECT_EQ(CKR_HOST_MEMORY, p11->C_Initialize(&args));
    CK_ULONG count = 0;
    EXPECT_EQ(CKR_CRYPTOKI_NOT_INITIALIZED, p11->C_GetSlotList(CK_FALSE, nullptr, &count));
    EXPECT_EQ(CKR_CRYPTOKI_NOT_INITIALIZED, p11->C_Finalize(nullptr));
    gFailCreate = false;
    EXPECT_EQ(CKR_OK, p11->C_Initialize(&args));
    EXPECT_EQ(2u, module.lockingMode());
}

TEST_F(InitializeTest, NestedCallsAreCountedAndTheLastFinalizeDeletesTheLibrary) {
    Initialize();
    CK_C_INITIALIZE_ARGS other = Callbacks(4, 0);
    EXPECT_EQ(CKR_OK, p11->C_Initialize(&other));  // nested: arguments not looked at
    EXPECT_EQ(1u, module.lockingMode());
    EXPECT_EQ(CKR_OK, p11->C_Finalize(nullptr));
    CK_INFO info;
    EXPECT_EQ(CKR_OK, p11->C_GetInfo(&info));
    EXPECT_EQ(2, info.cryptokiVersion.major);
    EXPECT_EQ(30, info.cryptokiVersion.minor);
    EXPECT_EQ(CKR_OK, p11->C_Finalize(nullptr));
    EXPECT_FALSE(module.libraryExists());
    EXPECT_EQ(CKR_CRYPTOKI_NOT_INITIALIZED, p11->C_Finalize(nullptr));
    EXPECT_FALSE(module.libraryExists());
}

TEST_F(InitializeTest, NestedCallAskingForTheApplicationsLocksIsRefusedWhenTheLibraryUsesItsOwn) {
    EXPECT_EQ(CKR_OK, p11->C_Initialize(nullptr));
    CK_C_INITIALIZE_ARGS callbacks = Callbacks(4, 0);
    EXPECT_EQ(CKR_CRYPTOKI_ALREADY_INITIALIZED, p11->C_Initialize(&callbacks));
    // The library's own locks are what a nested call asking for OS locking gets: counted.
    CK_C_INITIALIZE_ARGS locking = Callbacks(0, CKF_OS_LOCKING_OK);
    EXPECT_EQ(CKR_OK, p11->C_Initialize(&locking));
    EXPECT_EQ(CKR_OK, p11->C_Initialize(nullptr));
    // Three counted calls, three finalizations.
    EXPECT_EQ(CKR_OK, p11->C_Finalize(nullptr));
    EXPECT_EQ(CKR_OK, p11->C_Finalize(nullptr));
    EXPECT_TRUE(module.libraryExists());
    EXPECT_EQ(CKR_OK, p11->C_Finalize(nullptr));
    EXPECT_FALSE(module.libraryExists());
}

TEST_F(InitializeTest, ReinitializationFollowsTheNewLockingModel) {
    CK_C_INITIALIZE_ARGS args = Callbacks(4, 0);
    ASSERT_EQ(CKR_OK, p11->C_Initialize(&args));
    ASSERT_EQ(CKR_OK, p11->C_Finalize(nullptr));
    const int locksBefore = gLocked.load();
    Initialize(CKF_OS_LOCKING_OK);
    EXPECT_EQ(1u, module.lockingMode());
    CK_SESSION_HANDLE session = Open(0);
    EXPECT_EQ(CKR_OK, p11->C_CloseSession(session));
    EXPECT_EQ(locksBefore, gLocked.load());
}

// Every function before C_Initialize.
TEST_F(InitializeTest, EveryFunctionBeforeInitialize) {
    CK_ULONG count = 0, length = 0;
    CK_SLOT_ID slot = 0;
    CK_INFO info;
    CK_SLOT_INFO slotInfo;
    CK_TOKEN_INFO tokenInfo;
    CK_MECHANISM_INFO mechanismInfo;
    CK_SESSION_INFO sessionInfo;
    CK_SESSION_HANDLE session = 0;
    CK_OBJECT_HANDLE object = 0, second = 0;
    CK_BYTE bytes[16] = {0};
    CK_UTF8CHAR pin[] = "123456";
    CK_UTF8CHAR label[32] = {0};
    CK_MECHANISM mechanism = {CKM_SHA_1, nullptr, 0};
    CK_ATTRIBUTE attribute = {CKA_LABEL, bytes, sizeof bytes};
    const CK_RV notInit = CKR_CRYPTOKI_NOT_INITIALIZED;
    EXPECT_EQ(notInit, p11->C_Finalize(nullptr));
    EXPECT_EQ(notInit, p11->C_GetInfo(&info));
    EXPECT_EQ(notInit, p11->C_GetSlotList(CK_TRUE, nullptr, &count));
    EXPECT_EQ(notInit, p11->C_GetSlotInfo(0, &slotInfo));
    EXPECT_EQ(notInit, p11->C_GetTokenInfo(0, &tokenInfo));
    EXPECT_EQ(notInit, p11->C_WaitForSlotEvent(CKF_DONT_BLOCK, &slot, nullptr));
    EXPECT_EQ(notInit, p11->C_GetMechanismList(0, nullptr, &count));
    EXPECT_EQ(notInit, p11->C_GetMechanismInfo(0, CKM_SHA_1, &mechanismInfo));
    EXPECT_EQ(notInit, p11->C_InitToken(0, pin, 6, label));
    EXPECT_EQ(notInit, p11->C_InitPIN(1, pin, 6));
    EXPECT_EQ(notInit, p11->C_SetPIN(1, pin, 6, pin, 6));
    EXPECT_EQ(notInit, p11->C_OpenSession(0, CKF_SERIAL_SESSION, nullptr, nullptr, &session));
    EXPECT_EQ(notInit, p11->C_CloseSession(1));
    EXPECT_EQ(notInit, p11->C_CloseAllSessions(0));
    EXPECT_EQ(notInit, p11->C_GetSessionInfo(1, &sessionInfo));
    EXPECT_EQ(notInit, p11->C_GetOperationState(1, nullptr, &length));
    EXPECT_EQ(notInit, p11->C_SetOperationState(1, bytes, sizeof bytes, 0, 0));
    EXPECT_EQ(notInit, p11->C_Login(1, CKU_USER, pin, 6));
    EXPECT_EQ(notInit, p11->C_Logout(1));
    EXPECT_EQ(notInit, p11->C_CreateObject(1, &attribute, 1, &object));
    EXPECT_EQ(notInit, p11->C_CopyObject(1, 1, &attribute, 1, &object));
    EXPECT_EQ(notInit, p11->C_DestroyObject(1, 1));
    EXPECT_EQ(notInit, p11->C_GetObjectSize(1, 1, &length));
    EXPECT_EQ(notInit, p11->C_GetAttributeValue(1, 1, &attribute, 1));
    EXPECT_EQ(notInit, p11->C_SetAttributeValue(1, 1, &attribute, 1));
    EXPECT_EQ(notInit, p11->C_FindObjectsInit(1, &attribute, 1));
    EXPECT_EQ(notInit, p11->C_FindObjects(1, &object, 1, &count));
    EXPECT_EQ(notInit, p11->C_FindObjectsFinal(1));
    EXPECT_EQ(notInit, p11->C_EncryptInit(1, &mechanism, 1));
    EXPECT_EQ(notInit, p11->C_Encrypt(1, bytes, 1, bytes, &length));
    EXPECT_EQ(notInit, p11->C_EncryptUpdate(1, bytes, 1, bytes, &length));
    EXPECT_EQ(notInit, p11->C_EncryptFinal(1, bytes, &length));
    EXPECT_EQ(notInit, p11->C_DecryptInit(1, &mechanism, 1));
    EXPECT_EQ(notInit, p11->C_Decrypt(1, bytes, 1, bytes, &length));
    EXPECT_EQ(notInit, p11->C_DecryptUpdate(1, bytes, 1, bytes, &length));
    EXPECT_EQ(notInit, p11->C_DecryptFinal(1, bytes, &length));
    EXPECT_EQ(notInit, p11->C_DigestInit(1, &mechanism));
    EXPECT_EQ(notInit, p11->C_Digest(1, bytes, 1, bytes, &length));
    EXPECT_EQ(notInit, p11->C_DigestUpdate(1, bytes, 1));
    EXPECT_EQ(notInit, p11->C_DigestKey(1, 1));
    EXPECT_EQ(notInit, p11->C_DigestFinal(1, bytes, &length));
    EXPECT_EQ(notInit, p11->C_SignInit(1, &mechanism, 1));
    EXPECT_EQ(notInit, p11->C_Sign(1, bytes, 1, bytes, &length));
    EXPECT_EQ(notInit, p11->C_SignUpdate(1, bytes, 1));
    EXPECT_EQ(notInit, p11->C_SignFinal(1, bytes, &length));
    EXPECT_EQ(notInit, p11->C_SignRecoverInit(1, &mechanism, 1));
    EXPECT_EQ(notInit, p11->C_SignRecover(1, bytes, 1, bytes, &length));
    EXPECT_EQ(notInit, p11->C_VerifyInit(1, &mechanism, 1));
    EXPECT_EQ(notInit, p11->C_Verify(1, bytes, 1, bytes, 1));
    EXPECT_EQ(notInit, p11->C_VerifyUpdate(1, bytes, 1));
    EXPECT_EQ(notInit, p11->C_VerifyFinal(1, bytes, 1));
    EXPECT_EQ(notInit, p11->C_VerifyRecoverInit(1, &mechanism, 1));
    EXPECT_EQ(notInit, p11->C_VerifyRecover(1, bytes, 1, bytes, &length));
    EXPECT_EQ(notInit, p11->C_DigestEncryptUpdate(1, bytes, 1, bytes, &length));
    EXPECT_EQ(notInit, p11->C_DecryptDigestUpdate(1, bytes, 1, bytes, &length));
    EXPECT_EQ(notInit, p11->C_SignEncryptUpdate(1, bytes, 1, bytes, &length));
    EXPECT_EQ(notInit, p11->C_DecryptVerifyUpdate(1, bytes, 1, bytes, &length));
    EXPECT_EQ(notInit, p11->C_GenerateKey(1, &mechanism, &attribute, 1, &object));
    EXPECT_EQ(notInit, p11->C_GenerateKeyPair(1, &mechanism, &attribute, 1, &attribute, 1, &object, &second));
    EXPECT_EQ(notInit, p11->C_WrapKey(1, &mechanism, 1, 2, bytes, &length));
    EXPECT_EQ(notInit, p11->C_UnwrapKey(1, &mechanism, 1, bytes, 1, &attribute, 1, &object));
    EXPECT_EQ(notInit, p11->C_DeriveKey(1, &mechanism, 1, &attribute, 1, &object));
    EXPECT_EQ(notInit, p11->C_SeedRandom(1, bytes, 1));
    EXPECT_EQ(notInit, p11->C_GenerateRandom(1, bytes, 1));
    // Argument checks come first where they are listed first.
    EXPECT_EQ(CKR_ARGUMENTS_BAD, p11->C_OpenSession(0, CKF_SERIAL_SESSION, nullptr, nullptr, nullptr));
    EXPECT_EQ(CKR_SESSION_PARALLEL_NOT_SUPPORTED, p11->C_OpenSession(0, 0, nullptr, nullptr, &session));
    EXPECT_EQ(CKR_ARGUMENTS_BAD, p11->C_WaitForSlotEvent(0, nullptr, nullptr));
    EXPECT_EQ(CKR_ARGUMENTS_BAD, p11->C_GetSlotList(CK_FALSE, nullptr, nullptr));
}

TEST_F(InitializeTest, WaitForSlotEventIsNotSupported) {
    Initialize();
    CK_SLOT_ID slot = 0;
    EXPECT_EQ(CKR_FUNCTION_NOT_SUPPORTED, p11->C_WaitForSlotEvent(CKF_DONT_BLOCK, &slot, nullptr));
}

}  // namespace

namespace {

// A nested C_Initialize returns only once the library is usable, so a thread may call right
// after it even while another thread's first C_Initialize runs.
TEST_F(InitializeTest, ConcurrentInitializationsReturnAUsableLibrary) {
    for (int round = 0; round < 20; ++round) {
        std::atomic<int> failures{0};
        std::vector<std::thread> threads;
        for (int t = 0; t < 4; ++t) {
            threads.emplace_back([&] {
                CK_C_INITIALIZE_ARGS args = {nullptr, nullptr, nullptr, nullptr, CKF_OS_LOCKING_OK, nullptr};
                CK_ULONG count = 0;
                if (p11->C_Initialize(&args) != CKR_OK) ++failures;
                if (p11->C_GetSlotList(CK_FALSE, nullptr, &count) != CKR_OK || count != 2) ++failures;
            });
        }
        for (auto& thread : threads) thread.join();
        EXPECT_EQ(0, failures.load());
        for (int t = 0; t < 4; ++t) EXPECT_EQ(CKR_OK, p11->C_Finalize(nullptr));
        EXPECT_FALSE(module.libraryExists());
    }
}

}  // namespace
