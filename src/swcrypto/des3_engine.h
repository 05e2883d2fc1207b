// Three-key Triple-DES (DES-EDE3) in CBC mode over whole 8-byte blocks on mbed TLS, with the IV
// chained across calls; DES parity of key values and PKCS #7 padding of the last block.
#pragma once

#include <cstdint>

#include <mbedtls/des.h>

#include "support/noncopyable.h"
#include "tru2/buffer.h"

namespace mbt {

class TokDES3CbcEncryptor : private vdk::Noncopyable {
public:
    static const uint32_t BLOCK_SIZE = 8;
    static const uint32_t KEY_SIZE = 24;

    TokDES3CbcEncryptor();
    // Frees the key schedule and zeroes the IV.
    virtual ~TokDES3CbcEncryptor();

    // IV of other than 8 bytes: CKR_MECHANISM_PARAM_INVALID; key of other than 24 bytes:
    // CKR_KEY_SIZE_RANGE; key schedule failure: CKR_FUNCTION_FAILED. A failed start leaves the
    // encryptor unusable until a successful one.
    void StartEncr(const tru::Buffer& key, const tru::Buffer& iv);
    void StartDecr(const tru::Buffer& key, const tru::Buffer& iv);
    // Encrypts or decrypts the whole input (a multiple of 8 bytes, else CKR_FUNCTION_FAILED)
    // into out, which may be the input itself, continuing the chain.
    void ProcessBlock(const tru::Buffer& input, unsigned char* out);
    void Init();

private:
    enum Mode { NOT_STARTED, ENCRYPTING, DECRYPTING };
    void Start(const tru::Buffer& key, const tru::Buffer& iv, Mode mode);

    mbedtls_des3_context schedule_;
    unsigned char iv_[BLOCK_SIZE] = {};
    Mode mode_ = NOT_STARTED;
};

class TokDES3Utl {
public:
    // Sets DES odd parity in every byte of a 24-byte value (else CKR_KEY_SIZE_RANGE); true when
    // a byte changed.
    static bool CorrectKeyValue(tru::Buffer& value);
    // True for a 24-byte value with odd parity in every byte.
    static bool IsKeyValueCorrect(const tru::Buffer& value);
    // Writes p = 8 - length % 8 bytes of value p (1 to 8) at out; returns p.
    static uint32_t PreparePadding(unsigned char* out, uint32_t dataLength);
    // Checks the padding of a decrypted last block (8 bytes), zeroes it and returns its length;
    // CKR_ENCRYPTED_DATA_INVALID for a pad value of 0, above 8, or bytes that differ.
    static uint32_t ExtractPadding(unsigned char* lastBlock);
};

}  // namespace mbt
