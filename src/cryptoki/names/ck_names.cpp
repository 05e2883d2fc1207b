// Lookups over the name tables and the print helpers built on them.
#include "cryptoki/names/ck_names.h"

#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <cstring>

#include "support/string_utils.h"
#include "tru2/buffer.h"

namespace zrck {

namespace {

// Longest attribute value the template printer shows.
constexpr CK_ULONG kMaxPrintedValueLength = 1024;

// A tru::Buffer view holds at most 0xFFFFFFFF bytes; longer values are taken in pieces.
constexpr CK_ULONG kMaxViewLength = 0xFFFFFFFFUL;

template <typename PieceFunction>
void ForEachPiece(const unsigned char* bytes, CK_ULONG length, PieceFunction onPiece) {
    for (CK_ULONG done = 0; done < length;) {
        const auto piece = static_cast<uint32_t>(std::min(length - done, kMaxViewLength));
        if (!onPiece(tru::Buffer(bytes + done, piece)))
            return;
        done += piece;
    }
}

// Printable by the C library in the current locale; false for no bytes.
bool IsPrintable(const unsigned char* bytes, CK_ULONG length) {
    bool printable = length != 0;
    ForEachPiece(bytes, length, [&](const tru::Buffer& piece) {
        printable = vdk::IsBufferPrintable(piece);
        return printable;
    });
    return printable;
}

std::string ToUpperHex(const unsigned char* bytes, CK_ULONG length) {
    std::string text;
    ForEachPiece(bytes, length, [&](const tru::Buffer& piece) {
        text += piece.ToHex();  // no grouping: plain upper-case digits
        return true;
    });
    return text;
}

// A length the caller could not tell: the 32-bit marker or CK_UNAVAILABLE_INFORMATION.
bool IsUnknownLength(CK_ULONG length) {
    return length == 0xFFFFFFFFUL || length == CK_UNAVAILABLE_INFORMATION;
}

// " [3, CKO_PRIVATE_KEY]" after a CK_ULONG-sized value, " [TRUE]" after a one-byte value.
std::string ValueInterpretation(const CK_ATTRIBUTE& attribute) {
    if (attribute.ulValueLen == sizeof(CK_ULONG)) {
        CK_ULONG number;
        std::memcpy(&number, attribute.pValue, sizeof number);  // caller's value may be unaligned
        std::string text = " [" + std::to_string(number);
        if (attribute.type == CKA_CLASS)
            text += std::string(", ") + GetClassStr(number);
        else if (attribute.type == CKA_KEY_TYPE)
            text += std::string(", ") + GetKeyTypeStr(number);
        return text + "]";
    }
    if (attribute.ulValueLen == 1)
        return *static_cast<const unsigned char*>(attribute.pValue) != 0 ? " [TRUE]" : " [FALSE]";
    return std::string();
}

std::string AttributeGroup(const CK_ATTRIBUTE& attribute, bool withValues) {
    std::string value;
    std::string interpretation;
    if (!withValues)
        value = "<UNDEFINED>";
    else if (IsUnknownLength(attribute.ulValueLen))
        value = "<?>";
    else if (attribute.ulValueLen > kMaxPrintedValueLength)
        value = "<? ?>";
    else if (attribute.pValue == nullptr)
        value = "<NULL>";
    else {
        value = GetValueAsHex(attribute.pValue, attribute.ulValueLen);
        interpretation = ValueInterpretation(attribute);
    }
    return "(" + GetAttributeTypeStr(attribute.type) + " " + value + ", size " +
           std::to_string(attribute.ulValueLen) + interpretation + ")";
}

}  // namespace

const char* LookupCkName(const CkValueName* table, CK_ULONG value, const char* defaultText) {
    for (const CkValueName* row = table; row->name != nullptr; ++row)
        if (row->value == value)
            return row->name;
    return defaultText;
}

const char* GetClassStr(CK_ULONG value) {
    return LookupCkName(ck_classes, value, "unknown class");
}

const char* GetKeyTypeStr(CK_ULONG value) {
    return LookupCkName(ck_key_type, value, "unknown key type");
}

const char* GetCkErrorStr(CK_ULONG value) {
    return LookupCkName(ck_errors, value, "unknown error");
}

std::string GetMechanismStr(CK_MECHANISM_TYPE type) {
    char prefix[32];
    std::snprintf(prefix, sizeof prefix, "[0x%08lx] ", static_cast<unsigned long>(type));
    return prefix + std::string(LookupCkName(ck_mechanisms, type, "unknown mechanism"));
}

std::string GetAttributeTypeStr(CK_ATTRIBUTE_TYPE type) {
    const char* name = LookupCkName(ck_attribute, type, nullptr);
    if (name != nullptr)
        return name;
    char text[64];
    std::snprintf(text, sizeof text, "0x%lx (unknown attribute)", static_cast<unsigned long>(type));
    return text;
}

std::string GetValueAsHex(const void* data, CK_ULONG length) {
    if (data == nullptr)
        return "<null, len " + std::to_string(length) + ">";
    const auto* bytes = static_cast<const unsigned char*>(data);
    if (IsPrintable(bytes, length))
        return "\"" + std::string(reinterpret_cast<const char*>(bytes), length) + "\"";
    if (length == 0)
        return std::string();
    return "0x" + ToUpperHex(bytes, length);
}

std::string GetMechanismPrintVersion(const CK_MECHANISM* mechanism) {
    if (mechanism == nullptr)
        return "NULL";
    std::string data = mechanism->pParameter == nullptr
                           ? std::string("NULL")
                           : GetValueAsHex(mechanism->pParameter, mechanism->ulParameterLen);
    return "{" + GetMechanismStr(mechanism->mechanism) + ", size: " +
           std::to_string(mechanism->ulParameterLen) + ", data: " + data + "}";
}

std::string GetIntArrayPrintVersion(const CK_ULONG* values, CK_ULONG count) {
    if (count == 0)
        return "[]";
    if (values == nullptr)
        return "NULL";
    std::string text = "[";
    for (CK_ULONG i = 0; i < count; ++i) {
        if (i != 0)
            text += ", ";
        // Mechanism and attribute numbers are 32-bit; the vendor ones print negative.
        text += std::to_string(static_cast<int32_t>(static_cast<uint32_t>(values[i])));
    }
    return text + "]";
}

std::string GetTemplatePrintVersion(const CK_ATTRIBUTE* attributes, CK_ULONG count, bool withValues) {
    if (count == 0)
        return "()";
    if (attributes == nullptr)
        return "NULL";
    std::string text = "(";
    for (CK_ULONG i = 0; i < count; ++i)
        text += AttributeGroup(attributes[i], withValues);
    return text + ")";
}

bool IsULongAttrType(CK_ATTRIBUTE_TYPE type) {
    switch (type) {
    case CKA_CLASS:
    case CKA_CERTIFICATE_TYPE:
    case CKA_CERTIFICATE_CATEGORY:
    case CKA_JAVA_MIDP_SECURITY_DOMAIN:
    case CKA_KEY_TYPE:
    case CKA_MODULUS_BITS:
    case CKA_PRIME_BITS:
    case CKA_SUB_PRIME_BITS:
    case CKA_VALUE_BITS:
    case CKA_VALUE_LEN:
    case CKA_KEY_GEN_MECHANISM:
    case CKA_OTP_FORMAT:
    case CKA_OTP_LENGTH:
    case CKA_OTP_TIME_INTERVAL:
    case CKA_OTP_CHALLENGE_REQUIREMENT:
    case CKA_OTP_TIME_REQUIREMENT:
    case CKA_OTP_COUNTER_REQUIREMENT:
    case CKA_OTP_PIN_REQUIREMENT:
    case CKA_HW_FEATURE_TYPE:
    case CKA_PIXEL_X:
    case CKA_PIXEL_Y:
    case CKA_RESOLUTION:
    case CKA_CHAR_ROWS:
    case CKA_CHAR_COLUMNS:
    case CKA_BITS_PER_PIXEL:
    case CKA_MECHANISM_TYPE:
    case CKA_ALLOWED_MECHANISMS:
    case CKA_ZR_BDS_PRM_L:
    case CKA_ZR_BDS_PRM_R:
    case CKA_ZR_BDH_PRM_L:
    case CKA_ZR_BDH_PRM_R:
    case CKA_ZR_SLOT_ID:
        return true;
    default:
        return false;
    }
}

bool IsBoolAttrType(CK_ATTRIBUTE_TYPE type) {
    switch (type) {
    case CKA_TOKEN:
    case CKA_PRIVATE:
    case CKA_SENSITIVE:
    case CKA_ENCRYPT:
    case CKA_DECRYPT:
    case CKA_WRAP:
    case CKA_UNWRAP:
    case CKA_SIGN:
    case CKA_SIGN_RECOVER:
    case CKA_VERIFY:
    case CKA_VERIFY_RECOVER:
    case CKA_DERIVE:
    case CKA_EXTRACTABLE:
    case CKA_LOCAL:
    case CKA_NEVER_EXTRACTABLE:
    case CKA_ALWAYS_SENSITIVE:
    case CKA_MODIFIABLE:
    case CKA_COPYABLE:
    case CKA_ALWAYS_AUTHENTICATE:
    case CKA_WRAP_WITH_TRUSTED:
    case CKA_OTP_USER_FRIENDLY_MODE:
    case CKA_RESET_ON_INIT:
    case CKA_HAS_RESET:
    case CKA_COLOR:
        return true;
    default:
        return false;
    }
}

}  // namespace zrck
