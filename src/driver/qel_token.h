#pragma once

#include <atomic>
#include <map>
#include <memory>
#include <vector>

#include "cryptoki/slot.h"
#include "cryptoki/token.h"
#include "driver/cache_clock.h"
#include "driver/removal_log.h"
#include "driver/qel_params_storage.h"
#include "driver/storage_types.h"
#include "driver/token_storage.h"
#include "driver/token_storage_host.h"

namespace zrck {
class TokDomainParams;
}

namespace qel {

class ObjectClassFactory;
class Slot;
class TokenStoredObject;

// The token of one slot: storage set-up, login and PINs, token and mechanism information, the
// mechanism table, the token's fixed objects and the objects kept in its files.
//
// Locks: support/lock_order.h. The object refresh reads the token under the storage's busy
// guard and matches the slot's registry after it.
class Token : public zrck::Token {
public:
    static const CK_ULONG MAX_SESSIONS = 100;
    static const CK_ULONG MAX_RW_SESSIONS = 100;
    static const CK_ULONG kMinPinLength = 6;
    static const CK_ULONG kMaxPinLength = 80;

    explicit Token(Slot* slot);
    ~Token() override;

    // Storage set-up of a reader slot: the code of the presence check, 0 when usable.
    void InitializeStorage() override;
    // The storage of the token's reader; call before the token is published to other threads.
    void CreateReaderStorage();
    CK_RV InitializeReaderStorage();
    // Set-up on an application's card handle; failures are thrown.
    void InitializeStorage(SCARDHANDLE cardHandle);
    void ReinitializeStorage(SCARDHANDLE cardHandle);

    void PostInit() override;
    bool IsObjectsInitialized() override;
    bool IsBusy() const override;
    bool IsTokenPresent() override;
    void Update(bool changed) override;
    void Refresh() override {}
    void SetDirty(zrck::TokObject* object, zrck::AttributeTemplate* attributes) override;
    void CleanDirty() override {}
    bool IsTokenInitialized() override;
    bool IsUserPinInitialized() override;
    CK_ULONG GetMinPasswordLen() const override { return kMinPinLength; }
    CK_ULONG GetMaxPasswordLen() const override { return kMaxPinLength; }
    void InitializeSO(const tru::Buffer& soPin, CK_UTF8CHAR_PTR label) override;
    bool IsReadOnly() override { return false; }
    void FillTokenInfo(CK_TOKEN_INFO_PTR info) override;
    CK_ULONG GetMechanismCount() override;
    bool IsMechanismSupported(CK_MECHANISM_TYPE type) override;
    void FillMechanismList(CK_MECHANISM_TYPE_PTR list, CK_ULONG length) override;
    void FillMechanismInfo(CK_MECHANISM_TYPE type, CK_MECHANISM_INFO_PTR info) override;
    CK_ULONG GetDeviceError() override;
    void OpenSessionNotify(bool readWrite) override;
    void CloseSessionNotify(bool readWrite) override;
    CK_ULONG GetMaxSessionsCount() override { return MAX_SESSIONS; }
    CK_ULONG GetMaxRwSessionsCount() override { return MAX_RW_SESSIONS; }
    bool IsLogged() override;
    bool IsUserLogged() override { return IsUserSession(); }
    void VerifyUserPassword(const tru::Buffer& pin) override;
    void Login(CK_USER_TYPE userType, const tru::Buffer& pin) override;
    void Logout() override;
    void InitPin(const tru::Buffer& pin) override;
    void ChangePin(const tru::Buffer& oldPin, const tru::Buffer& newPin) override;
    zrck::TokMechanism* GetMechanismIfSupported(CK_MECHANISM_TYPE type) override;
    std::shared_ptr<zrck::TokMechanism> HoldMechanismIfSupported(CK_MECHANISM_TYPE type) override;
    void SeedUserRandom(const tru::Buffer& seed) override;
    void GenerateUserRandom(tru::Buffer& output) override;
    bool IsUserSession() override;
    void SetUserPinInitialized(bool) override {}
    void DestroyAllObjects() override;
    // The check reads the token data revision once, in the transaction body runs in; a revision
    // this process's listing of an object's index has not seen lists the indexes again, which
    // drops an object another process destroyed or replaced. An object a listing dropped before
    // has left the token, known at no command.
    void UseObjects(const std::vector<UsedObject>& objects, ObjectUse when, const std::function<bool()>& body) override;

    // What the storage asks of its token.
    int GetBrand() const;
    void OnTokenConnected();
    void OnSlotEvent();

    // Sends the configured "ResponseDelay" to the token when it is positive.
    void SetupResponseDelay();
    EParamSet GetDefaultUAParamset();
    CK_ULONG GetMinRSAKeySize();
    CK_ULONG GetMaxRSAKeySize() const { return 2048; }
    // The storage of the token an object belongs to; CKR_FUNCTION_FAILED for a null token.
    static TokenStorage* ExtractStorage(zrck::ObjectToken* token);
    TokenStorage* GetStorage() const { return storage_.get(); }
    ParamsStorage& GetParamsStorage() { return params_; }
    Slot* GetDriverSlot() const { return slot_; }

    // Object side (qel_token_objects.cpp).
    void CreateMechanisms();
    void AddMechanism(zrck::TokMechanism* mechanism);
    void ClearMechanisms();
    int AddTemporaryPreliminaryObjects();
    std::shared_ptr<zrck::TokObject> ReadObject(const storage::IndexFileRecord& record);
    void RefreshObjects(zrck::Slot::ObjEnumerationData* data);
    // Attribute-file records as CK attributes of the class: the flags word expands into its
    // Boolean attributes. With a target object, a cleared flag the object answers is given as
    // false, so that stored false values never fall back to a class default.
    static void ConvertAttributesFromToken(CK_OBJECT_CLASS objectClass,
                                           const std::vector<storage::AttributeBuff>& records,
                                           zrck::AttributeTemplate& attributes,
                                           const zrck::TokObject* target = nullptr);
    // Deletes the object's files when the token still holds this object (checked in the same
    // token transaction, see UseObject); CKR_OBJECT_HANDLE_INVALID, deleting nothing, otherwise.
    void DeleteObject(TokenStoredObject* stored);
    bool IsHWObjectExists(CK_HW_FEATURE_TYPE featureType);
    bool IsDMObjectExists(CK_OBJECT_CLASS objectClass, CK_KEY_TYPE keyType, const char* label);
    void SetInfiniteOptions(zrck::TokDomainParams* params);

private:
    // The token as its storage's host (the framework's GetExternalRandom has another form).
    class StorageHost : public TokenStorageHost {
    public:
        explicit StorageHost(Token& token) : token_(token) {}
        int GetBrand() const override { return token_.GetBrand(); }
        void GetExternalRandom(tru::Buffer& out) override;
        void OnTokenConnected() override { token_.OnTokenConnected(); }
        void OnSlotEvent() override { token_.OnSlotEvent(); }

    private:
        Token& token_;
    };

    void CheckPinLength(const tru::Buffer& pin) const;
    // The token information block by the 60-second rule.
    _TokenInfo_Struct ReadInfoBlock();
    bool IsStorageUsable() const;
    // CKR_DEVICE_REMOVED without a connected token, CKR_TOKEN_NOT_RECOGNIZED for a foreign card.
    void RequireUsableStorage() const;
    void ResetListing();
    void AwaitSetUp(bool present);

    Slot* slot_;
    StorageHost host_{*this};
    std::unique_ptr<TokenStorage> storage_;
    // Type -> handle of the mechanism object in the slot; read by any thread while a set-up
    // fills it, so only under its own (leaf) lock.
    std::map<CK_MECHANISM_TYPE, CK_OBJECT_HANDLE> mechanisms_;
    mutable vdk::RankedMutex mechanismsMutex_{vdk::LockRank::kLeaf, "MechanismTable"};
    // The mechanism object's handle, 0 when the type is not in the table.
    CK_OBJECT_HANDLE MechanismHandle(CK_MECHANISM_TYPE type) const;
    uint32_t publicListRevision_ = 0;
    uint32_t privateListRevision_ = 0;
    // Whether each index was listed since the last reset; an empty index counts as listed, so
    // an unchanged token costs a search the revision read alone. Reset outside the storage lock.
    std::atomic<bool> publicListed_{false};
    std::atomic<bool> privateListed_{false};
    ParamsStorage params_;
    std::unique_ptr<ObjectClassFactory> classFactory_;
    // Set by PostInit, cleared when the objects are dropped: the slot sets the token up again
    // only when this is clear, also for a token whose mechanism table is empty.
    std::atomic<bool> objectsInitialized_{false};
    CacheClock::Stamp loginQueryTime_{};
    RemovalLog removals_;
};

}  // namespace qel
