// State of one Cryptoki session and the engine behind its per-session functions: identity,
// two operation records, a cache of five mechanism clones and the context-login state.
#ifndef ZR_CRYPTOKI_SESSION_FRAME_H
#define ZR_CRYPTOKI_SESSION_FRAME_H

#include <array>
#include <atomic>
#include <functional>
#include <list>
#include <memory>
#include <mutex>
#include <unordered_set>
#include <utility>
#include <vector>

#include "ckbase/base_access.h"
#include "ckbase/exception.h"
#include "cryptoki/framework_types.h"
#include "cryptoki/slot.h"
#include "cryptoki/token.h"
#include "objects/tok_mechanism.h"

namespace zrck {

class SessionFrame : public MechanismSession {
public:
    enum OperationModeEnum { MODE_NONE = 0, MODE_SINGLE_PART = 1, MODE_MULTI_PART = 2 };
    // Context-specific login of the current signing or decryption operation.
    enum ContextLoginState { CONTEXT_LOGIN_NONE = 0, CONTEXT_LOGIN_WAITING = 1, CONTEXT_LOGIN_DONE = 2 };

    struct TOperationParams {
        CryptoStateEnum kind = CRYPTO_STATE_NONE;
        CK_OBJECT_HANDLE key = 0;
        // Owns the key while the operation runs: its mechanism holds only a reference, and the
        // registry may drop the object (another process destroyed it) before the operation ends.
        TokObjectPtr keyObject;
        TokMechanism* mechanism = nullptr;
        OperationModeEnum mode = MODE_NONE;

        void Set(CryptoStateEnum newKind, const TokObjectPtr& newKey, TokMechanism* newMechanism);
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

    // Commits the objects a creating call made, or rolls them back when the call fails.
    class IncubatorGuard {
    public:
        explicit IncubatorGuard(SessionFrame& frame);
        ~IncubatorGuard();
        IncubatorGuard(const IncubatorGuard&) = delete;
        IncubatorGuard& operator=(const IncubatorGuard&) = delete;
        void Clear();

    private:
        SessionFrame& mFrame;
        bool mCommitted = false;
    };

    // Runs the steps of an object operation that write to the token; a driver takes its
    // device lock around them. The default just runs them.
    using StorageRunner = std::function<void(const std::function<void()>&)>;

    SessionFrame();
    SessionFrame(const SessionFrame&) = delete;
    SessionFrame& operator=(const SessionFrame&) = delete;
    virtual ~SessionFrame();

    // Session interface, implemented by Session with the token's lifetime held for the call.
    Token* GetOwnerToken() override = 0;
    // The token held for the caller's whole call, or empty when it has gone.
    virtual TokenPtr LockToken() const = 0;
    virtual bool CouldSeePrivateObjects() const = 0;
    virtual void Close() = 0;
    // Closes the session when no call of another thread is in it; else marks it closed for
    // every later call and leaves the end of its operations to the last holder (the session's
    // destruction), so a close on a retired token's behalf never waits for a running call.
    void CloseWithoutWaiting();
    virtual void FillSessionInfo(CK_SESSION_INFO_PTR info) = 0;
    virtual CK_STATE GetState() = 0;
    virtual void SeedRandom(const tru::Buffer& seed) = 0;
    void GenerateRandom(tru::Buffer& output) override = 0;

    // Object, search, key and cryptographic calls of the session: each runs with the token
    // held and the session's calls serialised (CKR_SESSION_CLOSED when the token is gone).
    TokObjectPtr CreateObject(AttributeTemplate& attributes, bool initialize) override;
    CK_OBJECT_HANDLE CreateTokObject(AttributeTemplate& attributes);
    CK_OBJECT_HANDLE CopyTokObject(CK_OBJECT_HANDLE source, AttributeTemplate& attributes);
    void DeleteTokObject(CK_OBJECT_HANDLE handle, const std::string& reason, const StorageRunner& storage = nullptr);
    CK_RV GetAttributes(CK_OBJECT_HANDLE handle, AttributeTemplate& attributes);
    CK_RV UpdateAttributes(CK_OBJECT_HANDLE handle, AttributeTemplate& attributes);
    CK_ULONG GetObjectSize(CK_OBJECT_HANDLE handle);
    void ClearIncubator();
    void FixIncubator();
    // Null objects are not kept; an object already incubated is kept once.
    void PutToIncubator(const TokObjectPtr& object);

    void StartSearch(AttributeTemplate& attributes);
    CK_ULONG Search(CK_OBJECT_HANDLE* handles, CK_ULONG maximum);
    bool IsSearchActive() const { return mSearchActive.load(); }
    // Drops the results and ends the search.
    void EndSearch();

    CK_OBJECT_HANDLE GenerateKey(const MechanismParameter& parameter, AttributeTemplate& attributes);
    std::pair<CK_OBJECT_HANDLE, CK_OBJECT_HANDLE> GenerateKeyPair(const MechanismParameter& parameter,
                                                                  AttributeTemplate& publicAttributes,
                                                                  AttributeTemplate& privateAttributes);
    CK_OBJECT_HANDLE DeriveKey(const MechanismParameter& parameter, TokKey& baseKey, AttributeTemplate& attributes);
    void WrapKey(const MechanismParameter& parameter, TokKey* wrappingKey, TokKey& key, unsigned char* out,
                 CK_ULONG* outLen);
    CK_OBJECT_HANDLE UnwrapKey(const MechanismParameter& parameter, TokKey* unwrappingKey, const tru::Buffer& wrapped,
                               AttributeTemplate& attributes);

    void GetOperationState(unsigned char* out, CK_ULONG* outLen);
    void SetOperationState(const tru::Buffer& envelope, CK_OBJECT_HANDLE encryptionKey,
                           CK_OBJECT_HANDLE authenticationKey);

    void OperationInit(CryptoStateEnum kind, const MechanismParameter& parameter, TokKey& key);
    void DigestInit(const MechanismParameter& parameter);
    // The single-part, update and final calls that produce output.
    void Encrypt(const tru::Buffer& data, unsigned char* out, CK_ULONG* outLen);
    void EncryptUpdate(const tru::Buffer& data, unsigned char* out, CK_ULONG* outLen);
    void EncryptFinal(unsigned char* out, CK_ULONG* outLen);
    void Decrypt(const tru::Buffer& data, unsigned char* out, CK_ULONG* outLen);
    void DecryptUpdate(const tru::Buffer& data, unsigned char* out, CK_ULONG* outLen);
    void DecryptFinal(unsigned char* out, CK_ULONG* outLen);
    void Sign(const tru::Buffer& data, unsigned char* out, CK_ULONG* outLen);
    void SignUpdate(const tru::Buffer& data);
    void SignFinal(unsigned char* out, CK_ULONG* outLen);
    bool Verify(const tru::Buffer& data, const tru::Buffer& signature);
    void VerifyUpdate(const tru::Buffer& data);
    bool VerifyFinal(const tru::Buffer& signature);
    void SignRecover(const tru::Buffer& data, unsigned char* out, CK_ULONG* outLen);
    void VerifyRecover(const tru::Buffer& signature, unsigned char* out, CK_ULONG* outLen);
    void Digest(const tru::Buffer& data, unsigned char* out, CK_ULONG* outLen);
    void DigestUpdate(const tru::Buffer& data);
    void DigestKey(TokSecretKey& key);
    void DigestFinal(unsigned char* out, CK_ULONG* outLen);
    // Dual updates: kind of the first operation, kind of the second.
    void DualUpdate(CryptoStateEnum first, CryptoStateEnum second, const tru::Buffer& data, unsigned char* out,
                    CK_ULONG* outLen);

    // Creation rules of a template: true when it asks for a token object.
    virtual bool VerifyTokenAttr(const AttributeTemplate& attributes);
    virtual bool VerifyObjUpdateAllowed(TokObject& object, const AttributeTemplate& attributes);

    // Engine members.
    TokMechanism* GetCurrentMechanism(CryptoStateEnum kind, OperationModeEnum mode, bool final);
    void SetCurrentOperation(CryptoStateEnum kind, const TokObjectPtr& key, TokMechanism* mechanism);
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
    // The key of the running operation of that kind; null for none.
    TokObject* OperationKey(CryptoStateEnum kind) const {
        return mPrimary.kind == kind     ? mPrimary.keyObject.get()
               : mSecondary.kind == kind ? mSecondary.keyObject.get()
                                         : nullptr;
    }
    MechCache& GetMechCache() { return mMechCache; }
    int GetContextLoginState() const { return mContextLoginState; }
    void SetContextLoginState(int state) { mContextLoginState = state; }

    CK_SESSION_HANDLE GetHandle() const { return mHandle.load(); }
    void SetHandle(CK_SESSION_HANDLE handle) { mHandle.store(handle); }
    CK_SLOT_ID GetSlotID() const { return mSlotID; }
    bool IsClosed() const { return mClosed.load(); }
    bool IsReadOnly() const override { return mReadOnly.load(); }
    void SetReadOnly(bool readOnly) { mReadOnly.store(readOnly); }
    void SetApplication(CK_VOID_PTR application, CK_NOTIFY notify) {
        mpApplication = application;
        mNotify = notify;
    }
    // Serialises the calls of one session, including a close from another thread.
    using CallMutex = vdk::RankedRecursiveMutex;
    CallMutex& GetCallMutex() { return mCallMutex; }

protected:
    // Runs body(token) with the token held and the session's calls serialised.
    template <class Body>
    auto InSession(Body body) -> decltype(body(static_cast<Token*>(nullptr))) {
        TokenPtr token = LockToken();
        if (!token) throw Exception(CKR_SESSION_CLOSED);
        std::lock_guard<CallMutex> call(GetCallMutex());
        ApplyPendingLogout();
        return body(token.get());
    }

    // Object members (the token is the session's, held for the call).
    TokObjectPtr CreateObject(Token* token, AttributeTemplate& attributes, bool initialize);
    TokObjectPtr CopyObject(Token* token, TokObject& source, AttributeTemplate& attributes);
    void DeleteTokObject(Token* token, CK_OBJECT_HANDLE handle, const std::string& reason,
                         const StorageRunner& storage);
    void ClearIncubator(Token* token);
    void FixIncubator(Token* token);
    void AddSessionObject(TokObject& object);
    void RemoveSessionObject(CK_OBJECT_HANDLE handle);
    bool IsUserLogged(Token* token) const;
    // Checks a new object (read-only session, private without login), gives it its handle
    // and writes it to the token or keeps it as this session's object.
    CK_OBJECT_HANDLE PlaceNewObject(Token* token, const TokObjectPtr& object, AttributeTemplate* written,
                                    const char* readOnlyText, const char* privateText);
    void ExecuteSearch(Token* token, Slot::SearchAccelerator& accelerator, const AttributeTemplate& attributes);

    // A key a call uses (null: none), and the code that answers when it has left the token or
    // its handle no longer names it.
    struct KeyUse {
        TokObject* key;
        CK_RV invalid;
    };
    // The one way a call reaches its keys: each is held for the call and must still be the object
    // its handle names, then the token checks them all in the call's own transaction as `when`
    // says (Token::UseObjects) around body. Returns the keys held, in order (null for none).
    std::vector<TokObjectPtr> UseKeys(Token* token, const std::vector<KeyUse>& keys, Token::ObjectUse when,
                                      const std::function<bool()>& body);

    // Cryptographic engine: a guarded data call of kind, mode and final flag. CHECK_RESULT: the
    // call gives the caller what the key computed, so the key is checked on the token even when
    // the call sends no command.
    enum CallCheck {
        CHECK_LOGIN = 1,
        CHECK_EMPTY_SIGN = 2,
        CHECK_EMPTY_DIGEST = 4,
        CHECK_LOGIN_FIRST = 8,
        CHECK_RESULT = 16
    };
    void CheckCall(TokMechanism& mechanism, int checks, const tru::Buffer* input) const;
    // Runs call on the active operation of the kind, with the operation's key and `usedKey` (a
    // key the call takes, checked before it) in use; false from call is a short buffer. With
    // ends the operation ends after success.
    void GuardedCall(CryptoStateEnum kind, OperationModeEnum mode, bool final, int checks, const tru::Buffer* input,
                     bool ends, const std::function<bool(TokMechanism&)>& call, TokObject* usedKey = nullptr);
    bool VerifyCall(OperationModeEnum mode, bool final, const tru::Buffer* input,
                    const std::function<bool(TokMechanism&)>& call);
    TokMechanism* InitMechanism(Token* token, CryptoStateEnum kind, CK_MECHANISM_TYPE type);
    void StartKeyOperation(CryptoStateEnum kind, TokMechanism& mechanism, const MechanismParameter& parameter,
                           TokKey& key);

    void FillSessionInfo(Token* token, CK_SESSION_INFO_PTR info);
    CK_STATE GetState(Token* token);
    void SeedRandom(Token* token, const tru::Buffer& seed);
    void GenerateRandom(Token* token, tru::Buffer& output);
    void Close(Token* token);
    // Removes the session's own objects from the slot.
    void DropSessionObjects(Token* token);
    // A close left to the last holder by CloseWithoutWaiting.
    bool IsCloseDeferred() const { return mCloseDeferred.load(); }
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
    std::atomic<bool> mSearchActive{false};
    std::vector<CK_OBJECT_HANDLE> mSearchResults;
    size_t mSearchPosition = 0;
    std::list<TokObjectPtr> mIncubator;
    TOperationParams mPrimary;
    TOperationParams mSecondary;
    int mContextLoginState = CONTEXT_LOGIN_NONE;

private:
    CallMutex mCallMutex{vdk::LockRank::kSessionCall, "SessionCall"};
    std::atomic<bool> mLogoutPending{false};
    std::atomic<bool> mCloseDeferred{false};
};

}  // namespace zrck

#endif  // ZR_CRYPTOKI_SESSION_FRAME_H
