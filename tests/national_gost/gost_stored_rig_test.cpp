// GOST keys and S-box domain parameters written to and read back from the simulated token.
#include <algorithm>
#include <deque>

#include "driver/token_storage.h"
#include "gost_test_token.h"
#include "national/tok_ua_gost_cipher_mechanisms.h"
#include "storage_rig_fixture.h"

using namespace gost_test;

namespace {

// The test token over a real storage. Its record conversion stands in for the driver token's:
// the flags word becomes Boolean attributes, the vendor IDs their Cryptoki types.
class StoredGostToken : public GostTestToken {
public:
    qel::TokenStorage* GetTokenStorage() override { return storage; }
    bool IsNationalSupported() override { return storage->IsDHSupportedM(); }

    void ConvertAttributesFromToken(const std::vector<qel::storage::AttributeBuff>& records,
                                    CK_OBJECT_CLASS objectClass, zrck::AttributeTemplate& attributes) override
    {
        std::vector<zrck::Attribute> entries;
        for (const auto& record : records) {
            const std::string value(reinterpret_cast<const char*>(record.value->Data()), record.value->Size());
            if (record.id == qel::tokattr::kFlags) {
                uint32_t word = 0;
                std::memcpy(&word, value.data(), std::min<size_t>(4, value.size()));
                AddFlags(word, objectClass, entries);
            } else {
                CK_ATTRIBUTE_TYPE type = record.id;
                if (record.id == qel::tokattr::kGostSboxes) type = CKA_GOST_SBOXES;
                if (record.id == qel::tokattr::kKeyGenerationDate) type = CKA_ZR_KEY_GENERATION_DATE;
                Add(entries, type, value);
            }
        }
        attributes.AddAttributesIfNotExist(entries.data(), entries.size());
    }

    qel::TokenStorage* storage = nullptr;

private:
    void Add(std::vector<zrck::Attribute>& entries, CK_ATTRIBUTE_TYPE type, const std::string& value)
    {
        values_.push_back(value);
        entries.emplace_back();
        entries.back().SetupOwn(type, values_.back().data(), static_cast<unsigned>(values_.back().size()));
    }

    void AddFlags(uint32_t word, CK_OBJECT_CLASS objectClass, std::vector<zrck::Attribute>& entries)
    {
        const struct {
            uint32_t bit;
            CK_ATTRIBUTE_TYPE type;
        } keyBits[] = {{0x4, CKA_TRUSTED},         {0x8, CKA_DERIVE},           {0x10, CKA_ENCRYPT},
                       {0x20, CKA_VERIFY},         {0x80, CKA_WRAP},            {0x100, CKA_SENSITIVE},
                       {0x200, CKA_DECRYPT},       {0x400, CKA_SIGN},           {0x1000, CKA_UNWRAP},
                       {0x2000, CKA_EXTRACTABLE},  {0x4000, CKA_ALWAYS_SENSITIVE}, {0x8000, CKA_NEVER_EXTRACTABLE},
                       {0x40000, CKA_LOCAL}};
        for (const auto& bit : keyBits) {
            if (objectClass != CKO_SECRET_KEY && bit.type != CKA_LOCAL) continue;
            Add(entries, bit.type, std::string(1, (word & bit.bit) ? '\1' : '\0'));
        }
    }

    std::deque<std::string> values_;
};

const std::string kCustomOid("\x06\x03\x2A\x03\x04", 5);  // 1.2.3.4

class GostStoredRig : public drivertest::StorageRigTest {
protected:
    void SetUp() override
    {
        StorageRigTest::SetUp();
        if (IsSkipped()) return;
        storage->LoginUserM(drivertest::Text(drivertest::kUserPin));
        token.storage = storage.get();
    }

    std::vector<uint16_t> RecordIds(long attributeFile, std::vector<qel::storage::AttributeBuff>& records)
    {
        storage->ReadAttributeFile(attributeFile, records);
        std::vector<uint16_t> ids;
        for (const auto& record : records) ids.push_back(record.id);
        return ids;
    }

    std::string EncryptBlock(qel::TokUAGostSecretKey& key)
    {
        GostTestSession session(token);
        qel::TokUAGostEcbMechanism ecb;
        ecb.EncryptInit(session, zrck::MechanismParameter(0, tru::Buffer()), key);
        const std::vector<uint8_t> block = Hex("0001020304050607");
        std::vector<uint8_t> out(8);
        unsigned long length = out.size();
        ecb.Encrypt(session, tru::Buffer(block.data(), 8), out.data(), &length);
        return ToHex(out);
    }

    StoredGostToken token;
};

TEST_F(GostStoredRig, KeyFilesHoldTheRecordsAndReadBack)
{
    zrtest::Records records = GostKeyTemplate(KeyValue0To31());
    records.Raw(CKA_GOST_SBOXES, DerOid(4)).Raw(CKA_LABEL, "gost key").Raw(CKA_ID, "id-1");
    std::unique_ptr<qel::TokUAGostSecretKey> key = CreateKey(token, records);
    key->SetLifeTime(zrck::TokObject::LIFETIME_TOKEN);
    key->SetVisibility(zrck::TokObject::VISIBILITY_PRIVATE);
    key->SetKeyGenMechanism(CKM_GOST28147_KEY_GEN_NAT);
    {
        qel::TokenStorage::GlobalBusyGuard guard(*storage, "C_CreateObject");
        key->StoreAttributes();
    }
    EXPECT_GE(key->GetObjectFile(), qel::fileid::kPrivateFirst);
    EXPECT_LE(key->GetObjectFile(), qel::fileid::kPrivateLast);
    // Data file: version 2, size 32, the value.
    const std::string value = KeyValue0To31();
    EXPECT_EQ(RawFile(key->GetObjectFile()), "02002000" + ToHex(reinterpret_cast<const uint8_t*>(value.data()), 32));

    std::vector<qel::storage::AttributeBuff> stored;
    const std::vector<uint16_t> expectedIds = {0x8EFF, 0x0166, 0x8E11, 0x0003, 0x0102};
    EXPECT_EQ(RecordIds(key->GetAttributeFile(), stored), expectedIds);
    ASSERT_EQ(stored.size(), expectedIds.size());
    // modifiable, copyable and the six default usage flags
    EXPECT_EQ(ToHex(Vec(*stored[0].value)), "B3160000");
    EXPECT_EQ(ToHex(Vec(*stored[1].value)), "41004280");
    EXPECT_EQ(Bytes(Vec(*stored[2].value)), DerOid(4));

    qel::TokUAGostSecretKey reread;
    reread.SetTokenPtr(&token);
    reread.SetLifeTime(zrck::TokObject::LIFETIME_TOKEN);
    reread.SetObjectFile(key->GetObjectFile());
    reread.SetAttributeFile(key->GetAttributeFile());
    reread.ReadAttributes();
    EXPECT_EQ(Bytes(Vec(reread.GetSBox())), DerOid(4));
    EXPECT_EQ(Bytes(Vec(reread.GetLabel())), "gost key");
    EXPECT_EQ(Bytes(Vec(reread.GetKeyID())), "id-1");
    EXPECT_EQ(reread.GetKeyGenMechanism(), CKM_GOST28147_KEY_GEN_NAT);
    EXPECT_EQ(reread.GetCouldWrap(), CK_TRUE);
    EXPECT_EQ(reread.GetIsSensitive(), CK_FALSE);
    EXPECT_EQ(EncryptBlock(reread), EncryptBlock(*key)) << "value read from the data file";
}

TEST_F(GostStoredRig, DomainParamsRegisterTheirSBoxWhenReadBack)
{
    zrtest::Records records;
    records.ULong(CKA_CLASS, CKO_DOMAIN_PARAMETERS).ULong(CKA_KEY_TYPE, CKK_GOST28147_NAT);
    records.Raw(CKA_ID, kCustomOid).Raw(CKA_GOST_SBOXES, Der(7));
    std::unique_ptr<zrck::TokObject> created = Create(token, records);
    auto& params = dynamic_cast<qel::TokUAGostDomainParams&>(*created);
    params.SetLifeTime(zrck::TokObject::LIFETIME_TOKEN);
    {
        qel::TokenStorage::GlobalBusyGuard guard(*storage, "C_CreateObject");
        params.StoreAttributes();
    }
    std::vector<qel::storage::AttributeBuff> stored;
    EXPECT_EQ(RecordIds(params.GetAttributeFile(), stored), (std::vector<uint16_t>{0x8EFF, 0x8E11, 0x0102}));
    EXPECT_EQ(ToHex(Vec(*stored[0].value)), "00000400");

    token.params.clear();
    qel::TokUAGostDomainParams reread;
    reread.SetTokenPtr(&token);
    reread.SetLifeTime(zrck::TokObject::LIFETIME_TOKEN);
    reread.SetAttributeFile(params.GetAttributeFile());
    reread.ReadAttributes();
    EXPECT_EQ(Bytes(Vec(reread.GetID())), kCustomOid);
    zrtest::Records keyRecords = GostKeyTemplate(KeyValue0To31());
    keyRecords.Raw(CKA_GOST_SBOXES, kCustomOid);
    EXPECT_EQ(Bytes(Vec(CreateKey(token, keyRecords)->GetSBoxValue())), Der(7).substr(2));
}

}  // namespace
