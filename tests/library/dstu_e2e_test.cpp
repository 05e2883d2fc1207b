// DSTU 4145 keys, signatures and key agreement through the Cryptoki functions, on each named
// curve the token offers.
#include "dstu_e2e_fixture.h"

#include "dstu4145_algorithm.h"
#include "keygen_process.h"

#include <algorithm>
#include <functional>
#include <cstring>

using namespace dstue2e;
using librarytest::GenerateInAnotherProcess;

namespace {

// What one signature command carries at most: 1300 data bytes less the command head, the
// session (34 bytes), the key slot and the data's two-byte length.
constexpr size_t kMaxRawSignData = 1263;
// A verification on the 257-bit curve: the session, the parameter set, then the 33-byte point,
// the 64-byte signature and the data, each with a two-byte length.
constexpr size_t kMaxRawVerifyData257 = 1300 - 34 - 1 - 3 * 2 - 33 - 64;

class DstuCurveTest : public DstuE2eTest, public ::testing::WithParamInterface<Curve> {
protected:
    std::string Label(const char* what) const { return std::string(what) + "-" + GetParam().name; }
};

std::string CurveName(const ::testing::TestParamInfo<Curve>& info) { return info.param.name; }

// A private value below every curve's order, least significant byte first, and its public point
// in CKA_EC_POINT form, computed off the token.
struct ImportedValue {
    Bytes value;
    Bytes point;
};

ImportedValue ImportableKey(const Curve& curve)
{
    ImportedValue key;
    key.value.assign(curve.keySize, 0);
    key.value[0] = 0x2A;
    key.value[5] = 0x11;
    key.value[curve.keySize - 2] = 0x07;
    Bytes blob, bare;
    tokensim::crypto::Dstu4145Algorithm().Load(curve.paramSet, key.value, blob, bare);
    key.point = {0x04, static_cast<uint8_t>(bare.size())};
    key.point.insert(key.point.end(), bare.begin(), bare.end());
    return key;
}

} // namespace

TEST_P(DstuCurveTest, NamedCurveIsADomainParameterObject)
{
    const Curve& curve = GetParam();
    Bytes params = CurveParams(curve);
    // DSTU4145Params: the named curve's identifier, then the 64-byte S-box.
    const Bytes head = {0x30, 0x51, 0x06, 0x0D, 0x2A, 0x86, 0x24, 0x02, 0x01, 0x01, 0x01, 0x01, 0x03, 0x01, 0x01, 0x02,
                        static_cast<uint8_t>(curve.oid[std::strlen(curve.oid) - 1] - '0'), 0x04, 0x40};
    ASSERT_EQ(params.size(), 83u);
    EXPECT_EQ(Bytes(params.begin(), params.begin() + head.size()), head);

    CK_OBJECT_CLASS objectClass = CKO_DOMAIN_PARAMETERS;
    const std::vector<CK_OBJECT_HANDLE> byValue =
        Find({{CKA_CLASS, &objectClass, sizeof objectClass}, {CKA_EC_PARAMS, params.data(), params.size()}});
    ASSERT_EQ(byValue.size(), 1u);
    EXPECT_EQ(Flag(byValue[0], CKA_MODIFIABLE), 0);
    CK_ATTRIBUTE change{CKA_EC_PARAMS, params.data(), params.size()};
    EXPECT_EQ(p11->C_SetAttributeValue(session, byValue[0], &change, 1), CKR_ATTRIBUTE_READ_ONLY);
}

TEST_P(DstuCurveTest, GeneratedKeySignsWithAndWithoutHostHashing)
{
    const Curve& curve = GetParam();
    const KeyPair pair = Generate(CurveParams(curve), Label("gen"));
    ASSERT_NE(pair.privateKey, CK_INVALID_HANDLE);

    const Bytes document = {'a', ' ', 'd', 'o', 'c', 'u', 'm', 'e', 'n', 't'};
    Bytes hash(32);
    for (size_t i = 0; i < hash.size(); ++i) hash[i] = static_cast<uint8_t>(0x11 * i + 3);
    const struct {
        CK_MECHANISM_TYPE mechanism;
        const Bytes& data;
    } cases[] = {{CKM_GOST34311_DSTU4145, document}, {CKM_DSTU4145, hash}};
    for (const auto& c : cases) {
        SCOPED_TRACE(c.mechanism);
        CK_ULONG queried = 0;
        const Bytes signature = Sign(c.mechanism, pair.privateKey, c.data, &queried);
        EXPECT_EQ(queried, curve.signatureSize);
        ASSERT_EQ(signature.size(), curve.signatureSize);
        EXPECT_EQ(Verify(c.mechanism, pair.publicKey, c.data, signature), CKR_OK);

        Bytes changedData = c.data;
        changedData[changedData.size() / 2] ^= 0x01;
        EXPECT_EQ(Verify(c.mechanism, pair.publicKey, changedData, signature), CKR_SIGNATURE_INVALID);
        for (size_t at : {size_t(0), signature.size() - 1}) {  // one byte in each half
            Bytes changedSignature = signature;
            changedSignature[at] ^= 0x01;
            EXPECT_EQ(Verify(c.mechanism, pair.publicKey, c.data, changedSignature), CKR_SIGNATURE_INVALID) << at;
        }
    }
}

TEST_P(DstuCurveTest, GeneratedKeysKeepTheirValuesAndCurve)
{
    const KeyPair pair = Generate(CurveParams(GetParam()), Label("guard"));
    EXPECT_EQ(Flag(pair.privateKey, CKA_SENSITIVE), 1);
    EXPECT_EQ(Flag(pair.privateKey, CKA_EXTRACTABLE), 0);
    EXPECT_EQ(Flag(pair.privateKey, CKA_ALWAYS_SENSITIVE), 1);
    EXPECT_EQ(Flag(pair.privateKey, CKA_NEVER_EXTRACTABLE), 1);
    CK_ATTRIBUTE value{CKA_VALUE, nullptr, 0};
    EXPECT_EQ(p11->C_GetAttributeValue(session, pair.privateKey, &value, 1), CKR_ATTRIBUTE_SENSITIVE);
    EXPECT_EQ(value.ulValueLen, CK_UNAVAILABLE_INFORMATION);

    // The public key's curve and point cannot be changed, not even to another curve's values.
    const Bytes point = Attribute(pair.publicKey, CKA_EC_POINT);
    ASSERT_EQ(point[0], 0x04);
    const Curve& other = kCurves[(GetParam().paramSet - 9 + 1) % 4];
    Bytes otherParams = CurveParams(other);
    Bytes otherPoint = ImportableKey(other).point;
    CK_ATTRIBUTE changes[][1] = {{{CKA_EC_PARAMS, otherParams.data(), otherParams.size()}},
                                 {{CKA_EC_POINT, otherPoint.data(), otherPoint.size()}}};
    for (CK_ATTRIBUTE* change : changes) {
        EXPECT_EQ(p11->C_SetAttributeValue(session, pair.publicKey, change, 1), CKR_ATTRIBUTE_READ_ONLY)
            << change->type;
    }
    EXPECT_EQ(Attribute(pair.publicKey, CKA_EC_POINT), point);
    EXPECT_EQ(Attribute(pair.publicKey, CKA_EC_PARAMS), CurveParams(GetParam()));
}

TEST_P(DstuCurveTest, ImportedKeySignsUnderImportedPublicKey)
{
    const Curve& curve = GetParam();
    ImportedValue imported = ImportableKey(curve);
    Bytes params = CurveParams(curve);
    const std::string label = Label("import");
    CK_OBJECT_CLASS privateClass = CKO_PRIVATE_KEY;
    CK_OBJECT_CLASS publicClass = CKO_PUBLIC_KEY;
    CK_KEY_TYPE keyType = CKK_DSTU4145;
    CK_BBOOL yes = CK_TRUE;
    const uint64_t loadsBefore = Count("LoadKey");
    const CK_OBJECT_HANDLE privateKey = Create({{CKA_CLASS, &privateClass, sizeof privateClass},
                                                {CKA_KEY_TYPE, &keyType, sizeof keyType},
                                                {CKA_TOKEN, &yes, sizeof yes},
                                                {CKA_PRIVATE, &yes, sizeof yes},
                                                {CKA_LABEL, const_cast<char*>(label.data()), label.size()},
                                                {CKA_EC_PARAMS, params.data(), params.size()},
                                                {CKA_VALUE, imported.value.data(), imported.value.size()}});
    const CK_OBJECT_HANDLE publicKey = Create({{CKA_CLASS, &publicClass, sizeof publicClass},
                                               {CKA_KEY_TYPE, &keyType, sizeof keyType},
                                               {CKA_TOKEN, &yes, sizeof yes},
                                               {CKA_LABEL, const_cast<char*>(label.data()), label.size()},
                                               {CKA_EC_PARAMS, params.data(), params.size()},
                                               {CKA_EC_POINT, imported.point.data(), imported.point.size()}});
    ASSERT_NE(privateKey, CK_INVALID_HANDLE);
    ASSERT_NE(publicKey, CK_INVALID_HANDLE);
    EXPECT_EQ(Count("LoadKey"), loadsBefore + 1);
    CK_RV rv = CKR_OK;
    EXPECT_TRUE(Attribute(privateKey, CKA_VALUE, &rv).empty());
    EXPECT_TRUE(rv == CKR_ATTRIBUTE_SENSITIVE || rv == CKR_KEY_UNEXTRACTABLE) << rv;
    EXPECT_EQ(Attribute(publicKey, CKA_EC_POINT), imported.point);

    const Bytes document = {'i', 'm', 'p', 'o', 'r', 't', 'e', 'd'};
    EXPECT_EQ(Verify(CKM_GOST34311_DSTU4145, publicKey, document, Sign(CKM_GOST34311_DSTU4145, privateKey, document)),
              CKR_OK);
    const Bytes hash(32, 0x5C);
    EXPECT_EQ(Verify(CKM_DSTU4145, publicKey, hash, Sign(CKM_DSTU4145, privateKey, hash)), CKR_OK);
}

TEST_P(DstuCurveTest, AgreedKeyEncryptsOnOneSideAndDecryptsOnTheOther)
{
    const Bytes params = CurveParams(GetParam());
    const KeyPair alice = Generate(params, Label("alice"), true);
    const KeyPair bob = Generate(params, Label("bob"), true);
    Bytes alicePoint = Attribute(alice.publicKey, CKA_EC_POINT);
    Bytes bobPoint = Attribute(bob.publicKey, CKA_EC_POINT);

    // Only the cofactor agreement is offered; the plain one is never listed nor reached.
    const CK_MECHANISM_TYPE agreement = CKM_DSTUDH_COFACTOR_DERIVE;
    CK_MECHANISM_INFO info{};
    EXPECT_EQ(p11->C_GetMechanismInfo(0, CKM_DSTUDH_DERIVE, &info), CKR_MECHANISM_INVALID);

    Bytes ukm(64);
    for (size_t i = 0; i < ukm.size(); ++i) ukm[i] = static_cast<uint8_t>(i * 7 + 1);
    for (bool withUkm : {false, true}) {
        SCOPED_TRACE(::testing::Message() << agreement << (withUkm ? " with shared data" : ""));
        auto derive = [&](CK_OBJECT_HANDLE base, Bytes& peerPoint) {
            CK_ECDH1_DERIVE_PARAMS params{CKD_GOST34311_KDF, withUkm ? ukm.size() : 0,
                                          withUkm ? ukm.data() : nullptr, peerPoint.size(), peerPoint.data()};
            CK_MECHANISM mechanism{agreement, &params, sizeof params};
            CK_OBJECT_CLASS secretClass = CKO_SECRET_KEY;
            CK_KEY_TYPE gost = CKK_GOST28147_NAT;
            CK_BBOOL no = CK_FALSE;
            CK_BBOOL yes = CK_TRUE;
            CK_ATTRIBUTE attributes[] = {{CKA_CLASS, &secretClass, sizeof secretClass},
                                         {CKA_KEY_TYPE, &gost, sizeof gost},
                                         {CKA_TOKEN, &no, sizeof no},
                                         {CKA_ENCRYPT, &yes, sizeof yes},
                                         {CKA_DECRYPT, &yes, sizeof yes}};
            CK_OBJECT_HANDLE key = CK_INVALID_HANDLE;
            EXPECT_EQ(p11->C_DeriveKey(session, &mechanism, base, attributes, 5, &key), CKR_OK);
            return key;
        };
        const CK_OBJECT_HANDLE aliceKey = derive(alice.privateKey, bobPoint);
        const CK_OBJECT_HANDLE bobKey = derive(bob.privateKey, alicePoint);
        ASSERT_NE(aliceKey, CK_INVALID_HANDLE);
        ASSERT_NE(bobKey, CK_INVALID_HANDLE);
        const Bytes typeBytes = Attribute(aliceKey, CKA_KEY_TYPE);
        ASSERT_EQ(typeBytes.size(), sizeof(CK_KEY_TYPE));
        CK_KEY_TYPE keyType = 0;
        std::memcpy(&keyType, typeBytes.data(), sizeof keyType);
        EXPECT_EQ(keyType, CKK_GOST28147_NAT);
        // The base key's S-box (the curve's DKE) as a DER Dke; the value stays on the token.
        Bytes sbox = {0x04, 0x40};
        sbox.insert(sbox.end(), params.end() - 64, params.end());
        EXPECT_EQ(Attribute(aliceKey, CKA_GOST_SBOXES), sbox);
        EXPECT_EQ(Flag(aliceKey, CKA_LOCAL), 1);
        EXPECT_EQ(Flag(aliceKey, CKA_NEVER_EXTRACTABLE), 1);  // as its base key
        CK_RV valueRead = CKR_OK;
        EXPECT_TRUE(Attribute(aliceKey, CKA_VALUE, &valueRead).empty());
        EXPECT_EQ(valueRead, CKR_ATTRIBUTE_SENSITIVE);
        const Bytes mechanismBytes = Attribute(aliceKey, CKA_KEY_GEN_MECHANISM);
        ASSERT_EQ(mechanismBytes.size(), sizeof(CK_MECHANISM_TYPE));
        CK_MECHANISM_TYPE madeBy = 0;
        std::memcpy(&madeBy, mechanismBytes.data(), sizeof madeBy);
        EXPECT_EQ(madeBy, agreement);

        Bytes plain(24);
        for (size_t i = 0; i < plain.size(); ++i) plain[i] = static_cast<uint8_t>(0xA0 + i);
        CK_MECHANISM ecb{CKM_GOST28147_ECB_NAT, nullptr, 0};
        Bytes cipher(plain.size());
        CK_ULONG length = cipher.size();
        ASSERT_EQ(p11->C_EncryptInit(session, &ecb, aliceKey), CKR_OK);
        ASSERT_EQ(p11->C_Encrypt(session, plain.data(), plain.size(), cipher.data(), &length), CKR_OK);
        ASSERT_EQ(length, plain.size());
        EXPECT_NE(cipher, plain);
        Bytes back(cipher.size());
        length = back.size();
        ASSERT_EQ(p11->C_DecryptInit(session, &ecb, bobKey), CKR_OK);
        ASSERT_EQ(p11->C_Decrypt(session, cipher.data(), cipher.size(), back.data(), &length), CKR_OK);
        EXPECT_EQ(back, plain);
    }
    CK_ECDH1_DERIVE_PARAMS plainParams{CKD_GOST34311_KDF, 0, nullptr, bobPoint.size(), bobPoint.data()};
    CK_MECHANISM plain{CKM_DSTUDH_DERIVE, &plainParams, sizeof plainParams};
    CK_OBJECT_HANDLE key = CK_INVALID_HANDLE;
    EXPECT_EQ(p11->C_DeriveKey(session, &plain, alice.privateKey, nullptr, 0, &key), CKR_MECHANISM_INVALID);
}

INSTANTIATE_TEST_SUITE_P(Curves, DstuCurveTest, ::testing::ValuesIn(kCurves), CurveName);

TEST_F(DstuE2eTest, FlagsStoredFalseReadBackFalseAfterReload)
{
    const Curve& curve = kCurves[2];
    ImportedValue imported = ImportableKey(curve);
    Bytes params = CurveParams(curve);
    const std::string label = "flags";
    CK_OBJECT_CLASS privateClass = CKO_PRIVATE_KEY;
    CK_OBJECT_CLASS publicClass = CKO_PUBLIC_KEY;
    CK_KEY_TYPE keyType = CKK_DSTU4145;
    CK_BBOOL yes = CK_TRUE;
    CK_BBOOL no = CK_FALSE;
    Create({{CKA_CLASS, &privateClass, sizeof privateClass},
            {CKA_KEY_TYPE, &keyType, sizeof keyType},
            {CKA_TOKEN, &yes, sizeof yes},
            {CKA_PRIVATE, &yes, sizeof yes},
            {CKA_LABEL, const_cast<char*>(label.data()), label.size()},
            {CKA_EC_PARAMS, params.data(), params.size()},
            {CKA_SIGN, &yes, sizeof yes},
            {CKA_DERIVE, &no, sizeof no},
            {CKA_VALUE, imported.value.data(), imported.value.size()}});
    Create({{CKA_CLASS, &publicClass, sizeof publicClass},
            {CKA_KEY_TYPE, &keyType, sizeof keyType},
            {CKA_TOKEN, &yes, sizeof yes},
            {CKA_LABEL, const_cast<char*>(label.data()), label.size()},
            {CKA_EC_PARAMS, params.data(), params.size()},
            {CKA_EC_POINT, imported.point.data(), imported.point.size()},
            {CKA_VERIFY, &no, sizeof no}});

    // The value was seen by the host: never always-sensitive, never never-extractable.
    const struct {
        CK_OBJECT_CLASS objectClass;
        CK_ATTRIBUTE_TYPE flag;
        int expected;
    } flags[] = {{CKO_PRIVATE_KEY, CKA_ALWAYS_SENSITIVE, 0}, {CKO_PRIVATE_KEY, CKA_NEVER_EXTRACTABLE, 0},
                 {CKO_PRIVATE_KEY, CKA_DERIVE, 0},          {CKO_PRIVATE_KEY, CKA_SENSITIVE, 1},
                 {CKO_PRIVATE_KEY, CKA_SIGN, 1},            {CKO_PUBLIC_KEY, CKA_VERIFY, 0}};
    // A label changed afterwards is kept with the flags.
    const std::string renamed = "flags-renamed";
    CK_ATTRIBUTE rename{CKA_LABEL, const_cast<char*>(renamed.data()), renamed.size()};
    ASSERT_EQ(p11->C_SetAttributeValue(session, FindKey(CKO_PRIVATE_KEY, label), &rename, 1), CKR_OK);
    for (bool reloaded : {false, true}) {
        if (reloaded) Reload();
        if (HasFatalFailure()) return;
        for (const auto& f : flags) {
            EXPECT_EQ(Flag(FindKey(f.objectClass, f.objectClass == CKO_PRIVATE_KEY ? renamed : label), f.flag),
                      f.expected)
                << "class " << f.objectClass << " flag 0x" << std::hex << f.flag << (reloaded ? " after reload" : "");
        }
    }
}

TEST_F(DstuE2eTest, RawSignatureRefusesOverlongDataBeforeSending)
{
    const KeyPair pair = Generate(CurveParams(kCurves[2]), "raw");
    CK_MECHANISM raw{CKM_DSTU4145, nullptr, 0};
    Bytes signature(64);
    CK_ULONG length = signature.size();
    Bytes data(kMaxRawSignData + 1, 0x33);
    const uint64_t signsBefore = Count("Sign");
    ASSERT_EQ(p11->C_SignInit(session, &raw, pair.privateKey), CKR_OK);
    EXPECT_EQ(p11->C_Sign(session, data.data(), data.size(), signature.data(), &length), CKR_DATA_LEN_RANGE);
    EXPECT_EQ(Count("Sign"), signsBefore);
    // The refusal ended the operation.
    EXPECT_EQ(p11->C_Sign(session, data.data(), data.size(), signature.data(), &length), CKR_OPERATION_NOT_INITIALIZED);

    data.pop_back();
    EXPECT_EQ(Sign(CKM_DSTU4145, pair.privateKey, data).size(), 64u);
    EXPECT_EQ(Count("Sign"), signsBefore + 1);

    // A verification carries the 33-byte point and the signature beside the data.
    const Bytes signature64 = Sign(CKM_DSTU4145, pair.privateKey, Bytes(32, 1));
    const uint64_t verifiesBefore = Count("Verify");
    EXPECT_EQ(Verify(CKM_DSTU4145, pair.publicKey, Bytes(kMaxRawVerifyData257 + 1, 1), signature64),
              CKR_DATA_LEN_RANGE);
    EXPECT_EQ(Count("Verify"), verifiesBefore);
    EXPECT_EQ(Verify(CKM_DSTU4145, pair.publicKey, Bytes(kMaxRawVerifyData257, 1), signature64), CKR_SIGNATURE_INVALID);
    EXPECT_EQ(Count("Verify"), verifiesBefore + 1);
}

TEST_F(DstuE2eTest, KeyGeneratedInAnotherProcessSignsHere)
{
    const Bytes params = CurveParams(kCurves[1]);
    const std::string label = "other-process";
    // This process already runs with the library initialised, logged in and its lists read.
    CK_OBJECT_CLASS privateClass = CKO_PRIVATE_KEY;
    Find({{CKA_CLASS, &privateClass, sizeof privateClass}});
    ASSERT_TRUE(GenerateInAnotherProcess(CKM_DSTU4145_KEY_PAIR_GEN, label, params));

    const CK_OBJECT_HANDLE privateKey = FindKey(CKO_PRIVATE_KEY, label);
    const CK_OBJECT_HANDLE publicKey = FindKey(CKO_PUBLIC_KEY, label);
    ASSERT_NE(privateKey, CK_INVALID_HANDLE);
    ASSERT_NE(publicKey, CK_INVALID_HANDLE);
    const Bytes document = {'t', 'w', 'o'};
    const Bytes signature = Sign(CKM_GOST34311_DSTU4145, privateKey, document);
    EXPECT_EQ(signature.size(), 48u);
    EXPECT_EQ(Verify(CKM_GOST34311_DSTU4145, publicKey, document, signature), CKR_OK);
}

TEST_F(DstuE2eTest, SignatureBufferTooSmallKeepsTheOperation)
{
    const KeyPair pair = Generate(CurveParams(kCurves[2]), "small");
    const Bytes document = {'a', 'b', 'c'};
    CK_MECHANISM hashed{CKM_GOST34311_DSTU4145, nullptr, 0};
    Bytes signature(10);
    CK_ULONG length = signature.size();
    const uint64_t signsBefore = Count("Sign");
    ASSERT_EQ(p11->C_SignInit(session, &hashed, pair.privateKey), CKR_OK);
    EXPECT_EQ(p11->C_Sign(session, const_cast<uint8_t*>(document.data()), document.size(), signature.data(), &length),
              CKR_BUFFER_TOO_SMALL);
    EXPECT_EQ(length, 64u);
    signature.resize(length);
    ASSERT_EQ(p11->C_Sign(session, const_cast<uint8_t*>(document.data()), document.size(), signature.data(), &length),
              CKR_OK);
    EXPECT_EQ(Count("Sign"), signsBefore + 1);
    EXPECT_EQ(Verify(CKM_GOST34311_DSTU4145, pair.publicKey, document, signature), CKR_OK);

    // In parts: the same hash input as in one part.
    ASSERT_EQ(p11->C_SignInit(session, &hashed, pair.privateKey), CKR_OK);
    ASSERT_EQ(p11->C_SignUpdate(session, const_cast<uint8_t*>(document.data()), 1), CKR_OK);
    ASSERT_EQ(p11->C_SignUpdate(session, const_cast<uint8_t*>(document.data()) + 1, 2), CKR_OK);
    length = signature.size();
    ASSERT_EQ(p11->C_SignFinal(session, signature.data(), &length), CKR_OK);
    EXPECT_EQ(Verify(CKM_GOST34311_DSTU4145, pair.publicKey, document, signature), CKR_OK);
    ASSERT_EQ(p11->C_VerifyInit(session, &hashed, pair.publicKey), CKR_OK);
    ASSERT_EQ(p11->C_VerifyUpdate(session, const_cast<uint8_t*>(document.data()), 2), CKR_OK);
    ASSERT_EQ(p11->C_VerifyUpdate(session, const_cast<uint8_t*>(document.data()) + 2, 1), CKR_OK);
    EXPECT_EQ(p11->C_VerifyFinal(session, signature.data(), signature.size()), CKR_OK);
}

TEST_F(DstuE2eTest, VerificationTakesZeroPaddedHalvesOnly)
{
    const KeyPair pair = Generate(CurveParams(kCurves[0]), "padded");
    const Bytes hash(32, 0x42);
    const Bytes signature = Sign(CKM_DSTU4145, pair.privateKey, hash);
    ASSERT_EQ(signature.size(), 42u);
    Bytes padded(signature.begin(), signature.begin() + 21);
    padded.push_back(0);
    padded.insert(padded.end(), signature.begin() + 21, signature.end());
    padded.push_back(0);
    EXPECT_EQ(Verify(CKM_DSTU4145, pair.publicKey, hash, padded), CKR_OK);
    padded.back() = 1;
    EXPECT_EQ(Verify(CKM_DSTU4145, pair.publicKey, hash, padded), CKR_SIGNATURE_INVALID);
    EXPECT_EQ(Verify(CKM_DSTU4145, pair.publicKey, hash, Bytes(signature.begin(), signature.end() - 1)),
              CKR_SIGNATURE_LEN_RANGE);
}

TEST_F(DstuE2eTest, KeyAgreementRefusesBadParametersBeforeTheToken)
{
    const KeyPair pair = Generate(CurveParams(kCurves[2]), "bad-agreement", true);
    Bytes point = Attribute(pair.publicKey, CKA_EC_POINT);
    Bytes ukm(64, 1);
    CK_OBJECT_CLASS secretClass = CKO_SECRET_KEY;
    CK_OBJECT_CLASS dataClass = CKO_DATA;
    CK_KEY_TYPE gost = CKK_GOST28147_NAT;
    CK_KEY_TYPE des3 = CKK_DES3;
    Bytes value(32, 9);
    const CK_ECDH1_DERIVE_PARAMS good{CKD_GOST34311_KDF, 0, nullptr, point.size(), point.data()};
    struct Case {
        const char* name;
        CK_ECDH1_DERIVE_PARAMS params;
        CK_ULONG paramsLength;
        CK_ATTRIBUTE extra;
        CK_RV expected;
    };
    const CK_ATTRIBUTE none{CKA_TOKEN, nullptr, 0};
    const Case cases[] = {
        {"no parameter", good, 0, none, CKR_MECHANISM_PARAM_INVALID},
        {"short parameter", good, sizeof good - 4, none, CKR_MECHANISM_PARAM_INVALID},
        {"other kdf", {CKD_NULL, 0, nullptr, point.size(), point.data()}, sizeof good, none,
         CKR_MECHANISM_PARAM_INVALID},
        {"32 bytes of shared data", {CKD_GOST34311_KDF, 32, ukm.data(), point.size(), point.data()}, sizeof good, none,
         CKR_MECHANISM_PARAM_INVALID},
        {"shared data without bytes", {CKD_GOST34311_KDF, 64, nullptr, point.size(), point.data()}, sizeof good, none,
         CKR_MECHANISM_PARAM_INVALID},
        {"peer point without bytes", {CKD_GOST34311_KDF, 0, nullptr, point.size(), nullptr}, sizeof good, none,
         CKR_MECHANISM_PARAM_INVALID},
        {"data class", good, sizeof good, {CKA_CLASS, &dataClass, sizeof dataClass}, CKR_TEMPLATE_INCONSISTENT},
        {"DES3 key type", good, sizeof good, {CKA_KEY_TYPE, &des3, sizeof des3}, CKR_ATTRIBUTE_VALUE_INVALID},
        {"a value", good, sizeof good, {CKA_VALUE, value.data(), value.size()}, CKR_ATTRIBUTE_TYPE_INVALID},
    };
    const uint64_t before = Count("GetCommonKey");
    for (const Case& c : cases) {
        CK_ECDH1_DERIVE_PARAMS params = c.params;
        CK_MECHANISM mechanism{CKM_DSTUDH_COFACTOR_DERIVE, c.paramsLength != 0 ? &params : nullptr, c.paramsLength};
        std::vector<CK_ATTRIBUTE> attributes = {{CKA_CLASS, &secretClass, sizeof secretClass},
                                                {CKA_KEY_TYPE, &gost, sizeof gost}};
        if (c.extra.pValue != nullptr) {
            auto same = std::find_if(attributes.begin(), attributes.end(),
                                     [&](const CK_ATTRIBUTE& a) { return a.type == c.extra.type; });
            if (same != attributes.end()) *same = c.extra;
            else attributes.push_back(c.extra);
        }
        CK_OBJECT_HANDLE key = CK_INVALID_HANDLE;
        EXPECT_EQ(p11->C_DeriveKey(session, &mechanism, pair.privateKey, attributes.data(), attributes.size(), &key),
                  c.expected)
            << c.name;
        EXPECT_EQ(key, CK_INVALID_HANDLE) << c.name;
    }
    EXPECT_EQ(Count("GetCommonKey"), before);
}

TEST_F(DstuE2eTest, StoredAgreedKeyDecryptsAfterReload)
{
    const Bytes params = CurveParams(kCurves[2]);
    const KeyPair alice = Generate(params, "stored-alice", true);
    const KeyPair bob = Generate(params, "stored-bob", true);
    Bytes bobPoint = Attribute(bob.publicKey, CKA_EC_POINT);
    Bytes alicePoint = Attribute(alice.publicKey, CKA_EC_POINT);
    const std::string label = "agreed";
    CK_OBJECT_CLASS secretClass = CKO_SECRET_KEY;
    CK_KEY_TYPE gost = CKK_GOST28147_NAT;
    CK_BBOOL yes = CK_TRUE;
    auto derive = [&](CK_OBJECT_HANDLE base, Bytes& peer, CK_BBOOL onToken) {
        CK_ECDH1_DERIVE_PARAMS parameter{CKD_GOST34311_KDF, 0, nullptr, peer.size(), peer.data()};
        CK_MECHANISM mechanism{CKM_DSTUDH_COFACTOR_DERIVE, &parameter, sizeof parameter};
        CK_ATTRIBUTE attributes[] = {{CKA_CLASS, &secretClass, sizeof secretClass},
                                     {CKA_KEY_TYPE, &gost, sizeof gost},
                                     {CKA_TOKEN, &onToken, sizeof onToken},
                                     {CKA_PRIVATE, &yes, sizeof yes},
                                     {CKA_LABEL, const_cast<char*>(label.data()), label.size()},
                                     {CKA_ENCRYPT, &yes, sizeof yes},
                                     {CKA_DECRYPT, &yes, sizeof yes}};
        CK_OBJECT_HANDLE key = CK_INVALID_HANDLE;
        EXPECT_EQ(p11->C_DeriveKey(session, &mechanism, base, attributes, 7, &key), CKR_OK);
        return key;
    };
    const CK_OBJECT_HANDLE aliceKey = derive(alice.privateKey, bobPoint, CK_FALSE);
    ASSERT_NE(derive(bob.privateKey, alicePoint, CK_TRUE), CK_INVALID_HANDLE);
    Bytes plain(16, 0x5A);
    Bytes cipher(16);
    CK_ULONG length = cipher.size();
    CK_MECHANISM ecb{CKM_GOST28147_ECB_NAT, nullptr, 0};
    ASSERT_EQ(p11->C_EncryptInit(session, &ecb, aliceKey), CKR_OK);
    ASSERT_EQ(p11->C_Encrypt(session, plain.data(), plain.size(), cipher.data(), &length), CKR_OK);

    Reload();
    CK_KEY_TYPE keyType = CKK_GOST28147_NAT;
    const std::vector<CK_OBJECT_HANDLE> found = Find({{CKA_CLASS, &secretClass, sizeof secretClass},
                                                      {CKA_KEY_TYPE, &keyType, sizeof keyType},
                                                      {CKA_LABEL, const_cast<char*>(label.data()), label.size()}});
    ASSERT_EQ(found.size(), 1u);  // the session key is gone, the token key is kept
    Bytes back(16);
    length = back.size();
    ASSERT_EQ(p11->C_DecryptInit(session, &ecb, found[0]), CKR_OK);
    ASSERT_EQ(p11->C_Decrypt(session, cipher.data(), cipher.size(), back.data(), &length), CKR_OK);
    EXPECT_EQ(back, plain);
}

TEST_F(DstuE2eTest, CopiesAfterReload)
{
    const KeyPair pair = Generate(CurveParams(kCurves[3]), "copied");
    const Bytes point = Attribute(pair.publicKey, CKA_EC_POINT);
    Reload();

    // The point of a key read from the token stays in its file until needed; the copy reads it.
    const CK_OBJECT_HANDLE publicKey = FindKey(CKO_PUBLIC_KEY, "copied");
    const CK_OBJECT_HANDLE privateKey = FindKey(CKO_PRIVATE_KEY, "copied");
    CK_BBOOL no = CK_FALSE;
    CK_ATTRIBUTE sessionCopy{CKA_TOKEN, &no, sizeof no};
    CK_OBJECT_HANDLE copy = CK_INVALID_HANDLE;
    ASSERT_EQ(p11->C_CopyObject(session, publicKey, &sessionCopy, 1, &copy), CKR_OK);
    EXPECT_EQ(Attribute(copy, CKA_EC_POINT), point);
    const Bytes hash(32, 0x77);
    EXPECT_EQ(Verify(CKM_DSTU4145, copy, hash, Sign(CKM_DSTU4145, privateKey, hash)), CKR_OK);

    CK_OBJECT_HANDLE privateCopy = CK_INVALID_HANDLE;
    EXPECT_EQ(p11->C_CopyObject(session, privateKey, nullptr, 0, &privateCopy), CKR_COPY_PROHIBITED);
    EXPECT_EQ(privateCopy, CK_INVALID_HANDLE);
}

TEST_F(DstuE2eTest, CreationRefusesKeysThatCannotWork)
{
    Bytes params = CurveParams(kCurves[2]);
    ImportedValue imported = ImportableKey(kCurves[2]);
    Bytes shortPoint(imported.point.begin() + 2, imported.point.end());  // no 04 L header
    CK_OBJECT_CLASS privateClass = CKO_PRIVATE_KEY;
    CK_OBJECT_CLASS publicClass = CKO_PUBLIC_KEY;
    CK_KEY_TYPE keyType = CKK_DSTU4145;
    CK_BBOOL yes = CK_TRUE;
    CK_BBOOL no = CK_FALSE;
    const Bytes unknownCurve = {0x30, 0x0F, 0x06, 0x0D, 0x2A, 0x86, 0x24, 0x02, 0x01,
                                0x01, 0x01, 0x01, 0x03, 0x01, 0x01, 0x02, 0x01};
    struct Case {
        const char* name;
        std::vector<CK_ATTRIBUTE> attributes;
        CK_RV expected;
    };
    const Case cases[] = {
        {"public point without header",
         {{CKA_CLASS, &publicClass, sizeof publicClass},
          {CKA_KEY_TYPE, &keyType, sizeof keyType},
          {CKA_EC_PARAMS, params.data(), params.size()},
          {CKA_EC_POINT, shortPoint.data(), shortPoint.size()}},
         CKR_ATTRIBUTE_VALUE_INVALID},
        {"public key without point",
         {{CKA_CLASS, &publicClass, sizeof publicClass},
          {CKA_KEY_TYPE, &keyType, sizeof keyType},
          {CKA_EC_PARAMS, params.data(), params.size()}},
         CKR_TEMPLATE_INCOMPLETE},
        {"private session key",
         {{CKA_CLASS, &privateClass, sizeof privateClass},
          {CKA_KEY_TYPE, &keyType, sizeof keyType},
          {CKA_TOKEN, &no, sizeof no},
          {CKA_PRIVATE, &yes, sizeof yes},
          {CKA_EC_PARAMS, params.data(), params.size()},
          {CKA_VALUE, imported.value.data(), imported.value.size()}},
         CKR_ATTRIBUTE_VALUE_INVALID},
        {"private key of another curve",
         {{CKA_CLASS, &privateClass, sizeof privateClass},
          {CKA_KEY_TYPE, &keyType, sizeof keyType},
          {CKA_TOKEN, &yes, sizeof yes},
          {CKA_PRIVATE, &yes, sizeof yes},
          {CKA_EC_PARAMS, const_cast<uint8_t*>(unknownCurve.data()), unknownCurve.size()},
          {CKA_VALUE, imported.value.data(), imported.value.size()}},
         CKR_ATTRIBUTE_VALUE_INVALID},
    };
    const uint64_t loadsBefore = Count("LoadKey");
    for (const Case& c : cases) {
        std::vector<CK_ATTRIBUTE> attributes = c.attributes;
        CK_OBJECT_HANDLE handle = CK_INVALID_HANDLE;
        EXPECT_EQ(p11->C_CreateObject(session, attributes.data(), attributes.size(), &handle), c.expected) << c.name;
    }
    EXPECT_EQ(Count("LoadKey"), loadsBefore);
}

TEST_F(DstuE2eTest, GenerationTemplatesAreCheckedBeforeTheToken)
{
    Bytes params = CurveParams(kCurves[2]);
    Bytes otherParams = CurveParams(kCurves[0]);
    CK_BBOOL yes = CK_TRUE;
    CK_BBOOL no = CK_FALSE;
    CK_OBJECT_CLASS secretClass = CKO_SECRET_KEY;
    Bytes point(35, 4);
    const CK_ATTRIBUTE curve{CKA_EC_PARAMS, params.data(), params.size()};
    struct Case {
        const char* name;
        std::vector<CK_ATTRIBUTE> publicTemplate;
        std::vector<CK_ATTRIBUTE> privateTemplate;
        CK_RV expected;
    };
    const Case cases[] = {
        {"two curves", {curve}, {{CKA_EC_PARAMS, otherParams.data(), otherParams.size()}}, CKR_TEMPLATE_INCONSISTENT},
        {"private public key", {curve, {CKA_PRIVATE, &yes, sizeof yes}}, {}, CKR_ATTRIBUTE_VALUE_INVALID},
        {"private session key", {curve}, {{CKA_TOKEN, &no, sizeof no}}, CKR_ATTRIBUTE_VALUE_INVALID},
        {"public private key", {curve}, {{CKA_PRIVATE, &no, sizeof no}}, CKR_ATTRIBUTE_VALUE_INVALID},
        {"a given point", {curve, {CKA_EC_POINT, point.data(), point.size()}}, {}, CKR_ATTRIBUTE_TYPE_INVALID},
        {"secret class", {curve, {CKA_CLASS, &secretClass, sizeof secretClass}}, {}, CKR_TEMPLATE_INCONSISTENT},
        {"unknown curve", {{CKA_EC_PARAMS, params.data(), 17}}, {}, CKR_ATTRIBUTE_VALUE_INVALID},
    };
    const uint64_t before = Count("GenerateKey");
    for (const Case& c : cases) {
        std::vector<CK_ATTRIBUTE> publicTemplate = c.publicTemplate;
        std::vector<CK_ATTRIBUTE> privateTemplate = c.privateTemplate;
        CK_MECHANISM mechanism{CKM_DSTU4145_KEY_PAIR_GEN, nullptr, 0};
        CK_OBJECT_HANDLE publicKey = CK_INVALID_HANDLE, privateKey = CK_INVALID_HANDLE;
        EXPECT_EQ(p11->C_GenerateKeyPair(session, &mechanism, publicTemplate.data(), publicTemplate.size(),
                                         privateTemplate.data(), privateTemplate.size(), &publicKey, &privateKey),
                  c.expected)
            << c.name;
    }
    EXPECT_EQ(Count("GenerateKey"), before);
}

// No curve in either template: the token's default set (m191 with DKE1 on this model) is used
// and named in both keys.
TEST_F(DstuE2eTest, GenerationWithoutACurveUsesTheTokensDefaultSet)
{
    const std::string label = "default-curve";
    CK_BBOOL yes = CK_TRUE;
    CK_ATTRIBUTE publicTemplate[] = {{CKA_LABEL, const_cast<char*>(label.data()), label.size()}};
    CK_ATTRIBUTE privateTemplate[] = {{CKA_LABEL, const_cast<char*>(label.data()), label.size()},
                                      {CKA_SIGN, &yes, sizeof yes}};
    CK_MECHANISM mechanism{CKM_DSTU4145_KEY_PAIR_GEN, nullptr, 0};
    KeyPair pair;
    ASSERT_EQ(p11->C_GenerateKeyPair(session, &mechanism, publicTemplate, 1, privateTemplate, 2, &pair.publicKey,
                                     &pair.privateKey),
              CKR_OK);
    EXPECT_EQ(Attribute(pair.publicKey, CKA_EC_PARAMS), CurveParams(kCurves[1]));
    EXPECT_EQ(Attribute(pair.privateKey, CKA_EC_PARAMS), CurveParams(kCurves[1]));
    CK_MECHANISM sign{CKM_DSTU4145, nullptr, 0};
    ASSERT_EQ(p11->C_SignInit(session, &sign, pair.privateKey), CKR_OK);
    Bytes hash(32, 7);
    CK_ULONG length = 0;
    ASSERT_EQ(p11->C_Sign(session, hash.data(), hash.size(), nullptr, &length), CKR_OK);
    EXPECT_EQ(length, kCurves[1].signatureSize);
}

TEST_F(DstuE2eTest, SessionPublicKeyGoesWithTheSession)
{
    Bytes params = CurveParams(kCurves[1]);
    const std::string label = "session-public";
    CK_BBOOL no = CK_FALSE;
    CK_ATTRIBUTE publicTemplate[] = {{CKA_EC_PARAMS, params.data(), params.size()},
                                     {CKA_TOKEN, &no, sizeof no},
                                     {CKA_LABEL, const_cast<char*>(label.data()), label.size()}};
    CK_ATTRIBUTE privateTemplate[] = {{CKA_LABEL, const_cast<char*>(label.data()), label.size()}};
    CK_MECHANISM mechanism{CKM_DSTU4145_KEY_PAIR_GEN, nullptr, 0};
    KeyPair pair;
    ASSERT_EQ(p11->C_GenerateKeyPair(session, &mechanism, publicTemplate, 3, privateTemplate, 1, &pair.publicKey,
                                     &pair.privateKey),
              CKR_OK);
    EXPECT_EQ(Flag(pair.publicKey, CKA_TOKEN), 0);
    Bytes point = Attribute(pair.publicKey, CKA_EC_POINT);
    Reload();

    CK_OBJECT_CLASS publicClass = CKO_PUBLIC_KEY;
    EXPECT_TRUE(Find({{CKA_CLASS, &publicClass, sizeof publicClass},
                      {CKA_LABEL, const_cast<char*>(label.data()), label.size()}})
                    .empty());
    const CK_OBJECT_HANDLE privateKey = FindKey(CKO_PRIVATE_KEY, label);
    CK_KEY_TYPE keyType = CKK_DSTU4145;
    const CK_OBJECT_HANDLE publicKey = Create({{CKA_CLASS, &publicClass, sizeof publicClass},
                                               {CKA_KEY_TYPE, &keyType, sizeof keyType},
                                               {CKA_TOKEN, &no, sizeof no},
                                               {CKA_EC_PARAMS, params.data(), params.size()},
                                               {CKA_EC_POINT, point.data(), point.size()}});
    const Bytes document = {'s'};
    EXPECT_EQ(Verify(CKM_GOST34311_DSTU4145, publicKey, document, Sign(CKM_GOST34311_DSTU4145, privateKey, document)),
              CKR_OK);
}

TEST_F(DstuE2eTest, KeysOfBothProcessesAreKept)
{
    const Bytes params = CurveParams(kCurves[2]);
    // This process has read the token's lists and made a pair when the other one makes its own;
    // then this one makes another at once. Each writes files and index records: none may take
    // the other's.
    const KeyPair before = Generate(params, "ours-before");
    ASSERT_NE(before.privateKey, CK_INVALID_HANDLE);
    FindKey(CKO_PRIVATE_KEY, "ours-before");
    FindKey(CKO_PUBLIC_KEY, "ours-before");
    ASSERT_TRUE(GenerateInAnotherProcess(CKM_DSTU4145_KEY_PAIR_GEN, "theirs", params));
    const KeyPair after = Generate(params, "ours-after");
    ASSERT_NE(after.privateKey, CK_INVALID_HANDLE);

    Reload();
    std::vector<Bytes> points;
    for (const char* label : {"ours-before", "theirs", "ours-after"}) {
        const CK_OBJECT_HANDLE privateKey = FindKey(CKO_PRIVATE_KEY, label);
        const CK_OBJECT_HANDLE publicKey = FindKey(CKO_PUBLIC_KEY, label);
        const Bytes hash(32, 0x21);
        EXPECT_EQ(Verify(CKM_DSTU4145, publicKey, hash, Sign(CKM_DSTU4145, privateKey, hash)), CKR_OK) << label;
        points.push_back(Attribute(publicKey, CKA_EC_POINT));
    }
    EXPECT_NE(points[0], points[1]);
    EXPECT_NE(points[1], points[2]);
    EXPECT_NE(points[0], points[2]);
}

TEST_F(DstuE2eTest, DestroyedKeysGiveBackTheirTokenSpace)
{
    // More pairs than the token has key slots, each destroyed before the next.
    const Bytes params = CurveParams(kCurves[0]);
    constexpr int kRounds = 70;
    for (int round = 0; round < kRounds; ++round) {
        const KeyPair pair = Generate(params, "short-lived");
        ASSERT_NE(pair.privateKey, CK_INVALID_HANDLE) << "round " << round;
        ASSERT_EQ(p11->C_DestroyObject(session, pair.privateKey), CKR_OK) << "round " << round;
        ASSERT_EQ(p11->C_DestroyObject(session, pair.publicKey), CKR_OK) << "round " << round;
    }
    Reload();
    CK_KEY_TYPE keyType = CKK_DSTU4145;
    EXPECT_TRUE(Find({{CKA_KEY_TYPE, &keyType, sizeof keyType}, {CKA_LABEL, const_cast<char*>("short-lived"), 11}})
                    .empty());
}

TEST_F(DstuE2eTest, MechanismsTellWhatTheyDo)
{
    const struct {
        CK_MECHANISM_TYPE type;
        CK_FLAGS flags;
    } cases[] = {
        {CKM_DSTU4145_KEY_PAIR_GEN, CKF_HW | CKF_GENERATE_KEY_PAIR | CKF_EC_NAMEDCURVE},
        {CKM_DSTU4145, CKF_SIGN | CKF_VERIFY},
        {CKM_GOST34311_DSTU4145, CKF_SIGN | CKF_VERIFY},
        {CKM_DSTUDH_COFACTOR_DERIVE, CKF_DERIVE},
    };
    for (const auto& c : cases) {
        CK_MECHANISM_INFO info{};
        ASSERT_EQ(p11->C_GetMechanismInfo(0, c.type, &info), CKR_OK) << std::hex << c.type;
        EXPECT_EQ(info.flags & c.flags, c.flags) << std::hex << c.type;
        EXPECT_EQ(info.ulMinKeySize, 163u) << std::hex << c.type;
        EXPECT_GE(info.ulMaxKeySize, 431u) << std::hex << c.type;
    }
}

TEST_F(DstuE2eTest, KeyAgreementNeedsADerivingKeyAndAPointOfItsCurve)
{
    const KeyPair signingOnly = Generate(CurveParams(kCurves[2]), "no-derive");
    const KeyPair deriving = Generate(CurveParams(kCurves[2]), "derive", true);
    const KeyPair otherCurve = Generate(CurveParams(kCurves[0]), "other-curve", true);
    Bytes point = Attribute(deriving.publicKey, CKA_EC_POINT);
    Bytes otherPoint = Attribute(otherCurve.publicKey, CKA_EC_POINT);
    CK_OBJECT_CLASS secretClass = CKO_SECRET_KEY;
    CK_KEY_TYPE gost = CKK_GOST28147_NAT;
    CK_ATTRIBUTE attributes[] = {{CKA_CLASS, &secretClass, sizeof secretClass}, {CKA_KEY_TYPE, &gost, sizeof gost}};
    auto derive = [&](CK_OBJECT_HANDLE base, Bytes& peer) {
        CK_ECDH1_DERIVE_PARAMS parameter{CKD_GOST34311_KDF, 0, nullptr, peer.size(), peer.data()};
        CK_MECHANISM mechanism{CKM_DSTUDH_COFACTOR_DERIVE, &parameter, sizeof parameter};
        CK_OBJECT_HANDLE key = CK_INVALID_HANDLE;
        const CK_RV rv = p11->C_DeriveKey(session, &mechanism, base, attributes, 2, &key);
        EXPECT_EQ(key == CK_INVALID_HANDLE, rv != CKR_OK);
        return rv;
    };
    EXPECT_EQ(derive(signingOnly.privateKey, point), CKR_KEY_FUNCTION_NOT_PERMITTED);
    EXPECT_NE(derive(deriving.privateKey, otherPoint), CKR_OK);
    EXPECT_EQ(derive(deriving.privateKey, point), CKR_OK);  // the session still works
}

TEST_F(DstuE2eTest, KeyWithoutSBoxSignsOnlyWhatNeedsNoHostHashing)
{
    // Only the named curve's identifier: the curve is known, its S-box is not.
    Bytes params = {0x30, 0x0F, 0x06, 0x0D, 0x2A, 0x86, 0x24, 0x02, 0x01, 0x01,
                    0x01, 0x01, 0x03, 0x01, 0x01, 0x02, 0x06};
    ImportedValue imported = ImportableKey(kCurves[2]);
    CK_OBJECT_CLASS privateClass = CKO_PRIVATE_KEY;
    CK_OBJECT_CLASS publicClass = CKO_PUBLIC_KEY;
    CK_KEY_TYPE keyType = CKK_DSTU4145;
    CK_BBOOL yes = CK_TRUE;
    const CK_OBJECT_HANDLE privateKey = Create({{CKA_CLASS, &privateClass, sizeof privateClass},
                                                {CKA_KEY_TYPE, &keyType, sizeof keyType},
                                                {CKA_TOKEN, &yes, sizeof yes},
                                                {CKA_PRIVATE, &yes, sizeof yes},
                                                {CKA_DERIVE, &yes, sizeof yes},
                                                {CKA_EC_PARAMS, params.data(), params.size()},
                                                {CKA_VALUE, imported.value.data(), imported.value.size()}});
    const CK_OBJECT_HANDLE publicKey = Create({{CKA_CLASS, &publicClass, sizeof publicClass},
                                               {CKA_KEY_TYPE, &keyType, sizeof keyType},
                                               {CKA_EC_PARAMS, params.data(), params.size()},
                                               {CKA_EC_POINT, imported.point.data(), imported.point.size()}});
    const Bytes hash(32, 0x3C);
    EXPECT_EQ(Verify(CKM_DSTU4145, publicKey, hash, Sign(CKM_DSTU4145, privateKey, hash)), CKR_OK);

    CK_MECHANISM hashed{CKM_GOST34311_DSTU4145, nullptr, 0};
    EXPECT_EQ(p11->C_SignInit(session, &hashed, privateKey), CKR_MECHANISM_PARAM_INVALID);
    CK_ECDH1_DERIVE_PARAMS parameter{CKD_GOST34311_KDF, 0, nullptr, imported.point.size(), imported.point.data()};
    CK_MECHANISM agreement{CKM_DSTUDH_COFACTOR_DERIVE, &parameter, sizeof parameter};
    CK_OBJECT_HANDLE derived = CK_INVALID_HANDLE;
    const uint64_t before = Count("GetCommonKey");
    EXPECT_EQ(p11->C_DeriveKey(session, &agreement, privateKey, nullptr, 0, &derived), CKR_KEY_TYPE_INCONSISTENT);
    EXPECT_EQ(Count("GetCommonKey"), before);
}

TEST_F(DstuE2eTest, MalformedTokenAnswersAreNeverSuccess)
{
    const Bytes params = CurveParams(kCurves[2]);
    const KeyPair pair = Generate(params, "answers", true);
    Bytes point = Attribute(pair.publicKey, CKA_EC_POINT);
    const Bytes hash(32, 0x6B);
    const Bytes signature = Sign(CKM_DSTU4145, pair.privateKey, hash);
    CK_OBJECT_CLASS secretClass = CKO_SECRET_KEY;
    CK_KEY_TYPE gost = CKK_GOST28147_NAT;

    // Each call runs one token command whose answer comes back damaged. A call may still
    // succeed only with a result shown to be sound (a signature that verifies).
    struct Outcome {
        CK_RV rv;
        bool sound;
        CK_OBJECT_HANDLE made;
    };
    const struct {
        const char* command;
        std::function<Outcome()> call;
    } calls[] = {
        {"Sign",
         [&] {
             CK_MECHANISM raw{CKM_DSTU4145, nullptr, 0};
             Bytes out(64);
             CK_ULONG length = out.size();
             CK_RV rv = p11->C_SignInit(session, &raw, pair.privateKey);
             if (rv == CKR_OK) {
                 rv = p11->C_Sign(session, const_cast<uint8_t*>(hash.data()), hash.size(), out.data(), &length);
             }
             out.resize(rv == CKR_OK ? length : 0);
             return Outcome{rv, rv == CKR_OK && Verify(CKM_DSTU4145, pair.publicKey, hash, out) == CKR_OK,
                            CK_INVALID_HANDLE};
         }},
        {"Verify",
         [&] { return Outcome{Verify(CKM_DSTU4145, pair.publicKey, hash, signature), false, CK_INVALID_HANDLE}; }},
        {"GetCommonKey",
         [&] {
             CK_ECDH1_DERIVE_PARAMS parameter{CKD_GOST34311_KDF, 0, nullptr, point.size(), point.data()};
             CK_MECHANISM mechanism{CKM_DSTUDH_COFACTOR_DERIVE, &parameter, sizeof parameter};
             CK_ATTRIBUTE attributes[] = {{CKA_CLASS, &secretClass, sizeof secretClass},
                                          {CKA_KEY_TYPE, &gost, sizeof gost}};
             Outcome outcome{CKR_OK, false, CK_INVALID_HANDLE};
             outcome.rv = p11->C_DeriveKey(session, &mechanism, pair.privateKey, attributes, 2, &outcome.made);
             return outcome;
         }},
        {"GenerateKey",
         [&] {
             CK_ATTRIBUTE publicTemplate[] = {{CKA_EC_PARAMS, const_cast<uint8_t*>(params.data()), params.size()}};
             CK_MECHANISM mechanism{CKM_DSTU4145_KEY_PAIR_GEN, nullptr, 0};
             CK_OBJECT_HANDLE publicKey = CK_INVALID_HANDLE;
             Outcome outcome{CKR_OK, false, CK_INVALID_HANDLE};
             outcome.rv =
                 p11->C_GenerateKeyPair(session, &mechanism, publicTemplate, 1, nullptr, 0, &publicKey, &outcome.made);
             if (outcome.made == CK_INVALID_HANDLE) outcome.made = publicKey;
             return outcome;
         }},
    };
    for (const char* kind : {"sw-only", "bad-marker", "bad-sw", "truncated", "one-byte"}) {
        for (const auto& c : calls) {
            rig->Control(0).ResetCounters();
            rig->Control(0).Malformed(kind, 1, c.command);
            const Outcome outcome = c.call();
            rig->Control(0).ClearFaults();
            // The token has acted on the command: a damaged answer never makes the library send it again.
            EXPECT_EQ(rig->Control(0).Count(c.command), 1u) << kind << " " << c.command;
            EXPECT_TRUE(outcome.rv != CKR_OK || outcome.sound) << kind << " " << c.command;
            EXPECT_TRUE(outcome.made == CK_INVALID_HANDLE || outcome.rv == CKR_OK) << kind << " " << c.command;
        }
    }
    // A success with an empty output is no result either (Verify has no output to check).
    for (const auto& c : calls) {
        if (std::string(c.command) == "Verify") continue;
        rig->Control(0).Malformed("empty-output", 1, c.command);
        const Outcome outcome = c.call();
        rig->Control(0).ClearFaults();
        EXPECT_TRUE(outcome.rv != CKR_OK || outcome.sound) << "empty " << c.command;
        EXPECT_TRUE(outcome.made == CK_INVALID_HANDLE || outcome.rv == CKR_OK) << "empty " << c.command;
    }
    // The session goes on as before.
    EXPECT_EQ(Verify(CKM_DSTU4145, pair.publicKey, hash, Sign(CKM_DSTU4145, pair.privateKey, hash)), CKR_OK);
}
