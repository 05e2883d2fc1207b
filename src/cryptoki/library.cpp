#include "cryptoki/library.h"

#include <algorithm>
#include <cstring>

#include "ckbase/attribute.h"
#include "ckbase/exception.h"
#include "cryptoki/session_frame.h"
#include "cryptoki/slot.h"
#include "cryptoki/token.h"
#include "cryptoki/user.h"

namespace zrck {

namespace {

// Copies text blank-padded into a fixed field, without terminator.
void CopyPadded(CK_UTF8CHAR* field, size_t width, const std::string& text) {
    std::memset(field, ' ', width);
    std::memcpy(field, text.data(), std::min(width, text.size()));
}

TokenPtr PresentToken(Slot& slot) {
    TokenPtr token = slot.GetPresentToken();
    if (!token) throw Exception(CKR_TOKEN_NOT_PRESENT);
    return token;
}

}  // namespace

Library::~Library() = default;

User* Library::GetUser() const {
    if (!mpUser) throw Exception(CKR_CRYPTOKI_NOT_INITIALIZED);
    return mpUser.get();
}

SlotPtr Library::GetSlot(SessionFrame& session) const {
    TokenPtr token = session.LockToken();
    if (!token || token->GetSlot() == nullptr) throw Exception(CKR_DEVICE_REMOVED);
    SlotPtr slot = token->GetSlot()->weak_from_this().lock();
    if (!slot) throw Exception(CKR_DEVICE_REMOVED);
    return slot;
}

TokenPtr Library::SessionToken(SessionFrame& session, Slot& slot) const {
    TokenPtr token = PresentToken(slot);
    // The slot may hold a token set up after this session's one was pulled.
    if (token != session.LockToken()) throw Exception(CKR_DEVICE_REMOVED);
    return token;
}

SlotPtr Library::SlotByID(CK_SLOT_ID slotID) const {
    SlotPtr slot = mpSlotFactory->GetSlotByID(slotID);
    if (!slot) throw Exception(CKR_SLOT_ID_INVALID);
    return slot;
}

void Library::SetSlotFactory(std::unique_ptr<SlotFactory> factory) { mpSlotFactory = std::move(factory); }

void Library::ReleaseAll() {
    mpUser.reset();
    mpSlotFactory.reset();
    FreeMutexes();
}

CK_RV Library::PrepareRecursiveMutexes(CK_C_INITIALIZE_ARGS_PTR pInitArgs) {
    vdk::MutexFactory::Instance().SetFlags(vdk::MutexFactory::FLAG_RECURSIVE);
    const CK_RV rv = SetupMutexes(pInitArgs);
    if (rv == CKR_OK) PostPrepareMutexes();
    return rv;
}

CK_RV Library::InitializeLibrary(CK_C_INITIALIZE_ARGS_PTR pInitArgs, const std::function<void()>& build) {
    std::lock_guard<vdk::RankedMutex> serial(mInitializeMutex);
    CK_RV rv = CKR_OK;
    if (PreInitialize(pInitArgs, rv)) return rv;
    try {
        mConfigText = pInitArgs->pReserved != nullptr ? static_cast<const char*>(pInitArgs->pReserved) : "";
        rv = PrepareMutexes(pInitArgs);
        if (rv == CKR_OK) {
            mpUser.reset(new User());
            build();
            if (!mpSlotFactory) throw Exception(CKR_GENERAL_ERROR);
        }
    } catch (...) {
        rv = ResultOfException(std::current_exception());
    }
    if (rv != CKR_OK) {
        // A failed first initialisation leaves nothing counted or built behind.
        ReleaseAll();
        mConfigText.clear();
        UndoInitialize();
    }
    return rv;
}

CK_RV Library::FinalizeLibrary(const std::function<void()>& release) {
    std::lock_guard<vdk::RankedMutex> serial(mInitializeMutex);
    CK_RV rv = CKR_OK;
    if (PreFinalize(rv)) return rv;
    SignalFinalizeEvent();
    // Other threads' calls finish (or answer "not initialised") before anything goes.
    CallGate::Closed gate;
    if (!mpUser) return CKR_CRYPTOKI_NOT_INITIALIZED;
    mpUser->CloseAllSessions();
    mpUser.reset();
    release();
    ReleaseAll();
    mConfigText.clear();
    return CKR_OK;
}

CK_RV Library::GetSlotList(CK_BBOOL tokenPresent, CK_SLOT_ID_PTR pSlotList, CK_ULONG_PTR pulCount) {
    if (pulCount == nullptr) return CKR_ARGUMENTS_BAD;
    if (!IsReady()) return CKR_CRYPTOKI_NOT_INITIALIZED;
    SlotFactory& factory = *mpSlotFactory;
    if (pSlotList == nullptr) {
        factory.RefreshSlots();
        *pulCount = tokenPresent ? factory.GetSlotTokenPresentCount() : factory.GetSlotCount();
        mSlotCountReported = true;
        return CKR_OK;
    }
    if (!mSlotCountReported || factory.GetSlotCount() == 0) factory.RefreshSlots();
    mSlotCountReported = false;
    const CK_ULONG capacity = *pulCount;
    CK_ULONG count = 0;
    for (CK_SLOT_ID id : factory.GetSlotList()) {
        SlotPtr slot = factory.FindSlotByID(id);
        if (!slot) continue;
        if (tokenPresent && (factory.CheckAndInitTokenNoEx(*slot) != CKR_OK || !slot->IsTokenPresent())) continue;
        if (++count <= capacity) pSlotList[count - 1] = id;
    }
    *pulCount = count;
    return count > capacity ? CKR_BUFFER_TOO_SMALL : CKR_OK;
}

CK_RV Library::GetSlotInfo(CK_SLOT_ID slotID, CK_SLOT_INFO_PTR pInfo) {
    if (pInfo == nullptr) return CKR_ARGUMENTS_BAD;
    if (!IsReady()) return CKR_CRYPTOKI_NOT_INITIALIZED;
    if (mpSlotFactory->GetSlotCount() == 0) mpSlotFactory->RefreshSlots();
    SlotPtr slot = mpSlotFactory->FindSlotByID(slotID);
    if (!slot) return CKR_SLOT_ID_INVALID;
    CK_SLOT_INFO info;
    info.flags = 0;
    CopyPadded(info.slotDescription, sizeof info.slotDescription, slot->GetDescription());
    CopyPadded(info.manufacturerID, sizeof info.manufacturerID, slot->GetManufacturerId());
    info.hardwareVersion = slot->GetHardwareVersion();
    info.firmwareVersion = slot->GetFirmwareVersion();
    bool askPresence = true;
    try {
        const CK_RV rv = mpSlotFactory->CheckAndInitTokenNoEx(*slot);
        askPresence = rv == CKR_OK || rv == CKR_TOKEN_NOT_RECOGNIZED;
    } catch (...) {
    }
    if (askPresence && slot->IsTokenPresent()) info.flags |= CKF_TOKEN_PRESENT;
    if (slot->IsRemovable()) info.flags |= CKF_REMOVABLE_DEVICE;
    if (slot->IsHardwareSlot()) info.flags |= CKF_HW_SLOT;
    *pInfo = info;
    return CKR_OK;
}

CK_RV Library::GetTokenInfo(CK_SLOT_ID slotID, CK_TOKEN_INFO_PTR pInfo) {
    if (pInfo == nullptr) return CKR_ARGUMENTS_BAD;
    if (!IsReady()) return CKR_CRYPTOKI_NOT_INITIALIZED;
    if (mpSlotFactory->GetSlotCount() == 0) mpSlotFactory->RefreshSlots();
    SlotPtr slot = SlotByID(slotID);
    PresentToken(*slot)->FillTokenInfo(pInfo);
    return CKR_OK;
}

CK_RV Library::GetMechanismList(CK_SLOT_ID slotID, CK_MECHANISM_TYPE_PTR pMechanismList, CK_ULONG_PTR pulCount) {
    if (pulCount == nullptr) return CKR_ARGUMENTS_BAD;
    if (!IsReady()) return CKR_CRYPTOKI_NOT_INITIALIZED;
    SlotPtr slot = SlotByID(slotID);
    TokenPtr token = PresentToken(*slot);
    if (!token->IsUserPinInitialized()) return CKR_USER_PIN_NOT_INITIALIZED;
    const CK_ULONG n = token->GetMechanismCount();
    if (pMechanismList != nullptr) {
        if (n > *pulCount) {
            *pulCount = n;
            return CKR_BUFFER_TOO_SMALL;
        }
        token->FillMechanismList(pMechanismList, *pulCount);
    }
    *pulCount = n;
    return CKR_OK;
}

CK_RV Library::GetMechanismInfo(CK_SLOT_ID slotID, CK_MECHANISM_TYPE type, CK_MECHANISM_INFO_PTR pInfo) {
    if (pInfo == nullptr) return CKR_ARGUMENTS_BAD;
    if (!IsReady()) return CKR_CRYPTOKI_NOT_INITIALIZED;
    SlotPtr slot = SlotByID(slotID);
    TokenPtr token = PresentToken(*slot);
    if (!token->IsUserPinInitialized()) return CKR_USER_PIN_NOT_INITIALIZED;
    if (!token->IsMechanismSupported(type)) return CKR_MECHANISM_INVALID;
    token->FillMechanismInfo(type, pInfo);
    return CKR_OK;
}

CK_RV Library::InitToken(CK_SLOT_ID slotID, CK_UTF8CHAR_PTR pPin, CK_ULONG ulPinLen, CK_UTF8CHAR_PTR pLabel) {
    if (pPin == nullptr || pLabel == nullptr) return CKR_ARGUMENTS_BAD;
    if (!IsReady()) return CKR_CRYPTOKI_NOT_INITIALIZED;
    SlotPtr slot = SlotByID(slotID);
    TokenPtr token = PresentToken(*slot);
    if (token->GetSessionCount() != 0) return CKR_SESSION_EXISTS;
    slot->CheckPendingRemoves();
    const tru::Buffer pin = MakeView(pPin, ulPinLen);
    slot->VerifyStringArgument(pin);
    token->InitializeSO(pin, pLabel);
    token->SetSOLogged(false);
    token->SetUserLogged(false);
    UpdateTokens();
    return CKR_OK;
}

CK_RV Library::OpenSession(CK_SLOT_ID slotID, CK_FLAGS flags, CK_VOID_PTR pApplication, CK_NOTIFY Notify,
                           CK_SESSION_HANDLE_PTR phSession) {
    if (phSession == nullptr) return CKR_ARGUMENTS_BAD;
    if ((flags & CKF_SERIAL_SESSION) == 0) return CKR_SESSION_PARALLEL_NOT_SUPPORTED;
    if (!IsReady()) return CKR_CRYPTOKI_NOT_INITIALIZED;
    SlotPtr slot = SlotByID(slotID);
    const CK_RV presence = slot->TestTokenPresence();
    if (presence != CKR_OK) return presence;
    *phSession = slot->OpenSession((flags & CKF_RW_SESSION) != 0, pApplication, Notify);
    return CKR_OK;
}

CK_RV Library::CloseSession(CK_SESSION_HANDLE hSession) {
    if (!IsReady()) return CKR_CRYPTOKI_NOT_INITIALIZED;
    SessionPtr session = GetUser()->GetSession(hSession, false);
    SlotPtr slot;
    try {
        slot = GetSlot(*session);
    } catch (const Exception&) {
        // The session's token is gone: the session is dead, so it goes now rather than
        // staying registered with no way to close it.
        if (GetUser()->UnregisterSession(session->GetHandle())) session->Close();
        throw;
    }
    // Whoever unregisters the session closes it: a second closer (or a concurrent
    // C_CloseAllSessions) finds it gone and tells the token nothing.
    if (!GetUser()->UnregisterSession(session->GetHandle())) throw Exception(CKR_SESSION_HANDLE_INVALID);
    session->Close();
    if (TokenPtr token = slot->GetToken()) token->CloseSessionNotify(!session->IsReadOnly());
    session.reset();
    TokenPtr token = PresentToken(*slot);
    if (token->GetSessionCount() == 0 && token->IsLogged()) {
        try {
            token->Logout();
        } catch (...) {
        }
    }
    slot->CheckPendingRemoves();
    return CKR_OK;
}

CK_RV Library::CloseAllSessions(CK_SLOT_ID slotID) {
    if (!IsReady()) return CKR_CRYPTOKI_NOT_INITIALIZED;
    SlotPtr slot = SlotByID(slotID);
    TokenPtr token = PresentToken(*slot);
    slot->CloseAllSessions();
    if (token->IsLogged()) {
        try {
            token->Logout();
        } catch (...) {
        }
    }
    slot->CheckPendingRemoves();
    return CKR_OK;
}

CK_RV Library::GetSessionInfo(CK_SESSION_HANDLE hSession, CK_SESSION_INFO_PTR pInfo) {
    if (pInfo == nullptr) return CKR_ARGUMENTS_BAD;
    if (!IsReady()) return CKR_CRYPTOKI_NOT_INITIALIZED;
    GetUser()->GetSession(hSession, false)->FillSessionInfo(pInfo);
    return CKR_OK;
}

CK_RV Library::Login(CK_SESSION_HANDLE hSession, CK_USER_TYPE userType, CK_UTF8CHAR_PTR pPin, CK_ULONG ulPinLen) {
    if (pPin == nullptr) return CKR_ARGUMENTS_BAD;
    if (!IsReady()) return CKR_CRYPTOKI_NOT_INITIALIZED;
    SessionPtr session = GetUser()->GetSession(hSession, false);
    SlotPtr slot = GetSlot(*session);
    TokenPtr token = SessionToken(*session, *slot);
    const bool contextSpecific = userType == CKU_CONTEXT_SPECIFIC;
    if (contextSpecific && session->GetContextLoginState() != SessionFrame::CONTEXT_LOGIN_WAITING) {
        return CKR_OPERATION_NOT_INITIALIZED;
    }
    const tru::Buffer pin = MakeView(pPin, ulPinLen);
    slot->VerifyStringArgument(pin);
    if (ulPinLen < token->GetMinPasswordLen() || ulPinLen > token->GetMaxPasswordLen()) return CKR_PIN_INCORRECT;
    if (contextSpecific) {
        token->VerifyUserPassword(pin);
        session->SetContextLoginState(SessionFrame::CONTEXT_LOGIN_DONE);
    } else {
        token->Login(userType, pin);
    }
    slot->CheckPendingRemoves();
    return CKR_OK;
}

CK_RV Library::Logout(CK_SESSION_HANDLE hSession) {
    if (!IsReady()) return CKR_CRYPTOKI_NOT_INITIALIZED;
    SessionPtr session = GetUser()->GetSession(hSession, false);
    SlotPtr slot = GetSlot(*session);
    TokenPtr token = SessionToken(*session, *slot);
    if (!token->IsLogged()) return CKR_USER_NOT_LOGGED_IN;
    token->Logout();
    slot->CheckPendingRemoves();
    token->Update(true);
    return CKR_OK;
}

CK_RV Library::InitPIN(CK_SESSION_HANDLE hSession, CK_UTF8CHAR_PTR pPin, CK_ULONG ulPinLen) {
    if (pPin == nullptr || ulPinLen == 0) return CKR_ARGUMENTS_BAD;
    if (!IsReady()) return CKR_CRYPTOKI_NOT_INITIALIZED;
    SessionPtr session = GetUser()->GetSession(hSession, true);
    SlotPtr slot = GetSlot(*session);
    TokenPtr token = SessionToken(*session, *slot);
    const tru::Buffer pin = MakeView(pPin, ulPinLen);
    slot->VerifyStringArgument(pin);
    slot->CheckPendingRemoves();
    token->InitPin(pin);
    token->Update(true);
    return CKR_OK;
}

CK_RV Library::SetPIN(CK_SESSION_HANDLE hSession, CK_UTF8CHAR_PTR pOldPin, CK_ULONG ulOldLen, CK_UTF8CHAR_PTR pNewPin,
                      CK_ULONG ulNewLen) {
    if (pOldPin == nullptr || ulOldLen == 0 || pNewPin == nullptr || ulNewLen == 0) return CKR_ARGUMENTS_BAD;
    if (!IsReady()) return CKR_CRYPTOKI_NOT_INITIALIZED;
    SessionPtr session = GetUser()->GetSession(hSession, true);
    SlotPtr slot = GetSlot(*session);
    TokenPtr token = SessionToken(*session, *slot);
    const tru::Buffer oldPin = MakeView(pOldPin, ulOldLen);
    const tru::Buffer newPin = MakeView(pNewPin, ulNewLen);
    slot->VerifyStringArgument(oldPin);
    slot->VerifyStringArgument(newPin);
    token->ChangePin(oldPin, newPin);
    token->Update(true);
    return CKR_OK;
}

CK_RV Library::SeedRandom(CK_SESSION_HANDLE hSession, CK_BYTE_PTR pSeed, CK_ULONG ulSeedLen) {
    if (pSeed == nullptr || ulSeedLen == 0) return CKR_ARGUMENTS_BAD;
    if (!IsReady()) return CKR_CRYPTOKI_NOT_INITIALIZED;
    SessionPtr session = GetUser()->GetSession(hSession, false);
    SlotPtr slot = GetSlot(*session);
    TokenPtr token = SessionToken(*session, *slot);
    session->SeedRandom(MakeView(pSeed, ulSeedLen));
    token->Update(true);
    return CKR_OK;
}

CK_RV Library::GenerateRandom(CK_SESSION_HANDLE hSession, CK_BYTE_PTR pRandomData, CK_ULONG ulRandomLen) {
    if (pRandomData == nullptr || ulRandomLen == 0) return CKR_ARGUMENTS_BAD;
    if (!IsReady()) return CKR_CRYPTOKI_NOT_INITIALIZED;
    SessionPtr session = GetUser()->GetSession(hSession, false);
    SlotPtr slot = GetSlot(*session);
    TokenPtr token = SessionToken(*session, *slot);
    tru::Buffer output = MakeView(pRandomData, ulRandomLen);
    session->GenerateRandom(output);
    token->Update(true);
    return CKR_OK;
}

CK_RV Library::GetOperationState(CK_SESSION_HANDLE hSession, CK_BYTE_PTR pOperationState,
                                 CK_ULONG_PTR pulOperationStateLen) {
    if (pulOperationStateLen == nullptr) return CKR_ARGUMENTS_BAD;
    if (!IsReady()) return CKR_CRYPTOKI_NOT_INITIALIZED;
    SessionPtr session = GetUser()->GetSession(hSession, false);
    SlotPtr slot = GetSlot(*session);
    SessionToken(*session, *slot);
    session->GetOperationState(pOperationState, pulOperationStateLen);
    return CKR_OK;
}

CK_RV Library::SetOperationState(CK_SESSION_HANDLE hSession, CK_BYTE_PTR pOperationState, CK_ULONG ulOperationStateLen,
                                 CK_OBJECT_HANDLE hEncryptionKey, CK_OBJECT_HANDLE hAuthenticationKey) {
    if (ulOperationStateLen == 0 || pOperationState == nullptr) return CKR_ARGUMENTS_BAD;
    if (!IsReady()) return CKR_CRYPTOKI_NOT_INITIALIZED;
    SessionPtr session = GetUser()->GetSession(hSession, false);
    SlotPtr slot = GetSlot(*session);
    TokenPtr token = SessionToken(*session, *slot);
    session->SetOperationState(MakeView(pOperationState, ulOperationStateLen), hEncryptionKey, hAuthenticationKey);
    slot->CheckPendingRemoves();
    token->Update(true);
    return CKR_OK;
}

CK_RV Library::SetLibraryAttributes(CK_ATTRIBUTE_PTR pTemplate, CK_ULONG ulCount) {
    if (pTemplate == nullptr) return CKR_ARGUMENTS_BAD;
    AttributeTemplate attributes(pTemplate, ulCount);
    const Attribute* callback = attributes.GetAttributeIfExists(CKA_ZR_EXT_RANDOM_CALLBACK);
    if (callback == nullptr) return CKR_TEMPLATE_INCOMPLETE;
    if (callback->GetLength() != sizeof(ExternalRandomCallback)) throw Exception(CKR_ATTRIBUTE_VALUE_INVALID);
    ExternalRandomCallback function;
    std::memcpy(&function, callback->GetValue(), sizeof function);
    mExternalRandom = function;
    return CKR_OK;
}

void Library::UpdateTokens() {
    for (CK_SLOT_ID id : mpSlotFactory->GetSlotList()) {
        SlotPtr slot = mpSlotFactory->FindSlotByID(id);
        if (!slot || !slot->IsTokenPresent()) continue;
        if (TokenPtr token = slot->GetPresentToken()) {
            slot->CheckPendingRemoves();
            token->Update(true);
        }
    }
}

void Library::RefreshToken(Slot& slot) {
    if (TokenPtr token = slot.GetToken()) token->Refresh();
}

}  // namespace zrck
