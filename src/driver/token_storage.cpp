#include "driver/token_storage.h"

#include <atomic>
#include <cstring>
#include <mutex>

#include "ckbase/exception.h"
#include "cryptoki/slot.h"
#include "driver/atr_acceptors.h"
#include "driver/token_storage_internal.h"
#include "driver/token_storage_utl.h"

namespace qel {

using namespace detail;

namespace {

constexpr uint32_t kAttrAtrString = 0x90303;  // SCARD_ATTR_ATR_STRING

bool IsPcscCode(uint32_t result) { return (result & 0xFFFF0000u) == 0x80100000u; }

// The device status of a malformed answer or an unlisted status: the card did answer.
constexpr uint32_t kMalformedAnswer = 31;

// Reader attribute results that mean "not available" rather than a failure.
constexpr uint32_t kSlotAttrNotAvailable[] = {0x80070032, 7, 1200, 0x80100017, 0x8010001F, 0x8010000B, 0x80100001};

// The process-wide list of device sessions that could not be closed; its mutex is a leaf of the
// lock order. A static object, not a heap one, so unloading the library frees it. It is built
// while the library loads, before any library object exists, so it is destroyed after anything
// that may still close a storage at exit; after that the list answers as empty and a session
// lost then is dropped with the process.
struct LostSessionList {
    std::mutex mutex;
    std::vector<TokenStorage::LostSession> sessions;
    ~LostSessionList();
};

// Constant-initialised and trivially destroyed: readable at any point of the shutdown.
std::atomic<bool> lostSessionListGone{false};

LostSessionList::~LostSessionList() { lostSessionListGone = true; }

LostSessionList* LostSessions()
{
    static LostSessionList list;
    return lostSessionListGone ? nullptr : &list;
}

[[maybe_unused]] const bool lostSessionListBuilt = LostSessions() != nullptr;

bool AllBytes(const uint8_t* data, size_t size, uint8_t value)
{
    for (size_t i = 0; i < size; ++i) {
        if (data[i] != value) {
            return false;
        }
    }
    return true;
}

constexpr size_t kMaxAtrLength = 33;  // ISO 7816-3; the PC/SC service's ATR buffer

// Whether the bytes have the length their own structure gives (ISO 7816-3: TS, T0, the
// interface bytes T0 and each TDi announce, the historical bytes, TCK unless only T=0 is
// indicated).
bool AtrLengthFits(const tru::Buffer& atr)
{
    const uint8_t* bytes = atr.Data();
    const size_t size = atr.Size();
    if (size < 2) {
        return false;
    }
    size_t at = 2;
    unsigned present = bytes[1] >> 4;
    bool checkByte = false;
    for (;;) {
        at += (present & 1) + ((present >> 1) & 1) + ((present >> 2) & 1);
        if ((present & 8) == 0) {
            break;
        }
        if (at >= size) {
            return false;
        }
        const uint8_t td = bytes[at++];
        checkByte = checkByte || (td & 0x0F) != 0;
        present = td >> 4;
    }
    return at + (bytes[1] & 0x0F) + (checkByte ? 1 : 0) == size;
}

}  // namespace

// ---- guards ----

TokenStorage::BusyGuard::BusyGuard(TokenStorage& storage, const char*) : storage_(storage)
{
    storage_.Lock();
    ++storage_.busy_;
}

TokenStorage::BusyGuard::~BusyGuard()
{
    unsigned pending = 0;
    if (--storage_.busy_ == 0) {
        pending = storage_.pendingNotifications_;
        storage_.pendingNotifications_ = 0;
    }
    storage_.Unlock();
    // Delivered with the storage mutex released: the host takes slot locks.
    try {
        if (pending & kNotifyConnected) {
            storage_.host_.OnTokenConnected();
        }
        if (pending & kNotifySlotEvent) {
            storage_.host_.OnSlotEvent();
        }
    } catch (...) {
    }
}

TokenStorage::TokenTransaction::TokenTransaction(TokenStorage& storage) : storage_(storage)
{
    if (++storage_.transactionDepth_ == 1) {
        try {
            storage_.BeginTransactionD();
        } catch (...) {
            --storage_.transactionDepth_;
            throw;
        }
    }
}

TokenStorage::TokenTransaction::~TokenTransaction()
{
    if (--storage_.transactionDepth_ == 0) {
        storage_.EndTransactionD();
    }
}

TokenStorage::GlobalBusyGuard::GlobalBusyGuard(TokenStorage& storage, const char* operation)
    : busy_(storage, operation), transaction_(storage), storage_(storage)
{
    storage.indexCache_.ClearReserve();
    if (storage_.globalDepth_++ == 0) {
        storage_.indexImages_.clear();
        storage_.movedAttributeFiles_.clear();
    }
}

TokenStorage::GlobalBusyGuard::~GlobalBusyGuard()
{
    if (--storage_.globalDepth_ == 0) {
        storage_.indexImages_.clear();
    }
}

TokenStorage::CommandCheck::CommandCheck(TokenStorage& storage, std::function<void()> check)
    : storage_(storage), previous_(std::move(storage.commandCheck_))
{
    storage_.commandCheck_ = std::move(check);
}

TokenStorage::CommandCheck::~CommandCheck()
{
    storage_.commandCheck_ = std::move(previous_);
}

void TokenStorage::RunCommandCheck()
{
    if (commandCheck_) {
        const std::function<void()> check = std::move(commandCheck_);
        commandCheck_ = nullptr;
        check();
    }
}

void TokenStorage::Lock()
{
    if (mutex_) {
        mutex_->Lock();
    }
}

void TokenStorage::Unlock()
{
    if (mutex_) {
        mutex_->Unlock();
    }
}

void TokenStorage::QueueNotification(unsigned notification)
{
    pendingNotifications_ |= notification;
    if (busy_.load() == 0) {
        // Called outside any guard: nothing of ours is locked.
        const unsigned pending = pendingNotifications_;
        pendingNotifications_ = 0;
        if (pending & kNotifyConnected) {
            host_.OnTokenConnected();
        }
        if (pending & kNotifySlotEvent) {
            host_.OnSlotEvent();
        }
    }
}

// ---- construction ----

TokenStorage::TokenStorage(TokenStorageHost& host, unsigned readerIndex)
    : host_(host), readerIndex_(readerIndex), indexCache_(*this)
{
    Construct();
}

TokenStorage::TokenStorage(TokenStorageHost& host, unsigned readerIndex, SCARDHANDLE cardHandle)
    : host_(host), cardHandle_(cardHandle), handleMode_(true), readerIndex_(readerIndex), indexCache_(*this)
{
    Construct();
}

void TokenStorage::Construct()
{
    vdk::MutexFactory& factory = vdk::MutexFactory::Instance();
    if (factory.GetGenerator() != nullptr) {
        mutex_ = vdk::MutexFactory::NewMutex("StorageMutex");
    }
    std::memset(serial_.Data(), ' ', serial_.Size());
    const tru::TResult rc = randomPool_.Alloc(32);
    if (rc != tru::SUCCESS) {
        throw tru::Exception(rc);
    }
}

TokenStorage::~TokenStorage()
{
    if (sessionOpen_ && device_) {
        try {
            CloseSessionD(true);
        } catch (...) {
        }
    }
    std::memset(session_, 0, sizeof(session_));
    sessionOpen_ = false;
    try {
        soPin_.Clear();
        extRandomness_.Clear();
        device_.reset();  // disconnects with SCARD_LEAVE_CARD when the connection is ours
        mutex_.reset();
    } catch (...) {
    }
}

void TokenStorage::InitData()
{
    present_ = false;
    recognized_ = false;
    sessionOpen_ = false;
    std::memset(session_, 0, sizeof(session_));
    device_.reset(new ZrPlinqToken());
    randomFill_ = 0;
    randomPool_.WipeData();
    label_.clear();
    revision_ = 0;
    revisionTime_ = {};
    loginStateTime_ = {};
    infoTime_ = {};
    presenceTime_ = {};
    userLogged_ = false;
    versionWord_ = 0;
    extRandomness_.Clear();
}

// ---- device command loop and error conversion ----

bool TokenStorage::CheckDeviceError(uint32_t result, uint32_t tolerated)
{
    if (result == 0) {
        return true;
    }
    uint32_t effective = result;
    if (result == kInvalidSession) {
        ResetDevice();
    } else if (result == kCardReset && device_) {
        effective = device_->Reopen();
    }
    if (effective == tolerated && effective != 0) {
        return false;
    }
    InvalidateCaches();
    CK_RV rv = TokenStorageUtl::ConvertDeviceError(result);
    // A transmission cut off by the card leaving: the card, not the device, is the matter. A
    // reset card that could not be reconnected is only looked at.
    if (rv == CKR_DEVICE_ERROR && IsPcscCode(result) &&
        (watch_.CardGone() || (result != kCardReset && device_ && ConnectedCardLeft()))) {
        rv = CKR_DEVICE_REMOVED;
    }
    // Once a call is told "removed", no presence check of another thread answers "present"
    // from what it saw before (the reader state it looks at may lag behind): a card that left
    // stays gone until it is connected again, and after an answer that may be a cut-off one
    // (a card pulled mid-command, or a malformed answer) the token is asked again.
    if (rv == CKR_DEVICE_REMOVED) {
        if (result == kMalformedAnswer) {
            presenceInDoubt_ = true;
        } else {
            cardLeft_ = true;
        }
    }
    throw zrck::Exception(rv);
}

bool TokenStorage::ConnectedCardLeft()
{
    // One command, sent at once: the PC/SC service notices a pull only at its next poll of the
    // reader, and a card put back before that looks to it as if it never left.
    uint32_t rc = 0;
    tru::BufferStatic<16> serial;
    if (sessionOpen_) {
        uint32_t state = 0;
        rc = Run([&] { return device_->GetSessionState(session_, &state); }, OnInvalidSession::Check);
    } else {
        std::memset(serial.Data(), ' ', serial.Size());
        size_t length = serial.Size();
        rc = GetAttrD(AttrSerialNumber, serial.Data(), length, true);
    }
    // No answer: the card is out. Our device session gone: it lost power, pulled and put back.
    // Another serial: another card.
    const bool left = (IsPcscCode(rc) && rc != kCardReset) || rc == kInvalidSession ||
                      (rc == 0 && !sessionOpen_ && !AllBytes(serial_.Data(), serial_.Size(), ' ') && serial != serial_);
    if (rc == kInvalidSession) {
        MarkSessionClosed();  // nothing left on the card to close
    }
    if (left) {
        watch_.MarkLeft();
    }
    return left;
}

void TokenStorage::InvalidateCaches()
{
    indexImages_.clear();
    revisionTime_ = {};
    loginStateTime_ = {};
    infoTime_ = {};
    presenceTime_ = {};
}

void TokenStorage::DropSoPin()
{
    soPin_.Clear();
}

// ---- connection ----

void TokenStorage::ConnectToken()
{
    errorMark_ = 0;
    if (!device_) {
        device_.reset(new ZrPlinqToken());
    }
    const uint32_t rc = handleMode_ ? device_->OpenByHandle(cardHandle_)
                                    : device_->Open(readerIndex_, SCARD_SHARE_SHARED);
    if (rc != 0) {
        watch_.Disarm();
        present_ = false;
        return;
    }
    {
        tru::BufferDynamic reader;
        tru::BufferDynamic atr;
        uint32_t state = 0;
        if (device_->ReadCardStatus(reader, &state, atr) == 0) {
            watch_.Arm(std::string(reinterpret_cast<const char*>(reader.Data()),
                                   strnlen(reinterpret_cast<const char*>(reader.Data()), reader.Size())));
        } else {
            watch_.Disarm();
        }
    }
    Recognition recognition = Recognition::kNoAtr;
    try {
        recognition = TryToRecognizeToken();
    } catch (const zrck::Exception&) {
        // The card went while it was being looked at.
        present_ = false;
        return;
    }
    if (recognition == Recognition::kNoAtr) {
        // An ATR that could not be read says the card is leaving, not that it is foreign.
        present_ = false;
        return;
    }
    if (recognition == Recognition::kForeign) {
        // Only a card still in the reader is called foreign, never one leaving it.
        present_ = !watch_.CardGone();
        return;
    }

    // One read of the information block gives the serial, the label and the version too.
    ReadTokenInfoD();
    tru::BufferStatic<16> serial;
    std::memcpy(serial.Data(), tokenInfo_.serialNumber, 16);

    if (sessionOpen_ && serial != serial_) {
        // The session belonged to the card that was in the reader before.
        SaveLostSession(serial_, session_);
        MarkSessionClosed();
    }
    serial_ = serial;
    CheckForLostSessions(serial_);
    DropSoPin();
    InvalidateCaches();
    label_.assign(reinterpret_cast<const char*>(tokenInfo_.label), sizeof(tokenInfo_.label));
    versionWord_ = static_cast<uint32_t>(tokenInfo_.versionMajor) << 24 |
                   static_cast<uint32_t>(tokenInfo_.versionMinor) << 16;
    infoTime_ = CacheClock::Now();
    presenceTime_ = infoTime_;  // its serial was just read
    present_ = true;
    cardLeft_ = false;
    presenceInDoubt_ = false;
    QueueNotification(kNotifyConnected);
}

void TokenStorage::ConnectTokenM()
{
    BusyGuard guard(*this, "ConnectTokenM");
    ConnectToken();
}

void TokenStorage::SetSmartcardCtxM(SCARDHANDLE cardHandle)
{
    BusyGuard guard(*this, "SetSmartcardCtxM");
    cardHandle_ = cardHandle;
    handleMode_ = true;
    device_.reset(new ZrPlinqToken());
    CheckDeviceError(Run([&] { return device_->OpenByHandle(cardHandle_); }, OnInvalidSession::Check));
}

TokenStorage::Recognition TokenStorage::TryToRecognizeToken()
{
    // Published only once decided: other threads read these flags without the storage lock.
    tru::BufferDynamic atr;
    if (!GetCardATR(atr)) {
        // No ATR: the card left the reader while it was being connected.
        recognized_ = false;
        present_ = false;
        return Recognition::kNoAtr;
    }
    bool recognized = false;
    uint32_t modelFlag = 0;
    const AtrAcceptor* table = nullptr;
    switch (host_.GetBrand()) {
    case 0:
        table = ZorvaneKeyAcceptors;
        break;
    case 1:
        table = UlmarKeyAcceptors;
        break;
    default:
        throw zrck::Exception(CKR_GENERAL_ERROR);
    }
    for (const AtrAcceptor* a = table; a->length != 0; ++a) {
        if (zrck::Slot::IsATRAcceptable(atr, a->pattern, a->mask, a->length)) {
            recognized = true;
            modelFlag = a->modelFlag;
            break;
        }
    }
    modelFlag_ = modelFlag;
    recognized_ = recognized;
    return recognized ? Recognition::kGenuine : Recognition::kForeign;
}

bool TokenStorage::GetCardATR(tru::BufferDynamic& atr)
{
    if (GetSlotAttr(kAttrAtrString, atr) && !atr.Empty()) {
        return true;
    }
    // The reader cannot give the ATR attribute: take the card status's. After a power-up the
    // card did not answer (it is leaving), the service reports its whole ATR buffer, old bytes
    // and all: that is no ATR, where a shorter one that does not fit its structure is a foreign
    // card's.
    tru::BufferDynamic reader;
    uint32_t state = 0;
    ReadCardStatusD(reader, state, atr);
    return !atr.Empty() && (atr.Size() != kMaxAtrLength || AtrLengthFits(atr));
}

void TokenStorage::ReadCardStatusD(tru::BufferDynamic& readerName, uint32_t& state, tru::BufferDynamic& atr)
{
    CheckDeviceError(
        Run([&] { return device_->ReadCardStatus(readerName, &state, atr); }, OnInvalidSession::Check));
}

void TokenStorage::CloseDeviceD()
{
    if (device_) {
        device_->Close();
    }
}

bool TokenStorage::GetSlotAttr(uint32_t attributeId, tru::BufferDynamic& value)
{
    tru::TResult alloc = value.Alloc(256);
    if (alloc != tru::SUCCESS) {
        throw tru::Exception(alloc);
    }
    size_t length = value.Size();
    const uint32_t rc = device_->GetSlotAttr(attributeId, value.Data(), &length);
    for (uint32_t na : kSlotAttrNotAvailable) {
        if (rc == na) {
            value.Alloc(0);
            return false;
        }
    }
    CheckDeviceError(rc);
    alloc = value.Realloc(static_cast<uint32_t>(std::min<size_t>(length, value.Size())));
    if (alloc != tru::SUCCESS) {
        throw tru::Exception(alloc);
    }
    return true;
}

// ---- presence ----

bool TokenStorage::IsTokenPresentM()
{
    // Busy in another thread says nothing about the reader: answer what was last seen.
    if (IsBusy() && MayAnswerWhileBusy()) {
        return present_ && !IsCardGone();
    }
    BusyGuard guard(*this, "IsTokenPresentM");
    if (present_ && IsCardGone()) {
        // The next check connects to whatever the reader holds then.
        present_ = false;
        InvalidateCaches();
        return false;
    }
    if (present_ && !recognized_) {
        return true;
    }
    if (IsFresh(presenceTime_) && !presenceInDoubt_) {
        return present_;
    }
    if (!present_) {
        try {
            ConnectToken();
        } catch (const zrck::Exception&) {
            present_ = false;
        }
        return present_;
    }
    try {
        const tru::BufferStatic<16> before = serial_;
        tru::BufferStatic<16> serial;
        GetTokenSerialNumInt(serial);
        presenceTime_ = CacheClock::Now();
        if (serial == before) {
            presenceInDoubt_ = false;
            return true;
        }
        // Another token in the reader: take it over, but report this one gone.
        ConnectToken();
        GetTokenSerialNumInt(serial);
        presenceTime_ = CacheClock::Now();
        if (serial != before) {
            present_ = false;
        }
    } catch (const zrck::Exception&) {
        present_ = false;
    }
    return present_;
}

CK_RV TokenStorage::VerifyTokenPresence()
{
    if (IsBusy()) {
        return CKR_OK;
    }
    BusyGuard guard(*this, "VerifyTokenPresence");
    if (present_ && IsCardGone()) {
        present_ = false;
        InvalidateCaches();
        QueueNotification(kNotifySlotEvent);
        return CKR_DEVICE_REMOVED;
    }
    if (!present_) {
        try {
            ConnectToken();
        } catch (const zrck::Exception&) {
            present_ = false;
        }
        return CKR_OK;
    }
    if (!recognized_) {
        return CKR_TOKEN_NOT_RECOGNIZED;
    }
    tru::BufferStatic<16> serial;
    if (ReadSerialQuiet(serial)) {
        if (serial == serial_) {
            return CKR_OK;
        }
        try {
            ConnectToken();
        } catch (const zrck::Exception&) {
            present_ = false;
        }
    } else {
        present_ = false;
    }
    QueueNotification(kNotifySlotEvent);
    return CKR_DEVICE_REMOVED;
}

void TokenStorage::ResetDevice()
{
    vdk::MutexIntf::GuardIfAvailable lock(mutex_.get(), "ResetDevice");
    DropSoPin();
    if (sessionOpen_) {
        SaveLostSession(serial_, session_);
    }
    MarkSessionClosed();
    label_.clear();
    revisionTime_ = {};
    loginStateTime_ = {};
    infoTime_ = {};
    presenceTime_ = {};
}

void TokenStorage::ResetDeviceCache()
{
    InvalidateCaches();
}

// ---- device session ----

void TokenStorage::OpenDevSessionInt()
{
    if (sessionOpen_) {
        return;
    }
    if (!recognized_) {
        throw zrck::Exception(CKR_TOKEN_NOT_RECOGNIZED);
    }
    OpenDevSessionMicroIntD();
    DropSoPin();
    // The revision is read by whatever needs it (a search reads it every time), not here.
}

void TokenStorage::OpenDevSessionMicroIntD()
{
    uint8_t fresh[kDeviceSessionSize] = {};
    CheckDeviceError(Run([&] { return device_->OpenSession(fresh); }, OnInvalidSession::Check));
    std::memcpy(session_, fresh, sizeof(session_));
    sessionOpen_ = true;
    // A fresh device session carries no login.
    userLogged_ = false;
    loginStateTime_ = CacheClock::Now();
}

void TokenStorage::CloseSessionD(bool quiet)
{
    const uint32_t rc = Run([&] { return device_->CloseSession(session_); }, OnInvalidSession::Success);
    if (rc == 0) {
        return;
    }
    if (quiet) {
        SaveLostSession(serial_, session_);
        return;
    }
    CheckDeviceError(rc);
}

void TokenStorage::ClearDevSessionInt()
{
    if (sessionOpen_) {
        CloseSessionD(true);
        MarkSessionClosed();
    }
}

void TokenStorage::ClearDevSessionM()
{
    BusyGuard guard(*this, "ClearDevSessionM");
    ClearDevSessionInt();
}

void TokenStorage::CloseDevSessionInt()
{
    if (sessionOpen_) {
        CloseSessionD(true);
    }
    MarkSessionClosed();
    DropSoPin();
}

void TokenStorage::MarkSessionClosed()
{
    std::memset(session_, 0, sizeof(session_));
    sessionOpen_ = false;
}

// ---- lost sessions ----

void TokenStorage::SaveLostSession(const tru::Buffer& serial, const uint8_t* session)
{
    if (serial.Size() != 16 || AllBytes(session, kDeviceSessionSize, 0) || AllBytes(serial.Data(), 16, ' ')) {
        return;
    }
    LostSession lost;
    std::memcpy(lost.serial, serial.Data(), 16);
    std::memcpy(lost.session, session, kDeviceSessionSize);
    LostSessionList* list = LostSessions();
    if (list == nullptr) {
        return;
    }
    std::lock_guard<std::mutex> lock(list->mutex);
    list->sessions.push_back(lost);
}

void TokenStorage::CheckForLostSessions(const tru::Buffer& serial)
{
    if (serial.Size() != 16) {
        return;
    }
    LostSessionList* list = LostSessions();
    if (list == nullptr) {
        return;
    }
    std::vector<LostSession> mine;
    {
        std::lock_guard<std::mutex> lock(list->mutex);
        auto& all = list->sessions;
        for (auto it = all.begin(); it != all.end();) {
            if (std::memcmp(it->serial, serial.Data(), 16) == 0) {
                mine.push_back(*it);
                it = all.erase(it);
            } else {
                ++it;
            }
        }
    }
    for (const LostSession& lost : mine) {
        CloseLostSession(lost.session);
    }
}

size_t TokenStorage::LostSessionCount()
{
    LostSessionList* list = LostSessions();
    if (list == nullptr) {
        return 0;
    }
    std::lock_guard<std::mutex> lock(list->mutex);
    return list->sessions.size();
}

void TokenStorage::CloseLostSession(const uint8_t* session)
{
    Run([&] { return device_->CloseSession(session); }, OnInvalidSession::Success);
}

// ---- transactions and response delay ----

void TokenStorage::BeginTransactionD()
{
    CheckDeviceError(Run([&] { return device_->BeginTransaction(); }, OnInvalidSession::Check));
}

void TokenStorage::EndTransactionD()
{
    if (device_) {
        Run([&] { return device_->EndTransaction(); }, OnInvalidSession::Success);
    }
}

void TokenStorage::SetupResponseDelay(uint16_t delay)
{
    uint32_t rc = 0;
    for (unsigned attempt = 0; attempt < kMaxResponseDelayAttempts; ++attempt) {
        rc = Run([&] { return device_->SetResponseDelay(delay); }, OnInvalidSession::Check);
        if (rc == 0) {
            return;
        }
    }
    CheckDeviceError(rc);
}

}  // namespace qel
