// Device result codes to CK_RV, their texts, and the store's printable names.
#include <gtest/gtest.h>

#include "ckbase/exception.h"
#include "driver/token_storage_utl.h"

using qel::TokenStorageUtl;

namespace {

struct ErrorCase {
    uint32_t result;
    CK_RV rv;
};

// Every code of the device error table, plus codes that must fall through to CKR_DEVICE_ERROR.
const ErrorCase kErrorCases[] = {
    {0, CKR_OK},
    {13, CKR_DATA_INVALID},
    {31, CKR_DEVICE_REMOVED},
    {35, CKR_USER_PIN_NOT_INITIALIZED},
    {69, CKR_SESSION_COUNT},
    {80, CKR_FUNCTION_FAILED},
    {112, CKR_DEVICE_MEMORY},
    {119, CKR_GENERAL_ERROR},
    {120, CKR_FUNCTION_FAILED},
    {170, CKR_FUNCTION_FAILED},
    {221, CKR_USER_ALREADY_LOGGED_IN},
    {234, CKR_FUNCTION_FAILED},
    {603, CKR_GENERAL_ERROR},
    {995, CKR_DEVICE_REMOVED},
    {1107, CKR_USER_PIN_NOT_INITIALIZED},
    {1167, CKR_DEVICE_REMOVED},
    {1312, CKR_SESSION_HANDLE_INVALID},
    {1363, CKR_SESSION_EXISTS},
    {1365, CKR_USER_NOT_LOGGED_IN},
    {1413, CKR_FUNCTION_FAILED},
    {1617, CKR_DEVICE_REMOVED},
    {1627, CKR_FUNCTION_FAILED},
    {1743, CKR_FUNCTION_FAILED},
    {8248, CKR_DEVICE_MEMORY},
    {8262, CKR_GENERAL_ERROR},
    {8308, CKR_GENERAL_ERROR},
    {10014, CKR_GENERAL_ERROR},
    {10093, CKR_DEVICE_MEMORY},
    {0x80090003, CKR_KEY_TYPE_INCONSISTENT},
    {0x80090004, CKR_FUNCTION_FAILED},
    {0x80090006, CKR_SIGNATURE_INVALID},
    {0x80100017, CKR_DEVICE_REMOVED},
    {0x8010002A, CKR_PIN_INCORRECT},
    {0x8010006C, CKR_PIN_LOCKED},
    {0x8010000C, CKR_DEVICE_REMOVED},  // no card in the reader
    {0x80100069, CKR_DEVICE_REMOVED},  // card removed
    // Not in the table.
    {2, CKR_DEVICE_ERROR},
    {22, CKR_DEVICE_ERROR},
    {0x80100068, CKR_DEVICE_ERROR},
    {1, CKR_DEVICE_ERROR},
    {0xFFFFFFFF, CKR_DEVICE_ERROR},
};

TEST(DeviceErrorTable, ConvertsEveryCode)
{
    for (const ErrorCase& c : kErrorCases) {
        EXPECT_EQ(TokenStorageUtl::ConvertDeviceError(c.result), c.rv) << "result " << c.result;
    }
}

TEST(DeviceErrorTable, TextsCarryTheCodeUnlessBare)
{
    const struct {
        uint32_t result;
        const char* text;
    } cases[] = {
        {0, ""},
        {1, " (0x1)"},
        {2, "Device: file not found (0x2)"},
        {8398, "Device: erase error (0x20ce)"},
        {1312, "Device: invalid session ID"},
        {35, "Device: not initialized"},
        {1107, "Device: not initialized"},
        {7, "Device: unknown error (0x7)"},
        {0x8010006C, "Device: PIN locked (0x8010006c)"},
        {0x80100017, "Device: removed"},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(TokenStorageUtl::GetErrorTextEN(c.result), c.text) << "result " << c.result;
    }
}

TEST(StorageNames, ItemTypesParamSetsAndVisibilities)
{
    EXPECT_EQ(TokenStorageUtl::ConvertItemTypeToStr(0), "Unknown item type");
    EXPECT_EQ(TokenStorageUtl::ConvertItemTypeToStr(1), "TOKEN_DATA");
    EXPECT_EQ(TokenStorageUtl::ConvertItemTypeToStr(11), "EC_DSA_PRIVATE_KEY(S)");
    EXPECT_EQ(TokenStorageUtl::ConvertItemTypeToStr(15), "DES3_SECRET_KEY");
    EXPECT_EQ(TokenStorageUtl::ConvertItemTypeToStr(16), "Unknown item type");
    EXPECT_EQ(TokenStorageUtl::ConvertParamSetToStr(GostR3410_2001_ParamSetA), "GostR3410_2001_ParamSetA");
    EXPECT_EQ(TokenStorageUtl::ConvertParamSetToStr(RSA_sign_512), "RSA_sign_512");
    EXPECT_EQ(TokenStorageUtl::ConvertParamSetToStr(DSA_ECP_SECP521R1), "DSA_ECP_SECP521R1");
    EXPECT_EQ(TokenStorageUtl::ConvertParamSetToStr(static_cast<EParamSet>(17)), "Unknown paramset");
    EXPECT_EQ(TokenStorageUtl::ConvertVisibilityToStr(qel::KeyPairObject), "KeyPairObject");
    EXPECT_EQ(TokenStorageUtl::ConvertVisibilityToStr(static_cast<qel::EVisibility>(0)), "Unknown visibility");
}

TEST(StorageNames, UnicodeToSingleBytes)
{
    tru::BufferDynamic text("a\0b\0c\0", 6);
    TokenStorageUtl::ConvertFromUnicode(&text);
    EXPECT_EQ(text.ToString(), "abc");
    tru::BufferDynamic one("x", 1);
    TokenStorageUtl::ConvertFromUnicode(&one);
    EXPECT_EQ(one.ToString(), "x");
}

TEST(StorageNames, AttributeTypeConversions)
{
    EXPECT_EQ(TokenStorageUtl::ConvertAttrTypeForToken(CKA_LABEL), 3u);
    EXPECT_EQ(TokenStorageUtl::ConvertAttrTypeForToken(CKA_ID), 0x102u);
    EXPECT_EQ(TokenStorageUtl::ConvertAttrTypeForToken(0x122), 0u);
    EXPECT_EQ(TokenStorageUtl::ConvertAttrTypeForToken(0x8E000011ul), 0x8E11u);
    EXPECT_EQ(TokenStorageUtl::ConvertAttrTypeFromToken(0x102), CKA_ID);
    EXPECT_EQ(TokenStorageUtl::ConvertAttrTypeFromToken(0x100), 0u);
    EXPECT_EQ(TokenStorageUtl::ConvertAttrTypeFromToken(0x8E11), 0x8E000011ul);
    try {
        TokenStorageUtl::ConvertAttrTypeForToken(0x8E00001Bul);
        FAIL() << "no exception";
    } catch (const zrck::Exception& e) {
        EXPECT_EQ(e.GetCode(), CKR_ATTRIBUTE_TYPE_INVALID);
        EXPECT_STREQ(e.what(), "Device - unsupported attribute type 2382364699");
    }
    try {
        TokenStorageUtl::ConvertAttrTypeFromToken(0x8E03);
        FAIL() << "no exception";
    } catch (const zrck::Exception& e) {
        EXPECT_EQ(e.GetCode(), CKR_DEVICE_ERROR);
        EXPECT_STREQ(e.what(), "Device - unsupported attribute type 36355");
    }
}

}  // namespace
