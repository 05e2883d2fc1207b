// DSTU 4145 keys, signatures, key-pair generation and key agreement on the token the library set
// up through the real pcscd and the simulated token.
#include "dstu_rig_fixture.h"
#include "dstu_test_util.h"

#include "driver/token_stored_object.h"
#include "national/dke_tables.h"
#include "national/tok_ua_dh_derive.h"
#include "national/tok_ua_gost_cipher_mechanisms.h"
#include "national/tok_ua_gost_secret_key.h"
#include "national/tok_ua_sgn_domain_params.h"
#include "national/tok_ua_sgn_keys.h"
#include "national/tok_ua_sgn_mechanisms.h"
#include "national/ua_sgn_util.h"

#include <algorithm>
#include <cstring>

using namespace dstutest;

namespace {

using Object = std::shared_ptr<zrck::TokObject>;

struct CurveCase {
    const char* name;
    const tru::Buffer* block;
    CK_ULONG signatureSize;
};

const CurveCase kCurves[] = {
    {"m163", &qel::UA_SGN_PARAMSET_0_OID_DKE1_VALUE, 42},
    {"m191", &qel::UA_SGN_PARAMSET_4_OID_DKE1_VALUE, 48},
    {"m257", &qel::UA_SGN_PARAMSET_6_OID_DKE1_VALUE, 64},
    {"m431", &qel::UA_SGN_PARAMSET_9_OID_DKE1_VALUE, 108},
};

const zrck::MechanismParameter kNoParameter(0, tru::Buffer());

zrck::TokPrivateKey& Private(const Object& key) { return dynamic_cast<zrck::TokPrivateKey&>(*key); }
zrck::TokPublicKey& Public(const Object& key) { return dynamic_cast<zrck::TokPublicKey&>(*key); }

// A GOST key that keeps what the derivation handed it instead of storing it.
class CapturedKey : public qel::TokUAGostSecretKey {
public:
    void InitializeWithAttributes(zrck::ObjectToken*, zrck::AttributeTemplate& attributes) override
    {
        for (CK_ATTRIBUTE_TYPE type : {CKA_VALUE, CKA_GOST_SBOXES, CKA_CLASS, CKA_KEY_TYPE}) {
            const zrck::Attribute* entry = attributes.GetAttributeIfExists(type);
            if (entry != nullptr) {
                const auto* bytes = static_cast<const uint8_t*>(entry->GetValue());
                captured[type] = Bytes(bytes, bytes + entry->GetLength());
            }
        }
    }
    std::map<CK_ATTRIBUTE_TYPE, Bytes> captured;
};

class CapturingDerive : public qel::TokUADHCofactorDeriveMechanism {
public:
    KeyPointer CreateSecretKey(CK_KEY_TYPE keyType) override
    {
        qel::TokUADHCofactorDeriveMechanism::CreateSecretKey(keyType);  // the type check
        return KeyPointer(new CapturedKey());
    }
};

class DstuTokenTest : public DstuRigTest {
protected:
    struct KeyPair {
        Object publicKey;
        Object privateKey;
    };

    std::unique_ptr<zrck::TokMechanism> Mechanism(CK_MECHANISM_TYPE type)
    {
        zrck::TokMechanism* prototype = token->GetMechanismIfSupported(type);
        EXPECT_NE(prototype, nullptr) << std::hex << type;
        return std::unique_ptr<zrck::TokMechanism>(prototype != nullptr ? prototype->Clone() : nullptr);
    }

    // As C_GenerateKeyPair: the pair, then each token object written to its files.
    CK_RV Generate(zrck::AttributeTemplate& publicTemplate, zrck::AttributeTemplate& privateTemplate, KeyPair& pair,
                   const zrck::MechanismParameter& parameter = kNoParameter)
    {
        auto mechanism = Mechanism(CKM_DSTU4145_KEY_PAIR_GEN);
        return CodeOf([&] {
            auto made = mechanism->GenerateKeyPair(*frame, parameter, publicTemplate, privateTemplate);
            pair = {made.first, made.second};
            for (const Object& key : {pair.publicKey, pair.privateKey}) {
                if (dynamic_cast<zrck::TokStorageObject&>(*key).IsTokenObject()) {
                    dynamic_cast<qel::TokenStoredObject&>(*key).StoreAttributes();
                }
            }
        });
    }

    KeyPair Generate(const Bytes& params, bool publicOnToken = true)
    {
        CK_BBOOL yes = CK_TRUE;
        CK_BBOOL onToken = publicOnToken ? CK_TRUE : CK_FALSE;
        CK_ATTRIBUTE publicRecords[] = {{CKA_EC_PARAMS, const_cast<uint8_t*>(params.data()), params.size()},
                                        {CKA_TOKEN, &onToken, sizeof onToken}};
        CK_ATTRIBUTE privateRecords[] = {{CKA_LABEL, const_cast<char*>("k"), 1}, {CKA_DERIVE, &yes, sizeof yes}};
        zrck::AttributeTemplate publicTemplate(publicRecords, 2);
        zrck::AttributeTemplate privateTemplate(privateRecords, 2);
        KeyPair pair;
        EXPECT_EQ(Generate(publicTemplate, privateTemplate, pair), CKR_OK);
        return pair;
    }

    // As C_SignInit and C_Sign with a length query first; the signature or the failing code.
    CK_RV Sign(CK_MECHANISM_TYPE type, const Object& key, const Bytes& data, Bytes& signature)
    {
        auto mechanism = Mechanism(type);
        return CodeOf([&] {
            mechanism->SignInit(*frame, kNoParameter, Private(key));
            const tru::Buffer view(data.data(), static_cast<uint32_t>(data.size()));
            unsigned long length = 0;
            EXPECT_TRUE(mechanism->Sign(*frame, view, nullptr, &length));
            signature.assign(length, 0);
            EXPECT_TRUE(mechanism->Sign(*frame, view, signature.data(), &length));
            signature.resize(length);
        });
    }

    Bytes Sign(CK_MECHANISM_TYPE type, const Object& key, const Bytes& data)
    {
        Bytes signature;
        EXPECT_EQ(Sign(type, key, data, signature), CKR_OK);
        return signature;
    }

    // As C_VerifyInit and C_Verify: CKR_SIGNATURE_INVALID when the token rejects it.
    CK_RV Verify(CK_MECHANISM_TYPE type, const Object& key, const Bytes& data, const Bytes& signature)
    {
        auto mechanism = Mechanism(type);
        bool accepted = false;
        const CK_RV rv = CodeOf([&] {
            mechanism->VerifyInit(*frame, kNoParameter, Public(key));
            accepted = mechanism->Verify(*frame, tru::Buffer(data.data(), static_cast<uint32_t>(data.size())),
                                         tru::Buffer(signature.data(), static_cast<uint32_t>(signature.size())));
        });
        return rv != CKR_OK ? rv : (accepted ? CKR_OK : CKR_SIGNATURE_INVALID);
    }

    Bytes Attribute(const Object& object, CK_ATTRIBUTE_TYPE type, CK_RV* rv = nullptr)
    {
        Bytes value(512);
        CK_ATTRIBUTE record{type, value.data(), value.size()};
        zrck::AttributeTemplate query(&record, 1);
        const CK_RV result = object->GetAttributes(query);
        if (rv != nullptr) *rv = result;
        value.resize(result == CKR_OK ? record.ulValueLen : 0);
        return value;
    }

    bool Flag(const Object& object, CK_ATTRIBUTE_TYPE type)
    {
        const Bytes value = Attribute(object, type);
        return value.size() == 1 && value[0] == CK_TRUE;
    }

    uint64_t Count(const char* command) const { return Sim().Count(command); }
};

class DstuCurveTest : public DstuTokenTest, public ::testing::WithParamInterface<CurveCase> {};

} // namespace

TEST_P(DstuCurveTest, GeneratedPairSignsAndVerifiesWithAndWithoutHostHashing)
{
    const CurveCase& curve = GetParam();
    const KeyPair pair = Generate(Of(*curve.block));
    ASSERT_TRUE(pair.privateKey);
    const Bytes document = {'d', 'o', 'c', 'u', 'm', 'e', 'n', 't'};
    const tru::Buffer view(document.data(), static_cast<uint32_t>(document.size()));

    // A length query and a short buffer answer the set's size and leave the hash untouched.
    auto mechanism = Mechanism(CKM_GOST34311_DSTU4145);
    mechanism->SignInit(*frame, kNoParameter, Private(pair.privateKey));
    unsigned long length = 0;
    EXPECT_TRUE(mechanism->Sign(*frame, view, nullptr, &length));
    EXPECT_EQ(length, curve.signatureSize);
    Bytes signature(10);
    length = signature.size();
    const uint64_t signsBefore = Count("Sign");
    EXPECT_FALSE(mechanism->Sign(*frame, view, signature.data(), &length));
    EXPECT_EQ(length, curve.signatureSize);
    signature.resize(length);
    EXPECT_TRUE(mechanism->Sign(*frame, view, signature.data(), &length));
    EXPECT_EQ(Count("Sign"), signsBefore + 1);

    EXPECT_EQ(Verify(CKM_GOST34311_DSTU4145, pair.publicKey, document, signature), CKR_OK);
    Bytes changedDocument = document;
    changedDocument[3] ^= 1;
    EXPECT_EQ(Verify(CKM_GOST34311_DSTU4145, pair.publicKey, changedDocument, signature), CKR_SIGNATURE_INVALID);
    Bytes changedSignature = signature;
    changedSignature[1] ^= 0x10;
    EXPECT_EQ(Verify(CKM_GOST34311_DSTU4145, pair.publicKey, document, changedSignature), CKR_SIGNATURE_INVALID);

    // The raw mechanism signs a value the application hashed itself.
    const Bytes hash(32, 0x5C);
    const Bytes raw = Sign(CKM_DSTU4145, pair.privateKey, hash);
    EXPECT_EQ(raw.size(), curve.signatureSize);
    EXPECT_EQ(Verify(CKM_DSTU4145, pair.publicKey, hash, raw), CKR_OK);
    Bytes otherHash = hash;
    otherHash[0] ^= 1;
    EXPECT_EQ(Verify(CKM_DSTU4145, pair.publicKey, otherHash, raw), CKR_SIGNATURE_INVALID);
}

TEST_P(DstuCurveTest, PrivateKeyStaysOnTheToken)
{
    const KeyPair pair = Generate(Of(*GetParam().block));
    ASSERT_TRUE(pair.privateKey);
    EXPECT_TRUE(Flag(pair.privateKey, CKA_SENSITIVE));
    EXPECT_TRUE(Flag(pair.privateKey, CKA_ALWAYS_SENSITIVE));
    EXPECT_TRUE(Flag(pair.privateKey, CKA_NEVER_EXTRACTABLE));
    EXPECT_FALSE(Flag(pair.privateKey, CKA_EXTRACTABLE));
    EXPECT_TRUE(Flag(pair.privateKey, CKA_TOKEN));
    EXPECT_TRUE(Flag(pair.privateKey, CKA_PRIVATE));
    EXPECT_TRUE(Flag(pair.privateKey, CKA_LOCAL));
    EXPECT_TRUE(Flag(pair.privateKey, CKA_SIGN));
    CK_RV rv = CKR_OK;
    Attribute(pair.privateKey, CKA_VALUE, &rv);
    EXPECT_EQ(rv, CKR_ATTRIBUTE_SENSITIVE);
    const auto& stored = dynamic_cast<qel::TokenStoredObject&>(*pair.privateKey);
    EXPECT_GE(stored.GetObjectFile(), 180);  // a device key slot
    EXPECT_LE(stored.GetObjectFile(), 240);

    const Bytes point = Attribute(pair.publicKey, CKA_EC_POINT);
    ASSERT_GE(point.size(), 2u);
    EXPECT_EQ(point[0], 0x04);
    EXPECT_EQ(point[1], point.size() - 2);
    EXPECT_TRUE(Flag(pair.publicKey, CKA_VERIFY));
    EXPECT_FALSE(Flag(pair.publicKey, CKA_PRIVATE));
    EXPECT_TRUE(Flag(pair.publicKey, CKA_TOKEN));
    const Bytes mechanism = Attribute(pair.privateKey, CKA_KEY_GEN_MECHANISM);
    ASSERT_EQ(mechanism.size(), sizeof(CK_ULONG));
    CK_ULONG value = 0;
    std::memcpy(&value, mechanism.data(), sizeof value);
    EXPECT_EQ(value, CKM_DSTU4145_KEY_PAIR_GEN);
}

INSTANTIATE_TEST_SUITE_P(Curves, DstuCurveTest, ::testing::ValuesIn(kCurves),
                         [](const ::testing::TestParamInfo<CurveCase>& info) { return std::string(info.param.name); });

TEST_F(DstuTokenTest, GenerationTemplatesAreCheckedBeforeTheTokenIsAsked)
{
    Bytes set11 = Of(qel::UA_SGN_PARAMSET_6_OID_DKE1_VALUE);
    Bytes set10 = Of(qel::UA_SGN_PARAMSET_4_OID_DKE1_VALUE);
    CK_BBOOL no = CK_FALSE;
    CK_BBOOL yes = CK_TRUE;
    CK_ATTRIBUTE curve11{CKA_EC_PARAMS, set11.data(), set11.size()};
    CK_ATTRIBUTE curve10{CKA_EC_PARAMS, set10.data(), set10.size()};
    CK_ATTRIBUTE notToken{CKA_TOKEN, &no, sizeof no};
    CK_ATTRIBUTE isPrivate{CKA_PRIVATE, &yes, sizeof yes};
    CK_ATTRIBUTE notPrivate{CKA_PRIVATE, &no, sizeof no};
    const struct {
        const char* name;
        std::vector<CK_ATTRIBUTE> publicRecords;
        std::vector<CK_ATTRIBUTE> privateRecords;
        CK_RV expected;
    } cases[] = {
        {"private key off the token", {curve11}, {notToken}, CKR_ATTRIBUTE_VALUE_INVALID},
        {"private key not private", {curve11}, {notPrivate}, CKR_ATTRIBUTE_VALUE_INVALID},
        {"public key private", {curve11, isPrivate}, {}, CKR_ATTRIBUTE_VALUE_INVALID},
        {"two curves", {curve11}, {curve10}, CKR_TEMPLATE_INCONSISTENT},
    };
    const uint64_t before = Count("GenerateKey");
    for (auto c : cases) {
        SCOPED_TRACE(c.name);
        zrck::AttributeTemplate publicTemplate(c.publicRecords.data(), c.publicRecords.size());
        zrck::AttributeTemplate privateTemplate(c.privateRecords.data(), c.privateRecords.size());
        KeyPair pair;
        EXPECT_EQ(Generate(publicTemplate, privateTemplate, pair), c.expected);
    }
    uint8_t parameter[4] = {};
    zrck::AttributeTemplate publicTemplate(&curve11, 1);
    zrck::AttributeTemplate privateTemplate;
    KeyPair pair;
    EXPECT_EQ(Generate(publicTemplate, privateTemplate, pair,
                       zrck::MechanismParameter(CKM_DSTU4145_KEY_PAIR_GEN, tru::Buffer(parameter, 4))),
              CKR_MECHANISM_PARAM_INVALID);
    EXPECT_EQ(Count("GenerateKey"), before);
}

TEST_F(DstuTokenTest, NoCurveTakesTheTokensDefault)
{
    zrck::AttributeTemplate publicTemplate;
    zrck::AttributeTemplate privateTemplate;
    KeyPair pair;
    ASSERT_EQ(Generate(publicTemplate, privateTemplate, pair), CKR_OK);
    EXPECT_EQ(Attribute(pair.publicKey, CKA_EC_PARAMS), Of(qel::UA_SGN_PARAMSET_4_OID_DKE1_VALUE));
    EXPECT_EQ(Attribute(pair.privateKey, CKA_EC_PARAMS), Of(qel::UA_SGN_PARAMSET_4_OID_DKE1_VALUE));
    const Bytes data(32, 7);
    EXPECT_EQ(Verify(CKM_DSTU4145, pair.publicKey, data, Sign(CKM_DSTU4145, pair.privateKey, data)), CKR_OK);
}

TEST_F(DstuTokenTest, SessionPublicKeyIsNotKeptOnTheToken)
{
    const KeyPair pair = Generate(Of(qel::UA_SGN_PARAMSET_6_OID_DKE1_VALUE), false);
    ASSERT_TRUE(pair.publicKey);
    EXPECT_FALSE(Flag(pair.publicKey, CKA_TOKEN));
    EXPECT_EQ(dynamic_cast<qel::TokenStoredObject&>(*pair.publicKey).GetObjectFile(), 0);
    const Bytes data(32, 1);
    EXPECT_EQ(Verify(CKM_DSTU4145, pair.publicKey, data, Sign(CKM_DSTU4145, pair.privateKey, data)), CKR_OK);
}

TEST_F(DstuTokenTest, HashedSignatureIsTheSameInOneAndInManyParts)
{
    const KeyPair pair = Generate(Of(qel::UA_SGN_PARAMSET_6_OID_DKE1_VALUE));
    const Bytes whole = {'a', 'b', 'c'};
    const uint8_t ab[] = {'a', 'b'};
    const uint8_t c[] = {'c'};
    auto mechanism = Mechanism(CKM_GOST34311_DSTU4145);
    mechanism->SignInit(*frame, kNoParameter, Private(pair.privateKey));
    mechanism->SignUpdate(*frame, tru::Buffer(ab, 2));
    mechanism->SignUpdate(*frame, tru::Buffer(c, 1));
    unsigned long length = 64;
    Bytes signature(length);
    ASSERT_TRUE(mechanism->SignFinal(*frame, signature.data(), &length));
    EXPECT_EQ(Verify(CKM_GOST34311_DSTU4145, pair.publicKey, whole, signature), CKR_OK);

    mechanism->VerifyInit(*frame, kNoParameter, Public(pair.publicKey));
    mechanism->VerifyUpdate(*frame, tru::Buffer(ab, 2));
    mechanism->VerifyUpdate(*frame, tru::Buffer(c, 1));
    EXPECT_TRUE(mechanism->VerifyFinal(*frame, tru::Buffer(signature.data(), 64)));
}

TEST_F(DstuTokenTest, SignatureInputsTheTokenCannotTakeAreRefusedOnTheHost)
{
    const KeyPair pair = Generate(Of(qel::UA_SGN_PARAMSET_0_OID_DKE1_VALUE));
    const Bytes data(32, 7);
    const Bytes signature = Sign(CKM_DSTU4145, pair.privateKey, data);
    ASSERT_EQ(signature.size(), 42u);

    // Zero-padded halves are brought to the device form; a non-zero surplus is not.
    Bytes padded = Cat({Bytes(signature.begin(), signature.begin() + 21), Bytes{0},
                        Bytes(signature.begin() + 21, signature.end()), Bytes{0}});
    EXPECT_EQ(Verify(CKM_DSTU4145, pair.publicKey, data, padded), CKR_OK);
    padded.back() = 1;
    EXPECT_EQ(Verify(CKM_DSTU4145, pair.publicKey, data, padded), CKR_SIGNATURE_INVALID);
    EXPECT_EQ(Verify(CKM_DSTU4145, pair.publicKey, data, Bytes(signature.begin(), signature.end() - 1)),
              CKR_SIGNATURE_LEN_RANGE);

    const uint64_t signsBefore = Count("Sign");
    Bytes unused;
    EXPECT_EQ(Sign(CKM_DSTU4145, pair.privateKey, Bytes(qel::UASgnMaxSignData() + 1, 1), unused), CKR_DATA_LEN_RANGE);
    EXPECT_EQ(Count("Sign"), signsBefore);
    EXPECT_EQ(Sign(CKM_DSTU4145, pair.privateKey, Bytes(qel::UASgnMaxSignData(), 1)).size(), 42u);

    uint8_t parameter = 0;
    auto mechanism = Mechanism(CKM_GOST34311_DSTU4145);
    EXPECT_EQ(CodeOf([&] {
                  mechanism->SignInit(*frame, zrck::MechanismParameter(CKM_GOST34311_DSTU4145, tru::Buffer(&parameter, 1)),
                                      Private(pair.privateKey));
              }),
              CKR_MECHANISM_PARAM_INVALID);
}

TEST_F(DstuTokenTest, HostHashingNeedsTheCurveToCarryItsSBox)
{
    // The named curve alone: no S-box for the hash.
    Bytes named = Hex("300F060D2A862402010101010301010206");
    const KeyPair pair = Generate(Of(qel::UA_SGN_PARAMSET_6_OID_DKE1_VALUE));
    auto& key = dynamic_cast<qel::TokUASgnPrivateKey&>(*pair.privateKey);
    key.SetECParams(tru::Buffer(named.data(), static_cast<uint32_t>(named.size())));
    auto mechanism = Mechanism(CKM_GOST34311_DSTU4145);
    EXPECT_EQ(CodeOf([&] { mechanism->SignInit(*frame, kNoParameter, key); }), CKR_MECHANISM_PARAM_INVALID);
    // The raw mechanism needs no S-box.
    EXPECT_EQ(Sign(CKM_DSTU4145, pair.privateKey, Bytes(32, 2)).size(), 64u);
}

TEST_F(DstuTokenTest, PublicKeyCurveAndPointAreReadOnly)
{
    const KeyPair pair = Generate(Of(qel::UA_SGN_PARAMSET_6_OID_DKE1_VALUE));
    Bytes other = Of(qel::UA_SGN_PARAMSET_4_OID_DKE1_VALUE);
    Bytes point = Attribute(pair.publicKey, CKA_EC_POINT);
    for (CK_ATTRIBUTE record : {CK_ATTRIBUTE{CKA_EC_PARAMS, other.data(), other.size()},
                                CK_ATTRIBUTE{CKA_EC_POINT, point.data(), point.size()}}) {
        zrck::AttributeTemplate change(&record, 1);
        EXPECT_EQ(CodeOf([&] {
                      const CK_RV rv = pair.publicKey->UpdateAttributes(change);
                      if (rv != CKR_OK) throw zrck::Exception(rv);
                  }),
                  CKR_ATTRIBUTE_READ_ONLY);
    }
    // A point without its 04 L header is refused.
    auto* key = dynamic_cast<qel::TokUASgnPublicKey*>(pair.publicKey.get());
    EXPECT_EQ(CodeOf([&] { key->SetECPoint(tru::Buffer(point.data() + 2, static_cast<uint32_t>(point.size() - 2))); }),
              CKR_ATTRIBUTE_VALUE_INVALID);
}

TEST_F(DstuTokenTest, ImportedPrivateKeyGoesToAKeySlot)
{
    Bytes set11 = Of(qel::UA_SGN_PARAMSET_6_OID_DKE1_VALUE);
    CK_OBJECT_CLASS privateClass = CKO_PRIVATE_KEY;
    CK_KEY_TYPE keyType = CKK_DSTU4145;
    CK_BBOOL yes = CK_TRUE;
    CK_BBOOL no = CK_FALSE;
    Bytes d(32, 0);
    d[0] = 0x2A;  // a small private value, least significant byte first
    d[5] = 0x11;
    CK_ATTRIBUTE records[] = {{CKA_CLASS, &privateClass, sizeof privateClass},
                              {CKA_KEY_TYPE, &keyType, sizeof keyType},
                              {CKA_TOKEN, &yes, sizeof yes},
                              {CKA_PRIVATE, &yes, sizeof yes},
                              {CKA_EC_PARAMS, set11.data(), set11.size()},
                              {CKA_VALUE, d.data(), d.size()}};
    auto create = [&](Object& made) {
        return CodeOf([&] {
            zrck::AttributeTemplate attributes(records, 6);
            zrck::TokObject* object = token->GetClassFactory()->Generate(attributes);
            ASSERT_NE(object, nullptr);
            made.reset(object);
            made->InitializeWithAttributes(token.get(), attributes);
        });
    };
    const uint64_t loadsBefore = Count("LoadKey");
    Object key;
    ASSERT_EQ(create(key), CKR_OK);
    EXPECT_EQ(Count("LoadKey"), loadsBefore + 1);
    EXPECT_GE(dynamic_cast<qel::TokenStoredObject&>(*key).GetObjectFile(), 180);
    CK_RV rv = CKR_OK;
    Attribute(key, CKA_VALUE, &rv);
    EXPECT_TRUE(rv == CKR_ATTRIBUTE_SENSITIVE || rv == CKR_KEY_UNEXTRACTABLE) << rv;
    EXPECT_EQ(Sign(CKM_DSTU4145, key, Bytes(32, 3)).size(), 64u);
    EXPECT_EQ(CodeOf([&] { key->GenerateCopy(); }), CKR_FUNCTION_NOT_SUPPORTED);

    Object refused;
    records[3].pValue = &no;  // not private
    EXPECT_EQ(create(refused), CKR_ATTRIBUTE_VALUE_INVALID);
    records[3].pValue = &yes;
    records[2].pValue = &no;  // not on the token
    EXPECT_EQ(create(refused), CKR_ATTRIBUTE_VALUE_INVALID);
    EXPECT_EQ(Count("LoadKey"), loadsBefore + 1);
}

TEST_F(DstuTokenTest, StoredKeysReadBackWithTheirFlags)
{
    const KeyPair pair = Generate(Of(qel::UA_SGN_PARAMSET_4_OID_DKE1_VALUE));
    auto& original = dynamic_cast<qel::TokUASgnPrivateKey&>(*pair.privateKey);
    // Flags stored false read back false, not as the defaults of a file without a flags word.
    original.SetIsNeverExtractable(CK_FALSE);
    original.SetIsAlwaysSensitive(CK_FALSE);
    original.StoreAttributes();

    Object reread(new qel::TokUASgnPrivateKey());
    auto& copy = dynamic_cast<qel::TokUASgnPrivateKey&>(*reread);
    copy.SetTokenPtr(token.get());
    copy.SetLifeTime(zrck::TokObject::LIFETIME_TOKEN);
    copy.SetVisibility(zrck::TokObject::VISIBILITY_PRIVATE);
    copy.SetObjectFile(original.GetObjectFile());
    copy.SetAttributeFile(original.GetAttributeFile());
    copy.ReadAttributes();
    EXPECT_FALSE(Flag(reread, CKA_NEVER_EXTRACTABLE));
    EXPECT_FALSE(Flag(reread, CKA_ALWAYS_SENSITIVE));
    EXPECT_TRUE(Flag(reread, CKA_SENSITIVE));
    EXPECT_TRUE(Flag(reread, CKA_SIGN));
    EXPECT_TRUE(Flag(reread, CKA_LOCAL));
    EXPECT_EQ(Attribute(reread, CKA_LABEL), Bytes{'k'});
    EXPECT_EQ(Attribute(reread, CKA_EC_PARAMS), Of(qel::UA_SGN_PARAMSET_4_OID_DKE1_VALUE));
    EXPECT_EQ(Attribute(reread, CKA_ZR_KEY_GENERATION_DATE), Attribute(pair.privateKey, CKA_ZR_KEY_GENERATION_DATE));
    const Bytes data(32, 9);
    EXPECT_EQ(Verify(CKM_DSTU4145, pair.publicKey, data, Sign(CKM_DSTU4145, reread, data)), CKR_OK);
}

TEST_F(DstuTokenTest, PublicKeyCopyCarriesAPointNeverRead)
{
    const KeyPair pair = Generate(Of(qel::UA_SGN_PARAMSET_6_OID_DKE1_VALUE));
    const Bytes point = Attribute(pair.publicKey, CKA_EC_POINT);
    const auto& original = dynamic_cast<qel::TokUASgnPublicKey&>(*pair.publicKey);

    // The key as the token builds it from its index: the point stays in its file until asked for.
    Object reread(new qel::TokUASgnPublicKey());
    auto& fromToken = dynamic_cast<qel::TokUASgnPublicKey&>(*reread);
    fromToken.SetTokenPtr(token.get());
    fromToken.SetLifeTime(zrck::TokObject::LIFETIME_TOKEN);
    fromToken.SetObjectFile(original.GetObjectFile());
    fromToken.SetAttributeFile(original.GetAttributeFile());
    fromToken.ReadAttributes();

    const uint64_t readsBefore = Count("ReadFile");
    Object copy(reread->GenerateCopy());
    EXPECT_GT(Count("ReadFile"), readsBefore);
    EXPECT_EQ(Attribute(copy, CKA_EC_POINT), point);
    const Bytes data(32, 4);
    EXPECT_EQ(Verify(CKM_DSTU4145, copy, data, Sign(CKM_DSTU4145, pair.privateKey, data)), CKR_OK);
}

TEST_F(DstuTokenTest, NamedCurvesAreDomainParameterObjects)
{
    // The full model of firmware 5.15 offers all four curves.
    for (const CurveCase& curve : kCurves) {
        SCOPED_TRACE(curve.name);
        const Bytes block = Of(*curve.block);
        Object params(qel::TokUASgnDomainParams::CreateForParamset(
            qel::UASgnUtl::ParseECParams(*curve.block, *std::make_unique<tru::BufferDynamic>(), DSTU4145_POLYNOMIAL_6)));
        const Bytes label = Attribute(params, CKA_LABEL);
        EXPECT_TRUE(token->IsDMObjectExists(CKO_DOMAIN_PARAMETERS, CKK_DSTU4145,
                                            std::string(label.begin(), label.end()).c_str()));
        EXPECT_EQ(Attribute(params, CKA_EC_PARAMS), block);
        EXPECT_TRUE(Flag(params, CKA_LOCAL));
        EXPECT_FALSE(Flag(params, CKA_MODIFIABLE));
        EXPECT_FALSE(Flag(params, CKA_COPYABLE));
        Bytes other = block;
        CK_ATTRIBUTE record{CKA_EC_PARAMS, other.data(), other.size()};
        zrck::AttributeTemplate change(&record, 1);
        EXPECT_EQ(params->UpdateAttributes(change), CKR_ATTRIBUTE_READ_ONLY);
    }
}

TEST_F(DstuTokenTest, KeyAgreementGivesBothSidesTheSameGostKey)
{
    for (const CurveCase& curve : {kCurves[0], kCurves[2]}) {
        const KeyPair alice = Generate(Of(*curve.block));
        const KeyPair bob = Generate(Of(*curve.block));
        Bytes alicePoint = Attribute(alice.publicKey, CKA_EC_POINT);
        Bytes bobPoint = Attribute(bob.publicKey, CKA_EC_POINT);
        for (Bytes shared : {Bytes(), Bytes(64, 0x33)}) {
            SCOPED_TRACE(std::string(curve.name) + (shared.empty() ? " without" : " with") + " shared data");
            auto derive = [&](const Object& base, Bytes& peer) {
                CK_ECDH1_DERIVE_PARAMS params{CKD_GOST34311_KDF, shared.size(), shared.empty() ? nullptr : shared.data(),
                                              peer.size(), peer.data()};
                zrck::MechanismParameter parameter(CKM_DSTUDH_COFACTOR_DERIVE, tru::Buffer(&params, sizeof params));
                CK_OBJECT_CLASS secret = CKO_SECRET_KEY;
                CK_ATTRIBUTE record{CKA_CLASS, &secret, sizeof secret};
                zrck::AttributeTemplate attributes(&record, 1);
                CapturingDerive mechanism;
                auto key = mechanism.DeriveKey(*frame, parameter, Private(base), attributes);
                return static_cast<CapturedKey&>(*key).captured;
            };
            const auto aliceSide = derive(alice.privateKey, bobPoint);
            const auto bobSide = derive(bob.privateKey, alicePoint);
            ASSERT_EQ(aliceSide.at(CKA_VALUE).size(), 32u);
            EXPECT_EQ(aliceSide.at(CKA_VALUE), bobSide.at(CKA_VALUE));
            EXPECT_EQ(aliceSide.at(CKA_GOST_SBOXES), Of(tru::Buffer(qel::glbDKE1, qel::kDkeDerSize)));
        }
        // Plain agreement: both sides agree too, on another key.
        auto plain = [&](const Object& base, Bytes& peer) {
            CK_ECDH1_DERIVE_PARAMS params{CKD_GOST34311_KDF, 0, nullptr, peer.size(), peer.data()};
            zrck::MechanismParameter parameter(CKM_DSTUDH_DERIVE, tru::Buffer(&params, sizeof params));
            zrck::AttributeTemplate attributes;
            struct Plain : qel::TokUADHDeriveMechanism {
                KeyPointer CreateSecretKey() override { return KeyPointer(new CapturedKey()); }
            } mechanism;
            auto key = mechanism.DeriveKey(*frame, parameter, Private(base), attributes);
            return static_cast<CapturedKey&>(*key).captured.at(CKA_VALUE);
        };
        EXPECT_EQ(plain(alice.privateKey, bobPoint), plain(bob.privateKey, alicePoint));
    }
}

TEST_F(DstuTokenTest, KeyAgreementRefusesBadInputBeforeTheToken)
{
    const KeyPair pair = Generate(Of(qel::UA_SGN_PARAMSET_6_OID_DKE1_VALUE));
    Bytes point = Attribute(pair.publicKey, CKA_EC_POINT);
    Bytes bare(point.begin() + 2, point.end());
    Bytes shortShared(32, 1);
    CK_OBJECT_CLASS dataClass = CKO_DATA;
    CK_KEY_TYPE des3 = CKK_DES3;
    Bytes value(32);
    const struct {
        const char* name;
        Bytes* shared;
        Bytes* peer;
        CK_ATTRIBUTE record;
        CK_RV expected;
    } cases[] = {
        {"32 bytes of shared data", &shortShared, &point, {CKA_LABEL, nullptr, 0}, CKR_MECHANISM_PARAM_INVALID},
        {"class of another object", nullptr, &point, {CKA_CLASS, &dataClass, sizeof dataClass}, CKR_TEMPLATE_INCONSISTENT},
        {"another key type", nullptr, &point, {CKA_KEY_TYPE, &des3, sizeof des3}, CKR_ATTRIBUTE_VALUE_INVALID},
        {"a value", nullptr, &point, {CKA_VALUE, value.data(), value.size()}, CKR_ATTRIBUTE_TYPE_INVALID},
        {"a point without its header", nullptr, &bare, {CKA_LABEL, nullptr, 0}, CKR_GENERAL_ERROR},
    };
    const uint64_t before = Count("GetCommonKey");
    for (auto c : cases) {
        SCOPED_TRACE(c.name);
        CK_ECDH1_DERIVE_PARAMS params{CKD_GOST34311_KDF, c.shared ? c.shared->size() : 0,
                                      c.shared ? c.shared->data() : nullptr, c.peer->size(), c.peer->data()};
        zrck::MechanismParameter parameter(CKM_DSTUDH_COFACTOR_DERIVE, tru::Buffer(&params, sizeof params));
        zrck::AttributeTemplate attributes(&c.record, 1);
        auto mechanism = Mechanism(CKM_DSTUDH_COFACTOR_DERIVE);
        EXPECT_EQ(CodeOf([&] { mechanism->DeriveKey(*frame, parameter, Private(pair.privateKey), attributes); }),
                  c.expected);
    }
    EXPECT_EQ(Count("GetCommonKey"), before);
}

TEST_F(DstuTokenTest, AttributeFileHoldsOnlyWhatIsSet)
{
    const KeyPair pair = Generate(Of(qel::UA_SGN_PARAMSET_6_OID_DKE1_VALUE));
    auto& key = dynamic_cast<qel::TokUASgnPrivateKey&>(*pair.privateKey);
    auto recordIds = [&] {
        std::vector<qel::storage::AttributeBuff> records;
        token->GetStorage()->ReadAttributeFile(key.GetAttributeFile(), records);
        std::vector<uint16_t> ids;
        for (const auto& record : records) ids.push_back(record.id);
        return ids;
    };
    key.SetLabel(tru::Buffer());
    CK_ZR_DATETIME zeros;
    std::memset(&zeros, 0, sizeof zeros);
    key.SetGenerationDate(zeros);
    key.StoreAttributes();
    EXPECT_EQ(recordIds(), (std::vector<uint16_t>{0x8EFF, 0x166, 0x180}));

    CK_DATE start;
    std::memcpy(&start, "20260101", sizeof start);
    key.SetStartDate(start);
    key.SetKeyID(tru::Buffer("id", 2));
    key.SetGenerationDate(*reinterpret_cast<const CK_ZR_DATETIME*>("20261210120000"));
    key.StoreAttributes();
    EXPECT_EQ(recordIds(), (std::vector<uint16_t>{0x8EFF, 0x166, 0x180, 0x102, 0x110, 0x8E02}));
}

TEST_F(DstuTokenTest, KeyMadeBeforeARestartSignsAfterIt)
{
    const KeyPair pair = Generate(Of(qel::UA_SGN_PARAMSET_6_OID_DKE1_VALUE));
    token->Update(true);
    const Bytes point = Attribute(pair.publicKey, CKA_EC_POINT);

    // A new library object reads everything from the token again, as another process does.
    frame.reset();
    token.reset();
    ASSERT_EQ(C_Finalize(nullptr), CKR_OK);
    CK_C_INITIALIZE_ARGS args{};
    args.flags = CKF_OS_LOCKING_OK;
    ASSERT_EQ(C_Initialize(&args), CKR_OK);
    session = OpenSession();
    ASSERT_EQ(C_Login(session, CKU_USER, (CK_UTF8CHAR_PTR)kUserPin, 8), CKR_OK);
    zrck::SlotPtr slot = zrck::LibraryFrame::GetInstance()->GetSlotFactory()->GetSlotByID(slotId);
    token = std::dynamic_pointer_cast<qel::Token>(slot->GetToken());
    frame = std::make_unique<TestSession>(token);
    frame->SetReadOnly(false);

    zrck::Slot::SearchAccelerator filter;
    zrck::Slot::ObjEnumerationData search;
    search.accelerator = &filter;
    Object privateKey, publicKey;
    slot->EnumerateObjects(
        [&](zrck::TokObject& object, zrck::Slot::ObjEnumerationData*) {
            auto* found = dynamic_cast<qel::TokUASgnPrivateKey*>(&object);
            if (found != nullptr) privateKey = slot->GetBlockObjectIfExists(object.GetHandle());
            auto* pub = dynamic_cast<qel::TokUASgnPublicKey*>(&object);
            if (pub != nullptr) publicKey = slot->GetBlockObjectIfExists(object.GetHandle());
            return true;
        },
        &search);
    ASSERT_TRUE(privateKey);
    ASSERT_TRUE(publicKey);
    EXPECT_EQ(Attribute(publicKey, CKA_EC_POINT), point);
    const Bytes data(32, 8);
    EXPECT_EQ(Verify(CKM_DSTU4145, publicKey, data, Sign(CKM_DSTU4145, privateKey, data)), CKR_OK);
    slot->ReleaseObject(privateKey);
    slot->ReleaseObject(publicKey);
}

namespace {

// The model with the model flag: no RSA or ECDSA, and only the 257-bit curve.
class DstuLiteTokenTest : public DstuTokenTest {
protected:
    DstuLiteTokenTest()
    {
        simulatorOptions.push_back("--model");
        simulatorOptions.push_back("lite");
    }
};

} // namespace

TEST_F(DstuLiteTokenTest, ShowsOnlyTheCurveOfItsModel)
{
    EXPECT_EQ(token->GetDefaultUAParamset(), DSTU4145_POLYNOMIAL_6);
    for (EParamSet set : {DSTU4145_POLYNOMIAL_0, DSTU4145_POLYNOMIAL_4, DSTU4145_POLYNOMIAL_6, DSTU4145_POLYNOMIAL_9}) {
        EXPECT_EQ(token->IsDMObjectExists(CKO_DOMAIN_PARAMETERS, CKK_DSTU4145, qel::UASgnParamsetOid(set)),
                  set == DSTU4145_POLYNOMIAL_6)
            << int(set);
    }
    EXPECT_TRUE(token->IsMechanismSupported(CKM_DSTUDH_COFACTOR_DERIVE));
    EXPECT_FALSE(token->IsMechanismSupported(CKM_DSTUDH_DERIVE));
    const KeyPair pair = Generate(Of(qel::UA_SGN_PARAMSET_6_OID_DKE1_VALUE));
    ASSERT_TRUE(pair.privateKey);
    EXPECT_EQ(Sign(CKM_GOST34311_DSTU4145, pair.privateKey, Bytes(3, 1)).size(), 64u);
}

namespace {

// The 431-bit curve from firmware 4.14 on, major and minor taken as one number.
struct FirmwareCase {
    const char* version;
    bool offers431;
};

void PrintTo(const FirmwareCase& c, std::ostream* out) { *out << c.version; }

class DstuFirmwareTokenTest : public DstuTokenTest, public ::testing::WithParamInterface<FirmwareCase> {
protected:
    DstuFirmwareTokenTest()
    {
        simulatorOptions.push_back("--firmware");
        simulatorOptions.push_back(GetParam().version);
    }
};

} // namespace

TEST_P(DstuFirmwareTokenTest, OffersThe431BitCurveFromVersion4_14On)
{
    const char* curve431 = qel::UASgnParamsetOid(DSTU4145_POLYNOMIAL_9);
    EXPECT_EQ(token->IsDMObjectExists(CKO_DOMAIN_PARAMETERS, CKK_DSTU4145, curve431), GetParam().offers431);
    EXPECT_TRUE(token->IsDMObjectExists(CKO_DOMAIN_PARAMETERS, CKK_DSTU4145,
                                        qel::UASgnParamsetOid(DSTU4145_POLYNOMIAL_6)));
}

INSTANTIATE_TEST_SUITE_P(Versions, DstuFirmwareTokenTest,
                         ::testing::Values(FirmwareCase{"4.13", false}, FirmwareCase{"4.14", true},
                                           FirmwareCase{"5.0", true}, FirmwareCase{"5.13", true}),
                         [](const ::testing::TestParamInfo<FirmwareCase>& info) {
                             std::string name = std::string("v") + info.param.version;
                             for (char& c : name) c = c == '.' ? '_' : c;
                             return name;
                         });

TEST_F(DstuTokenTest, AgreedKeyEncryptsOnOneSideAndDecryptsOnTheOther)
{
    const KeyPair alice = Generate(Of(qel::UA_SGN_PARAMSET_6_OID_DKE1_VALUE));
    const KeyPair bob = Generate(Of(qel::UA_SGN_PARAMSET_6_OID_DKE1_VALUE));
    Bytes alicePoint = Attribute(alice.publicKey, CKA_EC_POINT);
    Bytes bobPoint = Attribute(bob.publicKey, CKA_EC_POINT);
    auto derive = [&](const Object& base, Bytes& peer) {
        CK_ECDH1_DERIVE_PARAMS params{CKD_GOST34311_KDF, 0, nullptr, peer.size(), peer.data()};
        zrck::MechanismParameter parameter(CKM_DSTUDH_COFACTOR_DERIVE, tru::Buffer(&params, sizeof params));
        CK_BBOOL no = CK_FALSE;
        CK_BBOOL yes = CK_TRUE;
        CK_ATTRIBUTE records[] = {{CKA_TOKEN, &no, sizeof no}, {CKA_ENCRYPT, &yes, sizeof yes}, {CKA_DECRYPT, &yes, sizeof yes}};
        zrck::AttributeTemplate attributes(records, 3);
        Object key = Mechanism(CKM_DSTUDH_COFACTOR_DERIVE)->DeriveKey(*frame, parameter, Private(base), attributes);
        EXPECT_EQ(dynamic_cast<zrck::TokKey&>(*key).GetKeyType(), CKK_GOST28147_NAT);
        EXPECT_TRUE(Flag(key, CKA_LOCAL));
        return key;
    };
    const Object aliceKey = derive(alice.privateKey, bobPoint);
    const Object bobKey = derive(bob.privateKey, alicePoint);

    Bytes plain(16, 0xA5);
    Bytes cipher(16);
    Bytes back(16);
    unsigned long length = 16;
    qel::TokUAGostEcbMechanism ecb;
    ecb.EncryptInit(*frame, kNoParameter, dynamic_cast<zrck::TokSecretKey&>(*aliceKey));
    ASSERT_TRUE(ecb.Encrypt(*frame, tru::Buffer(plain.data(), 16), cipher.data(), &length));
    ecb.DecryptInit(*frame, kNoParameter, dynamic_cast<zrck::TokSecretKey&>(*bobKey));
    length = 16;
    ASSERT_TRUE(ecb.Decrypt(*frame, tru::Buffer(cipher.data(), 16), back.data(), &length));
    EXPECT_EQ(back, plain);
    EXPECT_NE(cipher, plain);
}
