#include "driver/stored_curve_keys.h"

#include "ckbase/exception.h"
#include "driver/stored_object_utl.h"
#include "driver/token_storage.h"
#include "objects/tok_ecdsa_keys.h"
#include "objects/tok_ua_sgn_objects.h"

#include <memory>
#include <typeinfo>

namespace qel {

// ---- private key ----

template <class Base>
TokenStorage& StoredCurvePrivateKey<Base>::Storage() const
{
    return *StoredObjectUtl::StorageOf(*this);
}

template <class Base>
zrck::TokObject* StoredCurvePrivateKey<Base>::GenerateCopy()
{
    std::unique_ptr<StoredCurvePrivateKey> copy(MakeEmpty());
    StartStoredCopy(*copy, *copy, *this, *this);
    copy->SetRefreshLock(false);
    copy->RefreshFrom(*this);
    copy->SetRefreshLock(true);
    if (LazyData* value = DataFileValue()) copy->DataFileValue()->CopyData(*value, StorageIfToken(*this));
    copy->fields_.generationDate = this->fields_.generationDate;
    return copy.release();
}

template <class Base>
CK_ULONG StoredCurvePrivateKey<Base>::GetObjectSize()
{
    return this->GetStorageSize(&Storage()) + 16;
}

template <class Base>
void StoredCurvePrivateKey<Base>::AddDefaultUsageAttributes()
{
    this->flags_.sign = CK_TRUE;
    this->fields_.derive = CK_TRUE;
}

template <class Base>
void StoredCurvePrivateKey<Base>::ReserveFiles()
{
    if (!this->IsPrivateObject()) throw zrck::Exception(CKR_ATTRIBUTE_VALUE_INVALID);
    long objectFile = 0;
    long attributeFile = 0;
    Storage().ReserveNewObject(this->GetTokenIndexType(), PrivateObject, objectFile, attributeFile);
    this->SetObjectFile(objectFile);
    this->SetAttributeFile(attributeFile);
}

template <class Base>
void StoredCurvePrivateKey<Base>::StoreAttributes()
{
    if (this->GetObjectFile() == 0) ReserveFiles();
    TokenStorage& storage = Storage();
    if (LazyData* value = DataFileValue()) value->Store(storage, this->GetObjectFile());
    StoredKeyRecords(this->FlagsWord(), this->fields_, this->GetLabelStored(), static_cast<uint16_t>(CKA_EC_PARAMS),
                     &this->ecParams_)
        .WriteTo(storage, this->GetAttributeFile());
}

template <class Base>
void StoredCurvePrivateKey<Base>::ReadAttributes()
{
    this->InitDefaults();
    if (this->GetLifeTime() != zrck::TokObject::LIFETIME_TOKEN) return;
    if (LazyData* value = DataFileValue()) value->AssignStorageParams(this->GetObjectFile());
    ReadStoredKeyAttributes(*this, *this, CKO_PRIVATE_KEY,
                            {{CKA_SENSITIVE, true}, {CKA_ALWAYS_SENSITIVE, true}, {CKA_EXTRACTABLE, false},
                             {CKA_NEVER_EXTRACTABLE, true}, {CKA_DECRYPT, false}, {CKA_SIGN, false},
                             {CKA_DERIVE, false}, {CKA_UNWRAP, false}, {CKA_WRAP_WITH_TRUSTED, false},
                             {CKA_ALWAYS_AUTHENTICATE, false}});
}

template <class Base>
bool StoredCurvePrivateKey<Base>::RefreshFrom(TokenStoredObject& other)
{
    if (this->IsRefreshLocked()) return false;
    auto* source = dynamic_cast<StoredCurvePrivateKey*>(&other);
    if (source == nullptr || source == this || typeid(*source) != typeid(*this)) return false;
    this->fields_.CopyPlainValues(source->fields_);
    this->flags_ = source->flags_;
    bool changed = StoredObjectUtl::CopyIfDifferent(this->ecParams_, source->ecParams_);
    changed = this->fields_.RefreshBuffers(source->fields_) || changed;
    if (LazyData* value = DataFileValue()) value->RefreshData(*source->DataFileValue());
    changed = RefreshStoredValues(*this, *source) || changed;
    return changed;
}

// ---- public key ----

template <class Base>
TokenStorage& StoredCurvePublicKey<Base>::Storage() const
{
    return *StoredObjectUtl::StorageOf(*this);
}

template <class Base>
zrck::TokObject* StoredCurvePublicKey<Base>::GenerateCopy()
{
    std::unique_ptr<StoredCurvePublicKey> copy(MakeEmpty());
    // A token copy gets files of its own when it is stored: the source's stay the source's.
    StartStoredCopy(*copy, *copy, *this, *this, CopyFiles::OwnLater);
    copy->SetRefreshLock(false);
    copy->RefreshFrom(*this);
    copy->SetRefreshLock(true);
    // A point never read is read now: the copy must carry it.
    copy->ecPoint_.CopyData(ecPoint_, StorageIfToken(*this));
    copy->fields_.generationDate = this->fields_.generationDate;
    return copy.release();
}

template <class Base>
CK_ULONG StoredCurvePublicKey<Base>::GetObjectSize()
{
    return this->GetStorageSize(&Storage());
}

template <class Base>
const tru::Buffer& StoredCurvePublicKey<Base>::GetECPoint() const
{
    if (this->GetTokenPtr() == nullptr) throw zrck::Exception(CKR_FUNCTION_FAILED);
    return ecPoint_.GetData(&Storage());
}

template <class Base>
void StoredCurvePublicKey<Base>::StoreAttributes()
{
    TokenStorage& storage = Storage();
    StoredObjectUtl::ReserveFilesIfNone(*this, *this, this->GetTokenIndexType());
    ecPoint_.Store(storage, this->GetObjectFile());
    const bool writeParams = StoresEmptyParams() || !this->ecParams_.Empty();
    StoredKeyRecords(this->FlagsWord(), this->fields_, this->GetLabelStored(), static_cast<uint16_t>(CKA_EC_PARAMS),
                     writeParams ? &this->ecParams_ : nullptr)
        .WriteTo(storage, this->GetAttributeFile());
}

template <class Base>
void StoredCurvePublicKey<Base>::ReadAttributes()
{
    this->InitDefaults();
    if (this->GetLifeTime() != zrck::TokObject::LIFETIME_TOKEN) return;
    ecPoint_.AssignStorageParams(this->GetObjectFile());
    ReadStoredKeyAttributes(*this, *this, CKO_PUBLIC_KEY,
                            {{CKA_ENCRYPT, false}, {CKA_VERIFY, false}, {CKA_TRUSTED, false}, {CKA_DERIVE, false},
                             {CKA_WRAP, false}});
}

template <class Base>
bool StoredCurvePublicKey<Base>::RefreshFrom(TokenStoredObject& other)
{
    if (this->IsRefreshLocked()) return false;
    auto* source = dynamic_cast<StoredCurvePublicKey*>(&other);
    if (source == nullptr || source == this || typeid(*source) != typeid(*this)) return false;
    this->fields_.CopyPlainValues(source->fields_);
    this->flags_ = source->flags_;
    bool changed = StoredObjectUtl::CopyIfDifferent(this->ecParams_, source->ecParams_);
    changed = this->fields_.RefreshBuffers(source->fields_) || changed;
    ecPoint_.RefreshData(source->ecPoint_);
    changed = RefreshStoredValues(*this, *source) || changed;
    return changed;
}

template class StoredCurvePrivateKey<zrck::TokECDsaPrivateKey>;
template class StoredCurvePrivateKey<zrck::TokUASgnPrivateKey>;
template class StoredCurvePublicKey<zrck::TokECDsaPublicKey>;
template class StoredCurvePublicKey<zrck::TokUASgnPublicKey>;

} // namespace qel
