// Login, PIN and SO commands, random data, token information, capability tests and the token
// data revision.
#include <cstring>

#include "ckbase/exception.h"
#include "driver/token_storage_internal.h"
#include "support/entropy.h"
#include "support/math.h"

namespace qel {

using namespace detail;

namespace {

const uint8_t* Bytes(const tru::Buffer& b)
{
    return b.Data();
}

// Random fields longer than this are not what any token asks for.
constexpr uint32_t kMaxRandomField = 4096;

}  // namespace

// ---- login and PINs ----

void TokenStorage::CheckPinResult(uint32_t result)
{
    if (result == devrc::kPinIncorrect || result == devrc::kPinLocked) {
        InvalidateCaches();
        throw zrck::Exception(result == devrc::kPinIncorrect ? CKR_PIN_INCORRECT : CKR_PIN_LOCKED);
    }
}

void TokenStorage::LoginUserM(const tru::Buffer& pin)
{
    BusyGuard guard(*this, "LoginUserM");
    CheckForLostSessions(serial_);
    DropSoPin();
    LoginUserD(pin);
}

void TokenStorage::LoginUserD(const tru::Buffer& pin)
{
    OpenDevSessionInt();
    const uint32_t rc =
        Run([&] { return device_->Login(session_, Bytes(pin), pin.Size()); }, OnInvalidSession::NewSession);
    CheckPinResult(rc);
    CheckDeviceError(rc);
    userLogged_ = true;
    loginStateTime_ = CacheClock::Now();
}

void TokenStorage::LoginSoM(const tru::Buffer& pin)
{
    BusyGuard guard(*this, "LoginSoM");
    OpenDevSessionInt();
    const uint32_t rc = Run([&] { return device_->CheckSOPIN(Bytes(pin), pin.Size()); }, OnInvalidSession::NewSession);
    CheckPinResult(rc);
    CheckDeviceError(rc);
    userLogged_ = false;
    loginStateTime_ = CacheClock::Now();
    soPin_ = pin;
}

void TokenStorage::VerifyUserPassword(const tru::Buffer& pin)
{
    BusyGuard guard(*this, "VerifyUserPassword");
    const uint32_t rc =
        Run([&] { return device_->CheckUserPIN(Bytes(pin), pin.Size()); }, OnInvalidSession::NewSession);
    CheckPinResult(rc);
    CheckDeviceError(rc);
}

void TokenStorage::LogoutUserM()
{
    BusyGuard guard(*this, "LogoutM");
    CheckForLostSessions(serial_);
    LogoutUserD();
    DropSoPin();
}

void TokenStorage::LogoutUserD()
{
    userLogged_ = false;
    loginStateTime_ = CacheClock::Now();
    if (!sessionOpen_) {
        return;  // nobody is logged in on a session that does not exist
    }
    CheckDeviceError(Run([&] { return device_->Logout(session_); }, OnInvalidSession::Success));
}

void TokenStorage::ReadDeviceLoggedM()
{
    BusyGuard guard(*this, "ReadDeviceLoggedM");
    if (!sessionOpen_) {
        userLogged_ = false;
        return;
    }
    uint32_t state = 0;
    const uint32_t rc = Run([&] { return device_->GetSessionState(session_, &state); }, OnInvalidSession::Check);
    if (rc == kInvalidSession) {
        userLogged_ = false;
        loginStateTime_ = CacheClock::Now();
        return;
    }
    CheckDeviceError(rc);
    userLogged_ = (state & kSessionStateUserLoggedIn) != 0;
    loginStateTime_ = CacheClock::Now();
}

void TokenStorage::InitPIN(const tru::Buffer& userPin)
{
    if (soPin_.Empty()) {
        throw zrck::Exception(CKR_USER_NOT_LOGGED_IN);
    }
    CheckForLostSessions(serial_);
    // The user login below opens a new device session, which drops the kept SO PIN; the SO
    // stays logged in on the host whatever happens on the way.
    const vdk::SafeBuffer kept(soPin_);
    struct RestoreSoPin {
        TokenStorage& storage;
        const vdk::SafeBuffer& pin;
        ~RestoreSoPin()
        {
            try {
                storage.soPin_ = pin;
            } catch (...) {
            }
            storage.infoTime_ = {};
        }
    } restore{*this, kept};

    ClearDevSessionInt();
    CheckDeviceError(Run([&] { return device_->InitUserPIN(kept.Data(), kept.Size(), Bytes(userPin), userPin.Size()); },
                         OnInvalidSession::Check));
    LoginUserD(userPin);
    IncTokenDataRevision();
    LogoutUserD();
    ClearDevSessionInt();
}

void TokenStorage::InitializeSO(const tru::Buffer& soPin, const tru::Buffer& label)
{
    DropSoPin();
    ClearDevSessionInt();
    CheckForLostSessions(serial_);
    const uint32_t n = ReadAttributeWord(AttrRandomLength);
    if (n > kMaxRandomField) {
        throw zrck::Exception(CKR_DEVICE_ERROR);
    }
    vdk::SafeBuffer random(n);
    if (n != 0) {
        host_.GetExternalRandom(random);
    }
    CheckDeviceError(Run(
        [&] {
            return device_->InitSOPIN(Bytes(soPin), soPin.Size(), random.Data(), random.Size(), Bytes(label),
                                      label.Size());
        },
        OnInvalidSession::Check));
    soPin_ = soPin;
    revision_ = 0;  // a new token has no file 0
    revisionTime_ = CacheClock::Now();
    infoTime_ = {};
}

void TokenStorage::ChangePIN(const tru::Buffer& oldPin, const tru::Buffer& newPin)
{
    if (soPin_.Empty()) {
        const uint32_t n = ReadAttributeWord(AttrRandomLength);
        if (n > kMaxRandomField) {
            throw zrck::Exception(CKR_DEVICE_ERROR);
        }
        vdk::SafeBuffer random(n);
        if (n != 0) {
            host_.GetExternalRandom(random);
        }
        CheckDeviceError(Run(
            [&] {
                return device_->ChangeUserPIN(Bytes(oldPin), oldPin.Size(), Bytes(newPin), newPin.Size(),
                                              random.Data(), random.Size());
            },
            OnInvalidSession::Check));
        return;
    }
    CheckDeviceError(Run(
        [&] { return device_->ChangeSOPIN(Bytes(oldPin), oldPin.Size(), Bytes(newPin), newPin.Size()); },
        OnInvalidSession::Check));
    soPin_ = newPin;
}

void TokenStorage::SetUserAuthMaxCountM(uint32_t count)
{
    BusyGuard guard(*this, "SetUserAuthMaxCountM");
    if (soPin_.Empty()) {
        throw zrck::Exception(CKR_USER_NOT_LOGGED_IN);
    }
    CheckDeviceError(
        Run([&] { return device_->SetMaxAuthCtr(soPin_.Data(), soPin_.Size(), count); }, OnInvalidSession::Check));
}

uint32_t TokenStorage::GetUserAuthMaxCountM()
{
    BusyGuard guard(*this, "GetUserAuthMaxCountM");
    return ReadAttributeWord(AttrMaxUserPinTries);
}

// ---- random data ----

void TokenStorage::RequireUserLoggedForRandom()
{
    if (!userLogged_) {
        throw zrck::Exception(CKR_USER_NOT_LOGGED_IN);
    }
    if (IsFresh(loginStateTime_)) {
        return;
    }
    ReadDeviceLoggedM();
    if (!userLogged_) {
        throw zrck::Exception(CKR_USER_NOT_LOGGED_IN);
    }
}

void TokenStorage::GenerateUserRandomM(tru::Buffer& out)
{
    BusyGuard guard(*this, "GenerateUserRandomM");
    OpenDevSessionInt();
    if (!present_) {
        throw zrck::Exception(CKR_DEVICE_REMOVED);
    }
    const uint32_t wanted = out.Size();
    uint8_t* pool = randomPool_.Data();
    const uint32_t fromPool = std::min(randomFill_, wanted);
    if (fromPool != 0) {
        std::memcpy(out.Data(), pool, fromPool);
        std::memmove(pool, pool + fromPool, randomFill_ - fromPool);
        randomFill_ -= fromPool;
        tru::Buffer::Wipe(randomPool_.Size() - randomFill_, pool + randomFill_);
    }
    uint32_t done = fromPool;
    while (done < wanted) {
        RequireUserLoggedForRandom();
        uint8_t blockBytes[32];
        vdk::SafeStaticBuffer block(blockBytes, sizeof(blockBytes));
        const uint32_t rc =
            Run([&] { return device_->GetRandom(session_, blockBytes, sizeof(blockBytes), nullptr, 0); },
                OnInvalidSession::Check);
        if (rc == kInvalidSession) {
            MarkSessionClosed();
            throw zrck::Exception(CKR_USER_NOT_LOGGED_IN);
        }
        CheckDeviceError(rc);
        const uint32_t n = std::min<uint32_t>(sizeof(blockBytes), wanted - done);
        std::memcpy(out.Data() + done, blockBytes, n);
        if (n < sizeof(blockBytes)) {
            randomFill_ = sizeof(blockBytes) - n;
            std::memcpy(pool, blockBytes + n, randomFill_);
        }
        done += n;
    }
}

void TokenStorage::SeedUserRandomM(const tru::Buffer& seed)
{
    BusyGuard guard(*this, "SeedUserRandomM");
    OpenDevSessionInt();
    if (!present_) {
        throw zrck::Exception(CKR_DEVICE_REMOVED);
    }
    RequireUserLoggedForRandom();
    uint8_t discardBytes[32];
    vdk::SafeStaticBuffer discard(discardBytes, sizeof(discardBytes));
    const size_t seedLength = std::min<size_t>(seed.Size(), 64);
    const uint32_t rc = Run(
        [&] { return device_->GetRandom(session_, discardBytes, sizeof(discardBytes), seed.Data(), seedLength); },
        OnInvalidSession::Check);
    if (rc == kInvalidSession) {
        MarkSessionClosed();
        throw zrck::Exception(CKR_USER_NOT_LOGGED_IN);
    }
    CheckDeviceError(rc);
}

void TokenStorage::PrepareExtRandomness()
{
    const tru::TResult rc = extRandomness_.Alloc(64);
    if (rc != tru::SUCCESS) {
        throw tru::Exception(rc);
    }
    host_.GetExternalRandom(extRandomness_);
}

// ---- token information and capabilities ----

uint32_t TokenStorage::GetAttrD(uint8_t attributeId, uint8_t* out, size_t& length, bool quiet)
{
    const uint32_t rc = Run([&] { return device_->GetAttr(attributeId, out, &length); }, OnInvalidSession::Check);
    if (quiet) {
        return rc;
    }
    CheckDeviceError(rc);
    return 0;
}

uint32_t TokenStorage::ReadAttributeWord(uint8_t attributeId)
{
    uint8_t word[4] = {};
    size_t length = sizeof(word);
    GetAttrD(attributeId, word, length, false);
    return vdk::Math::GetUInt(vdk::Math::LITTLE_ENDIAN_ORDER, word);
}

bool TokenStorage::ReadSerialQuiet(tru::Buffer& serial)
{
    std::memset(serial.Data(), ' ', serial.Size());
    size_t length = serial.Size();
    return GetAttrD(AttrSerialNumber, serial.Data(), length, true) == 0;
}

void TokenStorage::GetTokenSerialNumInt(tru::Buffer& serial)
{
    std::memset(serial.Data(), ' ', serial.Size());
    size_t length = serial.Size();
    GetAttrD(AttrSerialNumber, serial.Data(), length, false);
}

void TokenStorage::ReadTokenInfoD()
{
    _TokenInfo_Struct info;
    CheckDeviceError(Run([&] { return device_->GetTokenInfo(&info); }, OnInvalidSession::Check));
    tokenInfo_ = info;
}

void TokenStorage::ReadTokenInternalInfoM()
{
    BusyGuard guard(*this, "ReadTokenInternalInfoM");
    if (!recognized_) {
        throw zrck::Exception(CKR_TOKEN_NOT_RECOGNIZED);
    }
    ReadTokenInfoD();
    label_.assign(reinterpret_cast<const char*>(tokenInfo_.label), sizeof(tokenInfo_.label));
    infoTime_ = CacheClock::Now();
}

std::string TokenStorage::GetTokenLabelM()
{
    BusyGuard guard(*this, "GetTokenLabelM");
    if (label_.empty()) {
        ReadTokenInfoD();
        label_.assign(reinterpret_cast<const char*>(tokenInfo_.label), sizeof(tokenInfo_.label));
        infoTime_ = CacheClock::Now();
    }
    return label_;
}

uint32_t TokenStorage::VersionWord()
{
    if (versionWord_ == 0) {
        versionWord_ = ReadAttributeWord(AttrVersion);
    }
    return versionWord_;
}

bool TokenStorage::IsRSA512Supported()
{
    if (modelFlag_ != 0) {
        return false;
    }
    BusyGuard guard(*this, "IsRSA512Supported");
    // (major, minor) from 4.15 on: 5.0 supports it too.
    const uint32_t majorMinor = VersionWord() >> 16;
    return majorMinor >= (4u << 8 | 15u);
}

bool TokenStorage::IsEcDsaSupportedM()
{
    if (modelFlag_ != 0) {
        return false;
    }
    BusyGuard guard(*this, "IsEcDsaSupportedM");
    return (VersionWord() >> 24) >= 5;
}

bool TokenStorage::IsDSTU_431Supported()
{
    if (modelFlag_ != 0) {
        return false;
    }
    BusyGuard guard(*this, "IsDSTU_431Supported");
    // (major, minor) from 4.14 on: 5.0 supports it too.
    const uint32_t majorMinor = VersionWord() >> 16;
    return majorMinor >= (4u << 8 | 14u);
}

bool TokenStorage::IsDHSupportedM()
{
    if (modelFlag_ != 0) {
        return true;
    }
    BusyGuard guard(*this, "IsDHSupportedM");
    const uint32_t major = VersionWord() >> 24;
    return major == 2 || major == 4 || major == 5;
}

// ---- token data revision ----

void TokenStorage::ReadTokenDataRevision()
{
    // A session opened only for this read is closed again, also when the read fails.
    struct TemporarySession {
        TokenStorage* storage = nullptr;
        ~TemporarySession()
        {
            if (storage) {
                try {
                    storage->ClearDevSessionInt();
                } catch (...) {
                }
            }
        }
    } temporary;
    if (!sessionOpen_) {
        OpenDevSessionMicroIntD();
        temporary.storage = this;
    }
    // Four bytes read straight away: no size query. A shorter file (an empty one is
    // revision 0) answers "invalid offset" and is then read whole to be judged.
    uint8_t bytes[4] = {};
    const uint32_t rc = Run([&] { return device_->ReadFileAt(session_, fileid::kRevision, 0, bytes, sizeof bytes); },
                            OnInvalidSession::NewSession);
    revisionFileMissing_ = rc == devrc::kFileNotFound;
    if (rc == devrc::kFileNotFound) {
        revision_ = 0;
    } else if (rc == devrc::kInvalidOffset) {
        tru::BufferDynamic file;
        ReadFileD(fileid::kRevision, file);
        if (file.Empty()) {
            revision_ = 0;
        } else if (file.Size() == 4) {
            revision_ = vdk::Math::GetUInt(vdk::Math::LITTLE_ENDIAN_ORDER, file.Data());
        } else {
            throw zrck::Exception(CKR_FUNCTION_FAILED);
        }
    } else {
        CheckDeviceError(rc);
        revision_ = vdk::Math::GetUInt(vdk::Math::LITTLE_ENDIAN_ORDER, bytes);
    }
    revisionTime_ = CacheClock::Now();
}

uint32_t TokenStorage::GetTokenDataRevision()
{
    if (IsFresh(revisionTime_)) {
        return revision_;
    }
    ReadTokenDataRevision();
    return revision_;
}

bool TokenStorage::IsTokenDataChangedM()
{
    BusyGuard guard(*this, "IsTokenDataChangedM");
    // A listing follows: the session opened here serves its index reads too, instead of a
    // session opened and closed for this read alone.
    OpenDevSessionInt();
    const uint32_t before = revision_;
    ReadTokenDataRevision();
    return revision_ != before;
}

void TokenStorage::SaveTokenDataRevision()
{
    OpenDevSessionInt();
    uint8_t bytes[4];
    vdk::Math::PutUInt(vdk::Math::LITTLE_ENDIAN_ORDER, revision_, bytes);
    WriteFileD(fileid::kRevision, 0, bytes, sizeof(bytes));
    revisionTime_ = CacheClock::Now();
}

uint32_t TokenStorage::IncTokenDataRevision()
{
    ReadTokenDataRevision();
    const uint32_t previous = revision_;
    if (revision_ != 0) {
        ++revision_;
    } else {
        uint32_t random = 0;
        vdk::GetEntropySlow(&random, sizeof(random));
        revision_ = random;
    }
    if (revisionFileMissing_) {
        CreateFileD(fileid::kRevision, TokenObject);  // the first change of this token
    }
    SaveTokenDataRevision();
    indexCache_.ClearChanged();
    return previous;
}

bool TokenStorage::CheckAndUpdateRevision(uint32_t* previous)
{
    if (!indexCache_.StoreReserve()) {
        return false;
    }
    const uint32_t before = IncTokenDataRevision();
    if (previous != nullptr) {
        *previous = before;
    }
    return true;
}

}  // namespace qel
