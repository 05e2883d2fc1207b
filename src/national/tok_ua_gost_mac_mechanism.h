// GOST 28147-89 MAC on the host: a 4-byte result over at least 9 bytes of data.
#pragma once

#include <cstdint>

#include "national/gost_key_schedule.h"
#include "objects/tok_ua_gost_mechanisms.h"
#include "qelcrypt/g28147.h"
#include "support/noncopyable.h"

namespace qel {

class TokUAGostSecretKey;

class TokUAGostMacMechanism : public zrck::TokUAGostMacMechanism, private vdk::Noncopyable {
public:
    static constexpr CK_ULONG kMacLength = 4;
    // The routine's MAC is defined only from this many bytes on.
    static constexpr uint32_t kMinDataLength = 9;

    TokUAGostMacMechanism();
    ~TokUAGostMacMechanism() override { FreeResources(); }

    void SignInit(zrck::MechanismSession& session, const zrck::MechanismParameter& parameter,
                  zrck::TokSecretKey& key) override;
    bool Sign(zrck::MechanismSession& session, const tru::Buffer& data, unsigned char* out,
              unsigned long* outLen) override;
    void SignUpdate(zrck::MechanismSession& session, const tru::Buffer& data) override;
    bool SignFinal(zrck::MechanismSession& session, unsigned char* out, unsigned long* outLen) override;
    void VerifyInit(zrck::MechanismSession& session, const zrck::MechanismParameter& parameter,
                    zrck::TokSecretKey& key) override
    {
        SignInit(session, parameter, key);
    }
    bool Verify(zrck::MechanismSession& session, const tru::Buffer& data, const tru::Buffer& signature) override;
    void VerifyUpdate(zrck::MechanismSession& session, const tru::Buffer& data) override { SignUpdate(session, data); }
    bool VerifyFinal(zrck::MechanismSession& session, const tru::Buffer& signature) override;
    void FreeResources() override;
    zrck::TokMechanism* Clone() const override;

private:
    void RequireActive() const;
    // Finishes the MAC into 4 bytes, N1 least significant byte first.
    void FinishInto(uint8_t* mac);

    TokUAGostSecretKey* key_ = nullptr;
    GostKeySchedule schedule_;
    g28147_hmac_ctx ctx_ = {};
    uint64_t fed_ = 0;
};

}  // namespace qel
