#include "cryptoki/session_frame.h"

#include "ckbase/exception.h"
#include "cryptoki/slot.h"
#include "cryptoki/token.h"
#include "cryptoki/unblock_guard.h"
#include "objects/tok_mechanism.h"

namespace zrck {

void SessionFrame::TOperationParams::Set(CryptoStateEnum newKind, const TokObjectPtr& newKey,
                                         TokMechanism* newMechanism) {
    kind = newKind;
    key = newKey ? newKey->GetHandle() : 0;
    keyObject = newKey;
    mechanism = newMechanism;
    mode = MODE_NONE;
}

void SessionFrame::TOperationParams::ResetOperation() {
    if (mechanism != nullptr) mechanism->FreeResources();
    ClearData();
}

TokMechanism* SessionFrame::MechCache::Find(CK_MECHANISM_TYPE type) const {
    for (const auto& entry : mEntries) {
        if (entry && entry->GetMechanismType() == type) return entry.get();
    }
    return nullptr;
}

void SessionFrame::MechCache::Put(TokMechanism* mechanism, TokMechanism* keep) {
    for (const auto& entry : mEntries) {
        if (entry.get() == mechanism) return;
    }
    for (auto& entry : mEntries) {
        if (!entry) {
            entry.reset(mechanism);
            return;
        }
    }
    for (size_t i = SIZE; i-- > 0;) {
        TokMechanism* candidate = mEntries[i].get();
        if (candidate == mpOwner->mPrimary.mechanism || candidate == mpOwner->mSecondary.mechanism ||
            (keep != nullptr && candidate == keep)) {
            continue;
        }
        mEntries[i].reset(mechanism);
        return;
    }
    delete mechanism;  // unreachable: at most three entries are protected
    throw Exception(CKR_GENERAL_ERROR);
}

void SessionFrame::MechCache::Clear() {
    for (auto& entry : mEntries) entry.reset();
}

size_t SessionFrame::MechCache::GetCount() const {
    size_t count = 0;
    for (const auto& entry : mEntries) count += entry ? 1 : 0;
    return count;
}

SessionFrame::OperationGuard::~OperationGuard() {
    if (!mActive) return;
    if (mFrame.mPrimary.kind == mKind) {
        mFrame.mPrimary.ResetOperation();
        mFrame.mContextLoginState = CONTEXT_LOGIN_NONE;
    } else if (mFrame.mSecondary.kind == mKind) {
        mFrame.mSecondary.ResetOperation();
    }
}

void SessionFrame::OperationGuard::ResetGuardedOperation() {
    mActive = false;
    if (mFrame.mPrimary.kind == mKind) {
        mFrame.mPrimary.ResetOperation();
        if (mFrame.mSecondary.InUse()) {
            mFrame.mPrimary = mFrame.mSecondary;
            mFrame.mSecondary.ClearData();
        }
    } else if (mFrame.mSecondary.kind == mKind) {
        mFrame.mSecondary.ResetOperation();
    }
}

SessionFrame::SessionFrame()
    : mMechCache(this), mpMutexForSessionObjects(CreateNamedMutex("mpMutexForSessionObjects")) {}

SessionFrame::~SessionFrame() = default;

TokMechanism* SessionFrame::GetCurrentMechanism(CryptoStateEnum kind, OperationModeEnum mode, bool final) {
    TOperationParams* record = nullptr;
    if (mPrimary.kind == kind) {
        record = &mPrimary;
    } else if (mSecondaryOperationAllowed && mSecondary.kind == kind) {
        record = &mSecondary;
    }
    if (record == nullptr) throw Exception(mSecondary.InUse() ? CKR_OPERATION_ACTIVE : CKR_OPERATION_NOT_INITIALIZED);
    if (record->mode == MODE_NONE) {
        if (final) throw Exception(CKR_DATA_LEN_RANGE);
        record->mode = mode;
    } else if (record->mode != mode) {
        throw Exception(CKR_OPERATION_ACTIVE);
    }
    if (record->mechanism == nullptr) throw Exception(CKR_OPERATION_NOT_INITIALIZED);
    return record->mechanism;
}

void SessionFrame::SetCurrentOperation(CryptoStateEnum kind, const TokObjectPtr& key, TokMechanism* mechanism) {
    TOperationParams* record = &mPrimary;
    if (mPrimary.InUse()) {
        if (!mSecondaryOperationAllowed || mSecondary.InUse()) throw Exception(CKR_OPERATION_ACTIVE);
        if (kind == CRYPTO_STATE_ENCRYPT || kind == CRYPTO_STATE_DECRYPT) {
            mSecondary = mPrimary;
        } else {
            record = &mSecondary;
        }
    }
    record->Set(kind, key, mechanism);
    mMechCache.Put(mechanism);
}

TokMechanism* SessionFrame::FindMechanism(Token* token, CK_MECHANISM_TYPE type, TokMechanism* keep) {
    if (TokMechanism* cached = mMechCache.Find(type)) return cached;
    std::unique_ptr<TokMechanism> clone = CloneMechanism(token, type);
    TokMechanism* mechanism = clone.release();
    mMechCache.Put(mechanism, keep);
    return mechanism;
}

std::unique_ptr<TokMechanism> SessionFrame::CloneMechanism(Token* token, CK_MECHANISM_TYPE type) {
    const std::shared_ptr<TokMechanism> original = token->HoldMechanismIfSupported(type);
    if (original == nullptr) throw Exception(CKR_MECHANISM_INVALID);
    return std::unique_ptr<TokMechanism>(original->Clone());
}

std::vector<TokObjectPtr> SessionFrame::UseKeys(Token* token, const std::vector<KeyUse>& keys, Token::ObjectUse when,
                                                const std::function<bool()>& body) {
    std::vector<TokObjectPtr> held;
    std::vector<std::unique_ptr<UnblockGuard>> guards;
    std::vector<Token::UsedObject> used;
    for (const KeyUse& use : keys) {
        TokObjectPtr object;
        if (use.key != nullptr) {
            Slot& slot = *token->GetSlot();
            object = slot.GetBlockObjectIfExists(use.key->GetHandle());
            if (object) guards.push_back(std::make_unique<UnblockGuard>(slot, object));
            if (object.get() != use.key) throw Exception(use.invalid);
            used.push_back({use.key, use.invalid});
        }
        held.push_back(object);
    }
    token->UseObjects(used, when, body);
    return held;
}

void SessionFrame::VerifyKeyOperationAllowed(TokKey* key, CK_MECHANISM_TYPE type, CK_RV code) const {
    if (key == nullptr || !key->IsMechanismAllowed(type)) throw Exception(code);
}

void SessionFrame::ResetAllOperations() {
    mSearchActive = false;
    mPrimary.ResetOperation();
    mSecondary.ResetOperation();
    mMechCache.Clear();
}

void SessionFrame::LogoutSignaled() {
    std::unique_lock<CallMutex> call(mCallMutex, std::try_to_lock);
    if (!call.owns_lock()) {
        mLogoutPending.store(true);
        return;
    }
    mLogoutPending.store(false);
    ResetAllOperations();
}

void SessionFrame::ApplyPendingLogout() {
    if (mLogoutPending.exchange(false)) ResetAllOperations();
}

void SessionFrame::FillSessionInfo(Token* token, CK_SESSION_INFO_PTR info) {
    info->slotID = 0;
    info->state = 0;
    info->flags = 0;
    info->ulDeviceError = 0;
    if (token == nullptr) throw Exception(CKR_SESSION_HANDLE_INVALID);
    Slot* slot = token->GetSlot();
    const CK_RV presence = slot->TestTokenPresence();
    if (presence != CKR_OK) throw Exception(presence);
    if (slot->GetToken().get() != token) throw Exception(CKR_DEVICE_REMOVED);
    info->slotID = slot->GetSlotID();
    info->flags = CKF_SERIAL_SESSION | (IsReadOnly() ? 0 : CKF_RW_SESSION);
    info->ulDeviceError = token->GetDeviceError();
    info->state = GetState(token);
}

CK_STATE SessionFrame::GetState(Token* token) {
    const bool userLogged = token != nullptr && token->IsUserLogged();
    if (IsReadOnly()) return userLogged ? CKS_RO_USER_FUNCTIONS : CKS_RO_PUBLIC_SESSION;
    if (token != nullptr && token->IsSOLogged()) return CKS_RW_SO_FUNCTIONS;
    return userLogged ? CKS_RW_USER_FUNCTIONS : CKS_RW_PUBLIC_SESSION;
}

void SessionFrame::SeedRandom(Token* token, const tru::Buffer& seed) {
    token->GetSlot()->VerifyStringArgument(seed);
    token->SeedUserRandom(seed);
}

void SessionFrame::GenerateRandom(Token* token, tru::Buffer& output) { token->GenerateUserRandom(output); }

void SessionFrame::DropSessionObjects(Token* token) {
    std::unordered_set<CK_OBJECT_HANDLE> ownObjects;
    {
        vdk::MutexIntf::Guard guard(*mpMutexForSessionObjects, "Close");
        ownObjects.swap(mSessionObjects);
    }
    if (token != nullptr) {
        for (CK_OBJECT_HANDLE handle : ownObjects) token->GetSlot()->DeleteSlotMemoryObject(handle);
    }
}

void SessionFrame::Close(Token* token) {
    DropSessionObjects(token);
    ResetAllOperations();
    mCloseDeferred.store(false);
    mClosed.store(true);
}

void SessionFrame::CloseWithoutWaiting() {
    std::unique_lock<CallMutex> call(mCallMutex, std::try_to_lock);
    if (call.owns_lock()) {
        Close();
        return;
    }
    mCloseDeferred.store(true);
    mClosed.store(true);
    TokenPtr token = LockToken();
    DropSessionObjects(token.get());
}

}  // namespace zrck
