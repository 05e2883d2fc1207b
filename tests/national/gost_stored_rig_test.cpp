// GOST keys and S-box domain parameters in the files of the simulated token, written and read
// back through the driver's token.
#include <gtest/gtest.h>

#include <memory>

#include "cryptoki/session_frame.h"
#include "driver/qel_library.h"
#include "national/ua_gost_token_rows.h"
#include "driver/qel_slot.h"
#include "driver/qel_slot_factory.h"
#include "driver/qel_token.h"
#include "cryptoki/memory_token.h"
#include "gost_test_token.h"
#include "module_rig_fixture.h"
#include "rig_gtest.h"

namespace {

using gost_test::Der;
using gost_test::DerOid;
using gost_test::Hex;
using gost_test::Text;
using gost_test::ToHex;

const std::string kCustomOid("\x06\x03\x2A\x03\x04", 5);  // 1.2.3.4

using NoSession = zrtest::MemorySession;

class GostStoredRig : public ::testing::Test {
protected:
    void SetUp() override
    {
        ZR_REQUIRE_RIG();
        ASSERT_TRUE(qel::UAGostTokenTablesRegistered());
        tokensim::rig::RigOptions options;
        options.simulators = {librarytest::InitialisedToken()};
        rig = std::make_unique<tokensim::rig::Rig>(options);
        zrck::LibraryFrame::LibraryCreatorFuncPtr = &qel::Library::Create;
        library = dynamic_cast<qel::Library*>(zrck::LibraryFrame::GetInstance());
        ASSERT_NE(library, nullptr);
        CK_C_INITIALIZE_ARGS args{};
        args.flags = CKF_OS_LOCKING_OK;
        ASSERT_EQ(library->Initialize(&args), CKR_OK);
        slot = std::static_pointer_cast<qel::Slot>(library->GetDriverSlotFactory()->GetSlotByID(0));
        token = slot->GetDriverToken();
        const std::string pin = librarytest::kUserPin;
        token->Login(CKU_USER, tru::Buffer(pin.data(), uint32_t(pin.size())));
    }

    void TearDown() override
    {
        token.reset();
        slot.reset();
        if (library != nullptr) {
            library->Finalize(nullptr);
            zrck::LibraryFrame::ReleaseInstanceIfFinalized(library);
        }
        rig.reset();
    }

    // As C_CreateObject builds a token object, then stores it as the library does.
    template <class Class>
    std::shared_ptr<Class> CreateAndStore(zrtest::Records& records)
    {
        auto object = std::make_shared<Class>();
        zrck::AttributeTemplate attributes(records.Array(), records.Count());
        object->InitializeWithAttributes(token.get(), attributes);
        object->SetLifeTime(zrck::TokObject::LIFETIME_TOKEN);
        qel::TokenStorage::GlobalBusyGuard guard(*token->GetStorage(), "test");
        slot->AddObject(object);
        token->SetDirty(object.get(), nullptr);
        token->Update(true);
        return object;
    }

    std::vector<qel::storage::AttributeBuff> Records(long attributeFile)
    {
        std::vector<qel::storage::AttributeBuff> records;
        token->GetStorage()->ReadAttributeFile(attributeFile, records);
        return records;
    }

    std::string EncryptBlock(qel::TokUAGostSecretKey& key)
    {
        NoSession session;
        return gost_test::EncryptBlock(session, key);
    }

    std::unique_ptr<tokensim::rig::Rig> rig;
    qel::Library* library = nullptr;
    std::shared_ptr<qel::Slot> slot;
    std::shared_ptr<qel::Token> token;
};

TEST_F(GostStoredRig, KeyFilesHoldTheRecordsAndReadBack)
{
    std::string value(32, '\0');
    for (int i = 0; i < 32; ++i) value[i] = char(i);
    zrtest::Records records;
    records.ULong(CKA_CLASS, CKO_SECRET_KEY).ULong(CKA_KEY_TYPE, CKK_GOST28147_NAT).Raw(CKA_VALUE, value);
    records.Raw(CKA_GOST_SBOXES, DerOid(4)).Raw(CKA_LABEL, "gost key").Raw(CKA_ID, "id-1").Bool(CKA_PRIVATE, true);
    auto key = CreateAndStore<qel::TokUAGostSecretKey>(records);

    std::vector<qel::storage::IndexFileRecord> index;
    ASSERT_EQ(token->GetStorage()->ListObjectsM(qel::PrivateObject, qel::UA_GOST_SECRET_KEY, index), 1u);
    EXPECT_EQ(index[0].objectFile, key->GetObjectFile());
    EXPECT_EQ(Text(*token->GetStorage()->ReadDataFileM(key->GetObjectFile())), value);
    const std::vector<qel::storage::AttributeBuff> stored = Records(key->GetAttributeFile());
    const std::vector<uint16_t> expectedIds = {0x8EFF, 0x0166, 0x8E11, 0x0003, 0x0102};
    std::vector<uint16_t> ids;
    for (const auto& record : stored) ids.push_back(record.id);
    ASSERT_EQ(ids, expectedIds);
    EXPECT_EQ(stored[0].value->ToHex(), "B3160000") << "modifiable, copyable, the six usage flags";
    EXPECT_EQ(stored[1].value->ToHex(), "00000000");
    EXPECT_EQ(Text(*stored[2].value), DerOid(4));

    qel::TokUAGostSecretKey reread;
    reread.SetTokenPtr(token.get());
    reread.SetLifeTime(zrck::TokObject::LIFETIME_TOKEN);
    reread.SetObjectFile(key->GetObjectFile());
    reread.SetAttributeFile(key->GetAttributeFile());
    reread.ReadAttributes();
    EXPECT_EQ(Text(reread.GetSBox()), DerOid(4));
    EXPECT_EQ(Text(reread.GetLabel()), "gost key");
    EXPECT_EQ(Text(reread.GetKeyID()), "id-1");
    EXPECT_EQ(reread.GetCouldWrap(), CK_TRUE);
    EXPECT_EQ(reread.GetIsSensitive(), CK_FALSE);
    EXPECT_EQ(EncryptBlock(reread), EncryptBlock(*key)) << "value read from the data file";
}

TEST_F(GostStoredRig, DomainParamsRegisterTheirSBoxWhenReadBack)
{
    zrtest::Records records;
    records.ULong(CKA_CLASS, CKO_DOMAIN_PARAMETERS).ULong(CKA_KEY_TYPE, CKK_GOST28147_NAT);
    records.Raw(CKA_ID, kCustomOid).Raw(CKA_GOST_SBOXES, Der(7));
    auto params = CreateAndStore<qel::TokUAGostDomainParams>(records);
    const std::vector<qel::storage::AttributeBuff> stored = Records(params->GetAttributeFile());
    ASSERT_EQ(stored.size(), 3u);
    EXPECT_EQ(stored[0].value->ToHex(), "00000400") << "local only";
    EXPECT_EQ(stored[1].id, 0x8E11);
    EXPECT_EQ(stored[2].id, CKA_ID);

    // As another process: the S-box is known only once the object is read.
    const tru::Buffer id(kCustomOid.data(), uint32_t(kCustomOid.size()));
    token->GetParamsStorage().DeleteParam(id, CKK_GOST28147_NAT);
    qel::TokUAGostDomainParams reread;
    reread.SetTokenPtr(token.get());
    reread.SetLifeTime(zrck::TokObject::LIFETIME_TOKEN);
    reread.SetObjectFile(params->GetObjectFile());
    reread.SetAttributeFile(params->GetAttributeFile());
    reread.ReadAttributes();
    EXPECT_EQ(Text(reread.GetID()), kCustomOid);
    EXPECT_EQ(Text(token->GetParamsStorage().FindParam(id, CKK_GOST28147_NAT)), Der(7));

    qel::TokUAGostSecretKey key;
    key.SetTokenPtr(token.get());
    key.SetSBox(id);
    EXPECT_EQ(Text(key.GetSBoxValue()), Der(7).substr(2));
}

// A key read before the domain parameters its S-box names never falls back to DKE1.
TEST_F(GostStoredRig, KeyReadBeforeItsDomainParamsWaitsForThem)
{
    zrtest::Records paramRecords;
    paramRecords.ULong(CKA_CLASS, CKO_DOMAIN_PARAMETERS).ULong(CKA_KEY_TYPE, CKK_GOST28147_NAT);
    paramRecords.Raw(CKA_ID, kCustomOid).Raw(CKA_GOST_SBOXES, Der(7));
    auto params = CreateAndStore<qel::TokUAGostDomainParams>(paramRecords);
    std::string value(32, '\x5A');
    zrtest::Records keyRecords;
    keyRecords.ULong(CKA_CLASS, CKO_SECRET_KEY).ULong(CKA_KEY_TYPE, CKK_GOST28147_NAT).Raw(CKA_VALUE, value);
    keyRecords.Raw(CKA_GOST_SBOXES, kCustomOid);
    auto key = CreateAndStore<qel::TokUAGostSecretKey>(keyRecords);
    const std::string expected = EncryptBlock(*key);

    const tru::Buffer id(kCustomOid.data(), uint32_t(kCustomOid.size()));
    token->GetParamsStorage().DeleteParam(id, CKK_GOST28147_NAT);
    qel::TokUAGostSecretKey reread;
    reread.SetTokenPtr(token.get());
    reread.SetLifeTime(zrck::TokObject::LIFETIME_TOKEN);
    reread.SetObjectFile(key->GetObjectFile());
    reread.SetAttributeFile(key->GetAttributeFile());
    reread.ReadAttributes();
    EXPECT_EQ(Text(reread.GetSBox()), kCustomOid);
    EXPECT_EQ(zrtest::CodeOf([&] { EncryptBlock(reread); }), CKR_MECHANISM_PARAM_INVALID);

    qel::TokUAGostDomainParams laterParams;
    laterParams.SetTokenPtr(token.get());
    laterParams.SetLifeTime(zrck::TokObject::LIFETIME_TOKEN);
    laterParams.SetAttributeFile(params->GetAttributeFile());
    laterParams.ReadAttributes();
    EXPECT_EQ(EncryptBlock(reread), expected);
}

// The token built with the GOST rows: its own mechanisms, classes and named S-boxes.
TEST_F(GostStoredRig, TokenOffersTheGostMechanismsAndNamedSBoxes)
{
    for (CK_MECHANISM_TYPE type : {CKM_GOST34311, CKM_GOST28147_ECB_NAT, CKM_GOST28147_CNT, CKM_GOST28147_CFB,
                                   CKM_GOST28147_MAC_NAT, CKM_GOST28147_WRAP, CKM_GOST28147_KEY_GEN_NAT}) {
        EXPECT_TRUE(token->IsMechanismSupported(type)) << std::hex << type;
    }

    // Known answers through the token's own mechanisms, on a key its class factory builds.
    std::string value(32, '\0');
    for (int i = 0; i < 32; ++i) value[i] = char(i);
    zrtest::Records records;
    records.ULong(CKA_CLASS, CKO_SECRET_KEY).ULong(CKA_KEY_TYPE, CKK_GOST28147_NAT).Raw(CKA_VALUE, value);
    zrck::AttributeTemplate attributes(records.Array(), records.Count());
    std::unique_ptr<zrck::TokObject> object(token->GetClassFactory()->Generate(attributes));
    ASSERT_NE(dynamic_cast<qel::TokUAGostSecretKey*>(object.get()), nullptr);
    object->InitializeWithAttributes(token.get(), attributes);
    auto& key = dynamic_cast<qel::TokUAGostSecretKey&>(*object);
    NoSession session;
    std::unique_ptr<zrck::TokMechanism> ecb(token->GetMechanismIfSupported(CKM_GOST28147_ECB_NAT)->Clone());
    ecb->EncryptInit(session, zrck::MechanismParameter(CKM_GOST28147_ECB_NAT, tru::Buffer()), key);
    const std::vector<uint8_t> plain = Hex("0001020304050607 F1F2F3F4F5F6F7F8");
    std::vector<uint8_t> out(16);
    unsigned long length = out.size();
    ASSERT_TRUE(ecb->Encrypt(session, tru::Buffer(plain.data(), 16), out.data(), &length));
    EXPECT_EQ(ToHex(out), "E393A17DF2B6DE6F2086D8230C277432");

    std::unique_ptr<zrck::TokMechanism> hash(token->GetMechanismIfSupported(CKM_GOST34311)->Clone());
    hash->DigestInit(session, zrck::MechanismParameter(CKM_GOST34311, tru::Buffer()));
    std::vector<uint8_t> digest(32);
    length = digest.size();
    ASSERT_TRUE(hash->Digest(session, tru::Buffer("abc", 3), digest.data(), &length));
    EXPECT_EQ(ToHex(digest), "A34A53504D8BA070CB73A583146167A0A3C226D793440D9CEA24465FE02251F2");

    // The ten named S-boxes are objects of the token.
    unsigned sBoxes = 0;
    slot->zrck::Slot::EnumerateObjects(
        [&](zrck::TokObject& found, zrck::Slot::ObjEnumerationData*) {
            if (auto* params = dynamic_cast<qel::TokUAGostDomainParams*>(&found)) {
                ++sBoxes;
                EXPECT_EQ(params->GetLifeTime(), zrck::TokObject::LIFETIME_FIXED);
                EXPECT_EQ(params->GetSBox().Size(), 66u);
            }
            return true;
        },
        nullptr);
    EXPECT_EQ(sBoxes, 10u);
}

TEST_F(GostStoredRig, GeneratedKeyTakesItsValueFromTheToken)
{
    std::unique_ptr<zrck::TokMechanism> keyGen(token->GetMechanismIfSupported(CKM_GOST28147_KEY_GEN_NAT)->Clone());
    NoSession session;
    zrtest::Records records;
    zrck::AttributeTemplate attributes(records.Array(), records.Count());
    zrck::TokMechanism::KeyPointer first =
        keyGen->GenerateKey(session, zrck::MechanismParameter(CKM_GOST28147_KEY_GEN_NAT, tru::Buffer()), attributes);
    zrck::AttributeTemplate again(records.Array(), records.Count());
    zrck::TokMechanism::KeyPointer second =
        keyGen->GenerateKey(session, zrck::MechanismParameter(CKM_GOST28147_KEY_GEN_NAT, tru::Buffer()), again);
    const tru::Buffer& a = dynamic_cast<qel::TokUAGostSecretKey&>(*first).GetValue();
    const tru::Buffer& b = dynamic_cast<qel::TokUAGostSecretKey&>(*second).GetValue();
    EXPECT_EQ(a.Size(), 32u);
    EXPECT_NE(Text(a), Text(b));
}

}  // namespace
