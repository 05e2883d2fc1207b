// RSA key objects and the device's key forms, without a token.
#include <gtest/gtest.h>

#include <string>

#include "object_test_util.h"
#include "rsa/tok_rsa_keys.h"
#include "support/vdk_exception.h"

namespace {

using qel::TokRsaPrivateKey;
using qel::TokRsaPublicKey;
using zrtest::CodeOf;

std::string Bytes(const tru::Buffer& buffer) { return std::string(reinterpret_cast<const char*>(buffer.Data()), buffer.Size()); }

tru::BufferDynamic Buf(const std::string& bytes) { return tru::BufferDynamic(bytes.data(), static_cast<uint32_t>(bytes.size())); }

std::string Filled(size_t length, char first) {
    std::string s(length, '\x5A');
    s[0] = first;
    return s;
}

// ---- device public-key blob ----

struct BlobCase {
    const char* name;
    CK_ULONG bits;
    EParamSet paramSet;
    const char* lengthField;
};

const BlobCase kBlobCases[] = {
    {"512", 512, RSA_sign_512, "\x00\x40"},
    {"1024", 1024, RSA_sign_1024, "\x00\x80"},
    {"1536", 1536, RSA_sign_1536, "\x00\xC0"},
    {"2048", 2048, RSA_sign_2048, "\x01\x00"},
};

class BlobTest : public ::testing::TestWithParam<BlobCase> {};

TEST_P(BlobTest, BlobCarriesSizeModulusAndExponentAndGivesTheModulusBack) {
    const BlobCase& c = GetParam();
    const std::string modulus = Filled(c.bits / 8, '\xC1');
    tru::BufferDynamic buffer = Buf(modulus);
    TokRsaPublicKey::GeneratePublicKey(buffer, c.bits);
    EXPECT_EQ(Bytes(buffer), std::string(c.lengthField, 2) + modulus + std::string("\x00\x03\x01\x00\x01", 5));
    EXPECT_EQ(TokRsaPublicKey::ConvertBitsToParamset(c.bits), c.paramSet);
    TokRsaPublicKey::ExtractModulus(buffer, c.paramSet);
    EXPECT_EQ(Bytes(buffer), modulus);
}

INSTANTIATE_TEST_SUITE_P(Sizes, BlobTest, ::testing::ValuesIn(kBlobCases),
                         [](const ::testing::TestParamInfo<BlobCase>& info) { return std::string(info.param.name); });

TEST(RsaBlob, OtherSizesAreRefusedWithTheirOwnCodes) {
    tru::BufferDynamic buffer = Buf(Filled(125, '\xC1'));
    EXPECT_EQ(CodeOf([&] { TokRsaPublicKey::GeneratePublicKey(buffer, 1000); }), CKR_GENERAL_ERROR);
    EXPECT_EQ(CodeOf([&] { TokRsaPublicKey::ConvertBitsToParamset(1000); }), CKR_ATTRIBUTE_VALUE_INVALID);
    EXPECT_EQ(CodeOf([&] { TokRsaPublicKey::ConvertBitsToParamset(4096); }), CKR_ATTRIBUTE_VALUE_INVALID);
}

TEST(RsaBlob, ModulusWithALeadingZeroTakesExactlyTheKeySize) {
    const std::string modulus = Filled(128, '\xC1');
    tru::BufferDynamic buffer = Buf(std::string(1, '\0') + modulus);
    TokRsaPublicKey::GeneratePublicKey(buffer, 1024);
    EXPECT_EQ(buffer.Size(), 135u);
    EXPECT_EQ(Bytes(buffer).substr(2, 128), modulus);
}

struct BadBlob {
    const char* name;
    std::string blob;
    EParamSet paramSet;
};

TEST(RsaBlob, MalformedDeviceBlobsAreRefusedWithoutReadingPastThem) {
    const std::string good = std::string("\x00\x80", 2) + Filled(128, '\xC1') + std::string("\x00\x03\x01\x00\x01", 5);
    const BadBlob cases[] = {
        {"other parameter set", good, RSA_sign_1536},
        {"unknown parameter set", good, EParamSet(9)},
        {"wrong exponent", good.substr(0, 134) + "\x03", RSA_sign_1024},
        {"wrong length field", std::string("\x00\x81", 2) + good.substr(2), RSA_sign_1024},
        {"truncated", good.substr(0, 100), RSA_sign_1024},
        {"too long", good + std::string(1, '\0'), RSA_sign_1024},
        {"empty", std::string(), RSA_sign_1024},
    };
    for (const BadBlob& c : cases) {
        tru::BufferDynamic buffer = Buf(c.blob);
        EXPECT_EQ(CodeOf([&] { TokRsaPublicKey::ExtractModulus(buffer, c.paramSet); }), CKR_GENERAL_ERROR) << c.name;
    }
}

// ---- private-key import blob ----

TEST(RsaImportBlob, ComponentsAreLengthPrefixedBigEndianAndBackToBack) {
    vdk::SafeBuffer blob;
    TokRsaPrivateKey::AddRsaKeyComponent(blob, Buf(Filled(128, '\xA0')));
    TokRsaPrivateKey::AddRsaKeyComponent(blob, Buf(Filled(128, '\xA1')));
    for (char c = '\xA2'; c != '\xA7'; ++c) TokRsaPrivateKey::AddRsaKeyComponent(blob, Buf(Filled(64, c)));
    ASSERT_EQ(blob.Size(), 590u);
    const std::string bytes = Bytes(blob);
    EXPECT_EQ(bytes.substr(0, 3), std::string("\x00\x80\xA0", 3));
    EXPECT_EQ(bytes.substr(130, 3), std::string("\x00\x80\xA1", 3));
    for (int i = 0; i < 5; ++i) EXPECT_EQ(bytes.substr(260 + 66 * i, 3), std::string("\x00\x40", 2) + char('\xA2' + i));
}

TEST(RsaImportBlob, ComponentAbove65535BytesIsRefused) {
    vdk::SafeBuffer blob;
    EXPECT_EQ(CodeOf([&] { TokRsaPrivateKey::AddRsaKeyComponent(blob, Buf(std::string(65536, '\x01'))); }),
              CKR_ATTRIBUTE_VALUE_INVALID);
    TokRsaPrivateKey::AddRsaKeyComponent(blob, Buf(std::string(65535, '\x01')));
    EXPECT_EQ(blob.Size(), 65537u);
}

// ---- key rules ----

TEST(RsaKeys, PublicExponentMustRead65537) {
    TokRsaPrivateKey privateKey;
    TokRsaPublicKey publicKey;
    const struct {
        std::string exponent;
        CK_RV expected;
    } cases[] = {{std::string("\x01\x00\x01", 3), CKR_OK},
                 {std::string("\x00\x01\x00\x01", 4), CKR_OK},
                 {"\x03", CKR_ATTRIBUTE_VALUE_INVALID},
                 {"", CKR_ATTRIBUTE_VALUE_INVALID}};
    for (const auto& c : cases) {
        EXPECT_EQ(CodeOf([&] { privateKey.SetPublicExponent(Buf(c.exponent)); }), c.expected);
        EXPECT_EQ(CodeOf([&] { publicKey.SetPublicExponent(Buf(c.exponent)); }), c.expected);
    }
    EXPECT_THROW(publicKey.SetPublicExponent(Buf(std::string(9, '\x01'))), vdk::Exception);
    EXPECT_EQ(Bytes(privateKey.GetPublicExponent()), std::string("\x01\x00\x01", 3));
    EXPECT_EQ(Bytes(publicKey.GetPublicExponent()), std::string("\x01\x00\x01", 3));
}

TEST(RsaKeys, PrivateKeyKeepsItsSecretsOnTheToken) {
    TokRsaPrivateKey key;
    EXPECT_EQ(CodeOf([&] { key.GetPrivateExponent(); }), CKR_KEY_UNEXTRACTABLE);
    EXPECT_EQ(CodeOf([&] { key.GetCoefficient(); }), CKR_KEY_UNEXTRACTABLE);
    EXPECT_EQ(CodeOf([&] { delete key.GenerateCopy(); }), CKR_FUNCTION_NOT_SUPPORTED);
    key.SetCopyable(true);
    EXPECT_EQ(key.IsCopyable(), CK_FALSE);
    key.SetIsSensitive(CK_TRUE);
    EXPECT_EQ(CodeOf([&] { key.SetIsSensitive(CK_FALSE); }), CKR_ATTRIBUTE_READ_ONLY);
    key.SetCouldUnwrapOnlyWithTrusted(CK_FALSE);
    EXPECT_EQ(key.GetCouldUnwrapOnlyWithTrusted(), CK_FALSE);
}

TEST(RsaKeys, PrivateKeyWithoutKeySlotIsNeverFiled) {
    TokRsaPrivateKey key;
    key.SetLifeTime(zrck::TokObject::LIFETIME_TOKEN);
    key.SetVisibility(zrck::TokObject::VISIBILITY_PRIVATE);
    EXPECT_EQ(CodeOf([&] { key.StoreAttributes(); }), CKR_TEMPLATE_INCOMPLETE);
}

TEST(RsaKeys, ModulusBitsFollowTheModulusUnlessSet) {
    TokRsaPrivateKey privateKey;
    privateKey.SetModulus(Buf(Filled(256, '\xC1')));
    EXPECT_EQ(privateKey.GetModulusBits(), 2048u);
    privateKey.SetModulusBits(1000);
    EXPECT_EQ(privateKey.GetModulusBits(), 1000u);
    TokRsaPublicKey publicKey;
    publicKey.SetModulus(Buf(Filled(128, '\xC1')));
    EXPECT_EQ(publicKey.GetModulusBits(), 1024u);
    EXPECT_EQ(CodeOf([&] { publicKey.IsAlgOIDAcceptable("1.2", 3); }), CKR_FUNCTION_FAILED);
    EXPECT_EQ(publicKey.GetTokenIndexType(), 3u);
    EXPECT_EQ(privateKey.GetTokenIndexType(), 2u);
}

TEST(RsaKeys, AllowedMechanismsAreTheSevenRsaMechanisms) {
    TokRsaPublicKey key;
    const tru::Buffer table = key.GetAllowedMechanisms();
    ASSERT_EQ(table.Size(), 7 * sizeof(CK_MECHANISM_TYPE));
    const auto* types = reinterpret_cast<const CK_MECHANISM_TYPE*>(table.Data());
    EXPECT_EQ(types[0], CKM_RSA_X_509);
    EXPECT_EQ(types[1], CKM_RSA_PKCS);
    EXPECT_EQ(types[6], CKM_SHA512_RSA_PKCS);
    EXPECT_TRUE(key.IsMechanismAllowed(CKM_SHA224_RSA_PKCS));
    EXPECT_FALSE(key.IsMechanismAllowed(CKM_RSA_PKCS_KEY_PAIR_GEN));
}

TEST(RsaKeys, TextFormPadsTheKeyIdAndFormsTheStorageId) {
    TokRsaPrivateKey key;
    key.SetKeyID(Buf("\xA1\xB2"));
    key.SetObjectFile(0xB4);
    key.SetAttributeFile(0x81);
    key.SetLabel(Buf("sig"));
    const std::string text = key.ToString();
    EXPECT_EQ(text.rfind("TokRsaPrivateKey[This: ", 0), 0u) << text;
    EXPECT_NE(text.find(", Label=\"sig\", KeyID: 0x0000A1B2, StorageID: 0x008100B4]"), std::string::npos) << text;
    TokRsaPublicKey publicKey;
    EXPECT_NE(publicKey.ToString().find("KeyID: 0x00000000"), std::string::npos);
}

}  // namespace
