#include "national/tok_ua_sgn_keys.h"

#include "ckbase/exception.h"
#include "cryptoki/token.h"
#include "driver/token_storage.h"
#include "national/ua_sgn_util.h"
#include "national/ua_token.h"

namespace qel {

namespace {

const CK_MECHANISM_TYPE kAllowedMechanisms[] = {CKM_DSTU4145, CKM_GOST34311_DSTU4145, CKM_DSTUDH_COFACTOR_DERIVE};

bool IsAllowed(CK_MECHANISM_TYPE type)
{
    for (CK_MECHANISM_TYPE allowed : kAllowedMechanisms) {
        if (allowed == type) return true;
    }
    return false;
}

} // namespace

// ---- private key ----

void TokUASgnPrivateKey::InitializeWithAttributes(zrck::ObjectToken* token, zrck::AttributeTemplate& attributes)
{
    zrck::Attribute* value = attributes.GetAttributeIfExists(CKA_VALUE);
    if (value != nullptr) value->mProcessed = 1;
    zrck::TokUASgnPrivateKey::InitializeWithAttributes(token, attributes);
    if (!IsTokenObject() || !IsPrivateObject()) throw zrck::Exception(CKR_ATTRIBUTE_VALUE_INVALID);
    const UAToken services = UAToken::Of(GetTokenPtr());
    tru::BufferDynamic sbox;
    const EParamSet paramSet = UASgnUtl::ParseECParams(GetECParams(), sbox, services.GetDefaultUAParamset());
    if (value == nullptr) return;
    if (GetObjectFile() != 0) throw zrck::Exception(CKR_TEMPLATE_INCONSISTENT);
    long keySlot = 0;
    long attributeFile = 0;
    const tru::Buffer blob(value->GetValue(), static_cast<uint32_t>(value->GetLength()));
    services.GetUAStorage().LoadKeyM(paramSet, TokenObject, blob, keySlot, attributeFile, 0);
    SetObjectFile(keySlot);
    SetAttributeFile(attributeFile);
}

zrck::TokObject* TokUASgnPrivateKey::GenerateCopy() { throw zrck::Exception(CKR_FUNCTION_NOT_SUPPORTED); }

CK_ULONG TokUASgnPrivateKey::GetObjectSize()
{
    const UAToken services = UAToken::Of(GetTokenPtr());
    return GetStorageSize(&services.GetUAStorage()) +
           UASgnUtl::CalcKeySize(GetECParams(), services.GetDefaultUAParamset()) + 18;
}

tru::Buffer TokUASgnPrivateKey::GetAllowedMechanisms() const
{
    return tru::Buffer(kAllowedMechanisms, sizeof kAllowedMechanisms);
}

bool TokUASgnPrivateKey::IsMechanismAllowed(CK_MECHANISM_TYPE type) const { return IsAllowed(type); }

const tru::Buffer& TokUASgnPrivateKey::GetValue() const { throw zrck::Exception(CKR_KEY_UNEXTRACTABLE); }

void TokUASgnPrivateKey::ReserveFiles()
{
    if (!IsPrivateObject()) throw zrck::Exception(CKR_ATTRIBUTE_VALUE_INVALID);
    long keySlot = 0;
    long attributeFile = 0;
    Storage().ReserveNewKey(kUASgnPrivateKeyItemType, keySlot, attributeFile);
    SetObjectFile(keySlot);
    SetAttributeFile(attributeFile);
}

// ---- public key ----

tru::Buffer TokUASgnPublicKey::GetAllowedMechanisms() const
{
    return tru::Buffer(kAllowedMechanisms, sizeof kAllowedMechanisms);
}

bool TokUASgnPublicKey::IsMechanismAllowed(CK_MECHANISM_TYPE type) const { return IsAllowed(type); }

void TokUASgnPublicKey::SetECPoint(const tru::Buffer& point)
{
    UASgnUtl::VerifyECPointAsnTag(point);
    KeepECPoint(point);
}

} // namespace qel
