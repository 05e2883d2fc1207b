// Concrete test doubles of the object-model classes: every accessor keeps its value in a
// FakeStore keyed by the attribute type it stands for.
#ifndef ZR_TESTS_OBJECTS_CLASS_FAKES_H
#define ZR_TESTS_OBJECTS_CLASS_FAKES_H

#include <map>

#include "ckbase/exception.h"
#include "objects/attribute_value.h"
#include "objects/tok_certificate.h"
#include "objects/tok_data.h"
#include "objects/tok_des3_secret_key.h"
#include "objects/tok_ecdsa_keys.h"
#include "objects/tok_rsa_keys.h"
#include "objects/tok_ua_gost_objects.h"
#include "objects/tok_ua_sgn_objects.h"
#include "tru2/buffer.h"

namespace zrtest {

class FakeStore {
public:
    const tru::Buffer& Bytes(CK_ATTRIBUTE_TYPE type) const { return mBytes[type]; }
    void SetBytes(CK_ATTRIBUTE_TYPE type, const tru::Buffer& value) { mBytes[type] = value; }
    CK_BBOOL Flag(CK_ATTRIBUTE_TYPE type) const {
        auto it = mNumbers.find(type);
        return it == mNumbers.end() ? CK_FALSE : static_cast<CK_BBOOL>(it->second);
    }
    void SetFlag(CK_ATTRIBUTE_TYPE type, CK_BBOOL value) { mNumbers[type] = value; }
    CK_ULONG Number(CK_ATTRIBUTE_TYPE type) const {
        auto it = mNumbers.find(type);
        return it == mNumbers.end() ? 0 : it->second;
    }
    void SetNumber(CK_ATTRIBUTE_TYPE type, CK_ULONG value) { mNumbers[type] = value; }
    CK_DATE Date(CK_ATTRIBUTE_TYPE type) const {
        auto it = mDates.find(type);
        return it == mDates.end() ? zrck::BlankDate() : it->second;
    }
    void SetDate(CK_ATTRIBUTE_TYPE type, const CK_DATE& date) { mDates[type] = date; }

private:
    mutable std::map<CK_ATTRIBUTE_TYPE, tru::BufferDynamic> mBytes;
    std::map<CK_ATTRIBUTE_TYPE, CK_ULONG> mNumbers;
    std::map<CK_ATTRIBUTE_TYPE, CK_DATE> mDates;
};

#define FAKE_FLAG(Get, Set, TYPE)                                    \
    CK_BBOOL Get() const override { return this->store.Flag(TYPE); } \
    void Set(CK_BBOOL value) override { this->store.SetFlag(TYPE, value); }
#define FAKE_BYTES(Get, Set, TYPE)                                              \
    const tru::Buffer& Get() const override { return this->store.Bytes(TYPE); } \
    void Set(const tru::Buffer& value) override { this->store.SetBytes(TYPE, value); }
#define FAKE_ULONG(Get, Set, TYPE)                                     \
    CK_ULONG Get() const override { return this->store.Number(TYPE); } \
    void Set(CK_ULONG value) override { this->store.SetNumber(TYPE, value); }
#define FAKE_DATE(Get, Set, TYPE)                                   \
    CK_DATE Get() const override { return this->store.Date(TYPE); } \
    void Set(const CK_DATE& value) override { this->store.SetDate(TYPE, value); }

template <class Base>
class FakeStorage : public Base {
public:
    FakeStore store;
    int usageDefaultsAdded = 0;
    int sensitiveDefaultsAdded = 0;

    void InitDefaults() override { this->store.SetFlag(CKA_MODIFIABLE, CK_TRUE); }
    FAKE_BYTES(GetLabel, SetLabel, CKA_LABEL)
    CK_BBOOL IsModifiable() const override { return store.Flag(CKA_MODIFIABLE); }
    void SetModifiable(bool value) override { store.SetFlag(CKA_MODIFIABLE, value); }
    CK_BBOOL IsCopyable() const override { return store.Flag(CKA_COPYABLE); }
    void SetCopyable(bool value) override { store.SetFlag(CKA_COPYABLE, value); }
    CK_ULONG GetObjectSize() override { return 0; }
    zrck::TokObject* GenerateCopy() override { return nullptr; }
};

template <class Base>
class FakeKey : public FakeStorage<Base> {
public:
    FAKE_BYTES(GetKeyID, SetKeyID, CKA_ID)
    FAKE_DATE(GetStartDate, SetStartDate, CKA_START_DATE)
    FAKE_DATE(GetEndDate, SetEndDate, CKA_END_DATE)
    FAKE_FLAG(GetCouldDerive, SetCouldDerive, CKA_DERIVE)
    FAKE_FLAG(GetLocal, SetLocal, CKA_LOCAL)
    FAKE_ULONG(GetKeyGenMechanism, SetKeyGenMechanism, CKA_KEY_GEN_MECHANISM)
    const CK_ZR_DATETIME* GetGenerationDate() const override { return nullptr; }
    void SetGenerationDate(const CK_ZR_DATETIME&) override {}
    tru::Buffer GetAllowedMechanisms() const override { return tru::Buffer(); }
    bool IsMechanismAllowed(CK_MECHANISM_TYPE) const override { return true; }
    void AddDefaultUsageAttributes() override { ++this->usageDefaultsAdded; }
};

template <class Base>
class FakePrivateKey : public FakeKey<Base> {
public:
    FAKE_BYTES(GetSubject, SetSubject, CKA_SUBJECT)
    FAKE_FLAG(GetIsSensitive, SetIsSensitive, CKA_SENSITIVE)
    FAKE_FLAG(GetCouldDecrypt, SetCouldDecrypt, CKA_DECRYPT)
    FAKE_FLAG(GetCouldSign, SetCouldSign, CKA_SIGN)
    FAKE_FLAG(GetCouldSignRecover, SetCouldSignRecover, CKA_SIGN_RECOVER)
    FAKE_FLAG(GetCouldUnwrap, SetCouldUnwrap, CKA_UNWRAP)
    FAKE_FLAG(GetIsExtractable, SetIsExtractable, CKA_EXTRACTABLE)
    FAKE_FLAG(GetIsAlwaysSensitive, SetIsAlwaysSensitive, CKA_ALWAYS_SENSITIVE)
    FAKE_FLAG(GetIsNeverExtractable, SetIsNeverExtractable, CKA_NEVER_EXTRACTABLE)
    FAKE_FLAG(GetCouldUnwrapOnlyWithTrusted, SetCouldUnwrapOnlyWithTrusted, CKA_WRAP_WITH_TRUSTED)
    FAKE_FLAG(GetNeedAlwaysAuthenticate, SetNeedAlwaysAuthenticate, CKA_ALWAYS_AUTHENTICATE)
    tru::Buffer GetValueToWrap() override { return tru::Buffer(); }
    void AddDefaultSensitiveAttributes() override { ++this->sensitiveDefaultsAdded; }
    void AddGeneratedSensitiveAttributes(const zrck::MechanismSession&) override {}
};

template <class Base>
class FakePublicKey : public FakeKey<Base> {
public:
    FAKE_BYTES(GetSubject, SetSubject, CKA_SUBJECT)
    FAKE_FLAG(GetCouldEncrypt, SetCouldEncrypt, CKA_ENCRYPT)
    FAKE_FLAG(GetCouldVerify, SetCouldVerify, CKA_VERIFY)
    FAKE_FLAG(GetCouldVerifyRecover, SetCouldVerifyRecover, CKA_VERIFY_RECOVER)
    FAKE_FLAG(GetCouldWrap, SetCouldWrap, CKA_WRAP)
    FAKE_FLAG(GetIsTrusted, SetIsTrusted, CKA_TRUSTED)
    bool IsAlgOIDAcceptable(const char*, int) override { return true; }
};

template <class Base>
class FakeSecretKey : public FakeKey<Base> {
public:
    FAKE_FLAG(GetIsSensitive, SetIsSensitive, CKA_SENSITIVE)
    FAKE_FLAG(GetCouldEncrypt, SetCouldEncrypt, CKA_ENCRYPT)
    FAKE_FLAG(GetCouldDecrypt, SetCouldDecrypt, CKA_DECRYPT)
    FAKE_FLAG(GetCouldSign, SetCouldSign, CKA_SIGN)
    FAKE_FLAG(GetCouldVerify, SetCouldVerify, CKA_VERIFY)
    FAKE_FLAG(GetCouldWrap, SetCouldWrap, CKA_WRAP)
    FAKE_FLAG(GetCouldUnwrap, SetCouldUnwrap, CKA_UNWRAP)
    FAKE_FLAG(GetIsExtractable, SetIsExtractable, CKA_EXTRACTABLE)
    FAKE_FLAG(GetIsAlwaysSensitive, SetIsAlwaysSensitive, CKA_ALWAYS_SENSITIVE)
    FAKE_FLAG(GetIsNeverExtractable, SetIsNeverExtractable, CKA_NEVER_EXTRACTABLE)
    FAKE_FLAG(GetCouldWrapOnlyWithTrusted, SetCouldWrapOnlyWithTrusted, CKA_WRAP_WITH_TRUSTED)
    FAKE_FLAG(GetIsTrusted, SetIsTrusted, CKA_TRUSTED)
    FAKE_BYTES(GetCheckValue, SetCheckValue, CKA_CHECK_VALUE)
    tru::Buffer GetValueToWrap() override { return tru::Buffer(); }
    void AddDefaultSensitiveAttributes() override { ++this->sensitiveDefaultsAdded; }
    void AddGeneratedSensitiveAttributes(const zrck::MechanismSession&) override {}
};

class FakeData : public FakeStorage<zrck::TokData> {
public:
    FAKE_BYTES(GetApplication, SetApplication, CKA_APPLICATION)
    FAKE_BYTES(GetValue, SetValue, CKA_VALUE)
    FAKE_BYTES(GetObjectID, SetObjectID, CKA_OBJECT_ID)
};

class FakeX509Certificate : public FakeStorage<zrck::TokX509Certificate> {
public:
    CK_BBOOL IsTrusted() const override { return store.Flag(CKA_TRUSTED); }
    void SetIsTrusted(CK_BBOOL value) override { store.SetFlag(CKA_TRUSTED, value); }
    FAKE_ULONG(GetCertificateCategory, SetCertificateCategory, CKA_CERTIFICATE_CATEGORY)
    FAKE_BYTES(GetCheckValue, SetCheckValue, CKA_CHECK_VALUE)
    FAKE_DATE(GetStartDate, SetStartDate, CKA_START_DATE)
    FAKE_DATE(GetEndDate, SetEndDate, CKA_END_DATE)
    FAKE_BYTES(GetSubject, SetSubject, CKA_SUBJECT)
    FAKE_BYTES(GetKeyID, SetKeyID, CKA_ID)
    FAKE_BYTES(GetIssuer, SetIssuer, CKA_ISSUER)
    FAKE_BYTES(GetSerialNumber, SetSerialNumber, CKA_SERIAL_NUMBER)
    FAKE_BYTES(GetValue, SetValue, CKA_VALUE)
    FAKE_BYTES(GetSubjectPublicKeyHash, SetSubjectPublicKeyHash, CKA_HASH_OF_SUBJECT_PUBLIC_KEY)
    FAKE_BYTES(GetIssuerPublicKeyHash, SetIssuerPublicKeyHash, CKA_HASH_OF_ISSUER_PUBLIC_KEY)
    FAKE_BYTES(GetUrl, SetUrl, CKA_URL)
    FAKE_ULONG(GetJavaMidpSecurityDomain, SetJavaMidpSecurityDomain, CKA_JAVA_MIDP_SECURITY_DOMAIN)
};

class FakeRsaPrivateKey : public FakePrivateKey<zrck::TokRsaPrivateKey> {
public:
    FAKE_BYTES(GetModulus, SetModulus, CKA_MODULUS)
    FAKE_ULONG(GetModulusBits, SetModulusBits, CKA_MODULUS_BITS)
    FAKE_BYTES(GetPublicExponent, SetPublicExponent, CKA_PUBLIC_EXPONENT)
    FAKE_BYTES(GetPrivateExponent, SetPrivateExponent, CKA_PRIVATE_EXPONENT)
    FAKE_BYTES(GetPrime1, SetPrime1, CKA_PRIME_1)
    FAKE_BYTES(GetPrime2, SetPrime2, CKA_PRIME_2)
    FAKE_BYTES(GetExponent1, SetExponent1, CKA_EXPONENT_1)
    FAKE_BYTES(GetExponent2, SetExponent2, CKA_EXPONENT_2)
    FAKE_BYTES(GetCoefficient, SetCoefficient, CKA_COEFFICIENT)
};

class FakeRsaPublicKey : public FakePublicKey<zrck::TokRsaPublicKey> {
public:
    FAKE_BYTES(GetModulus, SetModulus, CKA_MODULUS)
    FAKE_ULONG(GetModulusBits, SetModulusBits, CKA_MODULUS_BITS)
    FAKE_BYTES(GetPublicExponent, SetPublicExponent, CKA_PUBLIC_EXPONENT)
};

class FakeECDsaPrivateKey : public FakePrivateKey<zrck::TokECDsaPrivateKey> {
public:
    FAKE_BYTES(GetValue, SetValue, CKA_VALUE)
    FAKE_BYTES(GetECParams, SetECParams, CKA_EC_PARAMS)
};

class FakeECDsaPublicKey : public FakePublicKey<zrck::TokECDsaPublicKey> {
public:
    FAKE_BYTES(GetECPoint, SetECPoint, CKA_EC_POINT)
    FAKE_BYTES(GetECParams, SetECParams, CKA_EC_PARAMS)
};

// Keeps the class's own generation-date bodies.
class FakeDES3SecretKey : public FakeSecretKey<zrck::TokDES3SecretKey> {
public:
    FAKE_BYTES(GetValue, SetValue, CKA_VALUE)
    const CK_ZR_DATETIME* GetGenerationDate() const override { return TokDES3SecretKey::GetGenerationDate(); }
    void SetGenerationDate(const CK_ZR_DATETIME& date) override { TokDES3SecretKey::SetGenerationDate(date); }
};

class FakeGostSecretKey : public FakeSecretKey<zrck::TokUAGostSecretKey> {
public:
    FAKE_BYTES(GetSBox, SetSBox, CKA_GOST_SBOXES)
    FAKE_BYTES(GetValue, SetValue, CKA_VALUE)
};

class FakeGostDomainParams : public FakeStorage<zrck::TokUAGostDomainParams> {
public:
    FAKE_FLAG(GetLocal, SetLocal, CKA_LOCAL)
    FAKE_BYTES(GetID, SetID, CKA_ID)
    FAKE_BYTES(GetSBox, SetSBox, CKA_GOST_SBOXES)
};

class FakeUASgnDomainParams : public FakeStorage<zrck::TokUASgnDomainParams> {
public:
    FAKE_FLAG(GetLocal, SetLocal, CKA_LOCAL)
    FAKE_BYTES(GetECParams, SetECParams, CKA_EC_PARAMS)
};

class FakeUASgnPrivateKey : public FakePrivateKey<zrck::TokUASgnPrivateKey> {
public:
    bool IsGenerationDateSupported() const override { return true; }
    bool IsGenerationUTCSupported() const override { return false; }
    const char* GetObjectClassName() const override { return "FakeUASgnPrivateKey"; }
    FAKE_BYTES(GetECParams, SetECParams, CKA_EC_PARAMS)
    // A device-held value: reading it fails the way the token driver's does.
    const tru::Buffer& GetValue() const override { throw zrck::Exception(CKR_KEY_UNEXTRACTABLE); }
    void SetValue(const tru::Buffer& value) override { store.SetBytes(CKA_VALUE, value); }
};

class FakeUASgnPublicKey : public FakePublicKey<zrck::TokUASgnPublicKey> {
public:
    bool IsGenerationDateSupported() const override { return true; }
    bool IsGenerationUTCSupported() const override { return false; }
    const char* GetObjectClassName() const override { return "FakeUASgnPublicKey"; }
    FAKE_BYTES(GetECParams, SetECParams, CKA_EC_PARAMS)
    FAKE_BYTES(GetECPoint, SetECPoint, CKA_EC_POINT)
};

}  // namespace zrtest

#endif  // ZR_TESTS_OBJECTS_CLASS_FAKES_H
