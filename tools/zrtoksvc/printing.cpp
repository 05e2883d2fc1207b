#include "printing.h"

#include <cstdarg>
#include <cstdio>
#include <cstring>
#include <vector>

#include "cryptoki/names/ck_names.h"
#include "session.h"
#include "support/string_utils.h"

namespace zrsvc {

namespace {

const char* TF(bool value) { return value ? "TRUE" : "FALSE"; }

constexpr CK_ULONG kValueRoom = 4096;

const CK_ATTRIBUTE_TYPE kShortTemplate[] = {CKA_KEY_TYPE, CKA_LABEL,   CKA_ID,
                                            CKA_OBJECT_ID, CKA_APPLICATION, CKA_ISSUER,
                                            CKA_SUBJECT,  CKA_HW_FEATURE_TYPE, CKA_VALUE};

const CK_ATTRIBUTE_TYPE kLongTemplate[] = {
    CKA_CLASS, CKA_TOKEN, CKA_PRIVATE, CKA_COPYABLE, CKA_KEY_TYPE, CKA_LABEL, CKA_APPLICATION, CKA_OBJECT_ID,
    CKA_VALUE, CKA_CERTIFICATE_TYPE, CKA_ISSUER, CKA_SERIAL_NUMBER, CKA_SUBJECT, CKA_ID, CKA_SENSITIVE,
    CKA_ENCRYPT, CKA_DECRYPT, CKA_WRAP, CKA_UNWRAP, CKA_SIGN, CKA_SIGN_RECOVER, CKA_VERIFY, CKA_VERIFY_RECOVER,
    CKA_DERIVE, CKA_START_DATE, CKA_END_DATE, CKA_EC_PARAMS, CKA_EC_POINT, CKA_MODULUS, CKA_MODULUS_BITS,
    CKA_PUBLIC_EXPONENT, CKA_PRIVATE_EXPONENT, CKA_PRIME_1, CKA_PRIME_2, CKA_EXPONENT_1, CKA_EXPONENT_2,
    CKA_COEFFICIENT, CKA_PRIME, CKA_SUBPRIME, CKA_BASE, CKA_VALUE_BITS, CKA_VALUE_LEN, CKA_EXTRACTABLE,
    CKA_LOCAL, CKA_NEVER_EXTRACTABLE, CKA_ALWAYS_SENSITIVE, CKA_ALWAYS_AUTHENTICATE, CKA_MODIFIABLE,
    CKA_PRIME_BITS, CKA_MECHANISM_TYPE, CKA_HW_FEATURE_TYPE, CKA_ZR_KEY_GENERATION_DATE, CKA_ZR_GOST_SBLOCK,
    CKA_ZR_BDH_PRM_L, CKA_ZR_BDH_PRM_R, CKA_ZR_BDH_PRM_P, CKA_ZR_BDH_PRM_G, CKA_ZR_BDH_PRM_Z, CKA_ZR_BDS_PRM_L,
    CKA_ZR_BDS_PRM_R, CKA_ZR_BDS_PRM_P, CKA_ZR_BDS_PRM_Q, CKA_ZR_BDS_PRM_A, CKA_ZR_BDS_PRM_Z,
    CKA_ZR_BDS_PRM_HASH_H, CKA_ZR_RDS_PRM_P, CKA_ZR_RDS_PRM_A, CKA_ZR_RDS_PRM_B, CKA_ZR_RDS_PRM_Q,
    CKA_ZR_RDS_PRM_X, CKA_ZR_RDS_PRM_Y, CKA_ZR_PRM_OID, CKA_ZR_PRM_OID_STR, CKA_ZR_BDS_VALUE, CKA_ZR_BDH_VALUE};
static_assert(sizeof kLongTemplate / sizeof kLongTemplate[0] == 75, "long form has 75 attributes");

bool IsSoft(CK_RV rv) {
    return rv == CKR_OK || rv == CKR_ATTRIBUTE_SENSITIVE || rv == CKR_ATTRIBUTE_TYPE_INVALID ||
           rv == CKR_BUFFER_TOO_SMALL;
}

[[noreturn]] void ReadFailure(CK_RV rv) {
    const std::string text = FormatErrorMsg("%s returned 0x%lx \"%s\"", "C_GetAtributeValue", rv, zrck::GetCkErrorStr(rv));
    std::fflush(stdout);
    std::fprintf(stderr, "%s\n", text.c_str());
    throw SilentFailure{};
}

uint32_t Low32(const CK_ATTRIBUTE& attribute) {
    uint32_t value = 0;
    std::memcpy(&value, attribute.pValue, std::min<CK_ULONG>(attribute.ulValueLen, 4));
    return value;
}

bool IsPrintable(const CK_ATTRIBUTE& attribute) {
    return vdk::IsBufferPrintable(tru::Buffer(attribute.pValue, static_cast<uint32_t>(attribute.ulValueLen)));
}

bool AllSpaces(const uint8_t* bytes, size_t length) {
    for (size_t i = 0; i < length; ++i)
        if (bytes[i] != ' ')
            return false;
    return true;
}

// The attribute's length alone; read failures throw.
CK_ULONG ReadLength(CK_FUNCTION_LIST_PTR f, CK_SESSION_HANDLE session, CK_OBJECT_HANDLE object,
                    CK_ATTRIBUTE_TYPE type) {
    CK_ATTRIBUTE one{type, nullptr, 0};
    const CK_RV rv = f->C_GetAttributeValue(session, object, &one, 1);
    if (!IsSoft(rv))
        ReadFailure(rv);
    return one.ulValueLen;
}

void PrintLong(CK_FUNCTION_LIST_PTR f, CK_SESSION_HANDLE session, CK_OBJECT_HANDLE object) {
    constexpr size_t n = sizeof kLongTemplate / sizeof kLongTemplate[0];
    CK_ATTRIBUTE all[n];
    for (size_t i = 0; i < n; ++i)
        all[i] = {kLongTemplate[i], nullptr, 0};
    CK_RV rv = f->C_GetAttributeValue(session, object, all, n);
    if (!IsSoft(rv))
        ReadFailure(rv);
    std::vector<uint8_t> value(kValueRoom);
    for (size_t i = 0; i < n; ++i) {
        if (all[i].ulValueLen == CK_UNAVAILABLE_INFORMATION)
            continue;
        const CK_ATTRIBUTE_TYPE type = all[i].type;
        CK_ULONG length = ReadLength(f, session, object, type);
        const bool date = type == CKA_START_DATE || type == CKA_END_DATE;
        if (type == CKA_ZR_KEY_GENERATION_DATE && length == 0)
            continue;
        if ((type == CKA_ZR_KEY_GENERATION_DATE && length == 14) || (date && length == 8)) {
            CK_ATTRIBUTE read{type, value.data(), length};
            if (f->C_GetAttributeValue(session, object, &read, 1) == CKR_OK && AllSpaces(value.data(), length))
                continue;
        }
        if (length > 0xFFFFFF)
            continue;
        const std::string name = zrck::GetAttributeTypeStr(type);
        if (length > kValueRoom) {
            std::printf("    %s<too big value>\n", name.c_str());
            continue;
        }
        CK_ATTRIBUTE read{type, value.data(), kValueRoom};
        rv = f->C_GetAttributeValue(session, object, &read, 1);
        if (rv == CKR_ATTRIBUTE_SENSITIVE || rv == CKR_ATTRIBUTE_TYPE_INVALID || rv == CKR_BUFFER_TOO_SMALL)
            continue;
        if (rv != CKR_OK)
            ReadFailure(rv);
        if (read.ulValueLen == 0 || read.ulValueLen > kValueRoom)
            continue;
        std::printf("    %s%s\n", name.c_str(), GetAttrPrintString(read).c_str());
    }
}

void PrintShort(CK_FUNCTION_LIST_PTR f, CK_SESSION_HANDLE session, CK_OBJECT_HANDLE object) {
    constexpr size_t n = sizeof kShortTemplate / sizeof kShortTemplate[0];
    CK_ATTRIBUTE all[n];
    for (size_t i = 0; i < n; ++i)
        all[i] = {kShortTemplate[i], nullptr, 0};
    const CK_RV rv = f->C_GetAttributeValue(session, object, all, n);
    if (!IsSoft(rv))
        ReadFailure(rv);
    std::vector<uint8_t> value(kValueRoom);
    for (size_t i = 0; i < n; ++i) {
        if (all[i].ulValueLen > 0xFFFFFE)
            continue;
        const CK_ULONG length = ReadLength(f, session, object, all[i].type);
        if (length < 1 || length > 0xFFFFFE)
            continue;
        std::string line = zrck::GetAttributeTypeStr(all[i].type) + ": ";
        if (length > kValueRoom) {
            line += "<too big value>, size: " + std::to_string(length);
        } else {
            CK_ATTRIBUTE read{all[i].type, value.data(), kValueRoom};
            const CK_RV readRv = f->C_GetAttributeValue(session, object, &read, 1);
            if (IsSoft(readRv) && (read.ulValueLen <= kValueRoom || read.ulValueLen == CK_UNAVAILABLE_INFORMATION))
                line += GetAttrShortPrintString(read);
            else
                line += "Error reading attribute: " + std::to_string(readRv);
        }
        std::printf("  %s\n", line.c_str());
    }
}

}  // namespace

std::string FormatErrorMsg(const char* format, ...) {
    char text[4096];
    va_list args;
    va_start(args, format);
    std::vsnprintf(text, sizeof text, format, args);
    va_end(args);
    return text;
}

void PrintLibInfo(CK_FUNCTION_LIST_PTR f) {
    CK_INFO info{};
    const CK_RV rv = f->C_GetInfo(&info);
    if (rv != CKR_OK)
        ThrowCk("C_GetInfo", rv);
    std::printf("\t    Module Info:\n");
    std::printf("\t        cryptokiVersion = %u.%02u\n", info.cryptokiVersion.major, info.cryptokiVersion.minor);
    std::printf("\t        manufacturerID = \"%.32s\"\n", info.manufacturerID);
    std::printf("\t        flags = 0x%08lx\n", info.flags);
    std::printf("\t        libraryDescription = \"%.32s\"\n", info.libraryDescription);
    std::printf("\t        libraryVersion = %u.%02u\n", info.libraryVersion.major, info.libraryVersion.minor);
}

int PrintSlotInfo(CK_FUNCTION_LIST_PTR f, CK_SLOT_ID slot, bool& initialized, bool verbose) {
    std::printf("\tCK_SLOT_ID = %lu\n", slot);
    CK_SLOT_INFO si{};
    CK_RV rv = f->C_GetSlotInfo(slot, &si);
    if (rv != CKR_OK)
        return ReportCk("C_GetSlotInfo", rv);
    const bool present = (si.flags & CKF_TOKEN_PRESENT) != 0;
    auto flagsBlock = [&] {
        std::printf("\t        flags = 0x%08lx\n", si.flags);
        std::printf("\t            -> TOKEN PRESENT = %s\n", TF(si.flags & CKF_TOKEN_PRESENT));
        std::printf("\t            -> REMOVABLE DEVICE = %s\n", TF(si.flags & CKF_REMOVABLE_DEVICE));
        std::printf("\t            -> HW SLOT = %s\n", TF(si.flags & CKF_HW_SLOT));
    };
    if (verbose) {
        if (!present)
            initialized = false;
        std::printf("\t    Slot Info:\n");
        std::printf("\t        slotDescription = \"%.64s\"\n", si.slotDescription);
        std::printf("\t        manufacturerID = \"%.32s\"\n", si.manufacturerID);
        flagsBlock();
        std::printf("\t          hardwareVersion = %u.%02u\n", si.hardwareVersion.major, si.hardwareVersion.minor);
        std::printf("\t          firmwareVersion = %u.%02u\n", si.firmwareVersion.major, si.firmwareVersion.minor);
        if (!present) {
            std::printf("***Token not found.\n");
            return ST_ERROR;
        }
    } else {
        std::printf("\t        slotDescription = \"%.64s\"\n", si.slotDescription);
        std::printf("\t        manufacturerID = \"%.32s\"\n", si.manufacturerID);
        std::printf("\t       hardwareVersion = %u.%u\n", si.hardwareVersion.major, si.hardwareVersion.minor);
        std::printf("\t       firmwareVersion = %u.%u\n", si.firmwareVersion.major, si.firmwareVersion.minor);
        flagsBlock();
        if (!present)
            return ST_ERROR;
    }
    CK_TOKEN_INFO ti{};
    rv = f->C_GetTokenInfo(slot, &ti);
    if (rv != CKR_OK) {
        if (verbose)
            std::printf("\t    Error reading token information 0x%lx\n", rv);
        return ST_ERROR;
    }
    initialized = (ti.flags & CKF_TOKEN_INITIALIZED) != 0;
    std::printf("\t    Token Info:\n");
    std::printf("\t        label = \"%.32s\"\n", ti.label);
    std::printf("\t        manufacturerID = \"%.32s\"\n", ti.manufacturerID);
    std::printf("\t        model = \"%.16s\"\n", ti.model);
    std::printf("\t        serialNumber = \"%.16s\"\n", ti.serialNumber);
    if (verbose) {
        std::printf("\t        flags = 0x%08lx\n", ti.flags);
        const struct {
            const char* name;
            CK_FLAGS bit;
        } flags[] = {{"RNG", 0x1},
                     {"WRITE PROTECTED", 0x2},
                     {"LOGIN REQUIRED", 0x4},
                     {"TOKEN INITIALIZED", 0x400},
                     {"USER PIN INITIALIZED", 0x8},
                     {"USER PIN COUNT_LOW", 0x10000},
                     {"USER PIN FINAL_TRY", 0x20000},
                     {"USER PIN LOCKED", 0x40000},
                     {"RESTORE KEY NOT NEEDED", 0x20},
                     {"CLOCK ON TOKEN", 0x40},
                     {"PROTECTED AUTHENTICATION PATH", 0x100},
                     {"DUAL CRYPTO OPERATIONS", 0x200}};
        for (const auto& flag : flags)
            std::printf("\t            -> %s = %s\n", flag.name, TF(ti.flags & flag.bit));
        std::printf("\t        ulMaxSessionCount = %lu\n", ti.ulMaxSessionCount);
        std::printf("\t        ulSessionCount = %lu\n", ti.ulSessionCount);
        std::printf("\t        ulMaxRwSessionCount = %lu\n", ti.ulMaxRwSessionCount);
        std::printf("\t        ulRwSessionCount = %lu\n", ti.ulRwSessionCount);
        std::printf("\t        ulMaxPinLen = %lu\n", ti.ulMaxPinLen);
        std::printf("\t        ulMinPinLen = %lu\n", ti.ulMinPinLen);
        if (ti.ulTotalPublicMemory != CK_UNAVAILABLE_INFORMATION)
            std::printf("\t        ulTotalPublicMemory = %lu\n", ti.ulTotalPublicMemory);
        if (ti.ulFreePublicMemory != CK_UNAVAILABLE_INFORMATION)
            std::printf("\t        ulFreePublicMemory = %lu\n", ti.ulFreePublicMemory);
        if (ti.ulTotalPrivateMemory != CK_UNAVAILABLE_INFORMATION)
            std::printf("\t        ulTotalPrivateMemory = %lu\n", ti.ulTotalPrivateMemory);
        if (ti.ulFreePrivateMemory != CK_UNAVAILABLE_INFORMATION)
            std::printf("\t        ulFreePrivateMemory = %lu\n", ti.ulFreePrivateMemory);
        std::printf("\t        hardwareVersion = %u.%02u\n", ti.hardwareVersion.major, ti.hardwareVersion.minor);
        std::printf("\t        firmwareVersion = %u.%02u\n", ti.firmwareVersion.major, ti.firmwareVersion.minor);
        std::printf("\t        utcTime = \"%.16s\"\n", ti.utcTime);
    }
    return initialized ? ST_OK : ST_ERROR;
}

bool TestSessionInfo(CK_FUNCTION_LIST_PTR f, LibFinalizer& finalizer) {
    CK_SESSION_INFO info{};
    const CK_RV rv = f->C_GetSessionInfo(finalizer.Session(), &info);
    if (rv != CKR_OK) {
        std::printf("\t ---Session lost: error 0x%lx\n", rv);
        if (rv == CKR_SESSION_CLOSED || rv == CKR_SESSION_HANDLE_INVALID || rv == CKR_TOKEN_NOT_PRESENT ||
            rv == CKR_DEVICE_REMOVED)
            finalizer.CloseSession();
        return false;
    }
    if (info.state == CKS_RO_USER_FUNCTIONS || info.state == CKS_RW_USER_FUNCTIONS)
        std::printf("\t ---Session %lu still opened and logged in, SLOT_ID: %lu.\n", finalizer.Session(), info.slotID);
    else
        std::printf("\t ---Session %lu still opened, SLOT_ID: %lu.\n", finalizer.Session(), info.slotID);
    TestSessionRandom(f, finalizer);
    return true;
}

void TestSessionRandom(CK_FUNCTION_LIST_PTR f, LibFinalizer& finalizer) {
    uint8_t random[32] = {};
    const CK_RV rv = f->C_GenerateRandom(finalizer.Session(), random, sizeof random);
    if (rv != CKR_OK) {
        std::printf("\t ---Error while receiving random data: %s (0x%lx) in session %lu\n", zrck::GetCkErrorStr(rv), rv,
                    finalizer.Session());
        return;
    }
    std::printf("\t ---Session %lu random: 0x%s\n", finalizer.Session(), tru::Buffer(random, sizeof random).ToHex().c_str());
}

SearchResult PrintObjects(CK_FUNCTION_LIST_PTR f, LibFinalizer& finalizer, const char* title,
                          CK_OBJECT_CLASS objectClass, CK_KEY_TYPE keyType, const tru::Buffer& id,
                          const std::string& label, const tru::Buffer& subject, const char* kindName,
                          ESearchZone zone, bool longForm) {
    CK_BBOOL privateValue = zone == SZ_PRIVATE ? CK_TRUE : CK_FALSE;
    const bool data = objectClass == CKO_DATA;
    std::vector<CK_ATTRIBUTE> search;
    search.push_back({CKA_CLASS, &objectClass, sizeof objectClass});
    if (keyType != kNoKeyType)
        search.push_back({CKA_KEY_TYPE, &keyType, sizeof keyType});
    if (!id.Empty())
        search.push_back({data ? CKA_OBJECT_ID : CKA_ID, const_cast<uint8_t*>(id.Data()), id.Size()});
    if (!subject.Empty())
        search.push_back({CKA_SUBJECT, const_cast<uint8_t*>(subject.Data()), subject.Size()});
    if (!label.empty())
        search.push_back({data ? CKA_APPLICATION : CKA_LABEL, const_cast<char*>(label.data()), label.size()});
    if (zone != SZ_ANY)
        search.push_back({CKA_PRIVATE, &privateValue, sizeof privateValue});

    const CK_SESSION_HANDLE session = finalizer.Session();
    CK_RV rv = f->C_FindObjectsInit(session, search.data(), search.size());
    if (rv != CKR_OK)
        return {ReportCk("C_FindObjectsInit", rv), 0};
    FindGuard guard(f, session);
    CK_ULONG number = 0;
    for (;;) {
        CK_OBJECT_HANDLE handles[100] = {};
        CK_ULONG found = 0;
        rv = f->C_FindObjects(session, handles, 100, &found);
        if (rv != CKR_OK)
            return {ReportCk("C_FindObjects", rv), number};
        if (found == 0)
            break;
        for (CK_ULONG i = 0; i < found && i < 100; ++i) {
            if (number == 0)
                std::printf("\n%s:\n---------------------------\n", title);
            ++number;
            std::printf("%s #%lu (handle: %lu) attributes:\n", kindName, number, handles[i]);
            PrintAttributes(finalizer, handles[i], longForm);
        }
    }
    guard.Final();
    return {ST_OK, number};
}

void PrintAttributes(LibFinalizer& finalizer, CK_OBJECT_HANDLE object, bool longForm) {
    CK_FUNCTION_LIST_PTR f = finalizer.Functions();
    const CK_SESSION_HANDLE session = finalizer.Session();
    if (longForm)
        PrintLong(f, session, object);
    else
        PrintShort(f, session, object);
    char date[14];
    CK_ATTRIBUTE generated{CKA_ZR_KEY_GENERATION_DATE, date, sizeof date};
    if (f->C_GetAttributeValue(session, object, &generated, 1) == CKR_OK && generated.ulValueLen == 14 &&
        date[6] != ' ' && date[7] != ' ')
        std::printf("  Generated at %c%c.%c%c.%c%c%c%c %c%c:%c%c:%c%c (Local time)\n", date[6], date[7], date[4], date[5],
                    date[0], date[1], date[2], date[3], date[8], date[9], date[10], date[11], date[12], date[13]);
    CK_ULONG size = 0;
    if (f->C_GetObjectSize(session, object, &size) == CKR_OK && size != 0)
        std::printf("  Object size: %lu bytes\n", size);
}

std::string GetAttrPrintString(const CK_ATTRIBUTE& a) {
    char head[96];
    std::snprintf(head, sizeof head, "\t        type: 0x%lx, len: %lu", a.type, a.ulValueLen);
    std::string text = head;
    if (a.ulValueLen == CK_UNAVAILABLE_INFORMATION)
        return text;
    text += ", value: ";
    const bool isULong = zrck::IsULongAttrType(a.type);
    if (IsPrintable(a) && !isULong)
        return text + "\"" + std::string(static_cast<const char*>(a.pValue), a.ulValueLen) + "\"";
    const auto* bytes = static_cast<const uint8_t*>(a.pValue);
    const CK_ULONG shown = std::min<CK_ULONG>(a.ulValueLen, 128);
    for (CK_ULONG i = 0; i < shown; ++i) {
        char pair[3];
        std::snprintf(pair, sizeof pair, "%02x", bytes[i]);
        text += pair;
    }
    if (a.ulValueLen > 128)
        text += "...";
    text += " ";
    for (CK_ULONG i = 0; i < shown; ++i)
        text += (bytes[i] < 32 || bytes[i] > 126) ? '.' : static_cast<char>(bytes[i]);
    if (zrck::IsBoolAttrType(a.type) && a.ulValueLen >= 1)
        text += std::string(" : ") + TF(bytes[0] != 0);
    if (isULong && a.ulValueLen >= 1)
        text += " : " + std::to_string(Low32(a));
    if (a.type == CKA_CLASS && a.ulValueLen >= sizeof(CK_ULONG))
        text += std::string(" (") + zrck::GetClassStr(*static_cast<const CK_ULONG*>(a.pValue)) + ")";
    if (a.type == CKA_KEY_TYPE && a.ulValueLen >= sizeof(CK_ULONG))
        text += std::string(" (") + zrck::GetKeyTypeStr(*static_cast<const CK_ULONG*>(a.pValue)) + ")";
    return text;
}

std::string GetAttrShortPrintString(const CK_ATTRIBUTE& a) {
    if (a.ulValueLen == CK_UNAVAILABLE_INFORMATION)
        return "<attribute unaccessible>";
    const auto* bytes = static_cast<const uint8_t*>(a.pValue);
    CK_ULONG number = 0;
    std::memcpy(&number, bytes, std::min<CK_ULONG>(a.ulValueLen, sizeof number));
    if (zrck::IsBoolAttrType(a.type))
        return TF(a.ulValueLen >= 1 && bytes[0] != 0);
    if (a.type == CKA_KEY_TYPE)
        return zrck::GetKeyTypeStr(number);
    if (a.type == CKA_CLASS)
        return zrck::GetClassStr(number);
    if (zrck::IsULongAttrType(a.type))
        return std::to_string(Low32(a));
    std::string text = IsPrintable(a) ? std::string(static_cast<const char*>(a.pValue), a.ulValueLen)
                                      : "hex: " + tru::Buffer(a.pValue, static_cast<uint32_t>(a.ulValueLen)).ToHex();
    return text + " (attribute size: " + std::to_string(a.ulValueLen) + ")";
}

std::string GetMechanismFlagsStr(CK_FLAGS flags) {
    const struct {
        CK_FLAGS bit;
        const char* name;
    } names[] = {{CKF_HW, "CKF_HW"},
                 {CKF_ENCRYPT, "CKF_ENCRYPT"},
                 {CKF_DECRYPT, "CKF_DECRYPT"},
                 {CKF_DIGEST, "CKF_DIGEST"},
                 {CKF_SIGN, "CKF_SIGN"},
                 {CKF_SIGN_RECOVER, "CKF_SIGN_RECOVER"},
                 {CKF_VERIFY, "CKF_VERIFY"},
                 {CKF_VERIFY_RECOVER, "CKF_VERIFY_RECOVER"},
                 {CKF_GENERATE, "CKF_GENERATE"},
                 {CKF_GENERATE_KEY_PAIR, "CKF_GENERATE_KEY_PAIR"},
                 {CKF_WRAP, "CKF_WRAP"},
                 {CKF_UNWRAP, "CKF_UNWRAP"},
                 {CKF_DERIVE, "CKF_DERIVE"}};
    std::string text;
    for (const auto& n : names)
        if (flags & n.bit)
            text += (text.empty() ? "" : ", ") + std::string(n.name);
    return text;
}

}  // namespace zrsvc
