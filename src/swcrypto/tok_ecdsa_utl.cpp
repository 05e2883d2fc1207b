#include "swcrypto/tok_ecdsa_utl.h"

#include "ckbase/exception.h"
#include "objects/object_token.h"
#include "support/safe_buffer.h"
#include "tru2/exception.h"

#include <mbedtls/ecdsa.h>
#include <mbedtls/ecp.h>

#include <algorithm>
#include <cstring>
#include <exception>
#include <vector>

namespace mbt {

namespace {

const uint8_t kSecp192r1[] = {0x06, 0x08, 0x2A, 0x86, 0x48, 0xCE, 0x3D, 0x03, 0x01, 0x01};
const uint8_t kSecp224r1[] = {0x06, 0x05, 0x2B, 0x81, 0x04, 0x00, 0x21};
const uint8_t kSecp256r1[] = {0x06, 0x08, 0x2A, 0x86, 0x48, 0xCE, 0x3D, 0x03, 0x01, 0x07};
const uint8_t kSecp384r1[] = {0x06, 0x05, 0x2B, 0x81, 0x04, 0x00, 0x22};
const uint8_t kSecp521r1[] = {0x06, 0x05, 0x2B, 0x81, 0x04, 0x00, 0x23};
const uint8_t kBp256r1[] = {0x06, 0x09, 0x2B, 0x24, 0x03, 0x03, 0x02, 0x08, 0x01, 0x01, 0x07};
const uint8_t kBp384r1[] = {0x06, 0x09, 0x2B, 0x24, 0x03, 0x03, 0x02, 0x08, 0x01, 0x01, 0x0B};
const uint8_t kBp512r1[] = {0x06, 0x09, 0x2B, 0x24, 0x03, 0x03, 0x02, 0x08, 0x01, 0x01, 0x0D};
const uint8_t kSecp192k1[] = {0x06, 0x05, 0x2B, 0x81, 0x04, 0x00, 0x1F};
const uint8_t kSecp224k1[] = {0x06, 0x05, 0x2B, 0x81, 0x04, 0x00, 0x20};
const uint8_t kSecp256k1[] = {0x06, 0x05, 0x2B, 0x81, 0x04, 0x00, 0x0A};

constexpr uint32_t kMaxDer = 65535;

[[noreturn]] void Fail(CK_RV code) { throw zrck::Exception(code); }

void Check(tru::TResult rc)
{
    if (rc != tru::SUCCESS) throw tru::Exception(rc);
}

// DER length octets at pos with available bytes from pos; after receives the position past them.
uint32_t ReadSizeTagFromDer(const uint8_t* pos, uint32_t available, const uint8_t*& after)
{
    if (available == 0) Fail(CKR_FUNCTION_FAILED);
    if (pos[0] < 0x80) {
        after = pos + 1;
        return pos[0];
    }
    if (pos[0] == 0x81 && available >= 2) {
        after = pos + 2;
        return pos[1];
    }
    if (pos[0] == 0x82 && available >= 3) {
        after = pos + 3;
        return uint32_t(pos[1]) << 8 | pos[2];
    }
    Fail(CKR_FUNCTION_FAILED);
}

uint32_t SizeTagLength(uint32_t length) { return length < 128 ? 1 : length < 256 ? 2 : 3; }

uint8_t* PlaceSizeTag4Der(uint8_t* pos, uint32_t length)
{
    if (length < 128) {
        *pos++ = static_cast<uint8_t>(length);
    } else if (length < 256) {
        *pos++ = 0x81;
        *pos++ = static_cast<uint8_t>(length);
    } else if (length < 65536) {
        *pos++ = 0x82;
        *pos++ = static_cast<uint8_t>(length >> 8);
        *pos++ = static_cast<uint8_t>(length);
    } else {
        Fail(CKR_FUNCTION_FAILED);
    }
    return pos;
}

// One INTEGER: its content (sign byte kept) into content; returns the position after it.
const uint8_t* ReadIntegerFromDer(const uint8_t* pos, std::vector<uint8_t>& content, uint32_t available)
{
    if (available < 3 || pos[0] != 0x02) Fail(CKR_FUNCTION_FAILED);
    const uint8_t* body = nullptr;
    const uint32_t length = ReadSizeTagFromDer(pos + 1, available - 1, body);
    const uint32_t left = available - static_cast<uint32_t>(body - pos);
    if (length > left) Fail(CKR_FUNCTION_FAILED);
    content.assign(body, body + length);
    return body + length;
}

uint8_t* PlaceInteger4Der(uint8_t* pos, const uint8_t* data, uint32_t dataLength, uint32_t contentLength)
{
    *pos++ = 0x02;
    pos = PlaceSizeTag4Der(pos, contentLength);
    for (uint32_t i = dataLength; i < contentLength; ++i) *pos++ = 0;
    if (dataLength != 0) std::memcpy(pos, data, dataLength);
    return pos + dataLength;
}

// One half of a raw signature without its leading zero bytes, and its INTEGER content length.
struct Half {
    const uint8_t* data;
    uint32_t size;
    uint32_t content;

    Half(const uint8_t* p, uint32_t n)
    {
        while (n != 0 && *p == 0) {
            ++p;
            --n;
        }
        data = p;
        size = n;
        content = n != 0 && (p[0] & 0x80) != 0 ? n + 1 : n;
    }
    uint32_t Encoded() const { return 1 + SizeTagLength(content) + content; }
};

// Owns one ECDSA context for the length of a call.
class EcdsaContext {
public:
    EcdsaContext() { mbedtls_ecdsa_init(&ctx_); }
    ~EcdsaContext() { mbedtls_ecdsa_free(&ctx_); }
    EcdsaContext(const EcdsaContext&) = delete;
    EcdsaContext& operator=(const EcdsaContext&) = delete;
    mbedtls_ecdsa_context* operator->() { return &ctx_; }
    mbedtls_ecdsa_context* get() { return &ctx_; }

private:
    mbedtls_ecdsa_context ctx_;
};

class Mpi {
public:
    Mpi() { mbedtls_mpi_init(&value_); }
    ~Mpi() { mbedtls_mpi_free(&value_); }
    Mpi(const Mpi&) = delete;
    Mpi& operator=(const Mpi&) = delete;
    mbedtls_mpi* get() { return &value_; }

private:
    mbedtls_mpi value_;
};

uint32_t CurveBytes(int id)
{
    const mbedtls_ecp_curve_info* info = mbedtls_ecp_curve_info_from_grp_id(static_cast<mbedtls_ecp_group_id>(id));
    if (info == nullptr) Fail(CKR_FUNCTION_FAILED);
    return (info->bit_size + 7) / 8;
}

} // namespace

const tru::Buffer TokECDsaUtl::SECP192R1_OID(kSecp192r1, sizeof kSecp192r1);
const tru::Buffer TokECDsaUtl::SECP224R1_OID(kSecp224r1, sizeof kSecp224r1);
const tru::Buffer TokECDsaUtl::SECP256R1_OID(kSecp256r1, sizeof kSecp256r1);
const tru::Buffer TokECDsaUtl::SECP384R1_OID(kSecp384r1, sizeof kSecp384r1);
const tru::Buffer TokECDsaUtl::SECP521R1_OID(kSecp521r1, sizeof kSecp521r1);
const tru::Buffer TokECDsaUtl::BP256R1_OID(kBp256r1, sizeof kBp256r1);
const tru::Buffer TokECDsaUtl::BP384R1_OID(kBp384r1, sizeof kBp384r1);
const tru::Buffer TokECDsaUtl::BP512R1_OID(kBp512r1, sizeof kBp512r1);
const tru::Buffer TokECDsaUtl::SECP192K1_OID(kSecp192k1, sizeof kSecp192k1);
const tru::Buffer TokECDsaUtl::SECP224K1_OID(kSecp224k1, sizeof kSecp224k1);
const tru::Buffer TokECDsaUtl::SECP256K1_OID(kSecp256k1, sizeof kSecp256k1);

struct TokECDsaUtl::RandomContext {
    TokECDsaUtl* util;
    std::exception_ptr failure;
};

int TokECDsaUtl::ParseECParams(const tru::Buffer& params)
{
    struct Row {
        const uint8_t* der;
        size_t size;
        mbedtls_ecp_group_id id;
    };
    static const Row rows[] = {
        {kSecp192r1, sizeof kSecp192r1, MBEDTLS_ECP_DP_SECP192R1},
        {kSecp224r1, sizeof kSecp224r1, MBEDTLS_ECP_DP_SECP224R1},
        {kSecp256r1, sizeof kSecp256r1, MBEDTLS_ECP_DP_SECP256R1},
        {kSecp384r1, sizeof kSecp384r1, MBEDTLS_ECP_DP_SECP384R1},
        {kSecp521r1, sizeof kSecp521r1, MBEDTLS_ECP_DP_SECP521R1},
        {kBp256r1, sizeof kBp256r1, MBEDTLS_ECP_DP_BP256R1},
        {kBp384r1, sizeof kBp384r1, MBEDTLS_ECP_DP_BP384R1},
        {kBp512r1, sizeof kBp512r1, MBEDTLS_ECP_DP_BP512R1},
        {kSecp192k1, sizeof kSecp192k1, MBEDTLS_ECP_DP_SECP192K1},
        {kSecp224k1, sizeof kSecp224k1, MBEDTLS_ECP_DP_SECP224K1},
        {kSecp256k1, sizeof kSecp256k1, MBEDTLS_ECP_DP_SECP256K1},
    };
    if (params.Empty()) Fail(CKR_TEMPLATE_INCOMPLETE);
    for (const Row& row : rows) {
        if (row.size == params.Size() && std::memcmp(row.der, params.Data(), row.size) == 0) return row.id;
    }
    Fail(CKR_ATTRIBUTE_VALUE_INVALID);
}

std::pair<unsigned, unsigned> TokECDsaUtl::GetAvailableMinMaxCurves()
{
    unsigned smallest = 0;
    unsigned largest = 0;
    for (const mbedtls_ecp_curve_info* info = mbedtls_ecp_curve_list(); info->grp_id != MBEDTLS_ECP_DP_NONE; ++info) {
        if (smallest == 0 || info->bit_size < smallest) smallest = info->bit_size;
        largest = std::max<unsigned>(largest, info->bit_size);
    }
    return {smallest, largest};
}

unsigned TokECDsaUtl::CalcSignSize(const tru::Buffer& params) { return 2 * CurveBytes(ParseECParams(params)); }

void TokECDsaUtl::CheckSignSize(const tru::Buffer& params, const tru::Buffer& signature)
{
    if (signature.Size() != CalcSignSize(params)) Fail(CKR_SIGNATURE_LEN_RANGE);
}

void TokECDsaUtl::EncodeDerPublicKey(const tru::Buffer& point, tru::BufferDynamic& out)
{
    const uint32_t n = point.Size();
    if (n == 0 || n > kMaxDer) Fail(CKR_GENERAL_ERROR);
    Check(out.Alloc(1 + SizeTagLength(n) + n));
    uint8_t* pos = out.Data();
    *pos++ = 0x04;
    pos = PlaceSizeTag4Der(pos, n);
    std::memcpy(pos, point.Data(), n);
}

void TokECDsaUtl::EncodeDerPublicKey(tru::BufferDynamic& inOut)
{
    vdk::SafeBuffer encoded;
    EncodeDerPublicKey(inOut, encoded);
    Check(inOut.Set(encoded.Size(), encoded.Data()));
}

void TokECDsaUtl::DecodeDerPublicKey(const tru::Buffer& der, tru::BufferDynamic& out)
{
    const uint32_t n = der.Size();
    if (n < 2 || n > kMaxDer || der.Data()[0] != 0x04) Fail(CKR_ATTRIBUTE_VALUE_INVALID);
    const uint8_t* body = der.Data() + 2;
    uint32_t length = der.Data()[1];
    if (length >= 0x80) {
        length = ReadSizeTagFromDer(der.Data() + 1, n - 1, body);
        if (length < 128 || length > 65534) Fail(CKR_ATTRIBUTE_VALUE_INVALID);
    }
    const uint32_t header = static_cast<uint32_t>(body - der.Data());
    if (n - header != length) Fail(CKR_ATTRIBUTE_VALUE_INVALID);
    Check(out.Set(length, body));
}

void TokECDsaUtl::DecodeDerPublicKey(tru::BufferDynamic& inOut)
{
    vdk::SafeBuffer decoded;
    DecodeDerPublicKey(inOut, decoded);
    Check(inOut.Set(decoded.Size(), decoded.Data()));
}

void TokECDsaUtl::CheckDerPublicKey(const tru::Buffer& der)
{
    tru::BufferDynamic point;
    try {
        DecodeDerPublicKey(der, point);
    } catch (const zrck::Exception&) {
        // Malformed length octets too: the caller's value is wrong, not the function.
        Fail(CKR_ATTRIBUTE_VALUE_INVALID);
    }
}

bool TokECDsaUtl::VerifyPublicKey(const tru::Buffer& params, const tru::Buffer& rawPoint)
{
    const int id = ParseECParams(params);
    EcdsaContext ctx;
    if (mbedtls_ecp_group_load(&ctx->grp, static_cast<mbedtls_ecp_group_id>(id)) != 0 ||
        mbedtls_ecp_point_read_binary(&ctx->grp, &ctx->Q, rawPoint.Data(), rawPoint.Size()) != 0 ||
        mbedtls_ecp_check_pubkey(&ctx->grp, &ctx->Q) != 0) {
        Fail(CKR_PUBLIC_KEY_INVALID);
    }
    return true;
}

void TokECDsaUtl::EncodeDerSignature(const tru::Buffer& raw, tru::BufferDynamic& out)
{
    const uint32_t n = raw.Size();
    if (n == 0 || n > kMaxDer || n % 2 != 0) Fail(CKR_GENERAL_ERROR);
    const Half r(raw.Data(), n / 2);
    const Half s(raw.Data() + n / 2, n / 2);
    const uint32_t content = r.Encoded() + s.Encoded();
    if (content >= 65536) Fail(CKR_FUNCTION_FAILED);
    Check(out.Alloc(1 + SizeTagLength(content) + content));
    uint8_t* pos = out.Data();
    *pos++ = 0x30;
    pos = PlaceSizeTag4Der(pos, content);
    pos = PlaceInteger4Der(pos, r.data, r.size, r.content);
    PlaceInteger4Der(pos, s.data, s.size, s.content);
}

void TokECDsaUtl::DecodeDerSignature(const tru::Buffer& der, tru::BufferDynamic& out)
{
    const uint32_t n = der.Size();
    if (n == 0 || n > kMaxDer || der.Data()[0] != 0x30) Fail(CKR_GENERAL_ERROR);
    const uint8_t* body = nullptr;
    const uint32_t length = ReadSizeTagFromDer(der.Data() + 1, n - 1, body);
    const uint32_t header = static_cast<uint32_t>(body - der.Data());
    if (length != n - header) Fail(CKR_GENERAL_ERROR);
    std::vector<uint8_t> r;
    std::vector<uint8_t> s;
    const uint8_t* next = ReadIntegerFromDer(body, r, length);
    ReadIntegerFromDer(next, s, length - static_cast<uint32_t>(next - body));
    if (r.size() < 2 || s.size() < 2) Fail(CKR_FUNCTION_FAILED);
    for (std::vector<uint8_t>* half : {&r, &s}) {
        if (half->front() == 0) half->erase(half->begin());
    }
    const size_t width = std::max(r.size(), s.size());
    Check(out.Alloc(static_cast<uint32_t>(2 * width)));
    std::memset(out.Data(), 0, out.Size());
    std::memcpy(out.Data() + width - r.size(), r.data(), r.size());
    std::memcpy(out.Data() + 2 * width - s.size(), s.data(), s.size());
}

void TokECDsaUtl::DecodeDerSignatureForCurve(const tru::Buffer& params, const tru::Buffer& der,
                                             tru::BufferDynamic& out)
{
    const uint32_t half = CalcSignSize(params) / 2;
    tru::BufferDynamic raw;
    DecodeDerSignature(der, raw);
    const uint32_t width = raw.Size() / 2;
    if (width > half) Fail(CKR_FUNCTION_FAILED);
    Check(out.Alloc(2 * half));
    std::memset(out.Data(), 0, out.Size());
    std::memcpy(out.Data() + half - width, raw.Data(), width);
    std::memcpy(out.Data() + 2 * half - width, raw.Data() + width, width);
}

bool TokECDsaUtl::VerifySign(const tru::Buffer& params, const tru::Buffer& rawPoint, const tru::Buffer& hash,
                             const tru::Buffer& derSignature) const
{
    const int id = ParseECParams(params);
    EcdsaContext ctx;
    if (mbedtls_ecp_group_load(&ctx->grp, static_cast<mbedtls_ecp_group_id>(id)) != 0 ||
        mbedtls_ecp_point_read_binary(&ctx->grp, &ctx->Q, rawPoint.Data(), rawPoint.Size()) != 0) {
        Fail(CKR_FUNCTION_FAILED);
    }
    return mbedtls_ecdsa_read_signature(ctx.get(), hash.Data(), hash.Size(), derSignature.Data(),
                                        derSignature.Size()) == 0;
}

void TokECDsaUtl::GenSign(const tru::Buffer& params, const tru::Buffer& privateValue, const tru::Buffer& hash,
                          tru::BufferDynamic& derSignature)
{
    const int id = ParseECParams(params);
    const uint32_t half = CurveBytes(id);
    EcdsaContext ctx;
    if (mbedtls_ecp_group_load(&ctx->grp, static_cast<mbedtls_ecp_group_id>(id)) != 0 ||
        mbedtls_mpi_read_binary(&ctx->d, privateValue.Data(), privateValue.Size()) != 0) {
        Fail(CKR_FUNCTION_FAILED);
    }
    // mbedtls_ecdsa_sign draws the nonce from the callback; the write_signature path of this
    // mbed TLS build would derive it deterministically instead.
    Mpi r;
    Mpi s;
    RandomContext random{this, nullptr};
    const int rc = mbedtls_ecdsa_sign(&ctx->grp, r.get(), s.get(), &ctx->d, hash.Data(), hash.Size(),
                                      &GenerateRandomForECDSA, &random);
    if (random.failure) std::rethrow_exception(random.failure);
    if (rc != 0) Fail(CKR_FUNCTION_FAILED);
    vdk::SafeBuffer raw(2 * half);
    if (mbedtls_mpi_write_binary(r.get(), raw.Data(), half) != 0 ||
        mbedtls_mpi_write_binary(s.get(), raw.Data() + half, half) != 0) {
        Fail(CKR_FUNCTION_FAILED);
    }
    EncodeDerSignature(raw, derSignature);
}

void TokECDsaUtl::GenKeyPair(const tru::Buffer& params, tru::BufferDynamic& privateValue, tru::BufferDynamic& point)
{
    const int id = ParseECParams(params);
    EcdsaContext ctx;
    RandomContext random{this, nullptr};
    const int rc =
        mbedtls_ecdsa_genkey(ctx.get(), static_cast<mbedtls_ecp_group_id>(id), &GenerateRandomForECDSA, &random);
    if (random.failure) std::rethrow_exception(random.failure);
    if (rc != 0) Fail(CKR_FUNCTION_FAILED);
    vdk::SafeBuffer q(512);
    size_t written = 0;
    if (mbedtls_ecp_point_write_binary(&ctx->grp, &ctx->Q, MBEDTLS_ECP_PF_UNCOMPRESSED, &written, q.Data(),
                                       q.Size()) != 0) {
        Fail(CKR_FUNCTION_FAILED);
    }
    vdk::SafeBuffer d(static_cast<uint32_t>(mbedtls_mpi_size(&ctx->d)));
    if (mbedtls_mpi_write_binary(&ctx->d, d.Data(), d.Size()) != 0) Fail(CKR_FUNCTION_FAILED);
    Check(privateValue.Set(d.Size(), d.Data()));
    Check(point.Set(static_cast<uint32_t>(written), q.Data()));
}

int TokECDsaUtl::GenerateRandomForECDSA(void* context, unsigned char* out, size_t length)
{
    auto* random = static_cast<RandomContext*>(context);
    if (random->failure) return MBEDTLS_ERR_ECP_RANDOM_FAILED;
    try {
        tru::Buffer view(out, static_cast<uint32_t>(length));
        random->util->GenerateRandom(view);
        return 0;
    } catch (...) {
        random->failure = std::current_exception();
        return MBEDTLS_ERR_ECP_RANDOM_FAILED;
    }
}

void TokECDsaUtl::GenerateRandom(tru::Buffer& out)
{
    if (token_ == nullptr) Fail(CKR_FUNCTION_FAILED);
    token_->GenerateUserRandom(out);
}

} // namespace mbt
