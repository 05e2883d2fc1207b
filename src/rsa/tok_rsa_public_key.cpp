#include "rsa/tok_rsa_keys.h"

#include <memory>

#include "ckbase/exception.h"
#include "driver/stored_object_utl.h"
#include "driver/token_storage.h"
#include "support/math.h"

namespace qel {

namespace {

const uint64_t kPublicExponent = 65537;

}  // namespace

zrck::TokObject* TokRsaPublicKey::GenerateCopy()
{
    std::unique_ptr<TokRsaPublicKey> copy(new TokRsaPublicKey());
    // A token copy gets files of its own when it is stored: the source's stay the source's.
    StartStoredCopy(*copy, *copy, *this, *this, CopyFiles::OwnLater);
    copy->SetRefreshLock(false);
    copy->RefreshFrom(*this);
    copy->SetRefreshLock(true);
    // A modulus never read is read now: the copy must carry it.
    copy->modulus_.CopyData(modulus_, StorageIfToken(*this));
    copy->fields_.generationDate = fields_.generationDate;
    return copy.release();
}

CK_ULONG TokRsaPublicKey::GetObjectSize() { return GetStorageSize(StoredObjectUtl::StorageOf(*this)); }

tru::Buffer TokRsaPublicKey::GetAllowedMechanisms() const { return TokRsaPrivateKey::AllowedMechanismTable(); }
bool TokRsaPublicKey::IsMechanismAllowed(CK_MECHANISM_TYPE type) const
{
    return TokRsaPrivateKey::IsInAllowedMechanismTable(type);
}

void TokRsaPublicKey::AddDefaultUsageAttributes()
{
    flags_.encrypt = CK_TRUE;
    flags_.verify = CK_TRUE;
    flags_.verifyRecover = CK_TRUE;
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

void TokRsaPublicKey::StoreAttributes()
{
    TokenStorage* storage = StoredObjectUtl::StorageOf(*this);
    StoredObjectUtl::ReserveFilesIfNone(*this, *this, kRsaPublicKeyItemType);
    modulus_.Store(*storage, GetObjectFile());
    StoredKeyRecords(FlagsWord(), fields_, GetLabelStored()).WriteTo(*storage, GetAttributeFile());
}

void TokRsaPublicKey::ReadAttributes()
{
    InitDefaults();
    if (GetLifeTime() != LIFETIME_TOKEN) return;
    modulus_.AssignStorageParams(GetObjectFile());
    ReadStoredKeyAttributes(*this, *this, CKO_PUBLIC_KEY,
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
    flags_ = source->flags_;
    modulus_.RefreshData(source->modulus_);
    const bool changed = fields_.RefreshBuffers(source->fields_);
    // The label is refreshed but does not count as a change here.
    RefreshStoredValues(*this, *source);
    return changed;
}

}  // namespace qel
