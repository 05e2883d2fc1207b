// GOST mechanisms through the Cryptoki functions of the token library in this process, over the
// real pcscd and the simulated token.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <memory>
#include <string>
#include <vector>

#include "cryptoki/library_frame.h"
#include "ckbase/zr_pkcs11.h"
#include "driver/qel_library.h"
#include "national/ua_gost_token_rows.h"
#include "national/ua_gost_utl.h"
#include "qelcrypt/gost_test_util.h"
#include "rig_gtest.h"

namespace {

using gost_test::Hex;
using gost_test::ToHex;

constexpr const char* kUserPin = "12345678";

class GostCryptokiRig : public ::testing::Test {
protected:
    void SetUp() override
    {
        ZR_REQUIRE_RIG();
        ASSERT_TRUE(qel::UAGostTokenTablesRegistered());
        tokensim::rig::RigOptions options;
        options.simulators = {{"--serial", "ZRGOST0001", "--so-pin", "87654321", "--user-pin", kUserPin}};
        rig = std::make_unique<tokensim::rig::Rig>(options);
        zrck::LibraryFrame::LibraryCreatorFuncPtr = &qel::Library::Create;
        CK_C_INITIALIZE_ARGS args{};
        args.flags = CKF_OS_LOCKING_OK;
        ASSERT_EQ(C_Initialize(&args), CKR_OK);
        initialized = true;
        CK_SLOT_ID slots[8];
        CK_ULONG count = 8;
        ASSERT_EQ(C_GetSlotList(CK_TRUE, slots, &count), CKR_OK);
        ASSERT_GE(count, 1u);
        slot = slots[0];
        ASSERT_EQ(C_OpenSession(slot, CKF_SERIAL_SESSION | CKF_RW_SESSION, nullptr, nullptr, &session), CKR_OK);
        ASSERT_EQ(C_Login(session, CKU_USER, (CK_UTF8CHAR_PTR)kUserPin, 8), CKR_OK);
    }

    void TearDown() override
    {
        if (initialized) C_Finalize(nullptr);
        rig.reset();
    }

    std::string Digest(const std::vector<std::string>& parts)
    {
        CK_MECHANISM mechanism{CKM_GOST34311, nullptr, 0};
        EXPECT_EQ(C_DigestInit(session, &mechanism), CKR_OK);
        for (const std::string& part : parts) {
            EXPECT_EQ(C_DigestUpdate(session, (CK_BYTE_PTR)part.data(), part.size()), CKR_OK);
        }
        std::vector<uint8_t> out(32);
        CK_ULONG length = out.size();
        EXPECT_EQ(C_DigestFinal(session, out.data(), &length), CKR_OK);
        return ToHex(out);
    }

    // A session GOST key with the 00..1F value; 0 when the framework cannot create objects yet.
    CK_OBJECT_HANDLE CreateKey(CK_RV* rv = nullptr)
    {
        static std::vector<uint8_t> value = [] {
            std::vector<uint8_t> bytes(32);
            for (unsigned i = 0; i < 32; ++i) bytes[i] = uint8_t(i);
            return bytes;
        }();
        static CK_OBJECT_CLASS keyClass = CKO_SECRET_KEY;
        static CK_KEY_TYPE keyType = CKK_GOST28147_NAT;
        static CK_BBOOL yes = CK_TRUE;
        CK_ATTRIBUTE attributes[] = {{CKA_CLASS, &keyClass, sizeof keyClass},
                                     {CKA_KEY_TYPE, &keyType, sizeof keyType},
                                     {CKA_ENCRYPT, &yes, sizeof yes},
                                     {CKA_DECRYPT, &yes, sizeof yes},
                                     {CKA_SIGN, &yes, sizeof yes},
                                     {CKA_VERIFY, &yes, sizeof yes},
                                     {CKA_WRAP, &yes, sizeof yes},
                                     {CKA_UNWRAP, &yes, sizeof yes},
                                     {CKA_EXTRACTABLE, &yes, sizeof yes},
                                     {CKA_VALUE, value.data(), value.size()}};
        CK_OBJECT_HANDLE key = 0;
        const CK_RV created = C_CreateObject(session, attributes, 10, &key);
        if (rv != nullptr) *rv = created;
        return created == CKR_OK ? key : 0;
    }

    std::unique_ptr<tokensim::rig::Rig> rig;
    bool initialized = false;
    CK_SLOT_ID slot = 0;
    CK_SESSION_HANDLE session = 0;
};

TEST_F(GostCryptokiRig, MechanismListAndInformation)
{
    const struct {
        CK_MECHANISM_TYPE type;
        CK_FLAGS flags;
        CK_ULONG keySize;
    } cases[] = {
        {CKM_GOST28147_ECB_NAT, CKF_ENCRYPT | CKF_DECRYPT, 32}, {CKM_GOST28147_CNT, CKF_ENCRYPT | CKF_DECRYPT, 32},
        {CKM_GOST28147_CFB, CKF_ENCRYPT | CKF_DECRYPT, 32},     {CKM_GOST28147_MAC_NAT, CKF_SIGN | CKF_VERIFY, 32},
        {CKM_GOST28147_WRAP, CKF_WRAP | CKF_UNWRAP, 32},        {CKM_GOST34311, CKF_DIGEST, 0},
        {CKM_GOST28147_KEY_GEN_NAT, CKF_GENERATE, 32},
    };
    CK_ULONG count = 0;
    ASSERT_EQ(C_GetMechanismList(slot, nullptr, &count), CKR_OK);
    std::vector<CK_MECHANISM_TYPE> list(count);
    ASSERT_EQ(C_GetMechanismList(slot, list.data(), &count), CKR_OK);
    for (const auto& c : cases) {
        EXPECT_NE(std::find(list.begin(), list.end(), c.type), list.end()) << std::hex << c.type;
        CK_MECHANISM_INFO info{};
        ASSERT_EQ(C_GetMechanismInfo(slot, c.type, &info), CKR_OK);
        EXPECT_EQ(info.flags & c.flags, c.flags) << std::hex << c.type;
        EXPECT_EQ(info.ulMinKeySize, c.keySize);
        EXPECT_EQ(info.ulMaxKeySize, c.keySize);
    }
}

// Source of the known answers: the GOST 34.311 vectors of the issue (DKE1, zero start vector).
TEST_F(GostCryptokiRig, DigestKnownAnswers)
{
    CK_MECHANISM mechanism{CKM_GOST34311, nullptr, 0};
    const CK_RV probe = C_DigestInit(session, &mechanism);
    ASSERT_EQ(probe, CKR_OK);
    std::vector<uint8_t> out(32);
    CK_ULONG length = out.size();
    ASSERT_EQ(C_Digest(session, (CK_BYTE_PTR) "abc", 3, out.data(), &length), CKR_OK);
    EXPECT_EQ(ToHex(out), "A34A53504D8BA070CB73A583146167A0A3C226D793440D9CEA24465FE02251F2");
    EXPECT_EQ(Digest({}), "DA37BDF41145E39E34111775B40646E8059C2E969C1460BB98ABCCB26F0F76A5");
    EXPECT_EQ(Digest({"123123"}), "34D4DA2C04E9C1CEB933282069C864617D94ED7CC5C0A9840C0C1A99629DF637");
    EXPECT_EQ(Digest({"123", "123"}), "34D4DA2C04E9C1CEB933282069C864617D94ED7CC5C0A9840C0C1A99629DF637");
}

// Source of the known answers: the GOST 28147-89 vectors of the issue (DKE1, key 00..1F).
TEST_F(GostCryptokiRig, EncryptKnownAnswers)
{
    CK_RV created = CKR_OK;
    const CK_OBJECT_HANDLE key = CreateKey(&created);
    ASSERT_EQ(created, CKR_OK);

    std::vector<uint8_t> iv = Hex("F1F2F3F4F5F6F7F8");
    const struct {
        CK_MECHANISM mechanism;
        const char* cipher;
    } cases[] = {
        {{CKM_GOST28147_ECB_NAT, nullptr, 0}, "E393A17DF2B6DE6F2086D8230C277432"},
        {{CKM_GOST28147_CFB, iv.data(), iv.size()}, "2087DA2008227235A919D76142E8CE65"},
    };
    std::vector<uint8_t> plain = Hex("0001020304050607 F1F2F3F4F5F6F7F8");
    for (const auto& c : cases) {
        CK_MECHANISM mechanism = c.mechanism;
        const CK_RV init = C_EncryptInit(session, &mechanism, key);
        ASSERT_EQ(init, CKR_OK);
        std::vector<uint8_t> out(16);
        CK_ULONG length = out.size();
        ASSERT_EQ(C_Encrypt(session, plain.data(), plain.size(), out.data(), &length), CKR_OK);
        EXPECT_EQ(ToHex(out), c.cipher);
        ASSERT_EQ(C_DecryptInit(session, &mechanism, key), CKR_OK);
        std::vector<uint8_t> back(16);
        length = back.size();
        ASSERT_EQ(C_Decrypt(session, out.data(), out.size(), back.data(), &length), CKR_OK);
        EXPECT_EQ(back, plain);
    }
}

// Known answers of an independent implementation (DKE1, key 00..1F, data bytes i*7+3).
TEST_F(GostCryptokiRig, CounterAndMacKnownAnswers)
{
    CK_RV created = CKR_OK;
    const CK_OBJECT_HANDLE key = CreateKey(&created);
    ASSERT_EQ(created, CKR_OK);
    std::vector<uint8_t> data(100);
    for (size_t i = 0; i < data.size(); ++i) data[i] = uint8_t(i * 7 + 3);

    std::vector<uint8_t> iv = Hex("F1F2F3F4F5F6F7F8");
    CK_MECHANISM counter{CKM_GOST28147_CNT, iv.data(), iv.size()};
    ASSERT_EQ(C_EncryptInit(session, &counter, key), CKR_OK);
    std::vector<uint8_t> cipher(20);
    CK_ULONG length = cipher.size();
    ASSERT_EQ(C_Encrypt(session, data.data(), 20, cipher.data(), &length), CKR_OK);
    EXPECT_EQ(ToHex(cipher), "56BA5F53079EBDC4DE8A9D4E56585F75088D993D");

    const struct {
        CK_ULONG length;
        const char* mac;
    } macs[] = {{16, "4B1B8C1D"}, {20, "7E15D691"}, {100, "E9F0F54A"}};
    CK_MECHANISM mac{CKM_GOST28147_MAC_NAT, nullptr, 0};
    for (const auto& c : macs) {
        std::vector<uint8_t> tag(4);
        length = tag.size();
        ASSERT_EQ(C_SignInit(session, &mac, key), CKR_OK);
        ASSERT_EQ(C_Sign(session, data.data(), c.length, tag.data(), &length), CKR_OK);
        EXPECT_EQ(ToHex(tag), c.mac) << c.length << " bytes";
    }
}

TEST_F(GostCryptokiRig, DigestLengthRules)
{
    CK_MECHANISM mechanism{CKM_GOST34311, nullptr, 0};
    const CK_RV probe = C_DigestInit(session, &mechanism);
    ASSERT_EQ(probe, CKR_OK);
    std::vector<uint8_t> out(32);
    CK_ULONG length = 31;
    EXPECT_EQ(C_Digest(session, (CK_BYTE_PTR) "abc", 3, out.data(), &length), CKR_BUFFER_TOO_SMALL);
    EXPECT_EQ(length, 32u);
    length = 32;
    EXPECT_EQ(C_Digest(session, (CK_BYTE_PTR) "abc", 3, out.data(), &length), CKR_OK) << "operation kept";
    EXPECT_EQ(ToHex(out), "A34A53504D8BA070CB73A583146167A0A3C226D793440D9CEA24465FE02251F2");

    const std::vector<uint8_t> badParameter = Hex("0401");
    CK_MECHANISM bad{CKM_GOST34311, const_cast<uint8_t*>(badParameter.data()), badParameter.size()};
    EXPECT_EQ(C_DigestInit(session, &bad), CKR_MECHANISM_PARAM_INVALID);
}

TEST_F(GostCryptokiRig, MacWrapAndReadOnlyValue)
{
    CK_RV created = CKR_OK;
    const CK_OBJECT_HANDLE key = CreateKey(&created);
    ASSERT_EQ(created, CKR_OK);

    // MAC over 9 bytes and more only.
    CK_MECHANISM mac{CKM_GOST28147_MAC_NAT, nullptr, 0};
    std::vector<uint8_t> data(20, 0x42);
    std::vector<uint8_t> tag(4);
    CK_ULONG length = tag.size();
    ASSERT_EQ(C_SignInit(session, &mac, key), CKR_OK);
    EXPECT_EQ(C_Sign(session, data.data(), 8, tag.data(), &length), CKR_DATA_LEN_RANGE);
    ASSERT_EQ(C_SignInit(session, &mac, key), CKR_OK);
    length = tag.size();
    ASSERT_EQ(C_Sign(session, data.data(), data.size(), tag.data(), &length), CKR_OK);
    ASSERT_EQ(C_VerifyInit(session, &mac, key), CKR_OK);
    EXPECT_EQ(C_Verify(session, data.data(), data.size(), tag.data(), tag.size()), CKR_OK);
    tag[0] ^= 1;
    ASSERT_EQ(C_VerifyInit(session, &mac, key), CKR_OK);
    EXPECT_EQ(C_Verify(session, data.data(), data.size(), tag.data(), tag.size()), CKR_SIGNATURE_INVALID);

    // Wrap a generated key and unwrap it into a key that encrypts alike.
    CK_MECHANISM keyGen{CKM_GOST28147_KEY_GEN_NAT, nullptr, 0};
    CK_BBOOL yes = CK_TRUE;
    CK_ATTRIBUTE genTemplate[] = {{CKA_ENCRYPT, &yes, sizeof yes}, {CKA_EXTRACTABLE, &yes, sizeof yes}};
    CK_OBJECT_HANDLE generated = 0;
    ASSERT_EQ(C_GenerateKey(session, &keyGen, genTemplate, 2, &generated), CKR_OK);
    CK_MECHANISM wrap{CKM_GOST28147_WRAP, nullptr, 0};
    std::vector<uint8_t> blob(44);
    length = 43;
    EXPECT_EQ(C_WrapKey(session, &wrap, key, generated, blob.data(), &length), CKR_BUFFER_TOO_SMALL);
    EXPECT_EQ(length, 44u);
    ASSERT_EQ(C_WrapKey(session, &wrap, key, generated, blob.data(), &length), CKR_OK);
    CK_ATTRIBUTE unwrapTemplate[] = {{CKA_ENCRYPT, &yes, sizeof yes}};
    CK_OBJECT_HANDLE unwrapped = 0;
    ASSERT_EQ(C_UnwrapKey(session, &wrap, key, blob.data(), blob.size(), unwrapTemplate, 1, &unwrapped), CKR_OK);
    blob[10] ^= 0x80;
    CK_OBJECT_HANDLE refused = 0;
    EXPECT_EQ(C_UnwrapKey(session, &wrap, key, blob.data(), blob.size(), unwrapTemplate, 1, &refused),
              CKR_SIGNATURE_INVALID);
    CK_MECHANISM ecb{CKM_GOST28147_ECB_NAT, nullptr, 0};
    std::vector<uint8_t> plain(8, 0x33), first(8), second(8);
    for (auto* pair : {&first, &second}) {
        ASSERT_EQ(C_EncryptInit(session, &ecb, pair == &first ? generated : unwrapped), CKR_OK);
        length = 8;
        ASSERT_EQ(C_Encrypt(session, plain.data(), 8, pair->data(), &length), CKR_OK);
    }
    EXPECT_EQ(first, second);

    // The value and the S-box cannot change once the key exists.
    std::vector<uint8_t> other(32, 0x77);
    const tru::Buffer& dke4 = qel::UAGostUtl::GetInstance()->GetDKEOID(4);
    std::vector<uint8_t> sBox(dke4.Data(), dke4.Data() + dke4.Size());
    CK_ATTRIBUTE change[] = {{CKA_VALUE, other.data(), other.size()}};
    EXPECT_EQ(C_SetAttributeValue(session, key, change, 1), CKR_ATTRIBUTE_READ_ONLY);
    CK_ATTRIBUTE changeSBox[] = {{CKA_GOST_SBOXES, sBox.data(), sBox.size()}};
    EXPECT_EQ(C_SetAttributeValue(session, key, changeSBox, 1), CKR_ATTRIBUTE_READ_ONLY);
}

}  // namespace
