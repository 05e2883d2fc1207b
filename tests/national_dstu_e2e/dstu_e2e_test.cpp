// DSTU 4145 keys, signatures and key agreement through the Cryptoki functions, on each named
// curve the token offers.
#include "dstu_e2e_fixture.h"

#include "dstu4145_algorithm.h"

#include <spawn.h>
#include <sys/wait.h>

#include <cstring>

using namespace dstue2e;

extern char** environ;

namespace {

// What one signature command carries at most: 1300 data bytes less the command head, the
// session (34 bytes), the key slot and the data's two-byte length.
constexpr size_t kMaxRawSignData = 1263;

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

    std::vector<CK_MECHANISM_TYPE> agreements = {CKM_DSTUDH_COFACTOR_DERIVE};
    CK_MECHANISM_INFO info{};
    const CK_RV plainOffered = p11->C_GetMechanismInfo(0, CKM_DSTUDH_DERIVE, &info);
    if (plainOffered == CKR_OK) agreements.push_back(CKM_DSTUDH_DERIVE);
    EXPECT_TRUE(plainOffered == CKR_OK || plainOffered == CKR_MECHANISM_INVALID) << plainOffered;

    Bytes ukm(64);
    for (size_t i = 0; i < ukm.size(); ++i) ukm[i] = static_cast<uint8_t>(i * 7 + 1);
    for (CK_MECHANISM_TYPE agreement : agreements) {
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
    }
    if (plainOffered != CKR_OK) {
        CK_ECDH1_DERIVE_PARAMS params{CKD_GOST34311_KDF, 0, nullptr, bobPoint.size(), bobPoint.data()};
        CK_MECHANISM plain{CKM_DSTUDH_DERIVE, &params, sizeof params};
        CK_OBJECT_HANDLE key = CK_INVALID_HANDLE;
        EXPECT_EQ(p11->C_DeriveKey(session, &plain, alice.privateKey, nullptr, 0, &key), CKR_MECHANISM_INVALID);
    }
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
    for (bool reloaded : {false, true}) {
        if (reloaded) Reload();
        if (HasFatalFailure()) return;
        for (const auto& f : flags) {
            EXPECT_EQ(Flag(FindKey(f.objectClass, label), f.flag), f.expected)
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
}

TEST_F(DstuE2eTest, KeyGeneratedInAnotherProcessSignsHere)
{
    const Bytes params = CurveParams(kCurves[1]);
    const std::string label = "other-process";
    // This process already runs with the library initialised and logged in.
    std::vector<std::string> arguments = {ZR_E2E_KEYGEN, ZR_REAL_MODULE, kUserPin, label, ToHex(params)};
    std::vector<char*> argv;
    for (std::string& argument : arguments) argv.push_back(&argument[0]);
    argv.push_back(nullptr);
    pid_t child = -1;
    ASSERT_EQ(posix_spawn(&child, argv[0], nullptr, nullptr, argv.data(), environ), 0);
    int status = 0;
    ASSERT_EQ(waitpid(child, &status, 0), child);
    ASSERT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << "key generation in the other process failed";

    const CK_OBJECT_HANDLE privateKey = FindKey(CKO_PRIVATE_KEY, label);
    const CK_OBJECT_HANDLE publicKey = FindKey(CKO_PUBLIC_KEY, label);
    ASSERT_NE(privateKey, CK_INVALID_HANDLE);
    ASSERT_NE(publicKey, CK_INVALID_HANDLE);
    const Bytes document = {'t', 'w', 'o'};
    const Bytes signature = Sign(CKM_GOST34311_DSTU4145, privateKey, document);
    EXPECT_EQ(signature.size(), 48u);
    EXPECT_EQ(Verify(CKM_GOST34311_DSTU4145, publicKey, document, signature), CKR_OK);
}
