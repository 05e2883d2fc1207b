// DSTU 4145 signature and verification on the token: CKM_DSTU4145 signs the caller's value as
// given, CKM_GOST34311_DSTU4145 hashes the data with GOST 34.311 on the host first. The private
// key never leaves its device key slot.
#pragma once

#include "device/device_types.h"
#include "objects/tok_ua_sgn_mechanisms.h"
#include "qelcrypt/gr341194.h"
#include "support/noncopyable.h"
#include "support/safe_buffer.h"

namespace qel {

class TokUASgnPrivateKey;

// Key sizes every DSTU 4145 mechanism reports.
void SetUASgnKeySizes(zrck::TokMechanism& mechanism);

// The longest value one signature command carries (the device request is one APDU).
uint32_t UASgnMaxSignData();
// The longest value a verification with this point and signature carries.
uint32_t UASgnMaxVerifyData(uint32_t pointSize, uint32_t signatureSize);

class TokUASgnMechanism : public zrck::TokUASgnMechanism, private vdk::Noncopyable {
public:
    TokUASgnMechanism();

    void SignInit(zrck::MechanismSession& session, const zrck::MechanismParameter& parameter,
                  zrck::TokPrivateKey& key) override;
    // Data longer than one signature command carries: CKR_DATA_LEN_RANGE, nothing sent.
    bool Sign(zrck::MechanismSession& session, const tru::Buffer& data, unsigned char* out, unsigned long* outLen) override;
    void VerifyInit(zrck::MechanismSession& session, const zrck::MechanismParameter& parameter,
                    zrck::TokPublicKey& key) override;
    bool Verify(zrck::MechanismSession& session, const tru::Buffer& data, const tru::Buffer& signature) override;
    void FreeResources() override;
    zrck::TokMechanism* Clone() const override;

private:
    zrck::TokPublicKey* verifyKey_ = nullptr;
    zrck::TokPrivateKey* signKey_ = nullptr;
};

class TokUASgnHashMechanism : public zrck::TokUASgnHashMechanism, private vdk::Noncopyable {
public:
    TokUASgnHashMechanism();
    ~TokUASgnHashMechanism() override;

    void SignInit(zrck::MechanismSession& session, const zrck::MechanismParameter& parameter,
                  zrck::TokPrivateKey& key) override;
    bool Sign(zrck::MechanismSession& session, const tru::Buffer& data, unsigned char* out, unsigned long* outLen) override;
    void SignUpdate(zrck::MechanismSession& session, const tru::Buffer& data) override;
    bool SignFinal(zrck::MechanismSession& session, unsigned char* out, unsigned long* outLen) override;
    void VerifyInit(zrck::MechanismSession& session, const zrck::MechanismParameter& parameter,
                    zrck::TokPublicKey& key) override;
    bool Verify(zrck::MechanismSession& session, const tru::Buffer& data, const tru::Buffer& signature) override;
    void VerifyUpdate(zrck::MechanismSession& session, const tru::Buffer& data) override;
    bool VerifyFinal(zrck::MechanismSession& session, const tru::Buffer& signature) override;
    void FreeResources() override;
    zrck::TokMechanism* Clone() const override;

private:
    // Parameter set, expanded S-box and a fresh hash of the key's CKA_EC_PARAMS.
    void StartHash(const tru::Buffer& ecParams, zrck::ObjectToken* token);
    bool SignHash(const tru::Buffer* data, unsigned char* out, unsigned long* outLen);
    bool VerifyHash(const tru::Buffer* data, const tru::Buffer& signature);

    zrck::TokPublicKey* verifyKey_ = nullptr;
    zrck::TokPrivateKey* signKey_ = nullptr;
    EParamSet paramSet_ = EParamSet(0);
    vdk::SafeBuffer kext_;
    gr341194_md_ctx hash_{};
};

} // namespace qel
