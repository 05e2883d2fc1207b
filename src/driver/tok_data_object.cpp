#include "driver/tok_data_object.h"

#include <memory>

#include "ckbase/exception.h"
#include "driver/qel_token.h"
#include "driver/stored_key.h"
#include "driver/stored_object_utl.h"
#include "driver/token_storage.h"
#include "objects/attribute_value.h"
#include "support/math.h"

namespace qel {

void TokData::SetApplication(const tru::Buffer& application) { StoredObjectUtl::CopyBuffer(application_, application); }

void TokData::SetObjectID(const tru::Buffer& objectId) { StoredObjectUtl::CopyBuffer(objectId_, objectId); }

const tru::Buffer& TokData::GetValue() const { return StoredObjectUtl::ValueOf(value_, *this); }

CK_ULONG TokData::GetObjectSize() { return GetStorageSize(StoredObjectUtl::StorageOf(*this)); }

void TokData::StoreAttributes() {
    TokenStorage* storage = StoredObjectUtl::StorageOf(*this);
    StoredObjectUtl::ReserveFilesIfNone(*this, *this, DATA);
    SetObjectFile(value_.StoreReplacing(*storage, GetObjectFile(), GetAttributeFile()));
    StoredRecords records;
    records.AddU32(tokattr::kFlags, StoredObjectUtl::StorageFlags(*this));
    records.AddIfAny(CKA_LABEL, GetLabelStored());
    records.AddIfAny(CKA_APPLICATION, application_);
    records.AddIfAny(CKA_OBJECT_ID, objectId_);
    records.WriteTo(*storage, GetAttributeFile());
}

void TokData::ReadAttributes() {
    InitDefaults();
    if (GetLifeTime() != LIFETIME_TOKEN) return;
    value_.AssignStorageParams(GetObjectFile(), GetAttributeFile());
    std::vector<storage::AttributeBuff> records;
    zrck::AttributeTemplate attributes;
    StoredObjectUtl::ReadTemplate(*this, *this, CKO_DATA, records, attributes);
    for (CK_ULONG i = 0; i < attributes.GetCount(); ++i) {
        const zrck::Attribute& entry = attributes[i];
        if (StoredObjectUtl::ApplyStorageRecord(*this, entry)) continue;
        switch (entry.GetType()) {
            case CKA_APPLICATION: SetApplication(zrck::ReadBytes(entry)); break;
            case CKA_OBJECT_ID: SetObjectID(zrck::ReadBytes(entry)); break;
            default: break;  // records a data object does not answer are passed over
        }
    }
}

bool TokData::RefreshFrom(TokenStoredObject& other) {
    if (IsRefreshLocked()) return false;
    auto* twin = dynamic_cast<TokData*>(&other);
    if (twin == nullptr) return false;
    bool changed = StoredObjectUtl::CopyIfDifferent(application_, twin->application_);
    changed = StoredObjectUtl::CopyIfDifferent(objectId_, twin->objectId_) || changed;
    value_.RefreshData(twin->value_);
    // Once a twin says no, this object can no longer be changed or copied.
    RefreshStoredValues(*this, *twin);
    return changed;
}

zrck::TokObject* TokData::GenerateCopy() {
    std::unique_ptr<TokData> copy(new TokData());
    StartStoredCopy(*copy, *copy, *this, *this, CopyFiles::OwnLater);
    copy->SetApplication(application_);
    copy->SetObjectID(objectId_);
    CarryValueToCopy(copy->value_, value_, *this);
    return copy.release();
}

std::string TokData::ToString() const { return StoredObjectUtl::ObjectText(*this, *this, "ID", objectId_); }

void TokData::MoveToFiles(long objectFile, long attributeFile) {
    TokenStoredObject::MoveToFiles(objectFile, attributeFile);
    value_.AssignStorageParams(objectFile, attributeFile);
}

}  // namespace qel
