// The EC utility: curve table, DER codecs of points and signatures, and ECDSA with a fake random
// source standing in for the token.
#include "swcrypto/tok_ecdsa_utl.h"

#include "fake_random_utl.h"

#include "ckbase/exception.h"

#include <gtest/gtest.h>

#include <mbedtls/ecp.h>

#include <random>
#include <string>
#include <vector>

namespace {

using swtest::FakeRandomUtl;

using Bytes = std::vector<uint8_t>;

Bytes FromHex(const std::string& hex)
{
    Bytes out;
    for (size_t i = 0; i + 1 < hex.size(); i += 2) out.push_back(static_cast<uint8_t>(std::stoul(hex.substr(i, 2), nullptr, 16)));
    return out;
}

Bytes Of(const tru::Buffer& b) { return Bytes(b.Data(), b.Data() + b.Size()); }
tru::Buffer View(const Bytes& b) { return tru::Buffer(b.data(), static_cast<uint32_t>(b.size())); }
Bytes Cat(Bytes a, const Bytes& b)
{
    a.insert(a.end(), b.begin(), b.end());
    return a;
}

template <class F>
CK_RV CodeOf(F&& f)
{
    try {
        f();
    } catch (const zrck::Exception& e) {
        return e.GetCode();
    }
    return CKR_OK;
}

struct CurveRow {
    const char* name;
    const tru::Buffer* oid;
    int group;
    unsigned signSize;
};

const CurveRow kCurves[] = {
    {"secp192r1", &mbt::TokECDsaUtl::SECP192R1_OID, MBEDTLS_ECP_DP_SECP192R1, 48},
    {"secp224r1", &mbt::TokECDsaUtl::SECP224R1_OID, MBEDTLS_ECP_DP_SECP224R1, 56},
    {"secp256r1", &mbt::TokECDsaUtl::SECP256R1_OID, MBEDTLS_ECP_DP_SECP256R1, 64},
    {"secp384r1", &mbt::TokECDsaUtl::SECP384R1_OID, MBEDTLS_ECP_DP_SECP384R1, 96},
    {"secp521r1", &mbt::TokECDsaUtl::SECP521R1_OID, MBEDTLS_ECP_DP_SECP521R1, 132},
    {"brainpoolP256r1", &mbt::TokECDsaUtl::BP256R1_OID, MBEDTLS_ECP_DP_BP256R1, 64},
    {"brainpoolP384r1", &mbt::TokECDsaUtl::BP384R1_OID, MBEDTLS_ECP_DP_BP384R1, 96},
    {"brainpoolP512r1", &mbt::TokECDsaUtl::BP512R1_OID, MBEDTLS_ECP_DP_BP512R1, 128},
    {"secp192k1", &mbt::TokECDsaUtl::SECP192K1_OID, MBEDTLS_ECP_DP_SECP192K1, 48},
    {"secp224k1", &mbt::TokECDsaUtl::SECP224K1_OID, MBEDTLS_ECP_DP_SECP224K1, 56},
    {"secp256k1", &mbt::TokECDsaUtl::SECP256K1_OID, MBEDTLS_ECP_DP_SECP256K1, 64},
};

TEST(EcCurveTable, EveryNamedCurveMapsToItsGroupAndSignatureSize)
{
    for (const CurveRow& row : kCurves) {
        SCOPED_TRACE(row.name);
        EXPECT_EQ(mbt::TokECDsaUtl::ParseECParams(*row.oid), row.group);
        EXPECT_EQ(mbt::TokECDsaUtl::CalcSignSize(*row.oid), row.signSize);
    }
    EXPECT_EQ(Of(mbt::TokECDsaUtl::SECP256R1_OID), FromHex("06082A8648CE3D030107"));
    EXPECT_EQ(mbt::TokECDsaUtl::GetAvailableMinMaxCurves(), std::make_pair(192u, 521u));
}

TEST(EcCurveTable, RefusesWhatIsNotACompleteNamedCurveOfTheTable)
{
    const struct {
        const char* name;
        std::string hex;
        CK_RV expected;
    } rows[] = {
        {"empty", "", CKR_TEMPLATE_INCOMPLETE},
        {"bare OID without tag", "2A8648CE3D030107", CKR_ATTRIBUTE_VALUE_INVALID},
        {"Curve25519 OID", "06032B656E", CKR_ATTRIBUTE_VALUE_INVALID},
        {"trailing byte", "06082A8648CE3D03010700", CKR_ATTRIBUTE_VALUE_INVALID},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(row.name);
        const Bytes params = FromHex(row.hex);
        EXPECT_EQ(CodeOf([&] { mbt::TokECDsaUtl::ParseECParams(View(params)); }), row.expected);
        EXPECT_EQ(CodeOf([&] { mbt::TokECDsaUtl::CalcSignSize(View(params)); }), row.expected);
    }
}

TEST(EcPointCodec, EncodesShortAndLongLengths)
{
    const struct {
        size_t size;
        std::string header;
    } rows[] = {{65, "0441"}, {127, "047F"}, {128, "048180"}, {133, "048185"}, {300, "0482012C"}, {1000, "048203E8"}};
    for (const auto& row : rows) {
        SCOPED_TRACE(row.size);
        const Bytes point(row.size, 0xA5);
        tru::BufferDynamic der;
        mbt::TokECDsaUtl::EncodeDerPublicKey(View(point), der);
        EXPECT_EQ(Of(der), Cat(FromHex(row.header), point));
        tru::BufferDynamic back;
        mbt::TokECDsaUtl::DecodeDerPublicKey(der, back);
        EXPECT_EQ(Of(back), point);
        mbt::TokECDsaUtl::DecodeDerPublicKey(der);
        EXPECT_EQ(Of(der), point);
    }
    for (size_t size : {size_t(0), size_t(65536)}) {
        tru::BufferDynamic der;
        EXPECT_EQ(CodeOf([&] { mbt::TokECDsaUtl::EncodeDerPublicKey(View(Bytes(size, 1)), der); }), CKR_GENERAL_ERROR);
    }
}

TEST(EcPointCodec, DecodingRefusesAnythingButOneWellFormedOctetString)
{
    const struct {
        const char* name;
        Bytes der;
        CK_RV expected;
    } rows[] = {
        {"empty point", FromHex("0400"), CKR_OK},
        {"empty input", {}, CKR_ATTRIBUTE_VALUE_INVALID},
        {"tag alone", FromHex("04"), CKR_ATTRIBUTE_VALUE_INVALID},
        {"other tag", Cat(FromHex("0341"), Bytes(65, 4)), CKR_ATTRIBUTE_VALUE_INVALID},
        {"long form below 128", Cat(FromHex("048140"), Bytes(64, 4)), CKR_ATTRIBUTE_VALUE_INVALID},
        {"content shorter than said", Cat(FromHex("0441"), Bytes(64, 4)), CKR_ATTRIBUTE_VALUE_INVALID},
        {"trailing bytes", Cat(FromHex("0441"), Bytes(66, 4)), CKR_ATTRIBUTE_VALUE_INVALID},
        {"indefinite length", Cat(FromHex("0480"), Bytes(4, 4)), CKR_FUNCTION_FAILED},
        {"long form cut short", FromHex("0482"), CKR_FUNCTION_FAILED},
        {"three length octets", Cat(FromHex("048300010000"), Bytes(4, 4)), CKR_FUNCTION_FAILED},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(row.name);
        tru::BufferDynamic out;
        EXPECT_EQ(CodeOf([&] { mbt::TokECDsaUtl::DecodeDerPublicKey(View(row.der), out); }), row.expected);
        // As an attribute value every refusal is the value's fault.
        EXPECT_EQ(CodeOf([&] { mbt::TokECDsaUtl::CheckDerPublicKey(View(row.der)); }),
                  row.expected == CKR_OK ? CKR_OK : CKR_ATTRIBUTE_VALUE_INVALID);
    }
}

TEST(EcSignatureCodec, RawToDerKeepsIntegersMinimalAndPositive)
{
    const Bytes low(32, 0x11);
    const struct {
        const char* name;
        Bytes raw;
        Bytes der;
    } rows[] = {
        {"no top bits", Cat(low, low), Cat(Cat(FromHex("30440220"), low), Cat(FromHex("0220"), low))},
        {"r with top bit", Cat(Cat(FromHex("80"), Bytes(31, 0x11)), low),
         Cat(Cat(Cat(FromHex("3045022100"), FromHex("80")), Bytes(31, 0x11)), Cat(FromHex("0220"), low))},
        {"r with leading 00 7F", Cat(Cat(FromHex("007F"), Bytes(30, 0x11)), low),
         Cat(Cat(Cat(FromHex("3043021F"), FromHex("7F")), Bytes(30, 0x11)), Cat(FromHex("0220"), low))},
        {"zero half", Cat(Bytes(32, 0), low), Cat(FromHex("302402000220"), low)},
        {"P-521 sized, long sequence length", Bytes(132, 0x22),
         Cat(Cat(FromHex("3081880242"), Bytes(66, 0x22)), Cat(FromHex("0242"), Bytes(66, 0x22)))},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(row.name);
        tru::BufferDynamic der;
        mbt::TokECDsaUtl::EncodeDerSignature(View(row.raw), der);
        EXPECT_EQ(Of(der), row.der);
    }
    for (const Bytes& bad : {Bytes{}, Bytes(63, 1), Bytes(65536, 1)}) {
        tru::BufferDynamic der;
        EXPECT_EQ(CodeOf([&] { mbt::TokECDsaUtl::EncodeDerSignature(View(bad), der); }), CKR_GENERAL_ERROR);
    }
}

TEST(EcSignatureCodec, DerToRawPadsToTheLongerIntegerOrToTheCurve)
{
    // r of 31 bytes, s of 33 with its sign byte: 64 bytes out.
    const Bytes r(31, 0x33);
    const Bytes s = Cat(FromHex("00"), Bytes(32, 0x99));
    const Bytes der = Cat(Cat(Cat(FromHex("3044021F"), r), FromHex("022100")), Bytes(32, 0x99));
    tru::BufferDynamic raw;
    mbt::TokECDsaUtl::DecodeDerSignature(View(der), raw);
    EXPECT_EQ(Of(raw), Cat(Cat(FromHex("00"), r), Bytes(32, 0x99)));

    // Both integers short: the plain form is short, the curve form keeps the curve's length.
    const Bytes shortDer = Cat(Cat(FromHex("3040021F"), r), Cat(FromHex("021D"), Bytes(29, 0x44)));
    mbt::TokECDsaUtl::DecodeDerSignature(View(shortDer), raw);
    EXPECT_EQ(raw.Size(), 62u);
    mbt::TokECDsaUtl::DecodeDerSignatureForCurve(mbt::TokECDsaUtl::SECP256R1_OID, View(shortDer), raw);
    EXPECT_EQ(Of(raw), Cat(Cat(FromHex("00"), r), Cat(Bytes(3, 0), Bytes(29, 0x44))));
    // An integer longer than the curve allows.
    EXPECT_EQ(CodeOf([&] {
                  mbt::TokECDsaUtl::DecodeDerSignatureForCurve(mbt::TokECDsaUtl::SECP192R1_OID, View(der), raw);
              }),
              CKR_FUNCTION_FAILED);
}

TEST(EcSignatureCodec, DerToRawRefusesMalformedSignatures)
{
    const Bytes two = FromHex("02021111");
    const struct {
        const char* name;
        Bytes der;
        CK_RV expected;
    } rows[] = {
        {"empty", {}, CKR_GENERAL_ERROR},
        {"not a sequence", Cat(FromHex("3108"), Cat(two, two)), CKR_GENERAL_ERROR},
        {"sequence length too long", Cat(FromHex("3009"), Cat(two, two)), CKR_GENERAL_ERROR},
        {"sequence length too short", Cat(FromHex("3007"), Cat(two, two)), CKR_GENERAL_ERROR},
        {"sequence length octets cut", FromHex("3082"), CKR_FUNCTION_FAILED},
        {"r not an integer", Cat(FromHex("3008"), Cat(FromHex("04021111"), two)), CKR_FUNCTION_FAILED},
        {"r longer than the rest", Cat(FromHex("3008"), Cat(FromHex("02091111"), two)), CKR_FUNCTION_FAILED},
        {"s missing", Cat(FromHex("3004"), two), CKR_FUNCTION_FAILED},
        {"one-byte r", Cat(FromHex("3007"), Cat(FromHex("020111"), two)), CKR_FUNCTION_FAILED},
        {"trailing bytes inside the sequence", Cat(FromHex("300A"), Cat(Cat(two, two), FromHex("0000"))), CKR_OK},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(row.name);
        tru::BufferDynamic raw;
        EXPECT_EQ(CodeOf([&] { mbt::TokECDsaUtl::DecodeDerSignature(View(row.der), raw); }), row.expected);
    }
}

class EcdsaOnCurve : public ::testing::TestWithParam<CurveRow> {};

TEST_P(EcdsaOnCurve, GeneratedKeySignsRandomisedAndVerifies)
{
    const tru::Buffer& params = *GetParam().oid;
    FakeRandomUtl utl(7);
    tru::BufferDynamic d;
    tru::BufferDynamic point;
    utl.GenKeyPair(params, d, point);
    const unsigned half = GetParam().signSize / 2;
    EXPECT_EQ(point.Size(), 1 + 2 * half);
    EXPECT_EQ(point.Data()[0], 0x04);
    EXPECT_LE(d.Size(), half);
    EXPECT_NE(d.Data()[0], 0);
    EXPECT_TRUE(mbt::TokECDsaUtl::VerifyPublicKey(params, point));

    const Bytes hash(32, 0x5C);
    tru::BufferDynamic first;
    tru::BufferDynamic second;
    utl.GenSign(params, d, View(hash), first);
    utl.GenSign(params, d, View(hash), second);
    EXPECT_NE(Of(first), Of(second));
    EXPECT_TRUE(utl.VerifySign(params, point, View(hash), first));
    EXPECT_TRUE(utl.VerifySign(params, point, View(hash), second));

    tru::BufferDynamic raw;
    mbt::TokECDsaUtl::DecodeDerSignatureForCurve(params, first, raw);
    EXPECT_EQ(raw.Size(), GetParam().signSize);
    Bytes changed = Of(raw);
    changed[3] ^= 0x01;
    tru::BufferDynamic changedDer;
    mbt::TokECDsaUtl::EncodeDerSignature(View(changed), changedDer);
    EXPECT_FALSE(utl.VerifySign(params, point, View(hash), changedDer));
    EXPECT_FALSE(utl.VerifySign(params, point, View(hash), View(FromHex("3000"))));
}

INSTANTIATE_TEST_SUITE_P(NamedCurves, EcdsaOnCurve, ::testing::ValuesIn(kCurves),
                         [](const ::testing::TestParamInfo<CurveRow>& info) { return std::string(info.param.name); });

TEST(EcdsaHost, PointsOffTheCurveOrNotUncompressedAreRefused)
{
    FakeRandomUtl utl(3);
    tru::BufferDynamic d;
    tru::BufferDynamic point;
    utl.GenKeyPair(mbt::TokECDsaUtl::SECP256R1_OID, d, point);
    Bytes offCurve = Of(point);
    offCurve.back() ^= 0x01;
    const Bytes infinity = FromHex("00");
    for (const Bytes& bad : {offCurve, Bytes{}, infinity, Bytes(offCurve.begin(), offCurve.end() - 1)}) {
        EXPECT_EQ(CodeOf([&] { mbt::TokECDsaUtl::VerifyPublicKey(mbt::TokECDsaUtl::SECP256R1_OID, View(bad)); }),
                  CKR_PUBLIC_KEY_INVALID);
    }
    // The point of another curve.
    EXPECT_EQ(CodeOf([&] { mbt::TokECDsaUtl::VerifyPublicKey(mbt::TokECDsaUtl::SECP384R1_OID, point); }),
              CKR_PUBLIC_KEY_INVALID);
}

TEST(EcdsaHost, AFailingRandomSourceFailsTheOperationWithItsOwnError)
{
    FakeRandomUtl utl(5);
    tru::BufferDynamic d;
    tru::BufferDynamic point;
    utl.GenKeyPair(mbt::TokECDsaUtl::SECP192R1_OID, d, point);
    utl.fail = true;
    tru::BufferDynamic signature;
    EXPECT_EQ(CodeOf([&] { utl.GenSign(mbt::TokECDsaUtl::SECP192R1_OID, d, View(Bytes(20, 1)), signature); }),
              CKR_DEVICE_REMOVED);
    EXPECT_EQ(CodeOf([&] { utl.GenKeyPair(mbt::TokECDsaUtl::SECP192R1_OID, d, point); }), CKR_DEVICE_REMOVED);
    // Without a token there is no random source.
    mbt::TokECDsaUtl bare(nullptr);
    EXPECT_EQ(CodeOf([&] { bare.GenKeyPair(mbt::TokECDsaUtl::SECP192R1_OID, d, point); }), CKR_FUNCTION_FAILED);
}

} // namespace
