#include <algorithm>
#include <cstring>
#include <set>

#include "ckbase/exception.h"
#include "driver/qel_slot.h"
#include "driver/qel_token.h"
#include "driver/qel_token_tables.h"
#include "driver/so_token_properties.h"
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
    const CK_OBJECT_HANDLE handle = MechanismHandle(type);
    if (handle == 0) return nullptr;
    zrck::TokObjectPtr object = slot_->GetBlockObjectIfExists(handle);
    if (!object) return nullptr;
    slot_->ReleaseObject(object);
    if (object->GetClass() != CKO_MECHANISM) return nullptr;
    // The registry keeps the object alive; the table only names it.
    return static_cast<zrck::TokMechanism*>(object.get());
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
    return object;
}

void Token::RefreshObjects(zrck::Slot::ObjEnumerationData* data) {
    if (!storage_) return;
    // One object read from the token, and whether its attribute file differs from what this
    // process last read or wrote there (another process changed or replaced the object).
    struct Read {
        uint32_t storageId;
        std::shared_ptr<zrck::TokObject> object;
        bool changed;
    };
    // Read under the storage guard, then match with the registry without it: a search holds
    // the registry lock while objects read their values from the storage.
    std::vector<Read> read;
    bool publicRefreshed = false;
    bool privateRefreshed = false;
    // Revision steps that the differences found must explain; none when they cannot be counted.
    bool counted = false;
    uint32_t steps = 0;
    CK_RV privateFailure = CKR_OK;
    std::unique_ptr<RemovalLog::Reading> reading;
    {
        TokenStorage::BusyGuard busy(*storage_, "Token::RefreshObjects");
        reading = std::make_unique<RemovalLog::Reading>(removals_);
        const bool changed = storage_->IsTokenDataChangedM();
        const uint32_t revision = storage_->GetTokenDataRevision();
        const bool publicListedBefore = publicListed_;
        const bool privateListedBefore = privateListed_;
        const bool sameBase = publicListRevision_ == privateListRevision_;
        const uint32_t base = publicListRevision_;
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
        // Each change through the library moves the revision by one. The steps since the last
        // listing are counted when that listing saw what this one sees: both indexes at one
        // revision, or the public one alone both times (the private steps then count as
        // unexplained). A first change (0 becomes a random value) cannot be counted.
        const bool sameView = privateListedBefore ? privateRefreshed && sameBase : !privateRefreshed;
        if (publicListedBefore && publicRefreshed && sameView && base != 0 && revision != base) {
            counted = true;
            steps = revision - base;
            steps = steps > ownSteps_ ? steps - ownSteps_ : 0;
        }
        if (publicRefreshed || privateRefreshed) ownSteps_ = 0;
        for (const storage::IndexFileRecord& record : records) {
            if (record.itemType == TOKEN_DATA) continue;
            uint64_t before = 0;
            const bool known = storage_->KnownAttributeDigest(record.attributeFile, before);
            std::shared_ptr<zrck::TokObject> created = ReadObject(record);
            if (!created) continue;
            uint64_t after = 0;
            const bool changed =
                known && (!storage_->KnownAttributeDigest(record.attributeFile, after) || after != before);
            read.push_back({static_cast<uint32_t>(record.attributeFile) << 16 | static_cast<uint32_t>(record.objectFile),
                            created, changed});
        }
    }

    // What changed, for the count of revision steps: new objects, changed attribute files and
    // objects gone from the listed indexes.
    uint32_t added = 0;
    uint32_t changedFiles = 0;
    uint32_t gone = 0;
    {
        std::set<uint32_t> listedIds;
        for (const Read& entry : read) {
            listedIds.insert(entry.storageId);
            zrck::TokObjectPtr existing = slot_->GetBlockObjectIfExistsByID(entry.storageId);
            if (!existing) {
                ++added;
            } else {
                if (entry.changed) ++changedFiles;
                slot_->ReleaseObject(existing);
            }
        }
        slot_->zrck::Slot::EnumerateObjects(
            [&](zrck::TokObject& object, zrck::Slot::ObjEnumerationData*) {
                auto* stored = dynamic_cast<TokenStoredObject*>(&object);
                const bool isPrivate = object.GetVisibility() == zrck::TokObject::VISIBILITY_PRIVATE;
                if (object.GetLifeTime() == zrck::TokObject::LIFETIME_TOKEN && stored != nullptr &&
                    !stored->IsRefreshLocked() && (isPrivate ? privateRefreshed : publicRefreshed) &&
                    listedIds.count(stored->GetStorageID()) == 0) {
                    ++gone;
                }
                return true;
            },
            nullptr);
    }
    // A changed attribute file is the same object changed in place only when the steps counted
    // leave no room for a deletion and a creation at its IDs; otherwise it is a new object
    // under a new handle and the old handle stops naming anything.
    const bool inPlace = counted && steps <= added + changedFiles + gone;
    auto sameObject = [inPlace](zrck::TokObject& existing, const Read& fresh) {
        return (inPlace || !fresh.changed) && existing.GetClass() == fresh.object->GetClass() &&
               std::strcmp(existing.GetObjectClassName(), fresh.object->GetObjectClassName()) == 0;
    };
    auto replace = [&](zrck::TokObject& existing, const Read& fresh) {
        existing.SetLifeTime(kNoLifeTime);
        slot_->DeleteSlotMemoryObject(existing.GetHandle());
        return slot_->AddObject(fresh.object);
    };
    std::set<CK_OBJECT_HANDLE> kept;
    std::vector<const Read*> matched;
    for (const Read& entry : read) {
        zrck::TokObjectPtr existing = slot_->GetBlockObjectIfExistsByID(entry.storageId);
        struct Release {
            Slot& slot;
            zrck::TokObjectPtr& object;
            ~Release() { slot.ReleaseObject(object); }
        } release{*slot_, existing};
        if (!existing) {
            // An object whose deletion is under way still holds its ID, and one removed since
            // the index was read is gone: neither comes back from this listing as a twin.
            if (slot_->HoldsStorageId(entry.storageId) || reading->Removed(entry.storageId)) continue;
            kept.insert(slot_->AddObject(entry.object));
        } else if (sameObject(*existing, entry)) {
            kept.insert(existing->GetHandle());
            matched.push_back(&entry);
            auto* current = dynamic_cast<TokenStoredObject*>(existing.get());
            auto* fresh = dynamic_cast<TokenStoredObject*>(entry.object.get());
            if (current != nullptr && fresh != nullptr) current->RefreshFrom(*fresh);
        } else {
            kept.insert(replace(*existing, entry));
        }
    }
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
    // More steps than the differences explain: another process destroyed objects and made
    // others just like them in their files (same attributes, another key in the key slot or
    // another value in the data file). Which ones cannot be told, so no object read before
    // keeps its handle.
    if (!counted || steps <= added + gone + 2 * changedFiles) return;
    for (const Read* entry : matched) {
        zrck::TokObjectPtr existing = slot_->GetBlockObjectIfExistsByID(entry->storageId);
        if (!existing) continue;
        slot_->ReleaseObject(existing);
        replace(*existing, *entry);
    }
}

void Token::UseObject(zrck::TokObject& object, CK_RV invalid, ObjectUse when, const std::function<bool()>& body) {
    auto* stored = dynamic_cast<TokenStoredObject*>(&object);
    if (!storage_ || stored == nullptr || object.GetLifeTime() != zrck::TokObject::LIFETIME_TOKEN ||
        stored->IsRefreshLocked()) {
        body();
        return;
    }
    auto check = [&] {
        storage_->ReadTokenDataRevision();
        const uint32_t revision = storage_->GetTokenDataRevision();
        const bool isPrivate = object.GetVisibility() == zrck::TokObject::VISIBILITY_PRIVATE;
        const bool current = isPrivate ? privateListed_ && privateListRevision_ == revision
                                       : publicListed_ && publicListRevision_ == revision;
        if (!current) RefreshObjects(nullptr);
        if (object.GetLifeTime() != zrck::TokObject::LIFETIME_TOKEN) throw zrck::Exception(invalid);
    };
    TokenStorage::BusyGuard busy(*storage_, "Token::UseObject");
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
    if (body() && !checked) check();
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
    if (publicListed_ && publicListRevision_ == found) {
        publicListRevision_ = after;
    } else {
        ++ownSteps_;
    }
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
    removals_.Note(stored->GetStorageID());
    storage_->DeleteStorageObject(stored->GetStorageID(), true);
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
