#include "swcrypto/token_des3_secret_key.h"

#include <memory>

#include "ckbase/exception.h"
#include "driver/stored_key.h"
#include "driver/stored_object_utl.h"
#include "driver/token_storage.h"
#include "support/math.h"
#include "support/safe_buffer.h"
#include "swcrypto/des3_engine.h"

namespace qel {

namespace {

const CK_MECHANISM_TYPE kAllowedMechanisms[] = {CKM_DES3_CBC, CKM_DES3_CBC_PAD};

const long kFirstPrivateFile = 128;

}  // namespace

void TokDES3SecretKey::InitializeWithAttributes(zrck::ObjectToken* token, zrck::AttributeTemplate& attributes)
{
    mbt::TokDES3SecretKey::InitializeWithAttributes(token, attributes);
    if (GetTokenPtr() == nullptr) throw zrck::Exception(CKR_FUNCTION_FAILED);
    // The value of a sensitive key never goes to a public file.
    if (GetIsSensitive() && IsTokenObject()) SetVisibility(VISIBILITY_PRIVATE);
}

void TokDES3SecretKey::SetIsSensitive(CK_BBOOL value)
{
    if (value && !GetIsSensitive() && GetObjectFile() != 0 && GetObjectFile() < kFirstPrivateFile) {
        throw zrck::Exception(CKR_ATTRIBUTE_READ_ONLY, "SENSITIVE");
    }
    mbt::TokDES3SecretKey::SetIsSensitive(value);
}

CK_ULONG TokDES3SecretKey::GetObjectSize()
{
    return GetStorageSize(StoredObjectUtl::StorageOf(*this)) + kKeyObjectSize;
}

tru::Buffer TokDES3SecretKey::GetAllowedMechanisms() const
{
    return tru::Buffer(kAllowedMechanisms, sizeof kAllowedMechanisms);
}

bool TokDES3SecretKey::IsMechanismAllowed(CK_MECHANISM_TYPE type) const
{
    for (CK_MECHANISM_TYPE allowed : kAllowedMechanisms) {
        if (allowed == type) return true;
    }
    return false;
}

const tru::Buffer& TokDES3SecretKey::GetValue() const
{
    if (value_.IsLoaded() || value_.IsSet()) return value_.GetBuffer();
    return value_.GetData(StoredObjectUtl::StorageOf(*this));
}

void TokDES3SecretKey::SetValue(const tru::Buffer& value)
{
    vdk::SafeBuffer corrected(value);
    mbt::TokDES3Utl::CorrectKeyValue(corrected);
    value_.SetData(corrected);
}

zrck::TokObject* TokDES3SecretKey::GenerateCopy()
{
    std::unique_ptr<TokDES3SecretKey> copy(new TokDES3SecretKey());
    StartStoredCopy(*copy, *copy, *this, *this, CopyFiles::OwnLater);
    copy->SetRefreshLock(false);
    copy->RefreshFrom(*this);
    copy->SetRefreshLock(true);
    CarryValueToCopy(copy->value_, value_, *this);
    copy->SetGenerationDate(*GetGenerationDate());
    return copy.release();
}

bool TokDES3SecretKey::RefreshFrom(TokenStoredObject& other)
{
    if (IsRefreshLocked()) return false;
    auto* twin = dynamic_cast<TokDES3SecretKey*>(&other);
    if (twin == nullptr || twin == this) return false;
    CopyAttributesFrom(*twin);
    value_.RefreshData(twin->value_);
    const bool changed = CopyIdentityFrom(*twin);
    RefreshStoredValues(*this, *twin);
    // The modifiable flag follows the twin both ways.
    SetModifiableStored(twin->IsModifiableStored());
    return changed;
}

void TokDES3SecretKey::StoreAttributes()
{
    TokenStorage* storage = StoredObjectUtl::StorageOf(*this);
    StoredObjectUtl::ReserveFilesIfNone(*this, *this, DES3_SECRET_KEY);
    value_.Store(*storage, GetObjectFile(), LazyData::Rebind::KeepLoaded);
    const uint32_t flags = StoredSecretKeyFlags(flags_, fields_, IsModifiableStored(), IsCopyableStored(), true);
    StoredKeyRecords(flags, fields_, GetLabelStored()).WriteTo(*storage, GetAttributeFile());
}

void TokDES3SecretKey::ReadAttributes()
{
    InitDefaults();
    if (GetLifeTime() != LIFETIME_TOKEN) return;
    value_.AssignStorageParams(GetObjectFile());
    StoredKeyReading how;
    how.exactGenerationDate = true;
    how.token = GetTokenPtr();
    ReadStoredKeyAttributes(*this, *this, CKO_SECRET_KEY,
                            {{CKA_ENCRYPT, false}, {CKA_DECRYPT, false}, {CKA_SIGN, false}, {CKA_VERIFY, false},
                             {CKA_TRUSTED, false}, {CKA_DERIVE, false}, {CKA_WRAP, false}},
                            how);
}

}  // namespace qel
