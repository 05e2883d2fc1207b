#include "national/tok_ua_sgn_keys.h"

#include "cryptoki/exception.h"
#include "cryptoki/token.h"
#include "driver/stored_object_utl.h"
#include "driver/token_storage.h"
#include "national/ua_sgn_util.h"
#include "national/ua_token.h"
#include "support/vdk_exception.h"
#include "tru2/exception.h"

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <initializer_list>
#include <memory>

namespace qel {

namespace {

const CK_MECHANISM_TYPE kAllowedMechanisms[] = {CKM_DSTU4145, CKM_GOST34311_DSTU4145, CKM_DSTUDH_COFACTOR_DERIVE};

tru::Buffer AllowedMechanisms()
{
    return tru::Buffer(kAllowedMechanisms, sizeof kAllowedMechanisms);
}

bool IsAllowed(CK_MECHANISM_TYPE type)
{
    for (CK_MECHANISM_TYPE allowed : kAllowedMechanisms) {
        if (allowed == type) return true;
    }
    return false;
}

bool SameBytes(const tru::Buffer& a, const tru::Buffer& b)
{
    return a.Size() == b.Size() && (a.Size() == 0 || std::memcmp(a.Data(), b.Data(), a.Size()) == 0);
}

} // namespace

// ---- shared fields ----

bool UASgnKeyFields::RefreshBuffers(const UASgnKeyFields& other)
{
    const bool paramsChanged = StoredObjectUtl::CopyIfDifferent(ecParams, other.ecParams);
    const bool othersChanged = StoredKeyFields::RefreshBuffers(other);
    return paramsChanged || othersChanged;
}

// ---- private key ----

TokUASgnPrivateKey::TokUASgnPrivateKey() { SetCopyableStored(false); }

void TokUASgnPrivateKey::InitializeWithAttributes(zrck::Token* token, zrck::AttributeTemplate& attributes)
{
    zrck::Attribute* value = attributes.GetAttributeIfExists(CKA_VALUE);
    if (value != nullptr) value->mProcessed = 1;
    zrck::TokUASgnPrivateKey::InitializeWithAttributes(token, attributes);
    if (!IsTokenObject() || !IsPrivateObject()) throw zrck::Exception(CKR_ATTRIBUTE_VALUE_INVALID);
    const UAToken services = UAToken::Of(GetTokenPtr());
    tru::BufferDynamic sbox;
    const EParamSet paramSet = UASgnUtl::ParseECParams(fields_.ecParams, sbox, services.GetDefaultUAParamset());
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

std::string TokUASgnPrivateKey::ToString() const { return StoredKeyText(*this, *this, fields_.keyId); }

CK_ULONG TokUASgnPrivateKey::GetObjectSize()
{
    const UAToken services = UAToken::Of(GetTokenPtr());
    return GetStorageSize(&services.GetUAStorage()) +
           UASgnUtl::CalcKeySize(fields_.ecParams, services.GetDefaultUAParamset()) + 18;
}

void TokUASgnPrivateKey::SetKeyID(const tru::Buffer& id) { StoredObjectUtl::CopyBuffer(fields_.keyId, id); }
void TokUASgnPrivateKey::SetSubject(const tru::Buffer& subject) { StoredObjectUtl::CopyBuffer(fields_.subject, subject); }
void TokUASgnPrivateKey::SetECParams(const tru::Buffer& params) { StoredObjectUtl::CopyBuffer(fields_.ecParams, params); }

tru::Buffer TokUASgnPrivateKey::GetAllowedMechanisms() const { return AllowedMechanisms(); }
bool TokUASgnPrivateKey::IsMechanismAllowed(CK_MECHANISM_TYPE type) const { return IsAllowed(type); }

void TokUASgnPrivateKey::AddDefaultUsageAttributes()
{
    sign_ = CK_TRUE;
    fields_.derive = CK_TRUE;
}

void TokUASgnPrivateKey::SetIsSensitive(CK_BBOOL value)
{
    if (sensitive_ && !value) throw zrck::Exception(CKR_ATTRIBUTE_READ_ONLY);
    sensitive_ = value;
}

void TokUASgnPrivateKey::SetIsAlwaysSensitive(CK_BBOOL value)
{
    alwaysSensitive_ = value;
    if (value) sensitive_ = CK_TRUE;
}

void TokUASgnPrivateKey::AddGeneratedSensitiveAttributes(const zrck::SessionFrame&)
{
    sensitive_ = CK_TRUE;
    alwaysSensitive_ = CK_TRUE;
    extractable_ = CK_FALSE;
    neverExtractable_ = CK_TRUE;
}

const tru::Buffer& TokUASgnPrivateKey::GetValue() const { throw zrck::Exception(CKR_KEY_UNEXTRACTABLE); }

uint32_t TokUASgnPrivateKey::FlagsWord() const
{
    return StoredKeyFlags({{IsModifiable() != 0, 0}, {IsCopyable() != 0, 1}, {fields_.derive != 0, 3}, {sensitive_ != 0, 8},
                     {decrypt_ != 0, 9}, {sign_ != 0, 10}, {signRecover_ != 0, 11}, {unwrap_ != 0, 12},
                     {extractable_ != 0, 13}, {alwaysSensitive_ != 0, 14}, {neverExtractable_ != 0, 15},
                     {wrapWithTrusted_ != 0, 16}, {alwaysAuthenticate_ != 0, 17}, {fields_.local != 0, 18}});
}

void TokUASgnPrivateKey::StoreAttributes()
{
    if (GetObjectFile() == 0) {
        if (!IsPrivateObject()) throw zrck::Exception(CKR_ATTRIBUTE_VALUE_INVALID);
        long keySlot = 0;
        long attributeFile = 0;
        UAToken::Of(GetTokenPtr()).GetUAStorage().ReserveNewKey(kUASgnPrivateKeyItemType, keySlot, attributeFile);
        SetObjectFile(keySlot);
        SetAttributeFile(attributeFile);
    }
    StoredKeyRecords(FlagsWord(), fields_, GetLabelStored(), static_cast<uint16_t>(CKA_EC_PARAMS), &fields_.ecParams)
        .WriteTo(UAToken::Of(GetTokenPtr()).GetUAStorage(),
                                                                GetAttributeFile());
}

void TokUASgnPrivateKey::ReadAttributes()
{
    InitDefaults();
    if (GetLifeTime() != LIFETIME_TOKEN) return;
    ReadStoredKeyAttributes(*this, *this, fields_, CKO_PRIVATE_KEY,
                      {{CKA_SENSITIVE, true}, {CKA_ALWAYS_SENSITIVE, true}, {CKA_EXTRACTABLE, false},
                       {CKA_NEVER_EXTRACTABLE, true}, {CKA_SIGN, false}, {CKA_DERIVE, false}, {CKA_UNWRAP, false},
                       {CKA_WRAP_WITH_TRUSTED, false}, {CKA_ALWAYS_AUTHENTICATE, false}});
}

bool TokUASgnPrivateKey::RefreshFrom(TokenStoredObject& other)
{
    if (IsRefreshLocked()) return false;
    auto* source = dynamic_cast<TokUASgnPrivateKey*>(&other);
    if (source == nullptr || source == this) return false;
    fields_.CopyPlainValues(source->fields_);
    sensitive_ = source->sensitive_;
    decrypt_ = source->decrypt_;
    sign_ = source->sign_;
    signRecover_ = source->signRecover_;
    unwrap_ = source->unwrap_;
    extractable_ = source->extractable_;
    alwaysSensitive_ = source->alwaysSensitive_;
    neverExtractable_ = source->neverExtractable_;
    wrapWithTrusted_ = source->wrapWithTrusted_;
    alwaysAuthenticate_ = source->alwaysAuthenticate_;
    bool changed = fields_.RefreshBuffers(source->fields_);
    if (!SameBytes(GetLabelStored(), source->GetLabelStored())) {
        SetLabelStored(source->GetLabelStored());
        changed = true;
    }
    SetModifiableStored(source->IsModifiableStored());
    return changed;
}

// ---- public key ----

zrck::TokObject* TokUASgnPublicKey::GenerateCopy()
{
    std::unique_ptr<TokUASgnPublicKey> copy(new TokUASgnPublicKey());
    copy->SetCopyMode(COPY_MODE);
    copy->SetTokenPtr(GetTokenPtr());
    copy->SetOwnerSession(GetOwnerSession());
    const ObjectLifeTimeEnum lifeTime = GetLifeTime();
    copy->SetLifeTime(lifeTime == LIFETIME_FIXED || lifeTime == LIFETIME_MECHANISM ? LIFETIME_TOKEN : lifeTime);
    copy->SetVisibility(GetVisibility());
    copy->SetObjectFile(GetObjectFile());
    copy->SetAttributeFile(GetAttributeFile());
    copy->SetModifiableStored(IsModifiableStored());
    copy->SetCopyableStored(IsCopyableStored());
    copy->SetLabelStored(GetLabelStored());
    copy->SetRefreshLock(false);
    copy->RefreshFrom(*this);
    // A point never read is read now: the copy must carry it.
    TokenStorage* storage = GetTokenPtr() != nullptr ? &UAToken::Of(GetTokenPtr()).GetUAStorage() : nullptr;
    copy->ecPoint_.CopyData(ecPoint_, storage);
    copy->fields_.generationDate = fields_.generationDate;
    return copy.release();
}

std::string TokUASgnPublicKey::ToString() const { return StoredKeyText(*this, *this, fields_.keyId); }

CK_ULONG TokUASgnPublicKey::GetObjectSize()
{
    return GetStorageSize(&UAToken::Of(GetTokenPtr()).GetUAStorage());
}

void TokUASgnPublicKey::SetKeyID(const tru::Buffer& id) { StoredObjectUtl::CopyBuffer(fields_.keyId, id); }
void TokUASgnPublicKey::SetSubject(const tru::Buffer& subject) { StoredObjectUtl::CopyBuffer(fields_.subject, subject); }
void TokUASgnPublicKey::SetECParams(const tru::Buffer& params) { StoredObjectUtl::CopyBuffer(fields_.ecParams, params); }

tru::Buffer TokUASgnPublicKey::GetAllowedMechanisms() const { return AllowedMechanisms(); }
bool TokUASgnPublicKey::IsMechanismAllowed(CK_MECHANISM_TYPE type) const { return IsAllowed(type); }

bool TokUASgnPublicKey::IsAlgOIDAcceptable(const char*, int)
{
    throw zrck::Exception(CKR_FUNCTION_FAILED, "TokUASgnPublicKey is not linked with public key algorithm id now");
}

const tru::Buffer& TokUASgnPublicKey::GetECPoint() const
{
    if (GetTokenPtr() == nullptr) throw zrck::Exception(CKR_FUNCTION_FAILED);
    return ecPoint_.GetData(&UAToken::Of(GetTokenPtr()).GetUAStorage());
}

void TokUASgnPublicKey::SetECPoint(const tru::Buffer& point)
{
    UASgnUtl::VerifyECPointAsnTag(point);
    ecPoint_.SetData(point);
}

uint32_t TokUASgnPublicKey::FlagsWord() const
{
    return StoredKeyFlags({{IsModifiable() != 0, 0}, {IsCopyable() != 0, 1}, {trusted_ != 0, 2}, {fields_.derive != 0, 3},
                     {encrypt_ != 0, 4}, {verify_ != 0, 5}, {verifyRecover_ != 0, 6}, {wrap_ != 0, 7},
                     {fields_.local != 0, 18}});
}

void TokUASgnPublicKey::StoreAttributes()
{
    TokenStorage& storage = UAToken::Of(GetTokenPtr()).GetUAStorage();
    if (GetObjectFile() == 0) {
        long objectFile = 0;
        long attributeFile = 0;
        storage.ReserveNewObject(kUASgnPublicKeyItemType, IsPrivateObject() ? PrivateObject : PublicObject, objectFile,
                                 attributeFile);
        SetObjectFile(objectFile);
        SetAttributeFile(attributeFile);
    }
    if (ecPoint_.IsLoaded() || ecPoint_.IsSet()) {
        const vdk::SafeBuffer point(ecPoint_.GetBuffer());
        ecPoint_.AssignStorageParams(GetObjectFile());
        storage.WriteDataFileM(GetObjectFile(), point);
    }
    StoredKeyRecords(FlagsWord(), fields_, GetLabelStored(), static_cast<uint16_t>(CKA_EC_PARAMS), &fields_.ecParams)
        .WriteTo(storage, GetAttributeFile());
}

void TokUASgnPublicKey::ReadAttributes()
{
    InitDefaults();
    if (GetLifeTime() != LIFETIME_TOKEN) return;
    ecPoint_.AssignStorageParams(GetObjectFile());
    ReadStoredKeyAttributes(*this, *this, fields_, CKO_PUBLIC_KEY,
                      {{CKA_VERIFY, false}, {CKA_TRUSTED, false}, {CKA_DERIVE, false}, {CKA_WRAP, false}});
}

bool TokUASgnPublicKey::RefreshFrom(TokenStoredObject& other)
{
    if (IsRefreshLocked()) return false;
    auto* source = dynamic_cast<TokUASgnPublicKey*>(&other);
    if (source == nullptr || source == this) return false;
    fields_.CopyPlainValues(source->fields_);
    encrypt_ = source->encrypt_;
    verify_ = source->verify_;
    verifyRecover_ = source->verifyRecover_;
    wrap_ = source->wrap_;
    trusted_ = source->trusted_;
    bool changed = fields_.RefreshBuffers(source->fields_);
    if (!SameBytes(GetLabelStored(), source->GetLabelStored())) {
        SetLabelStored(source->GetLabelStored());
        changed = true;
    }
    ecPoint_.RefreshData(source->ecPoint_);
    if (!source->IsModifiableStored()) SetModifiableStored(false);
    if (!source->IsCopyableStored()) SetCopyableStored(false);
    return changed;
}

} // namespace qel
