// Triple-DES secret key with its attributes held in memory; the value, storage attributes,
// allowed mechanisms and sensitivity defaults come from the token's subclass.
#pragma once

#include <cstring>

#include "objects/tok_des3_secret_key.h"

namespace mbt {

class TokDES3SecretKey : public zrck::TokDES3SecretKey {
public:
    TokDES3SecretKey();

    void InitDefaults() override {}
    const tru::Buffer& GetKeyID() const override { return keyId_; }
    void SetKeyID(const tru::Buffer& id) override;
    CK_DATE GetStartDate() const override { return startDate_; }
    void SetStartDate(const CK_DATE& date) override { startDate_ = date; }
    CK_DATE GetEndDate() const override { return endDate_; }
    void SetEndDate(const CK_DATE& date) override { endDate_ = date; }
    const CK_ZR_DATETIME* GetGenerationDate() const override { return &generationDate_; }
    void SetGenerationDate(const CK_ZR_DATETIME& date) override { generationDate_ = date; }
    CK_BBOOL GetCouldDerive() const override { return derive_; }
    void SetCouldDerive(CK_BBOOL value) override { derive_ = Bool(value); }
    CK_BBOOL GetLocal() const override { return local_; }
    void SetLocal(CK_BBOOL value) override { local_ = Bool(value); }
    CK_MECHANISM_TYPE GetKeyGenMechanism() const override { return keyGenMechanism_; }
    void SetKeyGenMechanism(CK_MECHANISM_TYPE type) override { keyGenMechanism_ = type; }
    // Encrypt and decrypt.
    void AddDefaultUsageAttributes() override;
    // CKR_KEY_UNEXTRACTABLE unless extractable; else the token's mark of the value.
    void GetKeyMark(tru::BufferDynamic& mark) override;
    CK_BBOOL GetIsExtractable() const override { return flags_[kExtractable]; }
    CK_BBOOL GetIsSensitive() const override { return flags_[kSensitive]; }
    // Once sensitive, always: false is CKR_ATTRIBUTE_READ_ONLY "SENSITIVE".
    void SetIsSensitive(CK_BBOOL value) override;
    CK_BBOOL GetCouldEncrypt() const override { return flags_[kEncrypt]; }
    void SetCouldEncrypt(CK_BBOOL value) override { flags_[kEncrypt] = Bool(value); }
    CK_BBOOL GetCouldDecrypt() const override { return flags_[kDecrypt]; }
    void SetCouldDecrypt(CK_BBOOL value) override { flags_[kDecrypt] = Bool(value); }
    CK_BBOOL GetCouldSign() const override { return flags_[kSign]; }
    void SetCouldSign(CK_BBOOL value) override { flags_[kSign] = Bool(value); }
    CK_BBOOL GetCouldVerify() const override { return flags_[kVerify]; }
    void SetCouldVerify(CK_BBOOL value) override { flags_[kVerify] = Bool(value); }
    CK_BBOOL GetCouldWrap() const override { return flags_[kWrap]; }
    void SetCouldWrap(CK_BBOOL value) override { flags_[kWrap] = Bool(value); }
    CK_BBOOL GetCouldUnwrap() const override { return flags_[kUnwrap]; }
    void SetCouldUnwrap(CK_BBOOL value) override { flags_[kUnwrap] = Bool(value); }
    void SetIsExtractable(CK_BBOOL value) override { flags_[kExtractable] = Bool(value); }
    CK_BBOOL GetIsAlwaysSensitive() const override { return flags_[kAlwaysSensitive]; }
    // True also makes the key sensitive.
    void SetIsAlwaysSensitive(CK_BBOOL value) override;
    CK_BBOOL GetIsNeverExtractable() const override { return flags_[kNeverExtractable]; }
    void SetIsNeverExtractable(CK_BBOOL value) override { flags_[kNeverExtractable] = Bool(value); }
    // No CKA_CHECK_VALUE: CKR_ATTRIBUTE_TYPE_INVALID.
    const tru::Buffer& GetCheckValue() const override;
    void SetCheckValue(const tru::Buffer& value) override;
    CK_BBOOL GetCouldWrapOnlyWithTrusted() const override { return flags_[kWrapWithTrusted]; }
    // Keeps the value given: a template's false stays false (the object model lets an update
    // only turn it on).
    void SetCouldWrapOnlyWithTrusted(CK_BBOOL value) override { flags_[kWrapWithTrusted] = Bool(value); }
    CK_BBOOL GetIsTrusted() const override { return flags_[kTrusted]; }
    void SetIsTrusted(CK_BBOOL value) override { flags_[kTrusted] = Bool(value); }
    tru::Buffer GetValueToWrap() override { return tru::Buffer(GetValue()); }
    const tru::Buffer& GetSubject() const { return subject_; }
    void SetSubject(const tru::Buffer& subject);

protected:
    enum Flag : unsigned {
        kEncrypt, kDecrypt, kWrap, kUnwrap, kSign, kVerify, kWrapWithTrusted, kSensitive,
        kExtractable, kAlwaysSensitive, kNeverExtractable, kTrusted, kFlagCount
    };
    static CK_BBOOL Bool(CK_BBOOL value) { return value != CK_FALSE ? CK_TRUE : CK_FALSE; }
    // Every attribute of this class from another key of it (the setter rules not applied).
    void CopyAttributesFrom(const TokDES3SecretKey& other);
    // Key ID and subject from another key, each only when it differs; true when one changed.
    bool CopyIdentityFrom(const TokDES3SecretKey& other);

private:
    CK_DATE startDate_;
    CK_DATE endDate_;
    CK_BBOOL derive_ = CK_FALSE;
    CK_BBOOL local_ = CK_FALSE;
    CK_MECHANISM_TYPE keyGenMechanism_ = 0;
    CK_BBOOL flags_[kFlagCount] = {};
    tru::BufferDynamic keyId_;
    tru::BufferDynamic subject_;
    CK_ZR_DATETIME generationDate_;
};

}  // namespace mbt
