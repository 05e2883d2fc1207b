// Driver classes without a token: brand choice, parameter store, attribute-file conversion,
// the SO-properties object's rules, stored-object copies and refreshes, argument limits.
#include <gtest/gtest.h>

#include <cstring>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include "ckbase/exception.h"
#include "driver/qel_brand.h"
#include "driver/qel_params_storage.h"
#include "driver/qel_library.h"
#include "driver/qel_slot.h"
#include "driver/qel_slot_factory.h"
#include "driver/qel_token.h"
#include "driver/so_token_properties.h"
#include "driver/tok_data_object.h"
#include "driver/tok_x509_certificate.h"
#include "objects/attribute_value.h"
#include "support/mutex.h"

namespace {

#define EXPECT_CKR(statement, rv)                                               \
    do {                                                                        \
        try {                                                                   \
            statement;                                                          \
            ADD_FAILURE() << #statement " did not throw";                       \
        } catch (const zrck::Exception& e) {                                    \
            EXPECT_EQ(e.GetCode(), static_cast<CK_RV>(rv)) << #statement;       \
        }                                                                       \
    } while (0)

tru::Buffer Text(const char* text) { return tru::Buffer(text, static_cast<uint32_t>(std::strlen(text))); }

// ---- brand ----

struct BrandCase {
    const char* path;
    uint32_t current;
    uint32_t expected;
    const char* name;
};

class BrandChoice : public ::testing::TestWithParam<BrandCase> {};

TEST_P(BrandChoice, FollowsTheLibraryFileName) {
    EXPECT_EQ(qel::ChooseBrand(GetParam().path, GetParam().current), GetParam().expected) << GetParam().path;
}

INSTANTIATE_TEST_SUITE_P(
    Paths, BrandChoice,
    ::testing::Values(BrandCase{"/usr/lib/libzrcryptokiqel.so", 1, 0, "FirstBrandName"},
                      BrandCase{"/opt/x/LibUlmarKeyQel.so", 0, 1, "SecondBrandNameInAnyCase"},
                      BrandCase{"/opt/x/libulmarkeyqel.so.1", 0, 1, "SecondBrandNameWithVersion"},
                      BrandCase{"/tmp/libulmarkeyqel.so/libzrcryptokiqel.so", 1, 0, "BothNamesTheFirstBrand"},
                      BrandCase{"/tmp/other.so", 0, 0, "NeitherKeepsTheFirst"},
                      BrandCase{"/tmp/other.so", 1, 1, "NeitherKeepsTheSecond"},
                      BrandCase{"", 0, 0, "EmptyPath"}),
    [](const ::testing::TestParamInfo<BrandCase>& info) { return std::string(info.param.name); });

TEST(BrandTexts, EachBrandHasItsOwnTexts) {
    EXPECT_STREQ(qel::GetBrandTexts(0).manufacturer, "ZorvaneUA plc");
    EXPECT_STREQ(qel::GetBrandTexts(1).manufacturer, "Ulmar Technologies");
    EXPECT_STREQ(qel::GetBrandTexts(1).description, "Ulmar Cryptoki QEL Token");
    EXPECT_STREQ(qel::GetBrandTexts(0).placeholderSlot, "ZorvaneUA ZorvaneKey");
    EXPECT_STREQ(qel::GetBrandTexts(7).manufacturer, "ZorvaneUA plc") << "an unknown brand is brand 0";
}

// ---- parameter store ----

TEST(ParamsStorage, KeysByTypeAndIdentifierAndKeepsTheFirstValue) {
    qel::ParamsStorage store;
    const uint8_t id[] = {0x0A, 0xB0};
    const tru::Buffer ident(id, sizeof id);
    EXPECT_EQ(qel::ParamsStorage::GenerateID(ident, 2151809297UL), "2151809297:0AB0");
    EXPECT_EQ(store.FindParam(ident, 1).Size(), 0u) << "unknown identifiers give the empty value";

    store.AddParam(ident, 1, Text("first"));
    store.AddParam(ident, 1, Text("second"));
    store.AddParam(ident, 2, Text("other type"));
    EXPECT_EQ(store.FindParam(ident, 1).ToString(), "first");
    EXPECT_EQ(store.FindParam(ident, 2).ToString(), "other type");

    store.DeleteParam(ident, 1);
    EXPECT_EQ(store.FindParam(ident, 1).ToString(), "first") << "one of two additions released";
    store.DeleteParam(ident, 1);
    EXPECT_EQ(store.FindParam(ident, 1).Size(), 0u);
}

// ---- attribute-file conversion ----

qel::storage::AttributeBuff Record(uint16_t id, const std::vector<uint8_t>& bytes) {
    auto value = std::make_shared<vdk::SafeBuffer>();
    value->Set(static_cast<uint32_t>(bytes.size()), bytes.data());
    return qel::storage::AttributeBuff{id, value};
}

std::vector<uint8_t> Word(uint32_t w) {
    return {static_cast<uint8_t>(w), static_cast<uint8_t>(w >> 8), static_cast<uint8_t>(w >> 16),
            static_cast<uint8_t>(w >> 24)};
}

// type -> value ("T"/"F" for Booleans, hex for others)
std::map<CK_ATTRIBUTE_TYPE, std::string> Converted(CK_OBJECT_CLASS objectClass,
                                                   const std::vector<qel::storage::AttributeBuff>& records,
                                                   const zrck::TokObject* target = nullptr) {
    zrck::AttributeTemplate attributes;
    qel::Token::ConvertAttributesFromToken(objectClass, records, attributes, target);
    std::map<CK_ATTRIBUTE_TYPE, std::string> out;
    for (CK_ULONG i = 0; i < attributes.GetCount(); ++i) {
        const CK_ATTRIBUTE* r = attributes[i].GetRecord();
        const tru::Buffer value(r->pValue, static_cast<uint32_t>(r->ulValueLen));
        if (r->pValue == &zrck::AttributeTemplate::TRUE_CONST) {
            out[r->type] = "T";
        } else if (r->pValue == &zrck::AttributeTemplate::FALSE_CONST) {
            out[r->type] = "F";
        } else {
            out[r->type] = value.ToHex();
        }
    }
    return out;
}

TEST(ConvertAttributes, FlagsWordExpandsPerClass) {
    const uint32_t flags = (1u << 4) | (1u << 10);  // encrypt, sign; not modifiable, not copyable
    const auto key = Converted(CKO_PRIVATE_KEY, {Record(0x8EFF, Word(flags))});
    const std::map<CK_ATTRIBUTE_TYPE, std::string> keyExpected = {
        {CKA_MODIFIABLE, "F"}, {CKA_COPYABLE, "F"}, {CKA_ENCRYPT, "T"}, {CKA_SIGN, "T"}, {CKA_SENSITIVE, "F"}};
    EXPECT_EQ(key, keyExpected);
    const auto data = Converted(CKO_DATA, {Record(0x8EFF, Word(flags))});
    const std::map<CK_ATTRIBUTE_TYPE, std::string> dataExpected = {
        {CKA_MODIFIABLE, "F"}, {CKA_COPYABLE, "F"}, {CKA_ENCRYPT, "T"}, {CKA_SIGN, "T"}};
    EXPECT_EQ(data, dataExpected);
    EXPECT_EQ(Converted(CKO_SECRET_KEY, {Record(0x8EFF, Word(1u << 18))})[CKA_LOCAL], "T");
}

TEST(ConvertAttributes, VendorIdsAndPlainRecords) {
    const auto out = Converted(CKO_DATA, {Record(0x8E11, {1, 2}), Record(0x8E02, {3}), Record(3, {'a', 'b'}),
                                          Record(3, {'c'})});
    EXPECT_EQ(out.at(CKA_GOST_SBOXES), "0102");
    EXPECT_EQ(out.at(CKA_ZR_KEY_GENERATION_DATE), "03");
    EXPECT_EQ(out.at(CKA_LABEL), "63") << "a repeated record replaces the earlier one";
}

TEST(ConvertAttributes, BrokenFlagsWordIsRefused) {
    EXPECT_CKR(Converted(CKO_DATA, {Record(0x8EFF, {1, 0, 0})}), CKR_GENERAL_ERROR);
}

// Any concrete object that answers the two key flags will do.
class AnswersKeyFlags : public qel::SOTokenProperties {
public:
    bool IsMyAttributeType(CK_ATTRIBUTE_TYPE type) const override {
        return type == CKA_ALWAYS_SENSITIVE || type == CKA_NEVER_EXTRACTABLE;
    }
};

TEST(ConvertAttributes, ClearedFlagsReachAnObjectThatAnswersThem) {
    AnswersKeyFlags target;
    const auto out = Converted(CKO_PRIVATE_KEY, {Record(0x8EFF, Word(1u << 14))}, &target);
    EXPECT_EQ(out.at(CKA_ALWAYS_SENSITIVE), "T");
    EXPECT_EQ(out.at(CKA_NEVER_EXTRACTABLE), "F") << "a stored false never falls back to a class default";
    EXPECT_EQ(out.count(CKA_ENCRYPT), 0u) << "flags the object does not answer stay out";
}

TEST(ConvertAttributes, CertificateTrustClearedOnTheTokenReadsBackFalse) {
    qel::TokX509Certificate certificate;
    EXPECT_TRUE(certificate.IsMyAttributeType(CKA_TRUSTED));
    EXPECT_TRUE(certificate.IsMyAttributeType(CKA_CERTIFICATE_CATEGORY));
    EXPECT_FALSE(certificate.IsMyAttributeType(CKA_SIGN));
    const auto out = Converted(CKO_CERTIFICATE, {Record(0x8EFF, Word(0))}, &certificate);
    EXPECT_EQ(out.at(CKA_TRUSTED), "F") << "a trusted copy in memory must see the stored false";
    EXPECT_EQ(out.count(CKA_SIGN), 0u);
}

// ---- SO properties ----

struct SearchCase {
    std::vector<CK_ATTRIBUTE_TYPE> types;
    CK_ULONG featureType;
    bool matches;
    const char* name;
};

class SOPropertiesSearch : public ::testing::TestWithParam<SearchCase> {};

TEST_P(SOPropertiesSearch, MatchesOnlyClassAndFeatureType) {
    CK_OBJECT_CLASS hwClass = CKO_HW_FEATURE;
    CK_ULONG feature = GetParam().featureType;
    CK_ULONG tries = 3;
    std::vector<CK_ATTRIBUTE> records;
    for (CK_ATTRIBUTE_TYPE type : GetParam().types) {
        if (type == CKA_CLASS) records.push_back({type, &hwClass, sizeof hwClass});
        if (type == CKA_HW_FEATURE_TYPE) records.push_back({type, &feature, sizeof feature});
        if (type == CKA_USER_AUTH_MAX_TRY) records.push_back({type, &tries, sizeof tries});
    }
    zrck::AttributeTemplate search(records.data(), records.size());
    qel::SOTokenProperties properties;
    EXPECT_EQ(properties.IsObjectMeetConditions(search), GetParam().matches);
}

INSTANTIATE_TEST_SUITE_P(
    Templates, SOPropertiesSearch,
    ::testing::Values(SearchCase{{CKA_CLASS, CKA_HW_FEATURE_TYPE}, CKH_ZR_SO_PROPERTIES, true, "ClassAndType"},
                      SearchCase{{CKA_CLASS}, 0, true, "ClassOnly"},
                      SearchCase{{}, 0, false, "NoClass"},
                      SearchCase{{CKA_CLASS, CKA_HW_FEATURE_TYPE}, 1, false, "OtherFeature"},
                      SearchCase{{CKA_CLASS, CKA_HW_FEATURE_TYPE, CKA_USER_AUTH_MAX_TRY}, CKH_ZR_SO_PROPERTIES,
                                 false, "WithDeviceValue"}),
    [](const ::testing::TestParamInfo<SearchCase>& info) { return std::string(info.param.name); });

TEST(SOProperties, CannotBeCreatedOrChangedWithoutItsToken) {
    qel::SOTokenProperties properties;
    zrck::AttributeTemplate none;
    EXPECT_CKR(properties.SetupAttributes(nullptr, none), CKR_GENERAL_ERROR);
    EXPECT_CKR(properties.UpdateAttributes(none), CKR_FUNCTION_FAILED);
    EXPECT_CKR(properties.GetUserAuthMaxCount(), CKR_FUNCTION_FAILED);
    EXPECT_EQ(properties.GetLifeTime(), zrck::TokObject::LIFETIME_FIXED);
}

// ---- stored objects in memory ----

TEST(TokData, CopyTakesEveryValueButNoFiles) {
    qel::TokData source;
    source.SetLabel(Text("lab"));
    source.SetApplication(Text("app"));
    source.SetObjectID(Text("\x01\x02"));
    source.SetValue(Text("value"));
    source.SetModifiable(false);
    source.SetLifeTime(zrck::TokObject::LIFETIME_TOKEN);
    source.SetVisibility(zrck::TokObject::VISIBILITY_PRIVATE);
    source.SetObjectFile(130);
    source.SetAttributeFile(131);
    std::unique_ptr<zrck::TokObject> copyObject(source.GenerateCopy());
    auto& copy = dynamic_cast<qel::TokData&>(*copyObject);
    EXPECT_EQ(copy.GetLabel().ToString(), "lab");
    EXPECT_EQ(copy.GetApplication().ToString(), "app");
    EXPECT_EQ(copy.GetObjectID().ToHex(), "0102");
    EXPECT_EQ(copy.GetValue().ToString(), "value");
    EXPECT_EQ(copy.IsModifiable(), CK_FALSE);
    EXPECT_EQ(copy.GetVisibility(), zrck::TokObject::VISIBILITY_PRIVATE);
    EXPECT_EQ(copy.GetCopyMode(), unsigned{zrck::TokStorageObject::COPY_MODE});
    EXPECT_EQ(copy.GetObjectFile(), 0) << "a copy never shares its source's files";
    EXPECT_EQ(copy.GetStorageID(), 0u);
    EXPECT_TRUE(copy.IsRefreshLocked());
}

TEST(TokData, RefreshWaitsForTheLockAndFlagsOnlyFall) {
    qel::TokData object;
    qel::TokData twin;
    twin.SetApplication(Text("new"));
    twin.SetModifiable(false);
    EXPECT_FALSE(object.RefreshFrom(twin)) << "locked: nothing changes";
    EXPECT_TRUE(object.GetApplication().Empty());
    object.SetRefreshLock(false);
    EXPECT_TRUE(object.RefreshFrom(twin));
    EXPECT_EQ(object.GetApplication().ToString(), "new");
    EXPECT_EQ(object.IsModifiable(), CK_FALSE);
    twin.SetModifiable(true);
    object.RefreshFrom(twin);
    EXPECT_EQ(object.IsModifiable(), CK_FALSE) << "never back to true";
}

TEST(TokData, DescribesItselfInOneLine) {
    qel::TokData object;
    object.SetHandle(26);
    object.SetObjectFile(1);
    object.SetAttributeFile(2);
    const std::string text = object.ToString();
    EXPECT_EQ(text.rfind("TokData[This: ", 0), 0u) << text;
    EXPECT_NE(text.find(", Handle: 1A, Label=\"\", ID: 0x00000000, StorageID: 0x00020001]"), std::string::npos) << text;
}

TEST(TokData, TokenWorkNeedsAnOwningToken) {
    qel::TokData object;
    object.SetLifeTime(zrck::TokObject::LIFETIME_TOKEN);
    EXPECT_CKR(object.StoreAttributes(), CKR_FUNCTION_FAILED);
    EXPECT_CKR(object.ReadAttributes(), CKR_FUNCTION_FAILED);
    EXPECT_CKR(object.GetObjectSize(), CKR_FUNCTION_FAILED);
}

TEST(TokX509Certificate, CopyKeepsEveryStoredField) {
    qel::TokX509Certificate source;
    source.SetIsTrusted(CK_TRUE);
    source.SetCertificateCategory(2);
    source.SetCheckValue(Text("\x01\x02\x03"));
    source.SetIssuerPublicKeyHash(Text("ih"));
    source.SetSubject(Text("subject"));
    source.SetKeyID(Text("id"));
    source.SetUrl(Text("url"));
    source.SetJavaMidpSecurityDomain(3);
    CK_DATE start;
    std::memcpy(&start, "20260101", 8);
    source.SetStartDate(start);
    source.SetValue(Text("der"));
    std::unique_ptr<zrck::TokObject> copyObject(source.GenerateCopy());
    auto& copy = dynamic_cast<qel::TokX509Certificate&>(*copyObject);
    EXPECT_EQ(copy.IsTrusted(), CK_TRUE);
    EXPECT_EQ(copy.GetCertificateCategory(), 2u);
    EXPECT_EQ(copy.GetCheckValue().ToHex(), "010203");
    EXPECT_EQ(copy.GetIssuerPublicKeyHash().ToString(), "ih");
    EXPECT_EQ(copy.GetSubject().ToString(), "subject");
    EXPECT_EQ(copy.GetKeyID().ToString(), "id");
    EXPECT_EQ(copy.GetUrl().ToString(), "url");
    EXPECT_EQ(copy.GetJavaMidpSecurityDomain(), 3u);
    EXPECT_EQ(std::memcmp(copy.GetStartDate().year, "2026", 4), 0);
    EXPECT_EQ(copy.GetValue().ToString(), "der");
    EXPECT_TRUE(zrck::IsBlankDate(copy.GetEndDate()));
}

// ---- slot argument limits ----

TEST(SlotArguments, StringAndAttributeLimits) {
    vdk::MutexFactory::Instance().SetFlags(vdk::MutexFactory::FLAG_RECURSIVE);
    vdk::MutexLinuxFactory::RegisterFactory();
    qel::Slot slot(nullptr, 0, "reader");
    std::vector<uint8_t> bytes(0x10001);
    EXPECT_NO_THROW(slot.VerifyStringArgument(tru::Buffer(bytes.data(), 1024)));
    EXPECT_CKR(slot.VerifyStringArgument(tru::Buffer(bytes.data(), 1025)), CKR_ARGUMENTS_BAD);
    CK_ATTRIBUTE fits{CKA_VALUE, bytes.data(), 0x10000};
    zrck::AttributeTemplate ok(&fits, 1);
    EXPECT_NO_THROW(slot.VerifyTemplateArgument(ok));
    CK_ATTRIBUTE big{CKA_VALUE, bytes.data(), 0x10001};
    zrck::AttributeTemplate tooBig(&big, 1);
    EXPECT_CKR(slot.VerifyTemplateArgument(tooBig), CKR_ARGUMENTS_BAD);
    EXPECT_EQ(slot.GetFirmwareVersion().major, 1);
    EXPECT_TRUE(slot.IsRemovable() && slot.IsHardwareSlot());
}

}  // namespace

// ---- slot table over changing reader lists ----

namespace {

class ListedReaders : public qel::SlotFactory {
public:
    explicit ListedReaders(qel::Library* library) : qel::SlotFactory(library) {}
    void ReadSlotList(SlotList& list) override {
        list.clear();
        for (const std::string& name : names) list.push_back(std::make_shared<ShortSlotInfo>(ShortSlotInfo{name}));
    }
    std::vector<std::string> names;
};

TEST(SlotFactory, SlotsFollowTheirReadersAcrossRescans) {
    vdk::MutexFactory::Instance().SetFlags(vdk::MutexFactory::FLAG_RECURSIVE);
    vdk::MutexLinuxFactory::RegisterFactory();
    qel::Library library;
    ListedReaders factory(&library);
    EXPECT_EQ(factory.GetSlotCount(), 0u) << "nothing is listed before the first scan";
    factory.names = {"A", "B"};
    factory.RefreshSlots();
    ASSERT_EQ(factory.GetSlotList(), (std::vector<CK_SLOT_ID>{0, 1}));
    const zrck::SlotPtr a = factory.FindSlotByID(0);
    const zrck::SlotPtr b = factory.FindSlotByID(1);

    factory.names = {"B"};
    factory.RefreshSlots();
    EXPECT_EQ(factory.GetSlotList(), (std::vector<CK_SLOT_ID>{0}));
    EXPECT_EQ(factory.FindSlotByID(0), b) << "B's slot is renumbered, not replaced";
    EXPECT_EQ(b->GetSlotID(), 0u);
    EXPECT_EQ(a->GetSlotID(), 0u) << "A's slot lives on while a caller holds it";

    factory.names = {"A", "C", "B"};
    factory.RefreshSlots();
    EXPECT_EQ(factory.FindSlotByID(2), b);
    EXPECT_NE(factory.FindSlotByID(0), a) << "a reader that came back gets a new slot";
    const zrck::SlotPtr c = factory.FindSlotByID(1);
    factory.RefreshSlots();
    EXPECT_EQ(factory.FindSlotByID(1), c) << "an unchanged list changes nothing";
    EXPECT_EQ(factory.FindSlotByID(10000), nullptr);
}

}  // namespace
