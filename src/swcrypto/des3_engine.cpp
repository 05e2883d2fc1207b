#include "swcrypto/des3_engine.h"

#include <cstring>

#include <mbedtls/platform_util.h>

#include "ckbase/exception.h"
#include "support/safe_buffer.h"

namespace mbt {

TokDES3CbcEncryptor::TokDES3CbcEncryptor() { mbedtls_des3_init(&schedule_); }

TokDES3CbcEncryptor::~TokDES3CbcEncryptor()
{
    mbedtls_des3_free(&schedule_);
    mbedtls_platform_zeroize(iv_, sizeof iv_);
}

void TokDES3CbcEncryptor::Init()
{
    mbedtls_des3_free(&schedule_);
    mbedtls_des3_init(&schedule_);
    mode_ = NOT_STARTED;
}

void TokDES3CbcEncryptor::Start(const tru::Buffer& key, const tru::Buffer& iv, Mode mode)
{
    mode_ = NOT_STARTED;
    if (iv.Size() != BLOCK_SIZE) throw zrck::Exception(CKR_MECHANISM_PARAM_INVALID);
    std::memcpy(iv_, iv.Data(), BLOCK_SIZE);
    if (key.Size() != KEY_SIZE) throw zrck::Exception(CKR_KEY_SIZE_RANGE);
    const int result = mode == ENCRYPTING ? mbedtls_des3_set3key_enc(&schedule_, key.Data())
                                          : mbedtls_des3_set3key_dec(&schedule_, key.Data());
    if (result != 0) throw zrck::Exception(CKR_FUNCTION_FAILED);
    mode_ = mode;
}

void TokDES3CbcEncryptor::StartEncr(const tru::Buffer& key, const tru::Buffer& iv) { Start(key, iv, ENCRYPTING); }

void TokDES3CbcEncryptor::StartDecr(const tru::Buffer& key, const tru::Buffer& iv) { Start(key, iv, DECRYPTING); }

void TokDES3CbcEncryptor::ProcessBlock(const tru::Buffer& input, unsigned char* out)
{
    if (mode_ == NOT_STARTED) throw zrck::Exception(CKR_FUNCTION_FAILED);
    if (input.Empty()) return;
    const int direction = mode_ == ENCRYPTING ? MBEDTLS_DES_ENCRYPT : MBEDTLS_DES_DECRYPT;
    if (mbedtls_des3_crypt_cbc(&schedule_, direction, input.Size(), iv_, input.Data(), out) != 0) {
        throw zrck::Exception(CKR_FUNCTION_FAILED);
    }
}

bool TokDES3Utl::CorrectKeyValue(tru::Buffer& value)
{
    if (value.Size() != TokDES3CbcEncryptor::KEY_SIZE) throw zrck::Exception(CKR_KEY_SIZE_RANGE);
    const vdk::SafeBuffer before(value);
    for (uint32_t at = 0; at < value.Size(); at += MBEDTLS_DES_KEY_SIZE) mbedtls_des_key_set_parity(value.Data() + at);
    return before != value;
}

bool TokDES3Utl::IsKeyValueCorrect(const tru::Buffer& value)
{
    if (value.Size() != TokDES3CbcEncryptor::KEY_SIZE) return false;
    for (uint32_t at = 0; at < value.Size(); at += MBEDTLS_DES_KEY_SIZE) {
        if (mbedtls_des_key_check_key_parity(value.Data() + at) != 0) return false;
    }
    return true;
}

uint32_t TokDES3Utl::PreparePadding(unsigned char* out, uint32_t dataLength)
{
    const uint32_t pad = TokDES3CbcEncryptor::BLOCK_SIZE - dataLength % TokDES3CbcEncryptor::BLOCK_SIZE;
    std::memset(out, static_cast<int>(pad), pad);
    return pad;
}

uint32_t TokDES3Utl::ExtractPadding(unsigned char* lastBlock)
{
    const uint32_t size = TokDES3CbcEncryptor::BLOCK_SIZE;
    const uint32_t pad = lastBlock[size - 1];
    if (pad == 0 || pad > size) throw zrck::Exception(CKR_ENCRYPTED_DATA_INVALID);
    for (uint32_t i = size; i-- > size - pad;) {
        if (lastBlock[i] != pad) throw zrck::Exception(CKR_ENCRYPTED_DATA_INVALID);
        lastBlock[i] = 0;
    }
    return pad;
}

}  // namespace mbt
