// GOST 34.311 digest mechanism: known answers, the parameter forms and untrusted parameters.
#include <gtest/gtest.h>

#include "gost_test_token.h"
#include "national/tok_ua_gost_hash_mechanism.h"

using namespace gost_test;
using zrtest::CodeOf;

namespace {

tru::Buffer View(const std::string& bytes)
{
    return tru::Buffer(reinterpret_cast<const uint8_t*>(bytes.data()), uint32_t(bytes.size()));
}

// Source of the known answers: the GOST 34.311 vectors of the issue (DKE1, zero start vector).
const char* const kAbc = "A34A53504D8BA070CB73A583146167A0A3C226D793440D9CEA24465FE02251F2";
const char* const kEmpty = "DA37BDF41145E39E34111775B40646E8059C2E969C1460BB98ABCCB26F0F76A5";
const char* const k123123 = "34D4DA2C04E9C1CEB933282069C864617D94ED7CC5C0A9840C0C1A99629DF637";

std::string Length(size_t n) { return n < 0x80 ? std::string(1, char(n)) : std::string("\x81", 1) + char(n); }
std::string Sequence(const std::string& body) { return "\x30" + Length(body.size()) + body; }
std::string OctetString(const std::string& body) { return "\x04" + Length(body.size()) + body; }

struct HashFixture : ::testing::Test {
    GostTestToken token;
    GostTestSession session{token};
    qel::TokUAGostHashMechanism hash;

    // DigestInit with the parameter (null pointer when absent), then one-part over the data.
    std::string Digest(const std::string* parameter, const std::string& data)
    {
        const zrck::MechanismParameter mechanism(CKM_GOST34311, parameter ? View(*parameter) : tru::Buffer());
        hash.DigestInit(session, mechanism);
        std::vector<uint8_t> out(32);
        unsigned long length = out.size();
        EXPECT_TRUE(hash.Digest(session, View(data), out.data(), &length));
        EXPECT_EQ(length, 32u);
        return ToHex(out);
    }

    CK_RV InitCode(const std::string& parameter, std::string* message = nullptr)
    {
        try {
            hash.DigestInit(session, zrck::MechanismParameter(CKM_GOST34311, View(parameter)));
        } catch (const zrck::Exception& e) {
            if (message != nullptr) *message = e.what();
            return e.GetCode();
        }
        return CKR_OK;
    }
};

TEST_F(HashFixture, KnownAnswersWholeAndSplit)
{
    EXPECT_EQ(Digest(nullptr, "abc"), kAbc);
    EXPECT_EQ(Digest(nullptr, ""), kEmpty);
    EXPECT_EQ(Digest(nullptr, "123123"), k123123);

    const std::string data = "123123";
    for (size_t piece = 1; piece <= data.size(); ++piece) {
        hash.DigestInit(session, zrck::MechanismParameter(CKM_GOST34311, tru::Buffer()));
        for (size_t at = 0; at < data.size(); at += piece) hash.DigestUpdate(session, View(data.substr(at, piece)));
        hash.DigestUpdate(session, tru::Buffer());
        std::vector<uint8_t> out(32);
        unsigned long length = out.size();
        EXPECT_TRUE(hash.DigestFinal(session, out.data(), &length));
        EXPECT_EQ(ToHex(out), k123123) << piece;
    }
}

TEST_F(HashFixture, ShortBufferKeepsTheOperation)
{
    hash.DigestInit(session, zrck::MechanismParameter(CKM_GOST34311, tru::Buffer()));
    std::vector<uint8_t> out(32);
    unsigned long length = 0;
    EXPECT_TRUE(hash.Digest(session, View("abc"), nullptr, &length));
    EXPECT_EQ(length, 32u);
    length = 31;
    EXPECT_FALSE(hash.Digest(session, View("abc"), out.data(), &length));
    EXPECT_EQ(length, 32u);
    EXPECT_TRUE(hash.Digest(session, View("abc"), out.data(), &length));
    EXPECT_EQ(ToHex(out), kAbc);
    // Finished: no data call until the next DigestInit.
    EXPECT_EQ(CodeOf([&] { hash.DigestUpdate(session, View("abc")); }), CKR_GENERAL_ERROR);
}

TEST_F(HashFixture, EveryParameterFormOfDke1AndAZeroStartVectorAgrees)
{
    const std::string dkeId = DerOid(1);
    const std::string dkeValue = Der(1);
    const std::string withZeroIv = Sequence(dkeId + OctetString(std::string(32, '\0')));
    const std::string withoutIv = Sequence(dkeValue);
    for (const std::string* parameter : {&dkeId, &dkeValue, &withZeroIv, &withoutIv}) {
        EXPECT_EQ(Digest(parameter, "abc"), kAbc);
    }
    // Another S-box or start vector gives another digest.
    const std::string dke4 = DerOid(4);
    EXPECT_NE(Digest(&dke4, "abc"), kAbc);
    const std::string otherIv = Sequence(dkeId + OctetString(std::string(32, '\x01')));
    EXPECT_NE(Digest(&otherIv, "abc"), kAbc);
    EXPECT_EQ(Vec(hash.GetStartVector()), std::vector<uint8_t>(32, 1));
}

TEST_F(HashFixture, UntrustedParametersGetTheParameterError)
{
    std::string unknownId = DerOid(1);
    unknownId.back() = 11;  // 1.2.804.2.1.1.1.1.1.1.10.11
    std::string deep;
    for (int i = 0; i < 20000; ++i) deep += "\x24\x80";  // constructed OCTET STRINGs, indefinite lengths
    const struct {
        const char* name;
        std::string parameter;
        const char* message;
    } cases[] = {
        {"iv of 8 bytes", Sequence(DerOid(1) + OctetString(std::string(8, '\0'))), "IV size should be 32 bytes"},
        {"DKE of 32 bytes", OctetString(std::string(32, '\x11')), "DKE size should be 64 bytes"},
        {"identifier outside the ten", unknownId, ""},
        {"no bytes", "", ""},
        {"garbage", "\xFF\xFF\xFF", ""},
        {"INTEGER", std::string("\x02\x01\x00", 3), ""},
        {"truncated DKE", Der(1).substr(0, 40), ""},
        {"length past the end", std::string("\x04\x84\x7F\xFF\xFF\xFF", 6) + std::string(64, 'a'), ""},
        {"trailing byte", Der(1) + std::string(1, '\0'), ""},
        {"extra element", Sequence(DerOid(1) + OctetString(std::string(32, '\0')) + std::string("\x05\x00", 2)), ""},
        {"deep nesting", deep, ""},
        {"empty identifier", std::string("\x06\x00", 2), ""},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        std::string message = "none";
        EXPECT_EQ(InitCode(c.parameter, &message), CKR_MECHANISM_PARAM_INVALID);
        if (c.message[0] != '\0') {
            EXPECT_EQ(message, c.message);
        }
    }
    // A refused parameter leaves no operation behind.
    EXPECT_EQ(CodeOf([&] { hash.DigestUpdate(session, View("abc")); }), CKR_GENERAL_ERROR);
}

TEST_F(HashFixture, SBlockKeepsTheDkeOfADerValue)
{
    hash.SetSBlock(qel::UAGostUtl::GetInstance()->GetDKE(2));
    EXPECT_EQ(hash.GetSBlock().Size(), 64u);
    const std::string odd = Der(2).substr(0, 65);
    hash.SetSBlock(View(odd));
    EXPECT_EQ(hash.GetSBlock().Size(), 65u);
    auto clone = std::unique_ptr<zrck::TokMechanism>(hash.Clone());
    EXPECT_EQ(clone->GetMechanismType(), CKM_GOST34311);
    EXPECT_TRUE(dynamic_cast<qel::TokUAGostHashMechanism&>(*clone).GetSBlock().Empty());
}

}  // namespace
