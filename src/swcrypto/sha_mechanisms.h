// Host SHA-1 to SHA-512 digest mechanisms. One calculator per mechanism object, created on
// first use and reset when an operation ends. The running digest state is the mechanism's part
// of a saved operation state: a 16-bit length (host order) and mbed TLS's SHA context.
#pragma once

#include <memory>

#include "objects/tok_digest_mechanisms.h"
#include "swcrypto/sha_hashers.h"

namespace mbt {

template <class Base>
class ShaDigestMechanism : public Base {
public:
    using HasherFactory = AHasher* (*)();

    ~ShaDigestMechanism() override;

    void GetMechanismSessionState(tru::BufferDynamic& state) override;
    // CKR_KEY_NOT_NEEDED with a key; CKR_SAVED_STATE_INVALID for a state that is short, of
    // another size or of another digest.
    void SetMechanismSessionState(zrck::MechanismSession& session, zrck::CryptoStateEnum kind,
                                  const tru::Buffer& state, zrck::TokKey* key) override;
    void DigestInit(zrck::MechanismSession& session, const zrck::MechanismParameter& parameter) override;
    bool Digest(zrck::MechanismSession& session, const tru::Buffer& data, unsigned char* out,
                unsigned long* outLen) override;
    void DigestUpdate(zrck::MechanismSession& session, const tru::Buffer& data) override;
    bool DigestFinal(zrck::MechanismSession& session, unsigned char* out, unsigned long* outLen) override;
    void FreeResources() override;

protected:
    ShaDigestMechanism(CK_MECHANISM_TYPE type, HasherFactory factory, uint32_t digestLength);

private:
    AHasher& Started();
    bool Finish(unsigned char* out, unsigned long* outLen, const tru::Buffer* data);

    HasherFactory factory_;
    uint32_t digestLength_;
    std::unique_ptr<AHasher> hasher_;
};

class TokSha1Mechanism : public ShaDigestMechanism<zrck::TokSha1Mechanism> {
public:
    TokSha1Mechanism();
};
class TokSha224Mechanism : public ShaDigestMechanism<zrck::TokSha224Mechanism> {
public:
    TokSha224Mechanism();
};
class TokSha256Mechanism : public ShaDigestMechanism<zrck::TokSha256Mechanism> {
public:
    TokSha256Mechanism();
};
class TokSha384Mechanism : public ShaDigestMechanism<zrck::TokSha384Mechanism> {
public:
    TokSha384Mechanism();
};
class TokSha512Mechanism : public ShaDigestMechanism<zrck::TokSha512Mechanism> {
public:
    TokSha512Mechanism();
};

}  // namespace mbt
