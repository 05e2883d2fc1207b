#include "driver/qel_slot_factory.h"

#include "ckbase/exception.h"
#include "device/zr_plinq_token.h"
#include "driver/qel_brand.h"
#include "driver/qel_library.h"
#include "driver/token_storage_utl.h"

namespace qel {

namespace {
// PC/SC answers that mean "no reader": the placeholder slot is shown, no error.
const uint32_t kServiceStopped = 0x8010001E;
const uint32_t kNoReadersAvailable = 0x8010002E;
const uint32_t kNoService = 0x8010001D;
}  // namespace

SlotFactory::SlotFactory(Library* library) : library_(library), mutex_(zrck::CreateNamedMutex("MutexForInit")) {}

SlotFactory::~SlotFactory() {
    readerSlots_.clear();
    attachedSlots_.clear();
    lastList_.clear();
}

void SlotFactory::CheckDeviceError(uint32_t result) {
    if (result != 0) throw zrck::Exception(TokenStorageUtl::ConvertDeviceError(result));
}

void SlotFactory::ReadSlotList(SlotList& list) {
    list.clear();
    uint32_t count = 0;
    {
        ZrPlinqToken probe;
        const uint32_t rc = probe.GetAmount(&count);
        if (rc == kServiceStopped || rc == kNoReadersAvailable || rc == kNoService) {
            count = 0;
        } else {
            CheckDeviceError(rc);
        }
    }
    if (count == 0) {
        list.push_back(std::make_shared<ShortSlotInfo>(ShortSlotInfo{GetBrandTexts(library_->GetBrand()).placeholderSlot}));
        return;
    }
    for (uint32_t i = 0; i < count; ++i) {
        ZrPlinqToken reader;
        auto info = std::make_shared<ShortSlotInfo>();
        if (reader.GetReaderName(i, info->readerName) != 0) info->readerName.clear();
        list.push_back(info);
    }
}

bool SlotFactory::IsSlotListChanged(const SlotList& list) const {
    if (list.size() != lastList_.size()) return true;
    for (size_t i = 0; i < list.size(); ++i) {
        if (list[i]->readerName != lastList_[i]->readerName) return true;
    }
    return false;
}

void SlotFactory::RefreshSlots() {
    vdk::MutexIntf::Guard guard(*mutex_, "RefreshSlots");
    SlotList list;
    ReadSlotList(list);
    const size_t n = list.size();
    if (n == 0) {
        readerSlots_.clear();
        lastList_.clear();
        readerSlotCount_.store(0);
        return;
    }
    if (readerSlotCount_.load() != 0 && !IsSlotListChanged(list)) return;
    std::map<CK_SLOT_ID, std::shared_ptr<Slot>> table;
    for (size_t i = 0; i < n; ++i) {
        std::shared_ptr<Slot> slot = FindSlotByReaderName(list[i]->readerName);
        // A name listed twice keeps its slot only once.
        for (const auto& entry : table) {
            if (entry.second == slot) slot.reset();
        }
        if (slot) {
            slot->SetSlotID(i);
        } else {
            slot = std::make_shared<Slot>(library_, i, list[i]->readerName);
        }
        table[i] = slot;
    }
    readerSlots_.swap(table);
    lastList_ = list;
    readerSlotCount_.store(static_cast<int>(n));
}

CK_ULONG SlotFactory::GetSlotCount() { return static_cast<CK_ULONG>(readerSlotCount_.load()); }

CK_RV SlotFactory::CheckAndInitToken(zrck::SlotFrame& slot) {
    if (slot.IsInitialized()) return CKR_OK;
    vdk::MutexIntf::GuardIfAvailable guard(slot.GetSlotMutex(), "CheckAndInitToken");
    if (slot.IsInitialized()) return CKR_OK;
    const CK_RV rv = slot.InitializeToken();
    if (rv == CKR_OK) slot.PostInit();
    return rv;
}

CK_ULONG SlotFactory::GetSlotTokenPresentCount() {
    vdk::MutexIntf::Guard guard(*mutex_, "GetSlotTokenPresentCount");
    CK_ULONG count = 0;
    // The first pass sets tokens up and notices removals; the second counts.
    for (int pass = 0; pass < 2; ++pass) {
        for (const auto& entry : readerSlots_) {
            if (CheckAndInitTokenNoEx(*entry.second) != CKR_OK) continue;
            const bool present = entry.second->IsTokenPresent();
            if (pass == 1 && present) ++count;
        }
    }
    return count;
}

std::vector<CK_SLOT_ID> SlotFactory::GetSlotList() {
    vdk::MutexIntf::Guard guard(*mutex_, "GetSlotList");
    std::vector<CK_SLOT_ID> ids;
    for (const auto& entry : readerSlots_) ids.push_back(entry.first);
    return ids;
}

std::shared_ptr<Slot> SlotFactory::FindSlotLocked(CK_SLOT_ID slotID) const {
    auto found = readerSlots_.find(slotID);
    if (found != readerSlots_.end()) return found->second;
    found = attachedSlots_.find(slotID);
    return found != attachedSlots_.end() ? found->second : std::shared_ptr<Slot>();
}

zrck::SlotPtr SlotFactory::FindSlotByID(CK_SLOT_ID slotID) {
    vdk::MutexIntf::GuardIfAvailable guard(mutex_.get(), "FindSlotByID");
    return FindSlotLocked(slotID);
}

zrck::SlotPtr SlotFactory::GetSlotByID(CK_SLOT_ID slotID) {
    vdk::MutexIntf::Guard guard(*mutex_, "GetSlotByID");
    if (readerSlots_.empty()) RefreshSlots();
    std::shared_ptr<Slot> slot = FindSlotLocked(slotID);
    if (!slot) throw zrck::ObjNotFoundException(CKR_SLOT_ID_INVALID);
    const CK_RV rv = CheckAndInitToken(*slot);
    if (rv != CKR_OK) throw zrck::Exception(rv);
    return slot;
}

std::shared_ptr<Slot> SlotFactory::FindSlotByReaderName(const std::string& name) {
    vdk::MutexIntf::Guard guard(*mutex_, "FindSlotByReaderName");
    for (const auto& entry : readerSlots_) {
        if (entry.second->GetReaderName() == name) return entry.second;
    }
    return std::shared_ptr<Slot>();
}

std::shared_ptr<Slot> SlotFactory::FindSlotByHWSerial(const std::string& serial) {
    vdk::MutexIntf::Guard guard(*mutex_, "FindSlotByHWSerial");
    for (const auto& entry : readerSlots_) {
        if (entry.second->GetHWSerial() == serial) return entry.second;
    }
    return std::shared_ptr<Slot>();
}

CK_SLOT_ID SlotFactory::FindNextAvailableSlot() {
    for (CK_SLOT_ID id = kFirstAttachedSlot;; ++id) {
        std::shared_ptr<Slot> slot = FindSlotLocked(id);
        // Only a slot that holds no token at all is reused: an attached token that has not been
        // set up yet still belongs to its application.
        if (!slot || (!slot->IsInitialized() && !slot->GetToken())) return id;
    }
}

std::shared_ptr<Slot> SlotFactory::AttachToken(SCARDHANDLE cardHandle) {
    vdk::MutexIntf::Guard guard(*mutex_, "AttachToken");
    const CK_SLOT_ID id = FindNextAvailableSlot();
    std::shared_ptr<Slot> slot = FindSlotLocked(id);
    if (!slot) {
        slot = std::make_shared<Slot>(library_, id, std::string());
        attachedSlots_[id] = slot;
    }
    slot->AttachToken(cardHandle);
    return slot;
}

}  // namespace qel
