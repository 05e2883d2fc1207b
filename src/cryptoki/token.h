// The framework's abstract token: login state, PIN rules, information, session limits and
// storage updates are asked of it; the driver's token implements what needs the device.
#ifndef ZR_CRYPTOKI_TOKEN_H
#define ZR_CRYPTOKI_TOKEN_H

#include <atomic>
#include <functional>
#include <memory>
#include <unordered_map>
#include <vector>

#include "ckbase/attribute.h"
#include "ckbase/base_access.h"
#include "cryptoki/framework_types.h"
#include "objects/object_token.h"

namespace zrck {

// The token's registry of object classes, which turns a creation template into an object.
class TokObjectClassFactory {
public:
    using CreationTest = std::function<bool(const AttributeTemplate&)>;
    using Generator = std::function<TokObject*()>;

    struct ClassProperties {
        CreationTest couldBeCreated;
        Generator generate;
    };

    explicit TokObjectClassFactory(Token* token) : mpToken(token) {}

    // The first registration of a (class, subtype) key is the one looked up by key; later
    // ones are still reached by the walk in registration order.
    void RegisterClass(CK_OBJECT_CLASS objectClass, CK_ULONG subtype, CreationTest test, Generator generator);
    // A new object owned by the caller, or null when no class accepts the template.
    TokObject* Generate(const AttributeTemplate& attributes) const;
    Token* GetToken() const { return mpToken; }

private:
    Token* mpToken;
    std::vector<ClassProperties> mRegistrations;
    std::unordered_map<unsigned long long, ClassProperties> mByKey;
};

class Token : public std::enable_shared_from_this<Token>, public ObjectToken {
public:
    explicit Token(Slot* slot);
    Token(const Token&) = delete;
    Token& operator=(const Token&) = delete;
    virtual ~Token();

    virtual void InitializeStorage() = 0;
    virtual void PostInit() = 0;
    virtual bool IsObjectsInitialized() = 0;
    virtual bool IsBusy() const = 0;
    virtual bool IsTokenPresent() = 0;
    virtual bool IsSecondaryOperationAllowed() { return false; }
    virtual bool IsOperationStateSaveable() { return false; }
    virtual void EnvelopeSessionState(const tru::Buffer& state, tru::BufferDynamic& envelope);
    virtual CK_ULONG EstimateSessionStateSize(const tru::Buffer& state);
    virtual void UnwrapSessionStateEnvelope(const tru::Buffer& envelope, tru::BufferDynamic& state);
    virtual void Update(bool changed) = 0;
    virtual void Refresh() = 0;
    virtual void SetDirty() { mDirty.store(true); }
    virtual void SetDirty(TokObject* object, AttributeTemplate* attributes) = 0;
    virtual bool IsDirty() const { return mDirty.load(); }
    virtual void CleanDirty();
    virtual bool IsTokenInitialized() = 0;
    virtual bool IsUserPinInitialized() = 0;
    virtual CK_ULONG GetMinPasswordLen() const = 0;
    virtual CK_ULONG GetMaxPasswordLen() const = 0;
    virtual void InitializeSO(const tru::Buffer& soPin, CK_UTF8CHAR_PTR label) = 0;
    virtual bool IsReadOnly() { return false; }
    virtual void FillTokenInfo(CK_TOKEN_INFO_PTR info) = 0;
    virtual CK_ULONG GetMechanismCount() = 0;
    virtual bool IsMechanismSupported(CK_MECHANISM_TYPE type) = 0;
    virtual void FillMechanismList(CK_MECHANISM_TYPE_PTR list, CK_ULONG length) = 0;
    virtual void FillMechanismInfo(CK_MECHANISM_TYPE type, CK_MECHANISM_INFO_PTR info) = 0;
    virtual CK_ULONG GetDeviceError() = 0;
    virtual void OpenSessionNotify(bool readWrite) = 0;
    virtual void CloseSessionNotify(bool readWrite) = 0;
    // Open sessions of this token's slot, counted over the session registry.
    virtual CK_ULONG GetSessionCount();
    virtual CK_ULONG GetRwSessionCount();
    virtual CK_ULONG GetMaxSessionsCount() = 0;
    virtual CK_ULONG GetMaxRwSessionsCount() = 0;
    bool IsLogged() override = 0;
    virtual bool IsUserLogged() { return mUserLogged.load(); }
    virtual void VerifyUserPassword(const tru::Buffer& pin) = 0;
    virtual void Login(CK_USER_TYPE userType, const tru::Buffer& pin) = 0;
    virtual void Logout() = 0;
    virtual void InitPin(const tru::Buffer& pin) = 0;
    virtual void ChangePin(const tru::Buffer& oldPin, const tru::Buffer& newPin) = 0;
    // The token's own mechanism object (never used for an operation itself), or null.
    virtual TokMechanism* GetMechanismIfSupported(CK_MECHANISM_TYPE type) = 0;
    // The same, held for a caller that uses it: a token retired by another thread meanwhile
    // drops its mechanism objects without waiting for the calls running in its sessions.
    virtual std::shared_ptr<TokMechanism> HoldMechanismIfSupported(CK_MECHANISM_TYPE type);
    virtual void SeedUserRandom(const tru::Buffer& seed) = 0;
    void GenerateUserRandom(tru::Buffer& output) override = 0;
    virtual int GetExternalRandom(tru::Buffer& output);
    // Tells every open session of the slot about a logout; true when all were visited.
    virtual bool SignalLogout();
    virtual bool IsUserSession() { return mUserLogged.load(); }
    void CalculateMark(const tru::Buffer& data, tru::BufferDynamic& mark) override;
    virtual void SetUserPinInitialized(bool initialized) = 0;
    virtual void DestroyAllObjects() = 0;
    // Runs body as a use of objects' token-held state. A token whose objects other processes
    // may change checks that each object still is the one its handle was given for (else throws
    // that object's `invalid`), once for all of them, in one token transaction with what body
    // sends: before body (Now); before body's first command that uses a key or reads a file and,
    // when body sent none, after a body that answered true (a result, not a length)
    // (BeforeItsCommands); or before such a command only, and otherwise against what this process
    // already knows, at no token command (ItsCommands).
    enum class ObjectUse { Now, BeforeItsCommands, ItsCommands };
    struct UsedObject {
        TokObject* object;
        CK_RV invalid;
    };
    virtual void UseObjects(const std::vector<UsedObject>& objects, ObjectUse when, const std::function<bool()>& body);
    void UseObject(TokObject& object, CK_RV invalid, ObjectUse when, const std::function<bool()>& body) {
        UseObjects({{&object, invalid}}, when, body);
    }

    Slot* GetSlot() const { return mpSlot; }
    bool IsSOLogged() const override { return mSOLogged.load(); }
    // Login flags, kept by the driver's login operations.
    void SetSOLogged(bool logged) { mSOLogged.store(logged); }
    void SetUserLogged(bool logged) { mUserLogged.store(logged); }
    TokObjectClassFactory* GetClassFactory() const { return mpClassFactory.get(); }
    vdk::MutexIntf& GetOperationMutex() const { return *mpOperationMutex; }

protected:
    void SetClassFactory(std::unique_ptr<TokObjectClassFactory> factory) { mpClassFactory = std::move(factory); }
    // Counts registered, open sessions of this slot that pass the filter.
    CK_ULONG CountSessions(const std::function<bool(const SessionFrame&)>& filter);

private:
    Slot* mpSlot;
    MutexPtr mpOperationMutex;
    std::atomic<bool> mSOLogged{false};
    std::atomic<bool> mUserLogged{false};
    std::atomic<bool> mDirty{false};
    std::unique_ptr<TokObjectClassFactory> mpClassFactory;
};

// Registers one object class with a token's class factory.
class ClassRegistrator {
public:
    ClassRegistrator(Token* token, CK_OBJECT_CLASS objectClass, CK_ULONG subtype,
                     TokObjectClassFactory::CreationTest test, TokObjectClassFactory::Generator generator);
};

}  // namespace zrck

#endif  // ZR_CRYPTOKI_TOKEN_H
