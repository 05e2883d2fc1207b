#include "driver/qel_object_class_factory.h"

#include "driver/qel_token.h"
#include "driver/qel_token_tables.h"
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

// The key and domain-parameter classes of the algorithm layers follow through their
// registered tables (RegisterTokenTables).
void ObjectClassFactory::Create() { std::call_once(created_, [this] { RegisterAll(); }); }

void ObjectClassFactory::RegisterAll() {
    Register<TokData>(token_, CKO_DATA, 0);
    Register<TokX509Certificate>(token_, CKO_CERTIFICATE, CKC_X_509);
    for (const TokenTables& tables : RegisteredTokenTables()) {
        if (tables.registerClasses != nullptr) tables.registerClasses(token_);
    }
}

}  // namespace qel
