#include "cryptoki/slot.h"

#include <cstring>

#include "ckbase/exception.h"
#include "cryptoki/library.h"
#include "cryptoki/session_frame.h"
#include "cryptoki/token.h"
#include "cryptoki/user.h"

namespace zrck {

namespace {
User& RegistryOf(LibraryFrame* library) {
    auto* concrete = dynamic_cast<Library*>(library);
    if (concrete == nullptr || concrete->GetUserIfExists() == nullptr) throw Exception(CKR_CRYPTOKI_NOT_INITIALIZED);
    return *concrete->GetUserIfExists();
}
}  // namespace

Slot::Slot(LibraryFrame* library, CK_SLOT_ID slotID)
    : SlotFrame(library, slotID), mpMutexForPendings(CreateNamedMutex("mpMutexForPendings")) {}

Slot::~Slot() {
    for (const TokObjectPtr& object : mObjects.Snapshot()) object->ClearTokenPtr();
    DeleteAllSlotMemoryObjects();
}

void Slot::SetSlotEvent() {
    mSlotEvent.store(true);
    mpLibrary->SignalSlotCondition();
}

void Slot::SetToken(const TokenPtr& token) { std::atomic_store(&mToken, token); }

bool Slot::DropToken(TokenPtr expected) {
    return std::atomic_compare_exchange_strong(&mToken, &expected, TokenPtr());
}

CK_OBJECT_HANDLE Slot::AddObject(const TokObjectPtr& object) {
    const CK_OBJECT_HANDLE handle =
        mObjects.Put(object, [](TokObject& added, CK_ULONG issued) { added.SetHandle(issued); });
    RegisterObject(*object);
    return handle;
}

TokObjectPtr Slot::GetBlockObjectIfExists(CK_OBJECT_HANDLE handle) {
    return mObjects.GetIfExists(handle, [](TokObject& object) {
        if (object.IsDeleted()) return false;
        object.Lock();
        return true;
    });
}

Slot::LockObjInfo Slot::GetDelBlockObjectIfExists(CK_OBJECT_HANDLE handle) {
    LockObjInfo info;
    info.object = mObjects.GetIfExists(handle, [&info](TokObject& object) {
        object.Lock();
        info.wasDeleted = object.SetDeleted(true);
        return true;
    });
    return info;
}

void Slot::ReleaseObject(const TokObjectPtr& object) {
    if (!object) return;
    object->Unlock();
    if (object->IsDeleted() && mPendingCount.load() != 0) CheckPendingRemoves();
}

bool Slot::DeleteSlotMemoryObject(CK_OBJECT_HANDLE handle) {
    TokObjectPtr object = mObjects.GetIfExists(handle);
    const bool existed = mObjects.Delete(handle);
    if (existed && object) UnregisterObject(*object);
    return existed;
}

void Slot::DeleteAllSlotMemoryObjects() {
    mObjects.EnumerateToDelete([](TokObject&, bool& remove) {
        remove = true;
        return true;
    });
}

void Slot::DeleteAllSlotPrivateMemoryObjects() {
    mObjects.EnumerateToDelete([](TokObject& object, bool& remove) {
        if (TokStorageObject::IsTokStorageObject(&object)) {
            remove = TokStorageObject::AsTokStorageObject(&object)->IsPrivateObject();
        }
        return true;
    });
}

bool Slot::EnumerateObjects(const ObjectCallback& callback, ObjEnumerationData* data) {
    return mObjects.Enumerate([&](TokObject& object) { return callback(object, data); });
}

void Slot::DeleteTokenObject(CK_OBJECT_HANDLE handle, int lockCount, const std::string& reason) {
    LockObjInfo info = GetDelBlockObjectIfExists(handle);
    if (!info.object) return;
    if (info.object->IsLocked(static_cast<unsigned int>(lockCount) + 1)) {
        // Queued under its deleted mark, which hides it from lookups; the caller gives back
        // its own locks, and the last user's release completes the deletion.
        info.object->Unlock();
        AddPendingRemove(handle, reason);
        return;
    }
    // The kept copy goes first; the object leaves memory even when that fails.
    try {
        DeleteStoredObject(*info.object);
    } catch (...) {
        DeleteSlotMemoryObject(handle);
        if (TokenPtr token = GetToken()) token->Update(true);
        throw;
    }
    DeleteSlotMemoryObject(handle);
    if (TokenPtr token = GetToken()) token->Update(true);
}

void Slot::AddPendingRemove(CK_OBJECT_HANDLE handle, const std::string& reason) {
    vdk::MutexIntf::Guard guard(*mpMutexForPendings, "AddPendingRemove");
    for (ObjectRemoveDescriptor& entry : mPendingRemoves) {
        if (entry.handle == 0 && entry.reason.empty()) {
            entry.handle = handle;
            entry.reason = reason;
            ++mPendingCount;
            return;
        }
    }
    mPendingRemoves.push_back(ObjectRemoveDescriptor{handle, reason});
    ++mPendingCount;
}

size_t Slot::GetPendingRemoveCount() const { return mPendingCount.load(); }

void Slot::CheckPendingRemoves() {
    if (mPendingCount.load() == 0) return;
    std::vector<TokObjectPtr> removed;
    {
        vdk::MutexIntf::Guard guard(*mpMutexForPendings, "CheckPendingRemoves");
        bool allDone = true;
        for (ObjectRemoveDescriptor& entry : mPendingRemoves) {
            if (entry.handle == 0 && entry.reason.empty()) continue;
            // Queued objects carry the deleted mark; this lookup must still find them.
            TokObjectPtr object = mObjects.GetIfExists(entry.handle, [](TokObject& found) {
                found.Lock();
                return true;
            });
            if (!object) {
                entry = ObjectRemoveDescriptor();
                --mPendingCount;
                continue;
            }
            const bool inUse = object->IsLocked(1);
            object->Unlock();
            if (inUse) {
                allDone = false;
                continue;
            }
            entry = ObjectRemoveDescriptor();
            --mPendingCount;
            removed.push_back(object);
        }
        if (allDone) {
            mPendingRemoves.clear();
            mPendingCount.store(0);
        }
    }
    if (removed.empty()) return;
    // After the pending mutex is released: the kept copies and the token's update take the
    // device lock. The kept copy goes while the object is still registered, so that the
    // driver's check that the token still holds it sees it; the object leaves memory even when
    // that fails. Nobody waits for these deletions, so a failure stays here.
    for (const TokObjectPtr& object : removed) {
        try {
            DeleteStoredObject(*object);
        } catch (...) {
        }
        DeleteSlotMemoryObject(object->GetHandle());
    }
    if (TokenPtr token = GetToken()) token->Update(true);
}

bool Slot::EnumerateSessions(const SessionCallback& callback) { return RegistryOf(mpLibrary).EnumerateSessions(callback); }

TokenPtr Slot::GetPresentToken() {
    const CK_RV presence = TestTokenPresence();
    if (presence != CKR_OK) throw Exception(presence);
    return GetToken();
}

CK_SESSION_HANDLE Slot::OpenSession(bool readWrite, CK_VOID_PTR application, CK_NOTIFY notify) {
    TokenPtr token = GetToken();
    if (!token) throw Exception(CKR_TOKEN_NOT_PRESENT);
    if (token->GetSessionCount() >= token->GetMaxSessionsCount()) throw Exception(CKR_SESSION_COUNT);
    if (readWrite) {
        if (token->GetRwSessionCount() >= token->GetMaxRwSessionsCount()) throw Exception(CKR_SESSION_COUNT);
        if (token->IsReadOnly()) throw Exception(CKR_TOKEN_WRITE_PROTECTED);
    } else if (token->IsSOLogged()) {
        throw Exception(CKR_SESSION_READ_WRITE_SO_EXISTS);
    }
    const CK_SESSION_HANDLE handle = CreateRegisteredSession();
    try {
        SessionPtr session = RegistryOf(mpLibrary).GetSessionIfExists(handle);
        // Gone already: a removal of the token closed it, or it was never findable.
        if (!session) throw ObjNotFoundException(GetToken() != token ? CKR_DEVICE_REMOVED : CKR_GENERAL_ERROR);
        session->SetReadOnly(!readWrite);
        session->SetApplication(application, notify);
        token->OpenSessionNotify(readWrite);
        // A token dropped meanwhile may have closed its sessions before this one was
        // registered; such a session must not outlive it. Nor is a session opened on a card
        // another call has found gone (and may have answered "removed" for) since the presence
        // test: the reader is asked again now that the session is registered.
        if (GetToken() != token || !IsStillPresent(*token)) {
            if (RegistryOf(mpLibrary).UnregisterSession(handle)) {
                session->Close();
                token->CloseSessionNotify(readWrite);
            }
            throw Exception(CKR_DEVICE_REMOVED);
        }
    } catch (...) {
        // A session the caller never learns of must not stay registered.
        try {
            RegistryOf(mpLibrary).UnregisterSession(handle);
        } catch (...) {
        }
        throw;
    }
    return handle;
}

bool Slot::IsStillPresent(Token& token) {
    try {
        return token.IsTokenPresent();
    } catch (const Exception&) {
        return false;
    }
}

void Slot::CloseAllSessions() {
    // Sessions are closed outside the registry lock: a session's own calls take the registry
    // lock while they hold the session, so closing under it would invert the order. Nor does
    // the close wait for a call another thread runs in a session: that thread may be the one
    // that retires the token, or hold locks taken after the session's (support/lock_order.h).
    std::vector<SessionPtr> mine;
    for (const SessionPtr& session : RegistryOf(mpLibrary).GetAllSessions()) {
        if (!session->IsClosed() && session->GetSlotID() == mSlotID) mine.push_back(session);
    }
    for (const SessionPtr& session : mine) {
        // Only the caller that unregisters a session closes it and tells its token.
        if (!RegistryOf(mpLibrary).UnregisterSession(session->GetHandle())) continue;
        TokenPtr owner = session->LockToken();
        session->CloseWithoutWaiting();
        if (owner) owner->CloseSessionNotify(!session->IsReadOnly());
    }
}

bool Slot::IsATRAcceptable(const tru::Buffer& atr, const unsigned char* pattern, const unsigned char* mask,
                           unsigned long length) {
    if (BufferSize(atr) != length) return false;
    const unsigned char* bytes = BufferBytes(atr);
    for (unsigned long i = 0; i < length; ++i) {
        if ((mask[i] & bytes[i]) != pattern[i]) return false;
    }
    return true;
}

CK_RV SlotFactory::CheckAndInitTokenNoEx(SlotFrame& slot) {
    try {
        return CheckAndInitToken(slot);
    } catch (const Exception& e) {
        return e.GetCode() == CKR_OK ? CKR_GENERAL_ERROR : e.GetCode();
    }
}

SlotPtr SlotFactory::GetSlotByIDNoEx(CK_SLOT_ID slotID) {
    try {
        return GetSlotByID(slotID);
    } catch (const Exception&) {
        return SlotPtr();
    }
}

}  // namespace zrck
