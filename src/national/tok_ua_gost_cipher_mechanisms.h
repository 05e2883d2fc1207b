// GOST 28147-89 encryption and decryption on the host: ECB, counter (the standard's gamma
// mode) and CFB. Multi-part output comes in whole blocks until the final call.
#pragma once

#include <cstdint>

#include "national/gost_key_schedule.h"
#include "objects/tok_ua_gost_mechanisms.h"
#include "qelcrypt/g28147.h"
#include "support/noncopyable.h"

namespace qel {

class TokUAGostSecretKey;

class TokUAGostEcbMechanism : public zrck::TokUAGostEcbMechanism, private vdk::Noncopyable {
public:
    TokUAGostEcbMechanism();
    ~TokUAGostEcbMechanism() override { FreeResources(); }

    void EncryptInit(zrck::MechanismSession& session, const zrck::MechanismParameter& parameter,
                     zrck::TokSecretKey& key) override;
    bool Encrypt(zrck::MechanismSession& session, const tru::Buffer& data, unsigned char* out,
                 unsigned long* outLen) override;
    bool EncryptUpdate(zrck::MechanismSession& session, const tru::Buffer& data, unsigned char* out,
                       unsigned long* outLen) override;
    bool EncryptFinal(zrck::MechanismSession& session, unsigned char* out, unsigned long* outLen) override;
    void DecryptInit(zrck::MechanismSession& session, const zrck::MechanismParameter& parameter,
                     zrck::TokSecretKey& key) override;
    bool Decrypt(zrck::MechanismSession& session, const tru::Buffer& data, unsigned char* out,
                 unsigned long* outLen) override;
    bool DecryptUpdate(zrck::MechanismSession& session, const tru::Buffer& data, unsigned char* out,
                       unsigned long* outLen) override;
    bool DecryptFinal(zrck::MechanismSession& session, unsigned char* out, unsigned long* outLen) override;
    void FreeResources() override;
    zrck::TokMechanism* Clone() const override;
    void SetDefaultParameter() override {}

private:
    void Init(const zrck::MechanismParameter& parameter, zrck::TokSecretKey& key, int direction);
    bool Process(const tru::Buffer& data, unsigned char* out, unsigned long* outLen);
    bool Finish(unsigned char* out, unsigned long* outLen);

    TokUAGostSecretKey* key_ = nullptr;
    GostKeySchedule schedule_;
    g28147_ecb_ctx ctx_ = {};
};

// Counter and CFB: the IV from the parameter, a pending partial block between update calls.
// Base is the framework's abstract class of the mode.
template <class Base>
class TokUAGostStreamMechanism : public Base, private vdk::Noncopyable {
public:
    void EncryptInit(zrck::MechanismSession& session, const zrck::MechanismParameter& parameter,
                     zrck::TokSecretKey& key) override;
    bool Encrypt(zrck::MechanismSession& session, const tru::Buffer& data, unsigned char* out,
                 unsigned long* outLen) override;
    bool EncryptUpdate(zrck::MechanismSession& session, const tru::Buffer& data, unsigned char* out,
                       unsigned long* outLen) override;
    bool EncryptFinal(zrck::MechanismSession& session, unsigned char* out, unsigned long* outLen) override;
    void DecryptInit(zrck::MechanismSession& session, const zrck::MechanismParameter& parameter,
                     zrck::TokSecretKey& key) override;
    bool Decrypt(zrck::MechanismSession& session, const tru::Buffer& data, unsigned char* out,
                 unsigned long* outLen) override
    {
        return Encrypt(session, data, out, outLen);
    }
    bool DecryptUpdate(zrck::MechanismSession& session, const tru::Buffer& data, unsigned char* out,
                       unsigned long* outLen) override
    {
        return EncryptUpdate(session, data, out, outLen);
    }
    bool DecryptFinal(zrck::MechanismSession& session, unsigned char* out, unsigned long* outLen) override
    {
        return EncryptFinal(session, out, outLen);
    }
    void FreeResources() override;
    void SetDefaultParameter() override;
    const tru::Buffer& GetIV() const override { return ivView_; }
    // Exactly 8 bytes, else "IV should be 8 bytes long" (CKR_MECHANISM_PARAM_INVALID).
    void SetIV(const tru::Buffer& iv) override;

protected:
    TokUAGostStreamMechanism();
    // Sets the mode's context up from the key schedule and the IV; direction 1 encrypts.
    virtual void StartContext(const GostKeySchedule& schedule, const uint32_t* iv, int direction) = 0;
    virtual void RunContext(const uint8_t* in, uint8_t* out, uint32_t length) = 0;
    virtual void WipeContext() = 0;

private:
    void Init(const zrck::MechanismParameter& parameter, zrck::TokSecretKey& key, int direction);
    void RequireActive() const;

    TokUAGostSecretKey* key_ = nullptr;
    uint32_t iv_[2] = {};  // 8 IV bytes, as words for the routines
    tru::Buffer ivView_;
    uint8_t pending_[G28147_BLOCK_SIZE] = {};
    uint32_t pendingLength_ = 0;
    GostKeySchedule schedule_;
};

class TokUAGostCntMechanism : public TokUAGostStreamMechanism<zrck::TokUAGostCntMechanism> {
public:
    TokUAGostCntMechanism();
    ~TokUAGostCntMechanism() override { FreeResources(); }
    zrck::TokMechanism* Clone() const override;

protected:
    void StartContext(const GostKeySchedule& schedule, const uint32_t* iv, int direction) override;
    void RunContext(const uint8_t* in, uint8_t* out, uint32_t length) override;
    void WipeContext() override { WipeRecord(ctx_); }

private:
    g28147_ofb_ctx ctx_ = {};
};

class TokUAGostCfbMechanism : public TokUAGostStreamMechanism<zrck::TokUAGostCfbMechanism> {
public:
    TokUAGostCfbMechanism();
    ~TokUAGostCfbMechanism() override { FreeResources(); }
    zrck::TokMechanism* Clone() const override;

protected:
    void StartContext(const GostKeySchedule& schedule, const uint32_t* iv, int direction) override;
    void RunContext(const uint8_t* in, uint8_t* out, uint32_t length) override;
    void WipeContext() override { WipeRecord(ctx_); }

private:
    g28147_cfb_ctx ctx_ = {};
};

}  // namespace qel
