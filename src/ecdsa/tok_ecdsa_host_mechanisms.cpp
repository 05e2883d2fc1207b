#include "ecdsa/tok_ecdsa_host_mechanisms.h"

#include "cryptoki/session_frame.h"
#include "ecdsa/tok_ecdsa_stored_keys.h"

namespace qel {

zrck::TokMechanism::KeyPointer TokECDsaKeyPairGenMechanism::CreatePublicKey()
{
    return KeyPointer(new TokECDsaPublicKey());
}

zrck::TokMechanism::KeyPointer TokECDsaKeyPairGenMechanism::CreatePrivateKey()
{
    return KeyPointer(new TokECDsaPrivateKey());
}

zrck::ObjectToken& TokECDsaKeyPairGenMechanism::CheckRequest(zrck::MechanismSession& session,
                                                       const zrck::CurveTemplateFacts& publicFacts,
                                                       const zrck::CurveTemplateFacts& privateFacts,
                                                       bool privateTemplateGiven)
{
    if (privateTemplateGiven && (!privateFacts.token || !privateFacts.isPrivate)) {
        throw zrck::Exception(CKR_ATTRIBUTE_VALUE_INVALID);
    }
    if (publicFacts.isPrivate) throw zrck::Exception(CKR_ATTRIBUTE_VALUE_INVALID);
    if (session.IsReadOnly()) throw zrck::Exception(CKR_SESSION_READ_ONLY);
    return LoggedToken(session);
}

} // namespace qel
