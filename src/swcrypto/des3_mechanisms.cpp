#include "swcrypto/des3_mechanisms.h"

#include <cstring>

#include <mbedtls/platform_util.h>

#include "ckbase/exception.h"
#include "support/safe_buffer.h"

namespace mbt {

namespace {

const uint32_t kBlock = TokDES3CbcEncryptor::BLOCK_SIZE;

// The call convention's output step: null asks the length, a short buffer gets it.
bool OutputFits(unsigned char* out, unsigned long* outLen, unsigned long required)
{
    const bool fits = out == nullptr || *outLen >= required;
    *outLen = required;
    return fits;
}

}  // namespace

template <class Base>
Des3CbcOperation<Base>::Des3CbcOperation(CK_MECHANISM_TYPE type)
{
    this->SetMechanismType(type);
    this->SetFlags(CKF_ENCRYPT | CKF_DECRYPT);
    this->SetMinKeySize(TokDES3CbcEncryptor::KEY_SIZE);
    this->SetMaxKeySize(TokDES3CbcEncryptor::KEY_SIZE);
}

template <class Base>
void Des3CbcOperation<Base>::SetIV(const tru::Buffer& iv)
{
    if (iv.Size() != sizeof iv_) throw tru::Exception(tru::ERROR_SIZE);
    std::memcpy(iv_, iv.Data(), sizeof iv_);
}

template <class Base>
void Des3CbcOperation<Base>::FreeResources()
{
    key_ = nullptr;
    encryptor_.reset();
    mbedtls_platform_zeroize(iv_, sizeof iv_);
}

template <class Base>
void Des3CbcOperation<Base>::Init(const zrck::MechanismParameter& parameter, zrck::TokSecretKey& key,
                                  bool encrypting)
{
    FreeResources();
    this->SetParameter(parameter);
    auto* des3 = dynamic_cast<zrck::TokDES3SecretKey*>(&this->VerifyKey(key));
    if (des3 == nullptr) throw zrck::Exception(CKR_KEY_TYPE_INCONSISTENT);
    const tru::Buffer& value = des3->GetValue();
    if (value.Size() != TokDES3CbcEncryptor::KEY_SIZE) throw zrck::Exception(CKR_KEY_SIZE_RANGE);
    key_ = des3;
    encryptor_ = std::make_unique<TokDES3CbcEncryptor>();
    const tru::Buffer iv(iv_, sizeof iv_);
    if (encrypting) {
        encryptor_->StartEncr(value, iv);
    } else {
        encryptor_->StartDecr(value, iv);
    }
    Started(encrypting);
}

template <class Base>
void Des3CbcOperation<Base>::EncryptInit(zrck::MechanismSession&, const zrck::MechanismParameter& parameter,
                                         zrck::TokSecretKey& key)
{
    Init(parameter, key, true);
}

template <class Base>
void Des3CbcOperation<Base>::DecryptInit(zrck::MechanismSession&, const zrck::MechanismParameter& parameter,
                                         zrck::TokSecretKey& key)
{
    Init(parameter, key, false);
}

template <class Base>
TokDES3CbcEncryptor& Des3CbcOperation<Base>::Running()
{
    if (key_ == nullptr || !encryptor_) throw zrck::Exception(CKR_GENERAL_ERROR);
    return *encryptor_;
}

template class Des3CbcOperation<zrck::TokDES3CbcMechanism>;
template class Des3CbcOperation<zrck::TokDES3CbcPadMechanism>;

// ---- CBC ----

TokDES3CbcMechanism::TokDES3CbcMechanism() : Des3CbcOperation(CKM_DES3_CBC) {}

bool TokDES3CbcMechanism::Blocks(const tru::Buffer& data, unsigned char* out, unsigned long* outLen)
{
    TokDES3CbcEncryptor& encryptor = Running();
    if (data.Size() % kBlock != 0) throw zrck::Exception(CKR_DATA_LEN_RANGE);
    if (!OutputFits(out, outLen, data.Size())) return false;
    if (out != nullptr) encryptor.ProcessBlock(data, out);
    return true;
}

bool TokDES3CbcMechanism::Encrypt(zrck::MechanismSession&, const tru::Buffer& data, unsigned char* out,
                                  unsigned long* outLen)
{
    return Blocks(data, out, outLen);
}

bool TokDES3CbcMechanism::EncryptUpdate(zrck::MechanismSession&, const tru::Buffer& data, unsigned char* out,
                                        unsigned long* outLen)
{
    return Blocks(data, out, outLen);
}

bool TokDES3CbcMechanism::EncryptFinal(zrck::MechanismSession&, unsigned char* out, unsigned long* outLen)
{
    Running();
    *outLen = 0;
    if (out != nullptr) FreeResources();
    return true;
}

bool TokDES3CbcMechanism::Decrypt(zrck::MechanismSession& session, const tru::Buffer& data, unsigned char* out,
                                  unsigned long* outLen)
{
    return Encrypt(session, data, out, outLen);
}

bool TokDES3CbcMechanism::DecryptUpdate(zrck::MechanismSession& session, const tru::Buffer& data, unsigned char* out,
                                        unsigned long* outLen)
{
    return EncryptUpdate(session, data, out, outLen);
}

bool TokDES3CbcMechanism::DecryptFinal(zrck::MechanismSession& session, unsigned char* out, unsigned long* outLen)
{
    return EncryptFinal(session, out, outLen);
}

// ---- CBC-PAD ----

TokDES3CbcPadMechanism::TokDES3CbcPadMechanism() : Des3CbcOperation(CKM_DES3_CBC_PAD) {}

void TokDES3CbcPadMechanism::FreeResources()
{
    Des3CbcOperation::FreeResources();
    mbedtls_platform_zeroize(held_, sizeof held_);
}

void TokDES3CbcPadMechanism::Started(bool encrypting)
{
    padded_ = false;
    if (!encrypting) holding_ = false;
}

void TokDES3CbcPadMechanism::WriteLastBlock(const tru::Buffer& data, uint32_t tail, unsigned char* out)
{
    unsigned char block[kBlock];
    if (tail != 0) std::memcpy(block, data.Data() + data.Size() - tail, tail);
    TokDES3Utl::PreparePadding(block + tail, tail);
    Running().ProcessBlock(tru::Buffer(block, kBlock), out);
    mbedtls_platform_zeroize(block, sizeof block);
}

bool TokDES3CbcPadMechanism::Encrypt(zrck::MechanismSession&, const tru::Buffer& data, unsigned char* out,
                                     unsigned long* outLen)
{
    TokDES3CbcEncryptor& encryptor = Running();
    const uint32_t tail = data.Size() % kBlock;
    const uint32_t whole = data.Size() - tail;
    if (!OutputFits(out, outLen, static_cast<unsigned long>(whole) + kBlock)) return false;
    if (out == nullptr) return true;
    encryptor.ProcessBlock(tru::Buffer(data.Data(), whole), out);
    WriteLastBlock(data, tail, out + whole);
    return true;
}

bool TokDES3CbcPadMechanism::EncryptUpdate(zrck::MechanismSession&, const tru::Buffer& data, unsigned char* out,
                                           unsigned long* outLen)
{
    TokDES3CbcEncryptor& encryptor = Running();
    if (padded_) throw zrck::Exception(CKR_DATA_LEN_RANGE);
    const uint32_t tail = data.Size() % kBlock;
    const uint32_t whole = data.Size() - tail;
    if (!OutputFits(out, outLen, tail == 0 ? whole : static_cast<unsigned long>(whole) + kBlock)) return false;
    if (out == nullptr) return true;
    encryptor.ProcessBlock(tru::Buffer(data.Data(), whole), out);
    if (tail != 0) {
        WriteLastBlock(data, tail, out + whole);
        padded_ = true;
    }
    return true;
}

bool TokDES3CbcPadMechanism::EncryptFinal(zrck::MechanismSession&, unsigned char* out, unsigned long* outLen)
{
    Running();
    if (!OutputFits(out, outLen, padded_ ? 0 : kBlock)) return false;
    if (out == nullptr) return true;
    if (!padded_) WriteLastBlock(tru::Buffer(), 0, out);
    FreeResources();
    return true;
}

bool TokDES3CbcPadMechanism::Decrypt(zrck::MechanismSession&, const tru::Buffer& data, unsigned char* out,
                                     unsigned long* outLen)
{
    TokDES3CbcEncryptor& encryptor = Running();
    if (data.Size() < kBlock || data.Size() % kBlock != 0) throw zrck::Exception(CKR_ENCRYPTED_DATA_LEN_RANGE);
    if (!OutputFits(out, outLen, data.Size())) return false;
    if (out == nullptr) return true;
    encryptor.ProcessBlock(data, out);
    try {
        *outLen = data.Size() - TokDES3Utl::ExtractPadding(out + data.Size() - kBlock);
    } catch (const zrck::Exception&) {
        mbedtls_platform_zeroize(out, data.Size());
        *outLen = 0;
        throw;
    }
    return true;
}

bool TokDES3CbcPadMechanism::DecryptUpdate(zrck::MechanismSession&, const tru::Buffer& data, unsigned char* out,
                                           unsigned long* outLen)
{
    TokDES3CbcEncryptor& encryptor = Running();
    if (data.Size() < kBlock || data.Size() % kBlock != 0) throw zrck::Exception(CKR_ENCRYPTED_DATA_LEN_RANGE);
    if (!OutputFits(out, outLen, holding_ ? data.Size() : data.Size() - kBlock)) return false;
    if (out == nullptr) return true;
    // The held block comes first in the chain; the input is copied before the output is
    // written, since the caller may decrypt in place.
    const uint32_t passed = data.Size() - kBlock;
    vdk::SafeBuffer chain(holding_ ? data.Size() : passed);
    if (holding_) std::memcpy(chain.Data(), held_, kBlock);
    if (passed != 0) std::memcpy(chain.Data() + (holding_ ? kBlock : 0), data.Data(), passed);
    std::memcpy(held_, data.Data() + passed, kBlock);
    holding_ = true;
    encryptor.ProcessBlock(chain, out);
    return true;
}

bool TokDES3CbcPadMechanism::DecryptFinal(zrck::MechanismSession&, unsigned char* out, unsigned long* outLen)
{
    TokDES3CbcEncryptor& encryptor = Running();
    if (!holding_) throw zrck::Exception(CKR_ENCRYPTED_DATA_LEN_RANGE);
    if (!OutputFits(out, outLen, kBlock)) return false;
    if (out == nullptr) return true;
    unsigned char block[kBlock];
    encryptor.ProcessBlock(tru::Buffer(held_, kBlock), block);
    try {
        const uint32_t pad = TokDES3Utl::ExtractPadding(block);
        std::memcpy(out, block, kBlock - pad);
        *outLen = kBlock - pad;
    } catch (const zrck::Exception&) {
        mbedtls_platform_zeroize(block, sizeof block);
        *outLen = 0;
        throw;
    }
    mbedtls_platform_zeroize(block, sizeof block);
    FreeResources();
    return true;
}

}  // namespace mbt
