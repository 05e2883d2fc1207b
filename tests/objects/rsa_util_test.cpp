// PKCS#1 v1.5 block formatting and DigestInfo encodings.
#include <gtest/gtest.h>

#include <functional>

#include "ckbase/exception.h"
#include "objects/mechanism_session.h"
#include "objects/tok_rsa_util.h"
#include "support/mutex.h"
#include "template_builder.h"

namespace {

using zrck::TokRsaUtl;
using zrtest::Bytes;

Bytes FromHex(const std::string& hex) {
    Bytes out;
    for (size_t i = 0; i + 1 < hex.size(); i += 2)
        out.push_back(static_cast<unsigned char>(std::stoul(hex.substr(i, 2), nullptr, 16)));
    return out;
}

tru::Buffer View(const Bytes& bytes) { return tru::Buffer(bytes.data(), static_cast<uint32_t>(bytes.size())); }

template <class Call>
CK_RV CodeOf(Call call) {
    try {
        call();
    } catch (const zrck::Exception& e) {
        return e.GetCode();
    }
    return CKR_OK;
}

// Random source that answers from a script, then a fixed byte.
class ScriptedRandom : public zrck::TokRandomGenerator {
public:
    ScriptedRandom(Bytes script, unsigned char then)
        : TokRandomGenerator(nullptr), mScript(std::move(script)), mThen(then) {}
    int GetNext(tru::Buffer& output) override {
        for (uint32_t i = 0; i < output.Size(); ++i) {
            output.Data()[i] = mNext < mScript.size() ? mScript[mNext++] : mThen;
        }
        ++requests;
        return 0;
    }
    unsigned int requests = 0;

private:
    Bytes mScript;
    size_t mNext = 0;
    unsigned char mThen;
};

// DigestInfo prefixes as RFC 8017 (PKCS #1 v2.2) section 9.2, note 1, lists them.
struct DigestInfoCase {
    const char* name;
    void (*prepare)(const tru::Buffer&, tru::BufferDynamic&);
    const char* prefixHex;
    size_t hashLength;
};

const DigestInfoCase kDigestInfoCases[] = {
    {"SHA1", TokRsaUtl::PrepareSha1DigestInfo, "3021300906052b0e03021a05000414", 20},
    {"SHA224", TokRsaUtl::PrepareSha224DigestInfo, "302d300d06096086480165030402040500041c", 28},
    {"SHA256", TokRsaUtl::PrepareSha256DigestInfo, "3031300d060960864801650304020105000420", 32},
    {"SHA384", TokRsaUtl::PrepareSha384DigestInfo, "3041300d060960864801650304020205000430", 48},
    {"SHA512", TokRsaUtl::PrepareSha512DigestInfo, "3051300d060960864801650304020305000440", 64},
};

TEST(DigestInfo, PrefixesMatchPublishedDerAndRefuseWrongHashLengths) {
    for (const DigestInfoCase& c : kDigestInfoCases) {
        SCOPED_TRACE(c.name);
        Bytes hash(c.hashLength);
        for (size_t i = 0; i < hash.size(); ++i) hash[i] = static_cast<unsigned char>(i + 1);
        tru::BufferDynamic out;
        c.prepare(View(hash), out);
        Bytes expected = FromHex(c.prefixHex);
        expected.insert(expected.end(), hash.begin(), hash.end());
        EXPECT_EQ(zrtest::ToBytes(out), expected);

        for (size_t wrong : {c.hashLength - 1, c.hashLength + 1, size_t(0)}) {
            Bytes other(wrong, 0xAB);
            EXPECT_EQ(CodeOf([&] { c.prepare(View(other), out); }), CKR_GENERAL_ERROR) << wrong;
        }
    }
}

struct PaddingCase {
    const char* name;
    unsigned char blockType;
    unsigned int k;
    size_t dataLength;
    CK_RV expected;
};

const PaddingCase kPaddingCases[] = {
    {"eight padding bytes is the least", 1, 128, 117, CKR_OK},
    {"seven padding bytes", 1, 128, 118, CKR_DATA_LEN_RANGE},
    {"empty data", 1, 128, 0, CKR_DATA_LEN_RANGE},
    {"data longer than the block", 2, 16, 40, CKR_DATA_LEN_RANGE},
    {"type 2 at its limit", 2, 64, 53, CKR_OK},
    {"block type 3 after the length checks", 3, 128, 10, CKR_DATA_INVALID},
    {"block type 3 with too long data", 3, 128, 118, CKR_DATA_LEN_RANGE},
};

TEST(Pkcs1Padding, LengthAndTypeRules) {
    for (const PaddingCase& c : kPaddingCases) {
        SCOPED_TRACE(c.name);
        ScriptedRandom random({}, 0x5A);
        Bytes data(c.dataLength, 0x42);
        tru::BufferDynamic out;
        EXPECT_EQ(CodeOf([&] { TokRsaUtl::DoPkcs1Padding(random, c.blockType, View(data), c.k, out); }), c.expected);
        if (c.expected == CKR_OK) {
            EXPECT_EQ(out.Size(), c.k);
        }
    }
}

TEST(Pkcs1Padding, SignatureBlockLayout) {
    ScriptedRandom random({}, 0x5A);
    const Bytes data = {0xDE, 0xAD};
    tru::BufferDynamic out;
    TokRsaUtl::DoPkcs1Padding(random, 1, View(data), 16, out);
    EXPECT_EQ(zrtest::ToBytes(out), FromHex("0001ffffffffffffffffffffff00dead"));
    EXPECT_EQ(random.requests, 0u);
}

TEST(Pkcs1Padding, EncryptionPaddingIsDrawnInBlocksAndZeroBytesAreRedrawn) {
    // One request for the whole padding, then as many replacements as zeros are left; zero
    // draws are discarded, also among the replacements.
    ScriptedRandom random({0x00, 0x11, 0x00, 0x00, 0x22, 0x44, 0x55, 0x66, 0x77, 0x00, 0x88, 0x99}, 0x33);
    const Bytes data(5, 0x42);
    tru::BufferDynamic out;
    TokRsaUtl::DoPkcs1Padding(random, 2, View(data), 16, out);
    EXPECT_EQ(zrtest::ToBytes(out), FromHex("00027711889922445566004242424242"));
    EXPECT_EQ(random.requests, 3u);
}

TEST(Pkcs1Padding, RandomSourceThatOnlyGivesZeroFails) {
    ScriptedRandom random({}, 0x00);
    const Bytes data(5, 0x42);
    tru::BufferDynamic out;
    EXPECT_EQ(CodeOf([&] { TokRsaUtl::DoPkcs1Padding(random, 2, View(data), 16, out); }), CKR_FUNCTION_FAILED);
}

// A session whose token has gone.
class TokenlessSession : public zrck::MechanismSession {
public:
    zrck::ObjectToken* GetOwnerToken() override { return nullptr; }
    bool IsReadOnly() const override { return true; }
    void GenerateRandom(tru::Buffer&) override {}
    zrck::TokObjectPtr CreateObject(zrck::AttributeTemplate&, bool) override { return nullptr; }
};

TEST(Pkcs1Padding, SessionWithoutTokenAfterTheDataCheck) {
    vdk::MutexNullFactory::RegisterFactory();
    {
        TokenlessSession session;
        const Bytes data(5, 0x42);
        tru::BufferDynamic out;
        EXPECT_EQ(CodeOf([&] { TokRsaUtl::DoPkcs1Padding(session, 2, View(data), 64, out); }), CKR_DEVICE_REMOVED);
        EXPECT_EQ(CodeOf([&] { TokRsaUtl::DoPkcs1Padding(session, 2, View(Bytes()), 64, out); }), CKR_DATA_LEN_RANGE);
    }
    vdk::MutexFactory::DestroyInstance();
}

struct UnpaddingCase {
    const char* name;
    const char* blockHex;
    unsigned int k;
    unsigned char expectedType;
    CK_RV expected;
    const char* dataHex;
};

const UnpaddingCase kUnpaddingCases[] = {
    {"valid signature block", "0001ffffffffffffffffff00c0ffee", 15, 1, CKR_OK, "c0ffee"},
    {"valid encryption block", "00021122334455667788990042", 13, 2, CKR_OK, "42"},
    {"truncated block", "000211223344556677889900", 13, 2, CKR_ENCRYPTED_DATA_INVALID, ""},
    {"longer than k", "0002112233445566778899004243", 13, 2, CKR_ENCRYPTED_DATA_INVALID, ""},
    {"signature block where encryption expected", "0001ffffffffffffffffff0042", 13, 2, CKR_ENCRYPTED_DATA_INVALID, ""},
    {"encryption block where signature expected", "00021122334455667788990042", 13, 1, CKR_SIGNATURE_INVALID, ""},
    {"seven padding bytes", "000211223344556677004242", 12, 2, CKR_ENCRYPTED_DATA_INVALID, ""},
    {"zero inside the padding", "00021122330055667788990042", 13, 2, CKR_ENCRYPTED_DATA_INVALID, ""},
    {"no separator", "0002112233445566778899aabb", 13, 2, CKR_ENCRYPTED_DATA_INVALID, ""},
    {"separator last", "000211223344556677889900", 12, 2, CKR_ENCRYPTED_DATA_INVALID, ""},
    {"leading byte not zero", "01021122334455667788990042", 13, 2, CKR_ENCRYPTED_DATA_INVALID, ""},
    {"block type zero", "00001122334455667788990042", 13, 2, CKR_ENCRYPTED_DATA_INVALID, ""},
    {"signature padding not all FF", "0001fffffffffffffffffe0042", 13, 1, CKR_SIGNATURE_INVALID, ""},
    {"short signature padding", "0001ffffffffffffff0042", 11, 1, CKR_SIGNATURE_INVALID, ""},
    {"tiny block", "00020041", 4, 2, CKR_ENCRYPTED_DATA_INVALID, ""},
};

TEST(Pkcs1Unpadding, StrictPerBlockTypeWithOneCodePerOperation) {
    for (const UnpaddingCase& c : kUnpaddingCases) {
        SCOPED_TRACE(c.name);
        const Bytes block = FromHex(c.blockHex);
        tru::BufferDynamic out;
        EXPECT_EQ(CodeOf([&] { TokRsaUtl::DoPkcs1UnPadding(View(block), c.k, c.expectedType, out); }), c.expected);
        if (c.expected == CKR_OK) {
            EXPECT_EQ(zrtest::ToBytes(out), FromHex(c.dataHex));
        }
    }
}

TEST(Pkcs1Unpadding, RecoversWhatPaddingBuilt) {
    ScriptedRandom random({}, 0x9C);
    const Bytes data = FromHex("0102030405060708090a");
    for (unsigned char type : {TokRsaUtl::BLOCK_TYPE_SIGNATURE, TokRsaUtl::BLOCK_TYPE_ENCRYPTION}) {
        tru::BufferDynamic block, recovered;
        TokRsaUtl::DoPkcs1Padding(random, type, View(data), 64, block);
        TokRsaUtl::DoPkcs1UnPadding(block, 64, type, recovered);
        EXPECT_EQ(zrtest::ToBytes(recovered), data);
    }
}

}  // namespace
