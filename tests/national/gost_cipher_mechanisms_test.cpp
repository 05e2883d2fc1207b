// GOST 28147-89 ECB, counter, CFB and MAC mechanisms over keys of the in-memory token.
#include <gtest/gtest.h>

#include "gost_test_token.h"
#include "national/tok_ua_gost_cipher_mechanisms.h"
#include "national/tok_ua_gost_hash_mechanism.h"
#include "national/tok_ua_gost_key_gen_mechanism.h"
#include "national/tok_ua_gost_mac_mechanism.h"
#include "national/tok_ua_gost_wrap_mechanism.h"

using namespace gost_test;
using zrtest::CodeOf;

namespace {

const zrck::MechanismParameter kNoParameter(0, tru::Buffer());

// A view of the bytes, which must outlive it.
zrck::MechanismParameter Parameter(const std::vector<uint8_t>& bytes)
{
    return zrck::MechanismParameter(0, tru::Buffer(bytes.data(), static_cast<uint32_t>(bytes.size())));
}

tru::Buffer View(const std::vector<uint8_t>& bytes) { return tru::Buffer(bytes.data(), uint32_t(bytes.size())); }

struct CipherFixture : ::testing::Test {
    GostTestToken token;
    GostTestSession session{token};
    std::unique_ptr<qel::TokUAGostSecretKey> key = CreateKey(token, KeyValue0To31());

    // One-part call through the length query and the real call.
    std::vector<uint8_t> OnePart(zrck::TokMechanism& mechanism, const std::vector<uint8_t>& data, bool encrypt)
    {
        unsigned long length = 0;
        EXPECT_TRUE(encrypt ? mechanism.Encrypt(session, View(data), nullptr, &length)
                            : mechanism.Decrypt(session, View(data), nullptr, &length));
        std::vector<uint8_t> out(length);
        EXPECT_TRUE(encrypt ? mechanism.Encrypt(session, View(data), out.data(), &length)
                            : mechanism.Decrypt(session, View(data), out.data(), &length));
        out.resize(length);
        return out;
    }
};

// Source of the known answers: the GOST 28147-89 vectors of the issue (DKE1, key 00..1F).
const char* const kPlain = "0001020304050607 F1F2F3F4F5F6F7F8";

TEST_F(CipherFixture, EcbAndCfbGiveTheKnownAnswersAndDecryptBack)
{
    struct Case {
        const char* name;
        std::unique_ptr<zrck::TokMechanism> mechanism;
        std::vector<uint8_t> iv;
        const char* cipher;
    };
    Case cases[] = {
        {"ECB", std::unique_ptr<zrck::TokMechanism>(new qel::TokUAGostEcbMechanism()), {}, "E393A17DF2B6DE6F2086D8230C277432"},
        {"CFB", std::unique_ptr<zrck::TokMechanism>(new qel::TokUAGostCfbMechanism()), Hex("F1F2F3F4F5F6F7F8"),
         "2087DA2008227235A919D76142E8CE65"},
    };
    for (Case& c : cases) {
        SCOPED_TRACE(c.name);
        const zrck::MechanismParameter parameter = c.iv.empty() ? kNoParameter : Parameter(c.iv);
        c.mechanism->EncryptInit(session, parameter, *key);
        const std::vector<uint8_t> cipher = OnePart(*c.mechanism, Hex(kPlain), true);
        EXPECT_EQ(ToHex(cipher), c.cipher);
        c.mechanism->DecryptInit(session, parameter, *key);
        EXPECT_EQ(ToHex(OnePart(*c.mechanism, cipher, false)), ToHex(Hex(kPlain)));
    }
}

TEST_F(CipherFixture, EcbTakesWholeBlocksOnly)
{
    qel::TokUAGostEcbMechanism ecb;
    ecb.EncryptInit(session, kNoParameter, *key);
    std::vector<uint8_t> out(32);
    for (size_t size : {size_t(0), size_t(12), size_t(7)}) {
        unsigned long length = out.size();
        std::vector<uint8_t> data(size, 0x55);
        EXPECT_EQ(CodeOf([&] { ecb.EncryptUpdate(session, View(data), out.data(), &length); }), CKR_DATA_LEN_RANGE)
            << size;
    }
    unsigned long length = out.size();
    std::vector<uint8_t> data(16, 0x55);
    EXPECT_TRUE(ecb.EncryptUpdate(session, View(data), out.data(), &length));
    EXPECT_EQ(length, 16u);
    length = 8;
    EXPECT_TRUE(ecb.EncryptFinal(session, out.data(), &length));
    EXPECT_EQ(length, 0u);
    // The final call ended the operation.
    EXPECT_EQ(CodeOf([&] { ecb.EncryptUpdate(session, View(data), out.data(), &length); }), CKR_GENERAL_ERROR);
}

TEST_F(CipherFixture, EcbShortBufferKeepsTheOperation)
{
    qel::TokUAGostEcbMechanism ecb;
    ecb.EncryptInit(session, kNoParameter, *key);
    const std::vector<uint8_t> data = Hex(kPlain);
    std::vector<uint8_t> out(16);
    unsigned long length = 15;
    EXPECT_FALSE(ecb.Encrypt(session, View(data), out.data(), &length));
    EXPECT_EQ(length, 16u);
    EXPECT_TRUE(ecb.Encrypt(session, View(data), out.data(), &length));
    EXPECT_EQ(ToHex(out), "E393A17DF2B6DE6F2086D8230C277432");
}

// Counter and CFB, one-part and split into pieces of every size from 1 to 17 bytes.
class StreamSplit : public CipherFixture, public ::testing::WithParamInterface<CK_MECHANISM_TYPE> {
protected:
    std::unique_ptr<zrck::TokMechanism> Make() const
    {
        if (GetParam() == CKM_GOST28147_CNT) return std::unique_ptr<zrck::TokMechanism>(new qel::TokUAGostCntMechanism());
        return std::unique_ptr<zrck::TokMechanism>(new qel::TokUAGostCfbMechanism());
    }

    std::vector<uint8_t> MultiPart(zrck::TokMechanism& mechanism, const std::vector<uint8_t>& data, size_t piece,
                                   bool encrypt)
    {
        std::vector<uint8_t> result;
        for (size_t at = 0; at < data.size(); at += piece) {
            const std::vector<uint8_t> part(data.begin() + at, data.begin() + std::min(data.size(), at + piece));
            std::vector<uint8_t> out(part.size() + 8);
            unsigned long length = out.size();
            EXPECT_TRUE(encrypt ? mechanism.EncryptUpdate(session, View(part), out.data(), &length)
                                : mechanism.DecryptUpdate(session, View(part), out.data(), &length));
            EXPECT_EQ(length % 8, 0u) << "update output comes in whole blocks";
            result.insert(result.end(), out.begin(), out.begin() + length);
        }
        std::vector<uint8_t> out(8);
        unsigned long length = out.size();
        EXPECT_TRUE(encrypt ? mechanism.EncryptFinal(session, out.data(), &length)
                            : mechanism.DecryptFinal(session, out.data(), &length));
        result.insert(result.end(), out.begin(), out.begin() + length);
        return result;
    }
};

TEST_P(StreamSplit, AnySplitEqualsOnePartAndDecryptsBack)
{
    const std::vector<uint8_t> ivBytes = Hex("F1F2F3F4F5F6F7F8");
    const zrck::MechanismParameter iv = Parameter(ivBytes);
    std::vector<uint8_t> plain(37);
    for (size_t i = 0; i < plain.size(); ++i) plain[i] = uint8_t(i * 13 + 5);
    std::unique_ptr<zrck::TokMechanism> mechanism = Make();
    mechanism->EncryptInit(session, iv, *key);
    const std::vector<uint8_t> whole = OnePart(*mechanism, plain, true);
    ASSERT_EQ(whole.size(), plain.size());
    for (size_t piece = 1; piece <= 17; ++piece) {
        SCOPED_TRACE(piece);
        mechanism->EncryptInit(session, iv, *key);
        EXPECT_EQ(MultiPart(*mechanism, plain, piece, true), whole);
        mechanism->DecryptInit(session, iv, *key);
        EXPECT_EQ(MultiPart(*mechanism, whole, 18 - piece, false), plain);
    }
}

TEST_P(StreamSplit, FiveAndFiveBytesComeOutAsEightThenTwo)
{
    std::unique_ptr<zrck::TokMechanism> mechanism = Make();
    const std::vector<uint8_t> plain = Hex("00112233445566778899");
    mechanism->EncryptInit(session, kNoParameter, *key);
    const std::vector<uint8_t> whole = OnePart(*mechanism, plain, true);

    mechanism->EncryptInit(session, kNoParameter, *key);
    std::vector<uint8_t> out(16);
    unsigned long length = out.size();
    const std::vector<uint8_t> first(plain.begin(), plain.begin() + 5), second(plain.begin() + 5, plain.end());
    EXPECT_TRUE(mechanism->EncryptUpdate(session, View(first), out.data(), &length));
    EXPECT_EQ(length, 0u);
    length = out.size();
    EXPECT_TRUE(mechanism->EncryptUpdate(session, tru::Buffer(), out.data(), &length));
    EXPECT_EQ(length, 0u) << "empty input keeps the pending bytes";
    length = 7;  // short for the 8 bytes now due: refused, nothing consumed
    EXPECT_FALSE(mechanism->EncryptUpdate(session, View(second), out.data(), &length));
    EXPECT_EQ(length, 8u);
    length = out.size();
    EXPECT_TRUE(mechanism->EncryptUpdate(session, View(second), out.data(), &length));
    EXPECT_EQ(length, 8u);
    unsigned long finalLength = 0;
    EXPECT_TRUE(mechanism->EncryptFinal(session, nullptr, &finalLength));
    EXPECT_EQ(finalLength, 2u);
    EXPECT_TRUE(mechanism->EncryptFinal(session, out.data() + 8, &finalLength));
    out.resize(10);
    EXPECT_EQ(out, whole);
}

TEST_P(StreamSplit, InPlaceUpdatesAfterAPartialBlock)
{
    std::unique_ptr<zrck::TokMechanism> mechanism = Make();
    std::vector<uint8_t> plain(29);
    for (size_t i = 0; i < plain.size(); ++i) plain[i] = uint8_t(0xA0 + i);
    mechanism->EncryptInit(session, kNoParameter, *key);
    const std::vector<uint8_t> whole = OnePart(*mechanism, plain, true);

    // 3 bytes, then the other 26 encrypted over themselves: the output of a call starts with
    // the 3 pending bytes, so it runs ahead of the input it overwrites.
    mechanism->EncryptInit(session, kNoParameter, *key);
    unsigned long length = 0;
    EXPECT_TRUE(mechanism->EncryptUpdate(session, tru::Buffer(plain.data(), 3), nullptr, &length));
    std::vector<uint8_t> first(8);
    length = first.size();
    EXPECT_TRUE(mechanism->EncryptUpdate(session, tru::Buffer(plain.data(), 3), first.data(), &length));
    EXPECT_EQ(length, 0u);
    std::vector<uint8_t> rest(plain.begin() + 3, plain.end());
    length = rest.size();
    EXPECT_TRUE(mechanism->EncryptUpdate(session, tru::Buffer(rest.data(), 26), rest.data(), &length));
    ASSERT_EQ(length, 24u);
    std::vector<uint8_t> tail(8);
    unsigned long finalLength = tail.size();
    EXPECT_TRUE(mechanism->EncryptFinal(session, tail.data(), &finalLength));
    ASSERT_EQ(finalLength, 5u);
    std::vector<uint8_t> result(rest.begin(), rest.begin() + 24);
    result.insert(result.end(), tail.begin(), tail.begin() + 5);
    EXPECT_EQ(result, whole);
}

TEST_P(StreamSplit, InitRefusesBadParametersKeysAndSBoxes)
{
    std::unique_ptr<zrck::TokMechanism> mechanism = Make();
    EXPECT_EQ(CodeOf([&] { mechanism->EncryptInit(session, Parameter(Hex("01020304050607")), *key); }),
              CKR_MECHANISM_PARAM_INVALID);
    EXPECT_EQ(CodeOf([&] { mechanism->EncryptInit(session, Parameter(Hex("010203040506070809")), *key); }),
              CKR_MECHANISM_PARAM_INVALID);

    // A key whose S-box is a 32-byte DKE value can be created but not used.
    zrtest::Records records = GostKeyTemplate(KeyValue0To31());
    records.Raw(CKA_GOST_SBOXES, Bytes(Hex("0420")) + std::string(32, '\x11'));
    std::unique_ptr<qel::TokUAGostSecretKey> shortSBox = CreateKey(token, records);
    try {
        mechanism->DecryptInit(session, kNoParameter, *shortSBox);
        ADD_FAILURE() << "no exception";
    } catch (const zrck::Exception& e) {
        EXPECT_EQ(e.GetCode(), CKR_MECHANISM_PARAM_INVALID);
        EXPECT_STREQ(e.what(), "DKE size should be 64 bytes");
    }
    std::vector<uint8_t> out(8);
    unsigned long length = out.size();
    EXPECT_EQ(CodeOf([&] { mechanism->Encrypt(session, View(out), out.data(), &length); }), CKR_GENERAL_ERROR);
}

INSTANTIATE_TEST_SUITE_P(CounterAndCfb, StreamSplit, ::testing::Values(CKM_GOST28147_CNT, CKM_GOST28147_CFB),
                         [](const ::testing::TestParamInfo<CK_MECHANISM_TYPE>& info) {
                             return std::string(info.param == CKM_GOST28147_CNT ? "Counter" : "Cfb");
                         });

TEST_F(CipherFixture, SetIvTakesEightBytesOnly)
{
    qel::TokUAGostCfbMechanism cfb;
    try {
        cfb.SetIV(View(Hex("0102")));
        ADD_FAILURE() << "no exception";
    } catch (const zrck::Exception& e) {
        EXPECT_EQ(e.GetCode(), CKR_MECHANISM_PARAM_INVALID);
        EXPECT_STREQ(e.what(), "IV should be 8 bytes long");
    }
    cfb.SetIV(View(Hex("0102030405060708")));
    EXPECT_EQ(Vec(cfb.GetIV()), Hex("0102030405060708"));
}

TEST_F(CipherFixture, EcbRefusesParametersAndOtherKeyClasses)
{
    qel::TokUAGostEcbMechanism ecb;
    EXPECT_EQ(CodeOf([&] { ecb.EncryptInit(session, Parameter(Hex("00")), *key); }), CKR_MECHANISM_PARAM_INVALID);
}

// ---- MAC ----

struct MacFixture : CipherFixture {
    qel::TokUAGostMacMechanism mac;

    std::vector<uint8_t> Sign(const std::vector<uint8_t>& data)
    {
        mac.SignInit(session, kNoParameter, *key);
        std::vector<uint8_t> out(4);
        unsigned long length = out.size();
        EXPECT_TRUE(mac.Sign(session, View(data), out.data(), &length));
        EXPECT_EQ(length, 4u);
        return out;
    }
};

TEST_F(MacFixture, FewerThanNineBytesAreRefusedEverywhere)
{
    for (size_t size = 0; size <= 8; ++size) {
        SCOPED_TRACE(size);
        const std::vector<uint8_t> data(size, 0x42);
        std::vector<uint8_t> out(4);
        unsigned long length = out.size();
        mac.SignInit(session, kNoParameter, *key);
        EXPECT_EQ(CodeOf([&] { mac.Sign(session, View(data), out.data(), &length); }), CKR_DATA_LEN_RANGE);
        mac.SignInit(session, kNoParameter, *key);
        mac.SignUpdate(session, View(data));
        EXPECT_EQ(CodeOf([&] { mac.SignFinal(session, out.data(), &length); }), CKR_DATA_LEN_RANGE);
        mac.VerifyInit(session, kNoParameter, *key);
        EXPECT_EQ(CodeOf([&] { mac.Verify(session, View(data), View(out)); }), CKR_DATA_LEN_RANGE);
        mac.VerifyInit(session, kNoParameter, *key);
        mac.VerifyUpdate(session, View(data));
        EXPECT_EQ(CodeOf([&] { mac.VerifyFinal(session, View(out)); }), CKR_DATA_LEN_RANGE);
    }
}

TEST_F(MacFixture, SignedDataVerifiesAndChangesAreCaught)
{
    std::vector<uint8_t> data(23);
    for (size_t i = 0; i < data.size(); ++i) data[i] = uint8_t(i * 3);
    const std::vector<uint8_t> tag = Sign(data);

    // Multi-part in uneven pieces gives the same MAC.
    mac.SignInit(session, kNoParameter, *key);
    mac.SignUpdate(session, View(std::vector<uint8_t>(data.begin(), data.begin() + 5)));
    mac.SignUpdate(session, View(std::vector<uint8_t>()));
    mac.SignUpdate(session, View(std::vector<uint8_t>(data.begin() + 5, data.end())));
    std::vector<uint8_t> out(4);
    unsigned long length = 3;
    EXPECT_FALSE(mac.SignFinal(session, out.data(), &length));
    EXPECT_EQ(length, 4u);
    EXPECT_TRUE(mac.SignFinal(session, out.data(), &length));
    EXPECT_EQ(out, tag);

    mac.VerifyInit(session, kNoParameter, *key);
    EXPECT_TRUE(mac.Verify(session, View(data), View(tag)));
    std::vector<uint8_t> changed = data;
    changed[11] ^= 0x01;
    mac.VerifyInit(session, kNoParameter, *key);
    EXPECT_FALSE(mac.Verify(session, View(changed), View(tag)));
    mac.VerifyInit(session, kNoParameter, *key);
    mac.VerifyUpdate(session, View(data));
    EXPECT_TRUE(mac.VerifyFinal(session, View(tag)));

    const std::vector<uint8_t> fiveBytes = {tag[0], tag[1], tag[2], tag[3], 0};
    mac.VerifyInit(session, kNoParameter, *key);
    EXPECT_EQ(CodeOf([&] { mac.Verify(session, View(data), View(fiveBytes)); }), CKR_SIGNATURE_LEN_RANGE);
    mac.VerifyInit(session, kNoParameter, *key);
    mac.VerifyUpdate(session, View(data));
    EXPECT_EQ(CodeOf([&] { mac.VerifyFinal(session, View(fiveBytes)); }), CKR_SIGNATURE_LEN_RANGE);
}

TEST_F(MacFixture, NoOperationNoSignature)
{
    std::vector<uint8_t> out(4);
    unsigned long length = out.size();
    const std::vector<uint8_t> data(16, 1);
    EXPECT_EQ(CodeOf([&] { mac.Sign(session, View(data), out.data(), &length); }), CKR_GENERAL_ERROR);
    EXPECT_EQ(CodeOf([&] { mac.SignUpdate(session, View(data)); }), CKR_GENERAL_ERROR);
    EXPECT_EQ(CodeOf([&] { mac.SignInit(session, Parameter(Hex("00")), *key); }), CKR_MECHANISM_PARAM_INVALID);
}

// What the token's mechanism table reports for each class, before and after a session clone.
TEST(GostMechanismInfo, TypeFlagsAndKeySizes)
{
    const struct {
        std::shared_ptr<zrck::TokMechanism> mechanism;
        CK_MECHANISM_TYPE type;
        CK_FLAGS flags;
        CK_ULONG keySize;
    } cases[] = {
        {std::make_shared<qel::TokUAGostEcbMechanism>(), 0x80420011, CKF_ENCRYPT | CKF_DECRYPT, 32},
        {std::make_shared<qel::TokUAGostCntMechanism>(), 0x80420012, CKF_ENCRYPT | CKF_DECRYPT, 32},
        {std::make_shared<qel::TokUAGostCfbMechanism>(), 0x80420013, CKF_ENCRYPT | CKF_DECRYPT, 32},
        {std::make_shared<qel::TokUAGostMacMechanism>(), 0x80420014, CKF_SIGN | CKF_VERIFY, 32},
        {std::make_shared<qel::TokUAGostWrapMechanism>(), 0x80420016, CKF_WRAP | CKF_UNWRAP, 32},
        {std::make_shared<qel::TokUAGostHashMechanism>(), 0x80420021, CKF_DIGEST, 0},
        {std::make_shared<qel::TokUAGostKeyGenMechanism>(), 0x80420041, CKF_GENERATE, 32},
    };
    for (const auto& c : cases) {
        std::unique_ptr<zrck::TokMechanism> clone(c.mechanism->Clone());
        const zrck::TokMechanism* both[] = {c.mechanism.get(), clone.get()};
        for (const zrck::TokMechanism* mechanism : both) {
            SCOPED_TRACE(mechanism->GetObjectClassName());
            EXPECT_EQ(mechanism->GetMechanismType(), c.type);
            CK_MECHANISM_INFO info{};
            mechanism->FillMechanismInfo(&info);
            EXPECT_EQ(info.flags, c.flags);
            EXPECT_EQ(info.ulMinKeySize, c.keySize);
            EXPECT_EQ(info.ulMaxKeySize, c.keySize);
        }
    }
}

}  // namespace
