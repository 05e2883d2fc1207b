#include "driver/qel_object_class_factory.h"

#include "driver/qel_token.h"
#include "driver/tok_data_object.h"
#include "driver/tok_x509_certificate.h"

namespace qel {

namespace {
template <class ObjectClass>
void Register(Token* token, CK_OBJECT_CLASS objectClass, CK_ULONG subtype) {
    zrck::ClassRegistrator(token, objectClass, subtype, &ObjectClass::ClassCouldBeCreated,
                           &ObjectClass::GenerateTokObject);
}
}  // namespace

// The key and domain-parameter classes of the algorithm layers join here, one line each, in
// this order: RSA private and public keys, EC private and public keys (host-held on the
// model-flag token, device-held otherwise), DSTU 4145 domain parameters, private and public
// keys, GOST 28147-89 domain parameters and secret keys, Triple-DES secret keys.
void ObjectClassFactory::Create() {
    Register<TokData>(token_, CKO_DATA, 0);
    Register<TokX509Certificate>(token_, CKO_CERTIFICATE, CKC_X_509);
}

}  // namespace qel
