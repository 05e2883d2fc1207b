#include <algorithm>
#include <cstring>
#include <map>
#include <set>

#include "ckbase/exception.h"
#include "driver/qel_slot.h"
#include "driver/qel_token.h"
#include "driver/qel_token_tables.h"
#include "driver/so_token_properties.h"
#include "driver/stored_identity.h"
#include "driver/token_stored_object.h"
#include "objects/tok_domain_params.h"
#include "objects/tok_mechanism.h"
#include "support/math.h"

namespace qel {

namespace {

// Bits of the flags word (token attribute 0x8EFF) after CKA_MODIFIABLE (0) and CKA_COPYABLE (1).
struct FlagBit {
    unsigned bit;
    CK_ATTRIBUTE_TYPE type;
};
const FlagBit kFlagBits[] = {
    {2, CKA_TRUSTED},           {3, CKA_DERIVE},         {4, CKA_ENCRYPT},
    {5, CKA_VERIFY},            {6, CKA_VERIFY_RECOVER}, {7, CKA_WRAP},
    {9, CKA_DECRYPT},           {10, CKA_SIGN},          {11, CKA_SIGN_RECOVER},
    {12, CKA_UNWRAP},           {13, CKA_EXTRACTABLE},   {14, CKA_ALWAYS_SENSITIVE},
    {15, CKA_NEVER_EXTRACTABLE}, {16, CKA_WRAP_WITH_TRUSTED}, {17, CKA_ALWAYS_AUTHENTICATE},
};
const unsigned kLocalBit = 18;
const unsigned kSensitiveBit = 8;

bool IsKeyClass(CK_OBJECT_CLASS objectClass) {
    return objectClass == CKO_PUBLIC_KEY || objectClass == CKO_PRIVATE_KEY || objectClass == CKO_SECRET_KEY;
}

const zrck::TokObject::ObjectLifeTimeEnum kNoLifeTime = static_cast<zrck::TokObject::ObjectLifeTimeEnum>(0);

}  // namespace

// ---- mechanism table ----

void Token::CreateMechanisms() {
    for (const MechanismRow& row : MechanismRows()) {
        bool offered = true;
        switch (row.condition) {
            case TokenCondition::Always: break;
            case TokenCondition::NotModel: offered = storage_->GetModelFlag() == 0; break;
            case TokenCondition::DH: offered = storage_->IsDHSupportedM(); break;
            case TokenCondition::DSTU431: offered = storage_->IsDSTU_431Supported(); break;
        }
        if (!offered) continue;
        if (zrck::TokMechanism* mechanism = row.make(*this)) AddMechanism(mechanism);
    }
}

void Token::AddMechanism(zrck::TokMechanism* mechanism) {
    std::shared_ptr<zrck::TokMechanism> owned(mechanism);
    const CK_MECHANISM_TYPE type = owned->GetMechanismType();
    CK_OBJECT_HANDLE replaced = 0;
    {
        std::lock_guard<vdk::RankedMutex> lock(mechanismsMutex_);
        auto found = mechanisms_.find(type);
        if (found != mechanisms_.end()) std::swap(replaced, found->second);
    }
    if (replaced != 0) slot_->DeleteSlotMemoryObject(replaced);
    owned->SetTokenPtr(this);
    const CK_OBJECT_HANDLE handle = slot_->AddObject(owned);
    std::lock_guard<vdk::RankedMutex> lock(mechanismsMutex_);
    mechanisms_[type] = handle;
}

void Token::ClearMechanisms() {
    std::lock_guard<vdk::RankedMutex> lock(mechanismsMutex_);
    mechanisms_.clear();
}

CK_OBJECT_HANDLE Token::MechanismHandle(CK_MECHANISM_TYPE type) const {
    std::lock_guard<vdk::RankedMutex> lock(mechanismsMutex_);
    auto found = mechanisms_.find(type);
    return found != mechanisms_.end() ? found->second : 0;
}

CK_ULONG Token::GetMechanismCount() {
    std::lock_guard<vdk::RankedMutex> lock(mechanismsMutex_);
    return mechanisms_.size();
}

bool Token::IsMechanismSupported(CK_MECHANISM_TYPE type) {
    std::lock_guard<vdk::RankedMutex> lock(mechanismsMutex_);
    return mechanisms_.count(type) != 0;
}

zrck::TokMechanism* Token::GetMechanismIfSupported(CK_MECHANISM_TYPE type) {
    // The registry keeps the object alive until the token drops its objects.
    return HoldMechanismIfSupported(type).get();
}

std::shared_ptr<zrck::TokMechanism> Token::HoldMechanismIfSupported(CK_MECHANISM_TYPE type) {
    const CK_OBJECT_HANDLE handle = MechanismHandle(type);
    if (handle == 0) return nullptr;
    zrck::TokObjectPtr object = slot_->GetBlockObjectIfExists(handle);
    if (!object) return nullptr;
    slot_->ReleaseObject(object);
    if (object->GetClass() != CKO_MECHANISM) return nullptr;
    return std::shared_ptr<zrck::TokMechanism>(object, static_cast<zrck::TokMechanism*>(object.get()));
}

void Token::FillMechanismList(CK_MECHANISM_TYPE_PTR list, CK_ULONG length) {
    std::lock_guard<vdk::RankedMutex> lock(mechanismsMutex_);
    if (mechanisms_.size() > length) throw zrck::BufferTooSmallException();
    // Only the entries reported: the caller's count may be larger than its buffer.
    CK_ULONG i = 0;
    for (const auto& entry : mechanisms_) list[i++] = entry.first;
}

void Token::FillMechanismInfo(CK_MECHANISM_TYPE type, CK_MECHANISM_INFO_PTR info) {
    const CK_OBJECT_HANDLE handle = MechanismHandle(type);
    if (handle == 0) throw zrck::Exception(CKR_MECHANISM_INVALID);
    zrck::TokObjectPtr object = slot_->GetBlockObjectIfExists(handle);
    if (!object) throw zrck::Exception(CKR_FUNCTION_FAILED);
    struct Release {
        Slot& slot;
        const zrck::TokObjectPtr& object;
        ~Release() { slot.ReleaseObject(object); }
    } release{*slot_, object};
    auto* mechanism = dynamic_cast<zrck::TokMechanism*>(object.get());
    if (mechanism == nullptr) throw zrck::Exception(CKR_FUNCTION_FAILED);
    mechanism->FillMechanismInfo(info);
}

void Token::DestroyAllObjects() {
    vdk::MutexIntf::Guard guard(GetOperationMutex(), "DestroyAllObjects");
    slot_->DropAllObjects();
    ClearMechanisms();
    publicListed_ = false;
    privateListed_ = false;
    objectsInitialized_.store(false);
}

// ---- fixed objects ----

bool Token::IsHWObjectExists(CK_HW_FEATURE_TYPE featureType) {
    bool found = false;
    slot_->zrck::Slot::EnumerateObjects(
        [&](zrck::TokObject& object, zrck::Slot::ObjEnumerationData*) {
            auto* feature = dynamic_cast<zrck::TokHWFeature*>(&object);
            found = object.GetClass() == CKO_HW_FEATURE && feature != nullptr && feature->GetFeatureType() == featureType;
            return !found;
        },
        nullptr);
    return found;
}

bool Token::IsDMObjectExists(CK_OBJECT_CLASS objectClass, CK_KEY_TYPE keyType, const char* label) {
    const tru::Buffer wanted(label, static_cast<uint32_t>(std::strlen(label)));
    bool found = false;
    slot_->zrck::Slot::EnumerateObjects(
        [&](zrck::TokObject& object, zrck::Slot::ObjEnumerationData*) {
            auto* params = dynamic_cast<zrck::TokDomainParams*>(&object);
            found = object.GetClass() == objectClass && params != nullptr && params->GetKeyType() == keyType &&
                    params->GetLabel() == wanted;
            return !found;
        },
        nullptr);
    return found;
}

void Token::SetInfiniteOptions(zrck::TokDomainParams* params) {
    params->SetTokenPtr(this);
    params->SetLocal(CK_TRUE);
    params->SetVisibility(zrck::TokObject::VISIBILITY_PUBLIC);
    params->SetModifiable(false);
    params->SetLifeTime(zrck::TokObject::LIFETIME_FIXED);
}

int Token::AddTemporaryPreliminaryObjects() {
    int added = 0;
    if (storage_->IsEcDsaSupportedM() && !IsHWObjectExists(CKH_ZR_SO_PROPERTIES)) {
        auto properties = std::make_shared<SOTokenProperties>();
        properties->SetTokenPtr(this);
        slot_->AddObject(properties);
        ++added;
    }
    for (const FixedDomainParamsRow& row : FixedDomainParamsRows()) {
        bool offered = true;
        switch (row.condition) {
            case TokenCondition::Always: break;
            case TokenCondition::NotModel: offered = storage_->GetModelFlag() == 0; break;
            case TokenCondition::DH: offered = storage_->IsDHSupportedM(); break;
            case TokenCondition::DSTU431: offered = storage_->IsDSTU_431Supported(); break;
        }
        if (!offered || IsDMObjectExists(CKO_DOMAIN_PARAMETERS, row.keyType, row.label)) continue;
        std::shared_ptr<zrck::TokDomainParams> params(row.make(*this, row.label));
        SetInfiniteOptions(params.get());
        slot_->AddObject(params);
        ++added;
    }
    return added;
}

// ---- objects kept in token files ----

std::shared_ptr<zrck::TokObject> Token::ReadObject(const storage::IndexFileRecord& record) {
    const std::vector<StoredClassRow> rows = StoredClassRows();
    auto row = std::find_if(rows.begin(), rows.end(),
                            [&](const StoredClassRow& candidate) { return candidate.itemType == record.itemType; });
    if (row == rows.end()) return std::shared_ptr<zrck::TokObject>();
    std::shared_ptr<zrck::TokObject> object(row->make());
    auto* stored = dynamic_cast<TokenStoredObject*>(object.get());
    if (stored == nullptr) return std::shared_ptr<zrck::TokObject>();
    object->SetTokenPtr(this);
    stored->SetObjectFile(record.objectFile);
    stored->SetAttributeFile(record.attributeFile);
    stored->SetStorageID(static_cast<uint32_t>(record.attributeFile) << 16 | record.objectFile);
    object->SetVisibility(record.objectFile > 0x7F ? zrck::TokObject::VISIBILITY_PRIVATE
                                                   : zrck::TokObject::VISIBILITY_PUBLIC);
    object->SetLifeTime(zrck::TokObject::LIFETIME_TOKEN);
    try {
        stored->ReadAttributes();
    } catch (const MissingStoreFile&) {
        // A record left by an interrupted deletion: no object; its IDs are freed later.
        storage_->NoteBrokenRecord(record);
        return std::shared_ptr<zrck::TokObject>();
    } catch (const zrck::Exception&) {
        // Kept with what could be read: the object stays visible and deletable.
    }
    StoredRecordList records;
    if (storage_->KnownAttributeRecords(record.attributeFile, records)) stored->SetStoredRecords(records);
    return object;
}

void Token::RefreshObjects(zrck::Slot::ObjEnumerationData* data) {
    if (!storage_) return;
    // One object read from the token.
    struct Read {
        storage::IndexFileRecord record;
        uint32_t storageId;
        std::shared_ptr<zrck::TokObject> object;
    };
    // Read under the storage guard, then match with the registry without it: a search holds
    // the registry lock while objects read their values from the storage.
    std::vector<Read> read;
    // Attribute records of every file as this process knew them before this listing: the
    // records of an object that does not hold its own (a copy filed by the library).
    std::map<long, StoredRecordList> known;
    bool publicRefreshed = false;
    bool privateRefreshed = false;
    CK_RV privateFailure = CKR_OK;
    std::unique_ptr<RemovalLog::Reading> reading;
    {
        TokenStorage::BusyGuard busy(*storage_, "Token::RefreshObjects");
        reading = std::make_unique<RemovalLog::Reading>(removals_);
        const bool changed = storage_->IsTokenDataChangedM();
        const uint32_t revision = storage_->GetTokenDataRevision();
        std::vector<storage::IndexFileRecord> records;
        if (!publicListed_ || changed || publicListRevision_ != revision) {
            storage_->ListObjectsM(PublicObject, 0, records);
            publicListed_ = true;
            publicListRevision_ = revision;
            publicRefreshed = true;
        }
        const zrck::Slot::SearchAccelerator* filter = data != nullptr ? data->accelerator : nullptr;
        if (filter == nullptr || filter->visibility == 2 || filter->visibility == 3) {
            const bool current = privateListed_ && privateListRevision_ == revision;
            if (!current) {
                try {
                    if (IsUserSession() || privateListed_) {
                        storage_->ListObjectsM(PrivateObject, 0, records);
                        privateListed_ = true;
                        privateListRevision_ = revision;
                        privateRefreshed = true;
                    }
                } catch (const zrck::Exception& e) {
                    privateFailure = e.GetCode() != CKR_OK ? e.GetCode() : CKR_GENERAL_ERROR;
                }
            }
        }
        known = storage_->KnownAttributeRecords();
        for (const storage::IndexFileRecord& record : records) {
            if (record.itemType == TOKEN_DATA) continue;
            std::shared_ptr<zrck::TokObject> created = ReadObject(record);
            if (!created) continue;
            read.push_back({record, static_cast<uint32_t>(record.attributeFile) << 16 | record.objectFile, created});
        }
    }

    // Token objects of the slot, held while they are matched.
    struct Held {
        Slot& slot;
        zrck::TokObjectPtr object;
        TokenStoredObject* stored;
        bool blocked;  // taken with GetBlock...: released when done
        ~Held() {
            if (object && blocked) slot.ReleaseObject(object);
        }
    };
    auto hold = [&](zrck::TokObjectPtr object) {
        auto* stored = object ? dynamic_cast<TokenStoredObject*>(object.get()) : nullptr;
        return std::make_unique<Held>(Held{*slot_, std::move(object), stored, true});
    };
    // The one identity rule: an object keeps its handle only where its files show the same
    // object, changed at most as C_SetAttributeValue may change it (see IsSameStoredObject).
    auto sameObject = [&](const Held& existing, const Read& fresh) {
        auto* stored = dynamic_cast<TokenStoredObject*>(fresh.object.get());
        if (stored == nullptr || existing.stored->GetTokenIndexType() != fresh.record.itemType ||
            existing.object->GetClass() != fresh.object->GetClass() ||
            std::strcmp(existing.object->GetObjectClassName(), fresh.object->GetObjectClassName()) != 0) {
            return false;
        }
        StoredRecordList before;
        StoredRecordList after;
        if (!existing.stored->GetStoredRecords(before)) {
            const auto file = known.find(existing.stored->GetAttributeFile());
            if (file == known.end()) return false;
            before = file->second;
        }
        return stored->GetStoredRecords(after) && IsSameStoredObject(fresh.record.itemType, before, after);
    };

    // Each record with the object that stood for its files before, if any.
    std::vector<std::unique_ptr<Held>> paired(read.size());
    std::set<CK_OBJECT_HANDLE> pairedHandles;
    for (size_t i = 0; i < read.size(); ++i) {
        std::unique_ptr<Held> existing = hold(slot_->GetBlockObjectIfExistsByID(read[i].storageId));
        if (!existing->object) continue;
        pairedHandles.insert(existing->object->GetHandle());
        paired[i] = std::move(existing);
    }
    // Objects whose files no record names any more may have moved: another process replaced
    // the attribute file (same object file) or, where C_SetAttributeValue may change the value,
    // wrote the value into a new data file (same attribute file).
    std::vector<std::pair<CK_OBJECT_HANDLE, uint32_t>> unlisted;
    slot_->zrck::Slot::EnumerateObjects(
        [&](zrck::TokObject& object, zrck::Slot::ObjEnumerationData*) {
            auto* stored = dynamic_cast<TokenStoredObject*>(&object);
            const bool isPrivate = object.GetVisibility() == zrck::TokObject::VISIBILITY_PRIVATE;
            if (object.GetLifeTime() == zrck::TokObject::LIFETIME_TOKEN && stored != nullptr &&
                !stored->IsRefreshLocked() && (isPrivate ? privateRefreshed : publicRefreshed) &&
                pairedHandles.count(object.GetHandle()) == 0) {
                unlisted.emplace_back(object.GetHandle(), stored->GetStorageID());
            }
            return true;
        },
        nullptr);
    // A value moved keeps the attribute file, whose ID another object cannot take meanwhile: that
    // candidate goes first (the object file a move freed may already hold a new object).
    std::vector<bool> moved(read.size(), false);
    for (const auto& [handle, storageId] : unlisted) {
        std::unique_ptr<Held> existing = hold(slot_->GetBlockObjectIfExists(handle));
        if (!existing->object) {
            // One whose deletion is under way follows its files too: the deletion checks it
            // with this listing and deletes the files it moved to.
            zrck::TokObjectPtr leaving = slot_->GetObjectByID(storageId);
            if (!leaving || leaving->GetHandle() != handle) continue;
            existing->stored = dynamic_cast<TokenStoredObject*>(leaving.get());
            existing->object = std::move(leaving);
            existing->blocked = false;
        }
        if (!existing->stored) continue;
        for (const bool valueMoved : {true, false}) {
            for (size_t i = 0; i < read.size() && existing; ++i) {
                const storage::IndexFileRecord& record = read[i].record;
                const bool sameObjectFile = record.objectFile == existing->stored->GetObjectFile();
                const bool sameAttributeFile = record.attributeFile == existing->stored->GetAttributeFile();
                const bool candidate = valueMoved ? sameAttributeFile && !sameObjectFile && ValueMayMove(record.itemType)
                                                  : sameObjectFile && !sameAttributeFile;
                if (paired[i] || !candidate || !sameObject(*existing, read[i])) continue;
                paired[i] = std::move(existing);
                moved[i] = true;
            }
        }
    }

    std::set<CK_OBJECT_HANDLE> kept;
    for (size_t i = 0; i < read.size(); ++i) {
        const Read& entry = read[i];
        Held* existing = paired[i].get();
        if (existing == nullptr) {
            // An object whose deletion is under way still holds its ID: it is judged like any
            // other (a deletion checks it with this listing), never joined by a twin. One removed
            // since the index was read is gone and does not come back either.
            if (zrck::TokObjectPtr leaving = slot_->GetObjectByID(entry.storageId)) {
                const Held held{*slot_, leaving, dynamic_cast<TokenStoredObject*>(leaving.get()), false};
                if (held.stored == nullptr || held.stored->IsRefreshLocked() || sameObject(held, entry)) {
                    kept.insert(leaving->GetHandle());
                } else {
                    leaving->SetLifeTime(kNoLifeTime);
                    slot_->DeleteSlotMemoryObject(leaving->GetHandle());
                    kept.insert(slot_->AddObject(entry.object));
                }
                continue;
            }
            if (reading->Removed(entry.storageId)) continue;
            kept.insert(slot_->AddObject(entry.object));
            continue;
        }
        zrck::TokObject& object = *existing->object;
        if (existing->stored == nullptr || existing->stored->IsRefreshLocked()) {
            kept.insert(object.GetHandle());
        } else if (moved[i] || sameObject(*existing, entry)) {
            kept.insert(object.GetHandle());
            if (moved[i]) {
                slot_->UnregisterObject(object);
                existing->stored->MoveToFiles(entry.record.objectFile, entry.record.attributeFile);
                slot_->RegisterObject(object);
            }
            auto* fresh = dynamic_cast<TokenStoredObject*>(entry.object.get());
            existing->stored->RefreshFrom(*fresh);
            StoredRecordList records;
            if (fresh->GetStoredRecords(records)) existing->stored->SetStoredRecords(records);
        } else {
            // Another object in these files: the old handle stops naming anything.
            object.SetLifeTime(kNoLifeTime);
            slot_->DeleteSlotMemoryObject(object.GetHandle());
            kept.insert(slot_->AddObject(entry.object));
        }
    }
    paired.clear();
    if (privateFailure != CKR_OK) throw zrck::Exception(privateFailure);
    if (!publicRefreshed && !privateRefreshed) return;

    std::vector<CK_OBJECT_HANDLE> drop;
    slot_->zrck::Slot::EnumerateObjects(
        [&](zrck::TokObject& object, zrck::Slot::ObjEnumerationData*) {
            auto* stored = dynamic_cast<TokenStoredObject*>(&object);
            const bool isPrivate = object.GetVisibility() == zrck::TokObject::VISIBILITY_PRIVATE;
            const bool listed = isPrivate ? privateRefreshed : publicRefreshed;
            if (object.GetLifeTime() == zrck::TokObject::LIFETIME_TOKEN && listed && stored != nullptr &&
                !stored->IsRefreshLocked() && kept.count(object.GetHandle()) == 0) {
                drop.push_back(object.GetHandle());
            }
            return true;
        },
        nullptr);
    for (CK_OBJECT_HANDLE handle : drop) {
        zrck::TokObjectPtr object = slot_->GetBlockObjectIfExists(handle);
        if (!object) continue;
        object->SetLifeTime(kNoLifeTime);
        slot_->ReleaseObject(object);
        slot_->DeleteSlotMemoryObject(handle);
    }
}

void Token::UseObjects(const std::vector<UsedObject>& objects, ObjectUse when, const std::function<bool()>& body) {
    std::vector<const UsedObject*> stored;
    for (const UsedObject& used : objects) {
        auto* kept = dynamic_cast<TokenStoredObject*>(used.object);
        if (kept == nullptr || kept->IsRefreshLocked()) continue;
        const zrck::TokObject::ObjectLifeTimeEnum lifeTime = used.object->GetLifeTime();
        if (lifeTime == kNoLifeTime) throw zrck::Exception(used.invalid);
        if (lifeTime == zrck::TokObject::LIFETIME_TOKEN) stored.push_back(&used);
    }
    if (!storage_ || stored.empty()) {
        body();
        return;
    }
    auto check = [&] {
        storage_->ReadTokenDataRevision();
        const uint32_t revision = storage_->GetTokenDataRevision();
        bool current = true;
        for (const UsedObject* used : stored) {
            const bool isPrivate = used->object->GetVisibility() == zrck::TokObject::VISIBILITY_PRIVATE;
            current = current && (isPrivate ? privateListed_ && privateListRevision_ == revision
                                            : publicListed_ && publicListRevision_ == revision);
        }
        if (!current) RefreshObjects(nullptr);
        for (const UsedObject* used : stored) {
            if (used->object->GetLifeTime() != zrck::TokObject::LIFETIME_TOKEN) throw zrck::Exception(used->invalid);
        }
    };
    TokenStorage::BusyGuard busy(*storage_, "Token::UseObjects");
    TokenStorage::TokenTransaction transaction(*storage_);
    if (when == ObjectUse::Now) {
        check();
        body();
        return;
    }
    bool checked = false;
    TokenStorage::CommandCheck armed(*storage_, [&] {
        checked = true;
        check();
    });
    if (body() && !checked && when == ObjectUse::BeforeItsCommands) check();
}

void Token::Update(bool) {
    if (!storage_) return;
    TokenStorage::BusyGuard busy(*storage_, "Token::Update");
    IndexCache& cache = storage_->GetIndexCache();
    if (cache.ReserveSize() == 0 && !cache.IsChanged()) return;
    uint32_t found = 0;
    if (!storage_->CheckAndUpdateRevision(&found)) return;
    // A listing made at the revision file 0 held just before this change is current with it:
    // what this process changed is already in the slot. Comparing with the revision found,
    // not with a cached one plus 1, also covers a first change (0 becomes a random value),
    // and any other process's change in between still forces the next listing.
    const uint32_t after = storage_->GetTokenDataRevision();
    if (publicListed_ && publicListRevision_ == found) publicListRevision_ = after;
    if (privateListed_ && privateListRevision_ == found) privateListRevision_ = after;
}

void Token::SetDirty(zrck::TokObject* object, zrck::AttributeTemplate*) {
    if (object == nullptr || object->GetLifeTime() != zrck::TokObject::LIFETIME_TOKEN) return;
    auto* stored = dynamic_cast<TokenStoredObject*>(object);
    if (stored == nullptr) return;
    const long objectFile = stored->GetObjectFile();
    const long attributeFile = stored->GetAttributeFile();
    stored->StoreAttributes();
    stored->SetAttributeFile(storage_->TakeMovedAttributeFile(stored->GetAttributeFile()));
    StoredRecordList written;
    if (storage_->KnownAttributeRecords(stored->GetAttributeFile(), written)) stored->SetStoredRecords(written);
    if (objectFile != 0 && objectFile == stored->GetObjectFile() && attributeFile == stored->GetAttributeFile()) {
        return;
    }
    // New files, or files replaced by new ones: index the object under them at once, so a
    // re-read of the index finds it instead of adding a twin.
    if (objectFile != 0) {
        // Listings read before the move must not bring the old files back as an object.
        removals_.Note(stored->GetStorageID());
        slot_->UnregisterObject(*object);
    }
    stored->SetStorageID(static_cast<uint32_t>(stored->GetAttributeFile()) << 16 |
                         static_cast<uint32_t>(stored->GetObjectFile()));
    if (object->GetHandle() != 0) slot_->RegisterObject(*object);
}

void Token::DeleteObject(TokenStoredObject* stored) {
    auto* object = dynamic_cast<zrck::TokObject*>(stored);
    if (object == nullptr || object->GetLifeTime() != zrck::TokObject::LIFETIME_TOKEN) return;
    // The files as the check leaves them: a listing may have followed the object to new ones.
    auto remove = [&] {
        const storage::IndexFileRecord record{stored->GetTokenIndexType(),
                                              static_cast<uint16_t>(stored->GetObjectFile()),
                                              static_cast<uint16_t>(stored->GetAttributeFile())};
        removals_.Note(stored->GetStorageID());
        if (!storage_->DeleteStorageObject(record, true)) throw zrck::Exception(CKR_OBJECT_HANDLE_INVALID);
        return true;
    };
    TokenStorage::BusyGuard busy(*storage_, "Token::DeleteObject");
    // An object of the running call, not filed yet, cannot have been changed by anyone else.
    if (storage_->GetIndexCache().IsReserved(stored->GetObjectFile())) {
        remove();
        return;
    }
    UseObject(*object, CKR_OBJECT_HANDLE_INVALID, ObjectUse::Now, remove);
}

void Token::ConvertAttributesFromToken(CK_OBJECT_CLASS objectClass, const std::vector<storage::AttributeBuff>& records,
                                       zrck::AttributeTemplate& attributes, const zrck::TokObject* target) {
    std::vector<zrck::Attribute> converted;
    auto addBool = [&](CK_ATTRIBUTE_TYPE type, bool value) {
        for (zrck::Attribute& entry : converted) {
            if (entry.GetType() == type) {
                entry.SetupOwnBool(type, value);
                return;
            }
        }
        converted.emplace_back();
        converted.back().SetupOwnBool(type, value);
    };
    auto addValue = [&](CK_ATTRIBUTE_TYPE type, const vdk::SafeBuffer& value) {
        for (zrck::Attribute& entry : converted) {
            if (entry.GetType() == type) {
                entry.SetupOwn(type, value.Data(), value.Size());
                return;
            }
        }
        converted.emplace_back();
        converted.back().SetupOwn(type, value.Data(), value.Size());
    };
    for (const storage::AttributeBuff& record : records) {
        if (!record.value) continue;
        switch (record.id) {
            case tokattr::kGostSboxes: addValue(CKA_GOST_SBOXES, *record.value); break;
            case tokattr::kKeyGenerationDate: addValue(CKA_ZR_KEY_GENERATION_DATE, *record.value); break;
            case tokattr::kFlags: {
                if (record.value->Size() != 4) throw zrck::Exception(CKR_GENERAL_ERROR);
                const uint32_t flags = vdk::Math::GetUInt(vdk::Math::LITTLE_ENDIAN_ORDER, record.value->Data());
                addBool(CKA_MODIFIABLE, (flags & 1u) != 0);
                addBool(CKA_COPYABLE, (flags & 2u) != 0);
                for (const FlagBit& flag : kFlagBits) {
                    const bool set = (flags & (1u << flag.bit)) != 0;
                    // A cleared flag is given only to an object that answers it.
                    if (set || (target != nullptr && target->IsMyAttributeType(flag.type))) addBool(flag.type, set);
                }
                if (IsKeyClass(objectClass) || objectClass == CKO_DOMAIN_PARAMETERS) {
                    const bool local = (flags & (1u << kLocalBit)) != 0;
                    if (local || (target != nullptr && target->IsMyAttributeType(CKA_LOCAL))) addBool(CKA_LOCAL, local);
                }
                if (objectClass == CKO_PRIVATE_KEY || objectClass == CKO_SECRET_KEY) {
                    addBool(CKA_SENSITIVE, (flags & (1u << kSensitiveBit)) != 0);
                }
                break;
            }
            default: addValue(record.id, *record.value); break;
        }
    }
    attributes.AddOrReplaceAttributes(converted.data(), static_cast<CK_ULONG>(converted.size()));
}

}  // namespace qel
