// Loads the fake-token module once and hands its function list and controls to the tests.
#ifndef ZR_TESTS_MODULE_FIXTURE_H
#define ZR_TESTS_MODULE_FIXTURE_H

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "fake_module_control.h"

struct FakeModule {
    void* handle = nullptr;
    CK_FUNCTION_LIST_PTR p11 = nullptr;
    CK_C_GetFunctionList getFunctionList = nullptr;
    CK_C_SetLibraryAttributes setLibraryAttributes = nullptr;
    ZrFake_Configure_t configure = nullptr;
    ZrFake_DefaultConfig_t defaultConfig = nullptr;
    ZrFake_SlotControl_t removeToken = nullptr;
    ZrFake_SlotControl_t insertToken = nullptr;
    ZrFake_SetCreatorHook_t setCreatorHook = nullptr;
    ZrFake_LibraryExists_t libraryExists = nullptr;
    ZrFake_LockingMode_t lockingMode = nullptr;
    ZrFake_MutexesExclude_t mutexesExclude = nullptr;
    ZrFake_SetGetInfoThrow_t setGetInfoThrow = nullptr;
    ZrFake_TokenUpdates_t tokenUpdates = nullptr;
    ZrFake_SlotRefreshes_t slotRefreshes = nullptr;

    static FakeModule& Get();
};

// Every test starts with a library object that is not initialised and the default
// configuration, and leaves the module the same way.
class ModuleTest : public ::testing::Test {
protected:
    void SetUp() override;
    void TearDown() override;

    // C_Initialize with the given flags and no callbacks.
    void Initialize(CK_FLAGS flags = CKF_OS_LOCKING_OK);
    void Configure(CK_ULONG slots, CK_ULONG presentMask, CK_ULONG maxSessions = 100, CK_ULONG maxRw = 100,
                   bool readOnly = false, bool userPinInitialized = true);
    CK_SESSION_HANDLE Open(CK_SLOT_ID slot, CK_FLAGS flags = CKF_SERIAL_SESSION | CKF_RW_SESSION);
    CK_SESSION_INFO SessionInfo(CK_SESSION_HANDLE session);
    CK_TOKEN_INFO TokenInfo(CK_SLOT_ID slot);
    CK_RV Login(CK_SESSION_HANDLE session, CK_USER_TYPE user, const std::string& pin);

    FakeModule& module = FakeModule::Get();
    CK_FUNCTION_LIST_PTR p11 = FakeModule::Get().p11;
};

std::string Trimmed(const CK_UTF8CHAR* field, size_t width);

#endif  // ZR_TESTS_MODULE_FIXTURE_H
