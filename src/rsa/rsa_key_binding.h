// What the token's RSA mechanisms share: the key-size limits, the binding of a key to an
// operation, and the pieces of a data call (block length, the device's form of the public key,
// the private key's key slot, answering length queries).
#pragma once

#include "device/device_types.h"
#include "objects/operation_keys.h"
#include "objects/tok_rsa_keys.h"
#include "tru2/buffer.h"

namespace zrck {
class MechanismParameter;
class TokMechanism;
}  // namespace zrck

namespace qel {

class TokenStorage;

class RsaKeyBinding {
public:
    // The stored limits: 512 to 2048 bits.
    static void SetStoredKeySizes(zrck::TokMechanism& mechanism);
    // The token's limits when the mechanism has a token (512 only where the token supports it).
    static CK_ULONG MinKeySize(const zrck::TokMechanism& mechanism);
    static CK_ULONG MaxKeySize(const zrck::TokMechanism& mechanism);

    // Both keys forgotten, then the parameter must be empty (CKR_MECHANISM_PARAM_INVALID) and
    // the key an RSA key within the limits (CKR_KEY_TYPE_INCONSISTENT).
    void BindPublic(zrck::TokMechanism& mechanism, const zrck::MechanismParameter& parameter,
                    zrck::TokPublicKey& key);
    void BindPrivate(zrck::TokMechanism& mechanism, const zrck::MechanismParameter& parameter,
                     zrck::TokPrivateKey& key);
    void Forget();

    // The bound key; CKR_GENERAL_ERROR when none is bound.
    zrck::TokRsaPublicKey& Public() const { return keys_.Public(); }
    zrck::TokRsaPrivateKey& Private() const { return keys_.Private(); }
    bool HasPublic() const { return keys_.HasPublic(); }

    // k: the modulus length in bytes. A size that is not whole bytes: CKR_DATA_INVALID.
    static uint32_t BlockLength(CK_ULONG modulusBits);
    // What the token's raw operation takes for a k-byte modulus, checked before anything is sent:
    // data of at most k bytes (CKR_DATA_LEN_RANGE), a signature or a ciphertext of exactly k bytes
    // (CKR_SIGNATURE_LEN_RANGE, CKR_ENCRYPTED_DATA_LEN_RANGE).
    enum class Input { Data, Signature, Ciphertext };
    static void RequireLength(Input kind, const tru::Buffer& input, uint32_t k);
    // The device public-key blob of the bound public key (CKR_GENERAL_ERROR for sizes other
    // than the four).
    void PublicBlob(tru::BufferDynamic& blob) const;
    // The storage of the key's token (CKR_FUNCTION_FAILED without one) and the private key's slot.
    TokenStorage& PublicStorage() const;
    TokenStorage& PrivateStorage() const;
    long KeySlot() const;

private:
    void CheckSize(const zrck::TokMechanism& mechanism, CK_ULONG bits);

    zrck::OperationKeys<zrck::TokRsaPublicKey, zrck::TokRsaPrivateKey> keys_{CKK_RSA};
};

// Output convention of the data calls. Without an output pointer, or with a buffer below needed
// bytes, stores needed and answers true (stop: done as a length query, or short buffer when
// *result is false).
bool AnswerLengthOnly(uint32_t needed, unsigned char* out, unsigned long* outLen, bool& result);
// Copies the result when it fits (true), else stores its length (false).
bool PlaceResult(const tru::Buffer& result, unsigned char* out, unsigned long* outLen);

}  // namespace qel
