#include "cryptoki/names/ck_names.h"

#include <gtest/gtest.h>

#include <cctype>
#include <cstring>
#include <ostream>
#include <string>
#include <vector>

namespace zrck {
namespace {

// ---- Name tables -------------------------------------------------------------------------

// The lookups as one function type.
std::string Class(CK_ULONG v) { return GetClassStr(v); }
std::string KeyType(CK_ULONG v) { return GetKeyTypeStr(v); }
std::string Error(CK_ULONG v) { return GetCkErrorStr(v); }

// The name part of GetMechanismStr, after "[0x........] ".
std::string MechanismName(CK_ULONG value) {
    std::string text = GetMechanismStr(value);
    size_t end = text.find("] ");
    return end == std::string::npos ? text : text.substr(end + 2);
}

struct TableCase {
    const char* title;
    const CkValueName* table;
    size_t rows;
    CK_ULONG endValue;
    const char* prefix;  // every name starts with it; null for the error texts
    std::string (*print)(CK_ULONG);
};

void PrintTo(const TableCase& c, std::ostream* os) { *os << c.title; }

const TableCase kTables[] = {
    {"classes", ck_classes, 9, 0, "CKO_", Class},
    {"key_types", ck_key_type, 45, 0, "CKK_", KeyType},
    {"attributes", ck_attribute, 131, 0, "CKA_", GetAttributeTypeStr},
    {"mechanisms", ck_mechanisms, 265, 0, "CKM_", MechanismName},
    {"errors", ck_errors, 94, 0xFFFFFFFF, nullptr, Error},
};

class NameTable : public ::testing::TestWithParam<TableCase> {};

TEST_P(NameTable, HasItsRowsAndEndRow) {
    const TableCase& c = GetParam();
    size_t rows = 0;
    while (c.table[rows].name != nullptr)
        ++rows;
    EXPECT_EQ(rows, c.rows);
    EXPECT_EQ(c.table[rows].value, c.endValue);
}

// Every row prints its own name, unless an earlier row holds the same value: then that
// earlier row's name wins.
TEST_P(NameTable, EveryRowPrintsTheFirstNameOfItsValue) {
    const TableCase& c = GetParam();
    for (const CkValueName* row = c.table; row->name != nullptr; ++row) {
        const CkValueName* first = c.table;
        while (first->value != row->value)
            ++first;
        EXPECT_EQ(c.print(row->value), first->name) << "row " << row->name;
    }
}

TEST_P(NameTable, NamesAreWellFormed) {
    const TableCase& c = GetParam();
    for (const CkValueName* row = c.table; row->name != nullptr; ++row) {
        std::string name = row->name;
        ASSERT_FALSE(name.empty());
        if (c.prefix != nullptr) {
            EXPECT_EQ(name.rfind(c.prefix, 0), 0u) << name;
        } else {
            for (char ch : name)
                EXPECT_TRUE(std::isupper(static_cast<unsigned char>(ch)) || ch == ' ') << name;
        }
    }
}

INSTANTIATE_TEST_SUITE_P(All, NameTable, ::testing::ValuesIn(kTables),
                         [](const auto& info) { return std::string(info.param.title); });

TEST(NameTable, ErrorValuesAreUnique) {
    for (const CkValueName* row = ck_errors; row->name != nullptr; ++row)
        for (const CkValueName* other = row + 1; other->name != nullptr; ++other)
            EXPECT_NE(row->value, other->value) << row->name << " / " << other->name;
}

TEST(NameTable, LookupOfEmptyTableGivesDefault) {
    const CkValueName empty[] = {{0, nullptr}};
    EXPECT_STREQ(LookupCkName(empty, 0, "none"), "none");
    EXPECT_STREQ(LookupCkName(empty, 7, "none"), "none");
}

struct LookupCase {
    const char* title;
    std::string (*print)(CK_ULONG);
    CK_ULONG value;
    const char* expected;
};

void PrintTo(const LookupCase& c, std::ostream* os) { *os << c.title; }

const LookupCase kLookups[] = {
    {"error_pin_incorrect", Error, 0xA0, "PIN INCORRECT"},
    {"error_ok", Error, 0, "OK"},
    {"error_unknown", Error, 0x1234, "unknown error"},
    {"error_end_row_value", Error, 0xFFFFFFFF, "unknown error"},
    {"error_copy_prohibited", Error, 0x1A, "COPY PROHIBITED"},
    {"error_no_rng", Error, CKR_RANDOM_NO_RNG, "RANDOM GENERATOR NOT AVAILABLE"},
    {"error_vendor", Error, CKR_VENDOR_DEFINED, "VENDOR DEFINED"},
    {"error_64bit_above_32", Error, 0x1000000A0UL, "unknown error"},
    {"class_zero", Class, 0, "CKO_DATA"},
    {"class_vendor", Class, 0x8E000000, "CKO_ZR_CRL"},
    {"class_unknown", Class, 8, "unknown class"},
    {"key_type_ec_first_name", KeyType, 3, "CKK_ECDSA"},
    {"key_type_cast5_first_name", KeyType, 0x18, "CKK_CAST5"},
    {"key_type_gost_standard", KeyType, 0x32, "CKK_GOST28147"},
    {"key_type_gost_national", KeyType, 0x80420111, "CKK_GOST28147"},
    {"key_type_unknown", KeyType, 0x27, "unknown key type"},
    {"mechanism_ecdsa", GetMechanismStr, 0x1041, "[0x00001041] CKM_ECDSA"},
    {"mechanism_shared_value", GetMechanismStr, 0x80420043, "[0x80420043] CKM_DSTUDH_DERIVE"},
    {"mechanism_unknown", GetMechanismStr, 0x1085, "[0x00001085] unknown mechanism"},
    {"mechanism_zero", GetMechanismStr, 0, "[0x00000000] CKM_RSA_PKCS_KEY_PAIR_GEN"},
    {"mechanism_sha1", GetMechanismStr, 0x220, "[0x00000220] CKM_SHA1"},
    {"mechanism_cast_twin", GetMechanismStr, 0x321, "[0x00000321] CKM_CAST5_ECB"},
    {"mechanism_gost_standard", GetMechanismStr, 0x1221, "[0x00001221] CKM_GOST28147_ECB"},
    {"mechanism_gost_national", GetMechanismStr, 0x80420011, "[0x80420011] CKM_GOST28147_ECB"},
    {"mechanism_aes_ecb_data", GetMechanismStr, 0x1104, "[0x00001104] CKM_AES_ECB_ENCRYPT_DATA"},
    {"mechanism_64bit_value", GetMechanismStr, 0x100001041UL, "[0x100001041] unknown mechanism"},
    {"attribute_unknown", GetAttributeTypeStr, 0x12345, "0x12345 (unknown attribute)"},
    {"attribute_slot_id", GetAttributeTypeStr, 0x8E00001B, "CKA_ZR_SLOT_ID"},
    {"attribute_subprime_bits", GetAttributeTypeStr, 0x134, "CKA_SUBPRIME_BITS"},
    {"attribute_array_flag", GetAttributeTypeStr, 0x40000600, "CKA_ALLOWED_MECHANISMS"},
    {"attribute_national", GetAttributeTypeStr, 0x80420311, "CKA_GOST_SBOXES"},
};

class Lookup : public ::testing::TestWithParam<LookupCase> {};

TEST_P(Lookup, PrintsExpectedText) {
    EXPECT_EQ(GetParam().print(GetParam().value), GetParam().expected);
}

INSTANTIATE_TEST_SUITE_P(Cases, Lookup, ::testing::ValuesIn(kLookups),
                         [](const auto& info) { return std::string(info.param.title); });

// ---- Raw bytes, mechanisms, arrays --------------------------------------------------------

TEST(GetValueAsHex, PrintsTextQuotedAndOtherBytesAsHex) {
    const unsigned char binary[] = {0x01, 0xFF};
    const unsigned char highBit[] = {'a', 0x80};
    const unsigned char newline[] = {'a', '\n'};
    EXPECT_EQ(GetValueAsHex("abc", 3), "\"abc\"");
    EXPECT_EQ(GetValueAsHex(binary, 2), "0x01FF");
    EXPECT_EQ(GetValueAsHex(highBit, 2), "0x6180");
    EXPECT_EQ(GetValueAsHex(newline, 2), "0x610A");
    EXPECT_EQ(GetValueAsHex(nullptr, 5), "<null, len 5>");
    EXPECT_EQ(GetValueAsHex(nullptr, 0), "<null, len 0>");
    EXPECT_EQ(GetValueAsHex("abc", 0), "");
}

TEST(GetMechanismPrintVersion, ShowsParameterOrNull) {
    const unsigned char iv[] = {0x00, 0x0A};
    CK_MECHANISM withParam = {CKM_DES3_CBC, const_cast<unsigned char*>(iv), sizeof iv};
    CK_MECHANISM noParam = {CKM_RSA_PKCS, nullptr, 0};
    CK_MECHANISM nullWithLength = {CKM_RSA_PKCS, nullptr, 4};
    EXPECT_EQ(GetMechanismPrintVersion(&withParam), "{[0x00000133] CKM_DES3_CBC, size: 2, data: 0x000A}");
    EXPECT_EQ(GetMechanismPrintVersion(&noParam), "{[0x00000001] CKM_RSA_PKCS, size: 0, data: NULL}");
    EXPECT_EQ(GetMechanismPrintVersion(&nullWithLength), "{[0x00000001] CKM_RSA_PKCS, size: 4, data: NULL}");
    EXPECT_EQ(GetMechanismPrintVersion(nullptr), "NULL");
}

TEST(GetIntArrayPrintVersion, PrintsSigned32BitElements) {
    const CK_ULONG values[] = {1, 0xFFFFFFFF, 0x80420031, CK_UNAVAILABLE_INFORMATION};
    EXPECT_EQ(GetIntArrayPrintVersion(values, 2), "[1, -1]");
    EXPECT_EQ(GetIntArrayPrintVersion(values, 4), "[1, -1, -2143158223, -1]");
    EXPECT_EQ(GetIntArrayPrintVersion(values, 0), "[]");
    EXPECT_EQ(GetIntArrayPrintVersion(nullptr, 0), "[]");
    EXPECT_EQ(GetIntArrayPrintVersion(nullptr, 3), "NULL");
}

// ---- Templates ----------------------------------------------------------------------------

struct TemplateCase {
    const char* title;
    CK_ATTRIBUTE_TYPE type;
    std::vector<unsigned char> value;
    CK_ULONG length;   // ulValueLen as the caller passes it
    bool nullValue;
    bool withValues;
    std::string expected;
};

void PrintTo(const TemplateCase& c, std::ostream* os) { *os << c.title; }

// A CK_ULONG in host order, as an application puts it into a template.
std::vector<unsigned char> ULongBytes(CK_ULONG v) {
    std::vector<unsigned char> bytes(sizeof v);
    std::memcpy(bytes.data(), &v, sizeof v);
    return bytes;
}

const TemplateCase kTemplates[] = {
    {"class_as_ulong", CKA_CLASS, ULongBytes(3), 8, false, true,
     "((CKA_CLASS 0x0300000000000000, size 8 [3, CKO_PRIVATE_KEY]))"},
    {"class_without_values", CKA_CLASS, ULongBytes(3), 8, false, false, "((CKA_CLASS <UNDEFINED>, size 8))"},
    {"class_four_bytes_not_read", CKA_CLASS, {3, 0, 0, 0}, 4, false, true, "((CKA_CLASS 0x03000000, size 4))"},
    {"key_type_first_name", CKA_KEY_TYPE, ULongBytes(3), 8, false, true,
     "((CKA_KEY_TYPE 0x0300000000000000, size 8 [3, CKK_ECDSA]))"},
    {"unknown_class_value", CKA_CLASS, ULongBytes(9), 8, false, true,
     "((CKA_CLASS 0x0900000000000000, size 8 [9, unknown class]))"},
    {"other_ulong_no_name", CKA_VALUE_LEN, ULongBytes(24), 8, false, true,
     "((CKA_VALUE_LEN 0x1800000000000000, size 8 [24]))"},
    {"printable_eight_bytes_also_read", CKA_LABEL, {'A', 0, 0, 0, 0, 0, 0, 0}, 8, false, true,
     "((CKA_LABEL 0x4100000000000000, size 8 [65]))"},
    {"label_text", CKA_LABEL, {'k', 'e', 'y'}, 3, false, true, "((CKA_LABEL \"key\", size 3))"},
    {"bool_true", CKA_TOKEN, {2}, 1, false, true, "((CKA_TOKEN 0x02, size 1 [TRUE]))"},
    {"bool_false", CKA_TOKEN, {0}, 1, false, true, "((CKA_TOKEN 0x00, size 1 [FALSE]))"},
    {"printable_byte_also_bool", CKA_ID, {'1'}, 1, false, true, "((CKA_ID \"1\", size 1 [TRUE]))"},
    {"too_long", CKA_VALUE, std::vector<unsigned char>(2000), 2000, false, true, "((CKA_VALUE <? ?>, size 2000))"},
    {"longest_shown", CKA_VALUE, std::vector<unsigned char>(1024, 'x'), 1024, false, true,
     "((CKA_VALUE \"" + std::string(1024, 'x') + "\", size 1024))"},
    {"unknown_length_32bit", CKA_VALUE, {}, 0xFFFFFFFF, false, true, "((CKA_VALUE <?>, size 4294967295))"},
    {"unknown_length_native", CKA_VALUE, {}, CK_UNAVAILABLE_INFORMATION, false, true,
     "((CKA_VALUE <?>, size 18446744073709551615))"},
    {"null_value", CKA_VALUE, {}, 8, true, true, "((CKA_VALUE <NULL>, size 8))"},
    {"empty_value", CKA_VALUE, {}, 0, false, true, "((CKA_VALUE , size 0))"},
    {"unknown_type", 0x12345, {0x01}, 1, false, true, "((0x12345 (unknown attribute) 0x01, size 1 [TRUE]))"},
};

class TemplatePrint : public ::testing::TestWithParam<TemplateCase> {};

TEST_P(TemplatePrint, PrintsOneGroup) {
    const TemplateCase& c = GetParam();
    std::vector<unsigned char> value = c.value;
    value.push_back(0);  // a valid pointer even for an empty value
    CK_ATTRIBUTE attribute = {c.type, c.nullValue ? nullptr : value.data(), c.length};
    EXPECT_EQ(GetTemplatePrintVersion(&attribute, 1, c.withValues), c.expected);
}

INSTANTIATE_TEST_SUITE_P(Cases, TemplatePrint, ::testing::ValuesIn(kTemplates),
                         [](const auto& info) { return std::string(info.param.title); });

TEST(TemplatePrint, JoinsGroupsWithoutSeparator) {
    CK_BBOOL yes = CK_TRUE;
    CK_ATTRIBUTE attributes[] = {{CKA_TOKEN, &yes, 1}, {CKA_LABEL, const_cast<char*>("a"), 1}};
    EXPECT_EQ(GetTemplatePrintVersion(attributes, 2, true),
              "((CKA_TOKEN 0x01, size 1 [TRUE])(CKA_LABEL \"a\", size 1 [TRUE]))");
    EXPECT_EQ(GetTemplatePrintVersion(attributes, 0, true), "()");
    EXPECT_EQ(GetTemplatePrintVersion(nullptr, 0, true), "()");
    EXPECT_EQ(GetTemplatePrintVersion(nullptr, 2, true), "NULL");
}

TEST(TemplatePrint, ReadsUnalignedULongValue) {
    unsigned char buffer[sizeof(CK_ULONG) + 1] = {};
    CK_ULONG key = CKK_DSTU4145;
    std::memcpy(buffer + 1, &key, sizeof key);
    CK_ATTRIBUTE attribute = {CKA_KEY_TYPE, buffer + 1, sizeof key};
    EXPECT_EQ(GetTemplatePrintVersion(&attribute, 1, true),
              "((CKA_KEY_TYPE 0x3101428000000000, size 8 [2151809329, CKK_DSTU4145]))");
}

// ---- Attribute value kinds ----------------------------------------------------------------

struct KindCase {
    CK_ATTRIBUTE_TYPE type;
    bool isULong;
    bool isBool;
};

const KindCase kKinds[] = {
    {CKA_CLASS, true, false},        {CKA_TOKEN, false, true},
    {CKA_PRIVATE, false, true},      {CKA_LABEL, false, false},
    {CKA_CERTIFICATE_TYPE, true, false},
    {CKA_TRUSTED, false, false},     {CKA_CERTIFICATE_CATEGORY, true, false},
    {CKA_JAVA_MIDP_SECURITY_DOMAIN, true, false},
    {CKA_KEY_TYPE, true, false},     {CKA_ID, false, false},
    {0x103, false, true},            {0x10C, false, true},
    {0x10D, false, false},           {CKA_MODULUS_BITS, true, false},
    {CKA_PRIME_BITS, true, false},   {0x134, true, false},
    {CKA_VALUE_BITS, true, false},   {CKA_VALUE_LEN, true, false},
    {0x162, false, true},            {0x165, false, true},
    {CKA_KEY_GEN_MECHANISM, true, false},
    {CKA_MODIFIABLE, false, true},   {CKA_COPYABLE, false, true},
    {CKA_ALWAYS_AUTHENTICATE, false, true},
    {CKA_WRAP_WITH_TRUSTED, false, true},
    {CKA_WRAP_TEMPLATE, false, false},
    {0x220, true, false},            {0x222, true, false},
    {0x223, false, true},            {0x224, true, false},
    {0x227, true, false},            {0x228, false, false},
    {CKA_OTP_COUNTER, false, false}, {CKA_HW_FEATURE_TYPE, true, false},
    {CKA_RESET_ON_INIT, false, true},{CKA_HAS_RESET, false, true},
    {0x400, true, false},            {0x404, true, false},
    {CKA_COLOR, false, true},        {CKA_BITS_PER_PIXEL, true, false},
    {CKA_MECHANISM_TYPE, true, false},
    {CKA_ALLOWED_MECHANISMS, true, false},
    {0x600, false, false},           {CKA_ZR_BDS_PRM_L, true, false},
    {CKA_ZR_BDS_PRM_R, true, false}, {CKA_ZR_BDS_PRM_P, false, false},
    {CKA_ZR_BDH_PRM_L, true, false}, {CKA_ZR_BDH_PRM_R, true, false},
    {CKA_ZR_SLOT_ID, true, false},   {CKA_ZR_SMART_CONTEXT, false, false},
    {CKA_USER_AUTH_MAX_TRY, false, false},
    {0x1000000000UL, false, false},
};

TEST(AttributeKind, ULongAndBoolTypes) {
    for (const KindCase& c : kKinds) {
        EXPECT_EQ(IsULongAttrType(c.type), c.isULong) << std::hex << c.type;
        EXPECT_EQ(IsBoolAttrType(c.type), c.isBool) << std::hex << c.type;
    }
}

TEST(AttributeKind, NoTypeIsBoth) {
    for (const CkValueName* row = ck_attribute; row->name != nullptr; ++row)
        EXPECT_FALSE(IsULongAttrType(row->value) && IsBoolAttrType(row->value)) << row->name;
}

}  // namespace
}  // namespace zrck
