// The token library through its C functions against the simulated token: slots and token
// information, login and PIN rules, removal and return, configuration, vendor attributes.
#include <PCSC/winscard.h>

#include <chrono>
#include <cstdlib>
#include <functional>

#include "keygen_process.h"
#include "module_rig_fixture.h"

using namespace librarytest;

namespace {

class ModuleRig : public ModuleRigTest {};

// Set by a sanitizer build: a leak check now, without ending the process (non-zero: leaks).
extern "C" int __lsan_do_recoverable_leak_check() __attribute__((weak));

TEST_F(ModuleRig, ReadersBecomeSlotsWithTheirTokens) {
    Start();
    if (IsSkipped() || HasFatalFailure()) return;
    CK_INFO info;
    ASSERT_EQ(p11->C_GetInfo(&info), CKR_OK);
    EXPECT_EQ(Field(info.manufacturerID, 32), Padded("ZorvaneUA plc", 32));
    EXPECT_EQ(Field(info.libraryDescription, 32), Padded("Zorvane Cryptoki QEL Token", 32));
    EXPECT_EQ(info.libraryVersion.major, 1);
    EXPECT_EQ(info.cryptokiVersion.minor, 30);

    CK_ULONG count = 0;
    ASSERT_EQ(p11->C_GetSlotList(CK_FALSE, nullptr, &count), CKR_OK);
    ASSERT_EQ(count, 2u) << "one vpcd entry gives two readers";
    std::vector<CK_SLOT_ID> slots(count);
    ASSERT_EQ(p11->C_GetSlotList(CK_FALSE, slots.data(), &count), CKR_OK);
    EXPECT_EQ(slots, (std::vector<CK_SLOT_ID>{0, 1}));
    CK_ULONG present = 0;
    ASSERT_EQ(p11->C_GetSlotList(CK_TRUE, nullptr, &present), CKR_OK);
    EXPECT_EQ(present, 1u);

    CK_SLOT_INFO slotInfo;
    ASSERT_EQ(p11->C_GetSlotInfo(0, &slotInfo), CKR_OK);
    EXPECT_EQ(Field(slotInfo.slotDescription, 64), Padded(rig->ReaderName(0), 64));
    EXPECT_EQ(slotInfo.flags, static_cast<CK_FLAGS>(CKF_TOKEN_PRESENT | CKF_REMOVABLE_DEVICE | CKF_HW_SLOT));
    EXPECT_EQ(slotInfo.firmwareVersion.major, 1);
    ASSERT_EQ(p11->C_GetSlotInfo(1, &slotInfo), CKR_OK);
    EXPECT_EQ(slotInfo.flags & CKF_TOKEN_PRESENT, 0u);
    EXPECT_EQ(p11->C_GetSlotInfo(9999, &slotInfo), CKR_SLOT_ID_INVALID);

    CK_TOKEN_INFO token;
    std::memset(token.utcTime, 'u', sizeof token.utcTime);
    ASSERT_EQ(p11->C_GetTokenInfo(0, &token), CKR_OK);
    EXPECT_EQ(Field(token.label, 32), Padded("tokensim", 32));
    EXPECT_EQ(Field(token.serialNumber, 16), "ZRDRV2SIM0000001");
    EXPECT_EQ(token.flags & (CKF_RNG | CKF_LOGIN_REQUIRED | CKF_TOKEN_INITIALIZED | CKF_USER_PIN_INITIALIZED),
              static_cast<CK_FLAGS>(CKF_RNG | CKF_LOGIN_REQUIRED | CKF_TOKEN_INITIALIZED | CKF_USER_PIN_INITIALIZED));
    EXPECT_EQ(token.ulMinPinLen, 6u);
    EXPECT_EQ(token.ulMaxPinLen, 80u);
    EXPECT_EQ(token.ulMaxSessionCount, 0u);
    EXPECT_EQ(token.ulTotalPublicMemory, CK_UNAVAILABLE_INFORMATION);
    EXPECT_EQ(token.firmwareVersion.major, 1);
    EXPECT_EQ(token.utcTime[0], 'u') << "the time field is left as the caller gave it";
    EXPECT_EQ(p11->C_GetTokenInfo(1, &token), CKR_TOKEN_NOT_PRESENT);
}

TEST_F(ModuleRig, NewTokenReportsOnlyTheBasicFlags) {
    Start(nullptr, {{"--serial", "NEWTOKEN00000001"}});
    if (IsSkipped() || HasFatalFailure()) return;
    CK_TOKEN_INFO token;
    ASSERT_EQ(p11->C_GetTokenInfo(0, &token), CKR_OK);
    EXPECT_EQ(token.flags & ~static_cast<CK_FLAGS>(CKF_USER_PIN_COUNT_LOW | CKF_USER_PIN_FINAL_TRY),
              static_cast<CK_FLAGS>(CKF_RNG | CKF_LOGIN_REQUIRED));
    EXPECT_EQ(Field(token.label, 32), std::string(32, ' '));
    const CK_SESSION_HANDLE session = Open();
    EXPECT_EQ(Login(session, CKU_USER, kUserPin), CKR_USER_PIN_NOT_INITIALIZED);
}

struct PinCase {
    const char* name;
    std::function<CK_RV(ModuleRigTest&, CK_SESSION_HANDLE)> call;
    CK_RV expected;
};

class PinRules : public ModuleRig, public ::testing::WithParamInterface<PinCase> {};

TEST_P(PinRules, AnswerAsPkcs11Says) {
    Start();
    if (IsSkipped() || HasFatalFailure()) return;
    EXPECT_EQ(GetParam().call(*this, Open()), GetParam().expected);
}

INSTANTIATE_TEST_SUITE_P(
    Cases, PinRules,
    ::testing::Values(
        PinCase{"LoginFiveBytes", [](ModuleRigTest& t, CK_SESSION_HANDLE s) { return t.Login(s, CKU_USER, "12345"); },
                CKR_PIN_INCORRECT},
        PinCase{"LoginEightyOneBytes",
                [](ModuleRigTest& t, CK_SESSION_HANDLE s) { return t.Login(s, CKU_USER, std::string(81, '1')); },
                CKR_PIN_INCORRECT},
        PinCase{"LoginWrongPin", [](ModuleRigTest& t, CK_SESSION_HANDLE s) { return t.Login(s, CKU_USER, "00000000"); },
                CKR_PIN_INCORRECT},
        PinCase{"LoginUser", [](ModuleRigTest& t, CK_SESSION_HANDLE s) { return t.Login(s, CKU_USER, kUserPin); },
                CKR_OK},
        PinCase{"LoginTwiceReachesTheDevice",
                [](ModuleRigTest& t, CK_SESSION_HANDLE s) {
                    t.Login(s, CKU_USER, kUserPin);
                    return t.Login(s, CKU_USER, kUserPin);
                },
                CKR_OK},
        PinCase{"SoWhileUserLoggedIn",
                [](ModuleRigTest& t, CK_SESSION_HANDLE s) {
                    t.Login(s, CKU_USER, kUserPin);
                    return t.Login(s, CKU_SO, kSoPin);
                },
                CKR_USER_ANOTHER_ALREADY_LOGGED_IN},
        PinCase{"UserWhileSoLoggedIn",
                [](ModuleRigTest& t, CK_SESSION_HANDLE s) {
                    t.Login(s, CKU_SO, kSoPin);
                    return t.Login(s, CKU_USER, kUserPin);
                },
                CKR_USER_ANOTHER_ALREADY_LOGGED_IN},
        PinCase{"SoWithReadOnlySessionOpen",
                [](ModuleRigTest& t, CK_SESSION_HANDLE s) {
                    t.Open(0, false);
                    return t.Login(s, CKU_SO, kSoPin);
                },
                CKR_SESSION_READ_ONLY_EXISTS},
        PinCase{"ChangeWithoutLogin",
                [](ModuleRigTest& t, CK_SESSION_HANDLE s) { return t.SetPin(s, kUserPin, "87654320"); },
                CKR_USER_NOT_LOGGED_IN},
        PinCase{"ChangeToFiveBytes",
                [](ModuleRigTest& t, CK_SESSION_HANDLE s) {
                    t.Login(s, CKU_USER, kUserPin);
                    return t.SetPin(s, kUserPin, "12345");
                },
                CKR_PIN_LEN_RANGE},
        PinCase{"ChangeToEightyBytes",
                [](ModuleRigTest& t, CK_SESSION_HANDLE s) {
                    t.Login(s, CKU_USER, kUserPin);
                    return t.SetPin(s, kUserPin, std::string(80, '7'));
                },
                CKR_OK},
        PinCase{"InitPinAsUser",
                [](ModuleRigTest& t, CK_SESSION_HANDLE s) {
                    t.Login(s, CKU_USER, kUserPin);
                    return t.p11->C_InitPIN(s, reinterpret_cast<CK_UTF8CHAR_PTR>(const_cast<char*>("99999999")), 8);
                },
                CKR_USER_NOT_LOGGED_IN},
        PinCase{"InitPinShort",
                [](ModuleRigTest& t, CK_SESSION_HANDLE s) {
                    t.Login(s, CKU_SO, kSoPin);
                    return t.p11->C_InitPIN(s, reinterpret_cast<CK_UTF8CHAR_PTR>(const_cast<char*>("99999")), 5);
                },
                CKR_PIN_LEN_RANGE},
        PinCase{"InitTokenShortPin",
                [](ModuleRigTest& t, CK_SESSION_HANDLE s) {
                    t.p11->C_CloseSession(s);
                    CK_UTF8CHAR label[32];
                    std::memset(label, ' ', sizeof label);
                    return t.p11->C_InitToken(0, reinterpret_cast<CK_UTF8CHAR_PTR>(const_cast<char*>("12345")), 5,
                                              label);
                },
                CKR_PIN_LEN_RANGE}),
    [](const ::testing::TestParamInfo<PinCase>& info) { return std::string(info.param.name); });

TEST_F(ModuleRig, SecurityOfficerLogoutForgetsTheSoPin) {
    Start();
    if (IsSkipped() || HasFatalFailure()) return;
    const CK_SESSION_HANDLE session = Open();
    ASSERT_EQ(Login(session, CKU_SO, kSoPin), CKR_OK);
    ASSERT_EQ(p11->C_Logout(session), CKR_OK);
    EXPECT_EQ(p11->C_InitPIN(session, reinterpret_cast<CK_UTF8CHAR_PTR>(const_cast<char*>("99999999")), 8),
              CKR_USER_NOT_LOGGED_IN);
}

TEST_F(ModuleRig, RemovalIsReportedOnceThenTheTokenReturns) {
    FrozenCacheClock clock;
    Start();
    if (IsSkipped() || HasFatalFailure()) return;
    const CK_SESSION_HANDLE session = Open();
    ASSERT_EQ(Login(session, CKU_USER, kUserPin), CKR_OK);
    rig->RemoveCard(0);
    // The storage believes a presence answer for five seconds: let them pass.
    clock.Advance(std::chrono::seconds(6));
    CK_TOKEN_INFO token;
    EXPECT_EQ(p11->C_GetTokenInfo(0, &token), CKR_DEVICE_REMOVED);
    EXPECT_EQ(p11->C_GetTokenInfo(0, &token), CKR_TOKEN_NOT_PRESENT);
    CK_SESSION_INFO sessionInfo;
    EXPECT_NE(p11->C_GetSessionInfo(session, &sessionInfo), CKR_OK) << "the removal closed the session";
    CK_SLOT_INFO slotInfo;
    ASSERT_EQ(p11->C_GetSlotInfo(0, &slotInfo), CKR_OK);
    EXPECT_EQ(slotInfo.flags & CKF_TOKEN_PRESENT, 0u);

    rig->InsertCard(0);
    ASSERT_EQ(p11->C_GetTokenInfo(0, &token), CKR_OK);
    EXPECT_EQ(Field(token.serialNumber, 16), "ZRDRV2SIM0000001");
    const CK_SESSION_HANDLE again = Open();
    EXPECT_EQ(Login(again, CKU_USER, kUserPin), CKR_OK);
}

TEST_F(ModuleRig, UnloadingTheLibraryFreesWhatItKeeps) {
    // The token offers national key agreement, so listing its GOST S-boxes builds the GOST
    // tables' process-wide instance, which C_Finalize frees with the rest.
    StartRig();
    if (IsSkipped() || HasFatalFailure()) return;
    // Load, use and unload twice, as an application that unloads the library between uses.
    for (int cycle = 0; cycle < 2; ++cycle) {
        SCOPED_TRACE(cycle);
        module = dlopen(ZR_REAL_MODULE, RTLD_NOW | RTLD_LOCAL);
        ASSERT_NE(module, nullptr) << dlerror();
        auto getList = reinterpret_cast<CK_C_GetFunctionList>(dlsym(module, "C_GetFunctionList"));
        ASSERT_NE(getList, nullptr);
        ASSERT_EQ(getList(&p11), CKR_OK);
        ASSERT_EQ(Initialize(nullptr), CKR_OK);
        const CK_SESSION_HANDLE session = Open();
        EXPECT_EQ(Login(session, CKU_USER, kUserPin), CKR_OK);
        CK_OBJECT_CLASS paramsClass = CKO_DOMAIN_PARAMETERS;
        CK_KEY_TYPE gost = CKK_GOST28147_NAT;
        CK_ATTRIBUTE search[] = {{CKA_CLASS, &paramsClass, sizeof paramsClass}, {CKA_KEY_TYPE, &gost, sizeof gost}};
        ASSERT_EQ(p11->C_FindObjectsInit(session, search, 2), CKR_OK);
        CK_OBJECT_HANDLE found[16];
        CK_ULONG count = 0;
        EXPECT_EQ(p11->C_FindObjects(session, found, 16, &count), CKR_OK);
        EXPECT_EQ(count, 10u) << "the ten named S-boxes";
        EXPECT_EQ(p11->C_FindObjectsFinal(session), CKR_OK);
        EXPECT_EQ(p11->C_Finalize(nullptr), CKR_OK);
        initialized = false;
        EXPECT_EQ(dlclose(module), 0);
        module = nullptr;
        EXPECT_EQ(rig->Control(0).SessionCount(), 0u) << "the device session was closed";
    }
    if (__lsan_do_recoverable_leak_check != nullptr) {
        EXPECT_EQ(__lsan_do_recoverable_leak_check(), 0) << "memory of the unloaded library was never freed";
    }
}

TEST_F(ModuleRig, FinalizeFromAnExitHandlerAfterTheStaticObjectsAreGone) {
    // The other process's exit handler was registered before it loaded the module, so it runs
    // after the module's static objects were destroyed; it must still get answers.
    StartRig();
    if (IsSkipped() || HasFatalFailure()) return;
    EXPECT_TRUE(RunToEnd({ZR_EXIT_FINALIZE_PROCESS, ZR_REAL_MODULE}, "C_Finalize at exit with a token"));
    rig->RemoveCard(0);
    EXPECT_TRUE(RunToEnd({ZR_EXIT_FINALIZE_PROCESS, ZR_REAL_MODULE}, "C_Finalize at exit without a token"));
    const std::string noService = "PCSCLITE_CSOCK_NAME='" + rig->WorkDir() + "/no-pcscd' '" +
                                  ZR_EXIT_FINALIZE_PROCESS + "' '" + ZR_REAL_MODULE + "'";
    EXPECT_EQ(std::system(noService.c_str()), 0) << "C_Finalize at exit without a PC/SC service";
}

TEST_F(ModuleRig, ResponseDelayIsSentOnlyWhenConfigured) {
    Start("# token tuning\nResponseDelay = 7\n");
    if (IsSkipped() || HasFatalFailure()) return;
    CK_TOKEN_INFO token;
    ASSERT_EQ(p11->C_GetTokenInfo(0, &token), CKR_OK);
    EXPECT_EQ(rig->Control(0).Count("SetResponseDelay"), 1u);
    ASSERT_EQ(p11->C_Finalize(nullptr), CKR_OK);
    ASSERT_EQ(Initialize("ResponseDelay = 0"), CKR_OK);
    ASSERT_EQ(p11->C_GetTokenInfo(0, &token), CKR_OK);
    EXPECT_EQ(rig->Control(0).Count("SetResponseDelay"), 1u) << "a delay of 0 sends nothing";
}

// An empty CK_BBOOL reads as false only when configured; detach or attach tells which.
CK_RV AttachWithEmptyFlag(ModuleRigTest& t) {
    CK_ULONG count = 0;
    t.p11->C_GetSlotList(CK_FALSE, nullptr, &count);
    CK_SLOT_ID slot = 0;
    CK_ATTRIBUTE attributes[] = {{CKA_ZR_SLOT_ID, &slot, sizeof slot}, {CKA_ZR_TOKEN_DETACH, nullptr, 0}};
    return t.setAttributes(attributes, 2);
}

TEST_F(ModuleRig, MozillaCompatibilityReadsEmptyBooleansAsFalse) {
    Start("MozillaNSSCompatibility = true");
    if (IsSkipped() || HasFatalFailure()) return;
    EXPECT_EQ(AttachWithEmptyFlag(*this), CKR_TEMPLATE_INCOMPLETE) << "read as false: attach without a handle";
    ASSERT_EQ(p11->C_Finalize(nullptr), CKR_OK);
    ASSERT_EQ(Initialize("no equals sign here"), CKR_OK) << "a text that does not parse is an empty configuration";
    EXPECT_EQ(AttachWithEmptyFlag(*this), CKR_ATTRIBUTE_VALUE_INVALID);
}

CK_RV CancelingRandom(CK_BYTE_PTR, CK_ULONG) { return 1; }

TEST_F(ModuleRig, VendorAttributesGuardTheirInputs) {
    StartRig();
    if (IsSkipped() || HasFatalFailure()) return;
    LoadModule();
    CK_SLOT_ID slot = 0;
    CK_ULONG handle = 1;
    CK_ATTRIBUTE attach[] = {{CKA_ZR_SMART_CONTEXT, &handle, sizeof handle}, {CKA_ZR_SLOT_ID, &slot, sizeof slot}};
    EXPECT_EQ(setAttributes(attach, 2), CKR_CRYPTOKI_NOT_INITIALIZED) << "no slot table before C_Initialize";
    auto callback = &CancelingRandom;
    CK_ATTRIBUTE wrongLength[] = {{CKA_ZR_EXT_RANDOM_CALLBACK, &callback, 4}};
    EXPECT_EQ(setAttributes(wrongLength, 1), CKR_ATTRIBUTE_VALUE_INVALID);
    CK_ATTRIBUTE nullValue[] = {{CKA_ZR_EXT_RANDOM_CALLBACK, nullptr, sizeof callback}};
    EXPECT_EQ(setAttributes(nullValue, 1), CKR_ATTRIBUTE_VALUE_INVALID);
    CK_ATTRIBUTE install[] = {{CKA_ZR_EXT_RANDOM_CALLBACK, &callback, sizeof callback}};
    EXPECT_EQ(setAttributes(install, 1), CKR_OK) << "the callback may come before C_Initialize";

    ASSERT_EQ(Initialize(nullptr), CKR_OK);
    CK_ATTRIBUTE onlySlot[] = {{CKA_ZR_SLOT_ID, &slot, sizeof slot}};
    EXPECT_EQ(setAttributes(onlySlot, 1), CKR_TEMPLATE_INCOMPLETE);
    CK_SLOT_ID unknown = 4242;
    CK_BBOOL yes = CK_TRUE;
    CK_ATTRIBUTE detachUnknown[] = {{CKA_ZR_SLOT_ID, &unknown, sizeof unknown}, {CKA_ZR_TOKEN_DETACH, &yes, 1}};
    EXPECT_EQ(setAttributes(detachUnknown, 2), CKR_SLOT_ID_INVALID);

    // The user PIN change draws random bytes from the application's callback.
    const CK_SESSION_HANDLE session = Open();
    ASSERT_EQ(Login(session, CKU_USER, kUserPin), CKR_OK);
    EXPECT_EQ(SetPin(session, kUserPin, "11112222"), CKR_FUNCTION_CANCELED);
}

TEST_F(ModuleRig, AttachedCardHandlesGetSlotsFrom10000) {
    Start();
    if (IsSkipped() || HasFatalFailure()) return;
    SCARDCONTEXT context = 0;
    ASSERT_EQ(SCardEstablishContext(SCARD_SCOPE_SYSTEM, nullptr, nullptr, &context), SCARD_S_SUCCESS);
    SCARDHANDLE card = 0;
    DWORD protocol = 0;
    ASSERT_EQ(SCardConnect(context, rig->ReaderName(0).c_str(), SCARD_SHARE_SHARED, SCARD_PROTOCOL_T0 | SCARD_PROTOCOL_T1,
                           &card, &protocol),
              SCARD_S_SUCCESS);
    CK_ULONG handle = static_cast<CK_ULONG>(card);

    uint8_t small[2];
    CK_ATTRIBUTE tooSmall[] = {{CKA_ZR_SMART_CONTEXT, &handle, sizeof handle}, {CKA_ZR_SLOT_ID, small, sizeof small}};
    EXPECT_EQ(setAttributes(tooSmall, 2), CKR_BUFFER_TOO_SMALL);
    EXPECT_EQ(tooSmall[1].ulValueLen, sizeof(CK_SLOT_ID));
    CK_SLOT_INFO slotInfo;
    EXPECT_EQ(p11->C_GetSlotInfo(10000, &slotInfo), CKR_SLOT_ID_INVALID) << "a refused attach attaches nothing";

    CK_SLOT_ID first = 0;
    CK_ATTRIBUTE attach[] = {{CKA_ZR_SMART_CONTEXT, &handle, sizeof handle}, {CKA_ZR_SLOT_ID, &first, sizeof first}};
    ASSERT_EQ(setAttributes(attach, 2), CKR_OK);
    EXPECT_EQ(first, 10000u);
    CK_TOKEN_INFO token;
    ASSERT_EQ(p11->C_GetTokenInfo(first, &token), CKR_OK);
    EXPECT_EQ(Field(token.serialNumber, 16), "ZRDRV2SIM0000001");
    CK_ULONG count = 0;
    ASSERT_EQ(p11->C_GetSlotList(CK_FALSE, nullptr, &count), CKR_OK);
    EXPECT_EQ(count, 2u) << "attached slots are not listed";

    CK_SLOT_ID second = 0;
    attach[1].pValue = &second;
    ASSERT_EQ(setAttributes(attach, 2), CKR_OK);
    EXPECT_EQ(second, 10001u) << "a slot whose token is present is never reused";

    const CK_SESSION_HANDLE session = Open(first);
    CK_BBOOL yes = CK_TRUE;
    CK_ATTRIBUTE detach[] = {{CKA_ZR_SLOT_ID, &first, sizeof first}, {CKA_ZR_TOKEN_DETACH, &yes, 1}};
    EXPECT_EQ(setAttributes(detach, 2), CKR_SESSION_EXISTS);
    ASSERT_EQ(p11->C_CloseSession(session), CKR_OK);
    EXPECT_EQ(setAttributes(detach, 2), CKR_OK);
    EXPECT_EQ(p11->C_GetSlotInfo(first, &slotInfo), CKR_OK) << "a detached slot is still found";

    CK_SLOT_ID third = 0;
    attach[1].pValue = &third;
    ASSERT_EQ(setAttributes(attach, 2), CKR_OK);
    EXPECT_EQ(third, 10000u) << "the detached slot is reused";
    ASSERT_EQ(p11->C_Finalize(nullptr), CKR_OK);
    initialized = false;
    SCardDisconnect(card, SCARD_LEAVE_CARD);
    SCardReleaseContext(context);
}

}  // namespace
