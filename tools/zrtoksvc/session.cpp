#include "session.h"

#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <vector>

#include "pin_terminal.h"
#include "support/os_services.h"
#include "support/vdk_exception.h"

namespace zrsvc {

LibFinalizer::~LibFinalizer() {
    pin_.Clear();
    if (session_ != 0) {
        CK_RV rv;
        if (loggedIn_ && (rv = functions_->C_Logout(session_)) != CKR_OK)
            std::printf("***C_Logout Error 0x%lx\n", rv);
        if ((rv = functions_->C_CloseSession(session_)) != CKR_OK)
            std::printf("***C_CloseSession Error 0x%lx\n", rv);
    }
    const CK_RV rv = functions_->C_Finalize(nullptr);
    if (rv != CKR_OK)
        std::printf("***C_Finalize Error 0x%lx\n", rv);
}

int ResolveFirstSlot(CK_FUNCTION_LIST_PTR functions, CK_SLOT_ID& slot) {
    if (slot != kSlotUnset)
        return ST_OK;
    CK_ULONG count = 0;
    CK_RV rv = functions->C_GetSlotList(CK_FALSE, nullptr, &count);
    if (rv != CKR_OK)
        return ReportCk("C_GetSlotList(0)", rv);
    std::vector<CK_SLOT_ID> list(count + 10, 0);
    CK_ULONG room = list.size();
    rv = functions->C_GetSlotList(CK_FALSE, list.data(), &room);
    if (rv != CKR_OK)
        return ReportCk("C_GetSlotList", rv);
    slot = list[0];
    return ST_OK;
}

int LibFinalizer::ResolveSlot(CK_SLOT_ID& slot) { return ResolveFirstSlot(functions_, slot); }

int LibFinalizer::OpenIfNeeded(CK_SLOT_ID& slot) {
    if (session_ != 0)
        return ST_OK;
    const CK_RV rv = functions_->C_OpenSession(slot, CKF_SERIAL_SESSION | CKF_RW_SESSION, nullptr, nullptr, &session_);
    if (rv == CKR_OK) {
        slot_ = slot;
        return ST_OK;
    }
    session_ = 0;
    if (rv == CKR_DEVICE_REMOVED || rv == CKR_TOKEN_NOT_PRESENT) {
        ReportCk("C_OpenSession", rv);
        return ST_NO_TOKEN;
    }
    ThrowCk("C_OpenSession", rv);
}

int LibFinalizer::OpenSessionInt(CK_SLOT_ID& slot) {
    if (session_ != 0)
        return ST_OK;
    const int status = ResolveSlot(slot);
    return status != ST_OK ? status : OpenIfNeeded(slot);
}

CK_RV LibFinalizer::Login(const SecretText& pin) {
    return functions_->C_Login(session_, CKU_USER, pin.ck(), pin.size());
}

namespace {

// Typed PINs one run may send at most.
constexpr int kTypedTries = 3;

}  // namespace

bool IsPinRefusal(CK_RV rv) {
    return rv == CKR_PIN_INCORRECT || rv == CKR_PIN_INVALID || rv == CKR_PIN_LEN_RANGE || rv == CKR_PIN_EXPIRED ||
           rv == CKR_PIN_LOCKED;
}

bool LibFinalizer::LoginOnce(const SecretText& pin) {
    const CK_RV rv = Login(pin);
    if (rv == CKR_OK) {
        pin_ = pin;
        loggedIn_ = true;
        return true;
    }
    if (!IsPinRefusal(rv))
        ThrowCk("C_Login", rv);
    ReportCk("C_Login", rv);
    refusal_ = rv;
    return false;
}

SecretText LibFinalizer::AskForPin(bool interactive, bool afterRefusal) {
    if (askingEnded_ || typed_ >= kTypedTries)
        return SecretText();
    // After a refusal only a terminal is asked again; a missing PIN is read once from a pipe.
    const bool terminal = isatty(STDIN_FILENO) == 1;
    if (afterRefusal ? !terminal : !interactive || (!terminal && typed_ > 0))
        return SecretText();
    if (afterRefusal && typed_ == 0 && givenRefused_)
        std::printf("Cannot login with default password.\n");
    SecretText typed = PromptPassword("Enter %s password:", "user");
    ++typed_;
    if (typed.empty())
        askingEnded_ = true;
    return typed;
}

void LibFinalizer::GiveUp() {
    if (refusal_ != CKR_OK)
        throw CkError{refusal_};
    if (!missingReported_) {
        std::fflush(stdout);
        std::fprintf(stderr, "Cannot log in - no password specified\n");
        missingReported_ = true;
    }
    throw IntError{static_cast<int>(CKR_PIN_INCORRECT)};
}

int LibFinalizer::OpenSessionAndLoginInt(CK_SLOT_ID& slot, const SecretText& pin, bool interactive) {
    if (loggedIn_)
        return ST_OK;
    int status = ResolveSlot(slot);
    if (status == ST_OK)
        status = OpenIfNeeded(slot);
    if (status != ST_OK)
        return status;
    if (!pin_.empty()) {
        // Accepted earlier in this run, by a session since closed.
        const SecretText accepted = pin_;
        pin_.Clear();
        if (LoginOnce(accepted))
            return ST_OK;
        givenRefused_ = true;
    }
    if (!pin.empty() && !givenRefused_) {
        if (LoginOnce(pin))
            return ST_OK;
        givenRefused_ = true;
    }
    for (;;) {
        const SecretText typed = AskForPin(interactive, refusal_ != CKR_OK);
        if (typed.empty())
            break;
        if (LoginOnce(typed))
            return ST_OK;
    }
    GiveUp();
}

bool LibFinalizer::OpenSessionAndTryToLogin(CK_SLOT_ID& slot, const SecretText& pin, bool interactive) {
    try {
        OpenSessionAndLoginInt(slot, pin, interactive);
    } catch (const IntError& e) {
        if (e.value != static_cast<int>(CKR_PIN_INCORRECT))
            throw;
        return false;
    } catch (const CkError& e) {
        if (!IsPinRefusal(e.rv))
            throw;
        return false;
    }
    return true;
}

bool LibFinalizer::TryToLogin(const SecretText& pin) {
    if (session_ == 0)
        return false;
    if (loggedIn_)
        return true;
    if (pin.empty() || givenRefused_)
        return false;
    if (LoginOnce(pin))
        return true;
    givenRefused_ = true;
    return false;
}

int LibFinalizer::SeedRandom(const tru::Buffer& seed) {
    if (seed.Empty())
        return 0;
    const CK_RV rv = functions_->C_SeedRandom(session_, const_cast<uint8_t*>(seed.Data()), seed.Size());
    if (rv != CKR_OK)
        ReportCk("C_SeedRandom", rv);
    return 1;
}

void LibFinalizer::CloseSession() {
    if (session_ == 0)
        return;
    const CK_RV rv = functions_->C_CloseSession(session_);
    session_ = 0;
    if (rv == CKR_OK || rv == CKR_DEVICE_REMOVED || rv == CKR_SESSION_CLOSED || rv == CKR_SESSION_HANDLE_INVALID ||
        rv == CKR_TOKEN_NOT_PRESENT) {
        loggedIn_ = false;
        return;
    }
    ThrowCk("C_CloseSession", rv);
}

SecretText GetPassword() {
    constexpr size_t kMaxPin = 1024;
    vdk::SafeBuffer typed(kMaxPin);
    size_t length = 0;
    PinTerminal::Hold();
    while (length < kMaxPin) {
        // Ctrl-C while the token was busy ends the entry before it waits for a key.
        if (IsCtrlBreakDetected())
            throw IntError{1};
        const int c = std::getchar();
        const int error = errno;
        // Ctrl-C reaches us as SIGINT while the terminal generates signals.
        if (c == 3 || c == 26 || IsCtrlBreakDetected())
            throw IntError{1};
        if (c < 0 && std::ferror(stdin) && error == EINTR) {
            std::clearerr(stdin);  // another signal (Ctrl-Z and continued): go on reading
            continue;
        }
        if (c < 0 || c == 13 || c == 10)
            break;
        if (PinTerminal::IsErase(c)) {
            if (length > 0)
                typed.Data()[--length] = 0;
            continue;
        }
        typed.Data()[length++] = static_cast<uint8_t>(c);
    }
    std::printf("\n");
    std::fflush(stdout);
    SecretText pin;
    pin.Assign(typed.Data(), length);  // size() ends at the first zero character
    return pin;
}

SecretText PromptPassword(const char* format, const char* kind) {
    // Echo goes off before the prompt shows, so that nothing typed at once is echoed.
    PinTerminal::Hold();
    std::printf(format, kind);
    std::fflush(stdout);
    return GetPassword();
}

SecretText GetConfirmedPassword(const char* kind) {
    for (int round = 0; round < 5; ++round) {
        SecretText first = PromptPassword("Enter %s password:", kind);
        SecretText second = PromptPassword("Repeat %s password:", kind);
        if (first == second)
            return first;
        std::printf("%s password and confirmation differ!\n", kind);
    }
    throw vdk::Exception("No valid password entered");
}

bool AskYesNo() {
    std::printf("Y/N ?");
    std::fflush(stdout);
    const int c = vdk::getch();
    std::printf("\n");
    return c == 'Y' || c == 'y';
}

void ReadTokenParams(SvcParams& params) {
    CK_SLOT_INFO slotInfo{};
    CK_RV rv = params.functions->C_GetSlotInfo(params.slot, &slotInfo);
    if (rv != CKR_OK)
        ThrowCk("C_GetSlotInfo", rv);
    if ((slotInfo.flags & CKF_TOKEN_PRESENT) == 0)
        return;
    CK_TOKEN_INFO tokenInfo{};
    rv = params.functions->C_GetTokenInfo(params.slot, &tokenInfo);
    if (rv != CKR_OK)
        ThrowCk("C_GetTokenInfo", rv);
    params.tokenInitialized = (tokenInfo.flags & CKF_TOKEN_INITIALIZED) != 0;
    params.loginRequired = (tokenInfo.flags & CKF_LOGIN_REQUIRED) != 0;
}

}  // namespace zrsvc
