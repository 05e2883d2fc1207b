// Elliptic-curve forms between Cryptoki and mbed TLS: the named-curve table behind CKA_EC_PARAMS,
// the DER OCTET STRING of CKA_EC_POINT, raw r||s against DER ECDSA signatures, and ECDSA
// signing, verification and key-pair generation drawing every random byte from the token.
#pragma once

#include "tru2/buffer.h"

#include <cstddef>
#include <cstdint>
#include <utility>

namespace zrck {
class ObjectToken;
}

namespace mbt {

class TokECDsaUtl {
public:
    // Complete DER encodings (tag and length included) of the named curves, in table order.
    static const tru::Buffer SECP192R1_OID;
    static const tru::Buffer SECP224R1_OID;
    static const tru::Buffer SECP256R1_OID;
    static const tru::Buffer SECP384R1_OID;
    static const tru::Buffer SECP521R1_OID;
    static const tru::Buffer BP256R1_OID;
    static const tru::Buffer BP384R1_OID;
    static const tru::Buffer BP512R1_OID;
    static const tru::Buffer SECP192K1_OID;
    static const tru::Buffer SECP224K1_OID;
    static const tru::Buffer SECP256K1_OID;

    explicit TokECDsaUtl(zrck::ObjectToken* token) : token_(token) {}
    virtual ~TokECDsaUtl() = default;
    TokECDsaUtl(const TokECDsaUtl&) = delete;
    TokECDsaUtl& operator=(const TokECDsaUtl&) = delete;

    zrck::ObjectToken* GetToken() const { return token_; }

    // The mbed TLS group id of the curve; empty CKR_TEMPLATE_INCOMPLETE, unknown
    // CKR_ATTRIBUTE_VALUE_INVALID.
    static int ParseECParams(const tru::Buffer& params);
    // Smallest and largest curve size in bits of mbed TLS's curve list.
    static std::pair<unsigned, unsigned> GetAvailableMinMaxCurves();
    // Raw signature length of the curve: twice its byte length.
    static unsigned CalcSignSize(const tru::Buffer& params);
    // CKR_SIGNATURE_LEN_RANGE for r||s of any other length than CalcSignSize.
    static void CheckSignSize(const tru::Buffer& params, const tru::Buffer& signature);

    // 04 L point; a point of 0 or more than 65535 bytes is CKR_GENERAL_ERROR.
    static void EncodeDerPublicKey(const tru::Buffer& point, tru::BufferDynamic& out);
    static void EncodeDerPublicKey(tru::BufferDynamic& inOut);
    // The point inside the OCTET STRING; anything but one well-formed OCTET STRING is refused.
    static void DecodeDerPublicKey(const tru::Buffer& der, tru::BufferDynamic& out);
    static void DecodeDerPublicKey(tru::BufferDynamic& inOut);
    // CKR_ATTRIBUTE_VALUE_INVALID for anything DecodeDerPublicKey refuses (a point given as an
    // attribute value).
    static void CheckDerPublicKey(const tru::Buffer& der);
    // True when the point is an uncompressed point on the curve, else CKR_PUBLIC_KEY_INVALID.
    static bool VerifyPublicKey(const tru::Buffer& params, const tru::Buffer& rawPoint);

    // r||s (equal halves) to SEQUENCE { INTEGER r, INTEGER s }.
    static void EncodeDerSignature(const tru::Buffer& raw, tru::BufferDynamic& out);
    // SEQUENCE { r, s } to r||s, both halves padded to the longer integer.
    static void DecodeDerSignature(const tru::Buffer& der, tru::BufferDynamic& out);
    // SEQUENCE { r, s } to r||s with each half padded to the curve's byte length, so a signature
    // is always as long as the length query said; an integer longer than that is
    // CKR_FUNCTION_FAILED.
    static void DecodeDerSignatureForCurve(const tru::Buffer& params, const tru::Buffer& der,
                                           tru::BufferDynamic& out);

    // ECDSA verification of the hash (used as it is) with a DER signature; false for a bad or
    // malformed signature.
    bool VerifySign(const tru::Buffer& params, const tru::Buffer& rawPoint, const tru::Buffer& hash,
                    const tru::Buffer& derSignature) const;
    // Randomised ECDSA signature of the hash, DER form; the nonce comes from GenerateRandom.
    void GenSign(const tru::Buffer& params, const tru::Buffer& privateValue, const tru::Buffer& hash,
                 tru::BufferDynamic& derSignature);
    // A new pair: d as a minimal big-endian integer and the point 04 X Y.
    void GenKeyPair(const tru::Buffer& params, tru::BufferDynamic& privateValue, tru::BufferDynamic& point);

    // mbed TLS's random callback; its context is one call's RandomContext. A failure of the
    // source is kept there and rethrown once mbed TLS has returned (never thrown through C).
    static int GenerateRandomForECDSA(void* context, unsigned char* out, size_t length);

protected:
    // The token's user random generator.
    virtual void GenerateRandom(tru::Buffer& out);

private:
    struct RandomContext;

    zrck::ObjectToken* token_;
};

} // namespace mbt
