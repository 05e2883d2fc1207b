// Test doubles of the token driver: a library, slot factory, slots and tokens that keep
// everything in memory, so the framework runs end to end behind the real C_ functions.
#ifndef ZR_TESTS_FAKE_FRAMEWORK_H
#define ZR_TESTS_FAKE_FRAMEWORK_H

#include <atomic>
#include <mutex>
#include <string>
#include <vector>

#include "cryptoki/library.h"
#include "cryptoki/session.h"
#include "cryptoki/slot.h"
#include "cryptoki/token.h"
#include "fake_module_control.h"
#include "toy_mechanisms.h"

namespace zrtest {

class FakeSlot;

class FakeToken : public zrck::Token {
public:
    // More object classes and mechanisms for every new token (the fake-token module installs
    // the toys); none by default.
    using Extension = void (*)(zrck::Token&, std::vector<std::shared_ptr<zrck::TokMechanism>>&);
    static std::atomic<Extension>& TokenExtension();

    FakeToken(FakeSlot* slot, const ZrFakeConfig& config);

    void InitializeStorage() override {}
    void PostInit() override {}
    bool IsObjectsInitialized() override { return true; }
    bool IsBusy() const override { return false; }
    bool IsTokenPresent() override;
    void Update(bool) override { ++mUpdates; }
    bool IsOperationStateSaveable() override { return ToyStateSaveable().load(); }
    void EnvelopeSessionState(const tru::Buffer& state, tru::BufferDynamic& envelope) override {
        if (!IsOperationStateSaveable()) return Token::EnvelopeSessionState(state, envelope);
        ToyEnvelope(state, envelope);
    }
    CK_ULONG EstimateSessionStateSize(const tru::Buffer& state) override {
        if (!IsOperationStateSaveable()) return Token::EstimateSessionStateSize(state);
        return state.Size() + 32;
    }
    void UnwrapSessionStateEnvelope(const tru::Buffer& envelope, tru::BufferDynamic& state) override {
        if (!IsOperationStateSaveable()) return Token::UnwrapSessionStateEnvelope(envelope, state);
        ToyUnwrapEnvelope(envelope, state);
    }
    void Refresh() override {}
    void SetDirty(zrck::TokObject* object, zrck::AttributeTemplate*) override { RefuseNoRoom(object); }
    bool IsTokenInitialized() override { return true; }
    bool IsUserPinInitialized() override { return mUserPinInitialized.load(); }
    CK_ULONG GetMinPasswordLen() const override { return 6; }
    CK_ULONG GetMaxPasswordLen() const override { return 80; }
    void InitializeSO(const tru::Buffer& soPin, CK_UTF8CHAR_PTR label) override;
    bool IsReadOnly() override { return mConfig.readOnlyToken != CK_FALSE; }
    void FillTokenInfo(CK_TOKEN_INFO_PTR info) override;
    CK_ULONG GetMechanismCount() override { return mMechanisms.size(); }
    bool IsMechanismSupported(CK_MECHANISM_TYPE type) override { return GetMechanismIfSupported(type) != nullptr; }
    void FillMechanismList(CK_MECHANISM_TYPE_PTR list, CK_ULONG length) override;
    void FillMechanismInfo(CK_MECHANISM_TYPE type, CK_MECHANISM_INFO_PTR info) override;
    CK_ULONG GetDeviceError() override { return 0; }
    void OpenSessionNotify(bool) override {}
    void CloseSessionNotify(bool) override {}
    CK_ULONG GetMaxSessionsCount() override { return mConfig.maxSessions; }
    CK_ULONG GetMaxRwSessionsCount() override { return mConfig.maxRwSessions; }
    bool IsLogged() override { return IsSOLogged() || IsUserLogged(); }
    void VerifyUserPassword(const tru::Buffer& pin) override;
    void Login(CK_USER_TYPE userType, const tru::Buffer& pin) override;
    void Logout() override;
    void InitPin(const tru::Buffer& pin) override;
    void ChangePin(const tru::Buffer& oldPin, const tru::Buffer& newPin) override;
    zrck::TokMechanism* GetMechanismIfSupported(CK_MECHANISM_TYPE type) override;
    void SeedUserRandom(const tru::Buffer&) override {}
    void GenerateUserRandom(tru::Buffer& output) override;
    void SetUserPinInitialized(bool initialized) override { mUserPinInitialized.store(initialized); }
    void DestroyAllObjects() override {}

    // The token's mechanism objects; registered in the slot by the slot.
    const std::vector<std::shared_ptr<zrck::TokMechanism>>& GetMechanisms() const { return mMechanisms; }
    CK_ULONG GetUpdateCount() const { return mUpdates.load(); }

private:
    void CheckPinLength(const tru::Buffer& pin) const;

    FakeSlot* mpFakeSlot;
    ZrFakeConfig mConfig;
    std::atomic<bool> mUserPinInitialized;
    std::atomic<CK_ULONG> mUpdates{0};
    std::string mUserPin = ZR_FAKE_USER_PIN;
    std::string mSoPin = ZR_FAKE_SO_PIN;
    std::string mLabel = "Fake token";
    std::vector<std::shared_ptr<zrck::TokMechanism>> mMechanisms;
};

class FakeSlot : public zrck::Slot {
public:
    FakeSlot(zrck::LibraryFrame* library, CK_SLOT_ID slotID, const ZrFakeConfig& config, bool present);

    bool IsInitialized() override { return static_cast<bool>(GetToken()); }
    CK_RV InitializeToken() override;
    void PostInit() override {}
    bool IsTokenPresent() override { return mPresent.load(); }
    bool IsRemovable() override { return true; }
    bool IsHardwareSlot() override { return true; }
    std::string GetDescription() override { return "Fake reader " + std::to_string(GetSlotID()); }
    std::string GetManufacturerId() override { return "ZR Test"; }
    std::string GetHWSerial() override { return "FAKE"; }
    CK_VERSION GetHardwareVersion() override { return CK_VERSION{1, 0}; }
    CK_VERSION GetFirmwareVersion() override { return CK_VERSION{1, 0}; }
    // Driver rule: a token found gone closes the slot's sessions and drops its objects, then
    // CKR_DEVICE_REMOVED once, CKR_TOKEN_NOT_PRESENT afterwards.
    CK_RV TestTokenPresence() override;
    void VerifyStringArgument(const tru::Buffer& argument) override;
    void VerifyTemplateArgument(const zrck::AttributeTemplate& attributes) override;
    vdk::MutexIntf* GetSlotMutex() const override { return mSlotMutex.get(); }
    CK_SESSION_HANDLE CreateRegisteredSession() override;
    zrck::SessionFrame* CreateUnregisteredSession() override;
    void DetachToken() override;
    void RegisterObject(zrck::TokObject&) override { ++mRegistrations; }
    void UnregisterObject(zrck::TokObject&) override {}

    void Remove() { mPresent.store(false); }
    CK_ULONG GetRegistrationCount() const { return mRegistrations.load(); }
    void Insert() { mPresent.store(true); }
    std::mutex& InitMutex() { return mInitMutex; }

private:
    ZrFakeConfig mConfig;
    std::atomic<bool> mPresent;
    std::atomic<CK_ULONG> mRegistrations{0};
    zrck::MutexPtr mSlotMutex;
    std::mutex mInitMutex;
};

class FakeSlotFactory : public zrck::SlotFactory {
public:
    FakeSlotFactory(zrck::LibraryFrame* library, const ZrFakeConfig& config);

    void Initialize() override {}
    void RefreshSlots() override { ++mRefreshes; }
    CK_ULONG GetSlotCount() override { return mSlots.size(); }
    CK_RV CheckAndInitToken(zrck::SlotFrame& slot) override;
    CK_ULONG GetSlotTokenPresentCount() override;
    std::vector<CK_SLOT_ID> GetSlotList() override;
    zrck::SlotPtr GetSlotByID(CK_SLOT_ID slotID) override;
    zrck::SlotPtr FindSlotByID(CK_SLOT_ID slotID) override;

    std::shared_ptr<FakeSlot> GetFakeSlot(CK_SLOT_ID slotID) const;
    int GetRefreshCount() const { return mRefreshes; }

private:
    std::vector<std::shared_ptr<FakeSlot>> mSlots;
    int mRefreshes = 0;
};

class FakeLibrary : public zrck::Library {
public:
    // The creator hook.
    static void Create();
    static ZrFakeConfig& NextConfig();
    static std::atomic<int>& GetInfoThrow();

    CK_RV Initialize(CK_C_INITIALIZE_ARGS_PTR pInitArgs) override;
    CK_RV Finalize(CK_VOID_PTR pReserved) override;
    CK_RV GetInfo(CK_INFO_PTR pInfo) override;
    bool IsWaitForSlotEventAvailable() const override { return false; }
    CK_RV PrepareMutexes(CK_C_INITIALIZE_ARGS_PTR pInitArgs) override { return PrepareRecursiveMutexes(pInitArgs); }
    bool NeedToCreateOwnThreads() override { return false; }
    int GetExternalRandom(tru::Buffer& output) override;
    int GetConfigFlag(const char* key) const override;
    // Counts storage steps that begin while a toy holds an object in use.
    void RunStorageOperation(zrck::Token& token, const char* name, const std::function<void()>& body) override;

    FakeSlotFactory* GetFakeFactory() const { return static_cast<FakeSlotFactory*>(GetSlotFactory()); }
};

}  // namespace zrtest

#endif  // ZR_TESTS_FAKE_FRAMEWORK_H
