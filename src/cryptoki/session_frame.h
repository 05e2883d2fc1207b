// State of one Cryptoki session and the engine behind its per-session functions: identity,
// two operation records, a cache of five mechanism clones and the context-login state.
#ifndef ZR_CRYPTOKI_SESSION_FRAME_H
#define ZR_CRYPTOKI_SESSION_FRAME_H

#include <array>
#include <atomic>
#include <memory>
#include <mutex>
#include <unordered_set>

#include "cryptoki/base_access.h"
#include "cryptoki/framework_types.h"
#include "objects/tok_mechanism.h"

namespace zrck {

class SessionFrame {
public:
    enum OperationModeEnum { MODE_NONE = 0, MODE_SINGLE_PART = 1, MODE_MULTI_PART = 2 };
    // Context-specific login of the current signing or decryption operation.
    enum ContextLoginState { CONTEXT_LOGIN_NONE = 0, CONTEXT_LOGIN_WAITING = 1, CONTEXT_LOGIN_DONE = 2 };

    struct TOperationParams {
        CryptoStateEnum kind = CRYPTO_STATE_NONE;
        CK_OBJECT_HANDLE key = 0;
        TokMechanism* mechanism = nullptr;
        OperationModeEnum mode = MODE_NONE;

        void Set(CryptoStateEnum newKind, CK_OBJECT_HANDLE newKey, TokMechanism* newMechanism);
        // Frees the record; the mechanism's resources are released, the object stays cached.
        void ResetOperation();
        void ClearData() { *this = TOperationParams(); }
        bool InUse() const { return kind != CRYPTO_STATE_NONE; }
    };

    class MechCache {
    public:
        static const size_t SIZE = 5;
        explicit MechCache(SessionFrame* owner) : mpOwner(owner) {}
        ~MechCache() { Clear(); }
        TokMechanism* Find(CK_MECHANISM_TYPE type) const;
        // Takes ownership; when full, evicts the last entry no operation uses (nor keep).
        void Put(TokMechanism* mechanism, TokMechanism* keep = nullptr);
        void Clear();
        size_t GetCount() const;

    private:
        SessionFrame* mpOwner;
        std::array<std::unique_ptr<TokMechanism>, SIZE> mEntries;
    };

    // Ends the guarded operation when a data call leaves by exception.
    class OperationGuard {
    public:
        OperationGuard(SessionFrame& frame, CryptoStateEnum kind) : mFrame(frame), mKind(kind) {}
        ~OperationGuard();
        void Deactivate() { mActive = false; }
        // Normal end: the secondary operation moves up.
        void ResetGuardedOperation();

    private:
        SessionFrame& mFrame;
        CryptoStateEnum mKind;
        bool mActive = true;
    };

    SessionFrame();
    SessionFrame(const SessionFrame&) = delete;
    SessionFrame& operator=(const SessionFrame&) = delete;
    virtual ~SessionFrame();

    // Session interface, implemented by Session with the token's lifetime held for the call.
    virtual Token* GetOwnerToken() = 0;
    // The token held for the caller's whole call, or empty when it has gone.
    virtual TokenPtr LockToken() const = 0;
    virtual bool CouldSeePrivateObjects() const = 0;
    virtual void Close() = 0;
    virtual void FillSessionInfo(CK_SESSION_INFO_PTR info) = 0;
    virtual CK_STATE GetState() = 0;
    virtual void SeedRandom(const tru::Buffer& seed) = 0;
    virtual void GenerateRandom(tru::Buffer& output) = 0;

    // Engine members.
    TokMechanism* GetCurrentMechanism(CryptoStateEnum kind, OperationModeEnum mode, bool final);
    void SetCurrentOperation(CryptoStateEnum kind, TokKey* key, TokMechanism* mechanism);
    // A cached mechanism of the type, or a new clone of the token's, cached.
    TokMechanism* FindMechanism(Token* token, CK_MECHANISM_TYPE type, TokMechanism* keep = nullptr);
    // A new clone the caller owns; the cache is not touched.
    std::unique_ptr<TokMechanism> CloneMechanism(Token* token, CK_MECHANISM_TYPE type);
    void VerifyKeyOperationAllowed(TokKey* key, CK_MECHANISM_TYPE type, CK_RV code) const;
    // Ends the session's operations and search. Never waits for a call of the session that
    // runs on another thread (the token may hold its own locks while it signals): such a
    // session is reset when that call has ended, before its next call starts.
    void LogoutSignaled();
    // Applies a logout signalled while a call was running; the caller holds the call mutex.
    void ApplyPendingLogout();

    const TOperationParams& GetPrimaryOperation() const { return mPrimary; }
    const TOperationParams& GetSecondaryOperation() const { return mSecondary; }
    MechCache& GetMechCache() { return mMechCache; }
    int GetContextLoginState() const { return mContextLoginState; }
    void SetContextLoginState(int state) { mContextLoginState = state; }

    CK_SESSION_HANDLE GetHandle() const { return mHandle.load(); }
    void SetHandle(CK_SESSION_HANDLE handle) { mHandle.store(handle); }
    CK_SLOT_ID GetSlotID() const { return mSlotID; }
    bool IsClosed() const { return mClosed.load(); }
    bool IsReadOnly() const { return mReadOnly.load(); }
    void SetReadOnly(bool readOnly) { mReadOnly.store(readOnly); }
    void SetApplication(CK_VOID_PTR application, CK_NOTIFY notify) {
        mpApplication = application;
        mNotify = notify;
    }
    // Serialises the calls of one session, including a close from another thread.
    std::recursive_mutex& GetCallMutex() { return mCallMutex; }

protected:
    void FillSessionInfo(Token* token, CK_SESSION_INFO_PTR info);
    CK_STATE GetState(Token* token);
    void SeedRandom(Token* token, const tru::Buffer& seed);
    void GenerateRandom(Token* token, tru::Buffer& output);
    void Close(Token* token);
    // Resets both records (primary first), drops the search and empties the cache.
    void ResetAllOperations();

    MechCache mMechCache;
    bool mSecondaryOperationAllowed = false;
    std::atomic<CK_SESSION_HANDLE> mHandle{0};
    CK_SLOT_ID mSlotID = 0;
    std::atomic<bool> mClosed{false};
    std::atomic<bool> mReadOnly{true};
    CK_VOID_PTR mpApplication = nullptr;
    CK_NOTIFY mNotify = nullptr;
    MutexPtr mpMutexForSessionObjects;
    std::unordered_set<CK_OBJECT_HANDLE> mSessionObjects;
    bool mSearchActive = false;
    TOperationParams mPrimary;
    TOperationParams mSecondary;
    int mContextLoginState = CONTEXT_LOGIN_NONE;

private:
    std::recursive_mutex mCallMutex;
    std::atomic<bool> mLogoutPending{false};
};

}  // namespace zrck

#endif  // ZR_CRYPTOKI_SESSION_FRAME_H
