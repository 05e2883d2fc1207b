// The boundary: function list, the calls answered without a library object, the mapping of
// exceptions to CK_RV, the creator hook, and the real module's exports.
#include <dlfcn.h>

#include "module_fixture.h"

namespace {

using EntryTest = ModuleTest;

TEST_F(EntryTest, FunctionListIsVersion230InStandardOrderAndCreatesNoLibrary) {
    EXPECT_EQ(CKR_ARGUMENTS_BAD, module.getFunctionList(nullptr));
    CK_FUNCTION_LIST_PTR list = nullptr;
    ASSERT_EQ(CKR_OK, module.getFunctionList(&list));
    EXPECT_FALSE(module.libraryExists());
    EXPECT_EQ(2, list->version.major);
    EXPECT_EQ(30, list->version.minor);
    // The 68 entries follow the version without gaps, first C_Initialize, last C_WaitForSlotEvent.
    const auto* entries = reinterpret_cast<void* const*>(&list->C_Initialize);
    for (int i = 0; i < 68; ++i) EXPECT_NE(nullptr, entries[i]) << i;
    EXPECT_EQ(reinterpret_cast<void*>(list->C_WaitForSlotEvent), entries[67]);
    EXPECT_EQ(reinterpret_cast<void*>(list->C_GetFunctionList), entries[3]);
    EXPECT_EQ(reinterpret_cast<void*>(list->C_DecryptVerifyUpdate), entries[57]);
    CK_FUNCTION_LIST_PTR again = nullptr;
    ASSERT_EQ(CKR_OK, list->C_GetFunctionList(&again));
    EXPECT_EQ(list, again);
}

TEST_F(EntryTest, CallsAnsweredWithoutLibraryObject) {
    EXPECT_EQ(CKR_ARGUMENTS_BAD, p11->C_GetInfo(nullptr));
    EXPECT_EQ(CKR_FUNCTION_NOT_SUPPORTED, p11->C_GetFunctionStatus(0));
    EXPECT_EQ(CKR_FUNCTION_NOT_SUPPORTED, p11->C_CancelFunction(77));
    EXPECT_FALSE(module.libraryExists());
    Initialize();
    EXPECT_EQ(CKR_FUNCTION_NOT_SUPPORTED, p11->C_GetFunctionStatus(1));
    EXPECT_EQ(CKR_FUNCTION_NOT_SUPPORTED, p11->C_CancelFunction(1));
}

struct ThrowCase {
    int kind;
    CK_RV expected;
    const char* name;
};

class ExceptionMappingTest : public ModuleTest, public ::testing::WithParamInterface<ThrowCase> {};

TEST_P(ExceptionMappingTest, BecomesItsResult) {
    Initialize();
    module.setGetInfoThrow(GetParam().kind);
    CK_INFO info;
    EXPECT_EQ(GetParam().expected, p11->C_GetInfo(&info));
}

INSTANTIATE_TEST_SUITE_P(
    Entry, ExceptionMappingTest,
    ::testing::Values(ThrowCase{ZR_FAKE_THROW_CK_CODE_0, CKR_GENERAL_ERROR, "FrameworkCodeZeroNeverReadsAsSuccess"},
                      ThrowCase{ZR_FAKE_THROW_CK_PIN_LOCKED, CKR_PIN_LOCKED, "FrameworkCodePassesThrough"},
                      ThrowCase{ZR_FAKE_THROW_BUFFER_TOO_SMALL, CKR_BUFFER_TOO_SMALL, "BufferTooSmall"},
                      ThrowCase{ZR_FAKE_THROW_BASE, CKR_FUNCTION_FAILED, "BaseLibraryException"},
                      ThrowCase{ZR_FAKE_THROW_STD, CKR_GENERAL_ERROR, "StandardException"},
                      ThrowCase{ZR_FAKE_THROW_OTHER, CKR_GENERAL_ERROR, "AnythingElse"}),
    [](const ::testing::TestParamInfo<ThrowCase>& info) { return std::string(info.param.name); });

TEST_F(EntryTest, WithoutCreatorHookEveryCallNeedingTheLibraryFails) {
    module.setCreatorHook(CK_FALSE);
    CK_INFO info;
    CK_ULONG count = 0;
    EXPECT_EQ(CKR_GENERAL_ERROR, p11->C_Initialize(nullptr));
    EXPECT_EQ(CKR_GENERAL_ERROR, p11->C_GetInfo(&info));
    EXPECT_EQ(CKR_GENERAL_ERROR, p11->C_GetSlotList(CK_FALSE, nullptr, &count));
    EXPECT_EQ(CKR_GENERAL_ERROR, p11->C_Finalize(nullptr));
    EXPECT_EQ(CKR_ARGUMENTS_BAD, p11->C_GetInfo(nullptr));
    CK_FUNCTION_LIST_PTR list = nullptr;
    EXPECT_EQ(CKR_OK, module.getFunctionList(&list));
}

TEST_F(EntryTest, SetLibraryAttributesCreatesTheLibraryWithoutInitialize) {
    CK_RV (*callback)(CK_BYTE_PTR, CK_ULONG) = [](CK_BYTE_PTR, CK_ULONG) -> CK_RV { return CKR_OK; };
    CK_ATTRIBUTE good[] = {{CKA_ZR_EXT_RANDOM_CALLBACK, &callback, sizeof callback}};
    CK_ATTRIBUTE shortValue[] = {{CKA_ZR_EXT_RANDOM_CALLBACK, &callback, 4}};
    CK_ATTRIBUTE other[] = {{CKA_LABEL, nullptr, 0}};
    EXPECT_EQ(CKR_ARGUMENTS_BAD, module.setLibraryAttributes(nullptr, 1));
    EXPECT_EQ(CKR_TEMPLATE_INCOMPLETE, module.setLibraryAttributes(other, 1));
    EXPECT_TRUE(module.libraryExists());
    EXPECT_EQ(CKR_ATTRIBUTE_VALUE_INVALID, module.setLibraryAttributes(shortValue, 1));
    EXPECT_EQ(CKR_OK, module.setLibraryAttributes(good, 1));
    // C_Initialize initialises that same object.
    Initialize();
}

TEST(RealModuleTest, ExportsOnlyCryptokiAndInitialisesWithItsDriver) {
    void* handle = dlopen(ZR_REAL_MODULE, RTLD_NOW | RTLD_LOCAL);
    ASSERT_NE(nullptr, handle) << dlerror();
    for (const char* name : {"C_Initialize", "C_GetFunctionList", "C_WaitForSlotEvent", "C_SetLibraryAttributes"}) {
        EXPECT_NE(nullptr, dlsym(handle, name)) << name;
    }
    // mbed TLS is linked in statically and stays hidden.
    for (const char* name : {"IC_Initialize", "_ZN4zrck12LibraryFrame16globalLibraryPtrE",
                             "_ZN4zrck12LibraryFrame21LibraryCreatorFuncPtrE", "mbedtls_md_init",
                             "mbedtls_des3_crypt_cbc"}) {
        EXPECT_EQ(nullptr, dlsym(handle, name)) << name;
    }
    auto getList = reinterpret_cast<CK_C_GetFunctionList>(dlsym(handle, "C_GetFunctionList"));
    CK_FUNCTION_LIST_PTR list = nullptr;
    ASSERT_EQ(CKR_OK, getList(&list));
    EXPECT_EQ(30, list->version.minor);
    // The driver's creator hook makes the library object; no reader is touched yet.
    EXPECT_EQ(CKR_OK, list->C_Initialize(nullptr));
    EXPECT_EQ(CKR_OK, list->C_Finalize(nullptr));
    dlclose(handle);
}

}  // namespace
