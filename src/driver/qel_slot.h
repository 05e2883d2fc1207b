#pragma once

#include <PCSC/winscard.h>

#include <atomic>
#include <map>
#include <mutex>
#include <string>

#include "cryptoki/slot.h"

namespace qel {

class Library;
class Token;

// One Cryptoki slot: a PC/SC reader (its ID the reader's position) or an application's card
// handle attached through C_SetLibraryAttributes (IDs from 10000, no reader name).
class Slot : public zrck::Slot {
public:
    // Reader attributes asked through the token storage (SCardGetAttrib identifiers).
    static const uint32_t kAttrVendorName = 0x00010100;
    static const uint32_t kAttrVendorIfdVersion = 0x00010102;
    static const uint32_t kAttrVendorIfdSerial = 0x00010103;
    static const uint32_t kAttrFriendlyName = 0x7FFF0003;
    static const size_t kMaxStringArgument = 1024;
    static const CK_ULONG kMaxAttributeValue = 0x10000;

    class SlotMutexGuard {
    public:
        SlotMutexGuard(const Slot& slot, const char* label) : guard_(slot.GetSlotMutex(), label) {}

    private:
        vdk::MutexIntf::GuardIfAvailable guard_;
    };

    Slot(zrck::LibraryFrame* library, CK_SLOT_ID slotID, const std::string& readerName);
    ~Slot() override;

    bool IsInitialized() override;
    CK_RV InitializeToken() override;
    void PostInit() override;
    bool IsTokenPresent() override;
    bool IsRemovable() override { return true; }
    bool IsHardwareSlot() override { return true; }
    std::string GetDescription() override;
    std::string GetManufacturerId() override;
    std::string GetHWSerial() override;
    CK_VERSION GetHardwareVersion() override;
    CK_VERSION GetFirmwareVersion() override { return CK_VERSION{1, 0}; }
    CK_RV TestTokenPresence() override;
    void VerifyStringArgument(const tru::Buffer& argument) override;
    void VerifyTemplateArgument(const zrck::AttributeTemplate& attributes) override;
    vdk::MutexIntf* GetSlotMutex() const override { return mutex_.get(); }
    CK_SESSION_HANDLE CreateRegisteredSession() override;
    zrck::SessionFrame* CreateUnregisteredSession() override;
    void DetachToken() override;
    void DeleteStoredObject(zrck::TokObject& object) override;
    bool EnumerateObjects(const ObjectCallback& callback, ObjEnumerationData* data) override;
    // Indexes a stored object by its storage ID (again after it got its files) and lets it be
    // refreshed from the token from then on.
    void RegisterObject(zrck::TokObject& object) override;
    void UnregisterObject(zrck::TokObject& object) override;

    void AttachToken(SCARDHANDLE cardHandle);
    void ReattachToken(SCARDHANDLE cardHandle);
    void ResetToken();
    // The token leaves the slot with everything that belonged to it: its sessions are closed
    // and its objects dropped. True for the one caller that retired it (an empty token: the
    // slot's sessions and objects go).
    bool RetireToken(const std::shared_ptr<Token>& token);
    // Every object of the slot leaves memory (nothing is deleted on the token).
    void DropAllObjects();
    std::string GetReaderName() const;
    // The registered object kept under the storage ID, its use count raised, or empty.
    zrck::TokObjectPtr GetBlockObjectIfExistsByID(uint32_t storageId);
    // The registered object kept under the storage ID, one being deleted included, its use
    // count untouched; or empty.
    zrck::TokObjectPtr GetObjectByID(uint32_t storageId);
    void UpdateTokenPresence();
    void UpdateReaderName(const std::string& name);

    std::shared_ptr<Token> GetDriverToken() const;
    Library* GetDriverLibrary() const;
    uint32_t GetBrand() const;

private:
    static bool IsPresentQuietly(Token& token);
    enum class Retirement { StillPresent, Retired, RetiredElsewhere };
    // Retires a token found absent unless, asked again under the slot lock, it is present: the
    // first answer may come from before another thread set the returned card up.
    Retirement RetireUnlessPresent(const std::shared_ptr<Token>& token);
    // The handle registered under the storage ID; 0 when none is.
    CK_OBJECT_HANDLE HandleOfStorageId(uint32_t storageId);
    // Sets up the token of a card that is in the reader again; true when it is present.
    bool SetUpAgain(const std::shared_ptr<Token>& retired);
    CK_VERSION ReadHardwareVersion(std::shared_ptr<Token>& failed);
    // Reads a reader attribute through the token's storage; false when not given.
    bool ReadSlotAttribute(const std::shared_ptr<Token>& token, uint32_t attributeId, tru::BufferDynamic& value);

    mutable std::mutex readerNameMutex_;
    std::string readerName_;
    // Storage ID -> handle of every registered object kept on the token; a leaf lock.
    std::mutex indexMutex_;
    std::map<uint32_t, CK_OBJECT_HANDLE> storedObjects_;
    std::atomic<bool> tokenSeen_{false};
    zrck::MutexPtr mutex_;
};

}  // namespace qel
