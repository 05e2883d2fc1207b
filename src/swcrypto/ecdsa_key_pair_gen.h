// CKM_EC_KEY_PAIR_GEN computed on the host: the EC utility makes the pair (its token giving every
// random byte) on any of its named curves; both templates are completed with the curve, the
// point and the private value, and the two key objects are built from them. Storing them is the
// session layer's business. Abstract: a subclass chooses the key classes and the EC utility.
#pragma once

#include "objects/curve_key_templates.h"
#include "objects/tok_key_pair_gen_mechanisms.h"

namespace mbt {

class TokECDsaUtl;

class TokECDsaKeyPairGenMechanism : public zrck::TokECDsaKeyPairGenMechanism {
public:
    TokECDsaKeyPairGenMechanism();
    // Keeps nothing between calls.
    void FreeResources() override {}
    // The EC utility whose token gives every random byte.
    virtual TokECDsaUtl& GetECDsaUtl() = 0;

    // Public key first. The curve comes from the public template only (CKR_TEMPLATE_INCOMPLETE
    // without one); the private key's CKA_VALUE is the minimal big-endian private value.
    KeyPair GenerateKeyPair(zrck::MechanismSession& session, const zrck::MechanismParameter& parameter,
                            zrck::AttributeTemplate& publicAttributes,
                            zrck::AttributeTemplate& privateAttributes) override;

protected:
    // The token a request may generate for, after the rules on the two keys' flags and the
    // session: a private key that is not private or a private public key
    // (CKR_ATTRIBUTE_VALUE_INVALID), a token key in a read-only session (CKR_SESSION_READ_ONLY),
    // nobody logged in (CKR_USER_NOT_LOGGED_IN), no token (CKR_DEVICE_REMOVED).
    virtual zrck::ObjectToken& CheckRequest(zrck::MechanismSession& session, const zrck::CurveTemplateFacts& publicFacts,
                                      const zrck::CurveTemplateFacts& privateFacts, bool privateTemplateGiven);
    // The session's token with a user logged in: CKR_DEVICE_REMOVED, CKR_USER_NOT_LOGGED_IN.
    static zrck::ObjectToken& LoggedToken(zrck::MechanismSession& session);
};

} // namespace mbt
