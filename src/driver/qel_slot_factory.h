#pragma once

#include <PCSC/winscard.h>

#include <map>
#include <memory>
#include <string>
#include <vector>

#include "cryptoki/slot.h"
#include "driver/qel_slot.h"

namespace qel {

class Library;

// The slot table: every PC/SC reader becomes a slot numbered from 0 in reader order (one
// placeholder slot when there is no reader); slots survive rescans by reader name; card
// handles attached by the application get slots from 10000. Slots are handed out by shared
// ownership, so a rescan never pulls a slot from under a running call.
class SlotFactory : public zrck::SlotFactory {
public:
    static const CK_SLOT_ID kFirstAttachedSlot = 10000;

    struct ShortSlotInfo {
        std::string readerName;
    };
    using SlotList = std::vector<std::shared_ptr<ShortSlotInfo>>;

    explicit SlotFactory(Library* library);
    ~SlotFactory() override;

    void Initialize() override {}
    void RefreshSlots() override;
    CK_ULONG GetSlotCount() override;
    CK_RV CheckAndInitToken(zrck::SlotFrame& slot) override;
    CK_ULONG GetSlotTokenPresentCount() override;
    std::vector<CK_SLOT_ID> GetSlotList() override;
    zrck::SlotPtr GetSlotByID(CK_SLOT_ID slotID) override;
    zrck::SlotPtr FindSlotByID(CK_SLOT_ID slotID) override;

    // The PC/SC reader list of this moment (one placeholder entry when there is no reader).
    virtual void ReadSlotList(SlotList& list);
    bool IsSlotListChanged(const SlotList& list) const;
    std::shared_ptr<Slot> FindSlotByReaderName(const std::string& name);
    std::shared_ptr<Slot> FindSlotByHWSerial(const std::string& serial);
    CK_SLOT_ID FindNextAvailableSlot();
    std::shared_ptr<Slot> AttachToken(SCARDHANDLE cardHandle);
    static void CheckDeviceError(uint32_t result);
    vdk::MutexIntf* GetMutex() const { return mutex_.get(); }

private:
    std::shared_ptr<Slot> FindSlotLocked(CK_SLOT_ID slotID) const;

    Library* library_;
    std::map<CK_SLOT_ID, std::shared_ptr<Slot>> readerSlots_;
    std::map<CK_SLOT_ID, std::shared_ptr<Slot>> attachedSlots_;
    std::atomic<int> readerSlotCount_{0};
    SlotList lastList_;
    zrck::MutexPtr mutex_;
};

}  // namespace qel
