#include "rsa/rsa_key_binding.h"

#include <cstring>

#include "ckbase/exception.h"
#include "driver/qel_token.h"
#include "driver/stored_object_utl.h"
#include "driver/token_stored_object.h"
#include "objects/tok_mechanism.h"
#include "rsa/tok_rsa_keys.h"

namespace qel {

namespace {

const CK_ULONG kStoredMinKeySize = 512;
const CK_ULONG kStoredMaxKeySize = 2048;

Token* QelTokenOf(const zrck::TokMechanism& mechanism) { return dynamic_cast<Token*>(mechanism.GetTokenPtr()); }

}  // namespace

void RsaKeyBinding::SetStoredKeySizes(zrck::TokMechanism& mechanism)
{
    mechanism.SetMinKeySize(kStoredMinKeySize);
    mechanism.SetMaxKeySize(kStoredMaxKeySize);
}

CK_ULONG RsaKeyBinding::MinKeySize(const zrck::TokMechanism& mechanism)
{
    Token* token = QelTokenOf(mechanism);
    return token != nullptr ? token->GetMinRSAKeySize() : mechanism.zrck::TokMechanism::GetMinKeySize();
}

CK_ULONG RsaKeyBinding::MaxKeySize(const zrck::TokMechanism& mechanism)
{
    Token* token = QelTokenOf(mechanism);
    return token != nullptr ? token->GetMaxRSAKeySize() : mechanism.zrck::TokMechanism::GetMaxKeySize();
}

void RsaKeyBinding::Forget() { keys_.Forget(); }

void RsaKeyBinding::CheckSize(const zrck::TokMechanism& mechanism, CK_ULONG bits)
{
    if (bits < mechanism.GetMinKeySize() || bits > mechanism.GetMaxKeySize()) {
        Forget();
        throw zrck::Exception(CKR_KEY_TYPE_INCONSISTENT);
    }
}

void RsaKeyBinding::BindPublic(zrck::TokMechanism& mechanism, const zrck::MechanismParameter& parameter,
                               zrck::TokPublicKey& key)
{
    CheckSize(mechanism, keys_.BindPublic(mechanism, parameter, key).GetModulusBits());
}

void RsaKeyBinding::BindPrivate(zrck::TokMechanism& mechanism, const zrck::MechanismParameter& parameter,
                                zrck::TokPrivateKey& key)
{
    CheckSize(mechanism, keys_.BindPrivate(mechanism, parameter, key).GetModulusBits());
}

uint32_t RsaKeyBinding::BlockLength(CK_ULONG modulusBits)
{
    if (modulusBits % 8 != 0) throw zrck::Exception(CKR_DATA_INVALID);
    return static_cast<uint32_t>(modulusBits / 8);
}

void RsaKeyBinding::RequireLength(Input kind, const tru::Buffer& input, uint32_t k)
{
    switch (kind) {
    case Input::Data:
        if (input.Size() > k) throw zrck::Exception(CKR_DATA_LEN_RANGE);
        break;
    case Input::Signature:
        if (input.Size() != k) throw zrck::Exception(CKR_SIGNATURE_LEN_RANGE);
        break;
    case Input::Ciphertext:
        if (input.Size() != k) throw zrck::Exception(CKR_ENCRYPTED_DATA_LEN_RANGE);
        break;
    }
}

void RsaKeyBinding::PublicBlob(tru::BufferDynamic& blob) const
{
    StoredObjectUtl::CopyBuffer(blob, Public().GetModulus());
    TokRsaPublicKey::GeneratePublicKey(blob, Public().GetModulusBits());
}

TokenStorage& RsaKeyBinding::PublicStorage() const { return *StoredObjectUtl::StorageOf(Public()); }

TokenStorage& RsaKeyBinding::PrivateStorage() const { return *StoredObjectUtl::StorageOf(Private()); }

long RsaKeyBinding::KeySlot() const
{
    const auto* stored = dynamic_cast<const TokenStoredObject*>(&Private());
    if (stored == nullptr || stored->GetObjectFile() == 0) throw zrck::Exception(CKR_FUNCTION_FAILED);
    return stored->GetObjectFile();
}

bool AnswerLengthOnly(uint32_t needed, unsigned char* out, unsigned long* outLen, bool& result)
{
    if (out != nullptr && *outLen >= needed) return false;
    result = out == nullptr;
    *outLen = needed;
    return true;
}

bool PlaceResult(const tru::Buffer& result, unsigned char* out, unsigned long* outLen)
{
    const bool fits = *outLen >= result.Size();
    if (fits && result.Size() != 0) std::memcpy(out, result.Data(), result.Size());
    *outLen = result.Size();
    return fits;
}

}  // namespace qel
