// Object side of a session: creation as a transaction, copy, destruction, attribute reads and
// changes, and the session's own objects.
#include <algorithm>

#include "cryptoki/library.h"
#include "cryptoki/session_frame.h"
#include "cryptoki/slot.h"
#include "cryptoki/token.h"
#include "cryptoki/unblock_guard.h"
#include "cryptoki/user.h"
#include "objects/tok_object.h"
#include "support/os_services.h"

namespace zrck {

namespace {

// A destruction waits for other users in these steps, at most this many.
const int DELETE_WAIT_STEP_MS = 250;
const int DELETE_WAIT_STEPS = 60;

TokStorageObject* StorageOf(TokObject& object) {
    return TokStorageObject::IsTokStorageObject(&object) ? TokStorageObject::AsTokStorageObject(&object) : nullptr;
}

bool IsTrue(const AttributeTemplate& attributes, CK_ATTRIBUTE_TYPE type) {
    const Attribute* entry = attributes.GetAttributeIfExists(type);
    return entry != nullptr && entry->GetAsBool();
}

}  // namespace

SessionFrame::IncubatorGuard::IncubatorGuard(SessionFrame& frame) : mFrame(frame) { mFrame.ClearIncubator(); }

SessionFrame::IncubatorGuard::~IncubatorGuard() {
    if (mCommitted) return;
    try {
        mFrame.FixIncubator();
    } catch (...) {
        // The failure that started the rollback is the one the caller must see.
    }
}

void SessionFrame::IncubatorGuard::Clear() {
    mFrame.ClearIncubator();
    mCommitted = true;
}

bool SessionFrame::IsUserLogged(Token* token) const { return token != nullptr && token->IsUserLogged(); }

bool SessionFrame::VerifyTokenAttr(const AttributeTemplate& attributes) {
    const bool tokenObject = IsTrue(attributes, CKA_TOKEN);
    if (tokenObject) {
        if (IsReadOnly()) throw Exception(CKR_SESSION_READ_ONLY);
        if (!CouldSeePrivateObjects()) throw Exception(CKR_USER_NOT_LOGGED_IN);
        return true;
    }
    if (IsTrue(attributes, CKA_PRIVATE) && !CouldSeePrivateObjects()) throw Exception(CKR_USER_NOT_LOGGED_IN);
    return false;
}

bool SessionFrame::VerifyObjUpdateAllowed(TokObject& object, const AttributeTemplate&) {
    TokStorageObject* storage = StorageOf(object);
    if (storage == nullptr) return true;
    const bool seesPrivate = CouldSeePrivateObjects();
    if (storage->IsPrivateObject() && !seesPrivate) throw Exception(CKR_OBJECT_HANDLE_INVALID);
    if (storage->IsTokenObject()) {
        if (IsReadOnly()) throw Exception(CKR_SESSION_READ_ONLY);
        if (!seesPrivate) throw Exception(CKR_USER_NOT_LOGGED_IN);
    }
    if (!storage->IsModifiable()) throw Exception(CKR_ATTRIBUTE_READ_ONLY);
    return true;
}

void SessionFrame::PutToIncubator(const TokObjectPtr& object) {
    if (!object) return;
    if (std::find(mIncubator.begin(), mIncubator.end(), object) != mIncubator.end()) return;
    mIncubator.push_back(object);
}

void SessionFrame::ClearIncubator() {
    InSession([this](Token* token) { ClearIncubator(token); });
}

void SessionFrame::FixIncubator() {
    try {
        InSession([this](Token* token) { FixIncubator(token); });
    } catch (...) {
        // The token is gone: its slot dropped the objects with it.
        mIncubator.clear();
    }
}

void SessionFrame::ClearIncubator(Token* token) {
    std::list<TokObjectPtr> objects;
    objects.swap(mIncubator);
    for (const TokObjectPtr& object : objects) {
        TokStorageObject* storage = StorageOf(*object);
        if (storage != nullptr && storage->GetLifeTime() == TokObject::LIFETIME_TOKEN && object->GetHandle() != 0) {
            token->GetSlot()->RegisterObject(*object);
        }
    }
}

void SessionFrame::FixIncubator(Token* token) {
    std::list<TokObjectPtr> objects;
    objects.swap(mIncubator);
    Slot* slot = token->GetSlot();
    for (const TokObjectPtr& object : objects) {
        const CK_OBJECT_HANDLE handle = object->GetHandle();
        if (handle == 0) continue;
        try {
            DeleteTokObject(token, handle, "", nullptr);
        } catch (...) {
            try {
                slot->UnregisterObject(*object);
                slot->DeleteSlotMemoryObject(handle);
            } catch (...) {
                // Nothing more can be done for this object; the others still go.
            }
        }
    }
}

TokObjectPtr SessionFrame::CreateObject(AttributeTemplate& attributes, bool initialize) {
    return InSession([&](Token* token) { return CreateObject(token, attributes, initialize); });
}

TokObjectPtr SessionFrame::CreateObject(Token* token, AttributeTemplate& attributes, bool initialize) {
    token->GetSlot()->VerifyTemplateArgument(attributes);
    CK_OBJECT_CLASS objectClass = CKO_DATA;
    if (const Attribute* classEntry = attributes.GetAttributeIfExists(CKA_CLASS)) {
        if (classEntry->GetLength() != sizeof(CK_ULONG)) throw Exception(CKR_ATTRIBUTE_VALUE_INVALID);
        objectClass = classEntry->GetAsULong();
    }
    attributes.AddDefaultAttributes(objectClass);
    VerifyTokenAttr(attributes);
    TokObjectPtr object(token->GetClassFactory()->Generate(attributes));
    if (!object) throw Exception(CKR_TEMPLATE_INCOMPLETE);
    PutToIncubator(object);
    object->SetTokenPtr(token);
    if (TokStorageObject* storage = StorageOf(*object)) storage->InitDefaults();
    attributes.ResetProcessed();
    if (initialize) object->InitializeWithAttributes(token, attributes);
    return object;
}

CK_OBJECT_HANDLE SessionFrame::PlaceNewObject(Token* token, const TokObjectPtr& object, AttributeTemplate* written,
                                              const char* readOnlyText, const char* privateText) {
    PutToIncubator(object);
    bool tokenObject = false;
    if (TokStorageObject* storage = StorageOf(*object)) {
        tokenObject = storage->IsTokenObject();
        if (tokenObject && IsReadOnly()) throw Exception(CKR_SESSION_READ_ONLY, readOnlyText);
        if (storage->IsPrivateObject() && !IsUserLogged(token)) throw Exception(CKR_USER_NOT_LOGGED_IN, privateText);
    }
    const CK_OBJECT_HANDLE handle = token->GetSlot()->AddObject(object);
    if (tokenObject) {
        token->SetDirty(object.get(), written);
    } else {
        AddSessionObject(*object);
    }
    return handle;
}

CK_OBJECT_HANDLE SessionFrame::CreateTokObject(AttributeTemplate& attributes) {
    return InSession([&](Token* token) {
        VerifyTokenAttr(attributes);
        TokObjectPtr object = CreateObject(token, attributes, true);
        return PlaceNewObject(token, object, &attributes, "", "");
    });
}

TokObjectPtr SessionFrame::CopyObject(Token* token, TokObject& source, AttributeTemplate& attributes) {
    token->GetSlot()->VerifyTemplateArgument(attributes);
    if (attributes.GetAttributeIfExists(CKA_CLASS) != nullptr) throw Exception(CKR_ATTRIBUTE_TYPE_INVALID);
    VerifyTokenAttr(attributes);
    // A copy may give up the right to change or copy it, never gain one.
    TokStorageObject* sourceStorage = TokStorageObject::AsTokStorageObject(&source);
    if ((IsTrue(attributes, CKA_MODIFIABLE) && !sourceStorage->IsModifiable()) ||
        (IsTrue(attributes, CKA_COPYABLE) && !sourceStorage->IsCopyable())) {
        throw Exception(CKR_ATTRIBUTE_READ_ONLY);
    }
    TokObjectPtr copy(source.GenerateCopy());
    if (!copy) throw Exception(CKR_TEMPLATE_INCOMPLETE);
    PutToIncubator(copy);
    copy->SetTokenPtr(token);
    TokStorageObject* storage = TokStorageObject::AsTokStorageObject(copy.get());
    storage->SetCopyMode(TokStorageObject::COPY_MODE);
    attributes.ResetProcessed();
    CK_RV rv = CKR_OK;
    try {
        rv = copy->UpdateAttributes(attributes);
    } catch (...) {
        storage->SetCopyMode(0);
        throw;
    }
    storage->SetCopyMode(0);
    if (rv != CKR_OK) throw Exception(rv);
    return copy;
}

CK_OBJECT_HANDLE SessionFrame::CopyTokObject(CK_OBJECT_HANDLE sourceHandle, AttributeTemplate& attributes) {
    return InSession([&](Token* token) {
        VerifyTokenAttr(attributes);
        Slot* slot = token->GetSlot();
        TokObjectPtr source = slot->GetBlockObjectIfExists(sourceHandle);
        if (!source) throw Exception(CKR_OBJECT_HANDLE_INVALID);
        UnblockGuard guard(*slot, source);
        TokStorageObject* storage = StorageOf(*source);
        if (storage == nullptr) throw Exception(CKR_OBJECT_HANDLE_INVALID);
        const bool userLogged = IsUserLogged(token);
        if (IsReadOnly() && storage->IsTokenObject() && storage->IsPrivateObject()) {
            throw Exception(CKR_SESSION_READ_ONLY);
        }
        if (storage->IsPrivateObject() && !userLogged) throw Exception(CKR_USER_NOT_LOGGED_IN);
        if (IsTrue(attributes, CKA_TOKEN) && IsReadOnly()) throw Exception(CKR_SESSION_READ_ONLY);
        if (IsTrue(attributes, CKA_PRIVATE) && !userLogged) throw Exception(CKR_USER_NOT_LOGGED_IN);
        if (!storage->IsCopyable()) throw Exception(CKR_COPY_PROHIBITED);
        TokObjectPtr copy;
        token->UseObject(*source, CKR_OBJECT_HANDLE_INVALID, Token::ObjectUse::Now, [&] {
            copy = CopyObject(token, *source, attributes);
            return true;
        });
        return PlaceNewObject(token, copy, nullptr, "", "");
    });
}

void SessionFrame::DeleteTokObject(CK_OBJECT_HANDLE handle, const std::string& reason, const StorageRunner& storage) {
    InSession([&](Token* token) { DeleteTokObject(token, handle, reason, storage); });
}

void SessionFrame::DeleteTokObject(Token* token, CK_OBJECT_HANDLE handle, const std::string& reason,
                                   const StorageRunner& storage) {
    Slot* slot = token->GetSlot();
    Slot::LockObjInfo info = slot->GetDelBlockObjectIfExists(handle);
    if (!info.object) throw Exception(CKR_OBJECT_HANDLE_INVALID);
    UnblockGuard guard(*slot, info.object, !info.wasDeleted);
    if (info.wasDeleted) throw Exception(CKR_OBJECT_HANDLE_INVALID);
    TokObject& object = *info.object;
    TokStorageObject* stored = StorageOf(object);
    if (stored == nullptr) throw Exception(CKR_OBJECT_HANDLE_INVALID);
    if (stored->IsTokenObject() && IsReadOnly()) throw Exception(CKR_SESSION_READ_ONLY);
    if (stored->IsPrivateObject() && !IsUserLogged(token)) throw Exception(CKR_USER_NOT_LOGGED_IN);
    auto deletable = [stored] {
        const TokObject::ObjectLifeTimeEnum lifeTime = stored->GetLifeTime();
        return lifeTime == TokObject::LIFETIME_SESSION || lifeTime == TokObject::LIFETIME_TOKEN;
    };
    if (!deletable()) throw Exception(CKR_OBJECT_HANDLE_INVALID);
    // Hidden by its mark, the object waits for its other users; the device is not locked
    // meanwhile (the storage runner takes that lock for the steps below only).
    for (int step = 0; object.IsLocked(1); ++step) {
        if (step == DELETE_WAIT_STEPS) throw Exception(CKR_CANT_LOCK);
        vdk::SleepMs(DELETE_WAIT_STEP_MS);
    }
    // The token's check that the handle still names this object runs in the deletion's own
    // token transaction (the slot's DeleteStoredObject): a handle whose object another process
    // destroyed never deletes what took its place. One that a listing found gone meanwhile
    // has no lifetime left.
    auto remove = [&] {
        if (!deletable()) throw Exception(CKR_OBJECT_HANDLE_INVALID);
        if (stored->IsTokenObject()) {
            token->SetDirty(nullptr, nullptr);
        } else {
            RemoveSessionObject(handle);
            const CK_SESSION_HANDLE owner = object.GetOwnerSession();
            if (owner != 0 && owner != GetHandle()) {
                auto* library = dynamic_cast<Library*>(slot->GetLibrary());
                User* user = library != nullptr ? library->GetUserIfExists() : nullptr;
                if (user == nullptr) throw Exception(CKR_CRYPTOKI_NOT_INITIALIZED);
                // Held by shared ownership while its set changes, even if it is closed meanwhile.
                if (SessionPtr ownerSession = user->GetSessionIfExists(owner)) {
                    ownerSession->RemoveSessionObject(handle);
                }
            }
        }
        // The slot unregisters the object when it leaves memory: a deletion that waits for
        // the object's users keeps its storage ID taken until then.
        slot->DeleteTokenObject(handle, 1, reason);
    };
    if (storage) {
        storage(remove);
    } else {
        remove();
    }
    guard.KeepDeleted();
}

CK_RV SessionFrame::GetAttributes(CK_OBJECT_HANDLE handle, AttributeTemplate& attributes) {
    return InSession([&](Token* token) -> CK_RV {
        Slot* slot = token->GetSlot();
        slot->VerifyTemplateArgument(attributes);
        TokObjectPtr object = slot->GetBlockObjectIfExists(handle);
        if (!object) return CKR_OBJECT_HANDLE_INVALID;
        UnblockGuard guard(*slot, object);
        TokStorageObject* storage = StorageOf(*object);
        if (storage != nullptr && storage->IsPrivateObject() && !IsUserLogged(token)) return CKR_OBJECT_HANDLE_INVALID;
        CK_RV rv = CKR_OK;
        token->UseObject(*object, CKR_OBJECT_HANDLE_INVALID, Token::ObjectUse::Now, [&] {
            rv = object->GetAttributes(attributes);
            return true;
        });
        return rv;
    });
}

CK_RV SessionFrame::UpdateAttributes(CK_OBJECT_HANDLE handle, AttributeTemplate& attributes) {
    return InSession([&](Token* token) -> CK_RV {
        Slot* slot = token->GetSlot();
        slot->VerifyTemplateArgument(attributes);
        TokObjectPtr object = slot->GetBlockObjectIfExists(handle);
        if (!object) throw Exception(CKR_OBJECT_HANDLE_INVALID);
        UnblockGuard guard(*slot, object);
        VerifyObjUpdateAllowed(*object, attributes);
        VerifyTokenAttr(attributes);
        CK_RV rv = CKR_OK;
        token->UseObject(*object, CKR_OBJECT_HANDLE_INVALID, Token::ObjectUse::Now, [&] {
            rv = object->UpdateAttributes(attributes);
            TokStorageObject* storage = StorageOf(*object);
            if (rv == CKR_OK && storage != nullptr && storage->IsTokenObject()) token->SetDirty(object.get(), &attributes);
            return true;
        });
        return rv;
    });
}

CK_ULONG SessionFrame::GetObjectSize(CK_OBJECT_HANDLE handle) {
    return InSession([&](Token* token) {
        Slot* slot = token->GetSlot();
        TokObjectPtr object = slot->GetBlockObjectIfExists(handle);
        if (!object) throw Exception(CKR_OBJECT_HANDLE_INVALID);
        UnblockGuard guard(*slot, object);
        TokStorageObject* storage = StorageOf(*object);
        // A private object the session cannot see does not exist for it, as for its attributes.
        if (storage == nullptr || (storage->IsPrivateObject() && !IsUserLogged(token))) {
            throw Exception(CKR_OBJECT_HANDLE_INVALID);
        }
        CK_ULONG size = 0;
        token->UseObject(*object, CKR_OBJECT_HANDLE_INVALID, Token::ObjectUse::Now, [&] {
            size = storage->GetObjectSize();
            return true;
        });
        return size;
    });
}

void SessionFrame::AddSessionObject(TokObject& object) {
    {
        vdk::MutexIntf::Guard guard(*mpMutexForSessionObjects, "AddSessionObject");
        mSessionObjects.insert(object.GetHandle());
    }
    object.SetOwnerSession(GetHandle());
}

void SessionFrame::RemoveSessionObject(CK_OBJECT_HANDLE handle) {
    vdk::MutexIntf::Guard guard(*mpMutexForSessionObjects, "RemoveSessionObject");
    mSessionObjects.erase(handle);
}

}  // namespace zrck
