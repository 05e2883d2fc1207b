// The device's forms of RSA public keys and the parameter sets of the four key sizes.
#include "rsa/tok_rsa_keys.h"

#include <cstring>

#include "ckbase/exception.h"
#include "tru2/exception.h"

namespace qel {

namespace {

// What follows the modulus in a device public-key blob: the exponent's length and 65537.
const uint8_t kExponentPart[] = {0x00, 0x03, 0x01, 0x00, 0x01};

uint32_t ModulusBytesOf(EParamSet paramSet)
{
    switch (paramSet) {
    case RSA_sign_512: return 64;
    case RSA_sign_1024: return 128;
    case RSA_sign_1536: return 192;
    case RSA_sign_2048: return 256;
    default: throw zrck::Exception(CKR_GENERAL_ERROR);
    }
}

void Replace(tru::BufferDynamic& buffer, const tru::Buffer& bytes)
{
    const tru::TResult rc = buffer.Set(bytes.Size(), bytes.Data());
    if (rc != tru::SUCCESS) throw tru::Exception(rc);
}

}  // namespace

EParamSet TokRsaPublicKey::ConvertBitsToParamset(CK_ULONG bits)
{
    switch (bits) {
    case 512: return RSA_sign_512;
    case 1024: return RSA_sign_1024;
    case 1536: return RSA_sign_1536;
    case 2048: return RSA_sign_2048;
    default: throw zrck::Exception(CKR_ATTRIBUTE_VALUE_INVALID);
    }
}

void TokRsaPublicKey::GeneratePublicKey(tru::BufferDynamic& buffer, CK_ULONG bits)
{
    if (bits != 512 && bits != 1024 && bits != 1536 && bits != 2048) throw zrck::Exception(CKR_GENERAL_ERROR);
    const uint32_t n = static_cast<uint32_t>(bits / 8);
    // The modulus takes exactly N bytes: leading zero bytes beyond them are dropped, a shorter
    // value is padded with zeros, so the length field always tells the truth.
    uint32_t skip = 0;
    while (buffer.Size() - skip > n && buffer.Data()[skip] == 0) ++skip;
    const uint32_t modulusLength = buffer.Size() - skip;
    if (modulusLength > n) throw zrck::Exception(CKR_GENERAL_ERROR);
    tru::BufferDynamic blob;
    const tru::TResult rc = blob.Alloc(2 + n + sizeof kExponentPart);
    if (rc != tru::SUCCESS) throw tru::Exception(rc);
    std::memset(blob.Data(), 0, blob.Size());
    blob.Data()[0] = static_cast<uint8_t>(n >> 8);
    blob.Data()[1] = static_cast<uint8_t>(n);
    if (modulusLength != 0) std::memcpy(blob.Data() + 2 + n - modulusLength, buffer.Data() + skip, modulusLength);
    std::memcpy(blob.Data() + 2 + n, kExponentPart, sizeof kExponentPart);
    Replace(buffer, blob);
}

void TokRsaPublicKey::ExtractModulus(tru::BufferDynamic& buffer, EParamSet paramSet)
{
    const uint32_t n = ModulusBytesOf(paramSet);
    // The blob is read only as far as it is long.
    if (buffer.Size() != 2 + n + sizeof kExponentPart) throw zrck::Exception(CKR_GENERAL_ERROR);
    const uint8_t* blob = buffer.Data();
    if (blob[0] != static_cast<uint8_t>(n >> 8) || blob[1] != static_cast<uint8_t>(n)) {
        throw zrck::Exception(CKR_GENERAL_ERROR);
    }
    if (std::memcmp(blob + 2 + n, kExponentPart, sizeof kExponentPart) != 0) throw zrck::Exception(CKR_GENERAL_ERROR);
    const tru::BufferDynamic modulus(blob + 2, n);
    Replace(buffer, modulus);
}

}  // namespace qel
