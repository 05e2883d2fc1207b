#include "national/tok_ua_gost_cipher_mechanisms.h"

#include <algorithm>
#include <cstdint>
#include <cstring>

#include "ckbase/exception.h"
#include "national/tok_ua_gost_secret_key.h"
#include "national/ua_gost_utl.h"
#include "support/safe_buffer.h"

namespace qel {

namespace {

constexpr CK_FLAGS kCipherFlags = CKF_ENCRYPT | CKF_DECRYPT;
constexpr CK_ULONG kKeySize = 32;

// Common answer of the length convention: true when done or only asked for the length.
bool ReserveOutput(CK_ULONG needed, const unsigned char* out, unsigned long* outLen, bool& proceed)
{
    const bool shortBuffer = out != nullptr && *outLen < needed;
    *outLen = needed;
    proceed = out != nullptr && !shortBuffer;
    return !shortBuffer;
}

}  // namespace

// ---- ECB ----

TokUAGostEcbMechanism::TokUAGostEcbMechanism()
{
    SetMechanismType(CKM_GOST28147_ECB_NAT);
    SetFlags(kCipherFlags);
    SetMinKeySize(kKeySize);
    SetMaxKeySize(kKeySize);
}

zrck::TokMechanism* TokUAGostEcbMechanism::Clone() const
{
    auto* clone = new TokUAGostEcbMechanism();
    clone->AssignAttributes(*this);
    return clone;
}

void TokUAGostEcbMechanism::FreeResources()
{
    key_ = nullptr;
    schedule_.Clear();
    WipeRecord(ctx_);
}

void TokUAGostEcbMechanism::Init(const zrck::MechanismParameter& parameter, zrck::TokSecretKey& key, int direction)
{
    FreeResources();
    EnsureParameterEmpty(parameter);
    TokUAGostSecretKey& gostKey = AsGostKey(VerifyKey(key));
    schedule_.Load(gostKey);
    g28147_ecb_init_ext(&ctx_, direction, schedule_.Key(), schedule_.KExt());
    // Active only once the context is ready: a failed Init leaves no operation to run.
    key_ = &gostKey;
}

void TokUAGostEcbMechanism::EncryptInit(zrck::MechanismSession&, const zrck::MechanismParameter& parameter,
                                        zrck::TokSecretKey& key)
{
    Init(parameter, key, 1);
}

void TokUAGostEcbMechanism::DecryptInit(zrck::MechanismSession&, const zrck::MechanismParameter& parameter,
                                        zrck::TokSecretKey& key)
{
    Init(parameter, key, 0);
}

bool TokUAGostEcbMechanism::Process(const tru::Buffer& data, unsigned char* out, unsigned long* outLen)
{
    if (key_ == nullptr) throw zrck::Exception(CKR_GENERAL_ERROR);
    if (!UAGostUtl::GetInstance()->IsEcbDataSizeAcceptable(data.Size())) throw zrck::Exception(CKR_DATA_LEN_RANGE);
    bool proceed = false;
    if (!ReserveOutput(data.Size(), out, outLen, proceed)) return false;
    if (proceed) g28147_ecb_update(&ctx_, data.Data(), out, data.Size());
    return true;
}

bool TokUAGostEcbMechanism::Finish(unsigned char* out, unsigned long* outLen)
{
    if (key_ == nullptr) throw zrck::Exception(CKR_GENERAL_ERROR);
    *outLen = 0;
    if (out != nullptr) FreeResources();
    return true;
}

bool TokUAGostEcbMechanism::Encrypt(zrck::MechanismSession&, const tru::Buffer& data, unsigned char* out,
                                    unsigned long* outLen)
{
    return Process(data, out, outLen);
}

bool TokUAGostEcbMechanism::EncryptUpdate(zrck::MechanismSession&, const tru::Buffer& data, unsigned char* out,
                                          unsigned long* outLen)
{
    return Process(data, out, outLen);
}

bool TokUAGostEcbMechanism::EncryptFinal(zrck::MechanismSession&, unsigned char* out, unsigned long* outLen)
{
    return Finish(out, outLen);
}

bool TokUAGostEcbMechanism::Decrypt(zrck::MechanismSession&, const tru::Buffer& data, unsigned char* out,
                                    unsigned long* outLen)
{
    return Process(data, out, outLen);
}

bool TokUAGostEcbMechanism::DecryptUpdate(zrck::MechanismSession&, const tru::Buffer& data, unsigned char* out,
                                          unsigned long* outLen)
{
    return Process(data, out, outLen);
}

bool TokUAGostEcbMechanism::DecryptFinal(zrck::MechanismSession&, unsigned char* out, unsigned long* outLen)
{
    return Finish(out, outLen);
}

// ---- Counter and CFB ----

template <class Base>
TokUAGostStreamMechanism<Base>::TokUAGostStreamMechanism() : ivView_(reinterpret_cast<uint8_t*>(iv_), sizeof iv_)
{
    this->SetFlags(kCipherFlags);
    this->SetMinKeySize(kKeySize);
    this->SetMaxKeySize(kKeySize);
}

template <class Base>
void TokUAGostStreamMechanism<Base>::FreeResources()
{
    key_ = nullptr;
    schedule_.Clear();
    WipeContext();
    tru::Buffer::Wipe(sizeof iv_, iv_);
    tru::Buffer::Wipe(sizeof pending_, pending_);
    pendingLength_ = 0;
}

template <class Base>
void TokUAGostStreamMechanism<Base>::SetDefaultParameter()
{
    std::memset(iv_, 0, sizeof iv_);
}

template <class Base>
void TokUAGostStreamMechanism<Base>::SetIV(const tru::Buffer& iv)
{
    if (iv.Size() != sizeof iv_) throw zrck::Exception(CKR_MECHANISM_PARAM_INVALID, "IV should be 8 bytes long");
    std::memcpy(iv_, iv.Data(), sizeof iv_);
}

template <class Base>
void TokUAGostStreamMechanism<Base>::Init(const zrck::MechanismParameter& parameter, zrck::TokSecretKey& key,
                                          int direction)
{
    FreeResources();
    this->SetParameter(parameter);
    TokUAGostSecretKey& gostKey = AsGostKey(this->VerifyKey(key));
    schedule_.Load(gostKey);
    StartContext(schedule_, iv_, direction);
    key_ = &gostKey;
}

template <class Base>
void TokUAGostStreamMechanism<Base>::EncryptInit(zrck::MechanismSession&, const zrck::MechanismParameter& parameter,
                                                 zrck::TokSecretKey& key)
{
    Init(parameter, key, 1);
}

template <class Base>
void TokUAGostStreamMechanism<Base>::DecryptInit(zrck::MechanismSession&, const zrck::MechanismParameter& parameter,
                                                 zrck::TokSecretKey& key)
{
    Init(parameter, key, 0);
}

template <class Base>
void TokUAGostStreamMechanism<Base>::RequireActive() const
{
    if (key_ == nullptr) throw zrck::Exception(CKR_GENERAL_ERROR);
}

template <class Base>
bool TokUAGostStreamMechanism<Base>::Encrypt(zrck::MechanismSession&, const tru::Buffer& data, unsigned char* out,
                                             unsigned long* outLen)
{
    RequireActive();
    bool proceed = false;
    if (!ReserveOutput(data.Size(), out, outLen, proceed)) return false;
    if (proceed && !data.Empty()) RunContext(data.Data(), out, data.Size());
    return true;
}

template <class Base>
bool TokUAGostStreamMechanism<Base>::EncryptUpdate(zrck::MechanismSession&, const tru::Buffer& data,
                                                   unsigned char* out, unsigned long* outLen)
{
    RequireActive();
    const uint64_t total = uint64_t(pendingLength_) + data.Size();
    const CK_ULONG whole = static_cast<CK_ULONG>(total - total % G28147_BLOCK_SIZE);
    bool proceed = false;
    if (!ReserveOutput(whole, out, outLen, proceed)) return false;
    if (!proceed) return true;

    const uint8_t* in = data.Data();
    uint32_t left = data.Size();
    // The first block out carries the pending bytes, so output runs ahead of the input it
    // comes from: an output buffer over the input (in place) would overwrite input not yet
    // read, so such input is read from a copy.
    vdk::SafeBuffer copy;
    const uintptr_t inStart = reinterpret_cast<uintptr_t>(in);
    const uintptr_t outStart = reinterpret_cast<uintptr_t>(out);
    if (left > 0 && whole > 0 && outStart < inStart + left && inStart < outStart + whole) {
        const tru::TResult rc = copy.Set(left, in);
        if (rc != tru::SUCCESS) throw tru::Exception(rc);
        in = copy.Data();
    }
    CK_ULONG written = 0;
    if (pendingLength_ > 0) {
        const uint32_t take = std::min<uint32_t>(G28147_BLOCK_SIZE - pendingLength_, left);
        if (take > 0) std::memcpy(pending_ + pendingLength_, in, take);
        pendingLength_ += take;
        in += take;
        left -= take;
        if (pendingLength_ < G28147_BLOCK_SIZE) return true;
        RunContext(pending_, out, G28147_BLOCK_SIZE);
        written = G28147_BLOCK_SIZE;
        pendingLength_ = 0;
    }
    const uint32_t blocks = left - left % G28147_BLOCK_SIZE;
    if (blocks > 0) RunContext(in, out + written, blocks);
    pendingLength_ = left - blocks;
    if (pendingLength_ > 0) std::memcpy(pending_, in + blocks, pendingLength_);
    return true;
}

template <class Base>
bool TokUAGostStreamMechanism<Base>::EncryptFinal(zrck::MechanismSession&, unsigned char* out, unsigned long* outLen)
{
    RequireActive();
    bool proceed = false;
    if (!ReserveOutput(pendingLength_, out, outLen, proceed)) return false;
    if (!proceed) return true;
    // CFB takes these bytes as the message's final partial block.
    if (pendingLength_ > 0) RunContext(pending_, out, pendingLength_);
    FreeResources();
    return true;
}

template class TokUAGostStreamMechanism<zrck::TokUAGostCntMechanism>;
template class TokUAGostStreamMechanism<zrck::TokUAGostCfbMechanism>;

TokUAGostCntMechanism::TokUAGostCntMechanism() { SetMechanismType(CKM_GOST28147_CNT); }

zrck::TokMechanism* TokUAGostCntMechanism::Clone() const
{
    auto* clone = new TokUAGostCntMechanism();
    clone->AssignAttributes(*this);
    return clone;
}

void TokUAGostCntMechanism::StartContext(const GostKeySchedule& schedule, const uint32_t* iv, int)
{
    g28147_ofb_init_ext(&ctx_, schedule.Key(), iv, schedule.KExt());
}

void TokUAGostCntMechanism::RunContext(const uint8_t* in, uint8_t* out, uint32_t length)
{
    g28147_ofb_update(&ctx_, in, out, length);
}

TokUAGostCfbMechanism::TokUAGostCfbMechanism() { SetMechanismType(CKM_GOST28147_CFB); }

zrck::TokMechanism* TokUAGostCfbMechanism::Clone() const
{
    auto* clone = new TokUAGostCfbMechanism();
    clone->AssignAttributes(*this);
    return clone;
}

void TokUAGostCfbMechanism::StartContext(const GostKeySchedule& schedule, const uint32_t* iv, int direction)
{
    g28147_cfb_init_ext(&ctx_, direction, schedule.Key(), iv, schedule.KExt());
}

void TokUAGostCfbMechanism::RunContext(const uint8_t* in, uint8_t* out, uint32_t length)
{
    g28147_cfb_update(&ctx_, in, out, length);
}

}  // namespace qel
