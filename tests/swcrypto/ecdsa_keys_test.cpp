// The host's EC key classes, through small concrete subclasses that add the storage side.
#include <gtest/gtest.h>

#include <cstring>
#include <functional>
#include <sstream>
#include <string>

#include "objects/class_fakes.h"
#include "support/safe_buffer.h"
#include "swcrypto/ecdsa_keys.h"
#include "swcrypto_test_util.h"

namespace {

using swtest::CodeOf;
using swtest::FromHex;
using swtest::Hex;

class HostPrivateKey : public zrtest::FakeStorage<mbt::TokECDsaPrivateKey> {
public:
    tru::Buffer GetAllowedMechanisms() const override { return tru::Buffer(); }
    bool IsMechanismAllowed(CK_MECHANISM_TYPE) const override { return true; }
    void AddDefaultUsageAttributes() override { ++usageDefaultsAdded; }
    void AddDefaultSensitiveAttributes() override { ++sensitiveDefaultsAdded; }
    void AddGeneratedSensitiveAttributes(const zrck::MechanismSession&) override {}
};

class HostPublicKey : public zrtest::FakeStorage<mbt::TokECDsaPublicKey> {
public:
    tru::Buffer GetAllowedMechanisms() const override { return tru::Buffer(); }
    bool IsMechanismAllowed(CK_MECHANISM_TYPE) const override { return true; }
};

std::string Bytes(const void* data, size_t size) { return std::string(static_cast<const char*>(data), size); }

// A P-256 point in CKA_EC_POINT form.
const char kPoint[] =
    "044104"
    "6B17D1F2E12C4247F8BCE6E563A440F277037D812DEB33A0F4A13945D898C296"
    "4FE342E2FE1A7F9B8EE7EB4A7C0F9E162BCE33576B315ECECBB6406837BF51F5";

TEST(HostEcKeys, StartEmptyFalseAndBlank)
{
    HostPrivateKey privateKey;
    HostPublicKey publicKey;
    const struct {
        const char* name;
        std::function<CK_BBOOL()> flag;
    } flags[] = {
        {"private derive", [&] { return privateKey.GetCouldDerive(); }},
        {"private local", [&] { return privateKey.GetLocal(); }},
        {"sensitive", [&] { return privateKey.GetIsSensitive(); }},
        {"decrypt", [&] { return privateKey.GetCouldDecrypt(); }},
        {"sign", [&] { return privateKey.GetCouldSign(); }},
        {"sign recover", [&] { return privateKey.GetCouldSignRecover(); }},
        {"unwrap", [&] { return privateKey.GetCouldUnwrap(); }},
        {"extractable", [&] { return privateKey.GetIsExtractable(); }},
        {"always sensitive", [&] { return privateKey.GetIsAlwaysSensitive(); }},
        {"never extractable", [&] { return privateKey.GetIsNeverExtractable(); }},
        {"unwrap with trusted", [&] { return privateKey.GetCouldUnwrapOnlyWithTrusted(); }},
        {"always authenticate", [&] { return privateKey.GetNeedAlwaysAuthenticate(); }},
        {"public derive", [&] { return publicKey.GetCouldDerive(); }},
        {"public local", [&] { return publicKey.GetLocal(); }},
        {"encrypt", [&] { return publicKey.GetCouldEncrypt(); }},
        {"verify", [&] { return publicKey.GetCouldVerify(); }},
        {"verify recover", [&] { return publicKey.GetCouldVerifyRecover(); }},
        {"wrap", [&] { return publicKey.GetCouldWrap(); }},
        {"trusted", [&] { return publicKey.GetIsTrusted(); }},
    };
    for (const auto& f : flags) EXPECT_EQ(f.flag(), CK_FALSE) << f.name;

    const struct {
        const char* name;
        const tru::Buffer& value;
    } buffers[] = {
        {"value", privateKey.GetValue()},          {"private params", privateKey.GetECParams()},
        {"private ID", privateKey.GetKeyID()},     {"private subject", privateKey.GetSubject()},
        {"point", publicKey.GetECPoint()},         {"public params", publicKey.GetECParams()},
        {"public ID", publicKey.GetKeyID()},       {"public subject", publicKey.GetSubject()},
    };
    for (const auto& b : buffers) EXPECT_TRUE(b.value.Empty()) << b.name;

    for (const zrck::TokKey* key : {static_cast<const zrck::TokKey*>(&privateKey),
                                    static_cast<const zrck::TokKey*>(&publicKey)}) {
        EXPECT_EQ(key->GetKeyGenMechanism(), 0u);
        const CK_DATE start = key->GetStartDate();
        const CK_DATE end = key->GetEndDate();
        EXPECT_EQ(Bytes(&start, sizeof start), std::string(8, ' '));
        EXPECT_EQ(Bytes(&end, sizeof end), std::string(8, ' '));
        ASSERT_NE(key->GetGenerationDate(), nullptr);
        EXPECT_EQ(Bytes(key->GetGenerationDate(), sizeof(CK_ZR_DATETIME)), std::string(14, ' '));
    }
}

TEST(HostEcKeys, PrivateKeySettersKeepTheSensitivityRules)
{
    const struct {
        const char* name;
        std::function<void(HostPrivateKey&)> before;
        std::function<void(HostPrivateKey&)> call;
        CK_RV expected;
        std::function<CK_BBOOL(const HostPrivateKey&)> read;
        CK_BBOOL after;
    } cases[] = {
        {"sensitive cannot be cleared", [](HostPrivateKey& k) { k.SetIsSensitive(CK_TRUE); },
         [](HostPrivateKey& k) { k.SetIsSensitive(CK_FALSE); }, CKR_ATTRIBUTE_READ_ONLY,
         [](const HostPrivateKey& k) { return k.GetIsSensitive(); }, CK_TRUE},
        {"not sensitive may stay so", [](HostPrivateKey&) {}, [](HostPrivateKey& k) { k.SetIsSensitive(CK_FALSE); },
         CKR_OK, [](const HostPrivateKey& k) { return k.GetIsSensitive(); }, CK_FALSE},
        {"always sensitive makes sensitive", [](HostPrivateKey&) {},
         [](HostPrivateKey& k) { k.SetIsAlwaysSensitive(CK_TRUE); }, CKR_OK,
         [](const HostPrivateKey& k) { return k.GetIsSensitive(); }, CK_TRUE},
        {"not always sensitive leaves sensitive", [](HostPrivateKey& k) { k.SetIsSensitive(CK_TRUE); },
         [](HostPrivateKey& k) { k.SetIsAlwaysSensitive(CK_FALSE); }, CKR_OK,
         [](const HostPrivateKey& k) { return k.GetIsSensitive(); }, CK_TRUE},
        {"unwrap with trusted false stays false", [](HostPrivateKey&) {},
         [](HostPrivateKey& k) { k.SetCouldUnwrapOnlyWithTrusted(CK_FALSE); }, CKR_OK,
         [](const HostPrivateKey& k) { return k.GetCouldUnwrapOnlyWithTrusted(); }, CK_FALSE},
        {"unwrap with trusted true", [](HostPrivateKey&) {},
         [](HostPrivateKey& k) { k.SetCouldUnwrapOnlyWithTrusted(CK_TRUE); }, CKR_OK,
         [](const HostPrivateKey& k) { return k.GetCouldUnwrapOnlyWithTrusted(); }, CK_TRUE},
        {"extractable may be cleared", [](HostPrivateKey& k) { k.SetIsExtractable(CK_TRUE); },
         [](HostPrivateKey& k) { k.SetIsExtractable(CK_FALSE); }, CKR_OK,
         [](const HostPrivateKey& k) { return k.GetIsExtractable(); }, CK_FALSE},
        {"sign recover", [](HostPrivateKey&) {}, [](HostPrivateKey& k) { k.SetCouldSignRecover(CK_TRUE); }, CKR_OK,
         [](const HostPrivateKey& k) { return k.GetCouldSignRecover(); }, CK_TRUE},
        {"always authenticate", [](HostPrivateKey&) {},
         [](HostPrivateKey& k) { k.SetNeedAlwaysAuthenticate(CK_TRUE); }, CKR_OK,
         [](const HostPrivateKey& k) { return k.GetNeedAlwaysAuthenticate(); }, CK_TRUE},
    };
    for (const auto& c : cases) {
        HostPrivateKey key;
        c.before(key);
        EXPECT_EQ(CodeOf([&] { c.call(key); }), c.expected) << c.name;
        EXPECT_EQ(c.read(key), c.after) << c.name;
    }
}

TEST(HostEcKeys, PrivateValueIsCopiedIntoAWipingBufferAndNeverWrapped)
{
    HostPrivateKey key;
    tru::BufferDynamic value = FromHex("0102030405060708090A0B0C0D0E0F10");
    key.SetValue(value);
    value.Data()[0] = 0xFF;
    EXPECT_EQ(Hex(key.GetValue()), "0102030405060708090A0B0C0D0E0F10");
    EXPECT_NE(dynamic_cast<const vdk::SafeBuffer*>(&key.GetValue()), nullptr);
    EXPECT_TRUE(key.GetValueToWrap().Empty());
}

TEST(HostEcKeys, PointIsTakenOnlyInItsDerForm)
{
    const tru::BufferDynamic good = FromHex(kPoint);
    const std::string bare = std::string(kPoint).substr(4);
    const struct {
        const char* name;
        std::string hex;
    } refused[] = {
        {"empty", ""},
        {"bare point", bare},
        {"bit string tag", "03" + std::string(kPoint).substr(2)},
        {"length one short", "0440" + bare},
        {"length one long", "0442" + bare},
        {"trailing byte", std::string(kPoint) + "00"},
        {"long form cut short", "0481"},
    };
    HostPublicKey key;
    key.SetECPoint(good);
    EXPECT_EQ(Hex(key.GetECPoint()), kPoint) << "kept in its DER form";
    for (const auto& r : refused) {
        const tru::BufferDynamic point = FromHex(r.hex);
        EXPECT_EQ(CodeOf([&] { key.SetECPoint(point); }), CKR_ATTRIBUTE_VALUE_INVALID) << r.name;
        EXPECT_EQ(Hex(key.GetECPoint()), kPoint) << r.name << ": the point is unchanged";
    }
}

TEST(HostEcKeys, PublicKeyVerifiesByDefaultAndHasNoAlgorithmId)
{
    HostPublicKey key;
    key.AddDefaultUsageAttributes();
    EXPECT_EQ(key.GetCouldVerify(), CK_TRUE);
    EXPECT_EQ(key.GetCouldEncrypt() | key.GetCouldVerifyRecover() | key.GetCouldWrap() | key.GetCouldDerive(),
              CK_FALSE);
    EXPECT_EQ(CodeOf([&] { key.IsAlgOIDAcceptable("1.2.840.10045.2.1", 17); }), CKR_FUNCTION_FAILED);
}

TEST(HostEcKeys, TextNamesClassAddressHandleLabelAndKeyId)
{
    const struct {
        const char* name;
        std::string idHex;
        std::string label;
        CK_OBJECT_HANDLE handle;
        std::string tail;
    } cases[] = {
        {"empty ID", "", "", 0, ", Handle: 0, Label=\"\", KeyID: 0x00000000]"},
        {"short ID padded", "0A0B", "signer", 0x2F, ", Handle: 2F, Label=\"signer\", KeyID: 0x00000A0B]"},
        {"four bytes", "DEADBEEF", "a b", 0xABCDEF, ", Handle: ABCDEF, Label=\"a b\", KeyID: 0xDEADBEEF]"},
        {"longer ID whole", "0102030405", "x", 7, ", Handle: 7, Label=\"x\", KeyID: 0x0102030405]"},
    };
    for (const auto& c : cases) {
        HostPrivateKey privateKey;
        HostPublicKey publicKey;
        zrck::TokKey* keys[] = {&privateKey, &publicKey};
        const char* classNames[] = {"TokECDsaPrivateKey", "TokECDsaPublicKey"};
        for (size_t i = 0; i < 2; ++i) {
            zrck::TokKey& key = *keys[i];
            key.SetKeyID(FromHex(c.idHex));
            key.SetLabel(swtest::Text(c.label));
            key.SetHandle(c.handle);
            std::ostringstream address;
            address << static_cast<const void*>(&key);
            EXPECT_EQ(key.ToString(), std::string(classNames[i]) + "[This: " + address.str() + c.tail) << c.name;
        }
    }
}

}  // namespace
