// Abstract digest mechanisms: SHA-1 to SHA-512 and GOST 34.311. The concrete classes supply
// the digest operations; every one of them accepts empty input.
#ifndef ZR_OBJECTS_TOK_DIGEST_MECHANISMS_H
#define ZR_OBJECTS_TOK_DIGEST_MECHANISMS_H

#include "objects/tok_mechanism.h"

namespace zrck {

// Takes no parameter: the concrete DigestInit calls EnsureParameterEmpty.
class TokShaMechanism : public TokMechanism {
public:
    bool IsDigestNullDataAvailable() const override { return true; }
    void SetParameter(const MechanismParameter&) override {}
    void SetDefaultParameter() override {}
};

class TokSha1Mechanism : public TokShaMechanism {
public:
    const char* GetObjectClassName() const override { return "TokSha1Mechanism"; }
};
class TokSha224Mechanism : public TokShaMechanism {
public:
    const char* GetObjectClassName() const override { return "TokSha224Mechanism"; }
};
class TokSha256Mechanism : public TokShaMechanism {
public:
    const char* GetObjectClassName() const override { return "TokSha256Mechanism"; }
};
class TokSha384Mechanism : public TokShaMechanism {
public:
    const char* GetObjectClassName() const override { return "TokSha384Mechanism"; }
};
class TokSha512Mechanism : public TokShaMechanism {
public:
    const char* GetObjectClassName() const override { return "TokSha512Mechanism"; }
};

// The concrete class parses its parameter (S-box and start vector).
class TokUAGostHashMechanism : public TokMechanism {
public:
    const char* GetObjectClassName() const override { return "TokUAGostHashMechanism"; }
    bool IsDigestNullDataAvailable() const override { return true; }

    virtual const tru::Buffer& GetSBlock() const = 0;
    virtual void SetSBlock(const tru::Buffer& sBlock) = 0;
    virtual const tru::Buffer& GetStartVector() const = 0;
    virtual void SetStartVector(const tru::Buffer& startVector) = 0;
};

}  // namespace zrck

#endif  // ZR_OBJECTS_TOK_DIGEST_MECHANISMS_H
