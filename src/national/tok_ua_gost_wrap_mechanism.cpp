#include "national/tok_ua_gost_wrap_mechanism.h"

#include <cstring>

#include "ckbase/exception.h"
#include "cryptoki/session_frame.h"
#include "cryptoki/token.h"
#include "national/dke_tables.h"
#include "driver/template_value_detach.h"
#include "national/tok_ua_gost_secret_key.h"
#include "support/safe_buffer.h"

namespace qel {

namespace {

constexpr uint32_t kKeyLength = 32;
constexpr uint32_t kIcvLength = 4;
constexpr uint32_t kIvLength = 8;
constexpr uint32_t kWrappedKeyLength = kKeyLength + kIcvLength;  // WK = CEK || ICV
static_assert(kIvLength + kWrappedKeyLength == TokUAGostWrapMechanism::kWrappedLength, "44-byte blob");

const CK_OBJECT_CLASS kSecretKeyClass = CKO_SECRET_KEY;
const CK_KEY_TYPE kGostKeyType = CKK_GOST28147_NAT;

// A CK_ULONG template entry of the right size whose value must match; otherwise mismatch.
void RequireULong(const zrck::Attribute* entry, CK_ULONG expected, CK_RV mismatch)
{
    if (entry != nullptr && entry->GetAsULong() != expected) throw zrck::Exception(mismatch);
}

}  // namespace

TokUAGostWrapMechanism::TokUAGostWrapMechanism()
{
    SetMechanismType(CKM_GOST28147_WRAP);
    SetFlags(CKF_WRAP | CKF_UNWRAP);
    SetMinKeySize(kKeyLength);
    SetMaxKeySize(kKeyLength);
}

zrck::TokMechanism* TokUAGostWrapMechanism::Clone() const
{
    auto* clone = new TokUAGostWrapMechanism();
    clone->AssignAttributes(*this);
    return clone;
}

void TokUAGostWrapMechanism::FreeResources()
{
    key_ = nullptr;
    schedule_.Clear();
    WipeRecord(cfb_);
    WipeRecord(mac_);
}

TokUAGostSecretKey& TokUAGostWrapMechanism::Start(const zrck::MechanismParameter& parameter, zrck::TokKey* kek)
{
    FreeResources();
    EnsureParameterEmpty(parameter);
    if (kek == nullptr) throw zrck::Exception(CKR_KEY_HANDLE_INVALID);
    TokUAGostSecretKey& gostKey = AsGostKey(VerifyKey(*kek));
    key_ = &gostKey;
    return gostKey;
}

void TokUAGostWrapMechanism::LoadSchedule() { schedule_.Load(*key_); }

void TokUAGostWrapMechanism::ComputeIcv(const uint8_t* cek, uint8_t* icv)
{
    g28147_hmac_init_ext(&mac_, schedule_.Key(), schedule_.KExt());
    g28147_hmac_update(&mac_, cek, kKeyLength);
    uint32_t n1 = 0;
    g28147_hmac_final(&mac_, &n1);
    for (uint32_t i = 0; i < kIcvLength; ++i) icv[i] = static_cast<uint8_t>(n1 >> (8 * i));
    WipeRecord(mac_);
}

void TokUAGostWrapMechanism::Cfb(int direction, const uint8_t* iv, const uint8_t* in, uint8_t* out, uint32_t length)
{
    uint32_t ivWords[2];
    std::memcpy(ivWords, iv, sizeof ivWords);
    g28147_cfb_init_ext(&cfb_, direction, schedule_.Key(), ivWords, schedule_.KExt());
    g28147_cfb_update(&cfb_, in, out, length);
    WipeRecord(cfb_);
}

bool TokUAGostWrapMechanism::WrapKey(zrck::MechanismSession& session, const zrck::MechanismParameter& parameter,
                                     zrck::TokKey* wrappingKey, zrck::TokKey& key, unsigned char* out,
                                     unsigned long* outLen)
{
    Start(parameter, wrappingKey);
    TokUAGostSecretKey& keyToWrap = AsGostKey(VerifyKey(key));
    const bool shortBuffer = out != nullptr && *outLen < kWrappedLength;
    *outLen = kWrappedLength;
    if (out == nullptr) return true;
    if (shortBuffer) return false;

    LoadSchedule();
    const tru::Buffer& cek = keyToWrap.GetValue();
    if (cek.Size() != kKeyLength) throw zrck::Exception(CKR_KEY_SIZE_RANGE);

    // T2 = IV || CFB(IV, CEK || ICV); the plain WK is built in the ciphertext's place first.
    vdk::SafeBuffer t2(kWrappedLength);
    uint8_t* iv = t2.Data();
    uint8_t* wk = t2.Data() + kIvLength;
    std::memcpy(wk, cek.Data(), kKeyLength);
    ComputeIcv(wk, wk + kKeyLength);
    tru::Buffer ivView(iv, kIvLength);
    session.GenerateRandom(ivView);
    Cfb(1, iv, wk, wk, kWrappedKeyLength);
    tru::Buffer::Reverse(t2.Data(), kWrappedLength);
    Cfb(1, glbIV1, t2.Data(), out, kWrappedLength);
    FreeResources();
    return true;
}

zrck::TokMechanism::KeyPointer TokUAGostWrapMechanism::UnwrapKey(zrck::MechanismSession& session,
                                                                 const zrck::MechanismParameter& parameter,
                                                                 zrck::TokKey* unwrappingKey,
                                                                 const tru::Buffer& wrapped,
                                                                 zrck::AttributeTemplate& attributes)
{
    TokUAGostSecretKey& kek = Start(parameter, unwrappingKey);
    if (wrapped.Size() != kWrappedLength) throw zrck::Exception(CKR_DATA_LEN_RANGE);
    RequireULong(attributes.GetAttributeIfExists(CKA_CLASS), CKO_SECRET_KEY, CKR_TEMPLATE_INCONSISTENT);
    RequireULong(attributes.GetAttributeIfExists(CKA_KEY_TYPE), CKK_GOST28147_NAT, CKR_KEY_NOT_WRAPPABLE);

    LoadSchedule();
    vdk::SafeBuffer t2(kWrappedLength);
    Cfb(0, glbIV1, wrapped.Data(), t2.Data(), kWrappedLength);
    tru::Buffer::Reverse(t2.Data(), kWrappedLength);
    vdk::SafeBuffer wk(kWrappedKeyLength);
    Cfb(0, t2.Data(), t2.Data() + kIvLength, wk.Data(), kWrappedKeyLength);
    uint8_t icv[kIcvLength];
    ComputeIcv(wk.Data(), icv);
    if (!SameBytes(icv, wk.Data() + kKeyLength, kIcvLength)) throw zrck::Exception(CKR_SIGNATURE_INVALID);
    vdk::SafeBuffer cek(wk.Data(), kKeyLength);
    vdk::SafeBuffer sBox(kek.GetSBox());

    zrck::Attribute supplied[4];
    supplied[0].SetupOwn(CKA_CLASS, &kSecretKeyClass, sizeof kSecretKeyClass);
    supplied[1].SetupOwn(CKA_KEY_TYPE, &kGostKeyType, sizeof kGostKeyType);
    supplied[2].SetupOwn(CKA_GOST_SBOXES, sBox.Data(), sBox.Size());
    supplied[3].SetupOwn(CKA_VALUE, cek.Data(), cek.Size());
    attributes.AddAttributesIfNotExist(supplied, 4);
    const TemplateValueDetach detachValue(attributes, CKA_VALUE, cek.Data());
    const TemplateValueDetach detachSBox(attributes, CKA_GOST_SBOXES, sBox.Data());
    KeyPointer created = CreateUnwrappedKey(session, attributes);
    FreeResources();
    return created;
}

zrck::TokMechanism::KeyPointer TokUAGostWrapMechanism::CreateUnwrappedKey(zrck::MechanismSession& session,
                                                                          zrck::AttributeTemplate& attributes)
{
    zrck::ObjectToken* owner = session.GetOwnerToken();
    if (owner == nullptr) owner = GetTokenPtr();
    auto* token = dynamic_cast<zrck::Token*>(owner);
    KeyPointer created;
    if (token != nullptr && token->GetClassFactory() != nullptr) {
        created.reset(token->GetClassFactory()->Generate(attributes));
        if (!created) throw zrck::Exception(CKR_TEMPLATE_INCONSISTENT);
    } else {
        created.reset(new TokUAGostSecretKey());
    }
    created->InitializeWithAttributes(token, attributes);
    return created;
}

}  // namespace qel
