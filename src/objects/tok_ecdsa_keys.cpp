#include "objects/tok_ecdsa_keys.h"

#include "ckbase/exception.h"
#include "objects/object_rules.h"

namespace zrck {

bool TokECDsaPrivateKey::ClassCouldBeCreated(const AttributeTemplate& attributes) {
    return TemplateNamesClass(attributes, CKO_PRIVATE_KEY, CKA_KEY_TYPE, CKK_EC);
}

bool TokECDsaPublicKey::ClassCouldBeCreated(const AttributeTemplate& attributes) {
    return TemplateNamesClass(attributes, CKO_PUBLIC_KEY, CKA_KEY_TYPE, CKK_EC);
}

void TokECDsaPublicKey::InitializeWithAttributes(ObjectToken* token, AttributeTemplate& attributes) {
    SetupAttributes(token, attributes);
    if (!attributes.HasUsageAttributes()) AddDefaultUsageAttributes();
    if (GetECPoint().Empty()) throw Exception(CKR_TEMPLATE_INCOMPLETE);
}

}  // namespace zrck
