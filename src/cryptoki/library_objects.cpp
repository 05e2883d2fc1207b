// Library bodies of the object, search and key-management functions: argument checks, the
// session, its slot and present token, the keys held for the call, then the session's work.
#include <memory>
#include <mutex>

#include "cryptoki/library.h"
#include "cryptoki/library_calls.h"
#include "cryptoki/session_frame.h"
#include "cryptoki/slot.h"
#include "cryptoki/token.h"
#include "cryptoki/unblock_guard.h"
#include "cryptoki/user.h"
#include "objects/tok_key.h"

namespace zrck {

SessionCall::SessionCall(Library& library, CK_SESSION_HANDLE handle) {
    session = library.GetUser()->GetSession(handle, false);
    slot = library.GetSlot(*session);
    token = library.SessionToken(*session, *slot);
}

HeldKey::HeldKey(Slot& slot, CK_OBJECT_HANDLE handle, CK_RV missing) {
    TokObjectPtr object = slot.GetBlockObjectIfExists(handle);
    if (!object) throw Exception(missing);
    mGuard.reset(new UnblockGuard(slot, object));
    const CK_OBJECT_CLASS objectClass = object->GetClass();
    if (objectClass == CKO_PUBLIC_KEY || objectClass == CKO_PRIVATE_KEY || objectClass == CKO_SECRET_KEY) {
        mKey = dynamic_cast<TokKey*>(object.get());
    }
    if (mKey == nullptr) throw Exception(CKR_OBJECT_HANDLE_INVALID);
}

HeldKey::~HeldKey() = default;

void Library::RunStorageOperation(Token&, const char*, const std::function<void()>& body) { body(); }

// The creating and changing bodies below hold the session's call lock for their whole
// transaction, so another thread's call on the session cannot take part in it; the lock is
// taken before the storage lock, in the same order as every session call that reaches the
// device.

CK_RV Library::CreateObject(CK_SESSION_HANDLE hSession, CK_ATTRIBUTE_PTR pTemplate, CK_ULONG ulCount,
                            CK_OBJECT_HANDLE_PTR phObject) {
    if (pTemplate == nullptr || ulCount == 0 || phObject == nullptr) return CKR_ARGUMENTS_BAD;
    if (!IsReady()) return CKR_CRYPTOKI_NOT_INITIALIZED;
    SessionCall call(*this, hSession);
    std::lock_guard<SessionFrame::CallMutex> serial(call.session->GetCallMutex());
    RunStorageOperation(*call.token, "Library::CreateObject", [&] {
        call.slot->CheckPendingRemoves();
        AttributeTemplate attributes(pTemplate, ulCount);
        SessionFrame::IncubatorGuard transaction(*call.session);
        *phObject = call.session->CreateTokObject(attributes);
        call.token->Update(true);
        transaction.Clear();
    });
    return CKR_OK;
}

CK_RV Library::CopyObject(CK_SESSION_HANDLE hSession, CK_OBJECT_HANDLE hObject, CK_ATTRIBUTE_PTR pTemplate,
                          CK_ULONG ulCount, CK_OBJECT_HANDLE_PTR phNewObject) {
    if (phNewObject == nullptr || (ulCount != 0 && pTemplate == nullptr)) return CKR_ARGUMENTS_BAD;
    if (hObject == 0) return CKR_OBJECT_HANDLE_INVALID;
    if (!IsReady()) return CKR_CRYPTOKI_NOT_INITIALIZED;
    SessionCall call(*this, hSession);
    std::lock_guard<SessionFrame::CallMutex> serial(call.session->GetCallMutex());
    RunStorageOperation(*call.token, "Library::CopyObject", [&] {
        call.slot->CheckPendingRemoves();
        AttributeTemplate attributes(pTemplate, ulCount);
        SessionFrame::IncubatorGuard transaction(*call.session);
        *phNewObject = call.session->CopyTokObject(hObject, attributes);
        call.token->Update(true);
        transaction.Clear();
    });
    return CKR_OK;
}

CK_RV Library::DestroyObject(CK_SESSION_HANDLE hSession, CK_OBJECT_HANDLE hObject) {
    if (hObject == 0) return CKR_OBJECT_HANDLE_INVALID;
    if (!IsReady()) return CKR_CRYPTOKI_NOT_INITIALIZED;
    SessionCall call(*this, hSession);
    call.slot->CheckPendingRemoves();
    // The wait for other users of the object runs before the storage lock is taken.
    call.session->DeleteTokObject(hObject, "", [this, &call](const std::function<void()>& remove) {
        RunStorageOperation(*call.token, "Library::DestroyObject", remove);
    });
    call.token->Update(true);
    return CKR_OK;
}

CK_RV Library::GetObjectSize(CK_SESSION_HANDLE hSession, CK_OBJECT_HANDLE hObject, CK_ULONG_PTR pulSize) {
    if (pulSize == nullptr) return CKR_ARGUMENTS_BAD;
    if (hObject == 0) return CKR_OBJECT_HANDLE_INVALID;
    if (!IsReady()) return CKR_CRYPTOKI_NOT_INITIALIZED;
    SessionCall call(*this, hSession);
    call.slot->CheckPendingRemoves();
    *pulSize = call.session->GetObjectSize(hObject);
    return CKR_OK;
}

CK_RV Library::GetAttributeValue(CK_SESSION_HANDLE hSession, CK_OBJECT_HANDLE hObject, CK_ATTRIBUTE_PTR pTemplate,
                                 CK_ULONG ulCount) {
    if (pTemplate == nullptr || ulCount == 0) return CKR_ARGUMENTS_BAD;
    if (hObject == 0) return CKR_OBJECT_HANDLE_INVALID;
    if (!IsReady()) return CKR_CRYPTOKI_NOT_INITIALIZED;
    SessionCall call(*this, hSession);
    call.slot->CheckPendingRemoves();
    AttributeTemplate attributes(pTemplate, ulCount);
    return call.session->GetAttributes(hObject, attributes);
}

CK_RV Library::SetAttributeValue(CK_SESSION_HANDLE hSession, CK_OBJECT_HANDLE hObject, CK_ATTRIBUTE_PTR pTemplate,
                                 CK_ULONG ulCount) {
    if (pTemplate == nullptr || ulCount == 0) return CKR_ARGUMENTS_BAD;
    if (hObject == 0) return CKR_OBJECT_HANDLE_INVALID;
    if (!IsReady()) return CKR_CRYPTOKI_NOT_INITIALIZED;
    SessionCall call(*this, hSession);
    CK_RV rv = CKR_OK;
    std::lock_guard<SessionFrame::CallMutex> serial(call.session->GetCallMutex());
    RunStorageOperation(*call.token, "Library::SetAttributeValue", [&] {
        call.slot->CheckPendingRemoves();
        AttributeTemplate attributes(pTemplate, ulCount);
        rv = call.session->UpdateAttributes(hObject, attributes);
        call.token->Update(true);
    });
    return rv;
}

CK_RV Library::FindObjectsInit(CK_SESSION_HANDLE hSession, CK_ATTRIBUTE_PTR pTemplate, CK_ULONG ulCount) {
    if (ulCount != 0 && pTemplate == nullptr) return CKR_ARGUMENTS_BAD;
    if (!IsReady()) return CKR_CRYPTOKI_NOT_INITIALIZED;
    SessionCall call(*this, hSession);
    if (call.session->IsSearchActive()) return CKR_OPERATION_ACTIVE;
    call.slot->CheckPendingRemoves();
    AttributeTemplate attributes(pTemplate, ulCount);
    SearchFinalizer finalizer(call.session.get());
    call.session->StartSearch(attributes);
    finalizer.Dismiss();
    return CKR_OK;
}

CK_RV Library::FindObjects(CK_SESSION_HANDLE hSession, CK_OBJECT_HANDLE_PTR phObject, CK_ULONG ulMaxObjectCount,
                           CK_ULONG_PTR pulObjectCount) {
    if (phObject == nullptr || ulMaxObjectCount == 0 || pulObjectCount == nullptr) return CKR_ARGUMENTS_BAD;
    if (!IsReady()) return CKR_CRYPTOKI_NOT_INITIALIZED;
    SessionCall call(*this, hSession);
    *pulObjectCount = call.session->Search(phObject, ulMaxObjectCount);
    return CKR_OK;
}

CK_RV Library::FindObjectsFinal(CK_SESSION_HANDLE hSession) {
    if (!IsReady()) return CKR_CRYPTOKI_NOT_INITIALIZED;
    SessionCall call(*this, hSession);
    if (!call.session->IsSearchActive()) return CKR_OPERATION_NOT_INITIALIZED;
    call.session->EndSearch();
    call.slot->CheckPendingRemoves();
    return CKR_OK;
}

CK_RV Library::GenerateKey(CK_SESSION_HANDLE hSession, CK_MECHANISM_PTR pMechanism, CK_ATTRIBUTE_PTR pTemplate,
                           CK_ULONG ulCount, CK_OBJECT_HANDLE_PTR phKey) {
    if (pMechanism == nullptr || phKey == nullptr || (ulCount != 0 && pTemplate == nullptr)) return CKR_ARGUMENTS_BAD;
    if (!IsReady()) return CKR_CRYPTOKI_NOT_INITIALIZED;
    SessionCall call(*this, hSession);
    std::lock_guard<SessionFrame::CallMutex> serial(call.session->GetCallMutex());
    RunStorageOperation(*call.token, "Library::GenerateKey", [&] {
        AttributeTemplate attributes(pTemplate, ulCount);
        const MechanismParameter mechanism(*pMechanism);
        SessionFrame::IncubatorGuard transaction(*call.session);
        *phKey = call.session->GenerateKey(mechanism, attributes);
        call.token->Update(true);
        transaction.Clear();
    });
    return CKR_OK;
}

CK_RV Library::GenerateKeyPair(CK_SESSION_HANDLE hSession, CK_MECHANISM_PTR pMechanism,
                               CK_ATTRIBUTE_PTR pPublicKeyTemplate, CK_ULONG ulPublicKeyAttributeCount,
                               CK_ATTRIBUTE_PTR pPrivateKeyTemplate, CK_ULONG ulPrivateKeyAttributeCount,
                               CK_OBJECT_HANDLE_PTR phPublicKey, CK_OBJECT_HANDLE_PTR phPrivateKey) {
    if (pMechanism == nullptr || phPublicKey == nullptr || phPrivateKey == nullptr ||
        (ulPublicKeyAttributeCount != 0 && pPublicKeyTemplate == nullptr) ||
        (ulPrivateKeyAttributeCount != 0 && pPrivateKeyTemplate == nullptr)) {
        return CKR_ARGUMENTS_BAD;
    }
    if (!IsReady()) return CKR_CRYPTOKI_NOT_INITIALIZED;
    SessionCall call(*this, hSession);
    std::lock_guard<SessionFrame::CallMutex> serial(call.session->GetCallMutex());
    RunStorageOperation(*call.token, "Library::GenerateKeyPair", [&] {
        AttributeTemplate publicAttributes(pPublicKeyTemplate, ulPublicKeyAttributeCount);
        AttributeTemplate privateAttributes(pPrivateKeyTemplate, ulPrivateKeyAttributeCount);
        const MechanismParameter mechanism(*pMechanism);
        SessionFrame::IncubatorGuard transaction(*call.session);
        const auto handles = call.session->GenerateKeyPair(mechanism, publicAttributes, privateAttributes);
        call.token->Update(true);
        *phPublicKey = handles.first;
        *phPrivateKey = handles.second;
        transaction.Clear();
    });
    return CKR_OK;
}

CK_RV Library::DeriveKey(CK_SESSION_HANDLE hSession, CK_MECHANISM_PTR pMechanism, CK_OBJECT_HANDLE hBaseKey,
                         CK_ATTRIBUTE_PTR pTemplate, CK_ULONG ulAttributeCount, CK_OBJECT_HANDLE_PTR phKey) {
    if (pMechanism == nullptr || (ulAttributeCount != 0 && pTemplate == nullptr)) return CKR_ARGUMENTS_BAD;
    if (hBaseKey == 0) return CKR_KEY_HANDLE_INVALID;
    if (!IsReady()) return CKR_CRYPTOKI_NOT_INITIALIZED;
    SessionCall call(*this, hSession);
    CK_RV rv = CKR_OK;
    std::lock_guard<SessionFrame::CallMutex> serial(call.session->GetCallMutex());
    RunStorageOperation(*call.token, "Library::DeriveKey", [&] {
        call.slot->CheckPendingRemoves();
        HeldKey baseKey(*call.slot, hBaseKey, CKR_KEY_HANDLE_INVALID);
        AttributeTemplate attributes(pTemplate, ulAttributeCount);
        MechanismParameter mechanism(*pMechanism);
        SessionFrame::IncubatorGuard transaction(*call.session);
        const CK_OBJECT_HANDLE handle = call.session->DeriveKey(mechanism, *baseKey.Get(), attributes);
        if (phKey == nullptr && handle != 0) {
            // Nowhere to return the new key: it goes again with the transaction.
            rv = CKR_ARGUMENTS_BAD;
            return;
        }
        if (phKey != nullptr) *phKey = handle;
        call.token->Update(true);
        transaction.Clear();
    });
    return rv;
}

CK_RV Library::WrapKey(CK_SESSION_HANDLE hSession, CK_MECHANISM_PTR pMechanism, CK_OBJECT_HANDLE hWrappingKey,
                       CK_OBJECT_HANDLE hKey, CK_BYTE_PTR pWrappedKey, CK_ULONG_PTR pulWrappedKeyLen) {
    if (pMechanism == nullptr || pulWrappedKeyLen == nullptr) return CKR_ARGUMENTS_BAD;
    if (hKey == 0) return CKR_KEY_HANDLE_INVALID;
    if (!IsReady()) return CKR_CRYPTOKI_NOT_INITIALIZED;
    SessionCall call(*this, hSession);
    call.slot->CheckPendingRemoves();
    std::unique_ptr<HeldKey> wrappingKey;
    if (hWrappingKey != 0) wrappingKey.reset(new HeldKey(*call.slot, hWrappingKey, CKR_WRAPPING_KEY_HANDLE_INVALID));
    HeldKey key(*call.slot, hKey, CKR_KEY_HANDLE_INVALID);
    const MechanismParameter mechanism(*pMechanism);
    call.session->WrapKey(mechanism, wrappingKey ? wrappingKey->Get() : nullptr, *key.Get(), pWrappedKey,
                          pulWrappedKeyLen);
    call.token->Update(true);
    return CKR_OK;
}

CK_RV Library::UnwrapKey(CK_SESSION_HANDLE hSession, CK_MECHANISM_PTR pMechanism, CK_OBJECT_HANDLE hUnwrappingKey,
                         CK_BYTE_PTR pWrappedKey, CK_ULONG ulWrappedKeyLen, CK_ATTRIBUTE_PTR pTemplate,
                         CK_ULONG ulAttributeCount, CK_OBJECT_HANDLE_PTR phKey) {
    if (pMechanism == nullptr || pTemplate == nullptr || pWrappedKey == nullptr || ulWrappedKeyLen == 0 ||
        phKey == nullptr) {
        return CKR_ARGUMENTS_BAD;
    }
    if (!IsReady()) return CKR_CRYPTOKI_NOT_INITIALIZED;
    SessionCall call(*this, hSession);
    std::lock_guard<SessionFrame::CallMutex> serial(call.session->GetCallMutex());
    RunStorageOperation(*call.token, "Library::UnwrapKey", [&] {
        call.slot->CheckPendingRemoves();
        std::unique_ptr<HeldKey> unwrappingKey;
        if (hUnwrappingKey != 0) {
            unwrappingKey.reset(new HeldKey(*call.slot, hUnwrappingKey, CKR_UNWRAPPING_KEY_HANDLE_INVALID));
        }
        AttributeTemplate attributes(pTemplate, ulAttributeCount);
        const MechanismParameter mechanism(*pMechanism);
        const tru::Buffer wrapped = MakeView(pWrappedKey, ulWrappedKeyLen);
        SessionFrame::IncubatorGuard transaction(*call.session);
        *phKey = call.session->UnwrapKey(mechanism, unwrappingKey ? unwrappingKey->Get() : nullptr, wrapped,
                                         attributes);
        call.token->Update(true);
        transaction.Clear();
    });
    return CKR_OK;
}

}  // namespace zrck
