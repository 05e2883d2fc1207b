#include "rsa/tok_rsa_keys.h"

#include <memory>

#include "ckbase/exception.h"
#include "driver/stored_object_utl.h"
#include "driver/token_storage.h"
#include "support/math.h"

namespace qel {

namespace {

const uint64_t kPublicExponent = 65537;

bool SameBytes(const tru::Buffer& a, const tru::Buffer& b)
{
    return a.Size() == b.Size() && (a.Size() == 0 || a == b);
}

}  // namespace

zrck::TokObject* TokRsaPublicKey::GenerateCopy()
{
    std::unique_ptr<TokRsaPublicKey> copy(new TokRsaPublicKey());
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
    copy->SetRefreshLock(true);
    // A modulus never read is read now: the copy must carry it.
    TokenStorage* storage = GetTokenPtr() != nullptr ? StoredObjectUtl::StorageOf(*this) : nullptr;
    copy->modulus_.CopyData(modulus_, storage);
    copy->fields_.generationDate = fields_.generationDate;
    return copy.release();
}

CK_ULONG TokRsaPublicKey::GetObjectSize() { return GetStorageSize(StoredObjectUtl::StorageOf(*this)); }

void TokRsaPublicKey::SetSubject(const tru::Buffer& subject) { StoredObjectUtl::CopyBuffer(fields_.subject, subject); }

tru::Buffer TokRsaPublicKey::GetAllowedMechanisms() const { return TokRsaPrivateKey::AllowedMechanismTable(); }
bool TokRsaPublicKey::IsMechanismAllowed(CK_MECHANISM_TYPE type) const
{
    return TokRsaPrivateKey::IsInAllowedMechanismTable(type);
}

void TokRsaPublicKey::AddDefaultUsageAttributes()
{
    encrypt_ = CK_TRUE;
    verify_ = CK_TRUE;
    verifyRecover_ = CK_TRUE;
}

bool TokRsaPublicKey::IsAlgOIDAcceptable(const char*, int)
{
    throw zrck::Exception(CKR_FUNCTION_FAILED, "TokRsaPublicKey is not linked with public key algorithm id now");
}

const tru::Buffer& TokRsaPublicKey::GetModulus() const
{
    if (modulus_.IsLoaded() || modulus_.IsSet()) return modulus_.GetBuffer();
    return modulus_.GetData(StoredObjectUtl::StorageOf(*this));
}

CK_ULONG TokRsaPublicKey::GetModulusBits() const
{
    return modulusBits_ != 0 ? modulusBits_ : static_cast<CK_ULONG>(GetModulus().Size()) * 8;
}

void TokRsaPublicKey::SetPublicExponent(const tru::Buffer& exponent)
{
    if (vdk::GetUnsignedLLongFromBigInt(exponent.Data(), exponent.Size()) != kPublicExponent) {
        throw zrck::Exception(CKR_ATTRIBUTE_VALUE_INVALID);
    }
}

uint32_t TokRsaPublicKey::FlagsWord() const
{
    return StoredKeyFlags({{IsModifiable() != 0, 0}, {IsCopyable() != 0, 1}, {trusted_ != 0, 2},
                           {fields_.derive != 0, 3}, {encrypt_ != 0, 4}, {verify_ != 0, 5},
                           {verifyRecover_ != 0, 6}, {wrap_ != 0, 7}, {fields_.local != 0, 18}});
}

void TokRsaPublicKey::StoreAttributes()
{
    TokenStorage* storage = StoredObjectUtl::StorageOf(*this);
    StoredObjectUtl::ReserveFilesIfNone(*this, *this, kRsaPublicKeyItemType);
    if (modulus_.IsLoaded() || modulus_.IsSet()) {
        // Binding the file marks a loaded value unread: write a copy.
        const vdk::SafeBuffer modulus(modulus_.GetBuffer());
        modulus_.AssignStorageParams(GetObjectFile());
        storage->WriteDataFileM(GetObjectFile(), modulus);
    }
    StoredKeyRecords(FlagsWord(), fields_, GetLabelStored()).WriteTo(*storage, GetAttributeFile());
}

void TokRsaPublicKey::ReadAttributes()
{
    InitDefaults();
    if (GetLifeTime() != LIFETIME_TOKEN) return;
    modulus_.AssignStorageParams(GetObjectFile());
    ReadStoredKeyAttributes(*this, *this, fields_, CKO_PUBLIC_KEY,
                            {{CKA_ENCRYPT, false}, {CKA_VERIFY, false}, {CKA_VERIFY_RECOVER, false},
                             {CKA_TRUSTED, false}, {CKA_DERIVE, false}, {CKA_WRAP, false}});
}

bool TokRsaPublicKey::RefreshFrom(TokenStoredObject& other)
{
    if (IsRefreshLocked()) return false;
    auto* source = dynamic_cast<TokRsaPublicKey*>(&other);
    if (source == nullptr || source == this) return false;
    modulusBits_ = source->modulusBits_;
    fields_.CopyPlainValues(source->fields_);
    encrypt_ = source->encrypt_;
    verify_ = source->verify_;
    verifyRecover_ = source->verifyRecover_;
    wrap_ = source->wrap_;
    trusted_ = source->trusted_;
    modulus_.RefreshData(source->modulus_);
    const bool changed = fields_.RefreshBuffers(source->fields_);
    if (!SameBytes(GetLabelStored(), source->GetLabelStored())) SetLabelStored(source->GetLabelStored());
    if (!source->IsModifiableStored()) SetModifiableStored(false);
    if (!source->IsCopyableStored()) SetCopyableStored(false);
    return changed;
}

}  // namespace qel
