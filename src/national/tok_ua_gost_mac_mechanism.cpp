#include "national/tok_ua_gost_mac_mechanism.h"

#include <cstring>

#include "ckbase/exception.h"
#include "national/tok_ua_gost_secret_key.h"

namespace qel {

TokUAGostMacMechanism::TokUAGostMacMechanism()
{
    SetMechanismType(CKM_GOST28147_MAC_NAT);
    SetFlags(CKF_SIGN | CKF_VERIFY);
    SetMinKeySize(32);
    SetMaxKeySize(32);
}

zrck::TokMechanism* TokUAGostMacMechanism::Clone() const
{
    auto* clone = new TokUAGostMacMechanism();
    clone->AssignAttributes(*this);
    return clone;
}

void TokUAGostMacMechanism::FreeResources()
{
    key_ = nullptr;
    schedule_.Clear();
    WipeRecord(ctx_);
    fed_ = 0;
}

void TokUAGostMacMechanism::SignInit(zrck::MechanismSession&, const zrck::MechanismParameter& parameter,
                                     zrck::TokSecretKey& key)
{
    FreeResources();
    EnsureParameterEmpty(parameter);
    TokUAGostSecretKey& gostKey = AsGostKey(zrck::TokUAGostEcbMechanism::VerifyKey(key));
    schedule_.Load(gostKey);
    g28147_hmac_init_ext(&ctx_, schedule_.Key(), schedule_.KExt());
    // Active only once the context is ready.
    key_ = &gostKey;
}

void TokUAGostMacMechanism::RequireActive() const
{
    if (key_ == nullptr) throw zrck::Exception(CKR_GENERAL_ERROR);
}

void TokUAGostMacMechanism::FinishInto(uint8_t* mac)
{
    if (fed_ < kMinDataLength) throw zrck::Exception(CKR_DATA_LEN_RANGE);
    uint32_t n1 = 0;
    if (g28147_hmac_final(&ctx_, &n1) == 0) throw zrck::Exception(CKR_DATA_LEN_RANGE);
    for (unsigned i = 0; i < kMacLength; ++i) mac[i] = static_cast<uint8_t>(n1 >> (8 * i));
    n1 = 0;
}

void TokUAGostMacMechanism::SignUpdate(zrck::MechanismSession&, const tru::Buffer& data)
{
    RequireActive();
    if (data.Empty()) return;
    g28147_hmac_update(&ctx_, data.Data(), data.Size());
    fed_ += data.Size();
}

bool TokUAGostMacMechanism::Sign(zrck::MechanismSession& session, const tru::Buffer& data, unsigned char* out,
                                 unsigned long* outLen)
{
    RequireActive();
    const bool shortBuffer = out != nullptr && *outLen < kMacLength;
    *outLen = kMacLength;
    if (out == nullptr) return true;
    if (shortBuffer) return false;
    if (data.Size() < kMinDataLength) throw zrck::Exception(CKR_DATA_LEN_RANGE);
    SignUpdate(session, data);
    FinishInto(out);
    FreeResources();
    return true;
}

bool TokUAGostMacMechanism::SignFinal(zrck::MechanismSession&, unsigned char* out, unsigned long* outLen)
{
    RequireActive();
    const bool shortBuffer = out != nullptr && *outLen < kMacLength;
    *outLen = kMacLength;
    if (out == nullptr) return true;
    if (shortBuffer) return false;
    FinishInto(out);
    FreeResources();
    return true;
}

bool TokUAGostMacMechanism::Verify(zrck::MechanismSession& session, const tru::Buffer& data,
                                   const tru::Buffer& signature)
{
    if (signature.Size() != kMacLength) throw zrck::Exception(CKR_SIGNATURE_LEN_RANGE);
    uint8_t mac[kMacLength];
    unsigned long length = sizeof mac;
    Sign(session, data, mac, &length);
    return SameBytes(mac, signature.Data(), kMacLength);
}

bool TokUAGostMacMechanism::VerifyFinal(zrck::MechanismSession&, const tru::Buffer& signature)
{
    RequireActive();
    if (signature.Size() != kMacLength) throw zrck::Exception(CKR_SIGNATURE_LEN_RANGE);
    uint8_t mac[kMacLength];
    FinishInto(mac);
    FreeResources();
    return SameBytes(mac, signature.Data(), kMacLength);
}

}  // namespace qel
