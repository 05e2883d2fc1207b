// Slots: the framework's picture of one reader, with its token, its object registry, the
// deferred deletions and the session rules of C_OpenSession; and the abstract slot source.
#ifndef ZR_CRYPTOKI_SLOT_H
#define ZR_CRYPTOKI_SLOT_H

#include <atomic>
#include <functional>
#include <string>
#include <vector>

#include "ckbase/attribute.h"
#include "ckbase/base_access.h"
#include "cryptoki/framework_types.h"
#include "cryptoki/object_holder.h"
#include "objects/tok_object.h"

namespace zrck {

class SlotFrame {
public:
    SlotFrame(LibraryFrame* library, CK_SLOT_ID slotID) : mSlotID(slotID), mpLibrary(library) {}
    virtual ~SlotFrame() = default;

    virtual bool IsInitialized() = 0;
    virtual CK_RV InitializeToken() = 0;
    virtual void PostInit() = 0;
    virtual bool IsTokenPresent() = 0;
    virtual bool IsRemovable() = 0;
    virtual bool IsHardwareSlot() = 0;
    // Texts for CK_SLOT_INFO; copied blank-padded, so they may be empty but never absent.
    virtual std::string GetDescription() = 0;
    virtual std::string GetManufacturerId() = 0;
    virtual std::string GetHWSerial() = 0;
    virtual CK_VERSION GetHardwareVersion() = 0;
    virtual CK_VERSION GetFirmwareVersion() = 0;
    // 0 when a token is present and usable, else the code to answer.
    virtual CK_RV TestTokenPresence() = 0;
    virtual void VerifyStringArgument(const tru::Buffer& argument) = 0;
    virtual void VerifyTemplateArgument(const AttributeTemplate& attributes) = 0;
    // The mutex guarding object use counts, or null.
    virtual vdk::MutexIntf* GetSlotMutex() const = 0;
    virtual bool IsSlotEventSet() const = 0;
    virtual void SetSlotEvent() = 0;
    virtual void ClearSlotEvent() = 0;
    virtual CK_SESSION_HANDLE CreateRegisteredSession() = 0;
    // A session no registry holds; the caller owns it.
    virtual SessionFrame* CreateUnregisteredSession() = 0;
    virtual void SetSlotID(CK_SLOT_ID slotID) { mSlotID = slotID; }

    CK_SLOT_ID GetSlotID() const { return mSlotID; }
    LibraryFrame* GetLibrary() const { return mpLibrary; }

protected:
    CK_SLOT_ID mSlotID;
    LibraryFrame* mpLibrary;
};

class Slot : public SlotFrame, public std::enable_shared_from_this<Slot> {
public:
    struct ObjectRemoveDescriptor {
        CK_OBJECT_HANDLE handle = 0;
        std::string reason;
    };

    struct LockObjInfo {
        TokObjectPtr object;
        bool wasDeleted = false;
    };

    // Prefilter of an object enumeration, read by drivers that load token objects lazily.
    struct SearchAccelerator {
        bool tokenObjectsWanted = true;
        int visibility = 3;  // 1 public only, 2 private only, 3 both
        bool classGiven = false;
        CK_OBJECT_CLASS objectClass = 0;
    };

    struct ObjEnumerationData {
        SearchAccelerator* accelerator = nullptr;
        virtual ~ObjEnumerationData() = default;
    };

    using ObjectCallback = std::function<bool(TokObject&, ObjEnumerationData*)>;
    using SessionCallback = std::function<bool(SessionFrame&)>;

    Slot(LibraryFrame* library, CK_SLOT_ID slotID);
    ~Slot() override;

    bool IsSlotEventSet() const override { return mSlotEvent.load(); }
    void SetSlotEvent() override;
    void ClearSlotEvent() override { mSlotEvent.store(false); }

    virtual void DetachToken() = 0;
    virtual CK_SESSION_HANDLE OpenSession(bool readWrite, CK_VOID_PTR application, CK_NOTIFY notify);
    virtual SessionFrame* OpenInternalSession() { return CreateUnregisteredSession(); }
    virtual void CloseAllSessions();
    // The token after a successful presence test; a failed test is thrown as its code.
    virtual TokenPtr GetPresentToken();
    // lockCount: the locks the caller holds on the object (it releases them itself).
    virtual void DeleteTokenObject(CK_OBJECT_HANDLE handle, int lockCount, const std::string& reason);
    // Deletes the copy of an object kept outside memory (on the device); called before the
    // object leaves the registry, and for a queued deletion once its last user let go.
    virtual void DeleteStoredObject(TokObject&) {}
    virtual bool EnumerateObjects(const ObjectCallback& callback, ObjEnumerationData* data);
    virtual void RegisterObject(TokObject& object) = 0;
    virtual void UnregisterObject(TokObject& object) = 0;

    // The token in the slot, or empty; safe against a concurrent attach or detach.
    TokenPtr GetToken() const { return std::atomic_load(&mToken); }

    CK_OBJECT_HANDLE AddObject(const TokObjectPtr& object);
    // The object with its use count raised, or empty (absent or being deleted).
    TokObjectPtr GetBlockObjectIfExists(CK_OBJECT_HANDLE handle);
    // Locks and marks the object deleted; the record tells whether it was marked before.
    LockObjInfo GetDelBlockObjectIfExists(CK_OBJECT_HANDLE handle);
    // Lowers a use count taken by a lookup and completes a deletion waiting for it.
    void ReleaseObject(const TokObjectPtr& object);
    bool DeleteSlotMemoryObject(CK_OBJECT_HANDLE handle);
    void DeleteAllSlotMemoryObjects();
    void DeleteAllSlotPrivateMemoryObjects();
    CK_ULONG GetObjectCount() const { return mObjects.GetCount(); }

    void AddPendingRemove(CK_OBJECT_HANDLE handle, const std::string& reason);
    void CheckPendingRemoves();
    size_t GetPendingRemoveCount() const;

    bool EnumerateSessions(const SessionCallback& callback);

    static bool IsATRAcceptable(const tru::Buffer& atr, const unsigned char* pattern, const unsigned char* mask,
                                unsigned long length);

protected:
    // For the driver: attach or drop the slot's token.
    void SetToken(const TokenPtr& token);
    // Drops the token only if it is still the given one; true for the one caller that did.
    bool DropToken(TokenPtr expected);

    std::atomic<bool> mSlotEvent{false};
    ObjectHolderSynchronized<TokObject> mObjects;
    std::vector<ObjectRemoveDescriptor> mPendingRemoves;
    std::atomic<size_t> mPendingCount{0};
    MutexPtr mpMutexForPendings;
    bool mTokenAttached = false;

private:
    static bool IsStillPresent(Token& token);

    TokenPtr mToken;
};

class SlotFactory {
public:
    virtual ~SlotFactory() = default;
    virtual void Initialize() = 0;
    virtual void RefreshSlots() = 0;
    virtual CK_ULONG GetSlotCount() = 0;
    // The code of a failed preparation, CKR_GENERAL_ERROR for an exception without one.
    virtual CK_RV CheckAndInitTokenNoEx(SlotFrame& slot);
    virtual CK_RV CheckAndInitToken(SlotFrame& slot) = 0;
    virtual CK_ULONG GetSlotTokenPresentCount() = 0;
    virtual std::vector<CK_SLOT_ID> GetSlotList() = 0;
    // Never empty; an unknown ID throws ObjNotFoundException CKR_SLOT_ID_INVALID.
    virtual SlotPtr GetSlotByID(CK_SLOT_ID slotID) = 0;
    virtual SlotPtr GetSlotByIDNoEx(CK_SLOT_ID slotID);
    virtual SlotPtr FindSlotByID(CK_SLOT_ID slotID) = 0;
};

}  // namespace zrck

#endif  // ZR_CRYPTOKI_SLOT_H
