#include "module_fixture.h"

#include <dlfcn.h>

#include <cstdlib>

namespace {
template <class T>
T Symbol(void* handle, const char* name) {
    void* symbol = dlsym(handle, name);
    if (symbol == nullptr) {
        std::fprintf(stderr, "fake module lacks %s\n", name);
        std::abort();
    }
    return reinterpret_cast<T>(symbol);
}
}  // namespace

FakeModule& FakeModule::Get() {
    static FakeModule module = [] {
        FakeModule loaded;
        loaded.handle = dlopen(ZR_FAKE_MODULE, RTLD_NOW | RTLD_LOCAL);
        if (loaded.handle == nullptr) {
            std::fprintf(stderr, "%s\n", dlerror());
            std::abort();
        }
        loaded.getFunctionList = Symbol<CK_C_GetFunctionList>(loaded.handle, "C_GetFunctionList");
        loaded.setLibraryAttributes = Symbol<CK_C_SetLibraryAttributes>(loaded.handle, "C_SetLibraryAttributes");
        loaded.configure = Symbol<ZrFake_Configure_t>(loaded.handle, "ZrFake_Configure");
        loaded.defaultConfig = Symbol<ZrFake_DefaultConfig_t>(loaded.handle, "ZrFake_DefaultConfig");
        loaded.removeToken = Symbol<ZrFake_SlotControl_t>(loaded.handle, "ZrFake_RemoveToken");
        loaded.insertToken = Symbol<ZrFake_SlotControl_t>(loaded.handle, "ZrFake_InsertToken");
        loaded.setCreatorHook = Symbol<ZrFake_SetCreatorHook_t>(loaded.handle, "ZrFake_SetCreatorHook");
        loaded.libraryExists = Symbol<ZrFake_LibraryExists_t>(loaded.handle, "ZrFake_LibraryExists");
        loaded.lockingMode = Symbol<ZrFake_LockingMode_t>(loaded.handle, "ZrFake_LockingMode");
        loaded.mutexesExclude = Symbol<ZrFake_MutexesExclude_t>(loaded.handle, "ZrFake_MutexesExclude");
        loaded.setGetInfoThrow = Symbol<ZrFake_SetGetInfoThrow_t>(loaded.handle, "ZrFake_SetGetInfoThrow");
        loaded.tokenUpdates = Symbol<ZrFake_TokenUpdates_t>(loaded.handle, "ZrFake_TokenUpdates");
        loaded.slotRefreshes = Symbol<ZrFake_SlotRefreshes_t>(loaded.handle, "ZrFake_SlotRefreshes");
        if (loaded.getFunctionList(&loaded.p11) != CKR_OK) std::abort();
        return loaded;
    }();
    return module;
}

void ModuleTest::SetUp() {
    ZrFakeConfig config;
    module.defaultConfig(&config);
    module.configure(&config);
    module.setCreatorHook(CK_TRUE);
    module.setGetInfoThrow(ZR_FAKE_THROW_NONE);
}

void ModuleTest::TearDown() {
    module.setCreatorHook(CK_TRUE);
    module.setGetInfoThrow(ZR_FAKE_THROW_NONE);
    for (int i = 0; i < 100 && module.libraryExists(); ++i) p11->C_Finalize(nullptr);
    EXPECT_FALSE(module.libraryExists());
}

void ModuleTest::Initialize(CK_FLAGS flags) {
    CK_C_INITIALIZE_ARGS args = {nullptr, nullptr, nullptr, nullptr, flags, nullptr};
    ASSERT_EQ(CKR_OK, p11->C_Initialize(&args));
}

void ModuleTest::Configure(CK_ULONG slots, CK_ULONG presentMask, CK_ULONG maxSessions, CK_ULONG maxRw, bool readOnly,
                           bool userPinInitialized) {
    ZrFakeConfig config = {slots, presentMask, maxSessions, maxRw, static_cast<CK_BBOOL>(readOnly ? CK_TRUE : CK_FALSE),
                           static_cast<CK_BBOOL>(userPinInitialized ? CK_TRUE : CK_FALSE)};
    module.configure(&config);
}

CK_SESSION_HANDLE ModuleTest::Open(CK_SLOT_ID slot, CK_FLAGS flags) {
    CK_SESSION_HANDLE session = 0;
    EXPECT_EQ(CKR_OK, p11->C_OpenSession(slot, flags, nullptr, nullptr, &session));
    return session;
}

CK_SESSION_INFO ModuleTest::SessionInfo(CK_SESSION_HANDLE session) {
    CK_SESSION_INFO info{};
    EXPECT_EQ(CKR_OK, p11->C_GetSessionInfo(session, &info));
    return info;
}

CK_TOKEN_INFO ModuleTest::TokenInfo(CK_SLOT_ID slot) {
    CK_TOKEN_INFO info{};
    EXPECT_EQ(CKR_OK, p11->C_GetTokenInfo(slot, &info));
    return info;
}

CK_RV ModuleTest::Login(CK_SESSION_HANDLE session, CK_USER_TYPE user, const std::string& pin) {
    return p11->C_Login(session, user, reinterpret_cast<CK_UTF8CHAR_PTR>(const_cast<char*>(pin.data())), pin.size());
}

std::string Trimmed(const CK_UTF8CHAR* field, size_t width) {
    std::string text(reinterpret_cast<const char*>(field), width);
    return text.substr(0, text.find_last_not_of(' ') + 1);
}
