// GOST 28147-89 key wrap on the host: a 32-byte GOST key under another GOST key into 44
// bytes. Check value (the 4-byte MAC of the key), CFB under a random IV, byte reversal of
// IV || ciphertext, CFB again under a fixed IV.
#pragma once

#include <cstdint>

#include "national/gost_key_schedule.h"
#include "objects/tok_ua_gost_mechanisms.h"
#include "qelcrypt/g28147.h"
#include "support/noncopyable.h"

namespace qel {

class TokUAGostSecretKey;

class TokUAGostWrapMechanism : public zrck::TokUAGostWrapMechanism, private vdk::Noncopyable {
public:
    static constexpr CK_ULONG kWrappedLength = 44;

    TokUAGostWrapMechanism();
    ~TokUAGostWrapMechanism() override { FreeResources(); }

    bool WrapKey(zrck::MechanismSession& session, const zrck::MechanismParameter& parameter, zrck::TokKey* wrappingKey,
                 zrck::TokKey& key, unsigned char* out, unsigned long* outLen) override;
    // A 44-byte blob whose check value matches, into a new GOST key with the unwrapping key's
    // S-box; CKR_SIGNATURE_INVALID for a blob that was changed or wrapped under another key.
    KeyPointer UnwrapKey(zrck::MechanismSession& session, const zrck::MechanismParameter& parameter,
                         zrck::TokKey* unwrappingKey, const tru::Buffer& wrapped,
                         zrck::AttributeTemplate& attributes) override;
    void FreeResources() override;
    zrck::TokMechanism* Clone() const override;
    void SetDefaultParameter() override {}

protected:
    // The new key from the completed template: through the token's class factory when the
    // session's token has one, then the class's creation rules.
    virtual KeyPointer CreateUnwrappedKey(zrck::MechanismSession& session, zrck::AttributeTemplate& attributes);

private:
    // Parameter check, key type check and the key schedule of the (un)wrapping key.
    TokUAGostSecretKey& Start(const zrck::MechanismParameter& parameter, zrck::TokKey* kek);
    void LoadSchedule();
    // The check value of a 32-byte key: its MAC, N1 least significant byte first.
    void ComputeIcv(const uint8_t* cek, uint8_t* icv);
    void Cfb(int direction, const uint8_t* iv, const uint8_t* in, uint8_t* out, uint32_t length);

    TokUAGostSecretKey* key_ = nullptr;
    GostKeySchedule schedule_;
    g28147_cfb_ctx cfb_ = {};
    g28147_hmac_ctx mac_ = {};
};

}  // namespace qel
