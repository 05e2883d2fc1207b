#include "driver/tok_data_object.h"

#include <cstdio>
#include <memory>
#include <sstream>

#include "ckbase/exception.h"
#include "driver/qel_token.h"
#include "driver/stored_object_utl.h"
#include "driver/token_storage.h"
#include "objects/attribute_value.h"
#include "support/math.h"

namespace qel {

namespace {
const uint32_t kFlagModifiable = 1u << 0;
const uint32_t kFlagCopyable = 1u << 1;
}  // namespace

void TokData::SetApplication(const tru::Buffer& application) { StoredObjectUtl::CopyBuffer(application_, application); }

void TokData::SetObjectID(const tru::Buffer& objectId) { StoredObjectUtl::CopyBuffer(objectId_, objectId); }

const tru::Buffer& TokData::GetValue() const {
    // A value in memory needs no token; an unread one is read from its data file.
    if (value_.IsLoaded() || value_.IsSet() || value_.GetFileId() == 0) return value_.GetBuffer();
    return value_.GetData(StoredObjectUtl::StorageOf(*this));
}

CK_ULONG TokData::GetObjectSize() { return GetStorageSize(StoredObjectUtl::StorageOf(*this)); }

void TokData::StoreAttributes() {
    TokenStorage* storage = StoredObjectUtl::StorageOf(*this);
    StoredObjectUtl::ReserveFilesIfNone(*this, *this, DATA);
    if (value_.IsLoaded() || value_.IsSet()) {
        value_.AssignStorageParams(GetObjectFile());
        storage->WriteDataFileM(GetObjectFile(), value_.GetBuffer());
    }
    uint8_t flags[4];
    vdk::Math::PutUInt(vdk::Math::LITTLE_ENDIAN_ORDER,
                       (IsModifiableStored() ? kFlagModifiable : 0) | (IsCopyableStored() ? kFlagCopyable : 0), flags);
    std::vector<storage::Attribute> records{StoredObjectUtl::Record(tokattr::kFlags, flags, sizeof flags)};
    if (!GetLabelStored().Empty()) records.push_back(StoredObjectUtl::Record(CKA_LABEL, GetLabelStored()));
    if (!application_.Empty()) records.push_back(StoredObjectUtl::Record(CKA_APPLICATION, application_));
    if (!objectId_.Empty()) records.push_back(StoredObjectUtl::Record(CKA_OBJECT_ID, objectId_));
    storage->WriteAttributeFile(GetAttributeFile(), records.data(), static_cast<unsigned>(records.size()));
}

void TokData::ReadAttributes() {
    InitDefaults();
    if (GetLifeTime() != LIFETIME_TOKEN) return;
    value_.AssignStorageParams(GetObjectFile());
    std::vector<storage::AttributeBuff> records;
    zrck::AttributeTemplate attributes;
    StoredObjectUtl::ReadTemplate(*this, *this, CKO_DATA, records, attributes);
    for (CK_ULONG i = 0; i < attributes.GetCount(); ++i) {
        const zrck::Attribute& entry = attributes[i];
        switch (entry.GetType()) {
            case CKA_LABEL: SetLabel(zrck::ReadBytes(entry)); break;
            case CKA_APPLICATION: SetApplication(zrck::ReadBytes(entry)); break;
            case CKA_OBJECT_ID: SetObjectID(zrck::ReadBytes(entry)); break;
            case CKA_MODIFIABLE: SetModifiable(entry.GetAsBool()); break;
            case CKA_COPYABLE: SetCopyable(entry.GetAsBool()); break;
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
    if (GetLabelStored() != twin->GetLabelStored()) SetLabel(twin->GetLabelStored());
    // Once a twin says no, this object can no longer be changed or copied.
    if (IsModifiableStored() && !twin->IsModifiableStored()) SetModifiableStored(false);
    if (IsCopyableStored() && !twin->IsCopyableStored()) SetCopyableStored(false);
    return changed;
}

zrck::TokObject* TokData::GenerateCopy() {
    std::unique_ptr<TokData> copy(new TokData());
    copy->SetCopyMode(COPY_MODE);
    copy->SetTokenPtr(GetTokenPtr());
    copy->SetOwnerSession(GetOwnerSession());
    copy->SetVisibility(GetVisibility());
    const ObjectLifeTimeEnum lifeTime = GetLifeTime();
    copy->SetLifeTime(lifeTime == LIFETIME_FIXED || lifeTime == LIFETIME_MECHANISM ? LIFETIME_TOKEN : lifeTime);
    // The copy gets files of its own when it is stored, never its source's.
    copy->SetModifiableStored(IsModifiableStored());
    copy->SetCopyableStored(IsCopyableStored());
    copy->SetLabel(GetLabelStored());
    copy->SetApplication(application_);
    copy->SetObjectID(objectId_);
    if (value_.GetFileId() != 0 && !value_.IsLoaded() && !value_.IsSet()) {
        copy->value_.CopyData(value_, StoredObjectUtl::StorageOf(*this));
    } else {
        copy->value_.RefreshData(value_);
    }
    return copy.release();
}

std::string TokData::ToString() const {
    std::ostringstream text;
    char handle[24];
    std::snprintf(handle, sizeof handle, "%lX", static_cast<unsigned long>(GetHandle()));
    text << GetObjectClassName() << "[This: " << static_cast<const void*>(this) << ", Handle: " << handle
         << ", Label=\"" << GetLabelStored().ToString() << "\", ID: " << StoredObjectUtl::HexId(objectId_)
         << StoredObjectUtl::StorageIdText(*this) << "]";
    return text.str();
}

}  // namespace qel
