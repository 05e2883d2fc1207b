// The run's one Cryptoki session, its user login and the accepted PIN; PIN entry.
#pragma once

#include <string>

#include "svc_types.h"

namespace zrsvc {

class LibFinalizer {
public:
    explicit LibFinalizer(CK_FUNCTION_LIST_PTR functions) : functions_(functions) {}
    // Wipes the PIN, logs out, closes the session and finalises the library; never throws.
    ~LibFinalizer();
    LibFinalizer(const LibFinalizer&) = delete;
    LibFinalizer& operator=(const LibFinalizer&) = delete;

    // 0 open; 3 token absent or removed; 5 slot list failed; other failures throw CkError.
    int OpenSessionInt(CK_SLOT_ID& slot);
    // 0 logged in; 3; 5; a refused login throws CkError, no PIN at all IntError{0xA0}.
    // Each PIN is sent at most once a run: a PIN the token refused is never sent again. A missing
    // PIN is asked for when interactive (read once from a pipe); after a refusal only a terminal
    // is asked, each typed PIN sent once, up to three, an empty answer ending the asking.
    // Each refusal is reported once, on standard error, as is a missing PIN.
    int OpenSessionAndLoginInt(CK_SLOT_ID& slot, const SecretText& pin, bool interactive);
    // False when the PIN was refused or missing.
    bool OpenSessionAndTryToLogin(CK_SLOT_ID& slot, const SecretText& pin, bool interactive);
    bool TryToLogin(const SecretText& pin);
    int SeedRandom(const tru::Buffer& seed);
    void CloseSession();

    CK_FUNCTION_LIST_PTR Functions() const { return functions_; }
    CK_SESSION_HANDLE Session() const { return session_; }
    // For the administration commands, which own their sessions: the statistics report
    // borrows this one only while it runs.
    void BorrowSession(CK_SESSION_HANDLE session, bool loggedIn = false) {
        session_ = session;
        loggedIn_ = loggedIn;
    }
    bool IsLoggedIn() const { return loggedIn_; }

private:
    int ResolveSlot(CK_SLOT_ID& slot);
    int OpenIfNeeded(CK_SLOT_ID& slot);
    CK_RV Login(const SecretText& pin);
    // Sends the PIN once: true when accepted (then remembered); a refusal is reported and
    // remembered, any other failure thrown.
    bool LoginOnce(const SecretText& pin);
    // The next typed PIN, or empty when no more may be asked for in this run.
    SecretText AskForPin(bool interactive, bool afterRefusal);
    // Throws the last refusal, or reports the missing PIN (once) and throws IntError{0xA0}.
    [[noreturn]] void GiveUp();

    CK_FUNCTION_LIST_PTR functions_;
    CK_SESSION_HANDLE session_ = 0;
    CK_SLOT_ID slot_ = 0;
    bool loggedIn_ = false;
    SecretText pin_;
    CK_RV refusal_ = CKR_OK;      // the last refusal in this run
    bool givenRefused_ = false;
    bool askingEnded_ = false;    // no more prompts in this run
    int typed_ = 0;               // PINs typed in this run
    bool missingReported_ = false;
};

// The answers of C_Login that refuse the PIN itself.
bool IsPinRefusal(CK_RV rv);

// The PIN typed on the terminal without echo, at most 1024 characters; Ctrl-C or Ctrl-Z
// throws IntError{1}. On a terminal its erase character, DEL and BS remove the last character;
// bytes from a pipe are all kept. Echo stays off until the run ends (PinTerminal).
SecretText GetPassword();
// The prompt (format with one %s for the kind), written once echo is off, then GetPassword.
SecretText PromptPassword(const char* format, const char* kind);
// The PIN typed twice alike, up to five rounds; then vdk::Exception "No valid password entered".
SecretText GetConfirmedPassword(const char* kind);
// "Y/N ?" and one key; true for Y or y.
bool AskYesNo();

// With slot unset, the first slot of the whole list (0 when there is none); 5 after reporting
// a failed list.
int ResolveFirstSlot(CK_FUNCTION_LIST_PTR functions, CK_SLOT_ID& slot);

// Fills tokenInitialized and loginRequired; failures throw CkError.
void ReadTokenParams(SvcParams& params);

}  // namespace zrsvc
