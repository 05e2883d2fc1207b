#include "driver/qel_token.h"

#include <chrono>
#include <cstring>

#include "ckbase/exception.h"
#include "cryptoki/library_frame.h"
#include "driver/qel_library.h"
#include "driver/qel_object_class_factory.h"
#include "driver/qel_slot.h"

namespace qel {

namespace {

const uint32_t kDamagedStoreMark = 0x8E000001;
const std::chrono::seconds kInfoLifetime{60};
const std::chrono::seconds kLoginStateLifetime{5};

// Runs a step whose zrck::Exception must not stop the caller.
template <class Step>
void Quietly(Step step) {
    try {
        step();
    } catch (const zrck::Exception&) {
    }
}

}  // namespace

Token::Token(Slot* slot) : zrck::Token(slot), slot_(slot), classFactory_(new ObjectClassFactory(this)) {}

Token::~Token() {
    // The storage closes its device session and wipes what it holds before anything else goes.
    storage_.reset();
}

TokenStorage* Token::ExtractStorage(zrck::ObjectToken* token) {
    auto* driverToken = dynamic_cast<Token*>(token);
    if (driverToken == nullptr || driverToken->storage_ == nullptr) throw zrck::Exception(CKR_FUNCTION_FAILED);
    return driverToken->storage_.get();
}

bool Token::IsStorageUsable() const { return storage_ && storage_->IsPresent() && storage_->IsRecognized(); }

void Token::RequireUsableStorage() const {
    if (!storage_ || !storage_->IsPresent()) throw zrck::Exception(CKR_DEVICE_REMOVED);
    if (!storage_->IsRecognized()) throw zrck::Exception(CKR_TOKEN_NOT_RECOGNIZED);
}

void Token::ResetListing() {
    publicListRevision_ = privateListRevision_ = 0;
    publicListed_ = false;
    privateListed_ = false;
}

// ---- storage set-up ----

void Token::CreateReaderStorage() {
    // Set up whole before it is seen: other threads reach the storage without the slot lock.
    auto storage = std::make_unique<TokenStorage>(host_, static_cast<unsigned>(slot_->GetSlotID()));
    storage->InitData();
    storage_ = std::move(storage);
}

CK_RV Token::InitializeReaderStorage() {
    if (!storage_) CreateReaderStorage();
    const CK_RV rv = storage_->VerifyTokenPresence();
    if (rv != CKR_OK) return rv;
    if (storage_->IsPresent() && storage_->IsRecognized()) {
        SetupResponseDelay();
        classFactory_->Create();
    }
    return CKR_OK;
}

void Token::InitializeStorage() {
    const CK_RV rv = InitializeReaderStorage();
    if (rv != CKR_OK) throw zrck::Exception(rv);
}

void Token::InitializeStorage(SCARDHANDLE cardHandle) {
    const unsigned index = slot_->GetSlotID() > 0 ? static_cast<unsigned>(slot_->GetSlotID() - 1) : 0;
    storage_.reset(new TokenStorage(host_, index, cardHandle));
    storage_->InitData();
    const CK_RV rv = storage_->VerifyTokenPresence();
    if (rv != CKR_OK) throw zrck::Exception(rv);
    if (!storage_->IsPresent()) throw zrck::Exception(CKR_TOKEN_NOT_PRESENT);
    SetupResponseDelay();
    classFactory_->Create();
}

void Token::ReinitializeStorage(SCARDHANDLE cardHandle) {
    if (!storage_) {
        InitializeStorage(cardHandle);
        return;
    }
    storage_->SetSmartcardCtxM(cardHandle);
    const CK_RV rv = storage_->VerifyTokenPresence();
    if (rv != CKR_OK) throw zrck::Exception(rv);
    SetupResponseDelay();
    classFactory_->Create();
}

void Token::SetupResponseDelay() {
    zrck::LibraryFrame* frame = zrck::LibraryFrame::GetInstance();
    auto* library = dynamic_cast<Library*>(frame);
    if (library == nullptr) throw zrck::Exception(CKR_GENERAL_ERROR);
    const vdk::Properties* configuration = library->GetConfiguration();
    if (configuration == nullptr) return;
    const int delay = configuration->GetAsInt("ResponseDelay", 0);
    if (delay > 0) storage_->SetupResponseDelay(static_cast<uint16_t>(std::min(delay, 0xFFFF)));
}

void Token::PostInit() {
    ResetListing();
    // Set up only what a connected token can answer: a token that comes back later is set up
    // again, whole, with its object classes.
    if (!IsStorageUsable()) return;
    classFactory_->Create();
    if (IsTokenInitialized()) {
        Quietly([this] {
            CreateMechanisms();
            AddTemporaryPreliminaryObjects();
        });
    }
    objectsInitialized_.store(true);
}

bool Token::IsObjectsInitialized() { return IsStorageUsable() && objectsInitialized_.load(); }

bool Token::IsBusy() const { return storage_ && storage_->IsBusy(); }

bool Token::IsTokenPresent() {
    if (!storage_) return false;
    // Busy in another thread says nothing about the reader: answer what was last seen, unless
    // that thread may be connecting to a card the reader shows.
    if (storage_->IsBusy() && storage_->MayAnswerWhileBusy()) {
        const bool present = storage_->IsPresent() && !storage_->IsCardGone();
        AwaitSetUp(present);
        return present;
    }
    const bool wasPresent = storage_->IsPresent();
    const bool present = storage_->IsTokenPresentM();
    if (present == wasPresent) {
        AwaitSetUp(present);
        return present;
    }
    // The card left or came back: one thread at a time tears the token down or sets it up,
    // each deciding from the state it finds under the slot lock, never a retired token.
    Slot::SlotMutexGuard guard(*slot_, "TokenPresenceChange");
    if (slot_->GetToken().get() != this) return false;
    if (!present) {
        if (storage_->IsPresent()) return false;  // back and set up again meanwhile
        Quietly([this] {
            storage_->ResetDevice();
            slot_->CloseAllSessions();
        });
        Quietly([this] {
            DestroyAllObjects();
            slot_->SetSlotEvent();
        });
        return false;
    }
    if (!IsObjectsInitialized()) {
        slot_->SetSlotEvent();
        PostInit();
        storage_->ResetDevice();
    }
    return true;
}

void Token::AwaitSetUp(bool present) {
    // A set-up another thread runs now (under the slot lock) is waited for: the caller then
    // finds the token's mechanisms and objects whole.
    if (present && !objectsInitialized_.load()) {
        Slot::SlotMutexGuard wait(*slot_, "AwaitSetUp");
    }
}

// ---- host side of the storage ----

int Token::GetBrand() const { return static_cast<int>(slot_->GetBrand()); }

void Token::StorageHost::GetExternalRandom(tru::Buffer& out) {
    const int rv = token_.zrck::Token::GetExternalRandom(out);
    if (rv != 0) throw zrck::Exception(rv == 1 ? CKR_FUNCTION_CANCELED : static_cast<CK_RV>(rv));
}

void Token::OnTokenConnected() {
    // Another card (or the same one after a new connection): what was known of it goes.
    if (!objectsInitialized_.load()) return;
    Slot::SlotMutexGuard guard(*slot_, "OnTokenConnected");
    if (!objectsInitialized_.load() || slot_->GetToken().get() != this) return;
    Quietly([this] {
        slot_->CloseAllSessions();
        DestroyAllObjects();
        PostInit();
    });
}

void Token::OnSlotEvent() { slot_->SetSlotEvent(); }

// ---- token information ----

_TokenInfo_Struct Token::ReadInfoBlock() {
    if (!CacheClock::IsFresh(storage_->GetInfoTime(), kInfoLifetime)) storage_->ReadTokenInternalInfoM();
    return storage_->GetTokenInfo();
}

bool Token::IsTokenInitialized() {
    RequireUsableStorage();
    const _TokenInfo_Struct info = ReadInfoBlock();
    return storage_->GetStorageErrorMark() != kDamagedStoreMark && info.tokenInitialized != 0;
}

bool Token::IsUserPinInitialized() {
    RequireUsableStorage();
    const _TokenInfo_Struct info = ReadInfoBlock();
    return storage_->GetStorageErrorMark() != kDamagedStoreMark && info.userPinInitialized != 0;
}

CK_ULONG Token::GetDeviceError() { return storage_ ? storage_->GetStorageErrorMark() : 0; }

void Token::FillTokenInfo(CK_TOKEN_INFO_PTR info) {
    vdk::MutexIntf::Guard guard(GetOperationMutex(), "FillTokenInfo");
    if (!storage_) throw zrck::Exception(CKR_TOKEN_NOT_PRESENT);
    const _TokenInfo_Struct block = ReadInfoBlock();
    std::memset(info->label, ' ', sizeof info->label);
    bool labelFailed = false;
    if (block.tokenInitialized != 0) {
        try {
            const std::string label = storage_->GetTokenLabelM();
            std::memcpy(info->label, label.data(), std::min(sizeof info->label, label.size()));
        } catch (const zrck::Exception&) {
            std::memset(info->label, ' ', sizeof info->label);
            labelFailed = true;
        }
    }
    std::memcpy(info->manufacturerID, block.manufacturerID, sizeof info->manufacturerID);
    std::memcpy(info->model, block.model, sizeof info->model);
    std::memcpy(info->serialNumber, block.serialNumber, sizeof info->serialNumber);
    CK_FLAGS flags = CKF_RNG | CKF_LOGIN_REQUIRED;
    if (storage_->GetStorageErrorMark() != kDamagedStoreMark) {
        if (block.tokenInitialized != 0) flags |= CKF_TOKEN_INITIALIZED;
        if (block.userPinInitialized != 0) flags |= CKF_USER_PIN_INITIALIZED;
        if (block.userPinCountLow != 0) flags |= CKF_USER_PIN_COUNT_LOW;
        if (block.userPinFinalTry != 0) flags |= CKF_USER_PIN_FINAL_TRY;
        if (block.userPinLocked != 0) flags |= CKF_USER_PIN_LOCKED;
    }
    if (labelFailed) flags &= ~static_cast<CK_FLAGS>(CKF_TOKEN_INITIALIZED | CKF_USER_PIN_INITIALIZED);
    info->flags = flags;
    info->ulMaxSessionCount = 0;
    info->ulSessionCount = GetSessionCount();
    info->ulMaxRwSessionCount = 0;
    info->ulRwSessionCount = GetRwSessionCount();
    info->ulMaxPinLen = kMaxPinLength;
    info->ulMinPinLen = kMinPinLength;
    info->ulTotalPublicMemory = CK_UNAVAILABLE_INFORMATION;
    info->ulFreePublicMemory = CK_UNAVAILABLE_INFORMATION;
    info->ulTotalPrivateMemory = CK_UNAVAILABLE_INFORMATION;
    info->ulFreePrivateMemory = CK_UNAVAILABLE_INFORMATION;
    info->hardwareVersion = CK_VERSION{block.versionMajor, block.versionMinor};
    info->firmwareVersion = CK_VERSION{1, 0};
}

// ---- sessions and login ----

void Token::OpenSessionNotify(bool) {}

void Token::CloseSessionNotify(bool) {
    Slot::SlotMutexGuard guard(*slot_, "CloseSessionNotify");
    if (GetSessionCount() != 0 || !storage_) return;
    storage_->ClearDevSessionM();
    privateListed_ = false;
}

bool Token::IsUserSession() {
    if (!storage_ || !storage_->IsUserLoggedCached()) return false;
    if (CacheClock::IsFresh(loginQueryTime_, kLoginStateLifetime)) return true;
    storage_->ReadDeviceLoggedM();
    loginQueryTime_ = CacheClock::Now();
    return storage_->IsUserLoggedCached();
}

bool Token::IsLogged() { return IsSOLogged() || IsUserSession(); }

void Token::CheckPinLength(const tru::Buffer& pin) const {
    if (pin.Size() < kMinPinLength || pin.Size() > kMaxPinLength) throw zrck::Exception(CKR_PIN_LEN_RANGE);
}

void Token::Login(CK_USER_TYPE userType, const tru::Buffer& pin) {
    if (pin.Size() < kMinPinLength || pin.Size() > kMaxPinLength) throw zrck::Exception(CKR_PIN_INCORRECT);
    vdk::MutexIntf::Guard guard(GetOperationMutex(), "Login");
    switch (userType) {
        case CKU_USER:
            // One identity at a time, as PKCS#11 requires.
            if (IsSOLogged()) throw zrck::Exception(CKR_USER_ANOTHER_ALREADY_LOGGED_IN);
            if (!IsUserPinInitialized()) throw zrck::Exception(CKR_USER_PIN_NOT_INITIALIZED);
            storage_->LoginUserM(pin);
            // The right PIN clears the device's try counter: the information block is stale.
            storage_->DropInfoTime();
            loginQueryTime_ = CacheClock::Now();
            SetSOLogged(false);
            SetUserLogged(true);
            return;
        case CKU_SO:
            if (IsUserSession()) throw zrck::Exception(CKR_USER_ANOTHER_ALREADY_LOGGED_IN);
            if (GetSessionCount() > GetRwSessionCount()) throw zrck::Exception(CKR_SESSION_READ_ONLY_EXISTS);
            storage_->LoginSoM(pin);
            storage_->DropInfoTime();
            SetSOLogged(true);
            SetUserLogged(false);
            return;
        case CKU_CONTEXT_SPECIFIC:
            throw zrck::Exception(CKR_OPERATION_NOT_INITIALIZED);
        default:
            throw zrck::Exception(CKR_USER_TYPE_INVALID);
    }
}

void Token::Logout() {
    {
        vdk::MutexIntf::Guard guard(GetOperationMutex(), "Logout");
        if (IsUserSession() || IsSOLogged()) storage_->LogoutUserM();
        SetSOLogged(false);
        SetUserLogged(false);
        privateListed_ = false;
    }
    SignalLogout();
}

void Token::VerifyUserPassword(const tru::Buffer& pin) {
    CheckPinLength(pin);
    vdk::MutexIntf::Guard guard(GetOperationMutex(), "VerifyUserPassword");
    if (!IsUserPinInitialized()) throw zrck::Exception(CKR_USER_PIN_NOT_INITIALIZED);
    storage_->VerifyUserPassword(pin);
    storage_->DropInfoTime();
}

void Token::InitPin(const tru::Buffer& pin) {
    vdk::MutexIntf::Guard guard(GetOperationMutex(), "InitPin");
    CheckPinLength(pin);
    TokenStorage::GlobalBusyGuard busy(*storage_, "Token::InitPin");
    storage_->InitPIN(pin);
    slot_->DropAllObjects();
    ClearMechanisms();
    PostInit();
}

void Token::InitializeSO(const tru::Buffer& soPin, CK_UTF8CHAR_PTR label) {
    CheckPinLength(soPin);
    vdk::MutexIntf::Guard guard(GetOperationMutex(), "InitializeSO");
    TokenStorage::GlobalBusyGuard busy(*storage_, "Token::InitializeSO");
    const tru::Buffer labelView(label, 32);
    const bool wasInitialized = IsTokenInitialized();
    storage_->InitializeSO(soPin, labelView);
    if (wasInitialized) DestroyAllObjects();
    PostInit();
}

void Token::ChangePin(const tru::Buffer& oldPin, const tru::Buffer& newPin) {
    vdk::MutexIntf::Guard guard(GetOperationMutex(), "ChangePin");
    if (!IsLogged()) throw zrck::Exception(CKR_USER_NOT_LOGGED_IN);
    CheckPinLength(oldPin);
    CheckPinLength(newPin);
    TokenStorage::GlobalBusyGuard busy(*storage_, "Token::ChangePin");
    storage_->ChangePIN(oldPin, newPin);
}

// The random pool and its commands are the storage's alone, under its own guard: no token
// operation lock, so a mechanism may draw padding or nonces inside a storage guard.
void Token::SeedUserRandom(const tru::Buffer& seed) { storage_->SeedUserRandomM(seed); }

void Token::GenerateUserRandom(tru::Buffer& output) { storage_->GenerateUserRandomM(output); }

EParamSet Token::GetDefaultUAParamset() {
    return storage_ && storage_->GetModelFlag() != 0 ? DSTU4145_POLYNOMIAL_6 : DSTU4145_POLYNOMIAL_4;
}

CK_ULONG Token::GetMinRSAKeySize() { return storage_ && storage_->IsRSA512Supported() ? 512 : 1024; }

}  // namespace qel
