// ECDSA keys, signing and key-pair generation on the simulated token through the Cryptoki
// functions; signatures are checked by OpenSSL from the public point read back.
#include "ecdsa_fixture.h"
#include "keygen_process.h"

#include <openssl/evp.h>

using namespace ecdsatest;

namespace {

Bytes Digest(const char* name, const std::string& text)
{
    Bytes out(EVP_MAX_MD_SIZE);
    unsigned int length = 0;
    EVP_Digest(text.data(), text.size(), out.data(), &length, EVP_get_digestbyname(name), nullptr);
    out.resize(length);
    return out;
}

CK_ATTRIBUTE Bool(CK_ATTRIBUTE_TYPE type, const CK_BBOOL& value)
{
    return {type, const_cast<CK_BBOOL*>(&value), sizeof value};
}

const CK_BBOOL kTrue = CK_TRUE;
const CK_BBOOL kFalse = CK_FALSE;

class EcdsaOnDevice : public EcdsaLibraryTest, public ::testing::WithParamInterface<Curve> {
protected:
    librarytest::FrozenCacheClock clock_;  // the signature's command count
};

TEST_P(EcdsaOnDevice, GeneratedPairSignsWithOneCommandAndOpenSslAgrees)
{
    const Curve& curve = GetParam();
    KeyPair pair;
    ASSERT_EQ(Generate(curve.oid, pair), CKR_OK);

    const Bytes point = Attribute(pair.publicKey, CKA_EC_POINT);
    ASSERT_EQ(point.size(), curve.pointHeader.size() + 1 + 2 * curve.fieldBytes);
    EXPECT_EQ(Bytes(point.begin(), point.begin() + curve.pointHeader.size()), curve.pointHeader);
    EXPECT_EQ(point[curve.pointHeader.size()], 0x04);
    EXPECT_EQ(Attribute(pair.privateKey, CKA_EC_PARAMS), curve.oid);
    for (CK_OBJECT_HANDLE key : {pair.publicKey, pair.privateKey}) {
        EXPECT_TRUE(Flag(key, CKA_LOCAL));
        const Bytes mechanism = Attribute(key, CKA_KEY_GEN_MECHANISM);
        ASSERT_EQ(mechanism.size(), sizeof(CK_MECHANISM_TYPE));
        EXPECT_EQ(*reinterpret_cast<const CK_MECHANISM_TYPE*>(mechanism.data()), CKM_EC_KEY_PAIR_GEN);
    }
    EXPECT_EQ(Attribute(pair.publicKey, CKA_ZR_KEY_GENERATION_DATE),
              Attribute(pair.privateKey, CKA_ZR_KEY_GENERATION_DATE));
    EXPECT_TRUE(Flag(pair.privateKey, CKA_SENSITIVE));
    EXPECT_TRUE(Flag(pair.privateKey, CKA_ALWAYS_SENSITIVE));
    EXPECT_FALSE(Flag(pair.privateKey, CKA_EXTRACTABLE));

    const Bytes digest = Digest("SHA256", "ecdsa on the token");
    CK_MECHANISM mechanism{CKM_ECDSA, nullptr, 0};
    ASSERT_EQ(p11->C_SignInit(session, &mechanism, pair.privateKey), CKR_OK);
    CK_ULONG length = 0;
    rig->Control(0).ResetCounters();
    ASSERT_EQ(p11->C_Sign(session, const_cast<uint8_t*>(digest.data()), digest.size(), nullptr, &length), CKR_OK);
    EXPECT_EQ(length, 2 * curve.fieldBytes);
    EXPECT_EQ(Commands(), 0u) << "a length query asks nothing of the token";
    Bytes signature(length);
    ASSERT_EQ(p11->C_Sign(session, const_cast<uint8_t*>(digest.data()), digest.size(), signature.data(), &length),
              CKR_OK);
    EXPECT_EQ(Commands(), 2u) << "the token data revision read and one signature command per C_Sign";
    EXPECT_EQ(length, 2 * curve.fieldBytes) << "r and s are each as long as the curve";
    EXPECT_TRUE(OpenSslVerifies(curve, pair.publicKey, digest, signature));

    Bytes second;
    ASSERT_EQ(Sign(CKM_ECDSA, pair.privateKey, digest, second), CKR_OK);
    EXPECT_NE(second, signature);
    EXPECT_EQ(Verify(CKM_ECDSA, pair.publicKey, digest, signature), CKR_OK);
    EXPECT_EQ(Verify(CKM_ECDSA, pair.publicKey, digest, second), CKR_OK);

    Bytes changed = signature;
    changed[changed.size() / 3] ^= 0x01;
    EXPECT_EQ(Verify(CKM_ECDSA, pair.publicKey, digest, changed), CKR_SIGNATURE_INVALID);
    Bytes otherDigest = digest;
    otherDigest[0] ^= 0x80;
    EXPECT_EQ(Verify(CKM_ECDSA, pair.publicKey, otherDigest, signature), CKR_SIGNATURE_INVALID);
    // A signature of another length than the curve's is refused before the token is asked.
    for (const Bytes& wrong : {Bytes(signature.begin(), signature.end() - 1), Bytes(signature.size() + 1, 0x01),
                               Bytes(signature.begin() + 1, signature.end() - 1), Bytes(signature.size() + 2, 0x01)}) {
        SCOPED_TRACE(wrong.size());
        ASSERT_EQ(p11->C_VerifyInit(session, &mechanism, pair.publicKey), CKR_OK);
        const uint64_t before = Commands();
        EXPECT_EQ(p11->C_Verify(session, const_cast<uint8_t*>(digest.data()), digest.size(),
                                const_cast<uint8_t*>(wrong.data()), wrong.size()),
                  CKR_SIGNATURE_LEN_RANGE);
        EXPECT_EQ(Commands(), before);
    }

    // A value longer than the order is cut to the order's length by the token, as OpenSSL does.
    const Bytes longDigest = Digest("SHA512", "longer than the order");
    ASSERT_EQ(Sign(CKM_ECDSA, pair.privateKey, longDigest, signature), CKR_OK);
    EXPECT_TRUE(OpenSslVerifies(curve, pair.publicKey, longDigest, signature));
    EXPECT_EQ(Verify(CKM_ECDSA, pair.publicKey, longDigest, signature), CKR_OK);

    EXPECT_EQ(Sign(CKM_ECDSA, pair.privateKey, Bytes(128, 0x5A), signature), CKR_OK);
    EXPECT_EQ(Sign(CKM_ECDSA, pair.privateKey, Bytes(129, 0x5A), signature), CKR_DATA_LEN_RANGE);

    // A damaged answer to the signature command is an error, never a signature.
    for (const char* kind : {"empty-output", "truncated"}) {
        rig->Control(0).Malformed(kind, 1, "Sign");
        EXPECT_NE(Sign(CKM_ECDSA, pair.privateKey, digest, signature), CKR_OK) << kind;
        rig->Control(0).ClearFaults();
    }
    ASSERT_EQ(Sign(CKM_ECDSA, pair.privateKey, digest, signature), CKR_OK);
    EXPECT_TRUE(OpenSslVerifies(curve, pair.publicKey, digest, signature));
}

INSTANTIATE_TEST_SUITE_P(DeviceCurves, EcdsaOnDevice, ::testing::ValuesIn(DeviceCurves()),
                         [](const ::testing::TestParamInfo<Curve>& info) { return std::string(info.param.name); });

using EcdsaKeys = EcdsaLibraryTest;

TEST_F(EcdsaKeys, RefusedPairRequestsLeaveNothingOnTheToken)
{
    const CK_OBJECT_CLASS privateClass = CKO_PRIVATE_KEY;
    const CK_OBJECT_CLASS publicClass = CKO_PUBLIC_KEY;
    const Bytes p256 = DeviceCurves()[1].oid;
    const struct {
        const char* name;
        Bytes params;
        std::vector<CK_ATTRIBUTE> pub;
        std::vector<CK_ATTRIBUTE> priv;
        CK_RV expected;
    } rows[] = {
        {"no curve", {}, {}, {}, CKR_TEMPLATE_INCOMPLETE},
        {"curve only in the private template", {}, {}, {{CKA_EC_PARAMS, const_cast<uint8_t*>(p256.data()), p256.size()}},
         CKR_TEMPLATE_INCOMPLETE},
        {"curve the device lacks", kSecp384r1, {}, {}, CKR_ATTRIBUTE_VALUE_INVALID},
        {"private class in the public template", p256,
         {{CKA_CLASS, const_cast<CK_OBJECT_CLASS*>(&privateClass), sizeof privateClass}}, {}, CKR_TEMPLATE_INCONSISTENT},
        {"public class in the private template", p256, {},
         {{CKA_CLASS, const_cast<CK_OBJECT_CLASS*>(&publicClass), sizeof publicClass}}, CKR_ATTRIBUTE_VALUE_INVALID},
        {"session private key", p256, {}, {Bool(CKA_TOKEN, kFalse)}, CKR_ATTRIBUTE_VALUE_INVALID},
        {"private public key", p256, {Bool(CKA_PRIVATE, kTrue)}, {}, CKR_ATTRIBUTE_VALUE_INVALID},
    };
    rig->Control(0).ResetCounters();
    for (const auto& row : rows) {
        SCOPED_TRACE(row.name);
        KeyPair pair;
        EXPECT_EQ(Generate(row.params, pair, row.pub, row.priv), row.expected);
    }
    const auto counters = rig->Control(0).Counters();
    EXPECT_EQ(counters.count("GenerateKey") ? counters.at("GenerateKey") : 0u, 0u);
    EXPECT_EQ(counters.count("CreateFile") ? counters.at("CreateFile") : 0u, 0u);
}

TEST_F(EcdsaKeys, MechanismsOfferTheCurveSizesAndUncompressedPointsOnly)
{
    for (CK_MECHANISM_TYPE type : {CKM_EC_KEY_PAIR_GEN, CKM_ECDSA, CKM_ECDSA_SHA1, CKM_ECDSA_SHA224, CKM_ECDSA_SHA256,
                                   CKM_ECDSA_SHA384, CKM_ECDSA_SHA512}) {
        SCOPED_TRACE(type);
        CK_MECHANISM_INFO info{};
        ASSERT_EQ(p11->C_GetMechanismInfo(0, type, &info), CKR_OK);
        EXPECT_EQ(info.ulMinKeySize, 192u);
        EXPECT_EQ(info.ulMaxKeySize, 521u);
        EXPECT_NE(info.flags & CKF_HW, 0u);
        EXPECT_NE(info.flags & CKF_EC_UNCOMPRESS, 0u);
        EXPECT_EQ(info.flags & CKF_EC_COMPRESS, 0u);
    }
}

TEST_F(EcdsaKeys, CreatedKeysFollowTheDeviceModel)
{
    const Curve& curve = DeviceCurves()[1];
    KeyPair pair;
    ASSERT_EQ(Generate(curve.oid, pair), CKR_OK);
    Bytes point = Attribute(pair.publicKey, CKA_EC_POINT);

    const CK_OBJECT_CLASS publicClass = CKO_PUBLIC_KEY;
    const CK_OBJECT_CLASS privateClass = CKO_PRIVATE_KEY;
    const CK_KEY_TYPE ec = CKK_EC;
    auto publicTemplate = [&](const Bytes& params, const Bytes& ecPoint) {
        return std::vector<CK_ATTRIBUTE>{{CKA_CLASS, const_cast<CK_OBJECT_CLASS*>(&publicClass), sizeof publicClass},
                                         {CKA_KEY_TYPE, const_cast<CK_KEY_TYPE*>(&ec), sizeof ec},
                                         {CKA_EC_PARAMS, const_cast<uint8_t*>(params.data()), params.size()},
                                         {CKA_EC_POINT, const_cast<uint8_t*>(ecPoint.data()), ecPoint.size()}};
    };
    CK_OBJECT_HANDLE created = CK_INVALID_HANDLE;
    std::vector<CK_ATTRIBUTE> good = publicTemplate(curve.oid, point);
    ASSERT_EQ(p11->C_CreateObject(session, good.data(), good.size(), &created), CKR_OK);
    const Bytes digest = Digest("SHA256", "created key");
    Bytes signature;
    ASSERT_EQ(Sign(CKM_ECDSA, pair.privateKey, digest, signature), CKR_OK);
    EXPECT_EQ(Verify(CKM_ECDSA, created, digest, signature), CKR_OK);

    Bytes offCurve = point;
    offCurve.back() ^= 0x01;
    std::vector<CK_ATTRIBUTE> bad = publicTemplate(curve.oid, offCurve);
    EXPECT_EQ(p11->C_CreateObject(session, bad.data(), bad.size(), &created), CKR_PUBLIC_KEY_INVALID);
    const Bytes malformed(point.begin(), point.end() - 1);
    bad = publicTemplate(curve.oid, malformed);
    EXPECT_EQ(p11->C_CreateObject(session, bad.data(), bad.size(), &created), CKR_ATTRIBUTE_VALUE_INVALID);

    // A curve the device cannot use is kept, and refused when the device is asked to verify.
    const Bytes p384Point = {0x04, 0x61, 0x04, 0xAA, 0x87, 0xCA, 0x22, 0xBE, 0x8B, 0x05, 0x37, 0x8E, 0xB1, 0xC7, 0x1E,
                             0xF3, 0x20, 0xAD, 0x74, 0x6E, 0x1D, 0x3B, 0x62, 0x8B, 0xA7, 0x9B, 0x98, 0x59, 0xF7, 0x41,
                             0xE0, 0x82, 0x54, 0x2A, 0x38, 0x55, 0x02, 0xF2, 0x5D, 0xBF, 0x55, 0x29, 0x6C, 0x3A, 0x54,
                             0x5E, 0x38, 0x72, 0x76, 0x0A, 0xB7, 0x36, 0x17, 0xDE, 0x4A, 0x96, 0x26, 0x2C, 0x6F, 0x5D,
                             0x9E, 0x98, 0xBF, 0x92, 0x92, 0xDC, 0x29, 0xF8, 0xF4, 0x1D, 0xBD, 0x28, 0x9A, 0x14, 0x7C,
                             0xE9, 0xDA, 0x31, 0x13, 0xB5, 0xF0, 0xB8, 0xC0, 0x0A, 0x60, 0xB1, 0xCE, 0x1D, 0x7E, 0x81,
                             0x9D, 0x7A, 0x43, 0x1D, 0x7C, 0x90, 0xEA, 0x0E, 0x5F};
    std::vector<CK_ATTRIBUTE> p384 = publicTemplate(kSecp384r1, p384Point);
    CK_OBJECT_HANDLE p384Key = CK_INVALID_HANDLE;
    ASSERT_EQ(p11->C_CreateObject(session, p384.data(), p384.size(), &p384Key), CKR_OK);
    EXPECT_EQ(Verify(CKM_ECDSA, p384Key, digest, Bytes(96, 1)), CKR_ATTRIBUTE_VALUE_INVALID);

    // A private key lives in a device key slot only when the token made it.
    const Bytes value(32, 0x42);
    std::vector<CK_ATTRIBUTE> privateTemplate = {
        {CKA_CLASS, const_cast<CK_OBJECT_CLASS*>(&privateClass), sizeof privateClass},
        {CKA_KEY_TYPE, const_cast<CK_KEY_TYPE*>(&ec), sizeof ec},
        {CKA_EC_PARAMS, const_cast<uint8_t*>(curve.oid.data()), curve.oid.size()},
        {CKA_VALUE, const_cast<uint8_t*>(value.data()), value.size()}};
    EXPECT_EQ(p11->C_CreateObject(session, privateTemplate.data(), privateTemplate.size(), &created),
              CKR_TEMPLATE_INCONSISTENT);
}

TEST_F(EcdsaKeys, KeysKeepTheirAttributesAcrossAReload)
{
    const Curve& curve = DeviceCurves()[0];
    const char label[] = "ec reload";
    KeyPair pair;
    ASSERT_EQ(Generate(curve.oid, pair, {{CKA_LABEL, const_cast<char*>(label), sizeof label - 1}},
                       {{CKA_LABEL, const_cast<char*>(label), sizeof label - 1}, Bool(CKA_SIGN, kTrue), Bool(CKA_DERIVE, kFalse),
                        Bool(CKA_WRAP_WITH_TRUSTED, kFalse)}),
              CKR_OK);
    const Bytes point = Attribute(pair.publicKey, CKA_EC_POINT);
    Reload();

    const CK_OBJECT_HANDLE found[2] = {FindKey(CKO_PRIVATE_KEY, label), FindKey(CKO_PUBLIC_KEY, label)};
    ASSERT_NE(found[0], CK_INVALID_HANDLE);
    ASSERT_NE(found[1], CK_INVALID_HANDLE);
    EXPECT_EQ(Attribute(found[1], CKA_EC_POINT), point);
    EXPECT_FALSE(Flag(found[0], CKA_DERIVE)) << "stored false reads back false";
    EXPECT_FALSE(Flag(found[0], CKA_WRAP_WITH_TRUSTED));
    EXPECT_TRUE(Flag(found[0], CKA_SIGN));
    EXPECT_TRUE(Flag(found[0], CKA_NEVER_EXTRACTABLE));
    EXPECT_TRUE(Flag(found[0], CKA_LOCAL));

    const Bytes digest = Digest("SHA1", "after reload");
    Bytes signature;
    ASSERT_EQ(Sign(CKM_ECDSA, found[0], digest, signature), CKR_OK);
    EXPECT_TRUE(OpenSslVerifies(curve, found[1], digest, signature));
    EXPECT_EQ(Verify(CKM_ECDSA, found[1], digest, signature), CKR_OK);

    const std::string message = "hashed by the library after reload";
    const Bytes data(message.begin(), message.end());
    ASSERT_EQ(Sign(CKM_ECDSA_SHA256, found[0], data, signature), CKR_OK);
    EXPECT_TRUE(OpenSslVerifies(curve, found[1], Digest("SHA256", message), signature));
    EXPECT_EQ(Verify(CKM_ECDSA_SHA256, found[1], data, signature), CKR_OK);
}

// A second application makes the key pair and has ended before this process starts the library.
class EcdsaKeyOfAnotherProcess : public EcdsaLibraryTest {
protected:
    void SetUp() override { StartRig(); }
};

TEST_F(EcdsaKeyOfAnotherProcess, SignsHereAndOpenSslAgrees)
{
    const Curve& curve = DeviceCurves()[1];
    const std::string label = "made by another process";
    ASSERT_TRUE(librarytest::GenerateInAnotherProcess(CKM_EC_KEY_PAIR_GEN, label, curve.oid));

    LoadModule();
    if (HasFatalFailure()) return;
    ASSERT_EQ(Initialize(nullptr), CKR_OK);
    OpenUserSession();
    const CK_OBJECT_HANDLE privateKey = FindKey(CKO_PRIVATE_KEY, label);
    const CK_OBJECT_HANDLE publicKey = FindKey(CKO_PUBLIC_KEY, label);
    ASSERT_NE(privateKey, CK_INVALID_HANDLE);
    ASSERT_NE(publicKey, CK_INVALID_HANDLE);
    EXPECT_EQ(Attribute(privateKey, CKA_EC_PARAMS), curve.oid);
    EXPECT_TRUE(Flag(privateKey, CKA_TOKEN));
    EXPECT_TRUE(Flag(publicKey, CKA_TOKEN));

    const std::string message = "signed in the second process";
    const Bytes data(message.begin(), message.end());
    Bytes signature;
    ASSERT_EQ(Sign(CKM_ECDSA_SHA256, privateKey, data, signature), CKR_OK);
    ASSERT_EQ(signature.size(), 2 * curve.fieldBytes);
    const Bytes digest = Digest("SHA256", message);
    EXPECT_TRUE(OpenSslVerifies(curve, publicKey, digest, signature));
    Bytes changed = signature;
    changed[changed.size() - 1] ^= 0x01;
    EXPECT_FALSE(OpenSslVerifies(curve, publicKey, digest, changed));
}

// The model without device ECDSA keeps EC keys, the private value in a data file, and offers no
// EC mechanism.
class EcdsaLiteModel : public EcdsaLibraryTest {
protected:
    void SetUp() override { StartToken({"--model", "lite"}); }
};

TEST_F(EcdsaLiteModel, KeepsHostHeldKeysAndOffersNoEcMechanism)
{
    CK_ULONG count = 0;
    ASSERT_EQ(p11->C_GetMechanismList(0, nullptr, &count), CKR_OK);
    std::vector<CK_MECHANISM_TYPE> types(count);
    ASSERT_EQ(p11->C_GetMechanismList(0, types.data(), &count), CKR_OK);
    for (CK_MECHANISM_TYPE type : types) EXPECT_TRUE(type < CKM_EC_KEY_PAIR_GEN || type > CKM_ECDSA_SHA512) << type;

    const CK_OBJECT_CLASS privateClass = CKO_PRIVATE_KEY;
    const CK_KEY_TYPE ec = CKK_EC;
    const Bytes params = DeviceCurves()[1].oid;
    const Bytes value(32, 0x42);
    const char label[] = "kept";
    std::vector<CK_ATTRIBUTE> privateTemplate = {
        {CKA_CLASS, const_cast<CK_OBJECT_CLASS*>(&privateClass), sizeof privateClass},
        {CKA_KEY_TYPE, const_cast<CK_KEY_TYPE*>(&ec), sizeof ec},
        {CKA_EC_PARAMS, const_cast<uint8_t*>(params.data()), params.size()},
        {CKA_VALUE, const_cast<uint8_t*>(value.data()), value.size()},
        {CKA_LABEL, const_cast<char*>(label), sizeof label - 1},
        Bool(CKA_SENSITIVE, kFalse),
        Bool(CKA_EXTRACTABLE, kTrue)};
    CK_OBJECT_HANDLE created = CK_INVALID_HANDLE;
    ASSERT_EQ(p11->C_CreateObject(session, privateTemplate.data(), privateTemplate.size(), &created), CKR_OK);
    EXPECT_EQ(Attribute(created, CKA_VALUE), value);

    std::vector<CK_ATTRIBUTE> notPrivate = privateTemplate;
    notPrivate.push_back(Bool(CKA_PRIVATE, kFalse));
    EXPECT_EQ(p11->C_CreateObject(session, notPrivate.data(), notPrivate.size(), &created), CKR_ATTRIBUTE_VALUE_INVALID);

    Reload();
    CK_ATTRIBUTE search[] = {{CKA_LABEL, const_cast<char*>(label), sizeof label - 1}};
    CK_OBJECT_HANDLE found = CK_INVALID_HANDLE;
    ASSERT_EQ(p11->C_FindObjectsInit(session, search, 1), CKR_OK);
    ASSERT_EQ(p11->C_FindObjects(session, &found, 1, &count), CKR_OK);
    ASSERT_EQ(p11->C_FindObjectsFinal(session), CKR_OK);
    ASSERT_EQ(count, 1u);
    EXPECT_EQ(Attribute(found, CKA_EC_PARAMS), params);
    EXPECT_FALSE(Flag(found, CKA_SENSITIVE)) << "stored false reads back false";
    EXPECT_EQ(Attribute(found, CKA_VALUE), value) << "read from the key's data file";
}

} // namespace
