// Attributes and templates.
#include <gtest/gtest.h>

#include "ckbase/attribute.h"
#include "ckbase/exception.h"
#include "fake_framework.h"

namespace {

using zrck::Attribute;
using zrck::AttributeTemplate;

CK_RV CodeOf(const std::function<void()>& body) {
    try {
        body();
    } catch (const zrck::Exception& e) {
        return e.GetCode();
    }
    return CKR_OK;
}

TEST(AttributeTemplateTest, EmptyTemplates) {
    CK_ATTRIBUTE one = {CKA_CLASS, nullptr, 0};
    for (const AttributeTemplate* empty : {new AttributeTemplate(nullptr, 3), new AttributeTemplate(&one, 0)}) {
        EXPECT_EQ(0u, empty->GetCount());
        EXPECT_EQ(nullptr, empty->GetAttributeIfExists(CKA_CLASS));
        EXPECT_FALSE(empty->IsClassAttributeSet(CKO_DATA, 0));
        EXPECT_FALSE(empty->HasSensitiveAttributes());
        EXPECT_FALSE(empty->HasUsageAttributes());
        delete empty;
    }
}

TEST(AttributeTemplateTest, RepeatedTypeIsInconsistent) {
    CK_BBOOL yes = CK_TRUE;
    CK_ATTRIBUTE records[] = {{CKA_TOKEN, &yes, 1}, {CKA_LABEL, nullptr, 0}, {CKA_TOKEN, &yes, 1}};
    EXPECT_EQ(CKR_TEMPLATE_INCONSISTENT, CodeOf([&] { AttributeTemplate t(records, 3); }));
}

struct ValueCase {
    CK_ATTRIBUTE_TYPE type;
    const void* value;
    CK_ULONG length;
    CK_RV boolCode;
    bool boolValue;
    CK_RV ulongCode;
    const char* name;
};

const CK_BYTE kTwo = 2;
const CK_ULONG kSeven = 7;
const CK_BYTE kShort[2] = {1, 0};

class AttributeValueTest : public ::testing::TestWithParam<ValueCase> {};

TEST_P(AttributeValueTest, Reads) {
    const ValueCase& c = GetParam();
    CK_ATTRIBUTE record = {c.type, const_cast<void*>(c.value), c.length};
    Attribute attribute(&record);
    bool value = false;
    EXPECT_EQ(c.boolCode, CodeOf([&] { value = attribute.GetAsBool(); }));
    if (c.boolCode == CKR_OK) {
        EXPECT_EQ(c.boolValue, value);
    }
    EXPECT_EQ(c.ulongCode, CodeOf([&] { attribute.GetAsULong(); }));
}

INSTANTIATE_TEST_SUITE_P(
    Attribute, AttributeValueTest,
    ::testing::Values(
        ValueCase{CKA_TOKEN, &kTwo, 1, CKR_OK, true, CKR_ATTRIBUTE_VALUE_INVALID, "AnyNonZeroByteIsTrue"},
        ValueCase{CKA_TOKEN, kShort, 2, CKR_ATTRIBUTE_VALUE_INVALID, false, CKR_ATTRIBUTE_VALUE_INVALID, "TwoBytes"},
        ValueCase{CKA_CLASS, &kSeven, sizeof(CK_ULONG), CKR_ATTRIBUTE_VALUE_INVALID, false, CKR_OK, "ULong"},
        // A null value pointer with a length is refused, never read.
        ValueCase{CKA_TOKEN, nullptr, 1, CKR_ATTRIBUTE_VALUE_INVALID, false, CKR_ATTRIBUTE_VALUE_INVALID, "NullBool"},
        ValueCase{CKA_CLASS, nullptr, sizeof(CK_ULONG), CKR_ATTRIBUTE_VALUE_INVALID, false,
                  CKR_ATTRIBUTE_VALUE_INVALID, "NullULong"}),
    [](const ::testing::TestParamInfo<ValueCase>& info) { return std::string(info.param.name); });

// An empty CK_BBOOL reads as false only when the configuration asks for it.
TEST(AttributeTest, EmptyBoolFollowsTheConfiguration) {
    CK_ATTRIBUTE record = {CKA_TOKEN, nullptr, 0};
    Attribute attribute(&record);
    for (const char* text : {"", "MozillaNSSCompatibility=true"}) {
        zrck::LibraryFrame::LibraryCreatorFuncPtr = &zrtest::FakeLibrary::Create;
        CK_C_INITIALIZE_ARGS args = {nullptr, nullptr, nullptr, nullptr, 0, const_cast<char*>(text)};
        zrck::LibraryFrame* library = zrck::LibraryFrame::GetInstance();
        ASSERT_EQ(CKR_OK, library->Initialize(&args));
        const bool configured = text[0] != '\0';
        bool value = true;
        EXPECT_EQ(configured ? CKR_OK : CKR_ATTRIBUTE_VALUE_INVALID, CodeOf([&] { value = attribute.GetAsBool(); }));
        if (configured) {
            EXPECT_FALSE(value);
        }
        ASSERT_EQ(CKR_OK, library->Finalize(nullptr));
        zrck::LibraryFrame::ReleaseInstanceIfFinalized(library);
        zrck::LibraryFrame::LibraryCreatorFuncPtr = nullptr;
    }
    // Without any library object: the boundary sees CKR_GENERAL_ERROR.
    EXPECT_EQ(CKR_GENERAL_ERROR, CodeOf([&] { attribute.GetAsBool(); }));
}

TEST(AttributeTest, TryToPlaceValue) {
    CK_BYTE byte = 9;
    CK_ATTRIBUTE query = {CKA_TOKEN, nullptr, 0};
    EXPECT_EQ(CKR_OK, Attribute(&query).TryToPlaceValue(1));
    EXPECT_EQ(1u, query.ulValueLen);
    CK_ATTRIBUTE empty = {CKA_TOKEN, &byte, 0};
    EXPECT_EQ(CKR_BUFFER_TOO_SMALL, Attribute(&empty).TryToPlaceValue(1));
    EXPECT_EQ(1u, empty.ulValueLen);
    EXPECT_EQ(9, byte);
    CK_ATTRIBUTE room = {CKA_TOKEN, &byte, 4};
    EXPECT_EQ(CKR_OK, Attribute(&room).TryToPlaceValue(1));
    EXPECT_EQ(1, byte);
    EXPECT_EQ(1u, room.ulValueLen);
}

TEST(AttributeTest, SetValueWritesIntoTheCallersBuffer) {
    char room[4] = {0};
    CK_ATTRIBUTE record = {CKA_LABEL, room, sizeof room};
    Attribute attribute(&record);
    attribute.SetValue(tru::Buffer("ab", 2));
    EXPECT_EQ(2u, record.ulValueLen);
    EXPECT_EQ('b', room[1]);
    EXPECT_EQ(CKR_GENERAL_ERROR, CodeOf([&] { attribute.SetValue(tru::Buffer("abc", 3)); }));  // now 2 bytes long
    CK_ATTRIBUTE none = {CKA_LABEL, nullptr, 8};
    EXPECT_EQ(CKR_GENERAL_ERROR, CodeOf([&] { Attribute(&none).SetValue(tru::Buffer("a", 1)); }));
    Attribute(&none).SetValue(tru::Buffer());
    EXPECT_EQ(0u, none.ulValueLen);
}

CK_BBOOL BoolAt(const AttributeTemplate& t, CK_ULONG index) {
    return *static_cast<const CK_BBOOL*>(t[index].GetValue());
}

TEST(AttributeTemplateTest, DefaultAttributesAreAddedOnlyWhereAbsent) {
    CK_BBOOL no = CK_FALSE;
    CK_ATTRIBUTE records[] = {{CKA_PRIVATE, &no, 1}};
    AttributeTemplate privateKey(records, 1);
    privateKey.AddDefaultAttributes(CKO_PRIVATE_KEY);
    ASSERT_EQ(3u, privateKey.GetCount());
    EXPECT_EQ(CK_FALSE, BoolAt(privateKey, 0));
    EXPECT_EQ(CKA_TOKEN, privateKey[1].GetType());
    EXPECT_EQ(CKA_MODIFIABLE, privateKey[2].GetType());
    AttributeTemplate publicKey;
    publicKey.AddDefaultAttributes(CKO_PUBLIC_KEY);
    ASSERT_NE(nullptr, publicKey.GetAttributeIfExists(CKA_PRIVATE));
    EXPECT_FALSE(publicKey.GetAttributeIfExists(CKA_PRIVATE)->GetAsBool());
}

TEST(AttributeTemplateTest, AddOrReplaceKeepsThePosition) {
    CK_BBOOL yes = CK_TRUE;
    CK_ATTRIBUTE records[] = {{CKA_TOKEN, &yes, 1}, {CKA_LABEL, nullptr, 0}};
    AttributeTemplate t(records, 2);
    Attribute replacement[2];
    replacement[0].SetupOwnBool(CKA_TOKEN, false);
    replacement[1].SetupOwnBool(CKA_SIGN, true);
    t.AddOrReplaceAttributes(replacement, 2);
    ASSERT_EQ(3u, t.GetCount());
    EXPECT_EQ(CKA_TOKEN, t[0].GetType());
    EXPECT_EQ(CK_FALSE, BoolAt(t, 0));
    EXPECT_EQ(CK_TRUE, yes);  // the caller's record is untouched
    EXPECT_EQ(CKA_SIGN, t[2].GetType());
    EXPECT_TRUE(t.HasUsageAttributes());
}

struct ClassCase {
    std::vector<std::pair<CK_ATTRIBUTE_TYPE, CK_ULONG>> entries;  // value length sizeof(CK_ULONG), or 2 when value is ~0
    CK_RV code;
    bool answer;
    const char* name;
};

class ClassAttributeTest : public ::testing::TestWithParam<ClassCase> {};

TEST_P(ClassAttributeTest, PrivateRsaKey) {
    std::vector<CK_ULONG> values;
    std::vector<CK_ATTRIBUTE> records;
    values.reserve(GetParam().entries.size());
    for (const auto& entry : GetParam().entries) {
        values.push_back(entry.second);
        const CK_ULONG length = entry.second == ~0UL ? 2 : sizeof(CK_ULONG);
        records.push_back({entry.first, &values.back(), length});
    }
    AttributeTemplate t(records.data(), records.size());
    bool answer = false;
    EXPECT_EQ(GetParam().code, CodeOf([&] { answer = t.IsClassAttributeSet(CKO_PRIVATE_KEY, CKK_RSA); }));
    EXPECT_EQ(GetParam().answer, answer);
}

INSTANTIATE_TEST_SUITE_P(
    AttributeTemplate, ClassAttributeTest,
    ::testing::Values(ClassCase{{{CKA_CLASS, CKO_PRIVATE_KEY}, {CKA_KEY_TYPE, CKK_RSA}}, CKR_OK, true, "Both"},
                      ClassCase{{{CKA_CLASS, CKO_PRIVATE_KEY}}, CKR_OK, false, "ClassAlone"},
                      ClassCase{{{CKA_KEY_TYPE, CKK_RSA}, {CKA_CLASS, CKO_SECRET_KEY}}, CKR_OK, false, "OtherClass"},
                      ClassCase{{{CKA_KEY_TYPE, CKK_DSA}, {CKA_CLASS, ~0UL}}, CKR_OK, false, "StopsBeforeBadLength"},
                      ClassCase{{{CKA_CLASS, ~0UL}, {CKA_KEY_TYPE, CKK_DSA}}, CKR_ATTRIBUTE_VALUE_INVALID, false,
                                "BadClassLength"}),
    [](const ::testing::TestParamInfo<ClassCase>& info) { return std::string(info.param.name); });

}  // namespace
