// CKM_ECDSA_SHA1 to CKM_ECDSA_SHA512 on the simulated token: the library hashes, the token signs
// the digest; OpenSSL checks every signature from the point read back.
#include "ecdsa_fixture.h"

#include <openssl/evp.h>

using namespace ecdsatest;

namespace {

using tokensim::crypto::testing::Digest;

struct ShaMechanism {
    CK_MECHANISM_TYPE type;
    const char* digest;  // OpenSSL's name
};

const ShaMechanism kShaMechanisms[] = {
    {CKM_ECDSA_SHA1, "SHA1"},     {CKM_ECDSA_SHA224, "SHA224"}, {CKM_ECDSA_SHA256, "SHA256"},
    {CKM_ECDSA_SHA384, "SHA384"}, {CKM_ECDSA_SHA512, "SHA512"},
};

Bytes Part(const Bytes& data, size_t from, size_t to) { return Bytes(data.begin() + from, data.begin() + to); }

class EcdsaWithSha : public EcdsaLibraryTest, public ::testing::WithParamInterface<Curve> {
protected:
    librarytest::FrozenCacheClock clock_;  // the signatures' command counts

    CK_RV SignInParts(CK_MECHANISM_TYPE type, CK_OBJECT_HANDLE key, const std::vector<Bytes>& parts, Bytes& signature)
    {
        CK_MECHANISM mechanism{type, nullptr, 0};
        CK_RV rv = p11->C_SignInit(session, &mechanism, key);
        for (const Bytes& part : parts) {
            if (rv == CKR_OK) rv = p11->C_SignUpdate(session, const_cast<uint8_t*>(part.data()), part.size());
        }
        if (rv != CKR_OK) return rv;
        CK_ULONG length = 0;
        rig->Control(0).ResetCounters();
        rv = p11->C_SignFinal(session, nullptr, &length);
        if (rv != CKR_OK) return rv;
        EXPECT_EQ(length, signature.size()) << "the length query answers the curve's signature size";
        CK_ULONG shortLength = length - 1;
        EXPECT_EQ(p11->C_SignFinal(session, signature.data(), &shortLength), CKR_BUFFER_TOO_SMALL);
        EXPECT_EQ(shortLength, length);
        EXPECT_EQ(Commands(), 0u) << "neither the query nor the short buffer reaches the token";
        return p11->C_SignFinal(session, signature.data(), &length);
    }

    CK_RV VerifyInParts(CK_MECHANISM_TYPE type, CK_OBJECT_HANDLE key, const std::vector<Bytes>& parts,
                        const Bytes& signature)
    {
        CK_MECHANISM mechanism{type, nullptr, 0};
        CK_RV rv = p11->C_VerifyInit(session, &mechanism, key);
        for (const Bytes& part : parts) {
            if (rv == CKR_OK) rv = p11->C_VerifyUpdate(session, const_cast<uint8_t*>(part.data()), part.size());
        }
        if (rv != CKR_OK) return rv;
        return p11->C_VerifyFinal(session, const_cast<uint8_t*>(signature.data()), signature.size());
    }
};

TEST_P(EcdsaWithSha, EachSizeSignsInOneOrManyPartsWithOneCommandAndOpenSslAgrees)
{
    const Curve& curve = GetParam();
    KeyPair pair;
    ASSERT_EQ(Generate(curve.oid, pair), CKR_OK);
    // Longer than CKM_ECDSA's 128-byte limit: the mechanisms take messages of any length.
    Bytes message(1000);
    for (size_t i = 0; i < message.size(); ++i) message[i] = static_cast<uint8_t>(i * 7);
    const std::vector<Bytes> parts = {Part(message, 0, 1), Part(message, 1, 600), Part(message, 600, 1000)};

    for (const ShaMechanism& sha : kShaMechanisms) {
        SCOPED_TRACE(sha.digest);
        const Bytes digest = Digest(sha.digest, message);

        Bytes onePart;
        CK_MECHANISM mechanism{sha.type, nullptr, 0};
        ASSERT_EQ(p11->C_SignInit(session, &mechanism, pair.privateKey), CKR_OK);
        CK_ULONG length = 0;
        ASSERT_EQ(p11->C_Sign(session, message.data(), message.size(), nullptr, &length), CKR_OK);
        ASSERT_EQ(length, 2 * curve.fieldBytes);
        onePart.assign(length, 0);
        rig->Control(0).ResetCounters();
        ASSERT_EQ(p11->C_Sign(session, message.data(), message.size(), onePart.data(), &length), CKR_OK);
        EXPECT_EQ(Commands(), 2u) << "the token data revision read and one signature command per C_Sign";
        EXPECT_TRUE(OpenSslVerifies(curve, pair.publicKey, digest, onePart));

        Bytes multiPart(2 * curve.fieldBytes);
        ASSERT_EQ(SignInParts(sha.type, pair.privateKey, parts, multiPart), CKR_OK);
        EXPECT_TRUE(OpenSslVerifies(curve, pair.publicKey, digest, multiPart));
        EXPECT_NE(multiPart, onePart) << "each signature draws its own nonce";

        EXPECT_EQ(Verify(sha.type, pair.publicKey, message, multiPart), CKR_OK);
        EXPECT_EQ(VerifyInParts(sha.type, pair.publicKey, parts, onePart), CKR_OK);

        Bytes changed = onePart;
        changed[changed.size() - 5] ^= 0x20;
        Bytes otherMessage = message;
        otherMessage[999] ^= 0x01;
        const struct {
            const char* name;
            const Bytes& data;
            Bytes signature;
            CK_RV expected;
        } refusals[] = {
            {"changed byte", message, changed, CKR_SIGNATURE_INVALID},
            {"other message", otherMessage, onePart, CKR_SIGNATURE_INVALID},
            {"one byte short", message, Part(onePart, 0, onePart.size() - 1), CKR_SIGNATURE_LEN_RANGE},
            {"one byte long", message, Bytes(onePart.size() + 1, 0x01), CKR_SIGNATURE_LEN_RANGE},
            {"two bytes short", message, Part(onePart, 1, onePart.size() - 1), CKR_SIGNATURE_LEN_RANGE},
            {"two bytes long", message, Bytes(onePart.size() + 2, 0x01), CKR_SIGNATURE_LEN_RANGE},
        };
        for (const auto& row : refusals) {
            SCOPED_TRACE(row.name);
            ASSERT_EQ(p11->C_VerifyInit(session, &mechanism, pair.publicKey), CKR_OK);
            const uint64_t before = Commands();
            EXPECT_EQ(p11->C_Verify(session, const_cast<uint8_t*>(row.data.data()), row.data.size(),
                                    const_cast<uint8_t*>(row.signature.data()), row.signature.size()),
                      row.expected);
            if (row.expected == CKR_SIGNATURE_LEN_RANGE) {
                EXPECT_EQ(Commands(), before) << "refused on the host";
            }
        }
        EXPECT_EQ(VerifyInParts(sha.type, pair.publicKey, parts, Part(onePart, 0, onePart.size() - 1)),
                  CKR_SIGNATURE_LEN_RANGE);
    }
}

INSTANTIATE_TEST_SUITE_P(DeviceCurves, EcdsaWithSha, ::testing::ValuesIn(DeviceCurves()),
                         [](const ::testing::TestParamInfo<Curve>& info) { return std::string(info.param.name); });

using EcdsaShaOperations = EcdsaWithSha;

TEST_F(EcdsaShaOperations, RefusesEmptyDataAndUnsaveableState)
{
    KeyPair pair;
    ASSERT_EQ(Generate(DeviceCurves()[1].oid, pair), CKR_OK);
    CK_MECHANISM mechanism{CKM_ECDSA_SHA256, nullptr, 0};
    ASSERT_EQ(p11->C_SignInit(session, &mechanism, pair.privateKey), CKR_OK);
    uint8_t byte = 0x61;
    ASSERT_EQ(p11->C_SignUpdate(session, &byte, 1), CKR_OK);
    CK_ULONG stateLength = 0;
    EXPECT_EQ(p11->C_GetOperationState(session, nullptr, &stateLength), CKR_STATE_UNSAVEABLE);
    Bytes signature(64);
    CK_ULONG length = signature.size();
    ASSERT_EQ(p11->C_SignFinal(session, signature.data(), &length), CKR_OK);
    EXPECT_TRUE(OpenSslVerifies(DeviceCurves()[1], pair.publicKey, Digest("SHA256", {byte}), signature));

    ASSERT_EQ(p11->C_SignInit(session, &mechanism, pair.privateKey), CKR_OK);
    EXPECT_EQ(p11->C_SignFinal(session, signature.data(), &length), CKR_DATA_LEN_RANGE)
        << "a final call needs a part before it";
    ASSERT_EQ(p11->C_VerifyInit(session, &mechanism, pair.publicKey), CKR_OK);
    EXPECT_EQ(p11->C_Verify(session, &byte, 0, signature.data(), signature.size()), CKR_DATA_LEN_RANGE);
}

} // namespace
