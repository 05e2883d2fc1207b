// The EC utility with random bytes from a seeded generator, or a failing source, standing in
// for the token's random generator.
#pragma once

#include "ckbase/exception.h"
#include "swcrypto/tok_ecdsa_utl.h"

#include <random>

namespace swtest {

class FakeRandomUtl : public mbt::TokECDsaUtl {
public:
    explicit FakeRandomUtl(unsigned seed) : mbt::TokECDsaUtl(nullptr), engine_(seed) {}

    bool fail = false;
    unsigned calls = 0;

protected:
    void GenerateRandom(tru::Buffer& out) override
    {
        ++calls;
        if (fail) throw zrck::Exception(CKR_DEVICE_REMOVED);
        for (uint32_t i = 0; i < out.Size(); ++i) out.Data()[i] = static_cast<uint8_t>(engine_());
    }

private:
    std::mt19937 engine_;
};

}  // namespace swtest
