// The token library loaded as an application loads it (dlopen, C_GetFunctionList), in a rig
// of its own: real pcscd, vpcd and the simulated token.
#pragma once

#include <dlfcn.h>
#include <gtest/gtest.h>

#include <cstring>
#include <memory>
#include <string>
#include <vector>

#include "ckbase/zr_pkcs11.h"
#include "frozen_cache_clock.h"
#include "rig_gtest.h"

namespace librarytest {

constexpr const char* kSoPin = "87654321";
constexpr const char* kUserPin = "12345678";

inline std::vector<std::string> InitialisedToken(std::vector<std::string> more = {}) {
    std::vector<std::string> options = {"--serial", "ZRDRV2SIM0000001", "--so-pin", kSoPin, "--user-pin", kUserPin};
    options.insert(options.end(), more.begin(), more.end());
    return options;
}

inline std::string Field(const CK_UTF8CHAR* bytes, size_t width) {
    return std::string(reinterpret_cast<const char*>(bytes), width);
}

inline std::string Padded(const std::string& text, size_t width) { return text + std::string(width - text.size(), ' '); }

class ModuleRigTest : public ::testing::Test {
public:
    using SetLibraryAttributesFn = CK_RV (*)(CK_ATTRIBUTE_PTR, CK_ULONG);

    void StartRig(std::vector<std::vector<std::string>> simulators = {InitialisedToken()}) {
        ZR_REQUIRE_RIG();
        tokensim::rig::RigOptions options;
        options.simulators = std::move(simulators);
        rig = std::make_unique<tokensim::rig::Rig>(options);
    }

#ifdef ZR_REAL_MODULE
    void LoadModule(const std::string& path = ZR_REAL_MODULE) {
        // Kept mapped after dlclose: the driver keeps its lost-session list for the whole process.
        module = dlopen(path.c_str(), RTLD_NOW | RTLD_LOCAL | RTLD_NODELETE);
        ASSERT_NE(module, nullptr) << dlerror();
        auto getList = reinterpret_cast<CK_C_GetFunctionList>(dlsym(module, "C_GetFunctionList"));
        ASSERT_NE(getList, nullptr);
        ASSERT_EQ(getList(&p11), CKR_OK);
        setAttributes = reinterpret_cast<SetLibraryAttributesFn>(dlsym(module, "C_SetLibraryAttributes"));
        ASSERT_NE(setAttributes, nullptr);
    }

    // Rig, module and C_Initialize with the configuration text (null: none).
    void Start(const char* configuration = nullptr,
               std::vector<std::vector<std::string>> simulators = {InitialisedToken()}) {
        StartRig(std::move(simulators));
        if (IsSkipped() || HasFatalFailure()) return;
        LoadModule();
        ASSERT_EQ(Initialize(configuration), CKR_OK);
    }
#endif

    CK_RV Initialize(const char* configuration) {
        CK_C_INITIALIZE_ARGS args{};
        args.flags = CKF_OS_LOCKING_OK;
        args.pReserved = const_cast<char*>(configuration);
        const CK_RV rv = p11->C_Initialize(&args);
        initialized = rv == CKR_OK;
        return rv;
    }

    void TearDown() override {
        if (p11 != nullptr && initialized) p11->C_Finalize(nullptr);
        if (module != nullptr) dlclose(module);
        rig.reset();
    }

    CK_SESSION_HANDLE Open(CK_SLOT_ID slot = 0, bool readWrite = true) {
        CK_SESSION_HANDLE session = 0;
        const CK_FLAGS flags = CKF_SERIAL_SESSION | (readWrite ? CKF_RW_SESSION : 0);
        EXPECT_EQ(p11->C_OpenSession(slot, flags, nullptr, nullptr, &session), CKR_OK);
        return session;
    }

    CK_RV Login(CK_SESSION_HANDLE session, CK_USER_TYPE user, const std::string& pin) {
        return p11->C_Login(session, user, reinterpret_cast<CK_UTF8CHAR_PTR>(const_cast<char*>(pin.data())),
                            pin.size());
    }

    CK_RV SetPin(CK_SESSION_HANDLE session, const std::string& oldPin, const std::string& newPin) {
        return p11->C_SetPIN(session, reinterpret_cast<CK_UTF8CHAR_PTR>(const_cast<char*>(oldPin.data())),
                             oldPin.size(), reinterpret_cast<CK_UTF8CHAR_PTR>(const_cast<char*>(newPin.data())),
                             newPin.size());
    }

    std::unique_ptr<tokensim::rig::Rig> rig;
    void* module = nullptr;
    CK_FUNCTION_LIST_PTR p11 = nullptr;
    SetLibraryAttributesFn setAttributes = nullptr;
    bool initialized = false;
};

}  // namespace librarytest
