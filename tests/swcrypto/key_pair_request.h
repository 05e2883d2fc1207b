// C_GenerateKeyPair's call of a key-pair mechanism, as the session layer makes it, with the
// CK_RV it ends in.
#pragma once

#include "objects/tok_mechanism.h"
#include "objects/template_builder.h"
#include "swcrypto_test_util.h"

namespace swtest {

inline CK_RV GeneratePair(zrck::TokMechanism& mechanism, zrck::SessionFrame& session, zrtest::Attrs& pub,
                          zrtest::Attrs& priv, zrck::TokMechanism::KeyPair* pair = nullptr,
                          CK_MECHANISM_TYPE type = CKM_EC_KEY_PAIR_GEN)
{
    auto publicTemplate = pub.Make();
    auto privateTemplate = priv.Make();
    return CodeOf([&] {
        auto made = mechanism.GenerateKeyPair(session, zrck::MechanismParameter(type, tru::Buffer()), *publicTemplate,
                                              *privateTemplate);
        if (pair != nullptr) *pair = made;
    });
}

}  // namespace swtest
