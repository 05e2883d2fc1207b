#include "asn1/asn1_codec.h"
#include "asn1_round_trip.h"
#include "zrasn1/DSTU4145Params.h"
#include "zrasn1/Dke.h"
#include "zrasn1/Gost34311Params.h"
#include "zrasn1/SBoxOID.h"
#include "zrasn1/SBoxValue.h"
#include "zrasn1/SharedInfo.h"

#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

using qel::asn1::Decode;
using qel::asn1::EncodeDer;

namespace {

using Bytes = std::vector<uint8_t>;

Bytes Hex(const std::string& text)
{
    Bytes out;
    std::string digits;
    for (char c : text)
        if (c != ' ') digits += c;
    for (size_t i = 0; i + 1 < digits.size(); i += 2) out.push_back(uint8_t(std::stoul(digits.substr(i, 2), nullptr, 16)));
    return out;
}

Bytes Cat(std::initializer_list<Bytes> parts)
{
    Bytes out;
    for (const Bytes& p : parts) out.insert(out.end(), p.begin(), p.end());
    return out;
}

Bytes OctetString(size_t n, uint8_t fill = 0x5A)
{
    Bytes out = {0x04};
    if (n >= 128) out.push_back(0x81);
    out.push_back(uint8_t(n));
    out.insert(out.end(), n, fill);
    return out;
}

const Bytes kDke3Oid = Hex("06 0C 2A 86 24 02 01 01 01 01 01 01 0A 03");

std::string OidText(const OBJECT_IDENTIFIER_t& oid)
{
    std::string text;
    return qel::asn1::OidToText(oid, text) ? text : "<unreadable>";
}

TEST(Asn1Dke, DecodesBothAlternativesWithoutEnforcingTheSize)
{
    auto value = Decode<Dke_t>(asn_DEF_Dke, Cat({OctetString(64)}).data(), 66);
    ASSERT_TRUE(value);
    EXPECT_EQ(value->present, Dke_PR_dkeValue);
    EXPECT_EQ(value->choice.dkeValue.size, 64);

    auto id = Decode<Dke_t>(asn_DEF_Dke, kDke3Oid.data(), kDke3Oid.size());
    ASSERT_TRUE(id);
    ASSERT_EQ(id->present, Dke_PR_dkeId);
    EXPECT_EQ(OidText(id->choice.dkeId), "1.2.804.2.1.1.1.1.1.1.10.3");

    Bytes der;
    ASSERT_TRUE(EncodeDer(asn_DEF_Dke, value.get(), der));
    EXPECT_EQ(der, OctetString(64));

    const Bytes short_value = OctetString(32);
    auto small = Decode<Dke_t>(asn_DEF_Dke, short_value.data(), short_value.size());
    ASSERT_TRUE(small);
    EXPECT_EQ(small->choice.dkeValue.size, 32);
}

TEST(Asn1Gost34311Params, DecodesBareDkeAndParamsWithOrWithoutIv)
{
    struct Case {
        const char* name;
        Bytes der;
        Gost34311Params_PR present;
        int ivSize;  // -1: no iv
    } const cases[] = {
        {"bare dkeId", kDke3Oid, Gost34311Params_PR_dke, -1},
        {"bare dkeValue", OctetString(64), Gost34311Params_PR_dke, -1},
        {"params without iv", Cat({{0x30, 0x0E}, kDke3Oid}), Gost34311Params_PR_params, -1},
        {"params with 8-byte iv", Cat({{0x30, 0x18}, kDke3Oid, OctetString(8)}), Gost34311Params_PR_params, 8},
        {"params with 32-byte iv", Cat({{0x30, 0x30}, kDke3Oid, OctetString(32)}), Gost34311Params_PR_params, 32},
    };
    for (const Case& c : cases) {
        auto value = Decode<Gost34311Params_t>(asn_DEF_Gost34311Params, c.der.data(), c.der.size());
        ASSERT_TRUE(value) << c.name;
        EXPECT_EQ(value->present, c.present) << c.name;
        if (c.present == Gost34311Params_PR_params) {
            const auto& params = value->choice.params;
            EXPECT_EQ(params.dke.present, Dke_PR_dkeId) << c.name;
            EXPECT_EQ(params.iv ? params.iv->size : -1, c.ivSize) << c.name;
        }
        EXPECT_TRUE(asn1_test::DecodeAndRoundTrip(asn_DEF_Gost34311Params, c.der.data(), c.der.size())) << c.name;
    }
}

// An explicitly given curve: m = 163 with pentanomial (7, 6, 3), a = 1, b, n, bp.
Bytes EcBinary(const Bytes& version, const Bytes& a = Hex("02 01 01"))
{
    const Bytes field = Hex("30 0F 02 02 00 A3 30 09 02 01 07 02 01 06 02 01 03");
    const Bytes body = Cat({version, field, a, OctetString(21, 0x11), Hex("02 02 7F FF"), OctetString(22, 0x22)});
    return Cat({{0x30, uint8_t(body.size())}, body});
}

TEST(Asn1Dstu4145Params, EcBinaryVersionDefaultsToZeroAndIsLeftOutInDer)
{
    const Bytes ec = EcBinary({});
    const Bytes der = Cat({{0x30, uint8_t(ec.size() + 4)}, ec, OctetString(2)});
    auto value = qel::asn1::DecodeDstu4145Params(der.data(), der.size());
    ASSERT_TRUE(value);
    ASSERT_EQ(value->params.present, DSTU4145Params__params_PR_ecbinary);
    const ECBinary_t& curve = value->params.choice.ecbinary;
    ASSERT_NE(curve.version, nullptr);
    long version = -1;
    ASSERT_EQ(asn_INTEGER2long(curve.version, &version), 0);
    EXPECT_EQ(version, 0);
    EXPECT_EQ(curve.a, 1);
    ASSERT_EQ(curve.f.polygon->present, BinaryField__polygon_PR_pentanomial);
    EXPECT_EQ(curve.bp.present, ECBinary__bp_PR_bpval);
    ASSERT_NE(value->dke, nullptr);

    Bytes encoded;
    ASSERT_TRUE(EncodeDer(asn_DEF_DSTU4145Params, value.get(), encoded));
    EXPECT_EQ(encoded, der) << "version 0 is not encoded";

    // An explicit version 0 decodes but DER leaves it out.
    const Bytes ec0 = EcBinary(Hex("A0 03 02 01 00"));
    const Bytes der0 = Cat({{0x30, uint8_t(ec0.size() + 4)}, ec0, OctetString(2)});
    auto v0 = qel::asn1::DecodeDstu4145Params(der0.data(), der0.size());
    ASSERT_TRUE(v0);
    ASSERT_TRUE(EncodeDer(asn_DEF_DSTU4145Params, v0.get(), encoded));
    EXPECT_EQ(encoded, der);
    EXPECT_NE(v0->params.choice.ecbinary.version, nullptr) << "the value itself is left as it was";

    // A version of 1 is kept and encoded as [0] { INTEGER 1 }.
    const Bytes ec1 = EcBinary(Hex("A0 03 02 01 01"));
    const Bytes der1 = Cat({{0x30, uint8_t(ec1.size())}, ec1});
    auto v1 = qel::asn1::DecodeDstu4145Params(der1.data(), der1.size());
    ASSERT_TRUE(v1);
    EXPECT_EQ(v1->dke, nullptr);
    ASSERT_TRUE(EncodeDer(asn_DEF_DSTU4145Params, v1.get(), encoded));
    EXPECT_EQ(encoded, der1);

    // Negative values decode (the curve parser judges them) and encode back unchanged.
    const Bytes negative = EcBinary(Hex("A0 03 02 01 FF"), Hex("02 01 FF"));
    const Bytes derNegative = Cat({{0x30, uint8_t(negative.size())}, negative});
    auto vn = qel::asn1::DecodeDstu4145Params(derNegative.data(), derNegative.size());
    ASSERT_TRUE(vn);
    EXPECT_EQ(vn->params.choice.ecbinary.a, -1);
    ASSERT_TRUE(EncodeDer(asn_DEF_DSTU4145Params, vn.get(), encoded));
    EXPECT_EQ(encoded, derNegative);

    const Bytes named = Cat({{0x30, 0x10}, kDke3Oid, {0x04, 0x00}});
    auto n = qel::asn1::DecodeDstu4145Params(named.data(), named.size());
    ASSERT_TRUE(n);
    EXPECT_EQ(n->params.present, DSTU4145Params__params_PR_namedCurve);
}

TEST(Asn1SharedInfo, EncodesWithoutEntityInfo)
{
    auto info = qel::asn1::MakeEmpty<SharedInfo_t>(asn_DEF_SharedInfo);
    ASSERT_TRUE(qel::asn1::OidFromText("1.2.804.2.1.1.1.1.1.1.5", info->keyInfo.algorithm));
    const uint8_t supp[4] = {0, 0, 1, 0};
    ASSERT_EQ(OCTET_STRING_fromBuf(&info->suppPubInfo, reinterpret_cast<const char*>(supp), 4), 0);
    Bytes der;
    ASSERT_TRUE(EncodeDer(asn_DEF_SharedInfo, info.get(), der));
    EXPECT_EQ(der, Hex("30 19 30 0F 06 0B 2A 86 24 02 01 01 01 01 01 01 05 05 00 A2 06 04 04 00 00 01 00"));

    const char entity[3] = {1, 2, 3};
    info->entityInfo = OCTET_STRING_new_fromBuf(&asn_DEF_OCTET_STRING, entity, 3);
    ASSERT_TRUE(EncodeDer(asn_DEF_SharedInfo, info.get(), der));
    EXPECT_EQ(der, Hex("30 20 30 0F 06 0B 2A 86 24 02 01 01 01 01 01 01 05 05 00 A0 05 04 03 01 02 03 A2 06 04 04 00 00 01 00"));
    EXPECT_TRUE(asn1_test::DecodeAndRoundTrip(asn_DEF_SharedInfo, der.data(), der.size()));
}

TEST(Asn1Aliases, SBoxOidAndValueCheckTheirUniversalType)
{
    EXPECT_TRUE(Decode<SBoxOID_t>(asn_DEF_SBoxOID, kDke3Oid.data(), kDke3Oid.size()));
    const Bytes value = OctetString(64);
    EXPECT_FALSE(Decode<SBoxOID_t>(asn_DEF_SBoxOID, value.data(), value.size()));
    EXPECT_TRUE(Decode<SBoxValue_t>(asn_DEF_SBoxValue, value.data(), value.size()));
    EXPECT_FALSE(Decode<SBoxValue_t>(asn_DEF_SBoxValue, kDke3Oid.data(), kDke3Oid.size()));
}

// Hostile or broken input is refused without a crash or a leak (the sanitizer build checks both).
TEST(Asn1Malformed, RefusedByEveryDecoder)
{
    const Bytes dke = OctetString(64);
    struct Case {
        const char* name;
        Bytes der;
    } const cases[] = {
        {"empty", {}},
        {"tag only", {0x04}},
        {"truncated value", Bytes(dke.begin(), dke.end() - 1)},
        {"length beyond the input", Hex("04 84 7F FF FF FF 00")},
        {"length of length too big", Hex("04 89 01 00 00 00 00 00 00 00 00 00")},
        {"eight-byte length of 2^63", Hex("04 88 80 00 00 00 00 00 00 00 00")},
        {"trailing bytes", Cat({dke, {0x00}})},
        {"second value after the first", Cat({kDke3Oid, kDke3Oid})},
        {"wrong tag", Hex("02 01 05")},
        {"indefinite length on a primitive", Hex("04 80 01 02 00 00")},
        {"sequence claims more than it holds", Hex("30 10 06 0C 2A 86 24 02 01 01 01 01 01 01 0A 03")},
        {"nested sequences", Cat({Bytes(200, 0x30), Bytes(1, 0x80)})},
        {"deeply nested constructed octet string", Cat({Hex("24 80"), [] {
                                                          Bytes b;
                                                          for (int i = 0; i < 5000; ++i) b.insert(b.end(), {0x24, 0x80});
                                                          return b;
                                                      }()})},
    };
    asn_TYPE_descriptor_t* types[] = {&asn_DEF_Dke, &asn_DEF_Gost34311Params, &asn_DEF_DSTU4145Params,
                                      &asn_DEF_SBoxOID, &asn_DEF_SBoxValue, &asn_DEF_SharedInfo};
    for (const Case& c : cases)
        for (asn_TYPE_descriptor_t* type : types)
            EXPECT_FALSE(qel::asn1::DecodeWhole(*type, c.der.data(), c.der.size())) << c.name << " as " << type->name;
}

TEST(Asn1Oid, TextOfUnusualIdentifiers)
{
    struct Case {
        const char* name;
        Bytes der;
        const char* text;  // null: unreadable
    } const cases[] = {
        {"ten arcs", kDke3Oid, "1.2.804.2.1.1.1.1.1.1.10.3"},
        {"thirty arcs", Cat({{0x06, 29}, Bytes(29, 0x01)}), "0.1.1.1.1.1.1.1.1.1.1.1.1.1.1.1.1.1.1.1.1.1.1.1.1.1.1.1.1.1"},
        {"thirty-one arcs", Cat({{0x06, 30}, Bytes(30, 0x01)}), nullptr},
        {"arc beyond 64 bits", Hex("06 0B 2A FF FF FF FF FF FF FF FF FF 7F"), nullptr},
    };
    for (const Case& c : cases) {
        auto oid = Decode<OBJECT_IDENTIFIER_t>(asn_DEF_OBJECT_IDENTIFIER, c.der.data(), c.der.size());
        ASSERT_TRUE(oid) << c.name;
        std::string text;
        const bool readable = qel::asn1::OidToText(*oid, text);
        EXPECT_EQ(readable, c.text != nullptr) << c.name;
        if (c.text && readable) {
            EXPECT_EQ(text, c.text) << c.name;
        }
    }
    OBJECT_IDENTIFIER_t oid = {};
    EXPECT_FALSE(qel::asn1::OidFromText("1.2.x", oid));
    EXPECT_FALSE(qel::asn1::OidFromText("1", oid));
    EXPECT_EQ(oid.buf, nullptr);
}

} // namespace
