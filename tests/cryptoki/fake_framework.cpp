#include "fake_framework.h"

#include <cstring>
#include <stdexcept>

#include "ckbase/exception.h"
#include "cryptoki/user.h"
#include "fake_objects.h"
#include "tru2/exception.h"

namespace zrtest {

namespace {

void CopyPadded(CK_UTF8CHAR* field, size_t width, const std::string& text) {
    std::memset(field, ' ', width);
    std::memcpy(field, text.data(), std::min(width, text.size()));
}

std::string AsString(const tru::Buffer& buffer) {
    return std::string(reinterpret_cast<const char*>(buffer.Data()), buffer.Size());
}

}  // namespace

// ---- FakeToken ----

FakeToken::FakeToken(FakeSlot* slot, const ZrFakeConfig& config)
    : zrck::Token(slot), mpFakeSlot(slot), mConfig(config), mUserPinInitialized(config.userPinInitialized != CK_FALSE) {
    mMechanisms.push_back(std::make_shared<ToyMechanism>(CKM_SHA_1, CKF_DIGEST, 0, 0));
    mMechanisms.push_back(std::make_shared<ToyMechanism>(CKM_SHA256, CKF_DIGEST, 0, 0));
    mMechanisms.push_back(std::make_shared<ToyMechanism>(CKM_SHA_1_HMAC, CKF_SIGN | CKF_VERIFY, 16, 64));
    if (Extension extend = TokenExtension().load()) extend(*this, mMechanisms);
    for (const auto& mechanism : mMechanisms) mechanism->SetTokenPtr(this);
}

std::atomic<FakeToken::Extension>& FakeToken::TokenExtension() {
    static std::atomic<Extension> extension{nullptr};
    return extension;
}

bool FakeToken::IsTokenPresent() { return mpFakeSlot->IsTokenPresent(); }

void FakeToken::CheckPinLength(const tru::Buffer& pin) const {
    if (pin.Size() < GetMinPasswordLen() || pin.Size() > GetMaxPasswordLen()) throw zrck::Exception(CKR_PIN_LEN_RANGE);
}

void FakeToken::InitializeSO(const tru::Buffer& soPin, CK_UTF8CHAR_PTR label) {
    vdk::MutexIntf::Guard guard(GetOperationMutex(), "InitializeSO");
    CheckPinLength(soPin);
    if (AsString(soPin) != mSoPin) throw zrck::Exception(CKR_PIN_INCORRECT);
    mLabel.assign(reinterpret_cast<const char*>(label), 32);
}

void FakeToken::FillTokenInfo(CK_TOKEN_INFO_PTR info) {
    vdk::MutexIntf::Guard guard(GetOperationMutex(), "FillTokenInfo");
    CopyPadded(info->label, sizeof info->label, mLabel);
    CopyPadded(info->manufacturerID, sizeof info->manufacturerID, "ZR Test");
    CopyPadded(info->model, sizeof info->model, "Fake token");
    CopyPadded(info->serialNumber, sizeof info->serialNumber, "000" + std::to_string(GetSlot()->GetSlotID()));
    info->flags = CKF_RNG | CKF_LOGIN_REQUIRED | CKF_TOKEN_INITIALIZED |
                  (IsUserPinInitialized() ? CKF_USER_PIN_INITIALIZED : 0) | (IsReadOnly() ? CKF_WRITE_PROTECTED : 0);
    info->ulMaxSessionCount = GetMaxSessionsCount();
    info->ulSessionCount = GetSessionCount();
    info->ulMaxRwSessionCount = GetMaxRwSessionsCount();
    info->ulRwSessionCount = GetRwSessionCount();
    info->ulMaxPinLen = GetMaxPasswordLen();
    info->ulMinPinLen = GetMinPasswordLen();
    info->ulTotalPublicMemory = CK_UNAVAILABLE_INFORMATION;
    info->ulFreePublicMemory = CK_UNAVAILABLE_INFORMATION;
    info->ulTotalPrivateMemory = CK_UNAVAILABLE_INFORMATION;
    info->ulFreePrivateMemory = CK_UNAVAILABLE_INFORMATION;
    info->hardwareVersion = CK_VERSION{1, 0};
    info->firmwareVersion = CK_VERSION{1, 0};
    std::memset(info->utcTime, ' ', sizeof info->utcTime);
}

void FakeToken::FillMechanismList(CK_MECHANISM_TYPE_PTR list, CK_ULONG length) {
    if (length < mMechanisms.size()) throw zrck::BufferTooSmallException();
    for (size_t i = 0; i < mMechanisms.size(); ++i) list[i] = mMechanisms[i]->GetMechanismType();
}

void FakeToken::FillMechanismInfo(CK_MECHANISM_TYPE type, CK_MECHANISM_INFO_PTR info) {
    zrck::TokMechanism* mechanism = GetMechanismIfSupported(type);
    if (mechanism == nullptr) throw zrck::Exception(CKR_MECHANISM_INVALID);
    mechanism->FillMechanismInfo(info);
}

zrck::TokMechanism* FakeToken::GetMechanismIfSupported(CK_MECHANISM_TYPE type) {
    for (const auto& mechanism : mMechanisms) {
        if (mechanism->GetMechanismType() == type) return mechanism.get();
    }
    return nullptr;
}

void FakeToken::VerifyUserPassword(const tru::Buffer& pin) {
    vdk::MutexIntf::Guard guard(GetOperationMutex(), "VerifyUserPassword");
    CheckPinLength(pin);
    if (AsString(pin) != mUserPin) throw zrck::Exception(CKR_PIN_INCORRECT);
}

void FakeToken::Login(CK_USER_TYPE userType, const tru::Buffer& pin) {
    vdk::MutexIntf::Guard guard(GetOperationMutex(), "Login");
    if (userType != CKU_SO && userType != CKU_USER) throw zrck::Exception(CKR_USER_TYPE_INVALID);
    if (IsSOLogged() || IsUserLogged()) {
        const bool same = (userType == CKU_SO) == IsSOLogged();
        throw zrck::Exception(same ? CKR_USER_ALREADY_LOGGED_IN : CKR_USER_ANOTHER_ALREADY_LOGGED_IN);
    }
    if (userType == CKU_SO && GetSessionCount() != GetRwSessionCount()) {
        throw zrck::Exception(CKR_SESSION_READ_ONLY_EXISTS);
    }
    if (userType == CKU_USER && !IsUserPinInitialized()) throw zrck::Exception(CKR_USER_PIN_NOT_INITIALIZED);
    if (AsString(pin) != (userType == CKU_SO ? mSoPin : mUserPin)) throw zrck::Exception(CKR_PIN_INCORRECT);
    if (userType == CKU_SO) {
        SetSOLogged(true);
    } else {
        SetUserLogged(true);
    }
}

void FakeToken::Logout() {
    {
        vdk::MutexIntf::Guard guard(GetOperationMutex(), "Logout");
        SetSOLogged(false);
        SetUserLogged(false);
    }
    SignalLogout();
}

void FakeToken::InitPin(const tru::Buffer& pin) {
    vdk::MutexIntf::Guard guard(GetOperationMutex(), "InitPin");
    if (!IsSOLogged()) throw zrck::Exception(CKR_USER_NOT_LOGGED_IN);
    CheckPinLength(pin);
    mUserPin = AsString(pin);
    SetUserPinInitialized(true);
}

void FakeToken::ChangePin(const tru::Buffer& oldPin, const tru::Buffer& newPin) {
    vdk::MutexIntf::Guard guard(GetOperationMutex(), "ChangePin");
    if (!IsLogged()) throw zrck::Exception(CKR_USER_NOT_LOGGED_IN);
    CheckPinLength(oldPin);
    CheckPinLength(newPin);
    std::string& current = IsSOLogged() ? mSoPin : mUserPin;
    if (AsString(oldPin) != current) throw zrck::Exception(CKR_PIN_INCORRECT);
    current = AsString(newPin);
}

void FakeToken::GenerateUserRandom(tru::Buffer& output) {
    vdk::MutexIntf::Guard guard(GetOperationMutex(), "GenerateUserRandom");
    for (uint32_t i = 0; i < output.Size(); ++i) output.Data()[i] = static_cast<uint8_t>(i * 7 + 1);
}

// ---- FakeSlot ----

FakeSlot::FakeSlot(zrck::LibraryFrame* library, CK_SLOT_ID slotID, const ZrFakeConfig& config, bool present)
    : zrck::Slot(library, slotID),
      mConfig(config),
      mPresent(present),
      mSlotMutex(zrck::CreateNamedMutex("MutexForSlot")) {}

CK_RV FakeSlot::InitializeToken() {
    if (!mPresent.load()) return CKR_TOKEN_NOT_PRESENT;
    auto token = std::make_shared<FakeToken>(this, mConfig);
    for (const auto& mechanism : token->GetMechanisms()) AddObject(mechanism);
    SetToken(token);
    return CKR_OK;
}

CK_RV FakeSlot::TestTokenPresence() {
    zrck::TokenPtr token = GetToken();
    if (token && mPresent.load()) return CKR_OK;
    if (!token) return CKR_TOKEN_NOT_PRESENT;
    // Only the caller that drops the token closes the sessions; no lock is held meanwhile,
    // since those sessions may be inside calls that test presence themselves.
    if (!DropToken(token)) return CKR_TOKEN_NOT_PRESENT;
    CloseAllSessions();
    DeleteAllSlotMemoryObjects();
    SetSlotEvent();
    return CKR_DEVICE_REMOVED;
}

void FakeSlot::VerifyStringArgument(const tru::Buffer& argument) {
    if (argument.Size() >= 1025) throw zrck::Exception(CKR_ARGUMENTS_BAD);
}

void FakeSlot::VerifyTemplateArgument(const zrck::AttributeTemplate& attributes) {
    for (CK_ULONG i = 0; i < attributes.GetCount(); ++i) {
        if (attributes[i].GetLength() > 65536) throw zrck::Exception(CKR_ARGUMENTS_BAD);
    }
}

CK_SESSION_HANDLE FakeSlot::CreateRegisteredSession() {
    auto* library = dynamic_cast<zrck::Library*>(GetLibrary());
    zrck::User* user = library->GetUser();
    return user->RegisterSession(*CreateUnregisteredSession());
}

zrck::SessionFrame* FakeSlot::CreateUnregisteredSession() { return new zrck::Session(GetToken()); }

void FakeSlot::DetachToken() { SetToken(zrck::TokenPtr()); }

// ---- FakeSlotFactory ----

FakeSlotFactory::FakeSlotFactory(zrck::LibraryFrame* library, const ZrFakeConfig& config) {
    for (CK_SLOT_ID id = 0; id < config.slotCount; ++id) {
        mSlots.push_back(std::make_shared<FakeSlot>(library, id, config, (config.tokenPresentMask >> id) & 1));
    }
}

CK_RV FakeSlotFactory::CheckAndInitToken(zrck::SlotFrame& slot) {
    if (slot.IsInitialized()) return CKR_OK;
    auto& fake = static_cast<FakeSlot&>(slot);
    std::lock_guard<std::mutex> lock(fake.InitMutex());
    if (slot.IsInitialized()) return CKR_OK;
    const CK_RV rv = slot.InitializeToken();
    if (rv == CKR_OK) slot.PostInit();
    return rv;
}

CK_ULONG FakeSlotFactory::GetSlotTokenPresentCount() {
    CK_ULONG count = 0;
    for (const auto& slot : mSlots) {
        if (CheckAndInitTokenNoEx(*slot) == CKR_OK && slot->IsTokenPresent()) ++count;
    }
    return count;
}

std::vector<CK_SLOT_ID> FakeSlotFactory::GetSlotList() {
    std::vector<CK_SLOT_ID> ids;
    for (const auto& slot : mSlots) ids.push_back(slot->GetSlotID());
    return ids;
}

zrck::SlotPtr FakeSlotFactory::GetSlotByID(CK_SLOT_ID slotID) {
    zrck::SlotPtr slot = FindSlotByID(slotID);
    if (!slot) throw zrck::ObjNotFoundException(CKR_SLOT_ID_INVALID);
    const CK_RV rv = CheckAndInitToken(*slot);
    if (rv != CKR_OK) throw zrck::Exception(rv);
    return slot;
}

zrck::SlotPtr FakeSlotFactory::FindSlotByID(CK_SLOT_ID slotID) { return GetFakeSlot(slotID); }

std::shared_ptr<FakeSlot> FakeSlotFactory::GetFakeSlot(CK_SLOT_ID slotID) const {
    return slotID < mSlots.size() ? mSlots[slotID] : std::shared_ptr<FakeSlot>();
}

// ---- FakeLibrary ----

void FakeLibrary::Create() { globalLibraryPtr.store(new FakeLibrary()); }

ZrFakeConfig& FakeLibrary::NextConfig() {
    static ZrFakeConfig config = {2, 1, 100, 100, CK_FALSE, CK_TRUE};
    return config;
}

std::atomic<int>& FakeLibrary::GetInfoThrow() {
    static std::atomic<int> kind{ZR_FAKE_THROW_NONE};
    return kind;
}

CK_RV FakeLibrary::Initialize(CK_C_INITIALIZE_ARGS_PTR pInitArgs) {
    return InitializeLibrary(pInitArgs, [this] { SetSlotFactory(std::make_unique<FakeSlotFactory>(this, NextConfig())); });
}

CK_RV FakeLibrary::Finalize(CK_VOID_PTR) {
    return FinalizeLibrary([] {});
}

CK_RV FakeLibrary::GetInfo(CK_INFO_PTR pInfo) {
    switch (GetInfoThrow().load()) {
        case ZR_FAKE_THROW_CK_CODE_0: throw zrck::Exception(CKR_OK);
        case ZR_FAKE_THROW_CK_PIN_LOCKED: throw zrck::Exception(CKR_PIN_LOCKED);
        case ZR_FAKE_THROW_BASE: throw tru::Exception(87);
        case ZR_FAKE_THROW_STD: throw std::runtime_error("fake");
        case ZR_FAKE_THROW_OTHER: throw 42;
        case ZR_FAKE_THROW_BUFFER_TOO_SMALL: throw zrck::BufferTooSmallException();
        default: break;
    }
    if (!IsReady()) return CKR_CRYPTOKI_NOT_INITIALIZED;
    pInfo->cryptokiVersion = CK_VERSION{ZR_CRYPTOKI_VERSION_MAJOR, ZR_CRYPTOKI_VERSION_MINOR};
    CopyPadded(pInfo->manufacturerID, sizeof pInfo->manufacturerID, "ZR Test");
    pInfo->flags = 0;
    CopyPadded(pInfo->libraryDescription, sizeof pInfo->libraryDescription, "Fake token module");
    pInfo->libraryVersion = CK_VERSION{0, 1};
    return CKR_OK;
}

int FakeLibrary::GetExternalRandom(tru::Buffer& output) {
    CK_RV (*callback)(CK_BYTE_PTR, CK_ULONG) = GetExternalRandomCallback();
    if (callback == nullptr) return -1;
    return static_cast<int>(callback(output.Data(), output.Size()));
}

void FakeLibrary::RunStorageOperation(zrck::Token& token, const char* name, const std::function<void()>& body) {
    if (ToySlowDigests().load() != 0) ++ToyStorageWhileInUse();
    zrck::Library::RunStorageOperation(token, name, body);
}

int FakeLibrary::GetConfigFlag(const char* key) const {
    const std::string& text = GetConfigText();
    if (text.empty()) return -1;
    return text.find(std::string(key) + "=true") != std::string::npos ? 1 : 0;
}

}  // namespace zrtest
