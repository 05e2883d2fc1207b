// Root of everything a Cryptoki object handle can name, and the PKCS#11 storage object.
#ifndef ZR_OBJECTS_TOK_OBJECT_H
#define ZR_OBJECTS_TOK_OBJECT_H

#include <atomic>
#include <string>

#include "ckbase/attribute.h"
#include "objects/object_token.h"
#include "objects/object_types.h"

namespace zrck {

class TokObject {
public:
    enum ObjectLifeTimeEnum {
        LIFETIME_SESSION = 1,
        LIFETIME_TOKEN = 2,
        LIFETIME_FIXED = 3,  // the token's own objects
        LIFETIME_MECHANISM = 4,
    };
    enum ObjectVisibilityEnum {
        VISIBILITY_PUBLIC = 0,
        VISIBILITY_PRIVATE = 1,
    };

    TokObject() = default;
    TokObject(const TokObject&) = delete;
    TokObject& operator=(const TokObject&) = delete;
    virtual ~TokObject() = default;

    // A null token leaves the pointer unchanged; ClearTokenPtr drops it.
    virtual void SetTokenPtr(ObjectToken* token);
    void ClearTokenPtr() { mpToken.store(nullptr); }
    ObjectToken* GetTokenPtr() const { return mpToken.load(); }

    virtual CK_SESSION_HANDLE GetOwnerSession() const { return mOwnerSession; }
    // Recorded for session objects only.
    virtual void SetOwnerSession(CK_SESSION_HANDLE session);
    virtual CK_OBJECT_CLASS GetClass() const = 0;
    virtual bool IsObjectMeetConditions(const AttributeTemplate& search) const;
    virtual bool IsMyAttributeType(CK_ATTRIBUTE_TYPE type) const { return type == CKA_CLASS; }
    virtual ObjectLifeTimeEnum GetLifeTime() const = 0;
    virtual void SetLifeTime(ObjectLifeTimeEnum lifeTime) = 0;
    virtual ObjectVisibilityEnum GetVisibility() const = 0;
    virtual void SetVisibility(ObjectVisibilityEnum visibility) = 0;
    // Fills every entry; the first non-zero code is returned, never thrown.
    virtual CK_RV GetAttributes(AttributeTemplate& attributes) = 0;
    virtual CK_RV UpdateAttributes(AttributeTemplate& attributes) = 0;
    virtual void InitializeWithAttributes(ObjectToken* token, AttributeTemplate& attributes) = 0;
    virtual void SetupAttributes(ObjectToken* token, AttributeTemplate& attributes) = 0;
    virtual void RegisterObject() {}
    virtual bool IsLocked(unsigned int level) const { return mLockCount.load() > level; }
    virtual void Lock() { ++mLockCount; }
    // Never goes below zero.
    virtual void Unlock();
    virtual const char* GetObjectClassName() const = 0;
    virtual std::string ToString() const { return std::string(); }
    virtual TokObject* GenerateCopy() = 0;
    virtual CK_RV FillAttribute(Attribute& attribute);
    virtual void SetupAttribute(const Attribute& attribute) = 0;

    unsigned int GetLockLevel() const { return mLockCount.load(); }
    CK_OBJECT_HANDLE GetHandle() const { return mHandle.load(); }
    void SetHandle(CK_OBJECT_HANDLE handle) { mHandle.store(handle); }
    bool IsDeleted() const { return mDeleted.load(); }
    // Returns the previous mark.
    bool SetDeleted(bool deleted) { return mDeleted.exchange(deleted); }

private:
    std::atomic<ObjectToken*> mpToken{nullptr};
    std::atomic<CK_OBJECT_HANDLE> mHandle{0};
    CK_SESSION_HANDLE mOwnerSession = 0;
    std::atomic<unsigned int> mLockCount{0};
    std::atomic<bool> mDeleted{false};
};

class TokStorageObject : public TokObject {
public:
    static const unsigned int COPY_MODE = 8;

    bool IsObjectMeetConditions(const AttributeTemplate& search) const override;
    bool IsMyAttributeType(CK_ATTRIBUTE_TYPE type) const override;
    ObjectLifeTimeEnum GetLifeTime() const override { return mLifeTime; }
    void SetLifeTime(ObjectLifeTimeEnum lifeTime) override { mLifeTime = lifeTime; }
    ObjectVisibilityEnum GetVisibility() const override { return mVisibility; }
    void SetVisibility(ObjectVisibilityEnum visibility) override { mVisibility = visibility; }
    CK_RV UpdateAttributes(AttributeTemplate& attributes) override;
    CK_RV FillAttribute(Attribute& attribute) override;
    void SetupAttribute(const Attribute& attribute) override;

    virtual void InitDefaults() = 0;
    virtual CK_BBOOL IsModifiable() const = 0;
    virtual const tru::Buffer& GetLabel() const = 0;
    virtual CK_BBOOL IsCopyable() const = 0;
    virtual void SetCopyable(bool copyable) = 0;
    virtual CK_ULONG GetObjectSize() = 0;
    virtual void SetModifiable(bool modifiable) = 0;
    virtual void SetLabel(const tru::Buffer& label) = 0;

    bool IsTokenObject() const { return mLifeTime >= LIFETIME_TOKEN && mLifeTime <= LIFETIME_MECHANISM; }
    bool IsPrivateObject() const { return mVisibility == VISIBILITY_PRIVATE; }
    unsigned int GetCopyMode() const { return mCopyMode; }
    void SetCopyMode(unsigned int mode) { mCopyMode = mode; }

    static bool IsTokStorageObject(const TokObject* object);
    // Throws a code-0 exception for hardware features and mechanisms.
    static TokStorageObject* AsTokStorageObject(TokObject* object);

protected:
    // Walks the template with FillAttribute; the first non-zero code is the result.
    CK_RV FillAll(AttributeTemplate& attributes);
    // Applies the unprocessed entries through SetupAttribute.
    void SetupAll(ObjectToken* token, AttributeTemplate& attributes);

private:
    unsigned int mCopyMode = 0;
    ObjectLifeTimeEnum mLifeTime = LIFETIME_SESSION;
    ObjectVisibilityEnum mVisibility = VISIBILITY_PUBLIC;
};

// Hands the token's user random generator to code that needs random bytes (PKCS#1 padding).
class TokRandomGenerator {
public:
    explicit TokRandomGenerator(ObjectToken* token) : mpToken(token) {}
    virtual ~TokRandomGenerator() = default;
    // Fills the whole buffer; 0 on success, failures are thrown by the token.
    virtual int GetNext(tru::Buffer& output);

private:
    ObjectToken* mpToken;
};

}  // namespace zrck

#endif  // ZR_OBJECTS_TOK_OBJECT_H
