#include "national/ua_sgn_util.h"

#include "asn1/asn1_codec.h"
#include "ckbase/exception.h"
#include "national/dke_tables.h"
#include "tru2/exception.h"
#include "zrasn1/DSTU4145Params.h"

#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

namespace qel {

namespace {

// 30 51, the named-curve identifier 1.2.804.2.1.1.1.1.3.1.1.2.<last>, then DKE1 as OCTET STRING.
struct NamedParamsBlock {
    uint8_t bytes[kUASgnNamedParamsSize];
    explicit NamedParamsBlock(uint8_t lastArc)
    {
        static const uint8_t head[] = {0x30, 0x51, 0x06, 0x0D, 0x2A, 0x86, 0x24, 0x02, 0x01,
                                       0x01, 0x01, 0x01, 0x03, 0x01, 0x01, 0x02};
        static_assert(sizeof head + 1 + kDkeDerSize == kUASgnNamedParamsSize, "block layout");
        std::memcpy(bytes, head, sizeof head);
        bytes[sizeof head] = lastArc;
        std::memcpy(bytes + sizeof head + 1, glbDKE1, kDkeDerSize);
    }
};

const NamedParamsBlock ecOIDParams0(0x00);
const NamedParamsBlock ecOIDParams4(0x04);
const NamedParamsBlock ecOIDParams6(0x06);
const NamedParamsBlock ecOIDParams9(0x09);

enum PolyKind { kTrinomial, kPentanomial };

// One recommended curve: field, a, and b, n, base point in the byte forms explicit parameters
// carry them (b and the compressed base point least significant byte first, n as the DER
// INTEGER content).
struct CurveDef {
    EParamSet set;
    const char* oid;
    long m;
    PolyKind kind;
    long k, j, l;  // trinomial: k only
    long a;
    uint32_t signSize;
    const char* bHex;
    const char* nHex;
    const char* bpHex;
    bool bpTopByteCompared;  // the top byte of m = 163 and 191 is not compared
};

const CurveDef kCurves[] = {
    {DSTU4145_POLYNOMIAL_0, "1.2.804.2.1.1.1.1.3.1.1.2.0", 163, kPentanomial, 3, 6, 7, 1, 42,
     "215D45C1198A635E9203B40A21C82D2A460861FF05", "0400000000000000000002BEC12BE2262D39BCF14D",
     "BE2358F3A3F8DA297223C4A583E94CD75D5FF8E202", false},
    {DSTU4145_POLYNOMIAL_4, "1.2.804.2.1.1.1.1.3.1.1.2.4", 191, kTrinomial, 9, 0, 0, 1, 48,
     "03FCFE502748E027FF81496B8B0E89D5C42E9002216EC87B", "40000000000000000000000069A779CAC1DABC6788F7474F",
     "2871EBDA76FEFCC2B5B958ACD2A612794AFFF262B7144171", false},
    {DSTU4145_POLYNOMIAL_6, "1.2.804.2.1.1.1.1.3.1.1.2.6", 257, kTrinomial, 12, 0, 0, 0, 64,
     "10BEE3DB6AEA9E1F86578C45C12594FF942394A7D738F9187E6515017294F4CE01",
     "00800000000000000000000000000000006759213AF182E987D3E17714907D470D",
     "B60FD2D8DCE8A93423C6101BCA91C47A007E6C300B26CD556C9B0E7D20EF292A00", true},
    {DSTU4145_POLYNOMIAL_9, "1.2.804.2.1.1.1.1.3.1.1.2.9", 431, kPentanomial, 1, 3, 5, 1, 108,
     "F3CA40C669A4DA173149CA12C32DAE186B53AC6BC6365997DEAEAE8AD2D888F9BFD53401694EF9C4273D8CFE6DC28F706A0F4910CE03",
     "3FFFFFFFFFFFFFFFFFFFFFFFFFFFFFFFFFFFFFFFFFFFFFFFFFFFFFBA3175458009A8C0A724F02F81AA8A1FCBAF80D90C7A95110504CF",
     "7C857C94C5433BFD991E17C22684065850A9A249ED7BC249AE5A4E878689F872EF7AD524082EC3038E9AEDE7BA6BA13381D979BA621A",
     true},
};

// Curves of the standard the token does not offer.
const long kOtherStandardFields[] = {167, 173, 179, 233, 307, 367};

[[noreturn]] void Fail(CK_RV code) { throw zrck::Exception(code); }

const CurveDef* CurveOfSet(EParamSet set)
{
    for (const CurveDef& curve : kCurves) {
        if (curve.set == set) return &curve;
    }
    return nullptr;
}

bool EqualsHex(const uint8_t* data, size_t size, const char* hex, size_t compared)
{
    const size_t expected = std::strlen(hex) / 2;
    if (size != expected) return false;
    for (size_t i = 0; i < compared; ++i) {
        unsigned value = 0;
        if (std::sscanf(hex + 2 * i, "%2X", &value) != 1 || data[i] != value) return false;
    }
    return true;
}

bool EqualsHex(const OCTET_STRING_t& value, const char* hex)
{
    return EqualsHex(value.buf, value.size, hex, value.size);
}

bool ReadLong(const INTEGER_t& value, long& out) { return asn_INTEGER2long(&value, &out) == 0; }

void CopyDke(const DSTU4145Params_t& params, tru::BufferDynamic& sbox)
{
    if (params.dke == nullptr || params.dke->size == 0) return;
    const tru::TResult result = sbox.Set(static_cast<uint32_t>(params.dke->size), params.dke->buf);
    if (result != 0) throw tru::Exception(result);
}

EParamSet SetOfNamedCurve(const OBJECT_IDENTIFIER_t& oid)
{
    std::string text;
    if (!asn1::OidToText(oid, text)) text.clear();
    for (const CurveDef& curve : kCurves) {
        if (text == curve.oid) return curve.set;
    }
    Fail(CKR_ATTRIBUTE_VALUE_INVALID);
}

bool FieldMatches(const BinaryField_t& field, const CurveDef& curve)
{
    const auto* polygon = field.polygon;
    if (polygon == nullptr) return false;
    if (curve.kind == kTrinomial) {
        long k = 0;
        return polygon->present == BinaryField__polygon_PR_trinomial &&
               ReadLong(polygon->choice.trinomial, k) && k == curve.k;
    }
    if (polygon->present != BinaryField__polygon_PR_pentanomial) return false;
    long k = 0, j = 0, l = 0;
    const Pentanomial_t& p = polygon->choice.pentanomial;
    return ReadLong(p.k, k) && ReadLong(p.j, j) && ReadLong(p.l, l) && k == curve.k && j == curve.j &&
           l == curve.l;
}

EParamSet SetOfExplicitCurve(const DSTU4145Params_t& params, tru::BufferDynamic& sbox)
{
    const ECBinary_t& curve = params.params.choice.ecbinary;
    long version = 0;
    if (curve.version != nullptr && (!ReadLong(*curve.version, version) || version != 0)) {
        Fail(CKR_ATTRIBUTE_VALUE_INVALID);
    }
    long m = 0;
    if (!ReadLong(curve.f.m, m) || curve.f.polygon == nullptr) Fail(CKR_ATTRIBUTE_VALUE_INVALID);
    const auto* polygon = curve.f.polygon;
    long exponent = 0;
    if (polygon->present == BinaryField__polygon_PR_trinomial) {
        if (!ReadLong(polygon->choice.trinomial, exponent)) Fail(CKR_ATTRIBUTE_VALUE_INVALID);
    } else if (polygon->present == BinaryField__polygon_PR_pentanomial) {
        const Pentanomial_t& p = polygon->choice.pentanomial;
        if (!ReadLong(p.k, exponent) || !ReadLong(p.j, exponent) || !ReadLong(p.l, exponent)) {
            Fail(CKR_ATTRIBUTE_VALUE_INVALID);
        }
    } else {
        Fail(CKR_ATTRIBUTE_VALUE_INVALID);
    }
    CopyDke(params, sbox);

    for (const CurveDef& def : kCurves) {
        if (def.m != m) continue;
        const bool bpPresent = curve.bp.present == ECBinary__bp_PR_bpval;
        const OCTET_STRING_t& bp = curve.bp.choice.bpval;
        const bool matches =
            FieldMatches(curve.f, def) && curve.a == def.a && EqualsHex(curve.b, def.bHex) &&
            EqualsHex(curve.n.buf, curve.n.size, def.nHex, curve.n.size) && bpPresent &&
            EqualsHex(bp.buf, bp.size, def.bpHex, def.bpTopByteCompared ? bp.size : (bp.size ? bp.size - 1 : 0));
        if (!matches) Fail(CKR_ATTRIBUTE_VALUE_INVALID);
        return def.set;
    }
    // The standard's other curves, and any field the standard does not define: the token
    // knows neither.
    (void)kOtherStandardFields;
    Fail(CKR_ATTRIBUTE_VALUE_INVALID);
}

void CheckPointTag(const tru::Buffer& point, CK_RV code)
{
    const uint32_t length = point.Size();
    if (length < 12) Fail(code);
    const uint8_t* bytes = point.Data();
    if (bytes[0] != 0x04 || bytes[1] != length - 2) Fail(code);
}

} // namespace

const tru::Buffer UA_SGN_PARAMSET_0_OID_DKE1_VALUE(ecOIDParams0.bytes, kUASgnNamedParamsSize);
const tru::Buffer UA_SGN_PARAMSET_4_OID_DKE1_VALUE(ecOIDParams4.bytes, kUASgnNamedParamsSize);
const tru::Buffer UA_SGN_PARAMSET_6_OID_DKE1_VALUE(ecOIDParams6.bytes, kUASgnNamedParamsSize);
const tru::Buffer UA_SGN_PARAMSET_9_OID_DKE1_VALUE(ecOIDParams9.bytes, kUASgnNamedParamsSize);

EParamSet UASgnUtl::ParseECParams(const tru::Buffer& ecParams, tru::BufferDynamic& sbox, EParamSet fallback)
{
    auto decoded = asn1::DecodeDstu4145Params(ecParams.Data(), ecParams.Size());
    if (!decoded) Fail(CKR_ATTRIBUTE_VALUE_INVALID);
    switch (decoded->params.present) {
    case DSTU4145Params__params_PR_namedCurve: {
        const EParamSet set = SetOfNamedCurve(decoded->params.choice.namedCurve);
        CopyDke(*decoded, sbox);
        return set;
    }
    case DSTU4145Params__params_PR_ecbinary:
        return SetOfExplicitCurve(*decoded, sbox);
    case DSTU4145Params__params_PR_NOTHING:
        return fallback;
    default:
        Fail(CKR_ATTRIBUTE_VALUE_INVALID);
    }
}

uint32_t UASgnUtl::CalcSignSize(EParamSet paramSet)
{
    const CurveDef* curve = CurveOfSet(paramSet);
    if (curve == nullptr) Fail(CKR_FUNCTION_FAILED);
    return curve->signSize;
}

uint32_t UASgnUtl::CalcSignSize(const tru::Buffer& ecParams, EParamSet fallback)
{
    tru::BufferDynamic scratch;
    return CalcSignSize(ParseECParams(ecParams, scratch, fallback));
}

uint32_t UASgnUtl::CalcKeySize(const tru::Buffer& ecParams, EParamSet fallback)
{
    return CalcSignSize(ecParams, fallback) / 2;
}

void UASgnUtl::PrepareSign4Verify(EParamSet paramSet, tru::BufferDynamic& signature)
{
    const uint32_t size = CalcSignSize(paramSet);
    const uint32_t length = signature.Size();
    if (length % 2 != 0 || length < size) Fail(CKR_SIGNATURE_LEN_RANGE);
    if (length == size) return;
    const uint32_t half = length / 2;
    const uint32_t keySize = size / 2;
    uint8_t* bytes = signature.Data();
    for (uint32_t i = keySize; i < half; ++i) {
        if (bytes[i] != 0 || bytes[half + i] != 0) Fail(CKR_SIGNATURE_INVALID);
    }
    std::memmove(bytes + keySize, bytes + half, keySize);
    const tru::TResult result = signature.Realloc(size);
    if (result != 0) throw tru::Exception(result);
}

void UASgnUtl::AddECPointAsnTag(tru::BufferDynamic& point)
{
    const uint32_t length = point.Size();
    if (length > 127) Fail(CKR_GENERAL_ERROR);
    std::vector<uint8_t> tagged(length + 2);
    tagged[0] = 0x04;
    tagged[1] = static_cast<uint8_t>(length);
    if (length != 0) std::memcpy(tagged.data() + 2, point.Data(), length);
    const tru::TResult result = point.Set(static_cast<uint32_t>(tagged.size()), tagged.data());
    if (result != 0) throw tru::Exception(result);
}

void UASgnUtl::RemoveECPointAsnTag(tru::BufferDynamic& point)
{
    CheckPointTag(point, CKR_GENERAL_ERROR);
    const uint32_t length = point.Size() - 2;
    std::memmove(point.Data(), point.Data() + 2, length);
    const tru::TResult result = point.Realloc(length);
    if (result != 0) throw tru::Exception(result);
}

void UASgnUtl::VerifyECPointAsnTag(const tru::Buffer& point) { CheckPointTag(point, CKR_ATTRIBUTE_VALUE_INVALID); }

} // namespace qel
