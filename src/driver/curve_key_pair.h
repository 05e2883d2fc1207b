// The parts of a curve key-pair generation on the token that ECDSA and DSTU 4145 share: reading
// the two templates, and turning the pair the token made into the two key objects.
#pragma once

#include "ckbase/attribute.h"
#include "objects/curve_key_templates.h"
#include "objects/tok_mechanism.h"

namespace zrck {
class MechanismSession;
class Token;
} // namespace zrck

namespace qel {

class TokenStorage;

using zrck::CurveTemplateFacts;
using zrck::WalkPrivateCurveTemplate;
using zrck::WalkPublicCurveTemplate;

// The files the token filled for a new pair (GenerateKeyPairM); the public ones are 0 when the
// public key is not kept on the token.
struct GeneratedPairFiles {
    long keySlot = 0;
    long privateAttributeFile = 0;
    long publicObjectFile = 0;
    long publicAttributeFile = 0;
};

// Removes a generated pair from the token again (key slot, files, index records); quiet.
void RemoveGeneratedPair(TokenStorage& storage, const GeneratedPairFiles& files);

// Completes both templates (class, key type, curve; the public one also the DER point), sets
// up the two new, empty key objects from them as generated keys (local, generation date,
// generated sensitivity, key generation mechanism, the token's files) and returns the pair.
// When anything fails the pair is removed from the token again, so no key and no file is left.
zrck::TokMechanism::KeyPair BuildGeneratedCurvePair(zrck::MechanismSession& session, zrck::ObjectToken* token,
                                                    TokenStorage& storage, const GeneratedPairFiles& files,
                                                    CK_KEY_TYPE keyType, CK_MECHANISM_TYPE mechanism,
                                                    const tru::Buffer& curve, const tru::Buffer& derPoint,
                                                    bool publicOnToken, zrck::AttributeTemplate& publicAttributes,
                                                    zrck::AttributeTemplate& privateAttributes,
                                                    zrck::TokMechanism::KeyPointer privateKey,
                                                    zrck::TokMechanism::KeyPointer publicKey);

} // namespace qel
