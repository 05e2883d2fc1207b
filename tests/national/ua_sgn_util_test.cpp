#include "national/ua_sgn_util.h"

#include "national/dke_tables.h"
#include "dstu_test_util.h"

#include <gtest/gtest.h>

using namespace dstutest;
using qel::UASgnUtl;

namespace {

const Bytes kDke1(qel::glbDKE1 + 2, qel::glbDKE1 + qel::kDkeDerSize);

// The standard's m = 257 curve as explicit parameters, with hooks to spoil one field.
struct ExplicitCurve {
    Bytes version;  // empty: absent
    long m = 257;
    Bytes polygon = Int(12);
    long a = 0;
    Bytes b = Hex("10BEE3DB6AEA9E1F86578C45C12594FF942394A7D738F9187E6515017294F4CE01");
    Bytes n = Hex("00800000000000000000000000000000006759213AF182E987D3E17714907D470D");
    Bytes bp = Hex("B60FD2D8DCE8A93423C6101BCA91C47A007E6C300B26CD556C9B0E7D20EF292A00");

    static ExplicitCurve M163()
    {
        ExplicitCurve c;
        c.m = 163;
        c.polygon = Tlv(0x30, Cat({Int(3), Int(6), Int(7)}));
        c.a = 1;
        c.b = Hex("215D45C1198A635E9203B40A21C82D2A460861FF05");
        c.n = Hex("0400000000000000000002BEC12BE2262D39BCF14D");
        c.bp = Hex("BE2358F3A3F8DA297223C4A583E94CD75D5FF8E202");
        return c;
    }

    Bytes Der(const Bytes& dke = kDke1) const
    {
        Bytes field = Tlv(0x30, Cat({Int(m), polygon}));
        Bytes body = Cat({version.empty() ? Bytes() : Tlv(0xA0, version), field, Int(a), Tlv(0x04, b), Tlv(0x02, n),
                          Tlv(0x04, bp)});
        return Tlv(0x30, Cat({Tlv(0x30, body), dke.empty() ? Bytes() : Tlv(0x04, dke)}));
    }
};

Bytes NamedCurve(uint8_t lastArc)
{
    return Tlv(0x30, Tlv(0x06, Cat({Hex("2A8624020101010103010102"), Bytes{lastArc}})));
}

struct ParseCase {
    const char* name;
    Bytes params;
    CK_RV expected;          // CKR_OK: parses
    EParamSet set;           // when it parses
};

CK_RV Parse(const Bytes& params, EParamSet& set, tru::BufferDynamic& sbox)
{
    return CodeOf([&] {
        set = UASgnUtl::ParseECParams(tru::Buffer(params.data(), static_cast<uint32_t>(params.size())), sbox,
                                      DSTU4145_POLYNOMIAL_6);
    });
}

} // namespace

TEST(UASgnUtl, NamedBlocksNameTheirSetAndCarryDke1)
{
    const struct {
        const tru::Buffer& block;
        EParamSet set;
        uint32_t signSize;
    } cases[] = {{qel::UA_SGN_PARAMSET_0_OID_DKE1_VALUE, DSTU4145_POLYNOMIAL_0, 42},
                 {qel::UA_SGN_PARAMSET_4_OID_DKE1_VALUE, DSTU4145_POLYNOMIAL_4, 48},
                 {qel::UA_SGN_PARAMSET_6_OID_DKE1_VALUE, DSTU4145_POLYNOMIAL_6, 64},
                 {qel::UA_SGN_PARAMSET_9_OID_DKE1_VALUE, DSTU4145_POLYNOMIAL_9, 108}};
    for (const auto& c : cases) {
        ASSERT_EQ(c.block.Size(), 83u);
        EXPECT_EQ(Bytes(c.block.Data(), c.block.Data() + 4), Hex("3051060D"));
        tru::BufferDynamic sbox;
        EXPECT_EQ(UASgnUtl::ParseECParams(c.block, sbox, DSTU4145_POLYNOMIAL_6), c.set);
        EXPECT_EQ(Of(sbox), kDke1);
        EXPECT_EQ(UASgnUtl::CalcSignSize(c.block, DSTU4145_POLYNOMIAL_6), c.signSize);
        EXPECT_EQ(UASgnUtl::CalcKeySize(c.block, DSTU4145_POLYNOMIAL_6), c.signSize / 2);
    }
}

TEST(UASgnUtl, ParsesOnlyTheFourCurves)
{
    ExplicitCurve withVersion0;
    withVersion0.version = Int(0);
    ExplicitCurve withVersion1;
    withVersion1.version = Int(1);
    ExplicitCurve aOne;
    aOne.a = 1;
    ExplicitCurve pentanomial;
    pentanomial.polygon = Tlv(0x30, Cat({Int(1), Int(3), Int(12)}));
    ExplicitCurve m233;
    m233.m = 233;
    ExplicitCurve otherField;
    otherField.m = 300;
    ExplicitCurve otherB;
    otherB.b[0] ^= 1;
    ExplicitCurve otherN;
    otherN.n.back() ^= 1;
    ExplicitCurve lastBpByte257;
    lastBpByte257.bp.back() ^= 1;
    ExplicitCurve shortBp;
    shortBp.bp.pop_back();
    ExplicitCurve m163TopByte = ExplicitCurve::M163();
    m163TopByte.bp.back() ^= 0x07;
    ExplicitCurve m163LowByte = ExplicitCurve::M163();
    m163LowByte.bp.front() ^= 1;

    const ParseCase cases[] = {
        {"explicit 257", ExplicitCurve().Der(), CKR_OK, DSTU4145_POLYNOMIAL_6},
        {"explicit 257, version 0", withVersion0.Der(), CKR_OK, DSTU4145_POLYNOMIAL_6},
        {"explicit 163, top base-point byte differs", m163TopByte.Der(), CKR_OK, DSTU4145_POLYNOMIAL_0},
        {"named curve without dke", NamedCurve(6), CKR_OK, DSTU4145_POLYNOMIAL_6},
        {"explicit 257, version 1", withVersion1.Der(), CKR_ATTRIBUTE_VALUE_INVALID, {}},
        {"explicit 257, a = 1", aOne.Der(), CKR_ATTRIBUTE_VALUE_INVALID, {}},
        {"explicit 257, pentanomial", pentanomial.Der(), CKR_ATTRIBUTE_VALUE_INVALID, {}},
        {"explicit 257, other b", otherB.Der(), CKR_ATTRIBUTE_VALUE_INVALID, {}},
        {"explicit 257, other n", otherN.Der(), CKR_ATTRIBUTE_VALUE_INVALID, {}},
        {"explicit 257, top base-point byte differs", lastBpByte257.Der(), CKR_ATTRIBUTE_VALUE_INVALID, {}},
        {"explicit 257, short base point", shortBp.Der(), CKR_ATTRIBUTE_VALUE_INVALID, {}},
        {"explicit 163, low base-point byte differs", m163LowByte.Der(), CKR_ATTRIBUTE_VALUE_INVALID, {}},
        {"explicit m = 233", m233.Der(), CKR_ATTRIBUTE_VALUE_INVALID, {}},
        {"explicit m = 300", otherField.Der(), CKR_ATTRIBUTE_VALUE_INVALID, {}},
        {"named curve, last arc 1", NamedCurve(1), CKR_ATTRIBUTE_VALUE_INVALID, {}},
        {"not DER", Hex("3003020101"), CKR_ATTRIBUTE_VALUE_INVALID, {}},
        {"empty", Bytes(), CKR_ATTRIBUTE_VALUE_INVALID, {}},
        {"trailing byte", Cat({NamedCurve(6), Bytes{0}}), CKR_ATTRIBUTE_VALUE_INVALID, {}},
    };
    for (const ParseCase& c : cases) {
        SCOPED_TRACE(c.name);
        EParamSet set{};
        tru::BufferDynamic sbox;
        ASSERT_EQ(Parse(c.params, set, sbox), c.expected);
        if (c.expected == CKR_OK) {
            EXPECT_EQ(set, c.set);
        }
    }
}

TEST(UASgnUtl, SboxIsReplacedOnlyByANonEmptyDke)
{
    EParamSet set{};
    tru::BufferDynamic sbox(Hex("AABB").data(), 2);
    ASSERT_EQ(Parse(NamedCurve(6), set, sbox), CKR_OK);
    EXPECT_EQ(Of(sbox), Hex("AABB"));
    ASSERT_EQ(Parse(ExplicitCurve().Der(Hex("0102")), set, sbox), CKR_OK);
    EXPECT_EQ(Of(sbox), Hex("0102"));
}

TEST(UASgnUtl, SizesOfSetsOutsideTheFourFail)
{
    EXPECT_EQ(CodeOf([] { UASgnUtl::CalcSignSize(GostR3410_2001_ParamSetA); }), CKR_FUNCTION_FAILED);
    EXPECT_EQ(CodeOf([] { UASgnUtl::CalcSignSize(DSA_ECP_SECP256R1); }), CKR_FUNCTION_FAILED);
}

TEST(UASgnUtl, PrepareSign4VerifyBringsLongSignaturesToTheDeviceForm)
{
    Bytes sig44(44);
    for (size_t i = 0; i < sig44.size(); ++i) sig44[i] = static_cast<uint8_t>(i + 1);
    sig44[21] = 0;
    sig44[43] = 0;
    Bytes expected = Cat({Bytes(sig44.begin(), sig44.begin() + 21), Bytes(sig44.begin() + 22, sig44.begin() + 43)});
    Bytes dirtySecond = sig44;
    dirtySecond[43] = 1;
    Bytes dirtyFirst = sig44;
    dirtyFirst[21] = 1;

    const struct {
        const char* name;
        Bytes in;
        CK_RV rv;
        Bytes out;
    } cases[] = {
        {"exact size unchanged", Bytes(42, 7), CKR_OK, Bytes(42, 7)},
        {"surplus zeros dropped", sig44, CKR_OK, expected},
        {"non-zero surplus, second half", dirtySecond, CKR_SIGNATURE_INVALID, dirtySecond},
        {"non-zero surplus, first half", dirtyFirst, CKR_SIGNATURE_INVALID, dirtyFirst},
        {"odd length", Bytes(43), CKR_SIGNATURE_LEN_RANGE, Bytes(43)},
        {"short", Bytes(40), CKR_SIGNATURE_LEN_RANGE, Bytes(40)},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        tru::BufferDynamic signature(c.in.data(), static_cast<uint32_t>(c.in.size()));
        EXPECT_EQ(CodeOf([&] { UASgnUtl::PrepareSign4Verify(DSTU4145_POLYNOMIAL_0, signature); }), c.rv);
        EXPECT_EQ(Of(signature), c.out);
    }
}

TEST(UASgnUtl, PointTags)
{
    tru::BufferDynamic point(Bytes(127, 0x11).data(), 127);
    UASgnUtl::AddECPointAsnTag(point);
    ASSERT_EQ(point.Size(), 129u);
    EXPECT_EQ(Bytes(point.Data(), point.Data() + 2), Hex("047F"));
    UASgnUtl::VerifyECPointAsnTag(point);
    UASgnUtl::RemoveECPointAsnTag(point);
    EXPECT_EQ(Of(point), Bytes(127, 0x11));

    tru::BufferDynamic tooLong(Bytes(128).data(), 128);
    EXPECT_EQ(CodeOf([&] { UASgnUtl::AddECPointAsnTag(tooLong); }), CKR_GENERAL_ERROR);
    EXPECT_EQ(tooLong.Size(), 128u);

    const struct {
        Bytes tagged;
        bool valid;
    } cases[] = {
        {Cat({Hex("040A"), Bytes(10, 5)}), true},
        {Cat({Hex("040A"), Bytes(9, 5)}), false},   // eleven bytes
        {Cat({Hex("040B"), Bytes(10, 5)}), false},  // length byte disagrees
        {Cat({Hex("030A"), Bytes(10, 5)}), false},  // not an OCTET STRING
    };
    for (const auto& c : cases) {
        tru::BufferDynamic value(c.tagged.data(), static_cast<uint32_t>(c.tagged.size()));
        EXPECT_EQ(CodeOf([&] { UASgnUtl::VerifyECPointAsnTag(value); }), c.valid ? CKR_OK : CKR_ATTRIBUTE_VALUE_INVALID);
        EXPECT_EQ(CodeOf([&] { UASgnUtl::RemoveECPointAsnTag(value); }), c.valid ? CKR_OK : CKR_GENERAL_ERROR);
        if (c.valid) {
            EXPECT_EQ(Of(value), Bytes(10, 5));
        }
    }
}
