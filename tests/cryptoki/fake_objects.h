// Small concrete objects and a toy mechanism over the abstract bases, for tests.
#ifndef ZR_TESTS_FAKE_OBJECTS_H
#define ZR_TESTS_FAKE_OBJECTS_H

#include <map>
#include <string>
#include <vector>

#include "cryptoki/session_frame.h"
#include "objects/tok_key.h"
#include "objects/tok_mechanism.h"
#include "tru2/buffer.h"

namespace zrtest {

// Byte string held by value, exposed as a tru::Buffer view.
class Bytes {
public:
    const tru::Buffer& View() const { return mView; }
    void Assign(const tru::Buffer& from);
    void Assign(const std::string& from) { Assign(tru::Buffer(from.data(), static_cast<uint32_t>(from.size()))); }

private:
    std::vector<unsigned char> mBytes;
    tru::Buffer mView;
};

// A CKO_DATA-like storage object with only the storage attributes.
class FakeDataObject : public zrck::TokStorageObject {
public:
    static bool ClassCouldBeCreated(const zrck::AttributeTemplate& attributes);

    CK_OBJECT_CLASS GetClass() const override { return CKO_DATA; }
    CK_RV GetAttributes(zrck::AttributeTemplate& attributes) override { return FillAll(attributes); }
    void InitializeWithAttributes(zrck::ObjectToken* token, zrck::AttributeTemplate& attributes) override {
        SetupAll(token, attributes);
    }
    void SetupAttributes(zrck::ObjectToken* token, zrck::AttributeTemplate& attributes) override {
        SetupAll(token, attributes);
    }
    const char* GetObjectClassName() const override { return "FakeDataObject"; }
    zrck::TokObject* GenerateCopy() override;
    void InitDefaults() override {}
    CK_BBOOL IsModifiable() const override { return mModifiable; }
    const tru::Buffer& GetLabel() const override { return mLabel.View(); }
    CK_BBOOL IsCopyable() const override { return mCopyable; }
    void SetCopyable(bool copyable) override { mCopyable = copyable; }
    CK_ULONG GetObjectSize() override { return 100; }
    void SetModifiable(bool modifiable) override { mModifiable = modifiable; }
    void SetLabel(const tru::Buffer& label) override { mLabel.Assign(label); }

private:
    CK_BBOOL mModifiable = CK_TRUE;
    CK_BBOOL mCopyable = CK_TRUE;
    Bytes mLabel;
};

// A generic secret key whose values live in plain fields.
class FakeSecretKey : public zrck::TokGenericSecretKey {
public:
    const char* GetObjectClassName() const override { return "FakeSecretKey"; }
    zrck::TokObject* GenerateCopy() override { return nullptr; }
    void InitDefaults() override {}
    CK_BBOOL IsModifiable() const override { return mFlags[0]; }
    const tru::Buffer& GetLabel() const override { return mLabel.View(); }
    CK_BBOOL IsCopyable() const override { return mFlags[1]; }
    void SetCopyable(bool value) override { mFlags[1] = value; }
    CK_ULONG GetObjectSize() override { return 32; }
    void SetModifiable(bool value) override { mFlags[0] = value; }
    void SetLabel(const tru::Buffer& label) override { mLabel.Assign(label); }
    const tru::Buffer& GetKeyID() const override { return mId.View(); }
    void SetKeyID(const tru::Buffer& id) override { mId.Assign(id); }
    CK_DATE GetStartDate() const override { return mStart; }
    void SetStartDate(const CK_DATE& date) override { mStart = date; }
    CK_DATE GetEndDate() const override { return mEnd; }
    void SetEndDate(const CK_DATE& date) override { mEnd = date; }
    bool IsGenerationDateSupported() const override { return false; }
    const CK_ZR_DATETIME* GetGenerationDate() const override { return nullptr; }
    void SetGenerationDate(const CK_ZR_DATETIME&) override {}
    bool IsGenerationUTCSupported() const override { return false; }
    CK_BBOOL GetCouldDerive() const override { return mFlags[2]; }
    void SetCouldDerive(CK_BBOOL value) override { mFlags[2] = value; }
    CK_BBOOL GetLocal() const override { return mFlags[3]; }
    void SetLocal(CK_BBOOL value) override { mFlags[3] = value; }
    CK_MECHANISM_TYPE GetKeyGenMechanism() const override { return mKeyGen; }
    void SetKeyGenMechanism(CK_MECHANISM_TYPE type) override { mKeyGen = type; }
    tru::Buffer GetAllowedMechanisms() const override { return tru::Buffer(); }
    bool IsMechanismAllowed(CK_MECHANISM_TYPE type) const override { return type == CKM_SHA_1_HMAC; }
    void AddDefaultUsageAttributes() override { mFlags[4] = mFlags[5] = CK_TRUE; }
    CK_BBOOL GetIsExtractable() const override { return mFlags[6]; }
    CK_BBOOL GetIsSensitive() const override { return mFlags[7]; }
    void SetIsSensitive(CK_BBOOL value) override { mFlags[7] = value; }
    CK_BBOOL GetCouldEncrypt() const override { return CK_FALSE; }
    CK_BBOOL GetCouldDecrypt() const override { return CK_FALSE; }
    void SetCouldDecrypt(CK_BBOOL) override {}
    CK_BBOOL GetCouldSign() const override { return mFlags[4]; }
    void SetCouldSign(CK_BBOOL value) override { mFlags[4] = value; }
    CK_BBOOL GetCouldVerify() const override { return mFlags[5]; }
    void SetCouldVerify(CK_BBOOL value) override { mFlags[5] = value; }
    CK_BBOOL GetCouldWrap() const override { return CK_FALSE; }
    void SetCouldWrap(CK_BBOOL) override {}
    CK_BBOOL GetCouldUnwrap() const override { return CK_FALSE; }
    void SetCouldUnwrap(CK_BBOOL) override {}
    void SetIsExtractable(CK_BBOOL value) override { mFlags[6] = value; }
    CK_BBOOL GetIsAlwaysSensitive() const override { return mFlags[8]; }
    void SetIsAlwaysSensitive(CK_BBOOL value) override { mFlags[8] = value; }
    CK_BBOOL GetIsNeverExtractable() const override { return mFlags[9]; }
    void SetIsNeverExtractable(CK_BBOOL value) override { mFlags[9] = value; }
    const tru::Buffer& GetCheckValue() const override { return mCheck.View(); }
    void SetCheckValue(const tru::Buffer& value) override { mCheck.Assign(value); }
    void AddDefaultSensitiveAttributes() override { mFlags[7] = CK_TRUE; }
    void AddGeneratedSensitiveAttributes(const zrck::MechanismSession&) override {}
    const tru::Buffer& GetValue() const override { return mValue.View(); }
    void SetValue(const tru::Buffer& value) override { mValue.Assign(value); }
    CK_ULONG GetValueLen() const override { return mValueLen; }
    void SetValueLen(CK_ULONG length) override { mValueLen = length; }

private:
    // modifiable, copyable, derive, local, sign, verify, extractable, sensitive, always
    // sensitive, never extractable
    CK_BBOOL mFlags[10] = {CK_TRUE, CK_TRUE, CK_FALSE, CK_FALSE, CK_FALSE, CK_FALSE, CK_TRUE, CK_FALSE, CK_FALSE, CK_FALSE};
    CK_MECHANISM_TYPE mKeyGen = 0;
    CK_ULONG mValueLen = 0;
    CK_DATE mStart{{' ', ' ', ' ', ' '}, {' ', ' '}, {' ', ' '}};
    CK_DATE mEnd{{' ', ' ', ' ', ' '}, {' ', ' '}, {' ', ' '}};
    Bytes mLabel, mId, mCheck, mValue;
};

// A digest-like mechanism of any type; counts the resources it frees.
class ToyMechanism : public zrck::TokMechanism {
public:
    ToyMechanism() = default;
    ToyMechanism(CK_MECHANISM_TYPE type, CK_FLAGS flags, CK_ULONG minKey, CK_ULONG maxKey);

    const char* GetObjectClassName() const override { return "ToyMechanism"; }
    void FreeResources() override { ++mFreed; }
    zrck::TokMechanism* Clone() const override;
    void SetParameter(const zrck::MechanismParameter&) override {}
    void SetDefaultParameter() override {}
    int FreedCount() const { return mFreed; }

private:
    int mFreed = 0;
};

// Storage and key-level accessors shared by the fake key classes; flags live in a map by the
// attribute they stand for.
template <class Base>
class FakeKeyFields : public Base {
public:
    zrck::TokObject* GenerateCopy() override { return nullptr; }
    void InitDefaults() override {}
    CK_BBOOL IsModifiable() const override { return Flag(CKA_MODIFIABLE, CK_TRUE); }
    const tru::Buffer& GetLabel() const override { return mLabel.View(); }
    CK_BBOOL IsCopyable() const override { return Flag(CKA_COPYABLE, CK_TRUE); }
    void SetCopyable(bool value) override { mFlags[CKA_COPYABLE] = value; }
    CK_ULONG GetObjectSize() override { return 64; }
    void SetModifiable(bool value) override { mFlags[CKA_MODIFIABLE] = value; }
    void SetLabel(const tru::Buffer& label) override { mLabel.Assign(label); }
    const tru::Buffer& GetKeyID() const override { return mId.View(); }
    void SetKeyID(const tru::Buffer& id) override { mId.Assign(id); }
    CK_DATE GetStartDate() const override { return mStart; }
    void SetStartDate(const CK_DATE& date) override { mStart = date; }
    CK_DATE GetEndDate() const override { return mEnd; }
    void SetEndDate(const CK_DATE& date) override { mEnd = date; }
    bool IsGenerationDateSupported() const override { return false; }
    const CK_ZR_DATETIME* GetGenerationDate() const override { return nullptr; }
    void SetGenerationDate(const CK_ZR_DATETIME&) override {}
    bool IsGenerationUTCSupported() const override { return false; }
    CK_BBOOL GetCouldDerive() const override { return Flag(CKA_DERIVE); }
    void SetCouldDerive(CK_BBOOL value) override { mFlags[CKA_DERIVE] = value; }
    CK_BBOOL GetLocal() const override { return Flag(CKA_LOCAL); }
    void SetLocal(CK_BBOOL value) override { mFlags[CKA_LOCAL] = value; }
    CK_MECHANISM_TYPE GetKeyGenMechanism() const override { return mKeyGen; }
    void SetKeyGenMechanism(CK_MECHANISM_TYPE type) override { mKeyGen = type; }
    tru::Buffer GetAllowedMechanisms() const override { return tru::Buffer(); }
    bool IsMechanismAllowed(CK_MECHANISM_TYPE) const override { return true; }
    void AddDefaultUsageAttributes() override {}
    CK_KEY_TYPE GetKeyType() const override { return CKK_EC; }
    CK_RV GetAttributes(zrck::AttributeTemplate& attributes) override { return this->FillAll(attributes); }
    void SetupAttributes(zrck::ObjectToken* token, zrck::AttributeTemplate& attributes) override {
        this->SetupAll(token, attributes);
    }
    void InitializeWithAttributes(zrck::ObjectToken* token, zrck::AttributeTemplate& attributes) override {
        this->SetupAll(token, attributes);
    }

    CK_BBOOL Flag(CK_ATTRIBUTE_TYPE type, CK_BBOOL otherwise = CK_FALSE) const {
        auto found = mFlags.find(type);
        return found == mFlags.end() ? otherwise : found->second;
    }

protected:
    std::map<CK_ATTRIBUTE_TYPE, CK_BBOOL> mFlags;
    Bytes mLabel, mId, mSubject;
    CK_DATE mStart{{' ', ' ', ' ', ' '}, {' ', ' '}, {' ', ' '}};
    CK_DATE mEnd{{' ', ' ', ' ', ' '}, {' ', ' '}, {' ', ' '}};
    CK_MECHANISM_TYPE mKeyGen = 0;
};

#define ZR_FAKE_FLAG(getter, setter, type)                       \
    CK_BBOOL getter() const override { return this->Flag(type); } \
    void setter(CK_BBOOL value) override { this->mFlags[type] = value; }

class FakePrivateKey : public FakeKeyFields<zrck::TokPrivateKey> {
public:
    const char* GetObjectClassName() const override { return "FakePrivateKey"; }
    const tru::Buffer& GetSubject() const override { return mSubject.View(); }
    void SetSubject(const tru::Buffer& subject) override { mSubject.Assign(subject); }
    ZR_FAKE_FLAG(GetIsSensitive, SetIsSensitive, CKA_SENSITIVE)
    ZR_FAKE_FLAG(GetCouldDecrypt, SetCouldDecrypt, CKA_DECRYPT)
    ZR_FAKE_FLAG(GetCouldSign, SetCouldSign, CKA_SIGN)
    ZR_FAKE_FLAG(GetCouldSignRecover, SetCouldSignRecover, CKA_SIGN_RECOVER)
    ZR_FAKE_FLAG(GetCouldUnwrap, SetCouldUnwrap, CKA_UNWRAP)
    ZR_FAKE_FLAG(GetIsExtractable, SetIsExtractable, CKA_EXTRACTABLE)
    ZR_FAKE_FLAG(GetIsAlwaysSensitive, SetIsAlwaysSensitive, CKA_ALWAYS_SENSITIVE)
    ZR_FAKE_FLAG(GetIsNeverExtractable, SetIsNeverExtractable, CKA_NEVER_EXTRACTABLE)
    ZR_FAKE_FLAG(GetCouldUnwrapOnlyWithTrusted, SetCouldUnwrapOnlyWithTrusted, CKA_WRAP_WITH_TRUSTED)
    ZR_FAKE_FLAG(GetNeedAlwaysAuthenticate, SetNeedAlwaysAuthenticate, CKA_ALWAYS_AUTHENTICATE)
    tru::Buffer GetValueToWrap() override { return tru::Buffer(); }
    void AddDefaultSensitiveAttributes() override {}
    void AddGeneratedSensitiveAttributes(const zrck::MechanismSession&) override {}
};

class FakePublicKey : public FakeKeyFields<zrck::TokPublicKey> {
public:
    const char* GetObjectClassName() const override { return "FakePublicKey"; }
    const tru::Buffer& GetSubject() const override { return mSubject.View(); }
    void SetSubject(const tru::Buffer& subject) override { mSubject.Assign(subject); }
    ZR_FAKE_FLAG(GetCouldEncrypt, SetCouldEncrypt, CKA_ENCRYPT)
    ZR_FAKE_FLAG(GetCouldVerify, SetCouldVerify, CKA_VERIFY)
    ZR_FAKE_FLAG(GetCouldVerifyRecover, SetCouldVerifyRecover, CKA_VERIFY_RECOVER)
    ZR_FAKE_FLAG(GetCouldWrap, SetCouldWrap, CKA_WRAP)
    ZR_FAKE_FLAG(GetIsTrusted, SetIsTrusted, CKA_TRUSTED)
    bool IsAlgOIDAcceptable(const char*, int) override { return false; }
};

#undef ZR_FAKE_FLAG

// A session without a token, enough for the registry and for calls that take a session.
class BareSession : public zrck::SessionFrame {
public:
    zrck::Token* GetOwnerToken() override { return nullptr; }
    zrck::TokenPtr LockToken() const override { return nullptr; }
    bool CouldSeePrivateObjects() const override { return false; }
    void Close() override { SessionFrame::Close(nullptr); }
    void FillSessionInfo(CK_SESSION_INFO_PTR) override {}
    CK_STATE GetState() override { return 0; }
    void SeedRandom(const tru::Buffer&) override {}
    void GenerateRandom(tru::Buffer&) override {}
};

}  // namespace zrtest

#endif  // ZR_TESTS_FAKE_OBJECTS_H
