#include "driver/qel_slot.h"

#include <cstring>

#include "ckbase/exception.h"
#include "cryptoki/session.h"
#include "cryptoki/user.h"
#include "driver/qel_brand.h"
#include "driver/qel_library.h"
#include "driver/qel_token.h"
#include "driver/token_stored_object.h"

namespace qel {

namespace {

// attribute file << 16 | object file; 0 for an object without files.
uint32_t StorageIdOf(const TokenStoredObject& stored) {
    if (stored.GetStorageID() != 0) return stored.GetStorageID();
    return static_cast<uint32_t>(stored.GetAttributeFile()) << 16 | static_cast<uint32_t>(stored.GetObjectFile() & 0xFFFF);
}

std::string Padded(const std::string& text, size_t width) {
    std::string field(width, ' ');
    field.replace(0, std::min(width, text.size()), text, 0, std::min(width, text.size()));
    return field;
}

}  // namespace

Slot::Slot(zrck::LibraryFrame* library, CK_SLOT_ID slotID, const std::string& readerName)
    : zrck::Slot(library, slotID), readerName_(readerName), mutex_(zrck::CreateNamedMutex("MutexForSlot")) {}

Slot::~Slot() {
    std::lock_guard<std::mutex> lock(indexMutex_);
    storedObjects_.clear();
}

std::shared_ptr<Token> Slot::GetDriverToken() const { return std::dynamic_pointer_cast<Token>(GetToken()); }

Library* Slot::GetDriverLibrary() const { return dynamic_cast<Library*>(GetLibrary()); }

uint32_t Slot::GetBrand() const {
    Library* library = GetDriverLibrary();
    return library != nullptr ? library->GetBrand() : kBrandZorvane;
}

std::string Slot::GetReaderName() const {
    std::lock_guard<std::mutex> lock(readerNameMutex_);
    return readerName_;
}

bool Slot::IsInitialized() {
    std::shared_ptr<Token> token = GetDriverToken();
    return token && token->IsObjectsInitialized();
}

CK_RV Slot::InitializeToken() {
    std::shared_ptr<Token> token = GetDriverToken();
    // An attached slot has no reader to connect to: its token comes only with a card handle.
    if (!token && GetReaderName().empty()) return CKR_TOKEN_NOT_PRESENT;
    if (!token) {
        token = std::make_shared<Token>(this);
        token->CreateReaderStorage();
        SetToken(token);
    }
    return token->InitializeReaderStorage();
}

void Slot::PostInit() {
    std::shared_ptr<Token> token = GetDriverToken();
    if (!token || !token->IsTokenPresent()) return;
    tokenSeen_.store(true);
    token->PostInit();
    SetSlotEvent();
}

bool Slot::IsTokenPresent() {
    std::shared_ptr<Token> token = GetDriverToken();
    return token && token->IsTokenPresent();
}

bool Slot::IsPresentQuietly(Token& token) {
    try {
        return token.IsTokenPresent();
    } catch (const zrck::Exception&) {
        return false;
    }
}

CK_RV Slot::TestTokenPresence() {
    std::shared_ptr<Token> token = GetDriverToken();
    if (token && IsPresentQuietly(*token)) return CKR_OK;
    // Only the caller that retires the token reports the removal; the others go on with the
    // token set up since, when the card is back.
    switch (RetireUnlessPresent(token)) {
        case Retirement::StillPresent: return CKR_OK;
        case Retirement::RetiredElsewhere: return SetUpAgain(token) ? CKR_OK : CKR_TOKEN_NOT_PRESENT;
        case Retirement::Retired: break;
    }
    const bool seen = tokenSeen_.exchange(false);
    // The card may be back already (pulled and put back since the last call): its sessions
    // and objects went with the old token, and the call goes on with the token set up now.
    // So does a caller that found no token at all, once another thread retired it: the removal
    // was reported there, and nobody else would set the returned card up.
    if (SetUpAgain(token)) return CKR_OK;
    return seen ? CKR_DEVICE_REMOVED : CKR_TOKEN_NOT_PRESENT;
}

bool Slot::SetUpAgain(const std::shared_ptr<Token>& retired) {
    Library* library = GetDriverLibrary();
    if (library == nullptr || library->GetSlotFactory() == nullptr || GetReaderName().empty()) return false;
    if (library->GetSlotFactory()->CheckAndInitTokenNoEx(*this) != CKR_OK) return false;
    std::shared_ptr<Token> fresh = GetDriverToken();
    return fresh && fresh != retired && IsPresentQuietly(*fresh);
}

Slot::Retirement Slot::RetireUnlessPresent(const std::shared_ptr<Token>& token) {
    SlotMutexGuard guard(*this, "RetireUnlessPresent");
    if (token && GetDriverToken() == token && IsPresentQuietly(*token)) return Retirement::StillPresent;
    return RetireToken(token) ? Retirement::Retired : Retirement::RetiredElsewhere;
}

bool Slot::RetireToken(const std::shared_ptr<Token>& token) {
    // Whole under the slot lock: a successor is set up only after its predecessor's sessions
    // and objects are gone, and never twice at once (SlotFactory::CheckAndInitToken).
    SlotMutexGuard guard(*this, "RetireToken");
    if (token && !DropToken(token)) return false;
    try {
        CloseAllSessions();
    } catch (const zrck::Exception&) {
    }
    // Anything still holding one of these objects finds no token behind it, never a dead one.
    for (const zrck::TokObjectPtr& object : mObjects.Snapshot()) {
        if (token && object->GetTokenPtr() == token.get()) object->ClearTokenPtr();
    }
    DropAllObjects();
    return true;
}

void Slot::UpdateTokenPresence() {
    std::shared_ptr<Token> token = GetDriverToken();
    if (token && IsPresentQuietly(*token)) {
        if (token->GetStorage() != nullptr) token->GetStorage()->ResetDeviceCache();
        return;
    }
    if (RetireUnlessPresent(token) == Retirement::StillPresent) return;
    tokenSeen_.store(false);
}

void Slot::UpdateReaderName(const std::string& name) {
    {
        std::lock_guard<std::mutex> lock(readerNameMutex_);
        if (readerName_ == name) return;
        readerName_ = name;
    }
    RetireToken(GetDriverToken());
}

void Slot::DropAllObjects() {
    DeleteAllSlotMemoryObjects();
    std::lock_guard<std::mutex> lock(indexMutex_);
    storedObjects_.clear();
}

void Slot::ResetToken() { SetToken(zrck::TokenPtr()); }

bool Slot::ReadSlotAttribute(const std::shared_ptr<Token>& token, uint32_t attributeId, tru::BufferDynamic& value) {
    if (!token || token->GetStorage() == nullptr) return false;
    return token->GetStorage()->GetSlotAttr(attributeId, value) && !value.Empty();
}

std::string Slot::GetDescription() {
    const std::string reader = GetReaderName();
    if (!reader.empty()) return Padded(reader, 64);
    std::string text(64, ' ');
    std::shared_ptr<Token> failed;
    {
        SlotMutexGuard guard(*this, "GetDescription");
        std::shared_ptr<Token> token = GetDriverToken();
        if (!token) return text;
        try {
            tru::BufferDynamic name;
            if (ReadSlotAttribute(token, kAttrFriendlyName, name)) {
                return Padded(std::string(reinterpret_cast<const char*>(name.Data()), name.Size()), 64);
            }
            const BrandTexts& texts = GetBrandTexts(GetBrand());
            const bool model = token->GetStorage() != nullptr && token->GetStorage()->GetModelFlag() != 0;
            text = Padded(std::string(model ? texts.attachedStemModel : texts.attachedStem) + std::to_string(GetSlotID()), 64);
        } catch (const std::exception&) {
            failed = token;
        }
    }
    if (failed) RetireToken(failed);
    return text;
}

std::string Slot::GetManufacturerId() {
    std::shared_ptr<Token> failed;
    {
        SlotMutexGuard guard(*this, "GetManufacturerId");
        if (std::shared_ptr<Token> token = GetDriverToken()) {
            try {
                tru::BufferDynamic vendor;
                if (ReadSlotAttribute(token, kAttrVendorName, vendor)) {
                    return Padded(std::string(reinterpret_cast<const char*>(vendor.Data()), vendor.Size()), 32);
                }
            } catch (const std::exception&) {
                failed = token;
            }
        }
    }
    if (failed) RetireToken(failed);
    const std::string reader = GetReaderName();
    return Padded(reader.empty() ? GetBrandTexts(GetBrand()).manufacturer : reader, 32);
}

std::string Slot::GetHWSerial() {
    std::shared_ptr<Token> token = GetDriverToken();
    tru::BufferDynamic serial;
    try {
        if (ReadSlotAttribute(token, kAttrVendorIfdSerial, serial)) {
            return std::string(reinterpret_cast<const char*>(serial.Data()), serial.Size());
        }
    } catch (const std::exception&) {
    }
    return std::string();
}

CK_VERSION Slot::GetHardwareVersion() {
    std::shared_ptr<Token> failed;
    CK_VERSION version = ReadHardwareVersion(failed);
    if (failed) RetireToken(failed);
    return version;
}

CK_VERSION Slot::ReadHardwareVersion(std::shared_ptr<Token>& failed) {
    SlotMutexGuard guard(*this, "GetHardwareVersion");
    CK_VERSION version{0, 0};
    std::shared_ptr<Token> token = GetDriverToken();
    if (!token) return version;
    try {
        tru::BufferDynamic value;
        if (!ReadSlotAttribute(token, kAttrVendorIfdVersion, value) || value.Size() != 4) return version;
        uint32_t word = 0;
        std::memcpy(&word, value.Data(), sizeof word);  // host order, as the reader driver reports it
        version.major = static_cast<CK_BYTE>(word >> 24);
        version.minor = static_cast<CK_BYTE>((word >> 16) & 0xFF);
        const std::string prefix = GetBrandTexts(GetBrand()).readerPrefix;
        if (version.major == 0 && version.minor == 0 && GetReaderName().compare(0, prefix.size(), prefix) == 0) {
            version.major = 1;
        }
    } catch (const std::exception&) {
        failed = token;
        version = CK_VERSION{0, 0};
    }
    return version;
}

void Slot::VerifyStringArgument(const tru::Buffer& argument) {
    if (argument.Size() > kMaxStringArgument) throw zrck::Exception(CKR_ARGUMENTS_BAD);
}

void Slot::VerifyTemplateArgument(const zrck::AttributeTemplate& attributes) {
    for (CK_ULONG i = 0; i < attributes.GetCount(); ++i) {
        const CK_ATTRIBUTE* record = attributes[i].GetRecord();
        if (record->pValue != nullptr && record->ulValueLen > kMaxAttributeValue) {
            throw zrck::Exception(CKR_ARGUMENTS_BAD);
        }
    }
}

CK_SESSION_HANDLE Slot::CreateRegisteredSession() {
    auto* library = dynamic_cast<zrck::Library*>(GetLibrary());
    if (library == nullptr || library->GetUserIfExists() == nullptr) throw zrck::Exception(CKR_CRYPTOKI_NOT_INITIALIZED);
    return library->GetUserIfExists()->RegisterSession(*CreateUnregisteredSession());
}

zrck::SessionFrame* Slot::CreateUnregisteredSession() {
    zrck::TokenPtr token = GetToken();
    if (!token) throw zrck::Exception(CKR_TOKEN_NOT_PRESENT);
    return new zrck::Session(token);
}

void Slot::AttachToken(SCARDHANDLE cardHandle) {
    SlotMutexGuard guard(*this, "AttachToken");
    if (IsInitialized()) throw zrck::Exception(CKR_FUNCTION_FAILED);
    if (std::shared_ptr<Token> old = GetDriverToken()) RetireToken(old);
    auto token = std::make_shared<Token>(this);
    SetToken(token);
    token->InitializeStorage(cardHandle);
}

void Slot::ReattachToken(SCARDHANDLE cardHandle) {
    SlotMutexGuard guard(*this, "ReattachToken");
    std::shared_ptr<Token> token = GetDriverToken();
    if (!token) throw zrck::Exception(CKR_DEVICE_REMOVED);
    if (!IsInitialized()) throw zrck::Exception(CKR_FUNCTION_FAILED);
    token->ReinitializeStorage(cardHandle);
}

void Slot::DetachToken() {
    std::shared_ptr<Token> token = GetDriverToken();
    if (token) RetireToken(token);
}

void Slot::DeleteStoredObject(zrck::TokObject& object) {
    auto* stored = dynamic_cast<TokenStoredObject*>(&object);
    if (stored == nullptr || object.GetLifeTime() != zrck::TokObject::LIFETIME_TOKEN) return;
    std::shared_ptr<Token> token = GetDriverToken();
    if (!token || token->GetStorage() == nullptr) throw zrck::Exception(CKR_FUNCTION_FAILED);
    // Inside a caller's storage guard for C_DestroyObject; on its own for a queued deletion,
    // whose check, deletion and revision step then share this transaction.
    TokenStorage::BusyGuard busy(*token->GetStorage(), "Slot::DeleteStoredObject");
    TokenStorage::TokenTransaction transaction(*token->GetStorage());
    token->DeleteObject(stored);
    token->Update(true);
}

bool Slot::EnumerateObjects(const ObjectCallback& callback, ObjEnumerationData* data) {
    std::shared_ptr<Token> token = GetDriverToken();
    if (token && data != nullptr && data->accelerator != nullptr && data->accelerator->tokenObjectsWanted) {
        const SearchAccelerator& filter = *data->accelerator;
        // Mechanisms, hardware features and vendor classes are never kept in token files.
        const bool noStoredClass =
            filter.classGiven && (filter.objectClass > CKO_DOMAIN_PARAMETERS || filter.objectClass == CKO_HW_FEATURE);
        if (!noStoredClass) token->RefreshObjects(data);
    }
    // The callback may read an object's value from the token, which takes "StorageMutex":
    // walk a snapshot so the registry lock is never held across it (see TokenStorage).
    for (const zrck::TokObjectPtr& object : mObjects.Snapshot()) {
        if (!callback(*object, data)) return false;
    }
    return true;
}

void Slot::RegisterObject(zrck::TokObject& object) {
    auto* stored = dynamic_cast<TokenStoredObject*>(&object);
    if (stored == nullptr) return;
    const uint32_t id = StorageIdOf(*stored);
    if (id == 0) return;
    {
        std::lock_guard<std::mutex> lock(indexMutex_);
        storedObjects_[id] = object.GetHandle();
    }
    stored->SetRefreshLock(false);
}

void Slot::UnregisterObject(zrck::TokObject& object) {
    auto* stored = dynamic_cast<TokenStoredObject*>(&object);
    if (stored == nullptr) return;
    const uint32_t id = StorageIdOf(*stored);
    std::lock_guard<std::mutex> lock(indexMutex_);
    auto found = storedObjects_.find(id);
    // Only the object's own entry goes: a replacement may already stand under the ID.
    if (found != storedObjects_.end() && found->second == object.GetHandle()) storedObjects_.erase(found);
}

CK_OBJECT_HANDLE Slot::HandleOfStorageId(uint32_t storageId) {
    std::lock_guard<std::mutex> lock(indexMutex_);
    auto found = storedObjects_.find(storageId);
    return found == storedObjects_.end() ? 0 : found->second;
}

zrck::TokObjectPtr Slot::GetBlockObjectIfExistsByID(uint32_t storageId) {
    const CK_OBJECT_HANDLE handle = HandleOfStorageId(storageId);
    return handle != 0 ? GetBlockObjectIfExists(handle) : zrck::TokObjectPtr();
}

zrck::TokObjectPtr Slot::GetObjectByID(uint32_t storageId) {
    const CK_OBJECT_HANDLE handle = HandleOfStorageId(storageId);
    return handle != 0 ? mObjects.GetIfExists(handle) : zrck::TokObjectPtr();
}

}  // namespace qel
