#include "driver/token_storage_utl.h"

#include <cstdio>

#include "ckbase/exception.h"

namespace qel {

namespace {

struct ErrorEntry {
    uint32_t result;
    CK_RV rv;
};

constexpr ErrorEntry kDeviceErrors[] = {
    {13, CKR_DATA_INVALID},
    {31, CKR_DEVICE_REMOVED},  // malformed answer or unlisted device status
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
    // The card left the reader: SCARD_E_NO_SMARTCARD, SCARD_W_REMOVED_CARD.
    {0x8010000C, CKR_DEVICE_REMOVED},
    {0x80100069, CKR_DEVICE_REMOVED},
    {0x8010002A, CKR_PIN_INCORRECT},
    {0x8010006C, CKR_PIN_LOCKED},
};

struct TextEntry {
    uint32_t result;
    const char* text;
    bool bare;  // printed without the code suffix
};

constexpr TextEntry kErrorTexts[] = {
    {2, "Device: file not found", false},
    {35, "Device: not initialized", true},
    {69, "Device: sessions limit exceeded", false},
    {80, "Device: file already exists", false},
    {112, "Device: insufficient space", false},
    {119, "Device: No command", true},
    {120, "Device: not implemented", false},
    {170, "Device: busy", false},
    {234, "Device: more data available", false},
    {323, "Device: integrity check error", false},
    {603, "Device: overrun", false},
    {1107, "Device: not initialized", true},
    {1312, "Device: invalid session ID", true},
    {1359, "Device: internal error", false},
    {1363, "Device: session exists", true},
    {1365, "Device: not authorized", true},
    {1413, "Device: bad file index", false},
    {1627, "Device: program error", false},
    {1638, "Device: unsupported version", false},
    {1743, "Device: data too large", false},
    {8248, "Device: file is too big", false},
    {8262, "Device: invalid offset", false},
    {8308, "Device: invalid attribute id", false},
    {8398, "Device: erase error", false},
    {10014, "Device: bad address", false},
    {10093, "Device: random generator not initialized", false},
    {0x80090003, "Device: invalid key", false},
    {0x8010001E, "Device: The Smart card resource manager has shut down", false},
    {0x8010002A, "Device: invalid PIN", false},
    {0x8010006C, "Device: PIN locked", false},
    {0x80100017, "Device: removed", true},
    {1, "", false},
};

const char* const kItemTypeNames[] = {
    "TOKEN_DATA",         "RSA_PRIVATE_KEY",       "RSA_PUBLIC_KEY",        "CERTIFICATE",
    "DATA",               "UA_SGN_DOMAIN_PARAMS",  "UA_SGN_PRIVATE_KEY",    "UA_SGN_PUBLIC_KEY",
    "UA_GOST_DOMAIN_PARAMS", "UA_GOST_SECRET_KEY", "EC_DSA_PRIVATE_KEY(S)", "EC_DSA_PUBLIC_KEY(S)",
    "EC_DSA_PRIVATE_KEY", "EC_DSA_PUBLIC_KEY",     "DES3_SECRET_KEY",
};

const char* const kParamSetNames[] = {
    "GostR3410_2001_ParamSetA",      "GostR3410_2001_ParamSetB",      "GostR3410_2001_ParamSetC",
    "GostR3410_2001_ExchgParamSetA", "GostR3410_2001_ExchgParamSetB", "RSA_sign_1024",
    "RSA_sign_1536",                 "RSA_sign_2048",                 "DSTU4145_POLYNOMIAL_0",
    "DSTU4145_POLYNOMIAL_4",         "DSTU4145_POLYNOMIAL_6",         "DSTU4145_POLYNOMIAL_9",
    "RSA_sign_512",                  "DSA_ECP_SECP192R1",             "DSA_ECP_SECP256R1",
    "DSA_ECP_SECP521R1",
};

struct Range {
    uint32_t first;
    uint32_t last;
};

bool InRanges(uint32_t value, const Range* ranges, size_t count)
{
    for (size_t i = 0; i < count; ++i) {
        if (value >= ranges[i].first && value <= ranges[i].last) {
            return true;
        }
    }
    return false;
}

// Cryptoki types stored under their own number.
constexpr Range kForTokenSame[] = {
    {0x0, 0x3},     {0x10, 0x12},   {0x80, 0x82},   {0x86, 0x8B},   {0x90, 0x90},
    {0x100, 0x10C}, {0x110, 0x111}, {0x120, 0x121}, {0x123, 0x128}, {0x162, 0x166},
    {0x170, 0x171}, {0x202, 0x202}, {0x210, 0x210}, {0x40000211, 0x40000211}, {0x40000600, 0x40000600},
};
constexpr Range kFromTokenSame[] = {
    {0x3, 0x3},     {0x10, 0x12},   {0x80, 0x82}, {0x87, 0x8B},
    {0x90, 0x90},   {0x101, 0x102}, {0x110, 0x111},
};
constexpr Range kFromTokenZero[] = {
    {0x0, 0x2},     {0x86, 0x86},   {0x100, 0x100}, {0x103, 0x10C},
    {0x162, 0x166}, {0x170, 0x171}, {0x202, 0x202}, {0x210, 0x210},
};

template <size_t N>
constexpr size_t CountOf(const Range (&)[N])
{
    return N;
}

}  // namespace

CK_RV TokenStorageUtl::ConvertDeviceError(uint32_t result)
{
    if (result == 0) {
        return CKR_OK;
    }
    for (const ErrorEntry& e : kDeviceErrors) {
        if (e.result == result) {
            return e.rv;
        }
    }
    return CKR_DEVICE_ERROR;
}

std::string TokenStorageUtl::GetErrorTextEN(uint32_t result)
{
    if (result == 0) {
        return std::string();
    }
    std::string text = "Device: unknown error";
    for (const TextEntry& e : kErrorTexts) {
        if (e.result == result) {
            if (e.bare) {
                return e.text;
            }
            text = e.text;
            break;
        }
    }
    char suffix[24];
    std::snprintf(suffix, sizeof(suffix), " (0x%x)", static_cast<unsigned>(result));
    return text + suffix;
}

std::string TokenStorageUtl::ConvertItemTypeToStr(uint16_t itemType)
{
    if (itemType >= 1 && itemType <= 15) {
        return kItemTypeNames[itemType - 1];
    }
    return "Unknown item type";
}

std::string TokenStorageUtl::ConvertParamSetToStr(EParamSet paramSet)
{
    const unsigned value = paramSet;
    if (value >= 1 && value <= 16) {
        return kParamSetNames[value - 1];
    }
    return "Unknown paramset";
}

std::string TokenStorageUtl::ConvertVisibilityToStr(EVisibility visibility)
{
    switch (visibility) {
    case PublicObject:
        return "PublicObject";
    case PrivateObject:
        return "PrivateObject";
    case KeyPairObject:
        return "KeyPairObject";
    }
    return "Unknown visibility";
}

void TokenStorageUtl::ConvertFromUnicode(tru::BufferDynamic* text)
{
    if (text == nullptr || text->Size() < 2) {
        return;
    }
    const uint32_t units = text->Size() / 2;
    uint8_t* bytes = text->Data();
    for (uint32_t i = 0; i < units; ++i) {
        bytes[i] = bytes[2 * i];
    }
    const tru::TResult rc = text->Realloc(units);
    if (rc != tru::SUCCESS) {
        throw tru::Exception(rc);
    }
}

uint16_t TokenStorageUtl::ConvertAttrTypeForToken(CK_ATTRIBUTE_TYPE type)
{
    if (type <= 0xFFFFFFFFul && InRanges(static_cast<uint32_t>(type), kForTokenSame, CountOf(kForTokenSame))) {
        // 0x40000211 and 0x40000600 keep their low 16 bits, as the token stores them.
        return static_cast<uint16_t>(type);
    }
    if (type == 0x122) {
        return 0;
    }
    if (type >= 0x8E000002ul && type <= 0x8E00001Aul) {
        return static_cast<uint16_t>(0x8E00 | (type & 0xFF));
    }
    throw zrck::Exception(CKR_ATTRIBUTE_TYPE_INVALID,
                          "Device - unsupported attribute type " + std::to_string(type));
}

CK_ATTRIBUTE_TYPE TokenStorageUtl::ConvertAttrTypeFromToken(uint16_t id)
{
    if (InRanges(id, kFromTokenSame, CountOf(kFromTokenSame))) {
        return id;
    }
    if (InRanges(id, kFromTokenZero, CountOf(kFromTokenZero))) {
        return 0;
    }
    if (id >= 0x8E04 && id <= 0x8E1A) {
        return 0x8E000000ul | (id & 0xFF);
    }
    throw zrck::Exception(CKR_DEVICE_ERROR, "Device - unsupported attribute type " + std::to_string(id));
}

}  // namespace qel
